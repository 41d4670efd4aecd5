#pragma once

#include <string>

// Telnet command bytes and option numbers the engine speaks.
namespace telnet {

constexpr unsigned char IAC = 255;
constexpr unsigned char DONT = 254;
constexpr unsigned char DO = 253;
constexpr unsigned char WONT = 252;
constexpr unsigned char WILL = 251;
constexpr unsigned char SB = 250;
constexpr unsigned char SE = 240;

constexpr int OPTION_ECHO = 1;
constexpr int OPTION_SUPPRESS_GO_AHEAD = 3;
constexpr int OPTION_TERMINAL_TYPE = 24;
constexpr int OPTION_COM_PORT = 44;

// COM-PORT-OPTION commands a client sends; the access server answers with the command plus 100.
constexpr int COM_SET_BAUDRATE = 1;
constexpr int COM_SET_DATASIZE = 2;
constexpr int COM_SET_PARITY = 3;
constexpr int COM_SET_STOPSIZE = 4;
constexpr int COM_SET_CONTROL = 5;
constexpr int COM_NOTIFY_LINESTATE = 6;
constexpr int COM_NOTIFY_MODEMSTATE = 7;
constexpr int COM_SERVER_ANSWER = 100;

// Values of COM_SET_CONTROL that switch BREAK and the DTR and RTS lines.
constexpr int CONTROL_BREAK_ON = 5;
constexpr int CONTROL_BREAK_OFF = 6;
constexpr int CONTROL_DTR_ON = 8;
constexpr int CONTROL_DTR_OFF = 9;
constexpr int CONTROL_RTS_ON = 11;
constexpr int CONTROL_RTS_OFF = 12;

// Subnegotiation commands of TERMINAL-TYPE.
constexpr unsigned char TERMINAL_TYPE_IS = 0;
constexpr unsigned char TERMINAL_TYPE_SEND = 1;

// The option's name as the data log shows it; options without a name are written as their number.
std::string OptionName(int option);

} // namespace telnet
