#include "PortTestSupport.h"

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int RecordingEvents::Count(const PortEvent& event) const {
    return static_cast<int>(std::count(log.begin(), log.end(), event));
}

int RecordingEvents::CountKind(const std::string& kind) const {
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](const PortEvent& e) { return e.kind == kind; }));
}

void RecordingEvents::Add(int id, PortEvent event) {
    if (std::this_thread::get_id() != m_thread)
        raisedOffThread = true;
    ids.push_back(id);
    log.push_back(std::move(event));
}

Application::Application(const std::string& path)
    : m_fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}

Application::~Application() {
    Close();
}

void Application::Close() {
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

bool Application::MakeRaw(unsigned speed, unsigned extraCflag, unsigned extraIflag) {
    termios tio{};
    if (tcgetattr(m_fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    // Many serial programs clear every local flag, EXTPROC included.
    tio.c_lflag = 0;
    tio.c_cflag |= CLOCAL | CREAD | extraCflag;
    tio.c_iflag |= extraIflag;
    cfsetspeed(&tio, speed);
    return tcsetattr(m_fd, TCSANOW, &tio) == 0;
}

bool Application::Send(const std::string& bytes) {
    std::size_t sent = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sent < bytes.size() && std::chrono::steady_clock::now() < deadline) {
        ssize_t n = write(m_fd, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd pfd{m_fd, POLLOUT, 0};
            poll(&pfd, 1, 10);
        }
    }
    return sent == bytes.size();
}

std::string Application::Receive(std::size_t count, std::chrono::milliseconds timeout) {
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
        // The port is driven from this thread's event loop, so keep it turning while we wait.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        char buffer[4096];
        ssize_t n = read(m_fd, buffer, std::min(sizeof buffer, count - received.size()));
        if (n > 0) {
            received.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        pollfd pfd{m_fd, POLLIN, 0};
        poll(&pfd, 1, 1);
    }
    return received;
}

int Application::Waiting() const {
    int waiting = 0;
    ioctl(m_fd, FIONREAD, &waiting);
    return waiting;
}

std::string AllByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    return bytes;
}
