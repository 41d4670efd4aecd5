#pragma once

#include "AddressResolver.h"
#include "CPortLink.h"
#include "CTolSock.h"

#include <array>

class CVSPDataBasic;
class CVSPLog;

// A port's plain network link: TCP client, TCP server (one client at a time) or UDP. It reports every
// change of the link to the engine, queues received bytes for the virtual port and sends what the data
// pump gives it, keeping what the system refuses for the next writable notification.
class CNormalSocket : public CPortLink {
public:
    // The most the pump passes to SendData at once, and so the most that can wait for the system.
    static constexpr int PENDING_CAPACITY = 4096;
    // Reading pauses while more than this waits for the virtual port.
    static constexpr int RECEIVE_PAUSE_BYTES = 4096;
    static constexpr int TCP_READ_BYTES = 1024;

    CNormalSocket(CVSPDataBasic& port, CVSPLog& programLog, CVSPLog& portLog);

    // The port's Telnet COM port engine, which takes bytes that arrive while no application has the port
    // open; none by default.
    void SetTelnetReceiver(CTelnetReceiver* receiver) { m_telnet = receiver; }

    bool CreateSocket() override;
    void CloseSocket() override;
    int SendData(const unsigned char* data, int length) override;
    void PollReceive() override { OnReceive(); }
    bool IsWriteBlocked() const override { return m_writeBlocked != 0; }
    void SetMessageSink(CLinkMessageSink* sink) override { m_sink = sink; }

    // Sends what waits in the pending buffer; returns the pending offset reached.
    int ResumeSend();
    bool HasPendingSend() const { return m_pendingOffset < m_pendingLength; }

    // Notifications of the link's sockets (and the pump's resume-after-pause for OnReceive).
    void OnReceive();
    void OnAccept(CTolSock& listener, int error);
    void OnConnect(int error);
    void OnClose(int error);

private:
    bool CreateClient();
    bool CreateServer();
    bool CreateUdp();
    bool OpenMulticast(const ResolvedAddress& group);
    bool OpenDatagram(int family, int localPort);
    void Deliver(const unsigned char* data, int length);
    // Sends from `data` on the data socket (to the UDP peer in UDP mode); the platform's result.
    int SendOnce(const unsigned char* data, int length, const ResolvedAddress& target);
    // Closes the data socket; bytes still pending belonged to that connection and go with it.
    void CloseDataSocket();
    bool Fail(int error);
    bool FailClosing(CTolSock& socket, int error);
    void Report(int message, long lParam);
    void LogData(const char* text);

    CTolSock m_dataSocket{*this};
    CTolSock m_listenSocket{*this};
    CVSPDataBasic& m_port;
    CLinkMessageSink* m_sink = nullptr;
    CTelnetReceiver* m_telnet = nullptr;
    std::array<unsigned char, PENDING_CAPACITY> m_pending{};
    int m_pendingLength = 0;
    int m_pendingOffset = 0;
    int m_writeBlocked = 0;
    ResolvedAddress m_pendingTarget; // where pending UDP bytes go
    CVSPLog& m_programLog;
    CVSPLog& m_portLog;
};
