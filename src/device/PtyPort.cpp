#include "PtyPort.h"

#include "PortLink.h"
#include "PortName.h"
#include "ProgramFinder.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// What the port reads ahead of Read, so settings changes are seen even while the engine is not reading.
constexpr std::size_t kStageLimit = 4096;

// Edge-triggered: the device wakes us once per change, never again for bytes we chose to leave waiting.
constexpr std::uint32_t kDeviceEvents = EPOLLIN | EPOLLET;

bool SameTarget(const std::filesystem::path& link, const std::string& target) {
    std::error_code error;
    return std::filesystem::read_symlink(link, error) == target && !error;
}

} // namespace

std::unique_ptr<CVsportax1> MakePtyPort(int controlId, CVsportEvents& events,
                                        const std::string& portDirectory) {
    return std::make_unique<PtyPort>(controlId, events, portDirectory);
}

PtyPort::PtyPort(int controlId, CVsportEvents& events, std::filesystem::path portDirectory)
    : m_id(controlId), m_events(events), m_directory(std::move(portDirectory)),
      m_epoll(epoll_create1(EPOLL_CLOEXEC)) {
    if (m_epoll >= 0) {
        m_watch = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
        connect(m_watch, &QSocketNotifier::activated, this, [this] { OnWatchActivity(); });
    }
    m_pacingTimer.setSingleShot(true);
    m_pacingTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pacingTimer, &QTimer::timeout, this,
            [this] { Raise({[id = m_id](CVsportEvents& e) { e.OnDeviceReady(id); }}); });
}

PtyPort::~PtyPort() {
    {
        std::lock_guard lock(m_mutex);
        ReleaseDevice();
    }
    delete m_watch;
    if (m_epoll >= 0)
        close(m_epoll);
}

int PtyPort::Create(const std::string& name) {
    if (!IsSafePortName(name) || m_epoll < 0)
        return 0;
    std::lock_guard lock(m_mutex);
    if (HoldsDevice())
        return 0;
    const std::filesystem::path link = m_directory / name;
    PortLinkState state = InspectPortLink(link);
    if (state != PortLinkState::Free && state != PortLinkState::Stale)
        return 0;
    std::unique_ptr<PseudoTerminal> pty = PseudoTerminal::Open();
    if (!pty)
        return 0;
    const int openCloseWatch = m_openClose->Add(pty->SlavePath(), [this] { OnWatchActivity(); });
    if (openCloseWatch < 0)
        return 0;
    if (!WatchDevice(pty->MasterFd()) || !PublishPortLink(link, pty->SlavePath())) {
        m_openClose->Remove(openCloseWatch);
        return 0;
    }
    m_pty = std::move(pty);
    m_openCloseWatch = openCloseWatch;
    m_link = link;
    m_settings = ReadLineSettings(m_pty->MasterFd()).value_or(LineSettings{});
    m_toApplication.SetRate(m_settings.baudRate, m_settings.BitsPerCharacter());
    m_fromApplication.SetRate(m_settings.baudRate, m_settings.BitsPerCharacter());
    return 1;
}

int PtyPort::Attach(const std::string& name) {
    if (!IsSafePortName(name) || m_epoll < 0)
        return 0;
    std::lock_guard lock(m_mutex);
    if (HoldsDevice())
        return 0;
    const std::filesystem::path link = m_directory / name;
    if (InspectPortLink(link) != PortLinkState::SerialDevice)
        return 0;
    int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    if (!IsSerialDevice(fd) || !WatchDevice(fd)) {
        close(fd);
        return 0;
    }
    m_serialFd = fd;
    m_opened = true;
    m_settings = ReadLineSettings(fd).value_or(LineSettings{});
    m_toApplication.SetRate(m_settings.baudRate, m_settings.BitsPerCharacter());
    m_fromApplication.SetRate(m_settings.baudRate, m_settings.BitsPerCharacter());
    return 1;
}

int PtyPort::Delete() {
    std::lock_guard lock(m_mutex);
    if (!HoldsDevice())
        return 0;
    ReleaseDevice();
    return 1;
}

bool PtyPort::WatchDevice(int fd) {
    epoll_event event{kDeviceEvents, {}};
    return epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

void PtyPort::ReleaseDevice() {
    if (m_openCloseWatch >= 0)
        m_openClose->Remove(m_openCloseWatch);
    m_openCloseWatch = -1;
    // Closing a descriptor takes it out of the epoll set.
    if (m_pty) {
        // Only our own link goes: someone may have put another in its place.
        if (SameTarget(m_link, m_pty->SlavePath()))
            unlink(m_link.c_str());
        m_pty.reset();
    }
    if (m_serialFd >= 0)
        close(m_serialFd);
    m_serialFd = -1;
    m_opened = m_dtr = m_rts = false;
    m_staged.clear();
    m_deviceEmptied = false;
    m_waitingForRoom = false;
}

int PtyPort::IsPortValid() {
    std::lock_guard lock(m_mutex);
    return HoldsDevice() ? 1 : 0;
}

int PtyPort::SetWiring(int, int, int, int) {
    return 1;
}

int PtyPort::SetStrictBaudRate(int on) {
    std::lock_guard lock(m_mutex);
    if (!HoldsDevice())
        return 0;
    m_strict = on != 0;
    return 1;
}

// The engine asks every port on every pass, so both answers come from what the watch keeps up to date
// rather than from the device: a busy port would otherwise pay system calls for every idle one.
int PtyPort::IsOpened() {
    std::lock_guard lock(m_mutex);
    return m_opened ? 1 : 0;
}

int PtyPort::GetInCount() {
    std::lock_guard lock(m_mutex);
    if (!HoldsDevice())
        return 0;
    int waiting = 0;
    if (!m_deviceEmptied && ioctl(DeviceFd(), FIONREAD, &waiting) != 0)
        waiting = 0;
    return static_cast<int>(std::min<std::size_t>(INT_MAX, m_staged.size() + waiting));
}

int PtyPort::Read(unsigned char* buffer, int length) {
    Events events;
    int copied = 0;
    LinePacer::Clock::duration paceWait{};
    {
        std::lock_guard lock(m_mutex);
        if (!HoldsDevice() || length <= 0)
            return 0;
        if (m_staged.size() < static_cast<std::size_t>(length))
            PullFromDevice(events);
        const auto now = LinePacer::Clock::now();
        const int allowed = m_strict ? m_fromApplication.Available(now) : length;
        copied = std::min({length, allowed, static_cast<int>(m_staged.size())});
        std::copy_n(m_staged.begin(), copied, buffer);
        m_staged.erase(m_staged.begin(), m_staged.begin() + copied);
        if (m_strict) {
            m_fromApplication.Consume(copied);
            if (!m_staged.empty() && copied < length)
                paceWait = m_fromApplication.WaitForRoom(now);
        }
    }
    if (paceWait.count() > 0)
        PaceAgainIn(paceWait);
    RaiseLater(std::move(events));
    return copied;
}

int PtyPort::Write(const unsigned char* data, int length) {
    LinePacer::Clock::duration paceWait{};
    int written = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!HoldsDevice() || !m_opened || length <= 0)
            return 0;
        const auto now = LinePacer::Clock::now();
        const int allowed = m_strict ? std::min(length, m_toApplication.Available(now)) : length;
        if (allowed > 0) {
            ssize_t n;
            do {
                n = write(DeviceFd(), data, allowed);
            } while (n < 0 && errno == EINTR);
            written = n > 0 ? static_cast<int>(n) : 0;
        }
        if (m_strict)
            m_toApplication.Consume(written);
        if (written < length) {
            if (written < allowed)
                WatchWritability(true);
            else
                paceWait = m_toApplication.WaitForRoom(now);
        }
    }
    if (paceWait.count() > 0)
        PaceAgainIn(paceWait);
    return written;
}

void PtyPort::PullFromDevice(Events& out) {
    const bool packets = m_pty != nullptr;
    unsigned char chunk[kStageLimit + 1];
    while (m_staged.size() < kStageLimit) {
        const std::size_t room = kStageLimit - m_staged.size() + (packets ? 1 : 0);
        ssize_t n = read(DeviceFd(), chunk, room);
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: nothing more; EIO: the application closed and everything it wrote has been read.
        // Either way the device holds nothing until its next wake-up.
        if (n <= 0) {
            m_deviceEmptied = n == 0 || errno == EAGAIN || errno == EIO;
            return;
        }
        m_deviceEmptied = false;
        if (!packets) {
            m_staged.insert(m_staged.end(), chunk, chunk + n);
        } else if (chunk[0] == TIOCPKT_DATA) {
            m_staged.insert(m_staged.end(), chunk + 1, chunk + n);
        } else {
            HandleControlPacket(chunk[0], out);
        }
    }
}

void PtyPort::HandleControlPacket(unsigned char status, Events& out) {
    // Flush and stop/start packets need nothing from us: what the application discards is its own input.
    if (!(status & TIOCPKT_IOCTL) || !m_opened)
        return;
    std::optional<LineSettings> now = ReadLineSettings(m_pty->MasterFd());
    if (!now)
        return;
    if (!now->extproc)
        RestoreExtproc(m_pty->MasterFd());
    TakeSettings(*now, out);
}

void PtyPort::TakeSettings(const LineSettings& now, Events& out) {
    const int id = m_id;
    // B0 is a request to hang up, not a rate: it drops DTR as on a real port, and the rate stays.
    const bool hangUp = now.baudRate == 0;
    if (!hangUp && now.baudRate != m_settings.baudRate)
        out.push_back([id, baud = now.baudRate](CVsportEvents& e) { e.OnBaudRate(id, baud); });
    if (!now.SameFraming(m_settings))
        out.push_back(
            [id, now](CVsportEvents& e) { e.OnLineControl(id, now.stopBits, now.parity, now.dataBits); });
    if (!now.SameFlow(m_settings))
        out.push_back(
            [id, now](CVsportEvents& e) { e.OnFlowControl(id, now.Handshake(), now.FlowReplace(), 0, 0); });
    const int keptRate = m_settings.baudRate;
    m_settings = now;
    if (hangUp)
        m_settings.baudRate = keptRate;
    m_toApplication.SetRate(m_settings.baudRate, m_settings.BitsPerCharacter());
    m_fromApplication.SetRate(m_settings.baudRate, m_settings.BitsPerCharacter());
    SetLineOutputs(m_opened && !hangUp, m_opened, out);
}

void PtyPort::SetLineOutputs(bool dtr, bool rts, Events& out) {
    const int id = m_id;
    if (dtr != m_dtr)
        out.push_back([id, dtr](CVsportEvents& e) { e.OnDTR(id, dtr ? 1 : 0); });
    if (rts != m_rts)
        out.push_back([id, rts](CVsportEvents& e) { e.OnRTS(id, rts ? 1 : 0); });
    m_dtr = dtr;
    m_rts = rts;
}

void PtyPort::UpdateOpenState(Events& out) {
    if (!m_pty)
        return;
    const bool held = m_pty->IsHeldByApplication();
    if (held == m_opened)
        return;
    const int id = m_id;
    m_opened = held;
    if (held) {
        ++m_openCount;
        out.push_back([id](CVsportEvents& e) { e.OnOpenClose(id, 1); });
        std::optional<LineSettings> now = ReadLineSettings(m_pty->MasterFd());
        if (now && !now->extproc)
            RestoreExtproc(m_pty->MasterFd());
        TakeSettings(now.value_or(m_settings), out);
        return;
    }
    m_pty->ResetForNextApplication();
    WatchWritability(false);
    SetLineOutputs(false, false, out);
    out.push_back([id](CVsportEvents& e) { e.OnOpenClose(id, 0); });
}

void PtyPort::WatchWritability(bool on) {
    if (on == m_waitingForRoom || !HoldsDevice())
        return;
    m_waitingForRoom = on;
    epoll_event event{kDeviceEvents | (on ? EPOLLOUT : 0u), {}};
    epoll_ctl(m_epoll, EPOLL_CTL_MOD, DeviceFd(), &event);
}

void PtyPort::OnWatchActivity() {
    epoll_event ready[4];
    const int count = epoll_wait(m_epoll, ready, 4, 0);
    Events events;
    bool hasWork = false;
    {
        std::lock_guard lock(m_mutex);
        for (int i = 0; i < count && HoldsDevice(); ++i) {
            if ((ready[i].events & EPOLLOUT) && m_waitingForRoom) {
                WatchWritability(false);
                hasWork = true;
            }
            if (ready[i].events & EPOLLIN) {
                const std::size_t before = m_staged.size();
                PullFromDevice(events);
                hasWork = hasWork || m_staged.size() > before;
            }
        }
        UpdateOpenState(events);
    }
    if (hasWork)
        events.push_back([id = m_id](CVsportEvents& e) { e.OnDeviceReady(id); });
    Raise(events);
}

void PtyPort::Raise(const Events& events) {
    for (const auto& raise : events)
        raise(m_events);
}

void PtyPort::RaiseLater(Events&& events) {
    // Events found inside a data operation wait until the caller has returned to the event loop.
    if (events.empty())
        return;
    QMetaObject::invokeMethod(
        this, [this, events = std::move(events)] { Raise(events); }, Qt::QueuedConnection);
}

void PtyPort::PaceAgainIn(LinePacer::Clock::duration wait) {
    const int ms = std::max<int>(1, std::chrono::ceil<std::chrono::milliseconds>(wait).count());
    if (!m_pacingTimer.isActive() || m_pacingTimer.remainingTime() > ms)
        m_pacingTimer.start(ms);
}

// A pseudo-terminal has no modem input lines to present, and a linked serial device's inputs are driven by
// what is attached to it: there is nothing to set. The engine keeps the levels for display.
int PtyPort::SetDSR(int) {
    return 1;
}
int PtyPort::SetCTS(int) {
    return 1;
}
int PtyPort::SetDCD(int) {
    return 1;
}
int PtyPort::SetRING(int) {
    return 1;
}

LineSettings PtyPort::CurrentSettings() const {
    std::lock_guard lock(m_mutex);
    // A linked serial device is configured by whoever uses it: always ask the device.
    if (m_serialFd >= 0)
        return ReadLineSettings(m_serialFd).value_or(m_settings);
    return m_settings;
}

int PtyPort::GetBaudRate() {
    return CurrentSettings().baudRate;
}

int PtyPort::GetDataBits() {
    return CurrentSettings().dataBits;
}

int PtyPort::GetParity() {
    return CurrentSettings().parity;
}

int PtyPort::GetStopBits() {
    return CurrentSettings().stopBits;
}

int PtyPort::GetHandshake() {
    return CurrentSettings().Handshake();
}

int PtyPort::GetFlowReplace() {
    return CurrentSettings().FlowReplace();
}

int PtyPort::ModemLines() const {
    int lines = 0;
    if (ioctl(m_serialFd, TIOCMGET, &lines) != 0)
        return 0;
    return lines;
}

int PtyPort::GetRTS() {
    std::lock_guard lock(m_mutex);
    if (m_serialFd >= 0)
        return (ModemLines() & TIOCM_RTS) ? 1 : 0;
    return m_rts ? 1 : 0;
}

int PtyPort::GetDTR() {
    std::lock_guard lock(m_mutex);
    if (m_serialFd >= 0)
        return (ModemLines() & TIOCM_DTR) ? 1 : 0;
    return m_dtr ? 1 : 0;
}

std::string PtyPort::GetProgramName() {
    unsigned open;
    dev_t device;
    {
        std::lock_guard lock(m_mutex);
        if (!m_pty || !m_opened)
            return {};
        if (m_programNameOpen == m_openCount)
            return m_programName;
        open = m_openCount;
        device = m_pty->SlaveDevice();
    }
    std::string name = FindProgramHolding(device);
    std::lock_guard lock(m_mutex);
    if (open == m_openCount && m_opened) {
        m_programNameOpen = open;
        m_programName = name;
    }
    return name;
}
