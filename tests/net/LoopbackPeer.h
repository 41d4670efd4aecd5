#pragma once

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// The far end of a link in tests: a plain non-blocking socket on a loopback address, used without the
// program's own socket classes so that it checks them from the outside.
class LoopbackPeer {
public:
    LoopbackPeer() = default;
    explicit LoopbackPeer(int fd) : m_fd(fd) {}
    LoopbackPeer(LoopbackPeer&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    LoopbackPeer& operator=(LoopbackPeer&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~LoopbackPeer() { Close(); }

    int Fd() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    static sockaddr_storage Address(const std::string& host, int port, socklen_t& length) {
        sockaddr_storage storage{};
        if (host.find(':') != std::string::npos) {
            auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&storage);
            ipv6->sin6_family = AF_INET6;
            ipv6->sin6_port = htons(port);
            ::inet_pton(AF_INET6, host.c_str(), &ipv6->sin6_addr);
            length = sizeof(sockaddr_in6);
        } else {
            auto* ipv4 = reinterpret_cast<sockaddr_in*>(&storage);
            ipv4->sin_family = AF_INET;
            ipv4->sin_port = htons(port);
            ::inet_pton(AF_INET, host.c_str(), &ipv4->sin_addr);
            length = sizeof(sockaddr_in);
        }
        return storage;
    }

    // A socket bound to host:port (0 picks a free port); a stream socket also listens.
    static LoopbackPeer Bound(const std::string& host, int type, int port = 0, int receiveBuffer = 0) {
        socklen_t length = 0;
        const sockaddr_storage address = Address(host, port, length);
        LoopbackPeer peer(::socket(address.ss_family, type | SOCK_NONBLOCK, 0));
        if (receiveBuffer > 0)
            ::setsockopt(peer.m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (::bind(peer.m_fd, reinterpret_cast<const sockaddr*>(&address), length) < 0 ||
            (type == SOCK_STREAM && ::listen(peer.m_fd, 4) < 0))
            peer.Close();
        return peer;
    }

    // A stream connection to host:port; the connect finishes in the background.
    static LoopbackPeer Connected(const std::string& host, int port) {
        socklen_t length = 0;
        const sockaddr_storage address = Address(host, port, length);
        LoopbackPeer peer(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK, 0));
        if (::connect(peer.m_fd, reinterpret_cast<const sockaddr*>(&address), length) < 0 &&
            errno != EINPROGRESS)
            peer.Close();
        return peer;
    }

    // A port number that is free for TCP on both 127.0.0.1 and ::1 at the moment of asking.
    static int FreePort() {
        for (;;) {
            LoopbackPeer ipv4 = Bound("127.0.0.1", SOCK_STREAM);
            const int port = ipv4.LocalPort();
            LoopbackPeer ipv6 = Bound("::1", SOCK_STREAM, port);
            if (ipv6.IsOpen())
                return port;
        }
    }

    int LocalPort() const {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        return address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                                             : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }

    LoopbackPeer Accept() const { return LoopbackPeer(::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK)); }

    bool Send(const std::string& text) const { return SendBytes(text.data(), text.size()); }
    bool SendBytes(const void* data, std::size_t length) const {
        return ::send(m_fd, data, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
    }
    bool SendTo(const std::vector<unsigned char>& data, const std::string& host, int port) const {
        socklen_t length = 0;
        const sockaddr_storage address = Address(host, port, length);
        return ::sendto(m_fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                        length) == static_cast<ssize_t>(data.size());
    }

    // Appends what is available now, up to `limit` bytes; false once the other side has closed.
    bool ReadAvailable(std::vector<unsigned char>& into, std::size_t limit = SIZE_MAX) const {
        unsigned char buffer[65536];
        for (std::size_t taken = 0; taken < limit;) {
            const ssize_t n = ::recv(m_fd, buffer, std::min(sizeof buffer, limit - taken), 0);
            if (n <= 0)
                return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            into.insert(into.end(), buffer, buffer + n);
            taken += n;
        }
        return true;
    }

    // One datagram, or an empty vector when none waits; the sender's port goes to `fromPort`.
    std::vector<unsigned char> ReceiveDatagram(int* fromPort = nullptr) const {
        std::vector<unsigned char> buffer(65536);
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        buffer.resize(n > 0 ? n : 0);
        if (fromPort)
            *fromPort = from.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&from)->sin6_port)
                                                   : ntohs(reinterpret_cast<sockaddr_in*>(&from)->sin_port);
        return buffer;
    }

private:
    int m_fd = -1;
};
