#include "sources/ConversionStream.h"
#include "audio/ToneStream.h"
#include "platform/Heap.h"
#include "sources/WaveStream.h"
#include "support/TestSupport.h"
#include "support/WavBytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace testing_support;

namespace {

std::vector<uint8_t> Bytes(const AudioBufferRef& buffer)
{
    return std::vector<uint8_t>(buffer.GetData(), buffer.GetData() + buffer.GetLength());
}

// Every byte the stage delivers until the end of the stream.
std::vector<uint8_t> ReadAll(AudioStream& stream, std::vector<uint32_t>* sizes = nullptr)
{
    std::vector<uint8_t> out;
    for (int guard = 0; guard < 100000; ++guard) {
        AudioBufferRef buffer = stream.GetBuffer();
        if (buffer.IsEnd())
            break;
        if (sizes)
            sizes->push_back(buffer.GetLength());
        const auto bytes = Bytes(buffer);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

TEST(ConversionStage, DefaultOutputAndNoConversionBeforeASource)
{
    ConversionStream stage;
    const WAVEFORMATEX* format = stage.GetFormat();
    EXPECT_EQ(+format->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(+format->nChannels, 2);
    EXPECT_EQ(+format->nSamplesPerSec, 44100u);
    EXPECT_EQ(+format->nBlockAlign, 4);
    EXPECT_EQ(+format->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(+stage.sourceFormat->nSamplesPerSec, 0u);
    EXPECT_EQ(stage.acmStream, nullptr);
    EXPECT_TRUE(stage.GetBuffer().IsEnd());
}

TEST(ConversionStage, SixteenBitSourceIsStillConvertedByTheService)
{
    const auto blocks = CountingBlocks(3, 400);
    ScriptedStream source(PcmFormat(2, 44100, 16), blocks);
    ConversionStream stage;
    stage.SetSource(&source);
    EXPECT_NE(stage.acmStream, nullptr);
    EXPECT_EQ(std::memcmp(stage.GetFormat(), source.GetFormat(), sizeof(WAVEFORMATEX)), 0);
    EXPECT_EQ(stage.bufferSize, 4096u);
    for (const auto& block : blocks)
        EXPECT_EQ(Bytes(stage.GetBuffer()), block);
    EXPECT_TRUE(stage.GetBuffer().IsEnd());
}

TEST(ConversionStage, EightBitMonoBecomesSixteenBitAtTheSameRate)
{
    ScriptedStream source(PcmFormat(1, 22050, 8), {{0, 128, 255}, std::vector<uint8_t>(2205, 128)});
    ConversionStream stage;
    stage.SetSource(&source);
    const WAVEFORMATEX* format = stage.GetFormat();
    EXPECT_EQ(+format->wBitsPerSample, 16);
    EXPECT_EQ(+format->nChannels, 1);
    EXPECT_EQ(+format->nSamplesPerSec, 22050u);
    EXPECT_EQ(+format->nBlockAlign, 2);
    EXPECT_EQ(+format->nAvgBytesPerSec, 44100u);
    AudioBufferRef first = stage.GetBuffer();
    EXPECT_EQ(AsSamples16(first.GetData(), first.GetLength()), (std::vector<int16_t> {-32768, 0, 32512}));
    EXPECT_EQ(stage.GetBuffer().GetLength(), 4410u);
}

TEST(ConversionStage, SetOutputFormatKeepsAnEqualFormatAndRefusesImpossibleOnes)
{
    ScriptedStream source(PcmFormat(2, 44100, 16), CountingBlocks(2, 40));
    ConversionStream stage;
    stage.SetSource(&source);
    HACMSTREAM open = stage.acmStream;
    WAVEFORMATEX same = *stage.GetFormat();
    EXPECT_FALSE(stage.SetOutputFormat(&same));
    EXPECT_EQ(stage.acmStream, open);

    WAVEFORMATEX mono = PcmFormat(1, 22050, 16);
    EXPECT_TRUE(stage.SetOutputFormat(&mono));
    EXPECT_NE(stage.acmStream, nullptr);
    EXPECT_EQ(+stage.GetFormat()->nSamplesPerSec, 22050u);

    WAVEFORMATEX eightBit = PcmFormat(1, 22050, 8);
    EXPECT_FALSE(stage.SetOutputFormat(&eightBit));
    EXPECT_EQ(stage.acmStream, nullptr);
    EXPECT_TRUE(stage.GetBuffer().IsEnd());
    EXPECT_EQ(source.reads.load(), 0); // nothing was pulled for a stage that cannot convert
}

TEST(ConversionStage, AnUnconvertibleSourceLooksExhausted)
{
    WAVEFORMATEX odd = PcmFormat(2, 44100, 16);
    odd.wFormatTag = 0x2222;
    ScriptedStream source(odd, CountingBlocks(2, 40));
    ConversionStream stage;
    stage.SetSource(&source);
    EXPECT_EQ(stage.acmStream, nullptr);
    EXPECT_TRUE(stage.GetBuffer().IsEnd());
}

// A source whose format record is larger than any the service takes.
class OversizedFormatSource : public AudioStream {
public:
    OversizedFormatSource()
    {
        WAVEFORMATEX fixed {WAVE_FORMAT_IMA_ADPCM, 1, 8000, 4055, 256, 4, 200};
        std::memcpy(record, &fixed, sizeof fixed);
        std::memset(record + sizeof fixed, 0x5A, 200);
    }
    WAVEFORMATEX* GetFormat() override { return reinterpret_cast<WAVEFORMATEX*>(record); }
    AudioBufferRef GetBuffer() override { return AudioBufferRef::FromData(record, 256, true); }

private:
    uint8_t record[18 + 200];
};

TEST(ConversionStage, FormatLargerThanTheCapacityIsNotCopiedAndDoesNotConvert)
{
    OversizedFormatSource source;
    ConversionStream stage;
    stage.SetSource(&source);
    EXPECT_EQ(stage.acmStream, nullptr);
    EXPECT_EQ(+stage.sourceFormat->cbSize, 200);
    EXPECT_TRUE(stage.GetBuffer().IsEnd());
}

TEST(ConversionStage, BlocksCutByBufferEdgesAreCarriedNotLost)
{
    // 16-bit stereo (4-byte blocks) delivered in pieces of 1, 5, 7 and 3 bytes.
    std::vector<std::vector<uint8_t>> pieces;
    std::vector<uint8_t> all;
    uint8_t next = 0;
    for (size_t size : {1, 5, 7, 3, 6, 2}) {
        std::vector<uint8_t> piece;
        for (size_t i = 0; i < size; ++i)
            piece.push_back(next++);
        all.insert(all.end(), piece.begin(), piece.end());
        pieces.push_back(piece);
    }
    ScriptedStream source(PcmFormat(2, 8000, 16), pieces);
    ConversionStream stage;
    stage.SetSource(&source);
    std::vector<uint32_t> sizes;
    const auto out = ReadAll(stage, &sizes);
    EXPECT_EQ(out, all); // 24 bytes: six whole blocks, none dropped
    for (uint32_t size : sizes)
        EXPECT_EQ(size % 4, 0u);
}

TEST(ConversionStage, TheResamplerTailIsDeliveredBeforeTheEnd)
{
    // One second at 44100 Hz becomes exactly one second at 22050 Hz, not a stretch short.
    ToneStream tone(44100, 2, 1000.0, 1.0);
    ConversionStream stage;
    stage.SetSource(&tone);
    WAVEFORMATEX mono = PcmFormat(1, 22050, 16);
    ASSERT_TRUE(stage.SetOutputFormat(&mono));
    const auto out = ReadAll(stage);
    EXPECT_EQ(out.size(), 22050u * 2);
    // The last samples still carry the tone (the tail is audio, not padding).
    const auto samples = AsSamples16(reinterpret_cast<const char*>(out.data()), out.size());
    int peak = 0;
    for (size_t i = samples.size() - 100; i < samples.size(); ++i)
        peak = std::max(peak, std::abs(int {samples[i]}));
    EXPECT_GT(peak, 10000);
    EXPECT_TRUE(stage.GetBuffer().IsEnd());
}

class ConversionOfFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<int16_t> samples;
        for (int i = 0; i < 44100 * 2; ++i)
            samples.push_back(static_cast<int16_t>(12000 * std::sin(i * 0.05) + 3000 * std::sin(i * 0.7)));
        WriteBytes(path, CanonicalWave(PcmFormat(1, 44100, 16), Samples16(samples)));
    }

    // The whole file converted to 16-bit mono at 22050 Hz by a fresh chain.
    std::vector<uint8_t> Fresh()
    {
        WaveStream wave;
        EXPECT_TRUE(wave.LoadWave(path.c_str()));
        ConversionStream stage;
        stage.SetSource(&wave);
        EXPECT_TRUE(stage.SetOutputFormat(&target));
        return ReadAll(stage);
    }

    ScopedMessages messages;
    TempDir dir;
    std::string path = dir.File("in.wav");
    WAVEFORMATEX target = PcmFormat(1, 22050, 16);
};

TEST_F(ConversionOfFile, RewindingAfterTheFirstBufferStartsAfresh)
{
    const auto expected = Fresh();
    // As a mixer does: one buffer read in the first format, then the final format is set and the
    // source rewound, so that the first stretch is not lost.
    WaveStream wave;
    ASSERT_TRUE(wave.LoadWave(path.c_str()));
    ConversionStream stage;
    stage.SetSource(&wave);
    ASSERT_FALSE(stage.GetBuffer().IsEnd());
    ASSERT_TRUE(stage.SetOutputFormat(&target));
    stage.GetBuffer(); // history in the resampler...
    stage.Rewind(); // ...is dropped by repositioning through the stage
    EXPECT_EQ(ReadAll(stage), expected);

    // Repositioning the source directly, then Reset.
    stage.GetBuffer();
    wave.Rewind();
    stage.Reset();
    EXPECT_EQ(ReadAll(stage), expected);

    // Seeking to the middle of the two seconds: the rest converts to exactly half the output.
    stage.Seek(1);
    const auto fromOne = ReadAll(stage);
    EXPECT_EQ(fromOne.size(), expected.size() / 2);
}

// Memory that runs out ends the stream as failed, not as the end of the audio; repositioning
// starts afresh.
TEST_F(ConversionOfFile, AFailedAllocationEndsTheStreamAsFailed)
{
    WaveStream wave;
    ASSERT_TRUE(wave.LoadWave(path.c_str()));
    ConversionStream stage;
    stage.SetSource(&wave);
    EXPECT_EQ(stage.GetFailure(), "");
    HeapFailAfter(0);
    AudioBufferRef result = stage.GetBuffer();
    HeapFailNever();
    EXPECT_TRUE(result.IsEnd());
    EXPECT_EQ(stage.GetFailure(), "the conversion ran out of memory");
    EXPECT_TRUE(stage.GetBuffer().IsEnd()); // stays ended
    stage.Rewind();
    EXPECT_EQ(stage.GetFailure(), "");
    EXPECT_FALSE(stage.GetBuffer().IsEnd());
}

TEST(ConversionStage, TinyUpstreamBuffersNeverLookLikeTheEnd)
{
    // One byte at a time of 16-bit stereo: most conversions have no whole block yet.
    std::vector<std::vector<uint8_t>> bytes;
    for (int i = 0; i < 40; ++i)
        bytes.push_back({static_cast<uint8_t>(i)});
    ScriptedStream source(PcmFormat(2, 8000, 16), bytes);
    ConversionStream stage;
    stage.SetSource(&source);
    EXPECT_EQ(ReadAll(stage).size(), 40u);
}

} // namespace
