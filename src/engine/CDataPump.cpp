#include "CDataPump.h"

#include "CEnginePorts.h"
#include "CPortLink.h"
#include "CTelComEngine.h"
#include "CVSPDataEx.h"
#include "CVsportax1.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// The counters wrap around instead of overflowing on a long-running port.
void AddCount(int32_t& counter, std::size_t amount) {
    counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + static_cast<uint32_t>(amount));
}

} // namespace

CDataPump::CDataPump(CEnginePorts& ports) : m_ports(ports), m_writeBuffer(WriteBufferSize) {
    m_passTimer.setSingleShot(true);
    m_passTimer.setInterval(0);
    connect(&m_passTimer, &QTimer::timeout, this, &CDataPump::RunPass);
}

void CDataPump::RequestPass() {
    m_allDue = true;
    if (!m_passTimer.isActive())
        m_passTimer.start();
}

void CDataPump::RequestPass(int vspId) {
    MarkDue(vspId);
    // A partner forwards into this port's link, so room there is work for it too.
    if (const CVSPDataEx* port = m_ports.Find(vspId))
        if (const auto* partner = static_cast<const CVSPDataEx*>(port->BypassPeer))
            MarkDue(partner->VspId);
    if (!m_passTimer.isActive())
        m_passTimer.start();
}

void CDataPump::MarkDue(int vspId) {
    if (vspId >= VSP_ID_FIRST && vspId <= VSP_ID_LAST)
        m_due.set(static_cast<std::size_t>(vspId - VSP_ID_FIRST));
}

void CDataPump::RunPass() {
    const auto end = std::chrono::steady_clock::now() + BurstTime;
    do {
        if (PumpTick() == 0)
            return;
    } while (std::chrono::steady_clock::now() < end);
    RequestPass();
}

std::size_t CDataPump::PumpTick() {
    std::size_t moved = 0;
    const bool all = std::exchange(m_allDue, false);
    CPortListModel& rows = m_ports.Rows();
    for (int row = 0; row < rows.RowCount(); ++row) {
        const int id = rows.VspIdAt(row);
        if (id < VSP_ID_FIRST || id > VSP_ID_LAST)
            continue;
        const std::size_t bit = static_cast<std::size_t>(id - VSP_ID_FIRST);
        if (!all && !m_due.test(bit))
            continue;
        m_due.reset(bit);
        CVSPDataEx* port = m_ports.Find(id);
        if (!port || !port->Control())
            continue;
        const std::size_t movedHere = VisitPort(*port);
        // A port that moved bytes or still holds some is visited again; any other waits for a report.
        if (movedHere > 0 || !port->PortToNetQueue.IsEmpty() || !port->NetToPortQueue.IsEmpty())
            m_due.set(bit);
        moved += movedHere;
    }
    return moved;
}

std::size_t CDataPump::VisitPort(CVSPDataEx& port) {
    std::size_t moved = 0;
    // Asked once per visit and used for both directions.
    const bool opened = port.Control()->IsOpened() == 1;
    moved += DeviceToQueue(port, opened);
    if (opened && port.Bypass == 0)
        moved += WriteToDevice(port);
    if (IsDataFlowing(port.SockState)) {
        moved += PollLink(port);
        if (port.Bypass == 0)
            moved += SendOneChunk(port);
    }
    CVSPDataEx* partner = static_cast<CVSPDataEx*>(port.BypassPeer);
    if (port.Bypass == 1 && m_ports.BatchJob == 0 && partner && IsDataFlowing(partner->SockState))
        moved += ForwardBypass(port, *partner);
    return moved;
}

std::size_t CDataPump::DeviceToQueue(CVSPDataEx& port, bool opened) {
    CVsportax1& device = *port.Control();
    if (!opened && device.GetInCount() <= 0)
        return 0;
    if (port.PortToNetQueue.TotalBytes() >= OutboundThreshold)
        return 0;
    const int n = device.Read(m_readBuffer, ReadSize);
    if (n <= 0)
        return 0;
    const std::size_t count = static_cast<std::size_t>(n);
    // Bytes written while a TLS handshake runs wait for it; with no link at all they go nowhere.
    const bool linkComing = port.SockState == VSP_SOCKET_SSL_HANDSHAKE;
    if (port.Bypass == 1 || !(IsDataFlowing(port.SockState) || linkComing))
        return count;
    CChunkQueue::Chunk chunk;
    if (port.TelComUse == 1) {
        chunk.reserve(count * 2);
        for (std::size_t i = 0; i < count; ++i) {
            chunk.push_back(m_readBuffer[i]);
            if (m_readBuffer[i] == 0xFF)
                chunk.push_back(0xFF);
        }
    } else {
        chunk.assign(m_readBuffer, m_readBuffer + count);
    }
    port.PortToNetQueue.Append(std::move(chunk));
    AddCount(port.VspReadBytes, count);
    return count;
}

std::size_t CDataPump::WriteToDevice(CVSPDataEx& port) {
    CVsportax1& device = *port.Control();
    if ((device.GetHandshake() & 0x02) && device.GetDTR() == 0)
        return 0;
    if ((device.GetFlowReplace() & 0x80) && device.GetRTS() == 0)
        return 0;
    if (port.NetToPortQueue.IsEmpty())
        return 0;
    if (port.TelComUse == 1) {
        CChunkQueue::Chunk chunk = port.NetToPortQueue.TakeHead();
        const int consumed = port.TelCom().ProcessReceived(chunk.data(), static_cast<int>(chunk.size()));
        const std::size_t used = consumed > 0 ? static_cast<std::size_t>(consumed) : 0;
        if (used > 0 && port.LogData == 1)
            port.PortLog().DumpData(chunk.data(), chunk.size(), CVSPLog::TCP_TO_VSP);
        port.NetToPortQueue.GiveBack(std::move(chunk), used);
        return used;
    }
    const std::size_t total = GatherBatch(port.NetToPortQueue, WriteBufferSize);
    const int written = device.Write(m_writeBuffer.data(), static_cast<int>(total));
    const std::size_t used = written > 0 ? static_cast<std::size_t>(written) : 0;
    if (used > 0) {
        if (port.LogData == 1)
            port.PortLog().DumpData(m_writeBuffer.data(), used, CVSPLog::TCP_TO_VSP);
        AddCount(port.VspWrittenBytes, used);
    }
    ReturnUnused(port.NetToPortQueue, total, used);
    return used;
}

std::size_t CDataPump::SendOneChunk(CVSPDataEx& port) {
    if (port.Link().IsWriteBlocked() || port.PlainLink().IsWriteBlocked())
        return 0;
    if (port.PortToNetQueue.IsEmpty())
        return 0;
    CChunkQueue::Chunk chunk = port.PortToNetQueue.TakeHead();
    const std::size_t length = std::min(chunk.size(), LinkSendLimit);
    const int sent = port.Link().SendData(chunk.data(), static_cast<int>(length));
    const std::size_t used = sent > 0 ? static_cast<std::size_t>(sent) : 0;
    if (used > 0 && port.LogData == 1)
        port.PortLog().DumpData(chunk.data(), used, CVSPLog::VSP_TO_TCP);
    AddCount(port.NetSentBytes, used);
    port.PortToNetQueue.GiveBack(std::move(chunk), used);
    return used;
}

std::size_t CDataPump::ForwardBypass(CVSPDataEx& port, CVSPDataEx& partner) {
    if (partner.Link().IsWriteBlocked() || partner.PlainLink().IsWriteBlocked())
        return 0;
    if (port.NetToPortQueue.IsEmpty())
        return 0;
    const std::size_t total = GatherBatch(port.NetToPortQueue, LinkSendLimit);
    const int sent = partner.Link().SendData(m_writeBuffer.data(), static_cast<int>(total));
    const std::size_t used = sent > 0 ? static_cast<std::size_t>(sent) : 0;
    if (used > 0) {
        if (port.VspState == VSP_OPENED)
            port.Control()->Write(m_writeBuffer.data(), static_cast<int>(used));
        if (port.LogData == 1)
            port.PortLog().DumpData(m_writeBuffer.data(), used, CVSPLog::TCP_TO_VSP);
        AddCount(port.VspWrittenBytes, used);
    }
    ReturnUnused(port.NetToPortQueue, total, used);
    return used;
}

std::size_t CDataPump::PollLink(CVSPDataEx& port) {
    const std::size_t before = port.NetToPortQueue.TotalBytes();
    port.Link().PollReceive();
    const std::size_t after = port.NetToPortQueue.TotalBytes();
    return after > before ? after - before : 0;
}

std::size_t CDataPump::GatherBatch(CChunkQueue& queue, std::size_t room) {
    std::size_t total = 0;
    while (!queue.IsEmpty() && total <= BatchSize) {
        CChunkQueue::Chunk chunk = queue.TakeHead();
        const std::size_t left = room - total;
        if (chunk.size() > left) {
            if (total > 0) {
                queue.PushFront(std::move(chunk));
                break;
            }
            std::memcpy(m_writeBuffer.data(), chunk.data(), left);
            queue.GiveBack(std::move(chunk), left);
            return left;
        }
        std::memcpy(m_writeBuffer.data() + total, chunk.data(), chunk.size());
        total += chunk.size();
    }
    return total;
}

void CDataPump::ReturnUnused(CChunkQueue& queue, std::size_t total, std::size_t used) {
    if (used < total)
        queue.PushFront(CChunkQueue::Chunk(m_writeBuffer.begin() + used, m_writeBuffer.begin() + total));
}
