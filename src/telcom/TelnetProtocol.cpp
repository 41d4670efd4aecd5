#include "TelnetProtocol.h"

namespace telnet {

std::string OptionName(int option) {
    switch (option) {
    case 1:
        return "ECHO";
    case 3:
        return "SUPPRESS GO AHEAD";
    case 5:
        return "STATUS";
    case 6:
        return "TIMING MARK";
    case 24:
        return "TERMINAL TYPE";
    case 31:
        return "WINDOW SIZE";
    case 32:
        return "TERMINAL SPEED";
    case 33:
        return "REMOTE FLOW CONTROL";
    case 34:
        return "LINE MODE";
    case 36:
        return "ENVIRONMENT VARIABLE";
    case 44:
        return "COM-PORT-OPTION";
    default:
        return std::to_string(option);
    }
}

} // namespace telnet
