// Kept apart from the tests that use it: the kernel's termios2 and glibc's termios cannot share a file.
#include "LineRate.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

bool SetAnyLineRate(int fd, int rate) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return false;
    settings.c_cflag = (settings.c_cflag & ~CBAUD) | BOTHER;
    settings.c_ispeed = static_cast<speed_t>(rate);
    settings.c_ospeed = static_cast<speed_t>(rate);
    return ioctl(fd, TCSETS2, &settings) == 0;
}

std::optional<int> LineRateOf(int fd) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return std::nullopt;
    return static_cast<int>(settings.c_ospeed);
}
