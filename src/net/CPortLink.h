#pragma once

class CLinkMessageSink;

// What the engine needs of a port's network link, plain or TLS.
class CPortLink {
public:
    virtual ~CPortLink() = default;
    // Opens the link in the port's mode; false when it failed (the failure was reported as 2031).
    virtual bool CreateSocket() = 0;
    virtual void CloseSocket() = 0;
    // Bytes taken (sent, kept pending or handed to TLS); at most 4096 per call.
    virtual int SendData(const unsigned char* data, int length) = 0;
    // Reads what the link holds into the port's inbound queue (the pump calls it while data flows).
    virtual void PollReceive() = 0;
    // True while the platform refuses more bytes; the pump sends nothing then.
    virtual bool IsWriteBlocked() const = 0;
    // Where the link reports; given when the port is registered with the engine.
    virtual void SetMessageSink(CLinkMessageSink* sink) = 0;
};

// Receives network bytes of a Telnet COM port that arrive while no application has the port open.
class CTelnetReceiver {
public:
    virtual ~CTelnetReceiver() = default;
    // Returns the bytes consumed.
    virtual int ProcessReceived(const unsigned char* data, int length) = 0;
};
