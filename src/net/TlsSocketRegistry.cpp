#include "TlsSocketRegistry.h"

#include "CTolSSLSock.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}

std::vector<CTolSSLSock*>& Sockets() {
    static std::vector<CTolSSLSock*> sockets;
    return sockets;
}

} // namespace

void TlsSocketRegistry::Add(CTolSSLSock* socket) {
    std::lock_guard guard(RegistryLock());
    Sockets().push_back(socket);
}

void TlsSocketRegistry::Remove(CTolSSLSock* socket) {
    std::lock_guard guard(RegistryLock());
    std::erase(Sockets(), socket);
}

bool TlsSocketRegistry::Visit(const SSL* connection, const std::function<void(CTolSSLSock&)>& use) {
    std::lock_guard guard(RegistryLock());
    const auto& sockets = Sockets();
    const auto found = std::find_if(sockets.begin(), sockets.end(), [connection](CTolSSLSock* socket) {
        return socket->Connector() != nullptr && socket->Connector()->Connection() == connection;
    });
    if (found == sockets.end())
        return false;
    use(**found);
    return true;
}
