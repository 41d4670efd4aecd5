#include "CSignalWatcher.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

int CSignalWatcher::s_writeDescriptor = -1;

namespace {

const int WATCHED_SIGNALS[] = {SIGTERM, SIGINT};

} // namespace

CSignalWatcher::CSignalWatcher(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    s_writeDescriptor = m_pipe[1];
    m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { Drain(); });
    struct sigaction action {};
    action.sa_handler = &CSignalWatcher::Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : WATCHED_SIGNALS)
        sigaction(signalNumber, &action, nullptr);
}

CSignalWatcher::~CSignalWatcher() {
    for (int signalNumber : WATCHED_SIGNALS)
        std::signal(signalNumber, SIG_DFL);
    s_writeDescriptor = -1;
    m_notifier.reset();
    for (int descriptor : m_pipe) {
        if (descriptor >= 0)
            ::close(descriptor);
    }
}

void CSignalWatcher::Handler(int signalNumber) {
    int savedErrno = errno;
    unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (s_writeDescriptor >= 0) {
        // A full pipe already holds a wake-up; nothing else can be done inside a handler.
        ssize_t written = ::write(s_writeDescriptor, &byte, 1);
        (void)written;
    }
    errno = savedErrno;
}

void CSignalWatcher::Drain() {
    unsigned char byte;
    while (::read(m_pipe[0], &byte, 1) == 1)
        m_onSignal(byte);
}
