#pragma once

#include "CPortLink.h"
#include "CVsportax1.h"

#include <climits>
#include <string>
#include <utility>
#include <vector>

// A virtual port as the engine sees it: the application's flow-control words and lines are set by the
// test; what the engine delivers and every modem-line input it sets are recorded.
class FakeVsport : public CVsportax1 {
public:
    int handshake = 0;
    int flowReplace = 0;
    int dtr = 1;
    int rts = 1;
    int opened = 1;
    int bytesAccepted = INT_MAX; // Write takes nothing once this many bytes were delivered
    int setResult = 1;
    std::vector<unsigned char> delivered;
    std::vector<std::pair<std::string, int>> lineSets;

    int Write(const unsigned char* data, int length) override {
        const int room = bytesAccepted - static_cast<int>(delivered.size());
        const int taken = length < room ? length : room;
        delivered.insert(delivered.end(), data, data + taken);
        return taken;
    }
    int SetDSR(int level) override { return RecordSet("DSR", level); }
    int SetCTS(int level) override { return RecordSet("CTS", level); }
    int SetDCD(int level) override { return RecordSet("DCD", level); }
    int SetRING(int level) override { return RecordSet("RING", level); }
    int GetHandshake() override { return handshake; }
    int GetFlowReplace() override { return flowReplace; }
    int GetDTR() override { return dtr; }
    int GetRTS() override { return rts; }
    int IsOpened() override { return opened; }

    int Create(const std::string&) override { return 1; }
    int Attach(const std::string&) override { return 1; }
    int Delete() override { return 1; }
    int IsPortValid() override { return 1; }
    int SetWiring(int, int, int, int) override { return 1; }
    int SetStrictBaudRate(int) override { return 1; }
    int GetInCount() override { return 0; }
    int Read(unsigned char*, int) override { return 0; }
    int GetBaudRate() override { return 9600; }
    int GetDataBits() override { return 8; }
    int GetParity() override { return 0; }
    int GetStopBits() override { return 0; }
    std::string GetProgramName() override { return {}; }

private:
    int RecordSet(const char* line, int level) {
        lineSets.emplace_back(line, level);
        return setResult;
    }
};

// A link that records what it is given; one that is not accepting takes nothing, as a TLS link does
// before its handshake is done.
class RecordingLink : public CPortLink {
public:
    bool accepting = true;
    std::vector<unsigned char> sent;

    int SendData(const unsigned char* data, int length) override {
        if (!accepting)
            return 0;
        sent.insert(sent.end(), data, data + length);
        return length;
    }
    bool CreateSocket() override { return true; }
    void CloseSocket() override {}
    void PollReceive() override {}
    bool IsWriteBlocked() const override { return false; }
    void SetMessageSink(CLinkMessageSink*) override {}
};
