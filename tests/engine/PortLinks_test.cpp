#include "EngineFixture.h"

#include "CPortListModel.h"

// Ports at work on real pseudo-terminals and loopback peers.

TEST_F(EngineTest, TcpClientPortCarriesBytesBothWays) {
    MakeEngine();
    Descriptor listener = ListenOn();
    CVSPDataEx* port = Create(ClientSettings("COM3", LocalPortOf(listener.Fd())));
    ASSERT_NE(port, nullptr);
    Descriptor peer = AcceptFrom(listener);
    ASSERT_TRUE(peer.IsOpen());
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED));
    EXPECT_EQ(RowText(*port, CPortListModel::LinkColumn),
              "[Connected] 127.0.0.1:" + std::to_string(port->PeerPort));

    Descriptor application = OpenSerial(LinkPath("COM3"));
    ASSERT_TRUE(application.IsOpen());
    ASSERT_TRUE(WaitForOpened(*port));

    ASSERT_TRUE(application.Send("to the network"));
    EXPECT_EQ(peer.Receive(14), "to the network");
    ASSERT_TRUE(peer.Send("to the application"));
    EXPECT_EQ(application.Receive(18), "to the application");

    EXPECT_TRUE(WaitFor([&] { return port->VspWrittenBytes == 18; }));
    EXPECT_EQ(port->VspReadBytes, 14);
    EXPECT_EQ(port->NetSentBytes, 14);
    EXPECT_EQ(port->NetRecvBytes, 18);
}

TEST_F(EngineTest, BytesWrittenWhileTheLinkIsDownAreDroppedAndNotCounted) {
    MakeEngine();
    const int unusedPort = FreeTcpPort();
    CVSPDataEx* port = Create(ClientSettings("COM3", unusedPort));
    ASSERT_NE(port, nullptr);
    Descriptor application = OpenSerial(LinkPath("COM3"));
    ASSERT_TRUE(WaitForOpened(*port));
    ASSERT_TRUE(WaitFor([&] { return port->SockState == VSP_SOCKET_CLOSED; }));

    ASSERT_TRUE(application.Send("lost"));
    EXPECT_FALSE(WaitFor([&] { return port->VspReadBytes != 0 || port->PortToNetQueued() != 0; }, 500));
    EXPECT_EQ(port->Control()->GetInCount(), 0);

    // Once the link is up again, the dropped bytes do not follow the new ones.
    Descriptor listener = ListenOn(unusedPort);
    m_engine->Supervisor().SupervisionTick();
    Descriptor peer = AcceptFrom(listener);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED));
    ASSERT_TRUE(application.Send("kept"));
    EXPECT_EQ(peer.Receive(8, 1000), "kept");
}

TEST_F(EngineTest, RefusedConnectShowsTheErrorAndRetriesOnEverySupervisionPass) {
    MakeEngine();
    CVSPDataEx* port = Create(ClientSettings("COM3", FreeTcpPort()));
    ASSERT_NE(port, nullptr);
    port->PortLog().OpenSystemLog("COM3");
    ASSERT_TRUE(WaitFor([&] { return port->SockState == VSP_SOCKET_CLOSED; }));
    EXPECT_EQ(port->LastSockError, ECONNREFUSED);
    EXPECT_EQ(RowText(*port, CPortListModel::LinkColumn), "[111] Connection refused\n");

    for (int pass = 1; pass <= 2; ++pass) {
        m_engine->Supervisor().SupervisionTick();
        EXPECT_EQ(RowText(*port, CPortListModel::LinkColumn).rfind("[Connecting] 127.0.0.1:", 0), 0u);
        ASSERT_TRUE(WaitFor([&] { return port->SockState == VSP_SOCKET_CLOSED; }));
    }
    const std::string log = ReadWholeFile(port->PortLog().SystemLogPath());
    std::size_t retries = 0;
    for (std::size_t at = log.find("[TCP] Retry to connect.\r\n"); at != std::string::npos;
         at = log.find("[TCP] Retry to connect.\r\n", at + 1))
        ++retries;
    EXPECT_EQ(retries, 2u);
}

TEST_F(EngineTest, TcpServerPortServesOneClientAndListensAgainWhenItLeaves) {
    MakeEngine();
    const int localPort = FreeTcpPort();
    CVSPDataEx* port = Create(ServerSettings("COM4", localPort));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_LISTENING));
    EXPECT_EQ(RowText(*port, CPortListModel::LinkColumn), "[Listening] " + std::to_string(localPort));
    Descriptor application = OpenSerial(LinkPath("COM4"));
    ASSERT_TRUE(WaitForOpened(*port));

    Descriptor client = ConnectTo(localPort);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED));
    EXPECT_EQ(RowText(*port, CPortListModel::LinkColumn).rfind("[Connected] 127.0.0.1:", 0), 0u);
    Descriptor second = ConnectTo(localPort);
    EXPECT_TRUE(second.WaitClosed());

    ASSERT_TRUE(client.Send("ping"));
    EXPECT_EQ(application.Receive(4), "ping");
    ASSERT_TRUE(application.Send("pong"));
    EXPECT_EQ(client.Receive(4), "pong");

    client.Close();
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_LISTENING));
    EXPECT_EQ(RowText(*port, CPortListModel::LinkColumn), "[Listening] " + std::to_string(localPort));
    Descriptor third = ConnectTo(localPort);
    EXPECT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED));
}

TEST_F(EngineTest, UdpPortCarriesDatagramsBothWaysAndLargeOnesWhole) {
    MakeEngine();
    Descriptor peer = UdpOn();
    Descriptor probe = UdpOn();
    const int localPort = LocalPortOf(probe.Fd());
    probe.Close();
    CVSPDataEx* port = Create(UdpSettings("COM5", LocalPortOf(peer.Fd()), localPort));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_UDP_OPEN));
    Descriptor application = OpenSerial(LinkPath("COM5"));
    ASSERT_TRUE(WaitForOpened(*port));

    ASSERT_TRUE(application.Send("out"));
    EXPECT_EQ(peer.Receive(3), "out");

    // Larger than the write buffer: it reaches the application whole and in order.
    std::string large(20000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>('a' + i % 26);
    ASSERT_TRUE(SendDatagram(peer, "in", localPort));
    ASSERT_TRUE(SendDatagram(peer, large, localPort));
    EXPECT_EQ(application.Receive(2 + large.size()), "in" + large);
}

TEST_F(EngineTest, StopClosesTheLinkAndStartOpensItAgain) {
    MakeEngine();
    Descriptor listener = ListenOn();
    CVSPDataEx* port = Create(ClientSettings("COM3", LocalPortOf(listener.Fd())));
    ASSERT_NE(port, nullptr);
    Descriptor peer = AcceptFrom(listener);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED));

    m_engine->StopPort(port->VspId);
    EXPECT_EQ(port->VspState, VSP_STOP);
    EXPECT_EQ(port->SockState, VSP_SOCKET_NOT_CONNECTED);
    EXPECT_TRUE(peer.WaitClosed());
    const CPortListModel& rows = m_engine->Rows();
    EXPECT_EQ(rows.data(rows.index(RowOf(*port), CPortListModel::LinkColumn), CPortListModel::ImageRole), 3);
    // Supervision leaves a stopped port alone.
    m_engine->Supervisor().SupervisionTick();
    EXPECT_EQ(port->SockState, VSP_SOCKET_NOT_CONNECTED);
    m_engine->StopPort(port->VspId);
    ASSERT_EQ(m_notifier.warnings.size(), 1u);
    EXPECT_EQ(m_notifier.warnings[0],
              "The port is already stopped or in waiting state for closing TCP/IP socket.");

    m_engine->StartPort(port->VspId);
    EXPECT_EQ(port->VspState, VSP_CLOSED);
    Descriptor again = AcceptFrom(listener);
    EXPECT_TRUE(again.IsOpen());
    EXPECT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED));
    m_engine->StartPort(port->VspId);
    ASSERT_EQ(m_notifier.warnings.size(), 2u);
    EXPECT_EQ(m_notifier.warnings[1], "The port is already started.");
}

TEST_F(EngineTest, DeletingCheckedPortsKeepsTheOpenOneUnchecked) {
    MakeEngine();
    CVSPDataEx* open = Create(ServerSettings("COM3", FreeTcpPort()));
    CVSPDataEx* closed = Create(ServerSettings("COM4", FreeTcpPort()));
    ASSERT_TRUE(open && closed);
    const int closedId = closed->VspId;
    Descriptor application = OpenSerial(LinkPath("COM3"));
    ASSERT_TRUE(WaitForOpened(*open));
    m_engine->Rows().SetChecked(RowOf(*open), true);
    m_engine->Rows().SetChecked(RowOf(*closed), true);

    ASSERT_TRUE(m_engine->DeleteCheckedPorts());
    ASSERT_TRUE(WaitFor([&] { return !m_engine->JobInProgress(); }));
    EXPECT_EQ(m_engine->Find(closedId), nullptr);
    EXPECT_FALSE(std::filesystem::exists(LinkPath("COM4")));
    EXPECT_EQ(m_store->PortKeyNames(), std::vector<std::string>{"COM3"});
    ASSERT_EQ(m_engine->Rows().RowCount(), 1);
    EXPECT_FALSE(m_engine->Rows().IsChecked(0));
    EXPECT_EQ(m_engine->BatchJob(), 0);
    EXPECT_TRUE(std::filesystem::exists(LinkPath("COM3")));
}

TEST_F(EngineTest, BypassPairForwardsBetweenTwoPeersWithACopyToTheApplication) {
    MakeEngine();
    Descriptor listenerA = ListenOn();
    Descriptor listenerB = ListenOn();
    CVSPDataEx* a = Create(ClientSettings("COM3", LocalPortOf(listenerA.Fd())));
    CVSPDataEx* b = Create(ClientSettings("COM4", LocalPortOf(listenerB.Fd())));
    ASSERT_TRUE(a && b);
    Descriptor peerA = AcceptFrom(listenerA);
    Descriptor peerB = AcceptFrom(listenerB);
    ASSERT_TRUE(WaitForSockState(*a, VSP_SOCKET_CONNECTED) && WaitForSockState(*b, VSP_SOCKET_CONNECTED));
    Descriptor application = OpenSerial(LinkPath("COM3"));
    ASSERT_TRUE(WaitForOpened(*a));

    m_engine->SetBypassPair(true, "com3", "COM4");
    EXPECT_EQ(a->BypassPeer, b);
    EXPECT_EQ(b->BypassPortName, "COM3");
    ASSERT_TRUE(peerA.Send("from A"));
    EXPECT_EQ(peerB.Receive(6), "from A");
    EXPECT_EQ(application.Receive(6), "from A");
    ASSERT_TRUE(peerB.Send("from B"));
    EXPECT_EQ(peerA.Receive(6), "from B");
    // What the application writes to a bypassed port goes nowhere.
    ASSERT_TRUE(application.Send("dropped"));
    ASSERT_TRUE(WaitFor([&] { return a->Control()->GetInCount() == 0; }));
    std::string nothing;
    peerA.ReadAvailable(nothing);
    peerB.ReadAvailable(nothing);
    EXPECT_EQ(nothing, "");

    // Deleting one side leaves the other unpaired, in the store too.
    application.Close();
    ASSERT_TRUE(WaitFor([&] { return a->VspState == VSP_CLOSED; }));
    m_engine->Rows().SetChecked(RowOf(*a), true);
    ASSERT_TRUE(m_engine->DeleteCheckedPorts());
    ASSERT_TRUE(WaitFor([&] { return !m_engine->JobInProgress(); }));
    EXPECT_EQ(b->Bypass, 0);
    EXPECT_EQ(b->BypassPeer, nullptr);
    CVSPDataBasic stored;
    m_store->ReadPort("COM4", stored);
    EXPECT_EQ(stored.Bypass, 0);
    EXPECT_EQ(stored.BypassPortName, "");
}

TEST_F(EngineTest, ExitDeletesEveryLinkAndLeavesTheStore) {
    MakeEngine();
    ASSERT_TRUE(Create(ServerSettings("COM3", FreeTcpPort())));
    ASSERT_TRUE(Create(ClientSettings("COM4", FreeTcpPort())));
    bool finished = false;
    QObject::connect(m_engine.get(), &CPortEngine::ExitFinished, [&] { finished = true; });
    m_engine->DeleteAllAtExit();
    ASSERT_TRUE(WaitFor([&] { return finished; }));
    EXPECT_EQ(m_engine->Rows().RowCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(LinkPath("COM3")));
    EXPECT_FALSE(std::filesystem::exists(LinkPath("COM4")));
    EXPECT_EQ(m_store->CountPortKeys(), 2);
}

TEST_F(EngineTest, StartUpLoadsStoredPortsSortedWithTheirBypassPartners) {
    for (const char* name : {"COM10", "COM2", "COM1"}) {
        PortSettings settings = ServerSettings(name, FreeTcpPort());
        if (std::string(name) != "COM1") {
            settings.Bypass = 1;
            settings.BypassPortName = std::string(name) == "COM10" ? "COM2" : "COM10";
        }
        m_store->SavePort(*settings.Page());
    }
    MakeEngine();
    bool loaded = false;
    QObject::connect(m_engine.get(), &CPortEngine::LoadFinished, [&] { loaded = true; });
    m_engine->Start();
    ASSERT_TRUE(WaitFor([&] { return loaded; }));
    std::vector<std::string> order;
    for (int row = 0; row < m_engine->Rows().RowCount(); ++row)
        order.push_back(m_engine->Find(m_engine->Rows().VspIdAt(row))->PortName);
    EXPECT_EQ(order, (std::vector<std::string>{"COM1", "COM2", "COM10"}));
    EXPECT_EQ(m_engine->FindByPortName("COM2")->BypassPeer, m_engine->FindByPortName("COM10"));
    EXPECT_EQ(m_engine->FindByPortName("COM1")->BypassPeer, nullptr);
    EXPECT_TRUE(WaitForSockState(*m_engine->FindByPortName("COM1"), VSP_SOCKET_LISTENING));
    EXPECT_FALSE(m_engine->JobInProgress());
}

TEST_F(EngineTest, StartUpWithNoStoredPortsStartsNoJob) {
    MakeEngine();
    m_engine->Start();
    EXPECT_FALSE(m_engine->JobInProgress());
    EXPECT_EQ(m_engine->Rows().RowCount(), 0);
}
