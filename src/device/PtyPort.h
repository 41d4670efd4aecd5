#pragma once

#include "CVsportax1.h"
#include "LinePacer.h"
#include "LineSettings.h"
#include "OpenCloseWatch.h"
#include "PseudoTerminal.h"

#include <QObject>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <mutex>
#include <vector>

class QSocketNotifier;

// A virtual port on a pseudo-terminal pair (Create), or a physical serial device the user linked into the
// port directory (Attach). Applications open the link `<port directory>/<name>`.
//
// The device sits in an epoll set watched by a notifier made at construction, and opens and closes come
// from the program's shared OpenCloseWatch: operations on a job thread then only add and remove watches,
// never notifiers, and an idle port costs nothing. Events are raised on the object's own thread.
class PtyPort final : public QObject, public CVsportax1 {
public:
    PtyPort(int controlId, CVsportEvents& events, std::filesystem::path portDirectory);
    ~PtyPort() override;

    int Create(const std::string& name) override;
    int Attach(const std::string& name) override;
    int Delete() override;
    int IsPortValid() override;
    int SetWiring(int a, int b, int c, int d) override;
    int SetStrictBaudRate(int on) override;
    int IsOpened() override;
    int GetInCount() override;
    int Read(unsigned char* buffer, int length) override;
    int Write(const unsigned char* data, int length) override;
    int SetDSR(int level) override;
    int SetCTS(int level) override;
    int SetDCD(int level) override;
    int SetRING(int level) override;
    int GetBaudRate() override;
    int GetDataBits() override;
    int GetParity() override;
    int GetStopBits() override;
    int GetHandshake() override;
    int GetFlowReplace() override;
    int GetRTS() override;
    int GetDTR() override;
    std::string GetProgramName() override;

private:
    using Events = std::vector<std::function<void(CVsportEvents&)>>;

    // Called with m_mutex held.
    bool HoldsDevice() const { return m_pty || m_serialFd >= 0; }
    int DeviceFd() const { return m_pty ? m_pty->MasterFd() : m_serialFd; }
    bool WatchDevice(int fd);
    void ReleaseDevice();
    void PullFromDevice(Events& out);
    void HandleControlPacket(unsigned char status, Events& out);
    void UpdateOpenState(Events& out);
    void TakeSettings(const LineSettings& now, Events& out);
    void SetLineOutputs(bool dtr, bool rts, Events& out);
    void WatchWritability(bool on);
    int ModemLines() const;

    // Takes m_mutex itself.
    LineSettings CurrentSettings() const;

    // Object thread, m_mutex not held.
    void OnWatchActivity();
    void Raise(const Events& events);
    void RaiseLater(Events&& events);
    void PaceAgainIn(LinePacer::Clock::duration wait);

    const int m_id;
    CVsportEvents& m_events;
    const std::filesystem::path m_directory;
    int m_epoll = -1;
    QSocketNotifier* m_watch = nullptr;
    const std::shared_ptr<OpenCloseWatch> m_openClose = OpenCloseWatch::Shared();
    QTimer m_pacingTimer;

    mutable std::mutex m_mutex;
    std::unique_ptr<PseudoTerminal> m_pty;
    int m_openCloseWatch = -1;
    int m_serialFd = -1;
    std::filesystem::path m_link;
    bool m_opened = false;
    bool m_dtr = false;
    bool m_rts = false;
    LineSettings m_settings;
    bool m_strict = false;
    LinePacer m_toApplication;
    LinePacer m_fromApplication;
    std::vector<unsigned char> m_staged; // read from the device, not yet handed out by Read
    bool m_deviceEmptied = false;        // the last read found the device empty
    bool m_waitingForRoom = false;
    unsigned m_openCount = 0;
    unsigned m_programNameOpen = 0; // the open m_programName belongs to; 0 = none yet
    std::string m_programName;
};
