#pragma once

#include "CAsyncConnector.h"
#include "CAsyncSocket.h"

#include <memory>
#include <vector>

class CSSLSocket;
class CVSPDataBasic;
class CVSPLog;

// A socket of a TLS link. The data socket owns the connector of the current TLS connection: it feeds the
// connector what it reads and sends the ciphertext the connector produces through its own send buffer.
class CTolSSLSock : public CAsyncSocket, public CAsyncConnector::IConnectorCallback {
public:
    // The send buffer starts at this size; see SendCiphertext.
    static constexpr int SendBufferSize = 16384;

    CTolSSLSock(CSSLSocket& owner, CVSPDataBasic& port, CVSPLog& portLog, CVSPLog& programLog);
    ~CTolSSLSock() override;

    // Replaces any connector by a new one on the context, for the next TLS connection.
    void CreateConnector(SSL_CTX* context);
    CAsyncConnector* Connector() const { return m_connector.get(); }
    CSSLSocket& Owner() const { return m_owner; }

    // Reads what the socket holds unless the port's inbound queue is already full.
    void PollReceive();
    // Sends as much of the send buffer as the platform takes; 0, or -1 when the socket failed.
    int DoAsyncSendBuff();

    int TlsState() const { return m_tlsState; }
    void SetTlsState(int state) { m_tlsState = state; }
    bool IsConnected() const { return m_connected; }
    void SetConnected(bool connected) { m_connected = connected; }
    bool IsWriteBlocked() const { return m_writeBlocked; }
    // Ciphertext waiting for the socket.
    int PendingLength() const { return static_cast<int>(m_sendBuffer.size() - m_sendOffset); }
    // Forgets the unsent ciphertext; a socket with nothing to send is not blocked.
    void DiscardPending();

    // IConnectorCallback
    int SendCiphertext(const unsigned char* data, int length) override;
    int PlaintextReady() override;

protected:
    void OnReceive(int error) override;
    void OnSend(int error) override;
    void OnAccept(int error) override;
    void OnConnect(int error) override;
    void OnClose(int error) override;

private:
    void ReadIntoConnector();

    CSSLSocket& m_owner;
    CVSPDataBasic& m_port;
    CVSPLog& m_portLog;
    CVSPLog& m_programLog;
    std::unique_ptr<CAsyncConnector> m_connector;
    // Ciphertext not yet taken by the platform, from m_sendOffset on. It starts at SendBufferSize bytes
    // and grows when more ciphertext arrives than that while the socket is blocked: ciphertext is never
    // dropped, and the pump stops handing over plaintext while the socket is blocked, so it stays small.
    std::vector<unsigned char> m_sendBuffer;
    std::size_t m_sendOffset = 0;
    bool m_connected = false;
    bool m_writeBlocked = false;
    int m_tlsState = 1000;
};
