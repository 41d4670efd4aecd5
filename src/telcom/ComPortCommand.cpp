#include "ComPortCommand.h"

#include "TelnetProtocol.h"

namespace {

// Inside a subnegotiation a value byte 255 would read as IAC: a rate such as 65535 would otherwise end
// the command early or run it into the bytes after it.
void AppendValueByte(std::vector<unsigned char>& bytes, unsigned char value) {
    bytes.push_back(value);
    if (value == telnet::IAC)
        bytes.push_back(telnet::IAC);
}

} // namespace

std::vector<unsigned char> BuildComPortCommand(int command, uint32_t value32, uint8_t value8) {
    if (command < telnet::COM_SET_BAUDRATE || command > telnet::COM_SET_CONTROL)
        return {};
    std::vector<unsigned char> bytes{telnet::IAC, telnet::SB, telnet::OPTION_COM_PORT,
                                     static_cast<unsigned char>(command)};
    if (command == telnet::COM_SET_BAUDRATE) {
        for (int shift = 24; shift >= 0; shift -= 8)
            AppendValueByte(bytes, static_cast<unsigned char>(value32 >> shift));
    } else {
        AppendValueByte(bytes, value8);
    }
    bytes.push_back(telnet::IAC);
    bytes.push_back(telnet::SE);
    return bytes;
}
