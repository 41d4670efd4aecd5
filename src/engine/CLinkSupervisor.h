#pragma once

#include <QTimer>

#include <cstdint>

class CEnginePorts;
class CSerialEventRouter;
class CVSPDataEx;

// Keeps each port's link in the state its settings ask for: follows what the links report, reconnects
// lost links on every supervision pass and cuts TLS handshakes that take too long.
class CLinkSupervisor {
public:
    // A TLS handshake running longer than this is restarted.
    static constexpr unsigned HandshakeLimitMs = 10000;

    CLinkSupervisor(CEnginePorts& ports, CSerialEventRouter& router);

    // One pass over every row in display order.
    void SupervisionTick();

    // Dispatches a link's report; ids that name no port are ignored.
    void OnLinkMessage(int message, int vspId, long lParam);

    void OnLinkAccepted(CVSPDataEx& port, long lParam);
    void OnLinkClosed(CVSPDataEx& port);
    void OnLinkConnected(CVSPDataEx& port, long lParam);
    void OnLinkFailed(CVSPDataEx& port, long error);
    void OnTlsStarted(CVSPDataEx& port, long lParam);

private:
    void Supervise(CVSPDataEx& port);
    // True while the port's TLS handshake has started and neither finished nor been given up.
    static bool HandshakeRunning(CVSPDataEx& port);
    // Makes the deadline timer fire just after the limit of a handshake begun at startTick, unless it
    // already fires earlier.
    void ArmHandshakeDeadline(uint32_t startTick);
    void OnHandshakeDeadline();
    void SuperviseTlsClient(CVSPDataEx& port);
    void SuperviseTlsServer(CVSPDataEx& port);
    void SupervisePlain(CVSPDataEx& port);
    void HandshakeTimeout(CVSPDataEx& port);
    bool HandshakeTooLong(const CVSPDataEx& port) const;
    // Opens the link again when it may start, without logging an attempt.
    void Reopen(CVSPDataEx& port);

    CEnginePorts& m_ports;
    CSerialEventRouter& m_router;
    // The supervision pass comes every 5 s and its timer may drift, so a handshake could run well past
    // 15 s before a pass noticed it; this timer ends each one just after its limit.
    QTimer m_handshakeDeadline;
};
