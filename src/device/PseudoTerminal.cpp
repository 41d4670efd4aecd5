#include "PseudoTerminal.h"

#include "LineSettings.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Opens the slave through the master, which works even when the slave node is not reachable by path.
int OpenSlaveThroughMaster(int master) {
    return ioctl(master, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_NONBLOCK);
}

} // namespace

std::unique_ptr<PseudoTerminal> PseudoTerminal::Open() {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        return nullptr;
    int on = 1;
    char* slaveName = nullptr;
    struct stat slaveStat {};
    bool ok = grantpt(master) == 0 && unlockpt(master) == 0 && ioctl(master, TIOCPKT, &on) == 0 &&
              ApplyRawDefaults(master) && (slaveName = ptsname(master)) != nullptr &&
              stat(slaveName, &slaveStat) == 0;
    if (!ok) {
        int error = errno;
        close(master);
        errno = error;
        return nullptr;
    }
    std::unique_ptr<PseudoTerminal> pty(new PseudoTerminal(master, slaveName, slaveStat.st_rdev));
    if (!pty->FlushSlaveInput())
        return nullptr;
    return pty;
}

PseudoTerminal::PseudoTerminal(int master, std::string slavePath, dev_t slaveDevice)
    : m_master(master), m_slavePath(std::move(slavePath)), m_slaveDevice(slaveDevice) {}

PseudoTerminal::~PseudoTerminal() {
    close(m_master);
}

bool PseudoTerminal::IsHeldByApplication() const {
    pollfd pfd{m_master, 0, 0};
    return poll(&pfd, 1, 0) >= 0 && !(pfd.revents & POLLHUP);
}

void PseudoTerminal::ResetForNextApplication() {
    FlushSlaveInput();
    ApplyRawDefaults(m_master);
}

bool PseudoTerminal::FlushSlaveInput() {
    int slave = OpenSlaveThroughMaster(m_master);
    if (slave < 0)
        return false;
    tcflush(slave, TCIFLUSH);
    close(slave);
    return true;
}

bool IsPseudoTerminalSlave(dev_t device) {
    // UNIX98 pseudo-terminal slaves use the majors 136 to 143.
    unsigned int maj = major(device);
    return maj >= 136 && maj <= 143;
}

bool IsSerialDevice(int fd) {
    serial_struct info{};
    return ioctl(fd, TIOCGSERIAL, &info) == 0;
}
