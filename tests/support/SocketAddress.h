#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

// host:port for a numeric IPv4 or IPv6 host; `length` receives the size to pass with it.
inline sockaddr_storage SocketAddress(const std::string& host, int port, socklen_t& length) {
    sockaddr_storage storage{};
    if (host.find(':') != std::string::npos) {
        auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&storage);
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET6, host.c_str(), &ipv6->sin6_addr);
        length = sizeof(sockaddr_in6);
    } else {
        auto* ipv4 = reinterpret_cast<sockaddr_in*>(&storage);
        ipv4->sin_family = AF_INET;
        ipv4->sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, host.c_str(), &ipv4->sin_addr);
        length = sizeof(sockaddr_in);
    }
    return storage;
}

inline int PortOf(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port)
                                         : ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

// The port a socket is bound to.
inline int LocalPortOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return PortOf(address);
}
