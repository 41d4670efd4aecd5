#pragma once

#include "CPortLink.h"
#include "TelnetProtocol.h"

#include <cstddef>
#include <cstdint>

class CVSPDataBasic;
class CVSPLog;
class CVsportax1;

// The client side of Telnet COM port control for one port: splits what the peer sends into Telnet commands
// and serial data, answers the peer's option negotiation, presents the peer's modem lines to the virtual
// port, and sends the serial settings the application chose. It never opens a negotiation of its own.
// Lives as long as its port; the parse state carries over from one connection to the next.
class CTelComEngine : public CTelnetReceiver {
public:
    // Commands of SendComPortCommand.
    static constexpr int SET_BAUDRATE = telnet::COM_SET_BAUDRATE;
    static constexpr int SET_DATASIZE = telnet::COM_SET_DATASIZE;
    static constexpr int SET_PARITY = telnet::COM_SET_PARITY;
    static constexpr int SET_STOPSIZE = telnet::COM_SET_STOPSIZE;
    static constexpr int SET_CONTROL = telnet::COM_SET_CONTROL;

    // The longest subnegotiation kept: option, command and values.
    static constexpr int SUBNEGOTIATION_CAPACITY = 32;

    CTelComEngine(CVSPDataBasic& port, CPortLink& plainLink, CPortLink& tlsLink, CVSPLog& programLog,
                  CVSPLog& portLog);
    CTelComEngine(const CTelComEngine&) = delete;
    CTelComEngine& operator=(const CTelComEngine&) = delete;

    // The port's virtual port, once it exists; nullptr while there is none (data is then dropped).
    void SetControl(CVsportax1* control);

    // Takes bytes from the network; returns how many were consumed (0..length). It stops early when the
    // application's DTR/RTS receive flow control holds or the virtual port takes no more; the caller keeps
    // the rest and offers it again.
    int ProcessReceived(const unsigned char* data, int length) override;

    // Sends one COM-PORT-OPTION subnegotiation: SET_BAUDRATE carries value32, the others value8. Other
    // commands send nothing.
    void SendComPortCommand(int command, uint32_t value32, uint8_t value8);

    void SendDo(int option);
    void SendDont(int option);
    void SendWill(int option);
    void SendWont(int option);
    // Sends bytes as they are over the port's link (TLS when the port uses it); on a plain link they wait
    // in the port's outbound queue behind serial data still queued there or while the link refuses bytes.
    void SendRaw(const unsigned char* data, int length);

private:
    enum class ParseState {
        Data,
        AfterIac,
        Command,
        Subnegotiation,
        SubnegotiationIac,
        // An overlong subnegotiation is read to its end and thrown away, so its bytes never pass as data.
        OverlongSubnegotiation,
        OverlongSubnegotiationIac,
    };

    // True while an application has the port open and the bytes can reach it.
    bool Delivering() const;
    bool ReceiveFlowStopped(int handshake, int flowReplace) const;
    // Delivers one serial byte, or logs it as dropped when nobody has the port open; false when the
    // virtual port took nothing.
    bool DeliverByte(unsigned char byte);
    // Parses one byte in the current state; false when it stays unconsumed.
    bool ParseByte(unsigned char byte);
    void ParseAfterIac(unsigned char byte);
    void AppendSubnegotiation(unsigned char byte);
    void HandleNegotiation(int verb, int option);
    void HandleSubnegotiation();
    void HandleComPortNotice();
    void ApplyModemState(unsigned char state);
    void SendVerb(const char* verbName, unsigned char verb, int option);
    bool LogsData() const;

    CVsportax1* m_control = nullptr;
    CPortLink& m_plainLink;
    CPortLink& m_tlsLink;
    bool m_sgaAnswered = false;
    bool m_echoAnswered = false;
    ParseState m_state = ParseState::Data;
    int m_subnegotiationLength = 0;
    unsigned char m_subnegotiation[SUBNEGOTIATION_CAPACITY] = {};
    CVSPDataBasic& m_port;
    CVSPLog& m_portLog;
};
