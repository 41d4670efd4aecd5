#pragma once

#include <string>

class CEnginePorts;
class CVSPDataEx;

// Follows what the application does with its virtual port: records and logs each event, starts and stops
// the link with the port's open and close when Sync is on, and on Telnet COM ports forwards the settings
// and signals to the peer while the link is connected.
class CSerialEventRouter {
public:
    explicit CSerialEventRouter(CEnginePorts& ports);

    void OnOpenClose(int id, int opened);
    void OnBaudRate(int id, int baud);
    void OnLineControl(int id, int stopBits, int parity, int wordLength);
    void OnFlowControl(int id, int handshake, int flowReplace, int xonLimit, int xoffLimit);
    void OnRTS(int id, int level);
    void OnDTR(int id, int level);
    void OnBreak(int id, int on);

    // The application's current settings and signals to the peer, when a link comes up.
    void SendPortStateToNet(CVSPDataEx& port);
    // The modem lines the peer last reported to the application, when it opens the port.
    void SendPortStateToVsp(CVSPDataEx& port);

    // Baud-rate emulation on or off for the named port; an unknown name changes nothing.
    void SetStrictBaudrate(bool on, const std::string& portName);
    // Applies the port's StrictBaudrate to its virtual port and logs the outcome; false when the call
    // failed. Shows nothing: callers on other threads report the failure themselves.
    static bool ApplyStrictBaudrate(CVSPDataEx& port);

private:
    // Forwarding to the peer applies only on Telnet COM ports whose link is connected.
    static bool Forwards(const CVSPDataEx& port);

    CEnginePorts& m_ports;
};

// SET-STOPSIZE value of a stop-bit code: 1 one, 3 one and a half, 2 two; 0 for codes without a value.
int StopSizeOf(int stopBits);
