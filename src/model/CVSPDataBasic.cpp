#include "CVSPDataBasic.h"

void CVSPDataBasic::CopyConfiguration(const CVSPDataBasic& other) {
    PortName = other.PortName;
    PortComments = other.PortComments;
    AutoStart = other.AutoStart;
    SSLUse = other.SSLUse;
    KeepAlive = other.KeepAlive;
    TelComUse = other.TelComUse;
    LogData = other.LogData;
    LogSystem = other.LogSystem;
    Sync = other.Sync;
    Bypass = other.Bypass;
    BypassPortName = other.BypassPortName;
    StrictBaudrate = other.StrictBaudrate;
    VspMode = other.VspMode;
    TcpServerType = other.TcpServerType;
    PeerName = other.PeerName;
    PeerIp = other.PeerIp;
    PeerPort = other.PeerPort;
    LocalPort = other.LocalPort;
}

std::string SerialSettingsText(bool opened, int strictBaudrate, int baudRate, int parity, int dataBits,
                               int stopBits, int flowReplace) {
    if (!opened)
        return {};
    static const char* const parityNames[] = {":NONE", ":ODD", ":EVEN", ":MARK", ":SPACE"};
    static const char* const stopBitNames[] = {":1", ":1.5", ":2"};
    std::string text = strictBaudrate != 0 ? "[E]" : "";
    text += std::to_string(baudRate);
    if (parity >= 0 && parity <= 4)
        text += parityNames[parity];
    text += ":" + std::to_string(dataBits);
    if (stopBits >= 0 && stopBits <= 2)
        text += stopBitNames[stopBits];
    if (flowReplace & 0x03)
        text += ":XONOFF";
    else if (flowReplace & 0x80)
        text += ":RTSCTS";
    else
        text += ":NONE";
    return text;
}
