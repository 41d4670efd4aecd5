#pragma once

#include <optional>

// Any baud rate, set and read as an application does for rates termios has no name for (BOTHER).
bool SetAnyLineRate(int fd, int rate);
std::optional<int> LineRateOf(int fd);
