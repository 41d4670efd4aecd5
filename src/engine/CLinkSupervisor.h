#pragma once

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
    void SuperviseTlsClient(CVSPDataEx& port);
    void SuperviseTlsServer(CVSPDataEx& port);
    void SupervisePlain(CVSPDataEx& port);
    void HandshakeTimeout(CVSPDataEx& port);
    bool HandshakeTooLong(const CVSPDataEx& port) const;
    // Opens the link again when it may start, without logging an attempt.
    void Reopen(CVSPDataEx& port);

    CEnginePorts& m_ports;
    CSerialEventRouter& m_router;
};
