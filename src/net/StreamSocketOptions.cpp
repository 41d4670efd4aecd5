#include "StreamSocketOptions.h"

#include "CAsyncSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

namespace {

constexpr int KeepAliveIdleSeconds = 10;
constexpr int KeepAliveIntervalSeconds = 1;

} // namespace

void SetStreamSocketOptions(CAsyncSocket& socket) {
    socket.SetOption(SOL_SOCKET, SO_KEEPALIVE, 1);
    socket.SetOption(IPPROTO_TCP, TCP_KEEPIDLE, KeepAliveIdleSeconds);
    socket.SetOption(IPPROTO_TCP, TCP_KEEPINTVL, KeepAliveIntervalSeconds);
    socket.SetOption(IPPROTO_TCP, TCP_NODELAY, 1);
}
