#pragma once

#include <optional>

// A serial line's settings as the port reports them, in the codes of CVsportax1.
struct LineSettings {
    int baudRate = 9600; // 0 when the application set B0 (hang up)
    int dataBits = 8;
    int parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0; // 0 one, 2 two
    bool rtsCtsFlow = false;
    bool xonOutput = false; // IXON: the application's output obeys XON/XOFF
    bool xoffInput = false; // IXOFF: the application sends XON/XOFF
    bool extproc = false;

    int Handshake() const { return rtsCtsFlow ? 0x08 : 0; }
    int FlowReplace() const {
        return (rtsCtsFlow ? 0x80 : 0) | (xonOutput ? 0x01 : 0) | (xoffInput ? 0x02 : 0);
    }
    // Bits one character takes on the wire: start, data, parity, stop.
    int BitsPerCharacter() const { return 1 + dataBits + (parity != 0 ? 1 : 0) + (stopBits == 2 ? 2 : 1); }

    bool SameFraming(const LineSettings& o) const {
        return dataBits == o.dataBits && parity == o.parity && stopBits == o.stopBits;
    }
    bool SameFlow(const LineSettings& o) const {
        return rtsCtsFlow == o.rtsCtsFlow && xonOutput == o.xonOutput && xoffInput == o.xoffInput;
    }
};

// The terminal settings behind `fd`; on a pseudo-terminal master those of its slave. Any rate, including
// ones set with BOTHER, is read as a number.
std::optional<LineSettings> ReadLineSettings(int fd);
// Puts the slave of master `fd` into the state a serial port has before anyone configures it: raw, no
// echo, 9600 baud, 8N1, receiver on, plus EXTPROC so that every settings change is reported in packet mode.
bool ApplyRawDefaults(int fd);
// Sets EXTPROC again without touching anything else the application chose.
bool RestoreExtproc(int fd);
