#pragma once

#include <functional>
#include <openssl/types.h>

class CTolSSLSock;

// The data sockets of every TLS link in the process, so that the library's handshake progress callback,
// which only knows the connection, finds its socket. Links are made and destroyed on the configuration
// loader's thread too, hence the lock.
namespace TlsSocketRegistry {

void Add(CTolSSLSock* socket);
void Remove(CTolSSLSock* socket);
// Runs `use` under the lock on the data socket whose connector holds the connection; false when none does.
bool Visit(const SSL* connection, const std::function<void(CTolSSLSock&)>& use);

} // namespace TlsSocketRegistry
