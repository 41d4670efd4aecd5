#pragma once

#include <initializer_list>
#include <string>

// The bytes of one COM-PORT-OPTION command as they travel: IAC SB 44 <command> <value...> IAC SE.
inline std::string ComPortCommand(int command, std::initializer_list<int> value) {
    std::string bytes = {'\xFF', '\xFA', 44, static_cast<char>(command)};
    for (int byte : value)
        bytes.push_back(static_cast<char>(byte));
    return bytes + "\xFF\xF0";
}
