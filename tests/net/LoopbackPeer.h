#pragma once

#include "OwnedFd.h"
#include "SocketAddress.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <sys/socket.h>
#include <vector>

// The far end of a link in tests: a plain non-blocking socket on a loopback address, used without the
// program's own socket classes so that it checks them from the outside.
class LoopbackPeer : public OwnedFd {
public:
    using OwnedFd::OwnedFd;

    // A socket bound to host:port (0 picks a free port); a stream socket also listens.
    static LoopbackPeer Bound(const std::string& host, int type, int port = 0, int receiveBuffer = 0) {
        socklen_t length = 0;
        const sockaddr_storage address = SocketAddress(host, port, length);
        LoopbackPeer peer(::socket(address.ss_family, type | SOCK_NONBLOCK, 0));
        if (receiveBuffer > 0)
            ::setsockopt(peer.Fd(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        if (::bind(peer.Fd(), reinterpret_cast<const sockaddr*>(&address), length) < 0 ||
            (type == SOCK_STREAM && ::listen(peer.Fd(), 4) < 0))
            peer.Close();
        return peer;
    }

    // A stream connection to host:port; the connect finishes in the background.
    static LoopbackPeer Connected(const std::string& host, int port) {
        socklen_t length = 0;
        const sockaddr_storage address = SocketAddress(host, port, length);
        LoopbackPeer peer(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK, 0));
        if (::connect(peer.Fd(), reinterpret_cast<const sockaddr*>(&address), length) < 0 &&
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

    int LocalPort() const { return LocalPortOf(Fd()); }

    LoopbackPeer Accept() const { return LoopbackPeer(::accept4(Fd(), nullptr, nullptr, SOCK_NONBLOCK)); }

    bool Send(const std::string& text) const { return SendBytes(text.data(), text.size()); }
    bool SendBytes(const void* data, std::size_t length) const {
        return ::send(Fd(), data, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
    }
    bool SendTo(const std::vector<unsigned char>& data, const std::string& host, int port) const {
        socklen_t length = 0;
        const sockaddr_storage address = SocketAddress(host, port, length);
        return ::sendto(Fd(), data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                        length) == static_cast<ssize_t>(data.size());
    }

    // Appends what is available now, up to `limit` bytes; false once the other side has closed.
    bool ReadAvailable(std::vector<unsigned char>& into, std::size_t limit = SIZE_MAX) const {
        unsigned char buffer[65536];
        for (std::size_t taken = 0; taken < limit;) {
            const ssize_t n = ::recv(Fd(), buffer, std::min(sizeof buffer, limit - taken), 0);
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
        const ssize_t n = ::recvfrom(Fd(), buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        buffer.resize(n > 0 ? n : 0);
        if (fromPort)
            *fromPort = PortOf(from);
        return buffer;
    }
};
