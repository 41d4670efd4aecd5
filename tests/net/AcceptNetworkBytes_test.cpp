#include "AcceptNetworkBytes.h"
#include "CVSPDataBasic.h"

#include <gtest/gtest.h>

namespace {

struct AcceptCase {
    int bypass;
    int vspState;
    bool hasPartner;
    int partnerSockState;
    bool accepted;
};

class AcceptNetworkBytesTest : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(AcceptNetworkBytesTest, FollowsThePortAndItsBypassPartner) {
    const AcceptCase& c = GetParam();
    CVSPDataBasic partner;
    partner.SockState = c.partnerSockState;
    CVSPDataBasic port;
    port.Bypass = c.bypass;
    port.VspState = c.vspState;
    port.BypassPeer = c.hasPartner ? &partner : nullptr;
    EXPECT_EQ(AcceptNetworkBytes(port), c.accepted);
}

INSTANTIATE_TEST_SUITE_P(Rule, AcceptNetworkBytesTest,
                         ::testing::Values(AcceptCase{0, VSP_OPENED, false, 0, true},
                                           AcceptCase{0, VSP_CLOSED, false, 0, false},
                                           AcceptCase{0, VSP_STOP, true, VSP_SOCKET_CONNECTED, false},
                                           AcceptCase{1, VSP_CLOSED, true, VSP_SOCKET_CONNECTED, true},
                                           AcceptCase{1, VSP_CLOSED, true, VSP_SOCKET_UDP_OPEN, true},
                                           AcceptCase{1, VSP_OPENED, true, VSP_SOCKET_LISTENING, false},
                                           AcceptCase{1, VSP_OPENED, false, 0, false}));

} // namespace
