#pragma once

#include <memory>
#include <string>

// Events of a virtual port, raised on the GUI thread with the port's control id first.
class CVsportEvents {
public:
    virtual ~CVsportEvents() = default;
    virtual void OnOpenClose(int id, int opened) = 0;
    virtual void OnBaudRate(int id, int baud) = 0;
    virtual void OnLineControl(int id, int stopBits, int parity, int wordLength) = 0;
    virtual void OnFlowControl(int id, int handshake, int flowReplace, int xonLimit, int xoffLimit) = 0;
    virtual void OnRTS(int id, int level) = 0;
    virtual void OnDTR(int id, int level) = 0;
    virtual void OnBreak(int id, int on) = 0;
    // The application wrote bytes, or the port can take bytes again after a Write took less than offered:
    // the data pump has work. Lets an idle port cost nothing.
    virtual void OnDeviceReady(int id) = 0;
};

// One virtual serial port as the program drives it. BOOL results are 0 or 1. Every operation may be
// called from one job thread while the GUI thread runs.
class CVsportax1 {
public:
    virtual ~CVsportax1() = default;

    virtual int Create(const std::string& name) = 0;
    virtual int Attach(const std::string& name) = 0;
    virtual int Delete() = 0;
    virtual int IsPortValid() = 0;
    virtual int SetWiring(int a, int b, int c, int d) = 0;
    virtual int SetStrictBaudRate(int on) = 0;
    virtual int IsOpened() = 0;
    virtual int GetInCount() = 0;
    // Copies up to `length` bytes the application wrote; returns the count.
    virtual int Read(unsigned char* buffer, int length) = 0;
    // Delivers bytes to the application; returns the count taken (0..length).
    virtual int Write(const unsigned char* data, int length) = 0;
    virtual int SetDSR(int level) = 0;
    virtual int SetCTS(int level) = 0;
    virtual int SetDCD(int level) = 0;
    virtual int SetRING(int level) = 0;
    virtual int GetBaudRate() = 0;
    virtual int GetDataBits() = 0;
    virtual int GetParity() = 0;      // 0 none, 1 odd, 2 even, 3 mark, 4 space
    virtual int GetStopBits() = 0;    // 0 one, 1 one and a half, 2 two
    virtual int GetHandshake() = 0;   // bit 0x02 DTR handshake, 0x08 CTS handshake
    virtual int GetFlowReplace() = 0; // 0x01/0x02 XON/XOFF, 0x80 RTS handshake
    virtual int GetRTS() = 0;
    virtual int GetDTR() = 0;
    virtual std::string GetProgramName() = 0;
};

// The pseudo-terminal implementation: ports are links named after the port in `portDirectory`.
std::unique_ptr<CVsportax1> MakePtyPort(int controlId, CVsportEvents& events,
                                        const std::string& portDirectory);
