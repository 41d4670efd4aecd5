#pragma once

#include "CPortLink.h"

#include <vector>

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
