#include "../net/TlsTestSupport.h"
#include "EngineFixture.h"

#include "CPortListModel.h"
#include "CSSLSocket.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <iostream>
#include <memory>

// TLS ports at work in the engine: real pseudo-terminals, openssl peers and loopback sockets.

using namespace tls_test;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// A TLS server the test drives by hand on an accepted loopback connection, so that the test decides when
// the handshake may go on.
class HandDrivenTlsServer {
public:
    HandDrivenTlsServer(Descriptor connection, const std::filesystem::path& files)
        : m_connection(std::move(connection)), m_context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free) {
        SSL_CTX_use_certificate_file(m_context.get(), (files / "cert.pem").c_str(), SSL_FILETYPE_PEM);
        SSL_CTX_use_PrivateKey_file(m_context.get(), (files / "peer-key.pem").c_str(), SSL_FILETYPE_PEM);
        m_ssl.reset(SSL_new(m_context.get()));
        SSL_set_fd(m_ssl.get(), m_connection.Fd());
        SSL_set_accept_state(m_ssl.get());
    }

    bool Handshake() {
        return WaitFor([&] {
            const int result = SSL_do_handshake(m_ssl.get());
            if (result == 1)
                return true;
            const int error = SSL_get_error(m_ssl.get(), result);
            return error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE &&
                   (ERR_clear_error(), false);
        });
    }
    std::string Receive(std::size_t count) {
        std::string received;
        WaitFor([&] {
            char buffer[4096];
            for (int n; (n = SSL_read(m_ssl.get(), buffer, sizeof buffer)) > 0;)
                received.append(buffer, static_cast<std::size_t>(n));
            return received.size() >= count;
        });
        return received;
    }

private:
    struct SslFree {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };
    Descriptor m_connection;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> m_context;
    std::unique_ptr<SSL, SslFree> m_ssl;
};

class TlsPortTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_TRUE(CertificateFiles::Get().IsValid());
        MakeEngine();
    }
    const std::filesystem::path& Files() const { return CertificateFiles::Get().Directory(); }

    // A TLS port created as the Create page does, its system log written from the start.
    CVSPDataEx* CreateTls(PortSettings settings) {
        settings.SSLUse = 1;
        settings.LogSystem = 1;
        return Create(settings);
    }
    std::string SystemLog(CVSPDataEx& port) const { return ReadWholeFile(port.PortLog().SystemLogPath()); }

    static QString Loopback(int port) { return QString("127.0.0.1:%1").arg(port); }
};

// An openssl server on a given loopback port; true once it listens.
bool WaitListening(OpenSslPeer& server) {
    return WaitFor([&] { return server.OutputContains("ACCEPT"); }, 10000);
}

QStringList OpensslServerArguments(int port) {
    return {"s_server", "-accept",     QString("127.0.0.1:%1").arg(port), "-cert", "cert.pem",
            "-key",     "peer-key.pem"};
}

QStringList OpensslClientArguments(int port) {
    return {"s_client", "-connect", QString("127.0.0.1:%1").arg(port), "-quiet"};
}

} // namespace

TEST_F(TlsPortTest, ClientPortCarriesBytesBothWaysWithAnOpensslServer) {
    const int serverPort = FreeTcpPort();
    OpenSslPeer server(OpensslServerArguments(serverPort), Files());
    ASSERT_TRUE(WaitListening(server)) << server.Output();

    CVSPDataEx* port = CreateTls(ClientSettings("COM3", serverPort));
    ASSERT_NE(port, nullptr);
    Descriptor application = OpenSerial(LinkPath("COM3"));
    ASSERT_TRUE(application.IsOpen());
    ASSERT_TRUE(WaitForOpened(*port));
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED, 10000)) << server.Output();
    EXPECT_EQ(port->SslSocket().GetSSLState(), CSSLSocket::TLS_ESTABLISHED);
    const std::string connectedRow = "[SSL:Connected] " + Loopback(serverPort).toStdString();
    EXPECT_TRUE(WaitFor([&] { return RowText(*port, CPortListModel::LinkColumn) == connectedRow; }))
        << RowText(*port, CPortListModel::LinkColumn);

    ASSERT_TRUE(application.Send("to-server\n"));
    EXPECT_TRUE(WaitFor([&] { return server.OutputContains("to-server"); })) << server.Output();
    server.Write("from-server\n");
    EXPECT_EQ(application.Receive(12), "from-server\n");
    EXPECT_EQ(port->NetSentBytes, 10);
    EXPECT_EQ(port->NetRecvBytes, 12);

    const std::string log = SystemLog(*port);
    EXPECT_TRUE(Contains(log, "A TCP/IP connection is established. Start SSL.\r\n")) << log;
    EXPECT_TRUE(Contains(log, "apps_ssl_info_callback : SSL Handshake finished.\r\n")) << log;
    EXPECT_EQ(CountOf(log, "A TCP/IP connection is established.\r\n"), 1u) << log;
}

TEST_F(TlsPortTest, ServerPortCarriesBytesBothWaysWithAnOpensslClient) {
    ScopedWorkingDirectory inFiles(Files());
    const int localPort = FreeTcpPort();
    CVSPDataEx* port = CreateTls(ServerSettings("COM4", localPort));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_LISTENING));
    EXPECT_EQ(RowText(*port, CPortListModel::LinkColumn), "[SSL:Listening] " + std::to_string(localPort));
    Descriptor application = OpenSerial(LinkPath("COM4"));
    ASSERT_TRUE(WaitForOpened(*port));

    auto client = std::make_unique<OpenSslPeer>(OpensslClientArguments(localPort), Files());
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED, 10000)) << client->Output();
    EXPECT_TRUE(WaitFor([&] {
        return RowText(*port, CPortListModel::LinkColumn).rfind("[SSL:Connected] 127.0.0.1:", 0) == 0u;
    })) << RowText(*port, CPortListModel::LinkColumn);

    client->Write("to-port\n");
    EXPECT_EQ(application.Receive(8), "to-port\n");
    ASSERT_TRUE(application.Send("to-client\n"));
    EXPECT_TRUE(WaitFor([&] { return client->OutputContains("to-client\n"); })) << client->Output();
    EXPECT_FALSE(Contains(SystemLog(*port), "Can't read"));

    // The client leaves: the port listens again.
    client.reset();
    EXPECT_TRUE(WaitForSockState(*port, VSP_SOCKET_LISTENING));
}

TEST_F(TlsPortTest, ServerPortWithoutCertificateFilesListensAcceptsAndLogsWhyTheHandshakeFails) {
    QTemporaryDir empty;
    ScopedWorkingDirectory nowhere(empty.path().toStdString());
    const int localPort = FreeTcpPort();
    CVSPDataEx* port = CreateTls(ServerSettings("COM5", localPort));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_LISTENING));

    for (int attempt = 1; attempt <= 2; ++attempt) {
        OpenSslPeer client(OpensslClientArguments(localPort), Files());
        ASSERT_TRUE(WaitFor([&] { return client.HasExited(); }, 10000)) << client.Output();
        EXPECT_NE(client.ExitCode(), 0) << client.Output();
        EXPECT_TRUE(WaitForSockState(*port, VSP_SOCKET_LISTENING)) << attempt;
    }
    const std::string log = SystemLog(*port);
    EXPECT_EQ(CountOf(log, "A TCP/IP connection is established. Start SSL.\r\n"), 2u) << log;
    for (const char* line : {"Couldn't open DH file\r\n", "Can't read certificate file\r\n",
                             "Can't read key file\r\n", "Can't read CA list\r\n"})
        EXPECT_GE(CountOf(log, line), 2u) << line << log;
    EXPECT_TRUE(Contains(log, "apps_ssl_info_callback : SSL_accept : error in ") ||
                Contains(log, "apps_ssl_info_callback : SSL_accept : failed in "))
        << log;
    EXPECT_FALSE(Contains(log, "SSL Handshake finished.")) << log;
}

// The peer takes the TCP connection and never says a word: the supervision restarts the port between 10
// and 15 seconds after the handshake began, and the peer sees a new connection.
TEST_F(TlsPortTest, HandshakeThatNeverEndsIsRestartedBetweenTenAndFifteenSeconds) {
    Descriptor silent = ListenOn();
    m_engine->Start();
    CVSPDataEx* port = CreateTls(ClientSettings("COM6", LocalPortOf(silent.Fd())));
    ASSERT_NE(port, nullptr);
    Descriptor first = AcceptFrom(silent);
    ASSERT_TRUE(first.IsOpen());
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_SSL_HANDSHAKE));
    const uint32_t startTick = port->SslStartTick;
    ASSERT_NE(startTick, 0u);

    Descriptor second = AcceptFrom(silent, 17000);
    const uint32_t seenAfter = CSSLSocket::TickNow() - startTick;
    ASSERT_TRUE(second.IsOpen());
    std::cout << "handshake restarted " << seenAfter << " ms after it began\n";
    EXPECT_GE(seenAfter, 10000u);
    EXPECT_LE(seenAfter, 15000u);
    EXPECT_TRUE(first.WaitClosed());
    const std::string log = SystemLog(*port);
    EXPECT_EQ(CountOf(log, "[SSL] SSL handshake timeout.\r\n"), 1u) << log;
    EXPECT_TRUE(WaitForSockState(*port, VSP_SOCKET_SSL_HANDSHAKE));
    EXPECT_NE(port->SslStartTick, startTick);
}

TEST_F(TlsPortTest, RefusedClientPortRetriesOnEverySupervisionPassUntilTheServerComesUp) {
    const int serverPort = FreeTcpPort();
    CVSPDataEx* port = CreateTls(ClientSettings("COM7", serverPort));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CLOSED));
    EXPECT_EQ(port->LastSockError, ECONNREFUSED);

    m_engine->Supervisor().SupervisionTick();
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CLOSED));
    EXPECT_EQ(port->SslSocket().GetSSLState(), CSSLSocket::TLS_IDLE);

    OpenSslPeer server(OpensslServerArguments(serverPort), Files());
    ASSERT_TRUE(WaitListening(server)) << server.Output();
    m_engine->Supervisor().SupervisionTick();
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED, 10000)) << server.Output();
    EXPECT_EQ(port->SslSocket().GetSSLState(), CSSLSocket::TLS_ESTABLISHED);
    EXPECT_EQ(CountOf(SystemLog(*port), "[TCP] Retry to connect.\r\n"), 2u);

    // An established link is left alone by later passes.
    m_engine->Supervisor().SupervisionTick();
    EXPECT_EQ(port->SockState, VSP_SOCKET_CONNECTED);
    EXPECT_EQ(CountOf(SystemLog(*port), "[TCP] Retry to connect.\r\n"), 2u);
}

TEST_F(TlsPortTest, ClientPortWhoseServerLeftReconnectsOnTheNextPass) {
    const int serverPort = FreeTcpPort();
    auto server = std::make_unique<OpenSslPeer>(OpensslServerArguments(serverPort), Files());
    ASSERT_TRUE(WaitListening(*server));
    CVSPDataEx* port = CreateTls(ClientSettings("COM8", serverPort));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED, 10000));

    server.reset();
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CLOSED));
    EXPECT_EQ(port->SslSocket().GetSSLState(), CSSLSocket::TLS_IDLE);
    server = std::make_unique<OpenSslPeer>(OpensslServerArguments(serverPort), Files());
    ASSERT_TRUE(WaitListening(*server));
    m_engine->Supervisor().SupervisionTick();
    EXPECT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED, 10000)) << SystemLog(*port);
}

TEST_F(TlsPortTest, ServerPortThatCouldNotListenRetriesOnTheNextPass) {
    ScopedWorkingDirectory inFiles(Files());
    Descriptor squatter = ListenOn();
    const int localPort = LocalPortOf(squatter.Fd());
    CVSPDataEx* port = CreateTls(ServerSettings("COM9", localPort));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_ERROR));
    EXPECT_EQ(port->LastSockError, EADDRINUSE);

    m_engine->Supervisor().SupervisionTick();
    EXPECT_EQ(port->SockState, VSP_SOCKET_ERROR);
    squatter.Close();
    m_engine->Supervisor().SupervisionTick();
    ASSERT_EQ(port->SockState, VSP_SOCKET_LISTENING);
    EXPECT_EQ(CountOf(SystemLog(*port), "[TCP] Retry to connect.\r\n"), 2u);

    OpenSslPeer client(OpensslClientArguments(localPort), Files());
    EXPECT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED, 10000)) << client.Output();
}

// What the application writes while the handshake is still running waits and reaches the peer after it.
TEST_F(TlsPortTest, BytesWrittenDuringTheHandshakeAreDeliveredAfterIt) {
    Descriptor listener = ListenOn();
    CVSPDataEx* port = CreateTls(ClientSettings("COM10", LocalPortOf(listener.Fd())));
    ASSERT_NE(port, nullptr);
    Descriptor application = OpenSerial(LinkPath("COM10"));
    ASSERT_TRUE(WaitForOpened(*port));
    Descriptor connection = AcceptFrom(listener);
    ASSERT_TRUE(connection.IsOpen());
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_SSL_HANDSHAKE));

    ASSERT_TRUE(application.Send("written early"));
    // Give the pump every chance to take the bytes before the handshake goes on.
    EXPECT_FALSE(WaitFor([&] { return port->SockState != VSP_SOCKET_SSL_HANDSHAKE; }, 300));

    HandDrivenTlsServer server(std::move(connection), Files());
    ASSERT_TRUE(server.Handshake());
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED));
    EXPECT_EQ(server.Receive(13), "written early");
    ASSERT_TRUE(application.Send(" and later"));
    EXPECT_EQ(server.Receive(10), " and later");
}

TEST_F(TlsPortTest, SecondClientWaitsWhileTheFirstIsServedAndIsServedAfterIt) {
    ScopedWorkingDirectory inFiles(Files());
    const int localPort = FreeTcpPort();
    CVSPDataEx* port = CreateTls(ServerSettings("COM11", localPort));
    ASSERT_NE(port, nullptr);
    Descriptor application = OpenSerial(LinkPath("COM11"));
    ASSERT_TRUE(WaitForOpened(*port));
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_LISTENING));

    auto first = std::make_unique<OpenSslPeer>(OpensslClientArguments(localPort), Files());
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED, 10000)) << first->Output();
    OpenSslPeer second(OpensslClientArguments(localPort), Files());
    first->Write("first\n");
    EXPECT_EQ(application.Receive(6), "first\n");
    ASSERT_TRUE(application.Send("to-first\n"));
    ASSERT_TRUE(WaitFor([&] { return first->OutputContains("to-first\n"); })) << first->Output();
    EXPECT_FALSE(second.OutputContains("to-first"));
    EXPECT_EQ(CountOf(SystemLog(*port), "Start SSL."), 1u);

    first.reset();
    ASSERT_TRUE(WaitFor([&] { return CountOf(SystemLog(*port), "Start SSL.") == 2u; }));
    ASSERT_TRUE(WaitForSockState(*port, VSP_SOCKET_CONNECTED, 10000)) << second.Output();
    second.Write("second\n");
    EXPECT_EQ(application.Receive(7), "second\n");
    ASSERT_TRUE(application.Send("to-second\n"));
    EXPECT_TRUE(WaitFor([&] { return second.OutputContains("to-second\n"); })) << second.Output();
}
