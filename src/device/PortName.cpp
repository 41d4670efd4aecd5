#include "PortName.h"

bool IsSafePortName(const std::string& name) {
    constexpr std::size_t kMaxLength = 64;
    if (name.empty() || name.size() > kMaxLength || name == "." || name == "..")
        return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}
