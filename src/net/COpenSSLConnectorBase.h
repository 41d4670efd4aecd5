#pragma once

#include <openssl/types.h>

class CVSPLog;

// One TLS connection run entirely in memory: ciphertext from the network goes in through one memory BIO,
// ciphertext for the network comes out of another, so the library never blocks and never sees a socket.
// The derived class keeps the queues of waiting bytes and says where plaintext and ciphertext go.
class COpenSSLConnectorBase {
public:
    COpenSSLConnectorBase(SSL_CTX* context, CVSPLog& portLog, CVSPLog& programLog);
    COpenSSLConnectorBase(const COpenSSLConnectorBase&) = delete;
    COpenSSLConnectorBase& operator=(const COpenSSLConnectorBase&) = delete;
    virtual ~COpenSSLConnectorBase();

    // The connection object: its role, server name and progress callback are set by the link.
    SSL* Connection() const { return m_connection; }
    bool IsHandshakeFinished() const;

protected:
    enum class PumpReason { NetworkData, ApplicationData };

    // Whether ciphertext from the network and plaintext to send are waiting.
    virtual void HasPending(bool& incoming, bool& outgoing) const = 0;
    // Each handles the head of its queue and returns true when some of it was consumed (a node shrank or
    // was freed).
    virtual bool ProcessIncoming() = 0;
    virtual bool ProcessOutgoing() = 0;
    virtual void SendToNetwork(const unsigned char* data, int length) = 0;
    virtual void OnPlaintext(const unsigned char* data, int length) = 0;
    virtual void GetPlaintextBuffer(unsigned char*& buffer, int& size) = 0;
    virtual void GetCiphertextBuffer(unsigned char*& buffer, int& size) = 0;

    void Pump(PumpReason reason);
    // Returns the bytes the network-in buffer took; the plaintext they complete goes to OnPlaintext.
    int FeedCiphertext(const unsigned char* data, int length);
    // Returns the plaintext bytes the connection took (0 when it refused them).
    int WritePlaintext(const unsigned char* data, int length);
    void FlushOutput();
    void HandleError(int result);

    CVSPLog& m_portLog;
    CVSPLog& m_programLog;

private:
    bool HasNetworkOutput() const;

    bool m_wantRead = false;
    SSL* m_connection = nullptr;
    BIO* m_networkIn = nullptr;
    BIO* m_networkOut = nullptr;
};
