#pragma once

#include <cstddef>
#include <deque>
#include <vector>

// First-in first-out list of separately allocated byte blocks with a running byte total.
class CChunkQueue {
public:
    using Chunk = std::vector<unsigned char>;

    bool IsEmpty() const { return m_chunks.empty(); }
    std::size_t ChunkCount() const { return m_chunks.size(); }
    // Bytes held by all chunks.
    std::size_t TotalBytes() const { return m_total; }

    // Appends a copy of the bytes as one chunk at the tail. A length of 0 appends nothing.
    void Append(const unsigned char* data, std::size_t length);
    void Append(Chunk chunk);
    // Puts a chunk back at the head (the unused rest of a taken chunk).
    void PushFront(Chunk chunk);
    // Removes and returns the head chunk; the queue must not be empty.
    Chunk TakeHead();
    // Gives back a taken chunk of which the first `used` bytes were consumed: a fully used chunk is
    // freed, otherwise its rest goes back to the head.
    void GiveBack(Chunk chunk, std::size_t used);
    void Clear();

private:
    std::deque<Chunk> m_chunks;
    std::size_t m_total = 0;
};
