#include "CLinkSupervisor.h"

#include "CEnginePorts.h"
#include "CLinkMessageSink.h"
#include "CNormalSocket.h"
#include "CSSLSocket.h"
#include "CSerialEventRouter.h"
#include "CUserNotifier.h"
#include "CVSPDataEx.h"
#include "ErrorText.h"

#include <algorithm>
#include <cstdint>

CLinkSupervisor::CLinkSupervisor(CEnginePorts& ports, CSerialEventRouter& router)
    : m_ports(ports), m_router(router) {
    m_handshakeDeadline.setSingleShot(true);
    m_handshakeDeadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_handshakeDeadline, &QTimer::timeout, &m_handshakeDeadline,
                     [this] { OnHandshakeDeadline(); });
}

void CLinkSupervisor::SupervisionTick() {
    CPortListModel& rows = m_ports.Rows();
    for (int row = 0; row < rows.RowCount(); ++row)
        if (CVSPDataEx* port = m_ports.AtRow(row))
            Supervise(*port);
}

void CLinkSupervisor::Supervise(CVSPDataEx& port) {
    if (port.VspState == VSP_STOP)
        return;
    if (port.SSLUse == 1) {
        if (port.VspMode == VSP_MODE_TCP_CLIENT)
            SuperviseTlsClient(port);
        else if (port.VspMode == VSP_MODE_TCP_SERVER)
            SuperviseTlsServer(port);
        return;
    }
    SupervisePlain(port);
}

bool CLinkSupervisor::HandshakeRunning(CVSPDataEx& port) {
    if (port.VspState == VSP_STOP || port.SSLUse != 1 || port.SslStartTick == 0)
        return false;
    if (port.VspMode != VSP_MODE_TCP_CLIENT && port.VspMode != VSP_MODE_TCP_SERVER)
        return false;
    const int tls = port.SslSocket().GetSSLState();
    return tls != CSSLSocket::TLS_IDLE && tls != CSSLSocket::TLS_ESTABLISHED;
}

void CLinkSupervisor::ArmHandshakeDeadline(uint32_t startTick) {
    const uint32_t elapsed = CSSLSocket::TickNow() - startTick;
    // A handshake already past its limit is ended by the pass or the deadline that is running now.
    if (elapsed > HandshakeLimitMs)
        return;
    // One millisecond past the limit: the timeout needs more than the limit to have passed.
    const int remaining = static_cast<int>(HandshakeLimitMs + 1 - elapsed);
    if (!m_handshakeDeadline.isActive() || m_handshakeDeadline.remainingTime() > remaining)
        m_handshakeDeadline.start(remaining);
}

void CLinkSupervisor::OnHandshakeDeadline() {
    CPortListModel& rows = m_ports.Rows();
    for (int row = 0; row < rows.RowCount(); ++row) {
        CVSPDataEx* port = m_ports.AtRow(row);
        if (port && HandshakeRunning(*port) && HandshakeTooLong(*port))
            HandshakeTimeout(*port);
    }
    for (int row = 0; row < rows.RowCount(); ++row) {
        CVSPDataEx* port = m_ports.AtRow(row);
        if (port && HandshakeRunning(*port))
            ArmHandshakeDeadline(port->SslStartTick);
    }
}

bool CLinkSupervisor::HandshakeTooLong(const CVSPDataEx& port) const {
    return CSSLSocket::TickNow() - port.SslStartTick > HandshakeLimitMs;
}

void CLinkSupervisor::HandshakeTimeout(CVSPDataEx& port) {
    port.PortLog().WriteSystemText("[SSL] SSL handshake timeout.\r\n");
    port.SslSocket().CloseSocket();
    port.SockState = VSP_SOCKET_NOT_CONNECTED;
    Reopen(port);
    m_ports.UpdateRow(port);
}

void CLinkSupervisor::Reopen(CVSPDataEx& port) {
    if (port.LinkMayStart())
        port.Link().CreateSocket();
}

void CLinkSupervisor::SuperviseTlsClient(CVSPDataEx& port) {
    const int tls = port.SslSocket().GetSSLState();
    const bool settled = tls == CSSLSocket::TLS_IDLE || tls == CSSLSocket::TLS_ESTABLISHED;
    if (!settled) {
        if (HandshakeTooLong(port))
            HandshakeTimeout(port);
        return;
    }
    if (port.SockState == VSP_SOCKET_NOT_CONNECTED || port.SockState == VSP_SOCKET_CLOSED) {
        port.PortLog().WriteSystemText("[TCP] Retry to connect.\r\n");
        port.SockState = VSP_SOCKET_NOT_CONNECTED;
        port.SslSocket().ResetToIdle();
        Reopen(port);
        m_ports.UpdateRow(port);
        return;
    }
    if (port.SockState == VSP_SOCKET_CONNECTING)
        return;
    const bool established = tls == CSSLSocket::TLS_ESTABLISHED && port.SockState == VSP_SOCKET_CONNECTED;
    if (HandshakeTooLong(port) && !established)
        HandshakeTimeout(port);
}

void CLinkSupervisor::SuperviseTlsServer(CVSPDataEx& port) {
    const int tls = port.SslSocket().GetSSLState();
    if (tls != CSSLSocket::TLS_IDLE && tls != CSSLSocket::TLS_ESTABLISHED) {
        if (HandshakeTooLong(port))
            HandshakeTimeout(port);
        return;
    }
    if (port.SockState == VSP_SOCKET_ERROR) {
        port.PortLog().WriteSystemText("[TCP] Retry to connect.\r\n");
        port.SslSocket().CloseSocket();
        port.SockState = VSP_SOCKET_NOT_CONNECTED;
        Reopen(port);
        m_ports.UpdateRow(port);
        return;
    }
    if (tls == CSSLSocket::TLS_ESTABLISHED && HandshakeTooLong(port) &&
        port.SockState != VSP_SOCKET_CONNECTED)
        HandshakeTimeout(port);
}

void CLinkSupervisor::SupervisePlain(CVSPDataEx& port) {
    if (port.SockState == VSP_SOCKET_CLOSED) {
        port.PortLog().WriteSystemText("[TCP] Retry to connect.\r\n");
        port.PlainSocket().CloseSocket();
        port.SockState = VSP_SOCKET_NOT_CONNECTED;
        if (port.LinkMayStart() && port.PlainSocket().CreateSocket())
            m_ports.UpdateRow(port);
        return;
    }
    if (port.VspMode == VSP_MODE_TCP_SERVER && port.SockState == VSP_SOCKET_ERROR) {
        port.PortLog().WriteSystemText("[TCP] Retry to connect.\r\n");
        port.PlainSocket().CloseSocket();
        port.SockState = VSP_SOCKET_NOT_CONNECTED;
        if (port.LinkMayStart())
            port.PlainSocket().CreateSocket();
        m_ports.UpdateRow(port);
    }
}

void CLinkSupervisor::OnLinkMessage(int message, int vspId, long lParam) {
    CVSPDataEx* port = m_ports.Find(vspId);
    if (!port)
        return;
    switch (message) {
    case WM_LINK_ACCEPTED:
        OnLinkAccepted(*port, lParam);
        break;
    case WM_LINK_CLOSED:
        OnLinkClosed(*port);
        break;
    case WM_LINK_CONNECTED:
        OnLinkConnected(*port, lParam);
        break;
    case WM_LINK_FAILED:
        OnLinkFailed(*port, lParam);
        break;
    case WM_TLS_STARTED:
        OnTlsStarted(*port, lParam);
        break;
    default:
        break;
    }
}

void CLinkSupervisor::OnLinkConnected(CVSPDataEx& port, long lParam) {
    if (lParam != 0)
        return;
    port.PortLog().WriteSystemText("A TCP/IP connection is established.\r\n");
    port.SockState = VSP_SOCKET_CONNECTED;
    if (port.LogData == 1)
        port.PortLog().WriteDataText("Connecting TCP has succeeded.");
    m_ports.UpdateRow(port);
    m_router.SendPortStateToNet(port);
}

void CLinkSupervisor::OnLinkAccepted(CVSPDataEx& port, long lParam) {
    if (lParam != 0)
        return;
    port.PortLog().WriteSystemText("A TCP/IP connection is established. \r\n");
    port.SockState = VSP_SOCKET_CONNECTED;
    m_ports.UpdateRow(port);
    m_router.SendPortStateToNet(port);
}

void CLinkSupervisor::OnTlsStarted(CVSPDataEx& port, long lParam) {
    if (lParam != 0)
        return;
    port.PortLog().WriteSystemText("A TCP/IP connection is established. Start SSL.\r\n");
    port.SockState = VSP_SOCKET_SSL_HANDSHAKE;
    m_ports.UpdateRow(port);
    if (port.SslStartTick != 0)
        ArmHandshakeDeadline(port.SslStartTick);
}

void CLinkSupervisor::OnLinkClosed(CVSPDataEx& port) {
    port.PortLog().WriteSystemText("A TCP/IP connection is closed. \r\n");
    if (port.VspMode == VSP_MODE_TCP_CLIENT) {
        port.SockState = VSP_SOCKET_NOT_CONNECTED;
        m_ports.UpdateRow(port);
        port.SockState = VSP_SOCKET_CLOSED;
    } else if (port.VspMode == VSP_MODE_TCP_SERVER) {
        port.SockState = VSP_SOCKET_LISTENING;
        m_ports.UpdateRow(port);
    }
}

void CLinkSupervisor::OnLinkFailed(CVSPDataEx& port, long error) {
    if (error != 0) {
        const int code = static_cast<int>(error);
        port.PortLog().WriteSystemText("%s", SystemErrorText(code).c_str());
        port.SockState = VSP_SOCKET_ERROR;
        port.LastSockError = code;
        m_ports.UpdateRow(port);
        if (port.LogData == 1)
            port.PortLog().WriteDataText("Connecting TCP has failed[%d].", code);
    }
    if (m_ports.BatchJob == 1)
        return;
    if (port.CloseNoticePending == 1) {
        m_ports.Notifier().HideMessageDialog();
        port.CloseNoticePending = 0;
        port.SockState = VSP_SOCKET_CLOSED;
    } else if (port.VspState == VSP_STOP) {
        m_ports.Notifier().HideMessageDialog();
        m_ports.UpdateRow(port);
    } else if (port.VspMode == VSP_MODE_TCP_CLIENT || port.VspMode == VSP_MODE_UDP) {
        port.SockState = VSP_SOCKET_CLOSED;
    }
}
