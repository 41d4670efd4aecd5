// Uses the kernel's termios2 directly: glibc's termios cannot express arbitrary rates (BOTHER), and the
// two headers cannot share a translation unit.
#include "LineSettings.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

namespace {

int ParityCode(tcflag_t cflag) {
    if (!(cflag & PARENB))
        return 0;
    if (cflag & CMSPAR)
        return (cflag & PARODD) ? 3 : 4;
    return (cflag & PARODD) ? 1 : 2;
}

int DataBits(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

} // namespace

std::optional<LineSettings> ReadLineSettings(int fd) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return std::nullopt;
    LineSettings s;
    s.baudRate = static_cast<int>(tio.c_ospeed);
    s.dataBits = DataBits(tio.c_cflag);
    s.parity = ParityCode(tio.c_cflag);
    s.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    s.rtsCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
    s.xonOutput = (tio.c_iflag & IXON) != 0;
    s.xoffInput = (tio.c_iflag & IXOFF) != 0;
    s.extproc = (tio.c_lflag & EXTPROC) != 0;
    return s;
}

bool ApplyRawDefaults(int fd) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = EXTPROC;
    // A named rate, so that programs using the classic termios calls read it back as B9600.
    tio.c_cflag = B9600 | CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

bool RestoreExtproc(int fd) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    tio.c_lflag |= EXTPROC;
    return ioctl(fd, TCSETS2, &tio) == 0;
}
