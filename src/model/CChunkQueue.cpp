#include "CChunkQueue.h"

#include <utility>

void CChunkQueue::Append(const unsigned char* data, std::size_t length) {
    if (length == 0)
        return;
    Append(Chunk(data, data + length));
}

void CChunkQueue::Append(Chunk chunk) {
    if (chunk.empty())
        return;
    m_total += chunk.size();
    m_chunks.push_back(std::move(chunk));
}

void CChunkQueue::PushFront(Chunk chunk) {
    if (chunk.empty())
        return;
    m_total += chunk.size();
    m_chunks.push_front(std::move(chunk));
}

CChunkQueue::Chunk CChunkQueue::TakeHead() {
    Chunk head = std::move(m_chunks.front());
    m_chunks.pop_front();
    m_total -= head.size();
    return head;
}

void CChunkQueue::GiveBack(Chunk chunk, std::size_t used) {
    if (used >= chunk.size())
        return;
    chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(used));
    PushFront(std::move(chunk));
}

void CChunkQueue::Clear() {
    m_chunks.clear();
    m_total = 0;
}
