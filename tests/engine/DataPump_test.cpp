#include "EngineFixture.h"

#include <algorithm>
#include <array>
#include <sys/socket.h>

// Bulk data through busy ports whose applications and peers first hold back, so every queue, link and
// device on the way fills up and has to wake the pump again when it drains.

namespace {

constexpr std::size_t InboundBytes = 1024 * 1024;
// More than the system buffers a link with a stalled peer, so the port's link refuses bytes.
constexpr std::size_t OutboundBytes = 8 * 1024 * 1024;
constexpr int PeerReceiveBuffer = 4096;

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed + i / 251) & 0xFF);
    return bytes;
}

// One direction of a transfer: written to `from` as fast as it takes bytes, read from `to` when asked.
struct Flow {
    const Descriptor& from;
    const Descriptor& to;
    std::string payload;
    std::size_t written = 0;
    std::string received;

    void Write() {
        while (written < payload.size()) {
            const ssize_t n = ::write(from.Fd(), payload.data() + written,
                                      std::min<std::size_t>(65536, payload.size() - written));
            if (n <= 0)
                return;
            written += static_cast<std::size_t>(n);
        }
    }
    void Read() { to.ReadAvailable(received); }
    bool Done() const { return received.size() >= payload.size(); }
};

struct BusyPort {
    Descriptor listener;
    Descriptor peer;
    Descriptor application;
    CVSPDataEx* port = nullptr;
};

} // namespace

TEST_F(EngineTest, BulkDataOfTwoBusyPortsArrivesWholeAfterBothEndsHeldBack) {
    MakeEngine();
    std::array<BusyPort, 2> ports;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        BusyPort& side = ports[i];
        side.listener = ListenOn();
        ASSERT_EQ(::setsockopt(side.listener.Fd(), SOL_SOCKET, SO_RCVBUF, &PeerReceiveBuffer,
                               sizeof PeerReceiveBuffer),
                  0);
        const std::string name = "COM" + std::to_string(3 + i);
        side.port = Create(ClientSettings(name, LocalPortOf(side.listener.Fd())));
        ASSERT_NE(side.port, nullptr);
        side.peer = AcceptFrom(side.listener);
        ASSERT_TRUE(side.peer.IsOpen());
        ASSERT_TRUE(WaitForSockState(*side.port, VSP_SOCKET_CONNECTED));
        side.application = OpenSerial(LinkPath(name));
        ASSERT_TRUE(side.application.IsOpen());
        ASSERT_TRUE(WaitForOpened(*side.port));
    }
    std::vector<Flow> flows;
    for (unsigned i = 0; i < ports.size(); ++i) {
        flows.push_back({ports[i].application, ports[i].peer, Pattern(OutboundBytes, 2 * i), 0, {}});
        flows.push_back({ports[i].peer, ports[i].application, Pattern(InboundBytes, 2 * i + 1), 0, {}});
    }

    // Nobody reads until both queues of both ports are at their limits.
    const bool heldBack = WaitFor(
        [&] {
            for (Flow& flow : flows)
                flow.Write();
            return std::all_of(ports.begin(), ports.end(), [](const BusyPort& side) {
                return side.port->PortToNetQueued() >= 4096 && side.port->NetToPortQueued() > 4096;
            });
        },
        20000);
    EXPECT_TRUE(heldBack) << ports[0].port->PortToNetQueued() << " " << ports[0].port->NetToPortQueued()
                          << " " << ports[1].port->PortToNetQueued() << " "
                          << ports[1].port->NetToPortQueued() << " " << flows[0].written << " "
                          << flows[1].written;

    EXPECT_TRUE(WaitFor(
        [&] {
            for (Flow& flow : flows) {
                flow.Write();
                flow.Read();
            }
            return std::all_of(flows.begin(), flows.end(), [](const Flow& flow) { return flow.Done(); });
        },
        60000));
    for (const Flow& flow : flows)
        EXPECT_TRUE(flow.received == flow.payload) << flow.received.size() << " of " << flow.payload.size();
    // Links and devices that were held back report new bytes again by themselves, well before the next
    // supervision pass would look.
    for (const BusyPort& side : ports) {
        ASSERT_TRUE(side.peer.Send("later"));
        EXPECT_EQ(side.application.Receive(5, 2000), "later");
        ASSERT_TRUE(side.application.Send("again"));
        EXPECT_EQ(side.peer.Receive(5, 2000), "again");
    }
    for (const BusyPort& side : ports) {
        EXPECT_EQ(side.port->VspReadBytes, static_cast<int32_t>(OutboundBytes + 5));
        EXPECT_EQ(side.port->NetSentBytes, static_cast<int32_t>(OutboundBytes + 5));
        EXPECT_EQ(side.port->NetRecvBytes, static_cast<int32_t>(InboundBytes + 5));
        EXPECT_EQ(side.port->VspWrittenBytes, static_cast<int32_t>(InboundBytes + 5));
    }
}
