#pragma once

#include "COpenSSLConnectorBase.h"

#include <deque>
#include <vector>

// The connector of a TLS socket: plaintext to encrypt and ciphertext received wait in two queues of nodes
// (one write or one network read per node, at most 4096 bytes each) until the TLS connection takes them.
class CAsyncConnector : public COpenSSLConnectorBase {
public:
    static constexpr int BufferSize = 4096;

    // What the connector needs of its socket.
    class IConnectorCallback {
    public:
        virtual ~IConnectorCallback() = default;
        // Send ciphertext to the peer; 0, or -1 when the socket failed.
        virtual int SendCiphertext(const unsigned char* data, int length) = 0;
        // Decrypted bytes wait in the plaintext buffer; the callee takes some and lowers the length.
        virtual int PlaintextReady() = 0;
    };

    CAsyncConnector(SSL_CTX* context, IConnectorCallback& callback, CVSPLog& portLog, CVSPLog& programLog);

    // Plaintext to send; an empty write before the handshake makes a client send its opening message.
    void Write(const unsigned char* data, int length);
    // Ciphertext read from the network.
    void ReadCompleted(const unsigned char* data, int length);
    // Drops everything still queued (after the connection was closed).
    void Reset();

    // The decrypted bytes not yet taken by the callback.
    unsigned char* Plaintext() { return m_plaintext; }
    int PlaintextLength() const { return m_plaintextLength; }
    // Removes the first `count` bytes of the plaintext buffer.
    void ConsumePlaintext(int count);

protected:
    void HasPending(bool& incoming, bool& outgoing) const override;
    bool ProcessIncoming() override;
    bool ProcessOutgoing() override;
    void SendToNetwork(const unsigned char* data, int length) override;
    void OnPlaintext(const unsigned char* data, int length) override;
    void GetPlaintextBuffer(unsigned char*& buffer, int& size) override;
    void GetCiphertextBuffer(unsigned char*& buffer, int& size) override;

private:
    using Node = std::vector<unsigned char>;
    // Puts the unused rest of a taken node back at the head; reports whether anything was used.
    static bool GiveBack(std::deque<Node>& queue, Node node, int used);

    unsigned char m_plaintext[BufferSize];
    unsigned char m_ciphertext[BufferSize];
    int m_plaintextLength = 0;
    std::deque<Node> m_outgoing;
    std::deque<Node> m_incoming;
    IConnectorCallback& m_callback;
};
