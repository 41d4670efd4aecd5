#include "CChunkQueue.h"

#include <gtest/gtest.h>

namespace {

CChunkQueue::Chunk Bytes(std::initializer_list<unsigned char> bytes) {
    return CChunkQueue::Chunk(bytes);
}

TEST(ChunkQueue, KeepsOrderAndTotalAcrossPartialGiveBack) {
    CChunkQueue queue;
    queue.Append(Bytes({1, 2, 3, 4}));
    queue.Append(Bytes({5, 6}));
    ASSERT_EQ(queue.TotalBytes(), 6u);

    CChunkQueue::Chunk head = queue.TakeHead();
    EXPECT_EQ(queue.TotalBytes(), 2u);
    queue.GiveBack(std::move(head), 3);
    EXPECT_EQ(queue.TotalBytes(), 3u);
    EXPECT_EQ(queue.TakeHead(), Bytes({4}));
    EXPECT_EQ(queue.TakeHead(), Bytes({5, 6}));
    EXPECT_TRUE(queue.IsEmpty());
    EXPECT_EQ(queue.TotalBytes(), 0u);
}

TEST(ChunkQueue, FullyUsedChunkIsFreedAndUnusedOneReturnsWhole) {
    CChunkQueue queue;
    queue.Append(Bytes({7, 8}));
    queue.GiveBack(queue.TakeHead(), 2);
    EXPECT_TRUE(queue.IsEmpty());

    queue.Append(Bytes({9}));
    queue.Append(Bytes({10}));
    queue.GiveBack(queue.TakeHead(), 0);
    EXPECT_EQ(queue.ChunkCount(), 2u);
    EXPECT_EQ(queue.TakeHead(), Bytes({9}));
}

} // namespace
