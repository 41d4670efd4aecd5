#pragma once

#include <netdb.h>
#include <string>
#include <sys/socket.h>

// What to ask the resolver. An empty host asks for the local (passive) address of the port.
struct AddressQuery {
    std::string host;
    int port = 0;
    int family = AF_UNSPEC;
    int socketType = SOCK_STREAM;
    int protocol = 0;
    int flags = 0;
};

// One address as the resolver gave it, with what a socket for it needs.
struct ResolvedAddress {
    int family = AF_UNSPEC;
    int socketType = 0;
    int protocol = 0;
    sockaddr_storage storage{};
    socklen_t length = 0;

    const sockaddr* Address() const { return reinterpret_cast<const sockaddr*>(&storage); }
};

// Resolves the host and port to the first address the resolver returns; later addresses are never
// tried. Returns 0, or the failure as an error code: the resolver's negative EAI_* code, or errno when
// the resolver failed in the system. A port number outside 0..65535 is EAI_SERVICE.
int ResolveAddress(const AddressQuery& query, ResolvedAddress& result);

// The peer's address as the port list shows it: "a.b.c.d:port" for IPv4, "[text]:port" for IPv6.
std::string FormatRemoteAddress(const sockaddr* address);
