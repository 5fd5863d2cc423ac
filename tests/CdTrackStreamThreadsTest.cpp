#include "cd/CdTrackStream.h"
#include "support/CdTestDisc.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace testing_support;

namespace {

// The progress display asks for position and length from its own thread while the worker
// reads; the answers must always lie within the track and never go backwards.
TEST(CdTrackStreamThreads, PositionAndLengthAreSafeToReadWhileTheWorkerReads)
{
    CdListSystemDrives(false);
    CdForgetRegisteredDrives();
    TempDir dir;
    CdTestDisc disc(dir.Path(), {{false, 50}, {false, 700}});
    ASSERT_TRUE(CdRegisterDrive(disc.cuePath));
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(1));
    const double length = 700.0 / 75;

    std::atomic<bool> done {false};
    std::atomic<int> badAnswers {0};
    std::atomic<int> polls {0};
    std::thread progress([&] {
        double last = 0.0;
        while (!done.load()) {
            const double position = stream.GetPosition();
            const double total = stream.GetLength();
            if (position < last || position > length || total != length)
                badAnswers.fetch_add(1);
            last = position;
            polls.fetch_add(1);
            std::this_thread::yield();
        }
    });
    while (polls.load() == 0)
        std::this_thread::yield();
    uint64_t bytes = 0;
    for (AudioBufferRef buffer = stream.GetBuffer(); !buffer.IsEnd(); buffer = stream.GetBuffer()) {
        bytes += buffer.GetLength();
        // Reading is faster than the display asks: every buffer waits for one more question,
        // so the questions come all along the track.
        const int asked = polls.load();
        while (polls.load() == asked)
            std::this_thread::yield();
    }
    done.store(true);
    progress.join();

    EXPECT_EQ(bytes, 700u * CdTestDisc::kFrameBytes);
    EXPECT_EQ(badAnswers.load(), 0);
    EXPECT_GT(polls.load(), 1);
    EXPECT_DOUBLE_EQ(stream.GetPosition(), length);
    CdForgetRegisteredDrives();
}

} // namespace
