#include "CNormalSocket.h"

#include "AcceptNetworkBytes.h"
#include "CLinkMessageSink.h"
#include "CVSPDataBasic.h"
#include "CVSPLog.h"
#include "ListeningSocket.h"
#include "StreamSocketOptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <new>
#include <vector>

namespace {

constexpr int MULTICAST_TTL = 8;

bool IsWouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool IsMulticast(const ResolvedAddress& address) {
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address.Address());
    const unsigned firstOctet = reinterpret_cast<const unsigned char*>(&ipv4->sin_addr)[0];
    return firstOctet >= 224 && firstOctet <= 239;
}

} // namespace

CNormalSocket::CNormalSocket(CVSPDataBasic& port, CVSPLog& programLog, CVSPLog& portLog)
    : m_port(port), m_programLog(programLog), m_portLog(portLog) {}

bool CNormalSocket::CreateSocket() {
    switch (m_port.VspMode) {
    case VSP_MODE_TCP_CLIENT:
        return CreateClient();
    case VSP_MODE_TCP_SERVER:
        return CreateServer();
    case VSP_MODE_UDP:
        return CreateUdp();
    default:
        return Fail(EINVAL);
    }
}

bool CNormalSocket::CreateClient() {
    CloseDataSocket();
    ResolvedAddress peer;
    if (const int error =
            ResolveAddress({m_port.PeerName, m_port.PeerPort, AF_UNSPEC, SOCK_STREAM, IPPROTO_TCP}, peer)) {
        Report(WM_LINK_FAILED, error);
        LogData("The port's TCP CreateSocket Error(ResolveAddress).");
        return false;
    }
    const bool ipv4 = peer.family == AF_INET;
    if (!m_dataSocket.Create(peer.family, peer.socketType, peer.protocol)) {
        Report(WM_LINK_FAILED, m_dataSocket.LastError());
        LogData(ipv4 ? "The port's TCP CreateSocket Error(Create)."
                     : "The port's TCP CreateSocket Error(socket).");
        return false;
    }
    SetStreamSocketOptions(m_dataSocket);
    if (!m_dataSocket.Connect(peer.Address(), peer.length)) {
        const int error = m_dataSocket.LastError();
        CloseDataSocket();
        Report(WM_LINK_FAILED, error);
        if (ipv4)
            LogData("The port's TCP CreateSocket Error(Connect).");
        return false;
    }
    m_port.SockState = VSP_SOCKET_CONNECTING;
    LogData("The port's TCP CreateSocket is succeeded.");
    return true;
}

bool CNormalSocket::CreateServer() {
    if (m_port.SockState != VSP_SOCKET_NOT_CONNECTED && m_port.SockState != VSP_SOCKET_ERROR) {
        LogData("The port's TCP CreateSocket is succeeded.");
        return true;
    }
    CloseDataSocket();
    m_listenSocket.Close();
    if (const int error = OpenListeningSocket(m_listenSocket, m_port.LocalPort, m_port.TcpServerType))
        return Fail(error);
    m_port.SockState = VSP_SOCKET_LISTENING;
    LogData("The port's TCP CreateSocket is succeeded.");
    return true;
}

bool CNormalSocket::CreateUdp() {
    CloseDataSocket();
    ResolvedAddress peer;
    if (const int error =
            ResolveAddress({m_port.PeerName, m_port.PeerPort, AF_UNSPEC, SOCK_DGRAM, IPPROTO_UDP}, peer))
        return Fail(error);
    const bool opened = peer.family == AF_INET && IsMulticast(peer)
                            ? OpenMulticast(peer)
                            : OpenDatagram(peer.family, m_port.LocalPort);
    if (!opened)
        return false;
    m_port.SockState = VSP_SOCKET_UDP_OPEN;
    LogData("The port's TCP CreateSocket is succeeded.");
    return true;
}

bool CNormalSocket::OpenDatagram(int family, int localPort) {
    ResolvedAddress local;
    if (const int error = ResolveAddress(
            {"", localPort, family, SOCK_DGRAM, IPPROTO_UDP, AI_PASSIVE | AI_NUMERICHOST}, local))
        return Fail(error);
    if (!m_dataSocket.Create(local.family, local.socketType, local.protocol))
        return Fail(m_dataSocket.LastError());
    if (!m_dataSocket.Bind(local.Address(), local.length))
        return FailClosing(m_dataSocket, m_dataSocket.LastError());
    if (family == AF_INET && !m_dataSocket.SetOption(SOL_SOCKET, SO_BROADCAST, 1))
        return FailClosing(m_dataSocket, m_dataSocket.LastError());
    return true;
}

bool CNormalSocket::OpenMulticast(const ResolvedAddress& group) {
    // Several programs on one machine may listen to the same group and port.
    if (!m_dataSocket.Create(AF_INET, SOCK_DGRAM, IPPROTO_UDP))
        return Fail(m_dataSocket.LastError());
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(m_port.LocalPort));
    ip_mreq membership{};
    membership.imr_multiaddr = reinterpret_cast<const sockaddr_in*>(group.Address())->sin_addr;
    membership.imr_interface.s_addr = htonl(INADDR_ANY);
    // Our own datagrams must not come back to us as if the peer had sent them.
    if (!m_dataSocket.SetOption(SOL_SOCKET, SO_REUSEADDR, 1) ||
        !m_dataSocket.Bind(reinterpret_cast<const sockaddr*>(&local), sizeof local) ||
        !m_dataSocket.SetOption(IPPROTO_IP, IP_MULTICAST_TTL, MULTICAST_TTL) ||
        !m_dataSocket.SetOption(IPPROTO_IP, IP_MULTICAST_LOOP, 0))
        return FailClosing(m_dataSocket, m_dataSocket.LastError());
    if (::setsockopt(m_dataSocket.Handle(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) <
        0)
        return FailClosing(m_dataSocket, errno);
    return true;
}

void CNormalSocket::CloseSocket() {
    CloseDataSocket();
    m_listenSocket.Close();
    LogData("The port's TCP is closed.");
}

void CNormalSocket::CloseDataSocket() {
    m_dataSocket.Close();
    m_pendingLength = 0;
    m_pendingOffset = 0;
    m_writeBlocked = 0;
}

int CNormalSocket::SendData(const unsigned char* data, int length) {
    // Taking more while blocked would overwrite the bytes still pending.
    if (length <= 0 || m_writeBlocked)
        return 0;
    length = std::min(length, PENDING_CAPACITY);
    ResolvedAddress target;
    int sent = 0;
    while (sent < length) {
        if (m_port.VspMode == VSP_MODE_UDP) {
            if (const int error = ResolveAddress(
                    {m_port.PeerName, m_port.PeerPort, AF_UNSPEC, SOCK_DGRAM, IPPROTO_UDP}, target)) {
                CloseSocket();
                Report(WM_LINK_FAILED, error);
                return sent;
            }
        }
        const int result = SendOnce(data + sent, length - sent, target);
        if (result < 0) {
            const int error = m_dataSocket.LastError();
            if (IsWouldBlock(error)) {
                m_writeBlocked = 1;
                m_pendingLength = length - sent;
                m_pendingOffset = 0;
                m_pendingTarget = target;
                std::memcpy(m_pending.data(), data + sent, m_pendingLength);
                return length;
            }
            CloseSocket();
            Report(WM_LINK_FAILED, error);
            return sent;
        }
        sent += result;
    }
    m_writeBlocked = 0;
    return length;
}

int CNormalSocket::ResumeSend() {
    if (m_pendingLength <= 0)
        return 0;
    while (m_pendingOffset < m_pendingLength) {
        const int result =
            SendOnce(m_pending.data() + m_pendingOffset, m_pendingLength - m_pendingOffset, m_pendingTarget);
        if (result < 0) {
            const int error = m_dataSocket.LastError();
            const int offset = m_pendingOffset;
            if (IsWouldBlock(error)) {
                m_writeBlocked = 1;
                return offset;
            }
            CloseSocket();
            Report(WM_LINK_FAILED, error);
            return offset;
        }
        m_pendingOffset += result;
    }
    m_writeBlocked = 0;
    if (m_sink)
        m_sink->OnLinkReady(m_port.VspId);
    return m_pendingOffset;
}

int CNormalSocket::SendOnce(const unsigned char* data, int length, const ResolvedAddress& target) {
    if (m_port.VspMode == VSP_MODE_UDP)
        return m_dataSocket.SendTo(data, length, target.Address(), target.length);
    return m_dataSocket.Send(data, length);
}

void CNormalSocket::OnReceive() {
    if (m_port.NetToPortQueued() > RECEIVE_PAUSE_BYTES || !m_dataSocket.IsOpen())
        return;
    try {
        std::vector<unsigned char> buffer;
        int received;
        if (m_port.VspMode == VSP_MODE_UDP) {
            // The kernel tells a datagram's true size when asked with MSG_TRUNC, so it is read whole.
            const int size = m_dataSocket.ReceiveFrom(nullptr, 0, nullptr, nullptr, MSG_PEEK | MSG_TRUNC);
            buffer.resize(std::max(size, 1));
            received = size < 0 ? size : m_dataSocket.ReceiveFrom(buffer.data(), size, nullptr, nullptr);
        } else {
            buffer.resize(TCP_READ_BYTES);
            received = m_dataSocket.Receive(buffer.data(), TCP_READ_BYTES);
        }
        if (received < 0) {
            if (!IsWouldBlock(m_dataSocket.LastError()))
                Report(WM_LINK_FAILED, m_dataSocket.LastError());
            return;
        }
        if (received > 0)
            Deliver(buffer.data(), received);
    } catch (const std::bad_alloc&) {
        m_programLog.WriteSystemText("CNormalSocket::OnReceive Memory\r\n");
    }
}

void CNormalSocket::Deliver(const unsigned char* data, int length) {
    if (AcceptNetworkBytes(m_port)) {
        try {
            m_port.NetToPortQueue.Append(data, length);
        } catch (const std::bad_alloc&) {
            m_programLog.WriteSystemText("[ERROR] tcp_read memory allocation\r\n");
            return;
        }
        // The Telnet engine counts the data bytes of its own port.
        if ((m_port.TelComUse != 1 && m_port.Bypass == 0) || m_port.Bypass == 1)
            m_port.NetRecvBytes += length;
        if (m_sink)
            m_sink->OnLinkReady(m_port.VspId);
        return;
    }
    if (m_port.LogData == 1)
        m_portLog.DumpDropped(data, length);
    if (m_port.Bypass == 0 && m_port.VspState != VSP_OPENED && m_port.TelComUse == 1 && m_telnet) {
        const int processed = m_telnet->ProcessReceived(data, length);
        if (m_port.LogData == 1)
            m_portLog.WriteDataText("[TELCOM] PROCESSED BYTES[%d]\r\n", processed);
    }
}

void CNormalSocket::OnAccept(CTolSock& listener, int error) {
    if (error != 0) {
        Report(WM_LINK_FAILED, error);
        return;
    }
    if (m_port.SockState == VSP_SOCKET_CONNECTED) {
        CTolSock newcomer(*this);
        listener.Accept(newcomer);
        return;
    }
    CloseDataSocket();
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (!listener.Accept(m_dataSocket, reinterpret_cast<sockaddr*>(&peer), &peerLength)) {
        Report(WM_LINK_FAILED, listener.LastError());
        return;
    }
    m_port.SockState = VSP_SOCKET_CONNECTED;
    m_port.RemoteAddress = FormatRemoteAddress(reinterpret_cast<const sockaddr*>(&peer));
    PostLinkMessage(m_sink, WM_LINK_ACCEPTED, m_port.VspId, 0);
}

void CNormalSocket::OnConnect(int error) {
    if (error != 0) {
        CloseDataSocket();
        Report(WM_LINK_FAILED, error);
        return;
    }
    m_port.SockState = VSP_SOCKET_CONNECTED;
    Report(WM_LINK_CONNECTED, 0);
}

void CNormalSocket::OnClose(int error) {
    CloseDataSocket();
    Report(WM_LINK_CLOSED, error);
}

bool CNormalSocket::Fail(int error) {
    Report(WM_LINK_FAILED, error);
    return false;
}

bool CNormalSocket::FailClosing(CTolSock& socket, int error) {
    socket.Close();
    return Fail(error);
}

void CNormalSocket::Report(int message, long lParam) {
    if (m_sink)
        m_sink->OnLinkMessage(message, m_port.VspId, lParam);
}

void CNormalSocket::LogData(const char* text) {
    if (m_port.LogData == 1)
        m_portLog.WriteDataText("%s", text);
}
