#pragma once

#include "CVsportax1.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <string>
#include <utility>
#include <vector>

// Modem-line inputs in the order they were set, e.g. {"DSR", 1}.
using LineSets = std::vector<std::pair<std::string, int>>;

// A virtual port with what a pseudo-terminal cannot show: the application's modem lines, flow-control
// words and settings are set by the test; what the engine delivers to the application and every modem-line
// input it sets are recorded.
class VsportDouble : public CVsportax1 {
public:
    // Asked by the job thread while the port is made.
    std::atomic<int> opened = 1;
    std::atomic<int> strictBaudRate = -1; // the last SetStrictBaudRate; -1 before any
    std::atomic<int> acceptsStrictBaudRate = 1;

    int baud = 9600, dataBits = 8, parity = 0, stopBits = 0;
    int handshake = 0;
    int flowReplace = 0;
    int dtr = 1;
    int rts = 1;
    int setResult = 1;           // what every modem-line set returns
    int bytesAccepted = INT_MAX; // Write takes nothing once this many bytes were delivered

    std::vector<unsigned char> delivered;
    LineSets lineSets;
    // What the application wrote and the engine has not read yet.
    std::string unread;

    std::string DeliveredText() const { return {delivered.begin(), delivered.end()}; }

    int Create(const std::string&) override { return 1; }
    int Attach(const std::string&) override { return 1; }
    int Delete() override { return 1; }
    int IsPortValid() override { return 1; }
    int SetWiring(int, int, int, int) override { return 1; }
    int SetStrictBaudRate(int on) override {
        strictBaudRate = on;
        return acceptsStrictBaudRate.load();
    }
    int IsOpened() override { return opened; }
    int GetInCount() override { return static_cast<int>(unread.size()); }
    int Read(unsigned char* buffer, int length) override {
        const std::size_t count = std::min(unread.size(), static_cast<std::size_t>(length));
        unread.copy(reinterpret_cast<char*>(buffer), count);
        unread.erase(0, count);
        return static_cast<int>(count);
    }
    int Write(const unsigned char* data, int length) override {
        const int room = std::max(0, bytesAccepted - static_cast<int>(delivered.size()));
        const int taken = std::min(length, room);
        delivered.insert(delivered.end(), data, data + taken);
        return taken;
    }
    int SetDSR(int level) override { return RecordSet("DSR", level); }
    int SetCTS(int level) override { return RecordSet("CTS", level); }
    int SetDCD(int level) override { return RecordSet("DCD", level); }
    int SetRING(int level) override { return RecordSet("RING", level); }
    int GetBaudRate() override { return baud; }
    int GetDataBits() override { return dataBits; }
    int GetParity() override { return parity; }
    int GetStopBits() override { return stopBits; }
    int GetHandshake() override { return handshake; }
    int GetFlowReplace() override { return flowReplace; }
    int GetRTS() override { return rts; }
    int GetDTR() override { return dtr; }
    std::string GetProgramName() override { return "terminal"; }

private:
    int RecordSet(const char* line, int level) {
        lineSets.emplace_back(line, level);
        return setResult;
    }
};

// The same port made by the engine, driven as the application drives a serial port: each act sets what
// the port then reports and raises the event a serial port raises for it.
class DrivenVsportDouble : public VsportDouble {
public:
    DrivenVsportDouble(int id, CVsportEvents& events) : m_id(id), m_events(events) {}

    int Id() const { return m_id; }
    // For a test that raises an event without the change behind it.
    CVsportEvents& Events() const { return m_events; }

    void Open() {
        opened = 1;
        m_events.OnOpenClose(m_id, 1);
    }
    void Close() {
        opened = 0;
        m_events.OnOpenClose(m_id, 0);
    }
    void SetBaud(int rate) {
        baud = rate;
        m_events.OnBaudRate(m_id, rate);
    }
    void SetFraming(int stopCode, int parityCode, int wordLength) {
        stopBits = stopCode;
        parity = parityCode;
        dataBits = wordLength;
        m_events.OnLineControl(m_id, stopCode, parityCode, wordLength);
    }
    void SetDtr(int level) {
        dtr = level;
        m_events.OnDTR(m_id, level);
    }
    void SetRts(int level) {
        rts = level;
        m_events.OnRTS(m_id, level);
    }
    void Break(int on) { m_events.OnBreak(m_id, on); }
    void WriteBytes(const std::string& bytes) {
        unread += bytes;
        m_events.OnDeviceReady(m_id);
    }

private:
    int m_id;
    CVsportEvents& m_events;
};
