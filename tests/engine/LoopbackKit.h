#pragma once

#include "OwnedFd.h"
#include "SocketAddress.h"
#include "WaitFor.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

// The outside of a port in tests, used as the world uses it: a serial application on the port's link and
// plain sockets on 127.0.0.1 as network peers. Nothing here uses the program's own classes.

class Descriptor : public OwnedFd {
public:
    using OwnedFd::OwnedFd;

    bool Send(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(Fd(), bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            else
                QCoreApplication::processEvents();
        }
        return true;
    }
    // Appends what can be read now; false once the other side has closed.
    bool ReadAvailable(std::string& into) const {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(Fd(), buffer, sizeof buffer);
            if (n > 0) {
                into.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EIO);
        }
    }
    // Reads until `count` bytes arrived or the deadline passed, running the event loop meanwhile.
    std::string Receive(std::size_t count, int timeoutMs = 5000) const {
        std::string received;
        WaitFor(
            [&] {
                ReadAvailable(received);
                return received.size() >= count;
            },
            timeoutMs);
        return received;
    }
    // True when the other side closed within the deadline.
    bool WaitClosed(int timeoutMs = 5000) const {
        std::string ignored;
        return WaitFor([&] { return !ReadAvailable(ignored); }, timeoutMs);
    }
};

// A TCP listener on 127.0.0.1 (port 0 picks a free one).
inline Descriptor ListenOn(int port = 0) {
    Descriptor listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    const int on = 1;
    ::setsockopt(listener.Fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = 0;
    const sockaddr_storage address = SocketAddress("127.0.0.1", port, length);
    if (::bind(listener.Fd(), reinterpret_cast<const sockaddr*>(&address), length) < 0 ||
        ::listen(listener.Fd(), 4) < 0)
        listener.Close();
    return listener;
}

// Waits for a connection on the listener; a closed descriptor when none came in time.
inline Descriptor AcceptFrom(const Descriptor& listener, int timeoutMs = 5000) {
    Descriptor accepted;
    WaitFor(
        [&] {
            accepted = Descriptor(::accept4(listener.Fd(), nullptr, nullptr, SOCK_NONBLOCK));
            return accepted.IsOpen();
        },
        timeoutMs);
    return accepted;
}

// A TCP connection to 127.0.0.1:port, made while the event loop runs.
inline Descriptor ConnectTo(int port) {
    Descriptor peer(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    socklen_t length = 0;
    const sockaddr_storage address = SocketAddress("127.0.0.1", port, length);
    ::connect(peer.Fd(), reinterpret_cast<const sockaddr*>(&address), length);
    return peer;
}

// A port number nobody listens on at the moment of asking.
inline int FreeTcpPort() {
    Descriptor probe = ListenOn(0);
    return LocalPortOf(probe.Fd());
}

// A UDP socket bound to 127.0.0.1 (port 0 picks a free one).
inline Descriptor UdpOn(int port = 0) {
    Descriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0));
    socklen_t length = 0;
    const sockaddr_storage address = SocketAddress("127.0.0.1", port, length);
    if (::bind(socket.Fd(), reinterpret_cast<const sockaddr*>(&address), length) < 0)
        socket.Close();
    return socket;
}

inline bool SendDatagram(const Descriptor& socket, const std::string& bytes, int port) {
    socklen_t length = 0;
    const sockaddr_storage address = SocketAddress("127.0.0.1", port, length);
    return ::sendto(socket.Fd(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                    length) == static_cast<ssize_t>(bytes.size());
}

// A serial application: opens the port's link as a terminal program does and sets it raw.
inline Descriptor OpenSerial(const std::string& path) {
    Descriptor serial(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (serial.IsOpen()) {
        termios settings{};
        ::tcgetattr(serial.Fd(), &settings);
        ::cfmakeraw(&settings);
        ::cfsetspeed(&settings, B115200);
        ::tcsetattr(serial.Fd(), TCSANOW, &settings);
    }
    return serial;
}

// The whole content of a file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    std::string text;
    Descriptor file(::open(path.c_str(), O_RDONLY));
    if (!file.IsOpen())
        return text;
    char buffer[65536];
    for (ssize_t n; (n = ::read(file.Fd(), buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}
