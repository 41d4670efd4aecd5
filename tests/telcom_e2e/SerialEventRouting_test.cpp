#include "CPortLink.h"
#include "ComPortCommandBytes.h"
#include "EngineFixture.h"
#include "VsportDouble.h"

#include <functional>
#include <vector>

// What an application does to a Telnet COM port, carried by the real engine and link to a TCP peer on
// 127.0.0.1 that records every byte. A pseudo-terminal cannot raise DTR, RTS or BREAK on its own, so the
// virtual port here is a double that the test drives as the application would.

namespace {

// What a connect sends for an open port: DTR, RTS, baud rate, data size, parity, stop size.
std::string PortStateCommands(int dtr, int rts, int baud, int dataBits, int parity, int stopSize) {
    return ComPortCommand(5, {dtr}) + ComPortCommand(5, {rts}) +
           ComPortCommand(1, {baud >> 24 & 0xFF, baud >> 16 & 0xFF, baud >> 8 & 0xFF, baud & 0xFF}) +
           ComPortCommand(2, {dataBits}) + ComPortCommand(3, {parity}) + ComPortCommand(4, {stopSize});
}

// True when the lines appear in the text in this order.
bool ContainsInOrder(const std::string& text, const std::vector<std::string>& lines) {
    std::size_t from = 0;
    for (const std::string& line : lines) {
        from = text.find(line, from);
        if (from == std::string::npos)
            return false;
        from += line.size();
    }
    return true;
}

class SerialEventRoutingTest : public EngineTest {
protected:
    // A Telnet COM port with data and system logs towards the recording listener; the application has
    // it open from the start unless `openAtStart` is false.
    CVSPDataEx* MakeTelComPort(bool openAtStart, int sync) {
        MakeEngine([this, openAtStart](int id, CVsportEvents& events) {
            auto made = std::make_unique<DrivenVsportDouble>(id, events);
            made->opened = openAtStart ? 1 : 0;
            application = made.get();
            return made;
        });
        listener = ListenOn();
        CVSPDataBasic page;
        page.PortName = "COM7";
        page.VspMode = VSP_MODE_TCP_CLIENT;
        page.PeerName = "127.0.0.1";
        page.PeerPort = LocalPortOf(listener.Fd());
        page.TelComUse = 1;
        page.LogData = 1;
        page.LogSystem = 1;
        page.Sync = sync;
        if (!m_engine->CreatePort(page) || !WaitFor([&] { return !m_engine->JobInProgress(); }))
            return nullptr;
        return m_engine->FindByPortName("COM7");
    }

    // Accepts the port's connection and checks it began with the open port's settings.
    void AcceptWithPortState(const CVSPDataEx& port, const std::string& expected) {
        peer = AcceptFrom(listener);
        ASSERT_TRUE(peer.IsOpen());
        ASSERT_TRUE(WaitForSockState(port, VSP_SOCKET_CONNECTED));
        ASSERT_EQ(peer.Receive(expected.size()), expected);
    }

    std::string DataLog(CVSPDataEx& port) const { return ReadWholeFile(port.PortLog().DataLogPath()); }
    std::string SystemLog(CVSPDataEx& port) const { return ReadWholeFile(port.PortLog().SystemLogPath()); }

    DrivenVsportDouble* application = nullptr;
    Descriptor listener;
    Descriptor peer;
};

} // namespace

TEST_F(SerialEventRoutingTest, ConnectedPortSendsEachApplicationEventAsItsCommandAndLogsIt) {
    CVSPDataEx* port = MakeTelComPort(true, 0);
    ASSERT_NE(port, nullptr);
    AcceptWithPortState(*port, PortStateCommands(8, 11, 9600, 8, 1, 1));
    struct Case {
        std::function<void(DrivenVsportDouble&)> act;
        std::string bytes;
        std::vector<std::string> logLines;
    };
    const std::vector<Case> cases = {
        {[](DrivenVsportDouble& a) { a.SetDtr(0); },
         ComPortCommand(5, {9}),
         {"OnDTR [0]\r\n", "[TELCOM] VSP->TCP OnDTR [0]\r\n"}},
        {[](DrivenVsportDouble& a) { a.SetDtr(1); },
         ComPortCommand(5, {8}),
         {"[TELCOM] VSP->TCP OnDTR [1]\r\n"}},
        {[](DrivenVsportDouble& a) { a.SetRts(0); },
         ComPortCommand(5, {12}),
         {"OnRTS [0]\r\n", "[TELCOM] VSP->TCP OnRTS [0]\r\n"}},
        {[](DrivenVsportDouble& a) { a.SetRts(1); },
         ComPortCommand(5, {11}),
         {"[TELCOM] VSP->TCP OnRTS [1]\r\n"}},
        {[](DrivenVsportDouble& a) { a.Break(1); },
         ComPortCommand(5, {5}),
         {"OnBreak [1]\r\n", "[TELCOM] VSP->TCP OnBreak [1]\r\n"}},
        {[](DrivenVsportDouble& a) { a.Break(0); },
         ComPortCommand(5, {6}),
         {"[TELCOM] VSP->TCP OnBreak [0]\r\n"}},
        // 7 data bits, even parity, two stop bits.
        {[](DrivenVsportDouble& a) { a.SetFraming(2, 2, 7); },
         ComPortCommand(2, {7}) + ComPortCommand(3, {3}) + ComPortCommand(4, {2}),
         {"OnLineControl StpBts:0x2, Prty:0x2, WrdLen:0x7 \r\n",
          "[TELCOM] VSP->TCP OnLineControl DataBit[7]\r\n", "[TELCOM] VSP->TCP OnLineControl Parity [3]\r\n",
          "[TELCOM] VSP->TCP OnLineControl StopBit [2]\r\n"}},
        // One and a half stop bits travel as 3.
        {[](DrivenVsportDouble& a) { a.SetFraming(1, 1, 8); },
         ComPortCommand(2, {8}) + ComPortCommand(3, {2}) + ComPortCommand(4, {3}),
         {"[TELCOM] VSP->TCP OnLineControl StopBit [3]\r\n"}},
        // A stop-bit code without a command value: logged, and the peer keeps its stop size.
        {[](DrivenVsportDouble& a) { a.SetFraming(3, 0, 8); },
         ComPortCommand(2, {8}) + ComPortCommand(3, {1}),
         {"OnLineControl StpBts:0x3, Prty:0x0, WrdLen:0x8 \r\n",
          "[TELCOM] VSP->TCP OnLineControl Parity [1]\r\n"}},
        {[](DrivenVsportDouble& a) { a.SetBaud(19200); },
         ComPortCommand(1, {0, 0, 0x4B, 0}),
         {"OnBaudRate [19200]\r\n", "[TELCOM] VSP->TCP OnBaudRate [19200]\r\n"}},
    };
    for (const Case& c : cases) {
        const std::size_t logBefore = DataLog(*port).size();
        c.act(*application);
        EXPECT_EQ(peer.Receive(c.bytes.size()), c.bytes) << c.logLines.front();
        const std::string logged = DataLog(*port).substr(logBefore);
        EXPECT_TRUE(ContainsInOrder(logged, c.logLines)) << logged;
    }
    EXPECT_EQ(port->DtrState, 1);
    EXPECT_EQ(port->RtsState, 1);
}

TEST_F(SerialEventRoutingTest, SettingsChangedWhileTheLinkIsDownAreOnlyLoggedAndTheReconnectCarriesThem) {
    CVSPDataEx* port = MakeTelComPort(true, 0);
    ASSERT_NE(port, nullptr);
    AcceptWithPortState(*port, PortStateCommands(8, 11, 9600, 8, 1, 1));

    peer.Close();
    ASSERT_TRUE(WaitFor([&] { return port->SockState == VSP_SOCKET_CLOSED; }));
    const std::size_t logBefore = DataLog(*port).size();
    application->SetBaud(38400);
    application->SetFraming(2, 2, 7);
    const std::string logged = DataLog(*port).substr(logBefore);
    EXPECT_TRUE(ContainsInOrder(
        logged, {"OnBaudRate [38400]\r\n", "OnLineControl StpBts:0x2, Prty:0x2, WrdLen:0x7"}));
    EXPECT_EQ(logged.find("[TELCOM] VSP->TCP"), std::string::npos) << logged;

    // The supervision reconnects; the new link first learns the settings as they are now, and nothing
    // held from the time the link was down follows them.
    m_engine->Supervisor().SupervisionTick();
    AcceptWithPortState(*port, PortStateCommands(8, 11, 38400, 7, 3, 2));
    application->Break(1);
    EXPECT_EQ(peer.Receive(7), ComPortCommand(5, {5}));
    EXPECT_TRUE(ContainsInOrder(
        DataLog(*port).substr(logBefore),
        {"[TELCOM] send_port_state_to_net [DTR 8 8:ON, 9:OFF] TELCOM_SET_CONTROL [8]\r\n",
         "[TELCOM] send_port_state_to_net [RTS 11 11:ON, 12:OFF] TELCOM_SET_CONTROL [B]\r\n",
         "[TELCOM] send_port_state_to_net TELCOM_SET_BAUD [38400]\r\n",
         "[TELCOM] send_port_state_to_net TELCOM_SET_DATA_SIZE [7]\r\n",
         "[TELCOM] send_port_state_to_net TELCOM_SET_PARITY [3 1:NONE, 2:ODD, 3:EVEN, 4:MARK, 5:SPACE]\r\n",
         "[TELCOM] send_port_state_to_net TELCOM_SET_STOPSIZE [2 1:1, 2:2, 3:1.5]\r\n"}));
}

TEST_F(SerialEventRoutingTest, SyncPortLinksWhileOpenAndPresentsThePeersLastModemLinesOnEachOpen) {
    CVSPDataEx* port = MakeTelComPort(false, 1);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->SockState, VSP_SOCKET_NOT_CONNECTED);

    application->SetDtr(0);
    application->Open();
    EXPECT_EQ(port->VspState, VSP_OPENED);
    EXPECT_EQ(application->lineSets, (LineSets{{"DSR", 0}, {"CTS", 0}, {"DCD", 0}}));
    AcceptWithPortState(*port, PortStateCommands(9, 11, 9600, 8, 1, 1));

    // The peer reports CTS off and the other lines on (a set bit is a line that is off).
    application->lineSets.clear();
    ASSERT_TRUE(peer.Send(ComPortCommand(7, {0x10})));
    ASSERT_TRUE(WaitFor([&] { return application->lineSets.size() == 4; }));
    EXPECT_EQ(application->lineSets, (LineSets{{"RING", 1}, {"DSR", 1}, {"CTS", 0}, {"DCD", 1}}));

    application->Close();
    EXPECT_EQ(port->VspState, VSP_CLOSED);
    EXPECT_EQ(port->SockState, VSP_SOCKET_NOT_CONNECTED);
    EXPECT_TRUE(peer.WaitClosed());

    application->lineSets.clear();
    application->SetDtr(1);
    application->Open();
    EXPECT_EQ(application->lineSets, (LineSets{{"DSR", 1}, {"CTS", 0}, {"DCD", 1}}));
    AcceptWithPortState(*port, PortStateCommands(8, 11, 9600, 8, 1, 1));
    EXPECT_TRUE(
        ContainsInOrder(DataLog(*port), {"VSP is opened.\r\n", "VSP is closed.\r\n", "VSP is opened.\r\n",
                                         "[TELCOM] send_port_state_to_vsp SetDSR [1]\r\n",
                                         "[TELCOM] send_port_state_to_vsp SetCTS [0]\r\n",
                                         "[TELCOM] send_port_state_to_vsp SetDCD [1]\r\n"}));
}

TEST_F(SerialEventRoutingTest, BaudRateEmulationSwitchIsSavedAppliedAndItsOutcomeLogged) {
    CVSPDataEx* port = MakeTelComPort(true, 0);
    ASSERT_NE(port, nullptr);

    m_engine->SetStrictBaudrate(true, "COM7");
    EXPECT_EQ(application->strictBaudRate, 1);
    EXPECT_TRUE(m_notifier.errors.empty());
    CVSPDataBasic stored;
    m_store->ReadPort("COM7", stored);
    EXPECT_EQ(stored.StrictBaudrate, 1);

    application->acceptsStrictBaudRate = 0;
    m_engine->SetStrictBaudrate(false, "COM7");
    EXPECT_EQ(application->strictBaudRate, 0);
    EXPECT_EQ(m_notifier.errors, std::vector<std::string>{"Fail to call SetStrictBaudRate function."});
    m_store->ReadPort("COM7", stored);
    EXPECT_EQ(stored.StrictBaudrate, 0);
    EXPECT_TRUE(ContainsInOrder(SystemLog(*port), {"SetStrictBaudrate : [ON] [SUCCESS]\r\n",
                                                   "SetStrictBaudrate : [OFF] [FAIL]\r\n"}));

    // A name no port has changes nothing.
    m_engine->SetStrictBaudrate(true, "COM99");
    EXPECT_EQ(application->strictBaudRate, 0);
    EXPECT_EQ(port->StrictBaudrate, 0);
}

TEST_F(SerialEventRoutingTest, CommandWhileTheLinkIsBackedUpFollowsTheDataWrittenBeforeIt) {
    CVSPDataEx* port = MakeTelComPort(true, 0);
    ASSERT_NE(port, nullptr);
    AcceptWithPortState(*port, PortStateCommands(8, 11, 9600, 8, 1, 1));

    // The peer reads nothing until the link refuses more and the application's bytes wait in the port.
    const std::string piece(65536, 'x');
    std::size_t total = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (port->PlainLink().IsWriteBlocked())
                return true;
            if (application->unread.empty()) {
                application->WriteBytes(piece);
                total += piece.size();
            }
            return false;
        },
        20000));
    // What the engine has read so far was written before the change; the rest follows it.
    const std::size_t readBefore = total - application->unread.size();
    application->SetDtr(0);

    const std::string expected =
        std::string(readBefore, 'x') + ComPortCommand(5, {9}) + std::string(total - readBefore, 'x');
    const std::string received = peer.Receive(expected.size(), 20000);
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "the command is not where the application made it";
}
