#include "CLinkMessageSink.h"
#include "CNormalSocket.h"
#include "CVSPDataBasic.h"
#include "CVSPLog.h"
#include "LoopbackPeer.h"
#include "WaitFor.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <netinet/tcp.h>
#include <sstream>

namespace {

struct LinkMessage {
    int message;
    int vspId;
    long lParam;
};

class RecordingSink : public CLinkMessageSink {
public:
    void OnLinkMessage(int message, int vspId, long lParam) override {
        messages.push_back({message, vspId, lParam});
        if (onMessage)
            onMessage(message);
    }
    void OnLinkReady(int) override { ++readyCalls; }

    int Count(int message) const {
        int count = 0;
        for (const LinkMessage& m : messages)
            count += m.message == message;
        return count;
    }
    long ParamOf(int message) const {
        for (const LinkMessage& m : messages)
            if (m.message == message)
                return m.lParam;
        return -1;
    }

    std::vector<LinkMessage> messages;
    int readyCalls = 0;
    std::function<void(int)> onMessage;
};

class TelnetRecorder : public CTelnetReceiver {
public:
    int ProcessReceived(const unsigned char* data, int length) override {
        received.insert(received.end(), data, data + length);
        return length;
    }
    std::vector<unsigned char> received;
};

std::vector<unsigned char> Pattern(std::size_t length) {
    std::vector<unsigned char> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<unsigned char>(i % 251);
    return bytes;
}

std::vector<unsigned char> Drain(CChunkQueue& queue) {
    std::vector<unsigned char> bytes;
    while (!queue.IsEmpty()) {
        const CChunkQueue::Chunk chunk = queue.TakeHead();
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    }
    return bytes;
}

// The descriptor of this process's socket bound to the local TCP port, so a test can shrink its buffers.
int OwnSocketOnPort(int localPort) {
    for (int fd = 3; fd < 1024; ++fd) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.ss_family == AF_INET &&
            ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port) == localPort)
            return fd;
    }
    return -1;
}

class NormalSocketTest : public ::testing::Test {
protected:
    NormalSocketTest() : programLog(LogFolder()), portLog(LogFolder()) {}

    std::filesystem::path LogFolder() const { return dir.path().toStdString(); }

    void SetUp() override {
        port.VspId = 8001;
        port.PortName = "COM7";
        port.VspState = VSP_OPENED;
        link->SetMessageSink(&sink);
    }

    // A TCP client link connected to a peer listening on `host`; returns the peer's side.
    LoopbackPeer ConnectClient(const std::string& host, int receiveBuffer = 0, int maxSegment = 0) {
        LoopbackPeer listener = LoopbackPeer::Bound(host, SOCK_STREAM, 0, receiveBuffer);
        if (maxSegment > 0)
            ::setsockopt(listener.Fd(), IPPROTO_TCP, TCP_MAXSEG, &maxSegment, sizeof maxSegment);
        port.VspMode = VSP_MODE_TCP_CLIENT;
        port.PeerName = host;
        port.PeerPort = listener.LocalPort();
        EXPECT_TRUE(link->CreateSocket());
        EXPECT_EQ(port.SockState, VSP_SOCKET_CONNECTING);
        EXPECT_TRUE(WaitFor([&] { return sink.Count(WM_LINK_CONNECTED) == 1; }));
        LoopbackPeer accepted;
        EXPECT_TRUE(WaitFor([&] { return (accepted = listener.Accept()).IsOpen(); }));
        return accepted;
    }

    // A TCP server link listening on a free port of the family of `host`.
    void Listen(const std::string& host) {
        port.VspMode = VSP_MODE_TCP_SERVER;
        port.TcpServerType = host == "::1" ? 1 : 0;
        port.LocalPort = LoopbackPeer::FreePort();
        ASSERT_TRUE(link->CreateSocket());
        ASSERT_EQ(port.SockState, VSP_SOCKET_LISTENING);
    }

    LoopbackPeer ConnectToServer(const std::string& host) {
        LoopbackPeer client = LoopbackPeer::Connected(host, port.LocalPort);
        EXPECT_TRUE(WaitFor([&] { return sink.Count(WM_LINK_ACCEPTED) == 1; }));
        return client;
    }

    // Waits until `expected` bytes arrived in the port's inbound queue, draining it as the pump would.
    std::vector<unsigned char> ReceiveThroughPump(std::size_t expected) {
        std::vector<unsigned char> received;
        WaitFor([&] {
            const std::vector<unsigned char> more = Drain(port.NetToPortQueue);
            received.insert(received.end(), more.begin(), more.end());
            link->PollReceive();
            return received.size() >= expected;
        });
        return received;
    }

    QTemporaryDir dir;
    CVSPLog programLog;
    CVSPLog portLog;
    CVSPDataBasic port;
    RecordingSink sink;
    std::unique_ptr<CNormalSocket> link = std::make_unique<CNormalSocket>(port, programLog, portLog);
};

class NormalSocketFamilyTest : public NormalSocketTest, public ::testing::WithParamInterface<std::string> {};

INSTANTIATE_TEST_SUITE_P(Loopback, NormalSocketFamilyTest, ::testing::Values("127.0.0.1", "::1"));

TEST_P(NormalSocketFamilyTest, ClientConnectsAndCarriesBytesBothWays) {
    const LoopbackPeer peer = ConnectClient(GetParam());
    EXPECT_EQ(port.SockState, VSP_SOCKET_CONNECTED);
    EXPECT_EQ(sink.messages.front().vspId, 8001);

    ASSERT_TRUE(peer.Send("hello"));
    ASSERT_TRUE(WaitFor([&] { return port.NetToPortQueued() == 5; }));
    EXPECT_EQ(port.NetRecvBytes, 5);
    EXPECT_GT(sink.readyCalls, 0);

    const unsigned char reply[] = {'o', 'k', 0xFF};
    EXPECT_EQ(link->SendData(reply, 3), 3);
    std::vector<unsigned char> got;
    ASSERT_TRUE(WaitFor([&] { return peer.ReadAvailable(got) && got.size() == 3; }));
    EXPECT_EQ(got, std::vector<unsigned char>(reply, reply + 3));
}

TEST_F(NormalSocketTest, RefusedConnectIsReportedWithItsErrno) {
    port.VspMode = VSP_MODE_TCP_CLIENT;
    port.PeerName = "127.0.0.1";
    {
        const LoopbackPeer closedAgain = LoopbackPeer::Bound("127.0.0.1", SOCK_STREAM);
        port.PeerPort = closedAgain.LocalPort();
    }
    link->CreateSocket();
    ASSERT_TRUE(WaitFor([&] { return sink.Count(WM_LINK_FAILED) == 1; }));
    EXPECT_EQ(sink.ParamOf(WM_LINK_FAILED), ECONNREFUSED);
    EXPECT_EQ(sink.Count(WM_LINK_CONNECTED), 0);
}

TEST_F(NormalSocketTest, UnresolvablePeerFailsWithTheResolverCodeAndLogsIt) {
    ASSERT_EQ(portLog.OpenDataLog("COM7"), 0);
    port.LogData = 1;
    port.PeerName = "no.such.host.invalid";
    for (int mode : {VSP_MODE_TCP_CLIENT, VSP_MODE_UDP}) {
        port.VspMode = mode;
        sink.messages.clear();
        EXPECT_FALSE(link->CreateSocket());
        ASSERT_EQ(sink.Count(WM_LINK_FAILED), 1);
        EXPECT_LT(sink.ParamOf(WM_LINK_FAILED), 0) << "a resolver code, not an errno";
    }
    std::ifstream file(portLog.DataLogPath());
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("The port's TCP CreateSocket Error(ResolveAddress)."), std::string::npos);
}

TEST_P(NormalSocketFamilyTest, ServerAcceptsAClientAndRecordsItsAddress) {
    Listen(GetParam());
    const LoopbackPeer client = ConnectToServer(GetParam());
    EXPECT_EQ(port.SockState, VSP_SOCKET_CONNECTED);
    const std::string expected = GetParam() == "::1" ? "[::1]:" + std::to_string(client.LocalPort())
                                                     : "127.0.0.1:" + std::to_string(client.LocalPort());
    EXPECT_EQ(port.RemoteAddress, expected);

    ASSERT_TRUE(client.Send("abc"));
    EXPECT_TRUE(WaitFor([&] { return port.NetToPortQueued() == 3; }));
}

TEST_F(NormalSocketTest, SecondClientIsClosedWhileTheFirstKeepsTheLink) {
    Listen("127.0.0.1");
    const LoopbackPeer first = ConnectToServer("127.0.0.1");
    const std::string firstAddress = port.RemoteAddress;

    LoopbackPeer second = LoopbackPeer::Connected("127.0.0.1", port.LocalPort);
    std::vector<unsigned char> ignored;
    ASSERT_TRUE(WaitFor([&] { return !second.ReadAvailable(ignored); })) << "the newcomer is closed";
    EXPECT_EQ(sink.Count(WM_LINK_ACCEPTED), 1);
    EXPECT_EQ(port.RemoteAddress, firstAddress);

    ASSERT_TRUE(first.Send("still here"));
    EXPECT_TRUE(WaitFor([&] { return port.NetToPortQueued() == 10; }));
    const unsigned char reply[] = {'y'};
    EXPECT_EQ(link->SendData(reply, 1), 1);
    std::vector<unsigned char> got;
    EXPECT_TRUE(WaitFor([&] { return first.ReadAvailable(got) && got.size() == 1; }));
}

TEST_F(NormalSocketTest, IPv4AndIPv6ServersShareOnePortNumber) {
    Listen("127.0.0.1");
    CVSPDataBasic ipv6Port;
    ipv6Port.VspId = 8002;
    ipv6Port.VspState = VSP_OPENED;
    ipv6Port.VspMode = VSP_MODE_TCP_SERVER;
    ipv6Port.TcpServerType = 1;
    ipv6Port.LocalPort = port.LocalPort;
    CNormalSocket ipv6Link(ipv6Port, programLog, portLog);
    RecordingSink ipv6Sink;
    ipv6Link.SetMessageSink(&ipv6Sink);
    ASSERT_TRUE(ipv6Link.CreateSocket()) << ipv6Sink.ParamOf(WM_LINK_FAILED);

    const LoopbackPeer v4 = LoopbackPeer::Connected("127.0.0.1", port.LocalPort);
    const LoopbackPeer v6 = LoopbackPeer::Connected("::1", port.LocalPort);
    ASSERT_TRUE(
        WaitFor([&] { return sink.Count(WM_LINK_ACCEPTED) == 1 && ipv6Sink.Count(WM_LINK_ACCEPTED) == 1; }));
    EXPECT_EQ(port.RemoteAddress.rfind("127.0.0.1:", 0), 0u);
    EXPECT_EQ(ipv6Port.RemoteAddress.rfind("[::1]:", 0), 0u);
}

TEST_F(NormalSocketTest, PeerCloseOfAClientIsReported) {
    LoopbackPeer peer = ConnectClient("127.0.0.1");
    ASSERT_TRUE(peer.Send("last words"));
    peer.Close();
    ASSERT_TRUE(WaitFor([&] { return sink.Count(WM_LINK_CLOSED) == 1; }));
    EXPECT_EQ(sink.ParamOf(WM_LINK_CLOSED), 0);
    EXPECT_EQ(Drain(port.NetToPortQueue).size(), 10u) << "bytes sent before the close are not lost";
}

TEST_F(NormalSocketTest, ServerKeepsListeningAfterItsClientCloses) {
    // The engine puts a server whose client left back to listening.
    sink.onMessage = [&](int message) {
        if (message == WM_LINK_CLOSED)
            port.SockState = VSP_SOCKET_LISTENING;
    };
    Listen("::1");
    LoopbackPeer first = ConnectToServer("::1");
    first.Close();
    ASSERT_TRUE(WaitFor([&] { return sink.Count(WM_LINK_CLOSED) == 1; }));

    const LoopbackPeer next = LoopbackPeer::Connected("::1", port.LocalPort);
    ASSERT_TRUE(WaitFor([&] { return sink.Count(WM_LINK_ACCEPTED) == 2; }));
    ASSERT_TRUE(next.Send("again"));
    EXPECT_TRUE(WaitFor([&] { return port.NetToPortQueued() == 5; }));
}

TEST_F(NormalSocketTest, CreateSocketOnAServerInUseChangesNothing) {
    Listen("127.0.0.1");
    EXPECT_TRUE(link->CreateSocket());
    EXPECT_EQ(port.SockState, VSP_SOCKET_LISTENING);

    const LoopbackPeer client = ConnectToServer("127.0.0.1");
    EXPECT_TRUE(link->CreateSocket());
    EXPECT_EQ(port.SockState, VSP_SOCKET_CONNECTED);
    ASSERT_TRUE(client.Send("kept"));
    EXPECT_TRUE(WaitFor([&] { return port.NetToPortQueued() == 4; }));
    EXPECT_EQ(sink.Count(WM_LINK_FAILED), 0);
}

TEST_P(NormalSocketFamilyTest, UdpCarriesDatagramsBothWaysAndFromAnySender) {
    const std::string host = GetParam();
    const LoopbackPeer peer = LoopbackPeer::Bound(host, SOCK_DGRAM);
    port.VspMode = VSP_MODE_UDP;
    port.PeerName = host;
    port.PeerPort = peer.LocalPort();
    port.LocalPort = LoopbackPeer::Bound(host, SOCK_DGRAM).LocalPort();
    ASSERT_TRUE(link->CreateSocket()) << sink.ParamOf(WM_LINK_FAILED);
    EXPECT_EQ(port.SockState, VSP_SOCKET_UDP_OPEN);

    const std::vector<unsigned char> out = {1, 2, 3, 4};
    EXPECT_EQ(link->SendData(out.data(), 4), 4);
    std::vector<unsigned char> got;
    int fromPort = 0;
    ASSERT_TRUE(WaitFor([&] { return !(got = peer.ReceiveDatagram(&fromPort)).empty(); }));
    EXPECT_EQ(got, out);
    EXPECT_EQ(fromPort, port.LocalPort) << "sent from the port's local port";

    ASSERT_TRUE(peer.SendTo({9, 8, 7}, host, port.LocalPort));
    const LoopbackPeer stranger = LoopbackPeer::Bound(host, SOCK_DGRAM);
    ASSERT_TRUE(stranger.SendTo({6, 5}, host, port.LocalPort));
    EXPECT_EQ(ReceiveThroughPump(5), (std::vector<unsigned char>{9, 8, 7, 6, 5}));
}

TEST_F(NormalSocketTest, LargeDatagramsAreReadWhole) {
    const LoopbackPeer peer = LoopbackPeer::Bound("127.0.0.1", SOCK_DGRAM);
    port.VspMode = VSP_MODE_UDP;
    port.PeerName = "127.0.0.1";
    port.PeerPort = peer.LocalPort();
    port.LocalPort = LoopbackPeer::Bound("127.0.0.1", SOCK_DGRAM).LocalPort();
    ASSERT_TRUE(link->CreateSocket());

    for (std::size_t size : {5000u, 65507u}) {
        ASSERT_TRUE(peer.SendTo(Pattern(size), "127.0.0.1", port.LocalPort));
        ASSERT_TRUE(WaitFor([&] { return !port.NetToPortQueue.IsEmpty(); }));
        EXPECT_EQ(port.NetToPortQueue.ChunkCount(), 1u);
        EXPECT_EQ(Drain(port.NetToPortQueue), Pattern(size));
    }
}

TEST_F(NormalSocketTest, ReadingPausesAbove4096QueuedBytesAndResumes) {
    const LoopbackPeer peer = ConnectClient("127.0.0.1");
    const std::vector<unsigned char> sent = Pattern(20000);
    ASSERT_TRUE(peer.SendBytes(sent.data(), sent.size()));

    ASSERT_TRUE(WaitFor([&] { return port.NetToPortQueued() > CNormalSocket::RECEIVE_PAUSE_BYTES; }));
    // Give the notifications every chance to read on; the queue must not grow any further.
    const int paused = port.NetToPortQueued();
    WaitFor([] { return false; }, 200);
    EXPECT_EQ(port.NetToPortQueued(), paused);
    EXPECT_LE(paused, CNormalSocket::RECEIVE_PAUSE_BYTES + CNormalSocket::TCP_READ_BYTES);

    EXPECT_EQ(ReceiveThroughPump(sent.size()), sent);
}

TEST_F(NormalSocketTest, BlockedSendKeepsTheRestAndSendsItInOrder) {
    // Small buffers and segments make the system take the bytes piecemeal.
    const LoopbackPeer peer = ConnectClient("127.0.0.1", 4096, 536);
    sockaddr_in linkAddress{};
    socklen_t linkLength = sizeof linkAddress;
    ASSERT_EQ(::getpeername(peer.Fd(), reinterpret_cast<sockaddr*>(&linkAddress), &linkLength), 0);
    const int linkFd = OwnSocketOnPort(ntohs(linkAddress.sin_port));
    ASSERT_GE(linkFd, 0);
    const int sendBuffer = 4096;
    ASSERT_EQ(::setsockopt(linkFd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer), 0);
    const std::vector<unsigned char> chunk = Pattern(CNormalSocket::PENDING_CAPACITY);
    std::vector<unsigned char> sent;
    while (!link->IsWriteBlocked() && sent.size() < 256u * 1024 * 1024) {
        ASSERT_EQ(link->SendData(chunk.data(), static_cast<int>(chunk.size())),
                  static_cast<int>(chunk.size()));
        sent.insert(sent.end(), chunk.begin(), chunk.end());
    }
    ASSERT_TRUE(link->IsWriteBlocked());
    EXPECT_EQ(link->SendData(chunk.data(), 10), 0) << "nothing is taken while blocked";
    const int readyBefore = sink.readyCalls;

    // The peer reads; the link finishes the pending bytes when writable and the pump goes on sending.
    std::vector<unsigned char> received;
    const std::size_t target = sent.size() + 64 * chunk.size();
    ASSERT_TRUE(WaitFor(
        [&] {
            // A slow reader, so the pending bytes go out in pieces.
            peer.ReadAvailable(received, 700);
            if (!link->IsWriteBlocked() && sent.size() < target) {
                EXPECT_EQ(link->SendData(chunk.data(), static_cast<int>(chunk.size())),
                          static_cast<int>(chunk.size()));
                sent.insert(sent.end(), chunk.begin(), chunk.end());
            }
            return received.size() == target && sent.size() == target;
        },
        20000));
    EXPECT_TRUE(received == sent) << "bytes arrive whole and in order";
    EXPECT_GT(sink.readyCalls, readyBefore) << "the pump hears when the blocked send is done";
    EXPECT_EQ(sink.Count(WM_LINK_FAILED), 0);
}

TEST_F(NormalSocketTest, BytesForAClosedPortAreDroppedAndLogged) {
    ASSERT_EQ(portLog.OpenDataLog("COM7"), 0);
    port.LogData = 1;
    const LoopbackPeer peer = ConnectClient("127.0.0.1");
    port.VspState = VSP_CLOSED;
    ASSERT_TRUE(peer.Send("lost"));
    auto dataLog = [&] {
        std::ifstream file(portLog.DataLogPath());
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    };
    ASSERT_TRUE(WaitFor([&] { return dataLog().find("(DROPPED)") != std::string::npos; }));
    EXPECT_TRUE(port.NetToPortQueue.IsEmpty());
    EXPECT_EQ(port.NetRecvBytes, 0);
}

TEST_F(NormalSocketTest, TelnetPortHandsBytesToItsEngineWhileClosed) {
    TelnetRecorder telnet;
    link->SetTelnetReceiver(&telnet);
    port.TelComUse = 1;
    const LoopbackPeer peer = ConnectClient("127.0.0.1");
    port.VspState = VSP_CLOSED;
    const std::string command = "\xFF\xFB\x2C";
    ASSERT_TRUE(peer.Send(command));
    ASSERT_TRUE(WaitFor([&] { return telnet.received.size() == 3; }));
    EXPECT_EQ(std::string(telnet.received.begin(), telnet.received.end()), command);
    EXPECT_TRUE(port.NetToPortQueue.IsEmpty());

    port.VspState = VSP_OPENED;
    ASSERT_TRUE(peer.Send("data"));
    ASSERT_TRUE(WaitFor([&] { return port.NetToPortQueued() == 4; }));
    EXPECT_EQ(port.NetRecvBytes, 0) << "the Telnet engine counts its own port's bytes";
    EXPECT_EQ(telnet.received.size(), 3u);
}

TEST_F(NormalSocketTest, CloseSocketEndsTheConnection) {
    LoopbackPeer peer = ConnectClient("127.0.0.1");
    link->CloseSocket();
    std::vector<unsigned char> ignored;
    EXPECT_TRUE(WaitFor([&] { return !peer.ReadAvailable(ignored); }));
    EXPECT_EQ(sink.Count(WM_LINK_CLOSED), 0) << "our own close is no peer close";
}

} // namespace
