#include "audio/AudioBufferRef.h"
#include "platform/Heap.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

struct HeapFailureGuard {
    ~HeapFailureGuard() { HeapFailNever(); }
};

TEST(AudioBuffer, ConstructorsGiveTheirKindsAndSizes)
{
    AudioBufferRef empty;
    EXPECT_EQ(empty.GetKind(), Empty);
    EXPECT_EQ(empty.GetLength(), 0u);
    EXPECT_EQ(empty.GetData(), nullptr);
    EXPECT_TRUE(empty.IsEnd());
    EXPECT_NE(empty.GetHeader().dwUser, 0u); // the header names its body

    AudioBufferRef block = AudioBufferRef::Allocate(4096, true);
    EXPECT_EQ(block.GetKind(), Input);
    EXPECT_TRUE(block.OwnsData());
    ASSERT_EQ(block.GetLength(), 4096u);
    std::vector<char> zeros(4096, 0);
    EXPECT_EQ(std::memcmp(block.GetData(), zeros.data(), zeros.size()), 0);
    EXPECT_FALSE(block.IsEnd()); // Input with bytes is not the end

    // A short fill: consumers see the lowered length; the length never grows back this way.
    block.SetKind(Output);
    block.SetLength(1000);
    EXPECT_EQ(block.GetLength(), 1000u);
    block.SetLength(2000);
    EXPECT_EQ(block.GetLength(), 1000u);

    const char text[] = "0123456789";
    AudioBufferRef copied = AudioBufferRef::FromData(text, 10, true);
    EXPECT_EQ(copied.GetKind(), Output);
    EXPECT_TRUE(copied.OwnsData());
    EXPECT_NE(copied.GetData(), text);
    EXPECT_EQ(std::memcmp(copied.GetData(), text, 10), 0);

    // The header names its own body and is never chained.
    const WAVEHDR& header = copied.GetHeader();
    EXPECT_EQ(header.lpNext, nullptr);
    EXPECT_EQ(header.reserved, 0u);
    EXPECT_EQ(header.dwFlags & WHDR_PREPARED, 0u);
}

TEST(AudioBuffer, BorrowedBlockIsNeverFreedOrChanged)
{
    std::array<char, 100> caller {};
    caller.fill('x');
    {
        AudioBufferRef view = AudioBufferRef::FromData(caller.data(), 100, false);
        EXPECT_EQ(view.GetData(), caller.data());
        EXPECT_FALSE(view.OwnsData());
        AudioBufferRef second = view;
        EXPECT_EQ(view.RefCount(), 2);
    }
    // Appending to a borrowed view builds a block of its own and leaves the lender's alone.
    AudioBufferRef view = AudioBufferRef::FromData(caller.data(), 100, false);
    const int16_t samples[] = {1, 2};
    view.AppendSamples(samples, 2);
    EXPECT_TRUE(view.OwnsData());
    EXPECT_NE(view.GetData(), caller.data());
    EXPECT_EQ(view.GetLength(), 104u);
    view.Clear();
    EXPECT_EQ(view.GetLength(), 0u);
    for (char c : caller)
        ASSERT_EQ(c, 'x');
}

TEST(AudioBuffer, HandlesShareOneBodyAndAssignmentIsSafe)
{
    AudioBufferRef first = AudioBufferRef::Allocate(16, true);
    {
        AudioBufferRef second = first;
        EXPECT_TRUE(second.SharesBodyWith(first));
        EXPECT_EQ(first.RefCount(), 2);
        second.SetKind(Output); // seen through every handle: no copy on write
        EXPECT_EQ(first.GetKind(), Output);
    }
    EXPECT_EQ(first.RefCount(), 1);

    AudioBufferRef& alias = first;
    first = alias; // self-assignment keeps the body alive
    EXPECT_EQ(first.RefCount(), 1);
    EXPECT_EQ(first.GetLength(), 16u);

    AudioBufferRef other = AudioBufferRef::Allocate(8, false);
    other = first; // the old body of `other` goes, `first`'s gains a handle
    EXPECT_EQ(first.RefCount(), 2);
    EXPECT_EQ(other.GetLength(), 16u);
}

TEST(AudioBuffer, AppendingBuildsNewBlocksInOrder)
{
    AudioBufferRef buffer = AudioBufferRef::FromData("ABCDEFGHIJ", 10, true);
    const int16_t samples[] = {0x0102, 0x0304, -1};
    buffer.AppendSamples(samples, 3);
    ASSERT_EQ(buffer.GetLength(), 16u);
    EXPECT_EQ(std::memcmp(buffer.GetData(), "ABCDEFGHIJ", 10), 0);
    EXPECT_EQ(std::memcmp(buffer.GetData() + 10, samples, 6), 0);

    AudioBufferRef tail = AudioBufferRef::FromData("xyz", 3, true);
    buffer.AppendBuffer(tail);
    ASSERT_EQ(buffer.GetLength(), 19u);
    EXPECT_EQ(std::memcmp(buffer.GetData() + 16, "xyz", 3), 0);

    // Appending a buffer to itself doubles it; appending an end buffer adds nothing.
    AudioBufferRef twice = AudioBufferRef::FromData("ab", 2, true);
    twice.AppendBuffer(twice);
    ASSERT_EQ(twice.GetLength(), 4u);
    EXPECT_EQ(std::memcmp(twice.GetData(), "abab", 4), 0);
    twice.AppendBuffer(AudioBufferRef());
    EXPECT_EQ(twice.GetLength(), 4u);

    // An empty Input buffer (the encoders' pending bytes) grows from nothing.
    AudioBufferRef pending = AudioBufferRef::Allocate(1024, false);
    pending.Clear();
    EXPECT_EQ(pending.GetKind(), Input);
    EXPECT_TRUE(pending.IsEnd());
    pending.AppendBuffer(tail);
    EXPECT_FALSE(pending.IsEnd());
    EXPECT_EQ(pending.GetLength(), 3u);
}

TEST(AudioBuffer, EndOfStreamRule)
{
    EXPECT_TRUE(AudioBufferRef::MakeEmpty().IsEnd());
    AudioBufferRef zeroLength = AudioBufferRef::Allocate(64, false);
    zeroLength.SetKind(Output);
    zeroLength.SetLength(0);
    EXPECT_TRUE(zeroLength.IsEnd()); // a read that got nothing
    AudioBufferRef emptyKind = AudioBufferRef::FromData("abc", 3, true);
    emptyKind.SetKind(Empty);
    EXPECT_TRUE(emptyKind.IsEnd()); // bytes, but declared empty
    EXPECT_FALSE(AudioBufferRef::FromData("abc", 3, true).IsEnd());
}

TEST(AudioBuffer, ClearKeepsABlockOfLengthZero)
{
    AudioBufferRef buffer = AudioBufferRef::Allocate(32, false);
    buffer.SetLength(0);
    char* block = buffer.GetData();
    buffer.Clear();
    EXPECT_EQ(buffer.GetData(), block); // left untouched

    AudioBufferRef full = AudioBufferRef::Allocate(32, false);
    full.Clear();
    EXPECT_EQ(full.GetData(), nullptr);
    EXPECT_EQ(full.GetLength(), 0u);
    EXPECT_EQ(full.GetKind(), Input); // the kind stays
}

TEST(AudioBuffer, FailedAllocationsAreReportedAndChangeNothing)
{
    HeapFailureGuard guard;
    HeapFailAfter(0);
    EXPECT_THROW(AudioBufferRef::Allocate(100, true), std::bad_alloc);
    EXPECT_THROW(AudioBufferRef::FromData("abc", 3, true), std::bad_alloc);
    HeapFailNever();

    AudioBufferRef buffer = AudioBufferRef::FromData("abcd", 4, true);
    char* before = buffer.GetData();
    HeapFailAfter(0);
    const int16_t samples[] = {7};
    EXPECT_THROW(buffer.AppendSamples(samples, 1), std::bad_alloc);
    EXPECT_THROW(buffer.AppendBuffer(buffer), std::bad_alloc);
    HeapFailNever();
    EXPECT_EQ(buffer.GetData(), before);
    ASSERT_EQ(buffer.GetLength(), 4u);
    EXPECT_EQ(std::memcmp(buffer.GetData(), "abcd", 4), 0);

    // A borrowing buffer needs no heap block.
    HeapFailAfter(0);
    EXPECT_NO_THROW(AudioBufferRef::FromData("abc", 3, false));
}

// Handles of one body copied and dropped on two threads at once: the count must stay exact
// and the body must go exactly once, after the last handle (checked by the sanitizer builds).
TEST(AudioBufferThreads, HandlesSharedAndReleasedAcrossThreads)
{
    constexpr int kRounds = 20000;
    AudioBufferRef shared = AudioBufferRef::Allocate(256, true);
    std::atomic<bool> go {false};
    auto churn = [&] {
        while (!go.load()) { }
        for (int i = 0; i < kRounds; ++i) {
            AudioBufferRef copy = shared;
            AudioBufferRef another;
            another = copy;
            ASSERT_EQ(another.GetLength(), 256u);
        }
    };
    std::thread a(churn);
    std::thread b(churn);
    go.store(true);
    a.join();
    b.join();
    EXPECT_EQ(shared.RefCount(), 1);

    // The last handle dropped on another thread frees the body there.
    std::vector<AudioBufferRef> queue;
    for (int i = 0; i < 100; ++i)
        queue.push_back(AudioBufferRef::Allocate(64, false));
    std::vector<AudioBufferRef> kept = queue;
    std::thread consumer([moved = std::move(queue)]() mutable { moved.clear(); });
    kept.clear();
    consumer.join();
}

} // namespace
