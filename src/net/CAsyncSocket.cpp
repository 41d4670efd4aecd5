#include "CAsyncSocket.h"

#include <QObject>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

// A notifier may be closed from inside its own activation, so it is never deleted on the spot.
struct DeleteLater {
    void operator()(QSocketNotifier* notifier) const {
        notifier->setEnabled(false);
        QObject::disconnect(notifier, nullptr, nullptr, nullptr);
        notifier->deleteLater();
    }
};
using NotifierPtr = std::unique_ptr<QSocketNotifier, DeleteLater>;

bool IsWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

struct CAsyncSocket::Watch {
    NotifierPtr read;
    NotifierPtr write;
    NotifierPtr exception;
    int type = 0;
    bool listening = false;
    bool connecting = false;
    bool connected = false;
    bool closeNotified = false;
    // Armed notifications are given once, then wait for the call that re-arms them.
    bool readArmed = true;
    bool writeArmed = false;
    bool outOfBandArmed = true;
    // The read notifier stays on while its owner keeps reading, since switching it off and on for
    // every read costs the event loop more than the read itself; it is switched off only when it
    // fires again before the owner has read.
    bool readParked = false;

    // A stream socket that is neither connected nor listening polls as hung up; it must not look
    // readable to its owner.
    void Update() {
        const bool stream = type == SOCK_STREAM;
        read->setEnabled(!closeNotified && !readParked && (!stream || listening || connected));
        write->setEnabled(!closeNotified && writeArmed);
        exception->setEnabled(!closeNotified && outOfBandArmed && stream && connected);
    }

    // Takes the read notification that is due; false (and the notifier parked) if none is.
    bool TakeReadNotification() {
        if (!readArmed) {
            readParked = true;
            Update();
            return false;
        }
        readArmed = false;
        return true;
    }

    void RearmRead() {
        readArmed = true;
        if (readParked) {
            readParked = false;
            Update();
        }
    }
};

CAsyncSocket::CAsyncSocket() = default;

CAsyncSocket::~CAsyncSocket() {
    Close();
}

bool CAsyncSocket::Create(int family, int type, int protocol) {
    Close();
    const int descriptor = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (descriptor < 0) {
        m_lastError = errno;
        return false;
    }
    return Attach(descriptor);
}

bool CAsyncSocket::Attach(int descriptor) {
    Close();
    const int flags = ::fcntl(descriptor, F_GETFL);
    int type = 0;
    int listening = 0;
    socklen_t optionLength = sizeof type;
    if (flags < 0 || ::fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) < 0 ||
        ::fcntl(descriptor, F_SETFD, FD_CLOEXEC) < 0 ||
        ::getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &type, &optionLength) < 0) {
        m_lastError = errno;
        return false;
    }
    optionLength = sizeof listening;
    ::getsockopt(descriptor, SOL_SOCKET, SO_ACCEPTCONN, &listening, &optionLength);
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    const bool connected = ::getpeername(descriptor, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0;

    m_fd = descriptor;
    m_lastError = 0;
    m_watch = std::make_unique<Watch>();
    m_watch->type = type;
    m_watch->listening = listening != 0;
    m_watch->connected = connected;
    m_watch->read.reset(new QSocketNotifier(descriptor, QSocketNotifier::Read));
    m_watch->write.reset(new QSocketNotifier(descriptor, QSocketNotifier::Write));
    m_watch->exception.reset(new QSocketNotifier(descriptor, QSocketNotifier::Exception));

    // Each handler settles the socket's own state before calling out, and touches nothing after: the
    // owner may close or even destroy this socket from inside a notification.
    QObject::connect(m_watch->read.get(), &QSocketNotifier::activated, [this] {
        Watch& watch = *m_watch;
        if (watch.listening) {
            if (watch.TakeReadNotification())
                OnAccept(0);
            return;
        }
        if (watch.type != SOCK_STREAM) {
            if (watch.TakeReadNotification())
                OnReceive(0);
            return;
        }
        // Readable stream: data, an orderly close, or a pending error, told apart by a peek.
        char probe;
        const ssize_t peeked = ::recv(m_fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (peeked > 0) {
            if (watch.TakeReadNotification())
                OnReceive(0);
            return;
        }
        const int error = peeked == 0 ? 0 : errno;
        if (peeked < 0 && (IsWouldBlock(error) || error == EINTR))
            return;
        watch.closeNotified = true;
        watch.Update();
        OnClose(error);
    });
    QObject::connect(m_watch->write.get(), &QSocketNotifier::activated, [this] {
        Watch& watch = *m_watch;
        if (watch.connecting) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
                error = errno;
            watch.connecting = false;
            watch.connected = error == 0;
            // After a good connect the write notification stays armed: the socket is writable.
            watch.writeArmed = error == 0;
            watch.Update();
            OnConnect(error);
            return;
        }
        watch.writeArmed = false;
        watch.Update();
        OnSend(0);
    });
    QObject::connect(m_watch->exception.get(), &QSocketNotifier::activated, [this] {
        m_watch->outOfBandArmed = false;
        m_watch->Update();
        OnOutOfBandData(0);
    });
    m_watch->Update();
    return true;
}

bool CAsyncSocket::Bind(const sockaddr* address, socklen_t length) {
    if (::bind(m_fd, address, length) < 0) {
        m_lastError = errno;
        return false;
    }
    return true;
}

bool CAsyncSocket::Listen(int backlog) {
    if (::listen(m_fd, backlog) < 0) {
        m_lastError = errno;
        return false;
    }
    m_watch->listening = true;
    m_watch->readArmed = true;
    m_watch->readParked = false;
    m_watch->Update();
    return true;
}

bool CAsyncSocket::Connect(const sockaddr* address, socklen_t length) {
    if (!IsOpen()) {
        m_lastError = EBADF;
        return false;
    }
    if (::connect(m_fd, address, length) < 0 && errno != EINPROGRESS) {
        m_lastError = errno;
        return false;
    }
    m_watch->connecting = true;
    m_watch->writeArmed = true;
    m_watch->Update();
    return true;
}

bool CAsyncSocket::Accept(CAsyncSocket& into, sockaddr* address, socklen_t* length) {
    if (!IsOpen()) {
        m_lastError = EBADF;
        return false;
    }
    if (into.IsOpen()) {
        m_lastError = EISCONN;
        return false;
    }
    const int descriptor = ::accept4(m_fd, address, length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int error = errno;
    m_watch->RearmRead();
    if (descriptor < 0) {
        m_lastError = error;
        return false;
    }
    if (!into.Attach(descriptor)) {
        m_lastError = into.LastError();
        ::close(descriptor);
        return false;
    }
    return true;
}

int CAsyncSocket::Receive(void* buffer, int length, int flags) {
    return ReceiveFrom(buffer, length, nullptr, nullptr, flags);
}

int CAsyncSocket::ReceiveFrom(void* buffer, int length, sockaddr* from, socklen_t* fromLength, int flags) {
    if (!IsOpen()) {
        m_lastError = EBADF;
        return -1;
    }
    const ssize_t received = ::recvfrom(m_fd, buffer, length, flags, from, fromLength);
    const int error = errno;
    m_watch->RearmRead();
    if (flags & MSG_OOB) {
        m_watch->outOfBandArmed = true;
        m_watch->Update();
    }
    if (received < 0) {
        m_lastError = error;
        return -1;
    }
    return static_cast<int>(received);
}

int CAsyncSocket::Send(const void* data, int length, int flags) {
    return SendTo(data, length, nullptr, 0, flags);
}

int CAsyncSocket::SendTo(const void* data, int length, const sockaddr* to, socklen_t toLength, int flags) {
    if (!IsOpen()) {
        m_lastError = EBADF;
        return -1;
    }
    // A peer that went away must give EPIPE, not kill the program with SIGPIPE.
    const ssize_t sent = ::sendto(m_fd, data, length, flags | MSG_NOSIGNAL, to, toLength);
    if (sent < 0) {
        m_lastError = errno;
        if (IsWouldBlock(m_lastError)) {
            m_watch->writeArmed = true;
            m_watch->Update();
        }
        return -1;
    }
    return static_cast<int>(sent);
}

bool CAsyncSocket::SetOption(int level, int name, int value) {
    if (::setsockopt(m_fd, level, name, &value, sizeof value) < 0) {
        m_lastError = errno;
        return false;
    }
    return true;
}

void CAsyncSocket::Close() {
    if (m_fd < 0)
        return;
    // The notifiers go first, so none is left watching a descriptor number the system may reuse.
    m_watch.reset();
    ::close(m_fd);
    m_fd = -1;
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}
