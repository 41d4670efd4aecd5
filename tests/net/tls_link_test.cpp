#include "CTolSSLSock.h"
#include "TlsTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/socket.h>

using namespace tls_test;

namespace {

std::string Pattern(std::size_t length) {
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>(i * 13 + i / 241);
    return text;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class TlsLink : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CertificateFiles::Get().IsValid()); }
    std::filesystem::path Logs() const { return logFolder.path().toStdString(); }
    const std::filesystem::path& Files() const { return CertificateFiles::Get().Directory(); }

    // A client port aimed at a server port on loopback, both links up and the handshake finished.
    void Connect(TlsPort& client, TlsPort& server, const std::string& serverAddress = "127.0.0.1") {
        client.data.PeerName = serverAddress;
        client.data.PeerPort = server.data.LocalPort;
        const int connectedBefore = client.sink.Count(WM_LINK_CONNECTED);
        ASSERT_TRUE(client.link.CreateSocket());
        ASSERT_TRUE(WaitFor([&] { return client.sink.Count(WM_LINK_CONNECTED) > connectedBefore; }));
        ASSERT_TRUE(WaitFor([&] { return server.link.GetSSLState() == CSSLSocket::TLS_ESTABLISHED; }));
    }

    QTemporaryDir logFolder;
};

// A server port listening on a free loopback port.
void Listen(TlsPort& server) {
    server.data.LocalPort = FreeLoopbackPort();
    ASSERT_TRUE(server.link.CreateSocket());
    ASSERT_EQ(server.data.SockState, VSP_SOCKET_LISTENING);
}

} // namespace

TEST_F(TlsLink, ClientTalksToAnOpensslServerAndSendsTheServerName) {
    OpenSslPeer server({"s_server", "-accept", "127.0.0.1:0", "-cert", "cert.pem", "-key", "peer-key.pem",
                        "-servername", "localhost", "-cert2", "cert.pem", "-key2", "peer-key.pem"},
                       Files());
    // The server announces its port as "ACCEPT 127.0.0.1:<port>" on a line of its own.
    const std::string announced = "ACCEPT 127.0.0.1:";
    const auto announcement = [&] { return server.Output().find(announced); };
    ASSERT_TRUE(WaitFor(
        [&] {
            return announcement() != std::string::npos &&
                   server.Output().find('\n', announcement()) != std::string::npos;
        },
        10000));
    const int serverPort = std::stoi(server.Output().substr(announcement() + announced.size()));

    TlsPort port(VSP_MODE_TCP_CLIENT, Logs(), "COM1");
    port.data.PeerName = "localhost";
    port.data.PeerPort = serverPort;
    ASSERT_TRUE(port.link.CreateSocket());
    EXPECT_EQ(port.data.SockState, VSP_SOCKET_CONNECTING);
    EXPECT_EQ(port.Send("early"), 0);
    ASSERT_TRUE(WaitFor([&] { return port.sink.Count(WM_LINK_CONNECTED) == 1; }, 10000));
    EXPECT_EQ(port.sink.Count(WM_TLS_STARTED), 1);
    EXPECT_EQ(port.link.GetSSLState(), CSSLSocket::TLS_ESTABLISHED);
    EXPECT_EQ(port.data.SockState, VSP_SOCKET_CONNECTED);
    EXPECT_TRUE(WaitFor([&] { return server.OutputContains("Hostname in TLS extension: \"localhost\""); }))
        << server.Output();

    EXPECT_EQ(port.Send("to-server\n"), 10);
    EXPECT_TRUE(WaitFor([&] { return server.OutputContains("to-server"); }));
    server.Write("from-server\n");
    std::string received;
    EXPECT_TRUE(WaitFor([&] {
        received += port.TakeReceived();
        return received == "from-server\n";
    })) << received;
    EXPECT_EQ(port.data.NetRecvBytes, 12);
    EXPECT_GT(port.sink.ReadyCount(), 0);
    // Session tickets after the handshake must not report the connection a second time.
    EXPECT_EQ(port.sink.Count(WM_LINK_CONNECTED), 1);
    EXPECT_EQ(port.link.GetSSLState(), CSSLSocket::TLS_ESTABLISHED);
    const std::string log = port.SystemLog();
    EXPECT_TRUE(Contains(log, "apps_ssl_info_callback : SSL_connect : ")) << log;
    EXPECT_TRUE(Contains(log, "apps_ssl_info_callback : SSL Handshake finished.\r\n")) << log;
}

TEST_F(TlsLink, ServerAcceptsAnOpensslClient) {
    ScopedWorkingDirectory inFiles(Files());
    TlsPort port(VSP_MODE_TCP_SERVER, Logs(), "COM2");
    Listen(port);
    OpenSslPeer client({"s_client", "-connect", QString("127.0.0.1:%1").arg(port.data.LocalPort), "-quiet"},
                       Files());
    ASSERT_TRUE(WaitFor([&] { return port.sink.Count(WM_LINK_CONNECTED) == 1; }, 10000)) << client.Output();
    EXPECT_EQ(port.sink.Count(WM_TLS_STARTED), 1);
    EXPECT_EQ(port.data.SockState, VSP_SOCKET_CONNECTED);
    EXPECT_EQ(port.data.RemoteAddress.rfind("127.0.0.1:", 0), 0u) << port.data.RemoteAddress;

    client.Write("to-port\n");
    std::string received;
    EXPECT_TRUE(WaitFor([&] {
        received += port.TakeReceived();
        return received == "to-port\n";
    })) << received;
    EXPECT_EQ(port.Send("to-client\n"), 10);
    EXPECT_TRUE(WaitFor([&] { return client.OutputContains("to-client"); })) << client.Output();

    const std::string log = port.SystemLog();
    EXPECT_TRUE(Contains(log, "apps_ssl_info_callback : SSL_accept : ")) << log;
    EXPECT_FALSE(Contains(log, "Can't read")) << log;
    // 1024-bit parameters are below the library's default security level: refused, and the handshake
    // above went on with elliptic-curve key exchange.
    EXPECT_TRUE(Contains(log, "Couldn't set DH parameters\r\n")) << log;
}

TEST_F(TlsLink, ServerWithoutCertificateFilesListensAndAcceptsButTheHandshakeFails) {
    QTemporaryDir empty;
    ScopedWorkingDirectory nowhere(empty.path().toStdString());
    TlsPort server(VSP_MODE_TCP_SERVER, Logs(), "COM3");
    TlsPort client(VSP_MODE_TCP_CLIENT, Logs(), "COM4");
    Listen(server);
    client.data.PeerName = "127.0.0.1";
    client.data.PeerPort = server.data.LocalPort;
    ASSERT_TRUE(client.link.CreateSocket());

    EXPECT_TRUE(WaitFor([&] { return client.link.GetSSLState() == CSSLSocket::TLS_FAILED; }));
    EXPECT_TRUE(WaitFor([&] { return server.link.GetSSLState() == CSSLSocket::TLS_FAILED; }));
    EXPECT_EQ(server.sink.Count(WM_TLS_STARTED), 1);
    EXPECT_EQ(server.sink.Count(WM_LINK_CONNECTED), 0);
    EXPECT_EQ(client.sink.Count(WM_LINK_CONNECTED), 0);
    EXPECT_EQ(client.Send("refused"), 0);

    const std::string serverLog = server.SystemLog();
    for (const char* line : {"Couldn't open DH file\r\n", "Can't read certificate file\r\n",
                             "Can't read key file\r\n", "Can't read CA list\r\n"})
        EXPECT_TRUE(Contains(serverLog, line)) << line;
    const std::string clientLog = client.SystemLog();
    EXPECT_TRUE(Contains(clientLog, "SSL3 alert ")) << clientLog;
    EXPECT_TRUE(Contains(clientLog, "apps_ssl_info_callback : SSL_connect : error in ") ||
                Contains(clientLog, "apps_ssl_info_callback : SSL_connect : failed in "))
        << clientLog;
}

// A peer that takes the TCP connection and never answers the handshake: the link stays in its handshake,
// refuses data, and can be reset to idle.
TEST_F(TlsLink, DataIsRefusedUntilTheHandshakeHasFinished) {
    TlsPort silent(VSP_MODE_TCP_SERVER, Logs(), "COM5");
    TlsPort port(VSP_MODE_TCP_CLIENT, Logs(), "COM6");
    Listen(silent);
    // A server that believes it has a client takes nobody off its listen queue.
    silent.data.SockState = VSP_SOCKET_CONNECTED;

    port.data.PeerName = "127.0.0.1";
    port.data.PeerPort = silent.data.LocalPort;
    ASSERT_TRUE(port.link.CreateSocket());
    EXPECT_EQ(port.Send("early"), 0);
    ASSERT_TRUE(WaitFor([&] { return port.sink.Count(WM_TLS_STARTED) == 1; }));
    EXPECT_EQ(port.data.SockState, VSP_SOCKET_SSL_HANDSHAKE);
    EXPECT_NE(port.data.SslStartTick, 0u);
    const int state = port.link.GetSSLState();
    EXPECT_TRUE(state == CSSLSocket::TLS_HANDSHAKE_STARTED || state == CSSLSocket::TLS_HANDSHAKE_RUNNING)
        << state;
    EXPECT_EQ(port.Send("early"), 0);

    port.link.ResetToIdle();
    EXPECT_EQ(port.link.GetSSLState(), CSSLSocket::TLS_IDLE);
    EXPECT_FALSE(port.link.IsWriteBlocked());
}

TEST_F(TlsLink, DecryptedDataReachesThePortInPiecesOfAtMost2048Bytes) {
    ScopedWorkingDirectory inFiles(Files());
    TlsPort server(VSP_MODE_TCP_SERVER, Logs(), "COM7");
    TlsPort client(VSP_MODE_TCP_CLIENT, Logs(), "COM8");
    Listen(server);
    Connect(client, server);

    const std::string data = Pattern(4096);
    EXPECT_EQ(client.link.SendData(reinterpret_cast<const unsigned char*>(data.data()), 4096), 4096);
    ASSERT_TRUE(WaitFor([&] { return server.data.NetToPortQueued() == 4096; }));
    std::string received;
    while (!server.data.NetToPortQueue.IsEmpty()) {
        const auto chunk = server.data.NetToPortQueue.TakeHead();
        EXPECT_LE(chunk.size(), 2048u);
        received.append(chunk.begin(), chunk.end());
    }
    EXPECT_EQ(received, data);
    EXPECT_EQ(server.Send("back"), 4);
    std::string answer;
    EXPECT_TRUE(WaitFor([&] {
        answer += client.TakeReceived();
        return answer == "back";
    }));
}

TEST_F(TlsLink, ServerOnIpv6) {
    ScopedWorkingDirectory inFiles(Files());
    TlsPort server(VSP_MODE_TCP_SERVER, Logs(), "COM13");
    TlsPort client(VSP_MODE_TCP_CLIENT, Logs(), "COM14");
    server.data.TcpServerType = 1;
    Listen(server);
    Connect(client, server, "::1");
    EXPECT_EQ(server.data.RemoteAddress.rfind("[::1]:", 0), 0u) << server.data.RemoteAddress;
    EXPECT_EQ(client.Send("six"), 3);
    std::string received;
    EXPECT_TRUE(WaitFor([&] {
        received += server.TakeReceived();
        return received == "six";
    }));
}

TEST_F(TlsLink, ASecondClientWaitsUntilTheFirstHasGone) {
    ScopedWorkingDirectory inFiles(Files());
    TlsPort server(VSP_MODE_TCP_SERVER, Logs(), "COM9");
    TlsPort first(VSP_MODE_TCP_CLIENT, Logs(), "COM10");
    TlsPort second(VSP_MODE_TCP_CLIENT, Logs(), "COM11");
    Listen(server);
    Connect(first, server);

    second.data.PeerName = "127.0.0.1";
    second.data.PeerPort = server.data.LocalPort;
    ASSERT_TRUE(second.link.CreateSocket());
    ASSERT_TRUE(WaitFor([&] { return second.sink.Count(WM_TLS_STARTED) == 1; }));
    // A round trip on the first connection shows the server busy with its events meanwhile.
    EXPECT_EQ(first.Send("ping"), 4);
    std::string received;
    ASSERT_TRUE(WaitFor([&] {
        received += server.TakeReceived();
        return received == "ping";
    }));
    EXPECT_NE(second.link.GetSSLState(), CSSLSocket::TLS_ESTABLISHED);
    EXPECT_EQ(server.sink.Count(WM_TLS_STARTED), 1);

    first.link.CloseSocket();
    ASSERT_TRUE(WaitFor([&] { return second.sink.Count(WM_LINK_CONNECTED) == 1; }));
    EXPECT_EQ(server.sink.Count(WM_LINK_CLOSED), 1);
    EXPECT_EQ(server.sink.Count(WM_TLS_STARTED), 2);
    EXPECT_EQ(second.Send("hello"), 5);
    received.clear();
    EXPECT_TRUE(WaitFor([&] {
        received += server.TakeReceived();
        return received == "hello";
    }));
}

// Ciphertext keeps coming while the platform takes nothing: it waits behind the blocked bytes, past the
// buffer's first size, and goes out whole and in order once the peer reads.
TEST_F(TlsLink, CiphertextWaitsInOrderWhileTheSocketIsBlocked) {
    TlsPort owner(VSP_MODE_TCP_CLIENT, Logs(), "COM12");
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const int small = 4096;
    ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    CTolSSLSock socket(owner.link, owner.data, owner.portLog, owner.programLog);
    ASSERT_TRUE(socket.Attach(pair[0]));
    socket.SetConnected(true);

    const std::string data = Pattern(5 * CTolSSLSock::SendBufferSize);
    for (std::size_t offset = 0; offset < data.size(); offset += 4096)
        ASSERT_EQ(socket.SendCiphertext(reinterpret_cast<const unsigned char*>(data.data() + offset), 4096),
                  0);
    EXPECT_TRUE(socket.IsWriteBlocked());
    EXPECT_GT(socket.PendingLength(), CTolSSLSock::SendBufferSize);

    std::string received;
    EXPECT_TRUE(WaitFor([&] {
        char buffer[8192];
        ssize_t count;
        while ((count = ::recv(pair[1], buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            received.append(buffer, static_cast<std::size_t>(count));
        return received.size() == data.size() && !socket.IsWriteBlocked();
    }));
    EXPECT_TRUE(received == data);
    EXPECT_EQ(socket.PendingLength(), 0);
    EXPECT_GT(owner.sink.ReadyCount(), 0);
    ::close(pair[1]);
}
