#include "EngineFixture.h"

#include "CPortListModel.h"
#include "PortRowText.h"

TEST(PortListOrder, ShorterNamesFirstThenByCharacterCode) {
    const std::vector<std::pair<const char*, const char*>> ordered = {
        {"COM2", "COM10"}, {"COM10", "COM11"}, {"COM9", "COM10"}, {"COMA", "COMa"}, {"COM1", "COM2"}};
    for (const auto& [first, second] : ordered) {
        EXPECT_TRUE(CPortListModel::PortNameLess(first, second)) << first << " " << second;
        EXPECT_FALSE(CPortListModel::PortNameLess(second, first)) << first << " " << second;
    }
}

TEST(PortListOrder, SortKeepsEachRowWithItsPort) {
    CPortListModel rows;
    rows.AppendRow(8000, "COM10", "ten", false);
    rows.AppendRow(8001, "COM2", "two", true);
    rows.AppendRow(8002, "COM1", "one", false);
    rows.SetChecked(0, true);
    rows.SortByPortName();
    EXPECT_EQ(rows.VspIdAt(0), 8002);
    EXPECT_EQ(rows.VspIdAt(1), 8001);
    EXPECT_EQ(rows.VspIdAt(2), 8000);
    EXPECT_TRUE(rows.IsChecked(2));
    EXPECT_EQ(rows.data(rows.index(1, CPortListModel::CommentColumn)).toString(), "two");
    EXPECT_EQ(rows.data(rows.index(1, CPortListModel::PortColumn), CPortListModel::ImageRole), 4);
    EXPECT_EQ(rows.data(rows.index(2, 0), CPortListModel::VspIdRole), 8000);
}

TEST(PortRowText, LinkTextFollowsStateAndMode) {
    struct Case {
        int mode, sock, ssl;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {VSP_MODE_TCP_CLIENT, VSP_SOCKET_NOT_CONNECTED, 0, "[Not Connected] host:4001"},
        {VSP_MODE_TCP_SERVER, VSP_SOCKET_NOT_CONNECTED, 0, "[Not Connected] 5000"},
        {VSP_MODE_UDP, VSP_SOCKET_NOT_CONNECTED, 0, "[Not Connected] host:4001, 5000"},
        {VSP_MODE_TCP_CLIENT, VSP_SOCKET_CONNECTED, 1, "[SSL:Connected] host:4001"},
        {VSP_MODE_TCP_SERVER, VSP_SOCKET_CONNECTED, 0, "[Connected] 10.0.0.9:3333"},
        {VSP_MODE_TCP_CLIENT, VSP_SOCKET_ERROR, 0, "[111] Connection refused\n"},
        {VSP_MODE_TCP_CLIENT, VSP_SOCKET_CONNECTING, 0, "[Connecting] host:4001"},
        {VSP_MODE_TCP_CLIENT, VSP_SOCKET_CLOSED, 0, "[Connecting] host:4001"},
        {VSP_MODE_TCP_SERVER, VSP_SOCKET_LISTENING, 1, "[SSL:Listening] 5000"},
        {VSP_MODE_TCP_SERVER, VSP_SOCKET_LISTENING, 0, "[Listening] 5000"},
        {VSP_MODE_UDP, VSP_SOCKET_UDP_OPEN, 0, "[Connected] host:4001, 5000"},
        {VSP_MODE_TCP_CLIENT, VSP_SOCKET_SSL_HANDSHAKE, 1, "[SSL:Connecting] host:4001"},
        {VSP_MODE_TCP_SERVER, VSP_SOCKET_SSL_HANDSHAKE, 1, "[SSL:Connecting] 10.0.0.9:3333"},
    };
    for (const Case& c : cases) {
        CVSPDataBasic port;
        port.VspMode = c.mode;
        port.SockState = c.sock;
        port.SSLUse = c.ssl;
        port.PeerName = "host";
        port.PeerPort = 4001;
        port.LocalPort = 5000;
        port.RemoteAddress = "10.0.0.9:3333";
        port.LastSockError = ECONNREFUSED;
        EXPECT_EQ(LinkStateText(port), c.expected) << c.mode << " " << c.sock;
    }
}

TEST(PortRowText, ImagesFollowPortStateAndBypass) {
    struct Case {
        int vsp, sock, bypass, portImage, linkImage;
    };
    const std::vector<Case> cases = {
        {VSP_CLOSED, VSP_SOCKET_NOT_CONNECTED, 0, 0, 0},    {VSP_CLOSED, VSP_SOCKET_CONNECTED, 1, 4, 2},
        {VSP_OPENED, VSP_SOCKET_UDP_OPEN, 1, 2, 2},         {VSP_ATTACH_FAILED, VSP_SOCKET_ERROR, 0, 1, 1},
        {VSP_ATTACH_FAILED, VSP_SOCKET_LISTENING, 1, 4, 0}, {VSP_STOP, VSP_SOCKET_CONNECTED, 0, 3, 3},
    };
    for (const Case& c : cases) {
        CVSPDataBasic port;
        port.VspState = c.vsp;
        port.SockState = c.sock;
        port.Bypass = c.bypass;
        EXPECT_EQ(PortStateImage(port), c.portImage) << c.vsp << " " << c.bypass;
        EXPECT_EQ(LinkStateImage(port), c.linkImage) << c.vsp << " " << c.sock;
    }
}

TEST_F(EngineTest, ValidationRefusesWithTheFirstBrokenRule) {
    MakeEngine();
    ASSERT_TRUE(Create(ServerSettings("COM1", 6001)));
    PortSettings udp = UdpSettings("COM2", 7000, 6002);
    ASSERT_TRUE(Create(udp));

    struct Case {
        PortSettings settings;
        std::string message; // empty: accepted
    };
    auto with = [](PortSettings settings, auto change) {
        change(settings);
        return settings;
    };
    std::vector<Case> cases;
    cases.push_back({with(ClientSettings("COM3", 1), [](auto& s) { s.PeerName.clear(); }),
                     "Please enter host IP address/name."});
    cases.push_back({ServerSettings("COM3", 6001), "The local port number is duplicated."});
    cases.push_back({with(ServerSettings("COM3", 6001), [](auto& s) { s.TcpServerType = 1; }), ""});
    cases.push_back({ServerSettings("COM1", 6001), ""});
    cases.push_back({UdpSettings("COM3", 1, 6002), "The local port number is duplicated."});
    cases.push_back({UdpSettings("COM3", 1, 6001), ""});
    cases.push_back({with(UdpSettings("COM3", 1, 6003), [](auto& s) { s.TelComUse = s.SSLUse = 1; }),
                     "Telnet COM Port Control(RFC2217) option can't use with UDP."});
    cases.push_back({with(ClientSettings("COM3", 1), [](auto& s) { s.TelComUse = s.SSLUse = 1; }),
                     "Telnet COM Port Control(RFC2217) option can't use with SSL."});
    cases.push_back(
        {with(UdpSettings("COM3", 1, 6003), [](auto& s) { s.SSLUse = 1; }), "SSL can't use with UDP."});
    for (const Case& c : cases) {
        m_notifier.errors.clear();
        EXPECT_EQ(m_engine->ValidatePort(*c.settings.Page()), c.message.empty()) << c.message;
        EXPECT_EQ(m_notifier.errors,
                  c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
    }
}

TEST_F(EngineTest, CommandsThatChangePortsRefuseWhileAJobRuns) {
    MakeEngine();
    ASSERT_TRUE(m_engine->CreatePort(*ServerSettings("COM1", FreeTcpPort()).Page()));
    ASSERT_TRUE(m_engine->JobInProgress());
    EXPECT_FALSE(m_engine->CreatePort(*ServerSettings("COM2", FreeTcpPort()).Page()));
    EXPECT_FALSE(m_engine->DeleteAllPorts());
    ASSERT_EQ(m_notifier.errors, (std::vector<std::string>(2, "There is a job in progress.")));
    ASSERT_TRUE(WaitFor([&] { return !m_engine->JobInProgress(); }));
    EXPECT_EQ(m_engine->Rows().RowCount(), 1);
}

TEST_F(EngineTest, ModifyRestartsTheLinkWithTheNewSettings) {
    MakeEngine();
    PortSettings settings = ServerSettings("COM1", FreeTcpPort());
    CVSPDataEx* port = Create(settings);
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_LISTENING));
    settings.LocalPort = FreeTcpPort();
    settings.PortComments = "moved";
    ASSERT_TRUE(m_engine->ModifyPort(port->VspId, *settings.Page()));
    Descriptor client = ConnectTo(settings.LocalPort);
    EXPECT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED));
    EXPECT_EQ(RowText(*port, CPortListModel::CommentColumn), "moved");
    CVSPDataBasic stored;
    m_store->ReadPort("COM1", stored);
    EXPECT_EQ(stored.LocalPort, settings.LocalPort);
}
