#include "CAsyncConnector.h"
#include "TlsContexts.h"
#include "TlsTestSupport.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <algorithm>

using namespace tls_test;

namespace {

// One end of an in-memory TLS connection: keeps what its connector wants to send and what it decrypted.
class Endpoint : public CAsyncConnector::IConnectorCallback {
public:
    Endpoint(SSL_CTX* context, CVSPLog& log, bool client) : connector(context, *this, log, log) {
        if (client)
            SSL_set_connect_state(connector.Connection());
        else
            SSL_set_accept_state(connector.Connection());
    }
    int SendCiphertext(const unsigned char* data, int length) override {
        outbox.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
        return 0;
    }
    int PlaintextReady() override {
        const int length = connector.PlaintextLength();
        received.append(reinterpret_cast<const char*>(connector.Plaintext()),
                        static_cast<std::size_t>(length));
        connector.ConsumePlaintext(length);
        return 1;
    }
    void Write(const std::string& text) {
        connector.Write(reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    }

    CAsyncConnector connector;
    std::string outbox;
    std::string received;
};

// Carries each side's ciphertext to the other in reads of at most `piece` bytes until both are quiet.
void Shuttle(Endpoint& a, Endpoint& b, std::size_t piece) {
    for (int round = 0; round < 1000 && (!a.outbox.empty() || !b.outbox.empty()); ++round) {
        for (auto [from, to] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
            const std::string bytes = std::move(from->outbox);
            from->outbox.clear();
            for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
                const std::size_t length = std::min(piece, bytes.size() - offset);
                to->connector.ReadCompleted(reinterpret_cast<const unsigned char*>(bytes.data() + offset),
                                            static_cast<int>(length));
            }
        }
    }
}

std::string Pattern(std::size_t length) {
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>(i * 7 + i / 251);
    return text;
}

class TlsConnector : public ::testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override {
        ASSERT_TRUE(CertificateFiles::Get().IsValid());
        log.OpenSystemLog("COM1");
        ScopedWorkingDirectory inCertificates(CertificateFiles::Get().Directory());
        serverContext = NewServerTlsContext(log);
        clientContext = NewClientTlsContext();
    }
    void TearDown() override {
        SSL_CTX_free(serverContext);
        SSL_CTX_free(clientContext);
    }

    QTemporaryDir logFolder;
    CVSPLog log{logFolder.path().toStdString()};
    SSL_CTX* serverContext = nullptr;
    SSL_CTX* clientContext = nullptr;
};

} // namespace

// Whole records or ciphertext trickling in 7 bytes at a time: the handshake finishes on whichever read
// completes it and the data arrives whole and in order.
TEST_P(TlsConnector, HandshakeThenDataBothWays) {
    Endpoint client(clientContext, log, true);
    Endpoint server(serverContext, log, false);
    client.connector.Write(nullptr, 0);
    ASSERT_FALSE(client.outbox.empty()) << "the empty write sends the opening handshake message";
    Shuttle(client, server, GetParam());
    ASSERT_TRUE(client.connector.IsHandshakeFinished());
    ASSERT_TRUE(server.connector.IsHandshakeFinished());

    const std::string request = Pattern(4096);
    client.Write(request);
    server.Write("answer");
    Shuttle(client, server, GetParam());
    EXPECT_EQ(server.received, request);
    EXPECT_EQ(client.received, "answer");
}

INSTANTIATE_TEST_SUITE_P(ReadSizes, TlsConnector, ::testing::Values(std::size_t{1} << 20, std::size_t{7}));

TEST_F(TlsConnector, PlaintextWrittenDuringTheHandshakeGoesOutAfterIt) {
    Endpoint client(clientContext, log, true);
    Endpoint server(serverContext, log, false);
    client.connector.Write(nullptr, 0);
    client.Write("early");
    Shuttle(client, server, 1 << 20);
    EXPECT_EQ(server.received, "early");
}

// A handshake that failed for good refuses every write without asking to read: the write must come back
// instead of spinning, and the library's errors land in the port's system log.
TEST_F(TlsConnector, WriteAfterAFailedHandshakeReturns) {
    QTemporaryDir empty;
    SSL_CTX* bareServerContext = nullptr;
    {
        ScopedWorkingDirectory nowhere(empty.path().toStdString());
        bareServerContext = NewServerTlsContext(log);
    }
    Endpoint client(clientContext, log, true);
    Endpoint server(bareServerContext, log, false);
    client.connector.Write(nullptr, 0);
    Shuttle(client, server, 1 << 20);
    EXPECT_FALSE(client.connector.IsHandshakeFinished());

    client.Write("lost");
    Shuttle(client, server, 1 << 20);
    EXPECT_EQ(server.received, "");

    std::ifstream file(log.SystemLogPath());
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("Error: "), std::string::npos);
    SSL_CTX_free(bareServerContext);
}
