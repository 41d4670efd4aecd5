#pragma once

#include "CVsportax1.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Runs the Qt event loop until `condition` holds or the deadline passes.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

struct PortEvent {
    std::string kind;
    std::vector<int> values;
    bool operator==(const PortEvent&) const = default;
};

// Keeps every event a port raises, and notes any raised off the thread that made the recorder.
class RecordingEvents : public CVsportEvents {
public:
    void OnOpenClose(int id, int opened) override { Add(id, {"OpenClose", {opened}}); }
    void OnBaudRate(int id, int baud) override { Add(id, {"BaudRate", {baud}}); }
    void OnLineControl(int id, int stopBits, int parity, int wordLength) override {
        Add(id, {"LineControl", {stopBits, parity, wordLength}});
    }
    void OnFlowControl(int id, int handshake, int flowReplace, int xonLimit, int xoffLimit) override {
        Add(id, {"FlowControl", {handshake, flowReplace, xonLimit, xoffLimit}});
    }
    void OnRTS(int id, int level) override { Add(id, {"RTS", {level}}); }
    void OnDTR(int id, int level) override { Add(id, {"DTR", {level}}); }
    void OnBreak(int id, int on) override { Add(id, {"Break", {on}}); }
    void OnDeviceReady(int id) override { Add(id, {"DeviceReady", {}}); }

    int Count(const PortEvent& event) const;
    int CountKind(const std::string& kind) const;
    std::vector<PortEvent> log;
    std::vector<int> ids;
    bool raisedOffThread = false;

private:
    void Add(int id, PortEvent event);
    std::thread::id m_thread = std::this_thread::get_id();
};

// One end of the link used exactly as a serial program uses it: open, tcsetattr, read, write, close.
class Application {
public:
    explicit Application(const std::string& path);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    void Close();
    // Raw 8N1 at `speed` (a termios B constant), plus extra control flags and input flags.
    bool MakeRaw(unsigned speed, unsigned extraCflag = 0, unsigned extraIflag = 0);
    bool Send(const std::string& bytes);
    // Reads exactly `count` bytes, or what arrived before the deadline.
    std::string Receive(std::size_t count,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Bytes waiting to be read right now.
    int Waiting() const;

private:
    int m_fd;
};

std::string AllByteValues();
