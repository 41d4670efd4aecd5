#pragma once

#include <memory>
#include <string>
#include <sys/types.h>

// The master side of a pseudo-terminal pair that applications reach through its slave. The slave is
// never held open here: an open slave descriptor of our own would hide the application's hang-up.
class PseudoTerminal {
public:
    // A fresh pair in packet mode, its slave raw (see ApplyRawDefaults) and already opened and closed once,
    // so that "no application" shows as a hang-up from the start. nullptr with errno set on failure.
    static std::unique_ptr<PseudoTerminal> Open();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int MasterFd() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }
    dev_t SlaveDevice() const { return m_slaveDevice; }

    // An application holds the slave open.
    bool IsHeldByApplication() const;
    // After an application closed: drops what it left unread and restores the raw defaults, so the next
    // application starts clean.
    void ResetForNextApplication();

private:
    PseudoTerminal(int master, std::string slavePath, dev_t slaveDevice);
    bool FlushSlaveInput();

    int m_master;
    std::string m_slavePath;
    dev_t m_slaveDevice;
};

// Device numbers of pseudo-terminal slaves.
bool IsPseudoTerminalSlave(dev_t device);
// An open descriptor of a serial device driver (one that answers the serial-port query).
bool IsSerialDevice(int fd);
