#pragma once

#include "CChunkQueue.h"
#include "PortStates.h"

#include <cstdint>
#include <string>

// One virtual serial port: its stored configuration (field names are the store's value names) and the
// runtime values the engine and the port list read all the time.
class CVSPDataBasic {
public:
    CVSPDataBasic() = default;
    CVSPDataBasic(const CVSPDataBasic&) = delete;
    CVSPDataBasic& operator=(const CVSPDataBasic&) = delete;
    virtual ~CVSPDataBasic() = default;

    // Copies the stored configuration from another record; the id and the runtime values stay.
    void CopyConfiguration(const CVSPDataBasic& other);

    // --- stored configuration ---
    int32_t VspId = -1;
    std::string PortName;
    std::string PortComments;
    int32_t AutoStart = 1;
    int32_t SSLUse = 0;
    int32_t KeepAlive = 1;
    int32_t TelComUse = 0;
    int32_t LogData = 0;
    int32_t LogSystem = 0;
    int32_t Sync = 0;
    int32_t Bypass = 0;
    std::string BypassPortName;
    int32_t StrictBaudrate = 0;
    int32_t VspMode = VSP_MODE_TCP_CLIENT;
    int32_t TcpServerType = 0;
    std::string PeerName;
    uint32_t PeerIp = 0; // IPv4, network byte order
    int32_t PeerPort = 1470;
    int32_t LocalPort = 1470;

    // --- runtime values ---
    int32_t VspState = VSP_CLOSED;
    int32_t SockState = VSP_SOCKET_NOT_CONNECTED;
    int32_t LastSockError = 0;
    std::string RemoteAddress;
    int32_t RtsState = 1;
    int32_t CtsState = 0;
    int32_t DtrState = 0;
    int32_t DsrState = 0;
    int32_t DcdState = 0;
    int32_t VspReadBytes = 0;
    int32_t NetSentBytes = 0;
    int32_t NetRecvBytes = 0;
    int32_t VspWrittenBytes = 0;
    CVSPDataBasic* BypassPeer = nullptr; // not owned
    CChunkQueue NetToPortQueue;          // from the network, waiting for the virtual port
    CChunkQueue PortToNetQueue;          // from the virtual port, waiting for the network
    int32_t CloseNoticePending = 0;
    uint32_t SslStartTick = 0;

    int32_t PortToNetQueued() const { return static_cast<int32_t>(PortToNetQueue.TotalBytes()); }
    int32_t NetToPortQueued() const { return static_cast<int32_t>(NetToPortQueue.TotalBytes()); }
};

// Text of the port list's settings column from what the virtual port reports; empty when no
// application has the port open. Example: "[E]9600:NONE:8:1:NONE".
std::string SerialSettingsText(bool opened, int strictBaudrate, int baudRate, int parity, int dataBits,
                               int stopBits, int flowReplace);
