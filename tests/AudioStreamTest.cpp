#include "audio/AudioFilter.h"
#include "audio/ToneStream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A stream that implements nothing beyond the two abstract operations.
class BareStream : public AudioStream {
public:
    WAVEFORMATEX* GetFormat() override { return &format; }
    AudioBufferRef GetBuffer() override { return AudioBufferRef(); }
    WAVEFORMATEX format {};
};

// Implements only Rewind and SkipForward, and logs the calls.
class LoggingStream : public BareStream {
public:
    void Rewind() override { log.push_back("rewind"); }
    void SkipForward(int32_t seconds) override { log.push_back("forward " + std::to_string(seconds)); }
    void SkipBack(int32_t seconds) override { log.push_back("back " + std::to_string(seconds)); }
    double GetPosition() override { return 12.5; }
    double GetLength() override { return 90.25; }
    std::vector<std::string> log;
};

class PassFilter : public AudioFilter {
public:
    WAVEFORMATEX* GetFormat() override { return source->GetFormat(); }
    AudioBufferRef GetBuffer() override { return source->GetBuffer(); }
};

TEST(AudioStream, RootDefaults)
{
    BareStream stream;
    EXPECT_EQ(stream.bufferSize, 4096u);
    EXPECT_EQ(stream.GetPosition(), -1.0);
    EXPECT_EQ(stream.GetLength(), -1.0);
    stream.Seek(5); // nothing to do, nothing breaks
    EXPECT_TRUE(stream.GetBufferEx(0).IsEnd());
}

TEST(AudioStream, SeekIsRewindThenSkipForward)
{
    LoggingStream stream;
    stream.Seek(5);
    EXPECT_EQ(stream.log, (std::vector<std::string> {"rewind", "forward 5"}));
}

TEST(AudioStream, FilterForwardsPositioningToItsSource)
{
    LoggingStream head;
    PassFilter first;
    PassFilter second;
    EXPECT_EQ(first.SetSource(&head), &first);
    second.SetSource(&first);

    second.Rewind();
    second.SkipBack(2);
    second.SkipForward(3);
    second.Seek(7);
    EXPECT_EQ(head.log, (std::vector<std::string> {"rewind", "back 2", "forward 3", "rewind", "forward 7"}));
    EXPECT_EQ(second.GetPosition(), 12.5);
    EXPECT_EQ(second.GetLength(), 90.25);

    PassFilter unattached; // behaves as the root until it has a source
    unattached.Seek(3);
    EXPECT_EQ(unattached.GetLength(), -1.0);
    EXPECT_TRUE(unattached.GetBufferEx(1).IsEnd());
}

TEST(ToneStream, DeliversTenthSecondBuffersUntilItsLength)
{
    ToneStream tone(8000, 2, 1000.0, 0.25);
    EXPECT_EQ(tone.bufferSize, 3200u);
    EXPECT_DOUBLE_EQ(tone.GetLength(), 0.25);
    uint64_t bytes = 0;
    int buffers = 0;
    for (AudioBufferRef buffer = tone.GetBuffer(); !buffer.IsEnd(); buffer = tone.GetBuffer()) {
        EXPECT_EQ(buffer.GetKind(), Output);
        auto* samples = reinterpret_cast<const int16_t*>(buffer.GetData());
        EXPECT_EQ(samples[0], samples[1]); // both channels carry the tone
        bytes += buffer.GetLength();
        ++buffers;
    }
    EXPECT_EQ(bytes, 2000u * 4);
    EXPECT_EQ(buffers, 3); // 800 + 800 + 400 frames
    EXPECT_DOUBLE_EQ(tone.GetPosition(), 0.25);

    tone.Seek(0);
    EXPECT_DOUBLE_EQ(tone.GetPosition(), 0.0);
    tone.SkipForward(10); // past the end stops at the end
    EXPECT_TRUE(tone.GetBuffer().IsEnd());
}

} // namespace
