#include "CSSLSocket.h"

#include "AcceptNetworkBytes.h"
#include "AddressResolver.h"
#include "CLinkMessageSink.h"
#include "CTolSSLSock.h"
#include "CVSPDataBasic.h"
#include "CVSPLog.h"
#include "ListeningSocket.h"
#include "StreamSocketOptions.h"
#include "TlsContexts.h"
#include "TlsSocketRegistry.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <netinet/in.h>
#include <new>
#include <openssl/ssl.h>

namespace {

// Decrypted bytes move to the port's inbound queue in pieces of at most this size.
constexpr int ReceivePieceSize = 2048;

void WriteSystemRaw(CVSPLog& log, const char* format, ...) __attribute__((format(printf, 2, 3)));
void WriteSystemRaw(CVSPLog& log, const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length > 0)
        log.WriteSystemRaw(line, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof line - 1));
}

} // namespace

CSSLSocket::CSSLSocket(CVSPDataBasic& port, CVSPLog& programLog, CVSPLog& portLog)
    : m_dataSocket(std::make_unique<CTolSSLSock>(*this, port, portLog, programLog)),
      m_listenSocket(std::make_unique<CTolSSLSock>(*this, port, portLog, programLog)), m_port(port),
      m_portLog(portLog), m_programLog(programLog) {
    TlsSocketRegistry::Add(m_dataSocket.get());
}

CSSLSocket::~CSSLSocket() {
    TlsSocketRegistry::Remove(m_dataSocket.get());
    m_dataSocket.reset();
    m_listenSocket.reset();
    SSL_CTX_free(m_context);
}

uint32_t CSSLSocket::TickNow() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    const auto tick =
        static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    // 0 means "no handshake running" to the supervision.
    return tick == 0 ? 1 : tick;
}

void CSSLSocket::SetMessageSink(CLinkMessageSink* sink) {
    m_sink = sink;
}

void CSSLSocket::SendMessage(int message, long lParam) {
    if (m_sink != nullptr)
        m_sink->OnLinkMessage(message, m_port.VspId, lParam);
}

void CSSLSocket::PostMessage(int message, long lParam) {
    PostLinkMessage(m_sink, message, m_port.VspId, lParam);
}

void CSSLSocket::ReplaceContext(SSL_CTX* context) {
    SSL_CTX_free(m_context);
    m_context = context;
}

bool CSSLSocket::CreateSocket() {
    m_port.SslStartTick = 0;
    switch (m_port.VspMode) {
    case VSP_MODE_TCP_SERVER:
        return CreateServerSocket();
    case VSP_MODE_TCP_CLIENT:
        return CreateClientSocket();
    default:
        return true;
    }
}

bool CSSLSocket::CreateServerSocket() {
    if (m_port.SockState != VSP_SOCKET_NOT_CONNECTED && m_port.SockState != VSP_SOCKET_ERROR)
        return true;
    if (const int error = OpenListeningSocket(*m_listenSocket, m_port.LocalPort, m_port.TcpServerType)) {
        SendMessage(WM_LINK_FAILED, error);
        return false;
    }
    m_port.SockState = VSP_SOCKET_LISTENING;
    return true;
}

bool CSSLSocket::CreateClientSocket() {
    AddressQuery query;
    query.host = m_port.PeerName;
    query.port = m_port.PeerPort;
    query.socketType = SOCK_STREAM;
    query.protocol = IPPROTO_TCP;
    ResolvedAddress address;
    if (const int error = ResolveAddress(query, address); error != 0) {
        SendMessage(WM_LINK_FAILED, error);
        return false;
    }
    CTolSSLSock& socket = *m_dataSocket;
    socket.SetConnected(false);
    socket.DiscardPending();
    if (!socket.Create(address.family, address.socketType, address.protocol)) {
        SendMessage(WM_LINK_FAILED, socket.LastError());
        return false;
    }
    SetStreamSocketOptions(socket);
    ReplaceContext(NewClientTlsContext());
    if (m_context == nullptr) {
        socket.Close();
        SendMessage(WM_LINK_FAILED, ENOMEM);
        return false;
    }
    socket.CreateConnector(m_context);
    SSL* connection = socket.Connector()->Connection();
    SSL_set_tlsext_host_name(connection, m_port.PeerName.c_str());
    SSL_set_info_callback(connection, apps_ssl_info_callback);
    if (!socket.Connect(address.Address(), address.length)) {
        const int error = socket.LastError();
        socket.Close();
        SendMessage(WM_LINK_FAILED, error);
        return false;
    }
    m_port.SockState = VSP_SOCKET_CONNECTING;
    return true;
}

void CSSLSocket::OnConnect(CTolSSLSock& socket, int error) {
    if (error != 0) {
        socket.SetTlsState(TLS_IDLE);
        socket.Close();
        SendMessage(WM_LINK_FAILED, error);
        return;
    }
    m_port.SslStartTick = TickNow();
    m_port.SockState = VSP_SOCKET_SSL_HANDSHAKE;
    SendMessage(WM_TLS_STARTED, 0);
    if (socket.Connector() == nullptr)
        return;
    SSL_set_connect_state(socket.Connector()->Connection());
    socket.SetTlsState(TLS_HANDSHAKE_STARTED);
    m_port.SockState = VSP_SOCKET_SSL_HANDSHAKE;
    // An empty write makes the library send its opening handshake message.
    socket.Connector()->Write(nullptr, 0);
}

void CSSLSocket::OnAccept(CTolSSLSock& listener, int error) {
    if (error != 0) {
        SendMessage(WM_LINK_FAILED, error);
        return;
    }
    // One client at a time: a newcomer waits in the listen queue until the current one has gone.
    if (m_port.SockState == VSP_SOCKET_CONNECTED || m_port.SockState == VSP_SOCKET_SSL_HANDSHAKE)
        return;
    CTolSSLSock& socket = *m_dataSocket;
    socket.Close();
    socket.DiscardPending();
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (!listener.Accept(socket, reinterpret_cast<sockaddr*>(&peer), &peerLength)) {
        socket.SetTlsState(TLS_IDLE);
        SendMessage(WM_LINK_FAILED, listener.LastError());
        return;
    }
    m_port.SslStartTick = TickNow();
    socket.SetTlsState(TLS_HANDSHAKE_STARTED);
    ReplaceContext(NewServerTlsContext(m_portLog));
    if (m_context == nullptr) {
        socket.SetTlsState(TLS_IDLE);
        socket.Close();
        SendMessage(WM_LINK_FAILED, ENOMEM);
        return;
    }
    socket.CreateConnector(m_context);
    SSL* connection = socket.Connector()->Connection();
    SSL_set_info_callback(connection, apps_ssl_info_callback);
    socket.SetConnected(true);
    SSL_set_accept_state(connection);
    m_port.RemoteAddress = FormatRemoteAddress(reinterpret_cast<const sockaddr*>(&peer));
    m_port.SockState = VSP_SOCKET_SSL_HANDSHAKE;
    // The handshake goes on when the client's first bytes arrive.
    PostMessage(WM_TLS_STARTED, 0);
}

void CSSLSocket::ResumeAccepting() {
    // A client that waited in the listen queue while the previous one was served is accepted now.
    if (m_port.VspMode == VSP_MODE_TCP_SERVER && m_listenSocket->IsOpen())
        m_listenSocket->Listen(ListenBacklog);
}

void CSSLSocket::apps_ssl_info_callback(const SSL* connection, int where, int ret) {
    const bool found = TlsSocketRegistry::Visit(connection, [connection, where, ret](CTolSSLSock& socket) {
        socket.Owner().OnHandshakeProgress(socket, connection, where, ret);
    });
    if (!found)
        qCritical("apps_ssl_info_callback : Can't lookup SSL session!");
}

void CSSLSocket::OnHandshakeProgress(CTolSSLSock& socket, const SSL* connection, int where, int ret) {
    const char* prefix = "apps_ssl_info_callback : undefined";
    if (where & SSL_ST_CONNECT)
        prefix = "apps_ssl_info_callback : SSL_connect";
    else if (where & SSL_ST_ACCEPT)
        prefix = "apps_ssl_info_callback : SSL_accept";

    if (where & SSL_CB_LOOP) {
        // Messages after the handshake (session tickets) run through the same loop; they do not make an
        // established connection a handshaking one again.
        if (socket.TlsState() != TLS_ESTABLISHED)
            socket.SetTlsState(TLS_HANDSHAKE_RUNNING);
        WriteSystemRaw(m_portLog, "%s : %s\r\n", prefix, SSL_state_string_long(connection));
    } else if (where & SSL_CB_ALERT) {
        WriteSystemRaw(m_portLog, "%s : SSL3 alert %s : %s\r\n", (where & SSL_CB_READ) ? "read " : "write ",
                       SSL_alert_type_string_long(ret), SSL_alert_desc_string_long(ret));
    } else if (where & SSL_CB_EXIT) {
        if (ret == 0) {
            WriteSystemRaw(m_portLog, "%s : failed in %s\r\n", prefix, SSL_state_string_long(connection));
            socket.SetTlsState(TLS_FAILED);
        } else if (ret < 0) {
            const int errorClass = SSL_get_error(connection, ret);
            if (errorClass != SSL_ERROR_WANT_READ && errorClass != SSL_ERROR_WANT_WRITE) {
                WriteSystemRaw(m_portLog, "%s : error in %s\r\n", prefix, SSL_state_string_long(connection));
                socket.SetTlsState(TLS_FAILED);
            }
        }
    }

    if ((where & SSL_CB_HANDSHAKE_DONE) && socket.TlsState() != TLS_ESTABLISHED) {
        // Peers are converters with self-signed certificates: the result is not acted on.
        SSL_get_verify_result(connection);
        WriteSystemRaw(m_portLog, "apps_ssl_info_callback : SSL Handshake finished.\r\n");
        socket.SetTlsState(TLS_ESTABLISHED);
        m_port.SockState = VSP_SOCKET_CONNECTED;
        PostMessage(WM_LINK_CONNECTED, 0);
    }
}

int CSSLSocket::SendData(const unsigned char* data, int length) {
    CTolSSLSock& socket = *m_dataSocket;
    if (socket.TlsState() != TLS_ESTABLISHED || length <= 0 || socket.Connector() == nullptr)
        return 0;
    socket.Connector()->Write(data, length);
    return length;
}

void CSSLSocket::OnReceive(CTolSSLSock& socket, int error) {
    if (error != 0) {
        SendMessage(WM_LINK_FAILED, error);
        return;
    }
    CAsyncConnector* connector = socket.Connector();
    if (connector == nullptr)
        return;
    const int count = std::min(connector->PlaintextLength(), ReceivePieceSize);
    if (count <= 0)
        return;
    if (AcceptNetworkBytes(m_port)) {
        try {
            m_port.NetToPortQueue.Append(connector->Plaintext(), static_cast<std::size_t>(count));
            m_port.NetRecvBytes += count;
            m_deliveredDuringRead = true;
        } catch (const std::bad_alloc&) {
            m_programLog.WriteSystemText("[ERROR] CSSLSocket::OnReceive memory allocation\r\n");
        }
    }
    connector->ConsumePlaintext(count);
}

void CSSLSocket::OnReadFinished(CTolSSLSock&) {
    // The sink hears of new bytes only once the connector is done with the read: its pump may send at once.
    if (!m_deliveredDuringRead)
        return;
    m_deliveredDuringRead = false;
    if (m_sink != nullptr)
        m_sink->OnLinkReady(m_port.VspId);
}

void CSSLSocket::OnSendResumed(CTolSSLSock&) {
    if (m_sink != nullptr)
        m_sink->OnLinkReady(m_port.VspId);
}

void CSSLSocket::DropConnection(CTolSSLSock& socket) {
    if (!IsDataSocket(socket))
        return;
    socket.SetTlsState(TLS_IDLE);
    socket.SetConnected(false);
    socket.Close();
    if (socket.Connector() != nullptr)
        socket.Connector()->Reset();
}

void CSSLSocket::OnSendFailed(CTolSSLSock& socket, int error) {
    DropConnection(socket);
    SendMessage(WM_LINK_CLOSED, error);
    ResumeAccepting();
}

void CSSLSocket::OnPeerClosed(CTolSSLSock& socket, int error) {
    DropConnection(socket);
    SendMessage(WM_LINK_CLOSED, error);
    ResumeAccepting();
}

bool CSSLSocket::IsDataSocket(const CTolSSLSock& socket) const {
    return &socket == m_dataSocket.get();
}

void CSSLSocket::CloseSocket() {
    CTolSSLSock& socket = *m_dataSocket;
    socket.SetTlsState(TLS_IDLE);
    socket.SetConnected(false);
    socket.Close();
    socket.DiscardPending();
    m_listenSocket->SetConnected(false);
    m_listenSocket->Close();
    if (socket.Connector() != nullptr)
        socket.Connector()->Reset();
}

void CSSLSocket::ResetToIdle() {
    CloseSocket();
}

int CSSLSocket::GetSSLState() const {
    return m_dataSocket->TlsState();
}

void CSSLSocket::PollReceive() {
    m_dataSocket->PollReceive();
}

bool CSSLSocket::IsWriteBlocked() const {
    return m_dataSocket->IsWriteBlocked();
}
