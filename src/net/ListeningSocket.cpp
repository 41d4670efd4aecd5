#include "ListeningSocket.h"

#include "AddressResolver.h"
#include "CAsyncSocket.h"
#include "StreamSocketOptions.h"

#include <netdb.h>
#include <netinet/in.h>

namespace {

int CloseWithError(CAsyncSocket& listener) {
    const int error = listener.LastError();
    listener.Close();
    return error;
}

} // namespace

int OpenListeningSocket(CAsyncSocket& listener, int localPort, int serverType) {
    const int family = serverType == 1 ? AF_INET6 : AF_INET;
    ResolvedAddress local;
    if (const int error = ResolveAddress(
            {"", localPort, family, SOCK_STREAM, IPPROTO_TCP, AI_PASSIVE | AI_NUMERICHOST}, local))
        return error;
    if (!listener.Create(local.family, local.socketType, local.protocol))
        return listener.LastError();
    if ((family == AF_INET6 && !listener.SetOption(IPPROTO_IPV6, IPV6_V6ONLY, 1)) ||
        !listener.SetOption(SOL_SOCKET, SO_REUSEADDR, 1) || !listener.Bind(local.Address(), local.length))
        return CloseWithError(listener);
    SetStreamSocketOptions(listener);
    if (!listener.Listen(ListenBacklog))
        return CloseWithError(listener);
    return 0;
}
