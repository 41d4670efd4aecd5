#pragma once

#include "CPortLink.h"

#include <cstdint>
#include <memory>
#include <openssl/types.h>

class CLinkMessageSink;
class CTolSSLSock;
class CVSPDataBasic;
class CVSPLog;

// A port's TLS link: TLS client (VspMode 0) or TLS server (VspMode 1) over TCP. It opens the connection,
// builds the TLS context of its role, follows the handshake and delivers decrypted bytes to the port's
// NetToPortQueue. The TLS work itself runs in memory inside the data socket's connector.
class CSSLSocket : public CPortLink {
public:
    CSSLSocket(CVSPDataBasic& port, CVSPLog& programLog, CVSPLog& portLog);
    CSSLSocket(const CSSLSocket&) = delete;
    CSSLSocket& operator=(const CSSLSocket&) = delete;
    ~CSSLSocket() override;

    // False only when the attempt failed (reported as 2031). A UDP port opens nothing and succeeds.
    bool CreateSocket() override;
    void CloseSocket() override;
    // The length when the bytes were handed to TLS, else 0 (before the handshake has finished the bytes
    // stay with the caller).
    int SendData(const unsigned char* data, int length) override;
    void PollReceive() override;
    bool IsWriteBlocked() const override;
    void SetMessageSink(CLinkMessageSink* sink) override;

    // The data socket's TLS state: TLS_IDLE .. TLS_ESTABLISHED.
    int GetSSLState() const;
    // TLS state idle, both sockets closed, the connector's queued data discarded.
    void ResetToIdle();

    // The millisecond monotonic clock that SslStartTick is read from (never 0).
    static uint32_t TickNow();

    static constexpr int TLS_IDLE = 1000;
    static constexpr int TLS_HANDSHAKE_STARTED = 1001;
    static constexpr int TLS_HANDSHAKE_RUNNING = 1002;
    static constexpr int TLS_FAILED = 1003;
    static constexpr int TLS_ESTABLISHED = 1004;

private:
    friend class CTolSSLSock;

    // Notifications of the two TLS sockets.
    void OnConnect(CTolSSLSock& socket, int error);
    void OnAccept(CTolSSLSock& socket, int error);
    void OnReceive(CTolSSLSock& socket, int error);
    void OnReadFinished(CTolSSLSock& socket);
    void OnSendFailed(CTolSSLSock& socket, int error);
    void OnSendResumed(CTolSSLSock& socket);
    void OnPeerClosed(CTolSSLSock& socket, int error);
    void OnHandshakeProgress(CTolSSLSock& socket, const SSL* connection, int where, int ret);
    bool IsDataSocket(const CTolSSLSock& socket) const;
    // Closes the data socket after a failure; the listening socket stays.
    void DropConnection(CTolSSLSock& socket);
    void ResumeAccepting();

    bool CreateServerSocket();
    bool CreateClientSocket();
    void ReplaceContext(SSL_CTX* context);
    void SendMessage(int message, long lParam);
    void PostMessage(int message, long lParam);

    static void apps_ssl_info_callback(const SSL* connection, int where, int ret);

    SSL_CTX* m_context = nullptr;
    std::unique_ptr<CTolSSLSock> m_dataSocket;
    std::unique_ptr<CTolSSLSock> m_listenSocket;
    CLinkMessageSink* m_sink = nullptr;
    CVSPDataBasic& m_port;
    CVSPLog& m_portLog;
    CVSPLog& m_programLog;
    // Decrypted bytes were queued during the current read; the sink hears of them once the read is over.
    bool m_deliveredDuringRead = false;
};
