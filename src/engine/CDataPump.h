#pragma once

#include "PortStates.h"

#include <QObject>
#include <QTimer>

#include <bitset>
#include <chrono>
#include <cstddef>
#include <vector>

class CChunkQueue;
class CEnginePorts;
class CVSPDataEx;

// Moves bytes between each port's virtual port and its network link, and between the links of bypass
// pairs. A pass runs when a port or a link reports work; while passes move bytes they follow each other
// directly for a short time before the event loop gets its turn, so a busy link pays for one wake-up per
// burst rather than per pass. A pass that moved nothing waits for the next report, so an idle program
// costs nothing. A pass visits, in display order, the ports that reported work or still hold bytes, so
// one busy port among many idle ones does not pay for visiting them all.
class CDataPump : public QObject {
    Q_OBJECT
public:
    // Per pass and port: the most read from the virtual port, the queue fill that stops reading, and the
    // batch size that ends gathering chunks for one write.
    static constexpr int ReadSize = 1024;
    static constexpr std::size_t OutboundThreshold = 4096;
    static constexpr std::size_t BatchSize = 1024;
    static constexpr std::size_t WriteBufferSize = 8192;
    // The most a link takes in one send.
    static constexpr std::size_t LinkSendLimit = 4096;
    // How long passes may follow each other before sockets, timers and windows are served again.
    static constexpr std::chrono::microseconds BurstTime{500};

    explicit CDataPump(CEnginePorts& ports);

    // Runs a pass over every port soon from the event loop; several requests before it runs give one pass.
    void RequestPass();
    // Runs a pass soon that visits at least this port and its bypass partner.
    void RequestPass(int vspId);
    // One pass over the rows due a visit, in display order; returns the bytes moved.
    std::size_t PumpTick();

private:
    // One port's share of a pass; returns the bytes moved.
    std::size_t VisitPort(CVSPDataEx& port);
    // `opened`: an application has the port open.
    std::size_t DeviceToQueue(CVSPDataEx& port, bool opened);
    std::size_t WriteToDevice(CVSPDataEx& port);
    std::size_t SendOneChunk(CVSPDataEx& port);
    std::size_t ForwardBypass(CVSPDataEx& port, CVSPDataEx& partner);
    std::size_t PollLink(CVSPDataEx& port);
    // Gathers whole chunks from the head of the queue into the write buffer until the total exceeds the
    // batch size; never more than `room` bytes, so a chunk larger than the room left waits for the next
    // batch, and one larger than the whole room is taken in parts. Returns the total.
    std::size_t GatherBatch(CChunkQueue& queue, std::size_t room);
    // Puts the part of the gathered batch that was not taken back at the head of the queue.
    void ReturnUnused(CChunkQueue& queue, std::size_t total, std::size_t used);
    void RunPass();
    void MarkDue(int vspId);

    CEnginePorts& m_ports;
    // Ports to visit in the next pass, by control id; the next pass visits all when m_allDue is set.
    std::bitset<VSP_ID_COUNT> m_due;
    bool m_allDue = true;
    QTimer m_passTimer;
    std::vector<unsigned char> m_writeBuffer;
    unsigned char m_readBuffer[ReadSize];
};
