#pragma once

// Messages a link reports to the port engine; the parameter is the port's VspId.
enum LinkMessage : int {
    WM_LINK_ACCEPTED = 2027,  // a TCP client was accepted (lParam 0)
    WM_LINK_CLOSED = 2028,    // the peer closed (lParam the close error)
    WM_LINK_CONNECTED = 2029, // the client connect or the TLS handshake finished (lParam 0)
    WM_LINK_FAILED = 2031,    // any failure (lParam the error code)
    WM_TLS_STARTED = 2032,    // TCP up under a TLS link, handshake starting (lParam 0)
};

// The engine side of the links. "Sent" messages are direct calls; "posted" ones go through PostLinkMessage,
// which delivers them later from the event loop.
class CLinkMessageSink {
public:
    virtual ~CLinkMessageSink() = default;
    virtual void OnLinkMessage(int message, int vspId, long lParam) = 0;
    // Bytes were queued for the virtual port, or a blocked send can go on: the data pump has work.
    virtual void OnLinkReady(int vspId) = 0;
};

// Delivers the message to the sink from the event loop, after the current handler has returned.
void PostLinkMessage(CLinkMessageSink* sink, int message, int vspId, long lParam);
