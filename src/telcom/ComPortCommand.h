#pragma once

#include <cstdint>
#include <vector>

// The wire bytes of one COM-PORT-OPTION command from client to access server: IAC SB COM-PORT-OPTION,
// the command, its value, IAC SE. SET-BAUDRATE (1) carries value32 most significant byte first; the
// commands 2 to 5 carry value8. A value byte 255 is doubled, as inside any subnegotiation. Empty for any
// other command.
std::vector<unsigned char> BuildComPortCommand(int command, uint32_t value32, uint8_t value8);
