#include "ComPortCommand.h"

#include "TelnetProtocol.h"

std::vector<unsigned char> BuildComPortCommand(int command, uint32_t value32, uint8_t value8) {
    if (command < telnet::COM_SET_BAUDRATE || command > telnet::COM_SET_CONTROL)
        return {};
    std::vector<unsigned char> bytes{telnet::IAC, telnet::SB, telnet::OPTION_COM_PORT,
                                     static_cast<unsigned char>(command)};
    if (command == telnet::COM_SET_BAUDRATE) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<unsigned char>(value32 >> shift));
    } else {
        bytes.push_back(value8);
    }
    bytes.push_back(telnet::IAC);
    bytes.push_back(telnet::SE);
    return bytes;
}
