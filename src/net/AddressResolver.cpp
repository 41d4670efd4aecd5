#include "AddressResolver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netinet/in.h>

int ResolveAddress(const AddressQuery& query, ResolvedAddress& result) {
    if (query.port < 0 || query.port > 65535)
        return EAI_SERVICE;
    addrinfo hints{};
    hints.ai_family = query.family;
    hints.ai_socktype = query.socketType;
    hints.ai_protocol = query.protocol;
    hints.ai_flags = query.flags;
    const std::string service = std::to_string(query.port);
    addrinfo* found = nullptr;
    const int code =
        ::getaddrinfo(query.host.empty() ? nullptr : query.host.c_str(), service.c_str(), &hints, &found);
    if (code != 0)
        return code == EAI_SYSTEM && errno != 0 ? errno : code;
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    if (found->ai_addrlen > sizeof result.storage)
        return EAI_FAMILY;
    result.family = found->ai_family;
    result.socketType = found->ai_socktype;
    result.protocol = found->ai_protocol;
    result.storage = {};
    std::memcpy(&result.storage, found->ai_addr, found->ai_addrlen);
    result.length = found->ai_addrlen;
    return 0;
}

std::string FormatRemoteAddress(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN + 16];
    if (address->sa_family == AF_INET) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&ipv4->sin_addr);
        std::snprintf(text, sizeof text, "%d.%d.%d.%d:%d", bytes[0], bytes[1], bytes[2], bytes[3],
                      ntohs(ipv4->sin_port));
        return text;
    }
    if (address->sa_family == AF_INET6) {
        const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address);
        char host[INET6_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET6, &ipv6->sin6_addr, host, sizeof host);
        std::snprintf(text, sizeof text, "[%s]:%d", host, ntohs(ipv6->sin6_port));
        return text;
    }
    return {};
}
