#pragma once

// State of the virtual port (VspState).
enum VspStateCode : int {
    VSP_CLOSED = 1000,
    VSP_OPENED = 1002,
    VSP_ATTACH_FAILED = 1003,
    VSP_STOP = 1004,
};

// State of the network link (SockState). Data flows only in CONNECTED and UDP_OPEN.
enum SockStateCode : int {
    VSP_SOCKET_NOT_CONNECTED = 2000,
    VSP_SOCKET_CONNECTED = 2001,
    VSP_SOCKET_ERROR = 2002,
    VSP_SOCKET_CONNECTING = 2003,
    VSP_SOCKET_LISTENING = 2004,
    VSP_SOCKET_UDP_OPEN = 2005,
    VSP_SOCKET_SSL_HANDSHAKE = 2006,
    VSP_SOCKET_CLOSED = 2007,
};

// Network mode (VspMode).
enum VspModeCode : int {
    VSP_MODE_TCP_CLIENT = 0,
    VSP_MODE_TCP_SERVER = 1,
    VSP_MODE_UDP = 2,
};

// Control ids name the ports everywhere: 256 of them.
constexpr int VSP_ID_FIRST = 8000;
constexpr int VSP_ID_LAST = 8255;
constexpr int VSP_ID_COUNT = VSP_ID_LAST - VSP_ID_FIRST + 1;

inline bool IsDataFlowing(int sockState) {
    return sockState == VSP_SOCKET_CONNECTED || sockState == VSP_SOCKET_UDP_OPEN;
}
