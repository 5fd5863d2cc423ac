#include "encoders/WaveEncoder.h"
#include "audio/ToneStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testing_support;

namespace {

// Just enough of a WAV reader to check what the writer produced: the canonical 44-byte layout.
struct CanonicalWav {
    explicit CanonicalWav(const std::vector<uint8_t>& bytes)
    {
        valid = bytes.size() >= 44 && std::memcmp(bytes.data(), "RIFF", 4) == 0
            && std::memcmp(bytes.data() + 8, "WAVEfmt ", 8) == 0
            && std::memcmp(bytes.data() + 36, "data", 4) == 0;
        if (!valid)
            return;
        riffSize = Le32(bytes, 4);
        fmtSize = Le32(bytes, 16);
        tag = Le16(bytes, 20);
        channels = Le16(bytes, 22);
        rate = Le32(bytes, 24);
        avgBytes = Le32(bytes, 28);
        blockAlign = Le16(bytes, 32);
        bits = Le16(bytes, 34);
        dataSize = Le32(bytes, 40);
        data.assign(bytes.begin() + 44, bytes.end());
    }
    bool valid = false;
    uint32_t riffSize = 0, fmtSize = 0, rate = 0, avgBytes = 0, dataSize = 0;
    uint16_t tag = 0, channels = 0, blockAlign = 0, bits = 0;
    std::vector<uint8_t> data;
};

class WaveOutput : public ::testing::Test {
protected:
    CanonicalWav Write(WAVEFORMATEX format, std::vector<std::vector<uint8_t>> blocks)
    {
        ScriptedStream stream(format, std::move(blocks));
        encoder.SetSource(&stream);
        encoder.SetOutputPath(out.c_str());
        EXPECT_TRUE(encoder.Encode());
        bytes = ReadBytes(out);
        return CanonicalWav(bytes);
    }

    ScopedMessages messages {true};
    TempDir dir;
    std::string out = dir.File("out.wav");
    WaveEncoder encoder;
    std::vector<uint8_t> bytes;
};

TEST_F(WaveOutput, SourceWithNoAudioGivesA44ByteFile)
{
    CanonicalWav wav = Write(PcmFormat(1, 44100, 16), {});
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(bytes.size(), 44u);
    EXPECT_EQ(wav.riffSize, 36u);
    EXPECT_EQ(wav.dataSize, 0u);
}

TEST_F(WaveOutput, MonoHeaderFields)
{
    CanonicalWav wav = Write(PcmFormat(1, 44100, 16), CountingBlocks(2, 8820));
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.fmtSize, 16u);
    EXPECT_EQ(wav.tag, 1);
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(wav.rate, 44100u);
    EXPECT_EQ(wav.avgBytes, 88200u);
    EXPECT_EQ(wav.blockAlign, 2);
    EXPECT_EQ(wav.bits, 16);
    EXPECT_EQ(wav.dataSize, 17640u);
    EXPECT_EQ(wav.riffSize, 17640u + 36);
}

TEST_F(WaveOutput, StereoFieldsAreComputedNotCopied)
{
    WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT; // whatever the source says, the file is PCM
    format.nAvgBytesPerSec = 12345;
    format.nBlockAlign = 7;
    CanonicalWav wav = Write(format, CountingBlocks(1, 16));
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.tag, 1);
    EXPECT_EQ(wav.avgBytes, 176400u);
    EXPECT_EQ(wav.blockAlign, 4);
}

TEST_F(WaveOutput, OddByteCountHasNoPadByte)
{
    CanonicalWav wav = Write(PcmFormat(1, 8000, 8), CountingBlocks(1, 3));
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(bytes.size(), 47u);
    EXPECT_EQ(wav.dataSize, 3u);
    EXPECT_EQ(wav.riffSize, 39u);
}

TEST_F(WaveOutput, ToneReadsBackByteForByte)
{
    ToneStream tone(22050, 2, 1000.0, 1.0);
    encoder.SetSource(&tone);
    encoder.SetOutputPath(out.c_str());
    ASSERT_TRUE(encoder.Encode());
    CanonicalWav wav(ReadBytes(out));
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.rate, 22050u);
    EXPECT_EQ(wav.channels, 2);
    ASSERT_EQ(wav.dataSize, 22050u * 4);
    ASSERT_EQ(wav.data.size(), wav.dataSize);
    for (uint32_t frame = 0; frame < 22050; ++frame) {
        int16_t left = 0;
        int16_t right = 0;
        std::memcpy(&left, &wav.data[frame * 4], 2);
        std::memcpy(&right, &wav.data[frame * 4 + 2], 2);
        ASSERT_EQ(left, tone.SampleAt(frame)) << frame;
        ASSERT_EQ(right, tone.SampleAt(frame)) << frame;
    }
}

// A pipe gets one header, with the sizes of a stream of unknown length, then exactly the
// source's bytes: nothing is appended at the end (an odd extensible chunk gets no pad byte).
TEST_F(WaveOutput, APipeGetsOneHeaderThenExactlyTheAudio)
{
    const struct {
        WAVEFORMATEX format;
        size_t headerBytes;
    } rows[] = {{PcmFormat(2, 44100, 16), 44}, {PcmFormat(1, 48000, 24), 68}};
    for (const auto& row : rows) {
        const auto blocks = CountingBlocks(7, 3 * 401);
        ScriptedStream stream(row.format, blocks);
        WaveEncoder piped;
        piped.SetSource(&stream);
        bool encoded = false;
        const std::vector<uint8_t> received
            = EncodeThroughFifo(piped, dir.File("pipe" + std::to_string(row.headerBytes) + ".wav"), encoded);
        EXPECT_TRUE(encoded);
        ASSERT_EQ(received.size(), row.headerBytes + 7 * 3 * 401) << row.headerBytes;
        EXPECT_EQ(Le32(received, 4), 0xFFFFFFFFu);
        EXPECT_EQ(Le32(received, row.headerBytes - 4), 0xFFFFFFFFu);
        EXPECT_EQ(std::vector<uint8_t>(received.begin() + row.headerBytes, received.end()), Joined(blocks));
    }
}

TEST_F(WaveOutput, AbortedJobIsAValidShorterFile)
{
    const auto blocks = CountingBlocks(10, 400);
    ScriptedStream stream(PcmFormat(2, 44100, 16), blocks);
    stream.beforeEachRead = [&](int call) {
        if (call == 4)
            encoder.Stop();
    };
    encoder.SetSource(&stream);
    encoder.SetOutputPath(out.c_str());
    EXPECT_TRUE(encoder.Encode());
    CanonicalWav wav(ReadBytes(out));
    ASSERT_TRUE(wav.valid);
    EXPECT_EQ(wav.dataSize, 1600u);
    EXPECT_EQ(wav.data.size(), 1600u);
}

// A source of huge buffers that cost nothing to make: every buffer borrows one shared block.
class HugeStream : public AudioStream {
public:
    static constexpr uint32_t kChunk = 256u << 20;

    WAVEFORMATEX* GetFormat() override { return &format; }
    AudioBufferRef GetBuffer() override
    {
        if (++reads > 40)
            return AudioBufferRef();
        return AudioBufferRef::FromData(Block(), kChunk, false);
    }
    static const char* Block()
    {
        static const std::vector<char> block(kChunk, 0);
        return block.data();
    }
    WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    int reads = 0;
};

TEST(WaveOutputLimit, AudioStopsAtTheLastWholeBlockUnderFourGibibytes)
{
    ScopedMessages messages {true};
    HugeStream stream;
    WaveEncoder encoder;
    encoder.SetSource(&stream);
    encoder.SetOutputPath("/dev/null"); // a real file of 4 GiB is not needed to count
    EXPECT_FALSE(encoder.Encode()); // the file holds less than the source gave
    EXPECT_EQ(encoder.dataBytes, 4294967256u); // 4294967259 rounded down to 4-byte frames
    EXPECT_EQ(stream.reads, 16); // reading stopped at the limit
    EXPECT_EQ(encoder.dataBytes + 36, 0xFFFFFFFCu);
    // The final header describes exactly what was kept.
    EXPECT_EQ(Le32(std::vector<uint8_t>(encoder.header.begin(), encoder.header.end()), 40), 4294967256u);
    const auto texts = messages->Texts();
    ASSERT_EQ(texts.size(), 2u); // the overwrite question for /dev/null, then the cut
    EXPECT_EQ(texts[1],
        "The conversion failed: the output reached the 4 GiB size limit of the WAV format.\nThe output "
        "file /dev/null was finished and holds the audio up to there.");
}

} // namespace
