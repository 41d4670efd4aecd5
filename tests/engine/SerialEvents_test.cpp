#include "ComPortCommandBytes.h"
#include "EngineFixture.h"
#include "VsportDouble.h"

namespace {

class SerialEventTest : public EngineTest {
protected:
    // A Telnet COM port on a modem-line device, connected to a peer, opened by the application.
    void SetUpTelComPort() {
        MakeEngine([this](int id, CVsportEvents& events) {
            auto made = std::make_unique<DrivenVsportDouble>(id, events);
            // Already held by the application when the port registers, so the link comes up opened.
            made->opened = 1;
            device = made.get();
            return made;
        });
        listener = ListenOn();
        PortSettings settings = ClientSettings("COM7", LocalPortOf(listener.Fd()));
        settings.TelComUse = 1;
        port = Create(settings);
        ASSERT_NE(port, nullptr);
        peer = AcceptFrom(listener);
        ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED));
        // The settings sent on connect: DTR, RTS, baud, data size, parity, stop size.
        const std::string onConnect = ComPortCommand(5, {8}) + ComPortCommand(5, {11}) +
                                      ComPortCommand(1, {0, 0, 0x25, 0x80}) + ComPortCommand(2, {8}) +
                                      ComPortCommand(3, {1}) + ComPortCommand(4, {1});
        ASSERT_EQ(peer.Receive(onConnect.size()), onConnect);
    }

    DrivenVsportDouble* device = nullptr;
    CVSPDataEx* port = nullptr;
    Descriptor listener;
    Descriptor peer;
};

} // namespace

TEST_F(SerialEventTest, ApplicationSettingsBecomeComPortCommandsInOrder) {
    SetUpTelComPort();
    struct Case {
        std::function<void(CVsportEvents&, int)> raise;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {[](CVsportEvents& e, int id) { e.OnLineControl(id, 2, 2, 7); },
         ComPortCommand(2, {7}) + ComPortCommand(3, {3}) + ComPortCommand(4, {2})},
        // A stop-bit code without a command value: data size and parity only.
        {[](CVsportEvents& e, int id) { e.OnLineControl(id, 5, 0, 8); },
         ComPortCommand(2, {8}) + ComPortCommand(3, {1})},
        {[](CVsportEvents& e, int id) { e.OnBaudRate(id, 115200); }, ComPortCommand(1, {0, 1, 0xC2, 0})},
        {[](CVsportEvents& e, int id) { e.OnDTR(id, 0); }, ComPortCommand(5, {9})},
        {[](CVsportEvents& e, int id) { e.OnRTS(id, 1); }, ComPortCommand(5, {11})},
        {[](CVsportEvents& e, int id) { e.OnBreak(id, 1); }, ComPortCommand(5, {5})},
        {[](CVsportEvents& e, int id) { e.OnBreak(id, 0); }, ComPortCommand(5, {6})},
    };
    for (const Case& c : cases) {
        c.raise(device->Events(), device->Id());
        EXPECT_EQ(peer.Receive(c.expected.size()), c.expected);
    }
    EXPECT_EQ(port->DtrState, 0);
}

TEST_F(SerialEventTest, EventsOfAPortWithoutAConnectedLinkAreNotForwarded) {
    SetUpTelComPort();
    m_engine->StopPort(port->VspId);
    ASSERT_TRUE(peer.WaitClosed());
    device->Events().OnBaudRate(device->Id(), 19200);
    device->Events().OnDTR(device->Id(), 0);
    EXPECT_EQ(port->DtrState, 0);
    // Unknown ids change nothing.
    device->Events().OnDTR(4711, 1);
    EXPECT_EQ(port->DtrState, 0);
}

TEST_F(SerialEventTest, DtrHandshakeHoldsInboundBytesUntilTheApplicationRaisesDtr) {
    SetUpTelComPort();
    device->handshake = 0x02;
    device->dtr = 0;
    ASSERT_TRUE(peer.Send("held"));
    EXPECT_FALSE(WaitFor([&] { return !device->delivered.empty(); }, 300));
    EXPECT_EQ(port->NetToPortQueued(), 4);

    device->SetDtr(1);
    EXPECT_TRUE(WaitFor([&] { return device->DeliveredText() == "held"; }));
}

TEST_F(SerialEventTest, TelComPortDoublesEveryFFTowardsTheNetwork) {
    MakeEngine();
    Descriptor listener = ListenOn();
    PortSettings settings = ClientSettings("COM8", LocalPortOf(listener.Fd()));
    settings.TelComUse = 1;
    CVSPDataEx* port = Create(settings);
    ASSERT_NE(port, nullptr);
    Descriptor peer = AcceptFrom(listener);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED));
    Descriptor application = OpenSerial(LinkPath("COM8"));
    ASSERT_TRUE(WaitForOpened(*port));
    const int32_t sentBefore = port->NetSentBytes;

    ASSERT_TRUE(application.Send("\xFF"));
    ASSERT_TRUE(WaitFor([&] { return port->VspReadBytes == 1; }));
    EXPECT_EQ(port->NetSentBytes - sentBefore, 2);
    // The settings the application made arrive as commands before the data.
    std::string received;
    EXPECT_TRUE(WaitFor([&] {
        peer.ReadAvailable(received);
        return received.ends_with("\xFF\xFF");
    }));
}
