#include "HeadlessProgram.h"

#include <filesystem>

namespace {

void TcpClient(CVSPDataBasic& port, const std::string& name, int peerPort) {
    port.PortName = name;
    port.VspMode = VSP_MODE_TCP_CLIENT;
    port.PeerName = "127.0.0.1";
    port.PeerPort = peerPort;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace

TEST_F(HeadlessTest, TcpClientPortCarriesBytesBothWaysAndDumpsThemInTheDataLog) {
    Descriptor listener = ListenOn();
    StorePort([&](CVSPDataBasic& port) {
        TcpClient(port, "COM3", LocalPortOf(listener.Fd()));
        port.LogData = 1;
    });
    ASSERT_TRUE(StartProgram());
    Descriptor peer = AcceptFrom(listener);
    ASSERT_TRUE(peer.IsOpen());
    ASSERT_TRUE(WaitForLink("COM3"));
    Descriptor application = OpenSerial(LinkPath("COM3"));
    ASSERT_TRUE(application.IsOpen());

    // The program learns of the open through the pseudo-terminal; until then it drops what arrives.
    std::string received;
    ASSERT_TRUE(WaitFor([&] {
        peer.Send("Hello\r\n");
        application.ReadAvailable(received);
        return received.starts_with("Hello\r\n");
    }));
    ASSERT_TRUE(application.Send("Hello\r\n"));
    EXPECT_EQ(peer.Receive(7), "Hello\r\n");

    const std::string dumpLine = "48 65 6C 6C 6F 0D 0A " + std::string(27, ' ') + "| Hello..\r\n";
    std::string dataLog;
    EXPECT_TRUE(WaitFor([&] {
        dataLog = LogText("COM3", "_DATA.log");
        return dataLog.find("] - [VSP->TCP : 7]\r\n" + dumpLine) != std::string::npos;
    }));
    EXPECT_NE(dataLog.find("] - [TCP->VSP : 7]\r\n" + dumpLine), std::string::npos);
    EXPECT_EQ(StopProgram(), 0);
}

TEST_F(HeadlessTest, TcpServerPortServesOneClientAndListensAgainWhenItLeaves) {
    const int localPort = FreeTcpPort();
    StorePort([&](CVSPDataBasic& port) {
        port.PortName = "COM4";
        port.VspMode = VSP_MODE_TCP_SERVER;
        port.LocalPort = localPort;
        port.LogSystem = 1;
    });
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitForLink("COM4"));
    Descriptor application = OpenSerial(LinkPath("COM4"));
    ASSERT_TRUE(WaitFor(
        [&] { return LogText("COM4", "_SYS.log").find("[TCP] Try to connect.") != std::string::npos; }));

    Descriptor client = ConnectTo(localPort);
    ASSERT_TRUE(WaitFor([&] {
        return LogText("COM4", "_SYS.log").find("A TCP/IP connection is established. \r\n") !=
               std::string::npos;
    }));
    Descriptor second = ConnectTo(localPort);
    EXPECT_TRUE(second.WaitClosed());
    std::string received;
    ASSERT_TRUE(WaitFor([&] {
        client.Send("ping");
        application.ReadAvailable(received);
        return received.starts_with("ping");
    }));
    ASSERT_TRUE(application.Send("pong"));
    EXPECT_EQ(client.Receive(4), "pong");

    client.Close();
    ASSERT_TRUE(WaitFor([&] {
        return LogText("COM4", "_SYS.log").find("A TCP/IP connection is closed. \r\n") != std::string::npos;
    }));
    Descriptor third = ConnectTo(localPort);
    ASSERT_TRUE(application.Send("again"));
    EXPECT_EQ(third.Receive(5), "again");
    EXPECT_EQ(StopProgram(), 0);
}

TEST_F(HeadlessTest, UdpPortCarriesDatagramsBothWays) {
    Descriptor peer = UdpOn();
    Descriptor probe = UdpOn();
    const int localPort = LocalPortOf(probe.Fd());
    probe.Close();
    StorePort([&](CVSPDataBasic& port) {
        TcpClient(port, "COM5", LocalPortOf(peer.Fd()));
        port.VspMode = VSP_MODE_UDP;
        port.LocalPort = localPort;
    });
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitForLink("COM5"));
    Descriptor application = OpenSerial(LinkPath("COM5"));
    std::string received;
    ASSERT_TRUE(WaitFor([&] {
        SendDatagram(peer, "in", localPort);
        application.ReadAvailable(received);
        return received.starts_with("in");
    }));
    ASSERT_TRUE(application.Send("out"));
    EXPECT_EQ(peer.Receive(3), "out");
    EXPECT_EQ(StopProgram(), 0);
}

TEST_F(HeadlessTest, RefusedConnectIsLoggedAndRetriedOnEverySupervisionPass) {
    const int unusedPort = FreeTcpPort();
    StorePort([&](CVSPDataBasic& port) {
        TcpClient(port, "COM6", unusedPort);
        port.LogSystem = 1;
    });
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitForLink("COM6"));
    Descriptor application = OpenSerial(LinkPath("COM6"));
    ASSERT_TRUE(WaitFor([&] { return !LogText("COM6", "_SYS.log").empty(); }));
    // Written while the link is down: dropped, and never sent once it is up.
    ASSERT_TRUE(application.Send("lost"));

    std::string log;
    ASSERT_TRUE(WaitFor(
        [&] {
            log = LogText("COM6", "_SYS.log");
            return Occurrences(log, "[TCP] Retry to connect.\r\n") >= 2;
        },
        25000));
    EXPECT_GE(Occurrences(log, "[111] Connection refused\n"), 3u);

    Descriptor listener = ListenOn(unusedPort);
    Descriptor peer = AcceptFrom(listener, 12000);
    ASSERT_TRUE(peer.IsOpen());
    std::string received;
    ASSERT_TRUE(WaitFor([&] {
        application.Send("kept");
        peer.ReadAvailable(received);
        return received.size() >= 4;
    }));
    EXPECT_EQ(received.substr(0, 4), "kept");
    EXPECT_EQ(StopProgram(), 0);
}

TEST_F(HeadlessTest, StoredBypassPairForwardsBetweenPeersWithACopyToTheApplication) {
    Descriptor listenerA = ListenOn();
    Descriptor listenerB = ListenOn();
    StorePort([&](CVSPDataBasic& port) {
        TcpClient(port, "COM7", LocalPortOf(listenerA.Fd()));
        port.Bypass = 1;
        port.BypassPortName = "COM8";
    });
    StorePort([&](CVSPDataBasic& port) {
        TcpClient(port, "COM8", LocalPortOf(listenerB.Fd()));
        port.Bypass = 1;
        port.BypassPortName = "COM7";
    });
    ASSERT_TRUE(StartProgram());
    Descriptor peerA = AcceptFrom(listenerA);
    Descriptor peerB = AcceptFrom(listenerB);
    ASSERT_TRUE(peerA.IsOpen() && peerB.IsOpen());
    ASSERT_TRUE(WaitForLink("COM7"));
    Descriptor application = OpenSerial(LinkPath("COM7"));

    std::string atB;
    ASSERT_TRUE(WaitFor([&] {
        peerA.Send("A");
        peerB.ReadAvailable(atB);
        return !atB.empty();
    }));
    ASSERT_TRUE(peerB.Send("from B"));
    EXPECT_EQ(peerA.Receive(6), "from B");
    // Once the program sees the application, it gets a copy of what A's peer sends.
    std::string copy;
    ASSERT_TRUE(WaitFor([&] {
        peerA.Send("x");
        application.ReadAvailable(copy);
        return !copy.empty();
    }));
    EXPECT_EQ(atB.find_first_not_of('A'), std::string::npos);
    EXPECT_EQ(copy.find_first_not_of("Ax"), std::string::npos);
    EXPECT_EQ(StopProgram(), 0);
}

TEST_F(HeadlessTest, ExitDeletesEveryLinkAndLeavesTheStore) {
    StorePort([&](CVSPDataBasic& port) { TcpClient(port, "COM1", FreeTcpPort()); });
    StorePort([&](CVSPDataBasic& port) {
        port.PortName = "COM2";
        port.VspMode = VSP_MODE_TCP_SERVER;
        port.LocalPort = FreeTcpPort();
    });
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitForLink("COM1") && WaitForLink("COM2"));
    Descriptor application = OpenSerial(LinkPath("COM2"));

    EXPECT_EQ(StopProgram(), 0);
    EXPECT_FALSE(std::filesystem::exists(LinkPath("COM1")));
    EXPECT_FALSE(std::filesystem::exists(LinkPath("COM2")));
    EXPECT_EQ(CountStoredPorts(), 2);
}

TEST_F(HeadlessTest, StartsAndStopsWithAnEmptyStore) {
    ASSERT_TRUE(StartProgram());
    ASSERT_TRUE(WaitFor([&] {
        return std::filesystem::exists(m_home.path().toStdString() + "/runtime/tolvex/Tolvex.lock");
    }));
    EXPECT_EQ(StopProgram(), 0);
}
