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
