#include "CTelComEngine.h"

#include "CVSPDataBasic.h"
#include "CVSPLog.h"
#include "CVsportax1.h"
#include "ComPortCommand.h"

#include <cstring>
#include <string>

namespace {

// Handshake bits of the application's flow-control words that gate what it receives.
constexpr int HANDSHAKE_DTR = 0x02;
constexpr int FLOW_REPLACE_RTS = 0x80;

// The terminal type the engine gives: IAC SB TERMINAL-TYPE IS "DUMP" NUL IAC SE.
constexpr unsigned char TERMINAL_TYPE_ANSWER[] = {
    telnet::IAC, telnet::SB, telnet::OPTION_TERMINAL_TYPE, telnet::TERMINAL_TYPE_IS, 'D', 'U', 'M', 'P', 0,
    telnet::IAC, telnet::SE};

const char* ControlChangeText(int value) {
    switch (value) {
    case telnet::CONTROL_BREAK_ON:
        return "Set BREAK State ON\r\n";
    case telnet::CONTROL_BREAK_OFF:
        return "Set BREAK State OFF\r\n";
    case telnet::CONTROL_DTR_ON:
        return "Set DTR Signal State ON\r\n";
    case telnet::CONTROL_DTR_OFF:
        return "Set DTR Signal State OFF\r\n";
    case telnet::CONTROL_RTS_ON:
        return "Set RTS Signal State ON\r\n";
    case telnet::CONTROL_RTS_OFF:
        return "Set RTS Signal State OFF\r\n";
    default:
        return "";
    }
}

// One modem line of the peer's modem-state notification, in the order they are applied.
struct ModemLine {
    unsigned char bit;
    const char* name;
    int32_t CVSPDataBasic::*field; // nullptr: the line is not kept in the record
    int (CVsportax1::*set)(int);
};

constexpr ModemLine MODEM_LINES[] = {
    {0x40, "RING", nullptr, &CVsportax1::SetRING},
    {0x20, "DSR", &CVSPDataBasic::DsrState, &CVsportax1::SetDSR},
    {0x10, "CTS", &CVSPDataBasic::CtsState, &CVsportax1::SetCTS},
    {0x80, "DCD", &CVSPDataBasic::DcdState, &CVsportax1::SetDCD},
};

} // namespace

CTelComEngine::CTelComEngine(CVSPDataBasic& port, CPortLink& plainLink, CPortLink& tlsLink, CVSPLog&,
                             CVSPLog& portLog)
    : m_plainLink(plainLink), m_tlsLink(tlsLink), m_port(port), m_portLog(portLog) {}

void CTelComEngine::SetControl(CVsportax1* control) {
    m_control = control;
}

int CTelComEngine::ProcessReceived(const unsigned char* data, int length) {
    if (data == nullptr || length <= 0)
        return 0;
    for (int i = 0; i < length; ++i) {
        const unsigned char byte = data[i];
        const int handshake = m_control ? m_control->GetHandshake() : 0;
        const int flowReplace = m_control ? m_control->GetFlowReplace() : 0;
        if (m_state == ParseState::Data && byte == telnet::IAC) {
            m_state = ParseState::AfterIac;
            continue;
        }
        if (m_port.VspState == VSP_OPENED && ReceiveFlowStopped(handshake, flowReplace))
            return i;
        if (!ParseByte(byte))
            return i;
    }
    return length;
}

bool CTelComEngine::Delivering() const {
    return m_port.VspState == VSP_OPENED && m_control != nullptr;
}

bool CTelComEngine::ReceiveFlowStopped(int handshake, int flowReplace) const {
    if (m_control == nullptr)
        return false;
    if ((handshake & HANDSHAKE_DTR) && m_control->GetDTR() == 0)
        return true;
    return (flowReplace & FLOW_REPLACE_RTS) && m_control->GetRTS() == 0;
}

bool CTelComEngine::DeliverByte(unsigned char byte) {
    if (!Delivering()) {
        if (LogsData())
            m_portLog.DumpDropped(&byte, 1);
        return true;
    }
    const int taken = m_control->Write(&byte, 1);
    if (taken <= 0)
        return false;
    if (LogsData())
        m_portLog.DumpData(&byte, 1, CVSPLog::TCP_TO_VSP);
    m_port.NetRecvBytes += taken;
    m_port.VspWrittenBytes += taken;
    return true;
}

bool CTelComEngine::ParseByte(unsigned char byte) {
    switch (m_state) {
    case ParseState::Data:
        return DeliverByte(byte);
    case ParseState::AfterIac:
        if (byte == telnet::IAC) {
            // The escaped 0xFF stays pending after IAC when refused, so offering it again delivers it.
            if (!DeliverByte(byte))
                return false;
            m_state = ParseState::Data;
            return true;
        }
        ParseAfterIac(byte);
        return true;
    case ParseState::Command:
        m_subnegotiation[1] = byte;
        m_subnegotiationLength = 2;
        m_state = ParseState::Data;
        HandleNegotiation(m_subnegotiation[0], byte);
        return true;
    case ParseState::Subnegotiation:
        if (byte == telnet::IAC)
            m_state = ParseState::SubnegotiationIac;
        else
            AppendSubnegotiation(byte);
        return true;
    case ParseState::SubnegotiationIac:
        if (byte == telnet::IAC) {
            m_state = ParseState::Subnegotiation;
            AppendSubnegotiation(byte);
        } else {
            m_state = ParseState::Data;
            if (byte == telnet::SE)
                HandleSubnegotiation();
        }
        return true;
    case ParseState::OverlongSubnegotiation:
        if (byte == telnet::IAC)
            m_state = ParseState::OverlongSubnegotiationIac;
        return true;
    case ParseState::OverlongSubnegotiationIac:
        m_state = byte == telnet::IAC ? ParseState::OverlongSubnegotiation : ParseState::Data;
        return true;
    }
    return true;
}

void CTelComEngine::ParseAfterIac(unsigned char byte) {
    switch (byte) {
    case telnet::SB:
        m_subnegotiationLength = 0;
        m_state = ParseState::Subnegotiation;
        return;
    case telnet::WILL:
    case telnet::WONT:
    case telnet::DO:
    case telnet::DONT:
        m_subnegotiation[0] = byte;
        m_subnegotiationLength = 1;
        m_state = ParseState::Command;
        return;
    default:
        // NOP, GA and the other two-byte commands carry no option: the next byte is the peer's again.
        m_state = ParseState::Data;
        return;
    }
}

void CTelComEngine::AppendSubnegotiation(unsigned char byte) {
    if (m_subnegotiationLength == SUBNEGOTIATION_CAPACITY) {
        m_state = ParseState::OverlongSubnegotiation;
        return;
    }
    m_subnegotiation[m_subnegotiationLength++] = byte;
}

void CTelComEngine::HandleNegotiation(int verb, int option) {
    if (LogsData()) {
        const std::string name = telnet::OptionName(option);
        m_portLog.WriteDataRaw(name.data(), name.size());
    }
    switch (verb) {
    case telnet::WILL:
        if (option == telnet::OPTION_SUPPRESS_GO_AHEAD) {
            if (!m_sgaAnswered)
                SendDo(option);
            m_sgaAnswered = true;
        } else if (option == telnet::OPTION_ECHO) {
            if (!m_echoAnswered)
                SendDo(option);
            m_echoAnswered = true;
        } else if (option != telnet::OPTION_COM_PORT) {
            SendDont(option);
        }
        return;
    case telnet::DO:
        if (option == telnet::OPTION_SUPPRESS_GO_AHEAD) {
            if (!m_sgaAnswered)
                SendWill(option);
            m_sgaAnswered = true;
        } else if (option == telnet::OPTION_ECHO) {
            SendWont(option);
            m_echoAnswered = true;
        } else if (option == telnet::OPTION_TERMINAL_TYPE) {
            SendWill(option);
        } else if (option != telnet::OPTION_COM_PORT) {
            SendWont(option);
        }
        return;
    default:
        return;
    }
}

void CTelComEngine::HandleSubnegotiation() {
    if (m_subnegotiationLength < 2)
        return;
    const int option = m_subnegotiation[0];
    if (option == telnet::OPTION_TERMINAL_TYPE && m_subnegotiation[1] == telnet::TERMINAL_TYPE_SEND)
        SendRaw(TERMINAL_TYPE_ANSWER, sizeof TERMINAL_TYPE_ANSWER);
    else if (option == telnet::OPTION_COM_PORT)
        HandleComPortNotice();
}

void CTelComEngine::HandleComPortNotice() {
    const int command = m_subnegotiation[1];
    const int valueLength = m_subnegotiationLength - 2;
    const unsigned char* value = m_subnegotiation + 2;
    if (command == telnet::COM_NOTIFY_MODEMSTATE ||
        command == telnet::COM_SERVER_ANSWER + telnet::COM_NOTIFY_MODEMSTATE) {
        if (valueLength >= 1)
            ApplyModemState(value[0]);
        return;
    }
    if (!LogsData())
        return;
    if (command == telnet::COM_NOTIFY_LINESTATE ||
        command == telnet::COM_SERVER_ANSWER + telnet::COM_NOTIFY_LINESTATE) {
        m_portLog.WriteDataText("[TELCOM] TCP -> VSP notify linestate\r\n");
        return;
    }
    // The access server's answers to our commands are only traced; a short answer has nothing to trace.
    if (command == telnet::COM_SERVER_ANSWER + telnet::COM_SET_BAUDRATE && valueLength >= 4) {
        const uint32_t baud = uint32_t{value[0]} << 24 | uint32_t{value[1]} << 16 | uint32_t{value[2]} << 8 |
                              uint32_t{value[3]};
        m_portLog.WriteDataText("[TELCOM] TCP -> VSP response of SET_BAUDRATE [%u]\r\n", baud);
        return;
    }
    if (valueLength < 1)
        return;
    switch (command - telnet::COM_SERVER_ANSWER) {
    case telnet::COM_SET_DATASIZE:
        m_portLog.WriteDataText("[TELCOM] TCP -> VSP response of SET_DATASIZE [%d]\r\n", value[0]);
        return;
    case telnet::COM_SET_PARITY:
        m_portLog.WriteDataText(
            "[TELCOM] TCP -> VSP response of SET_PARITY 1:NONE,2:ODD,3:EVEN,4:MARK,5:SPACE [%d]\r\n",
            value[0]);
        return;
    case telnet::COM_SET_STOPSIZE:
        m_portLog.WriteDataText("[TELCOM] TCP -> VSP response of SET_STOPSIZE 1:1,2:2,3:1.5 [%d]\r\n",
                                value[0]);
        return;
    case telnet::COM_SET_CONTROL:
        m_portLog.WriteDataText("[TELCOM] TCP -> VSP response of SET_CONTROL [%02X]\r\n%s", value[0],
                                ControlChangeText(value[0]));
        return;
    default:
        return;
    }
}

void CTelComEngine::ApplyModemState(unsigned char state) {
    for (const ModemLine& line : MODEM_LINES) {
        // Our converters report a line that is on with its bit clear (the reverse of RFC 2217's sense).
        const int level = (state & line.bit) ? 0 : 1;
        if (line.field != nullptr)
            m_port.*line.field = level;
        const char* levelText = level ? "TRUE" : "FALSE";
        if (m_control != nullptr && m_control->IsOpened() == 1) {
            const int result = (m_control->*line.set)(level);
            if (LogsData())
                m_portLog.WriteDataText("[TELCOM] TCP -> VSP Set%s(%s) [%d]\r\n", line.name, levelText,
                                        result);
        } else if (LogsData()) {
            // This one closed-port line has never had the blank before its line end.
            const bool bare = line.field == nullptr && level;
            m_portLog.WriteDataText("[TELCOM] TCP -> VSP Set%s(%s) : VSP IS CLOSED.%s\r\n", line.name,
                                    levelText, bare ? "" : " ");
        }
    }
}

void CTelComEngine::SendComPortCommand(int command, uint32_t value32, uint8_t value8) {
    const std::vector<unsigned char> bytes = BuildComPortCommand(command, value32, value8);
    if (!bytes.empty())
        SendRaw(bytes.data(), static_cast<int>(bytes.size()));
}

void CTelComEngine::SendDo(int option) {
    SendVerb("DO", telnet::DO, option);
}
void CTelComEngine::SendDont(int option) {
    SendVerb("DONT", telnet::DONT, option);
}
void CTelComEngine::SendWill(int option) {
    SendVerb("WILL", telnet::WILL, option);
}
void CTelComEngine::SendWont(int option) {
    SendVerb("WONT", telnet::WONT, option);
}

void CTelComEngine::SendVerb(const char* verbName, unsigned char verb, int option) {
    if (LogsData()) {
        const std::string entry = "<" + std::string(verbName) + "> " + telnet::OptionName(option) + "\r\n";
        m_portLog.WriteDataRaw(entry.data(), entry.size());
    }
    const unsigned char bytes[] = {telnet::IAC, verb, static_cast<unsigned char>(option)};
    SendRaw(bytes, sizeof bytes);
}

// Over TLS the link takes nothing until its handshake is done, so commands before that are dropped.
void CTelComEngine::SendRaw(const unsigned char* data, int length) {
    if (data == nullptr || length <= 0)
        return;
    if (m_port.SSLUse != 0) {
        m_tlsLink.SendData(data, length);
        return;
    }
    // Sent at once, a command would overtake the serial data still waiting for the link, or be lost while
    // the link refuses bytes; behind that data it leaves in order.
    if (!m_port.PortToNetQueue.IsEmpty() || m_plainLink.IsWriteBlocked()) {
        m_port.PortToNetQueue.Append(data, static_cast<std::size_t>(length));
        return;
    }
    m_plainLink.SendData(data, length);
}

bool CTelComEngine::LogsData() const {
    return m_port.LogData == 1;
}
