#include "AcceptNetworkBytes.h"

#include "CVSPDataBasic.h"

bool AcceptNetworkBytes(const CVSPDataBasic& port) {
    if (port.Bypass == 0)
        return port.VspState == VSP_OPENED;
    return port.Bypass == 1 && port.BypassPeer != nullptr && IsDataFlowing(port.BypassPeer->SockState);
}
