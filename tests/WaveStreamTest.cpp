#include "sources/WaveStream.h"
#include "encoders/WaveEncoder.h"
#include "support/TestSupport.h"
#include "support/WavBytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

using namespace testing_support;

namespace {

class WaveFile : public ::testing::Test {
protected:
    bool Load(const std::vector<uint8_t>& bytes)
    {
        WriteBytes(path, bytes);
        return stream.LoadWave(path.c_str());
    }

    // Every byte the stream hands out until the end, and the sizes of the buffers.
    std::vector<uint8_t> ReadAll(std::vector<uint32_t>* sizes = nullptr)
    {
        std::vector<uint8_t> out;
        for (int guard = 0; guard < 100000; ++guard) {
            AudioBufferRef buffer = stream.GetBuffer();
            if (sizes)
                sizes->push_back(buffer.GetLength());
            if (buffer.IsEnd())
                break;
            out.insert(out.end(), buffer.GetData(), buffer.GetData() + buffer.GetLength());
        }
        return out;
    }

    ScopedMessages messages;
    TempDir dir;
    std::string path = dir.File("in.wav");
    WaveStream stream;
};

TEST_F(WaveFile, DefaultFormatBeforeLoading)
{
    const WAVEFORMATEX* format = stream.GetFormat();
    EXPECT_EQ(+format->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(+format->nChannels, 2);
    EXPECT_EQ(+format->nSamplesPerSec, 44100u);
    EXPECT_EQ(+format->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(+format->nBlockAlign, 4);
    EXPECT_EQ(+format->wBitsPerSample, 16);
    EXPECT_EQ(+format->cbSize, 0);
    EXPECT_TRUE(stream.GetBuffer().IsEnd());
}

TEST_F(WaveFile, BufferSizeIsATenthOfASecondInWholeBlocks)
{
    struct Case {
        WAVEFORMATEX format;
        uint32_t expected;
    };
    const Case cases[] = {{PcmFormat(2, 44100, 16), 17640}, {PcmFormat(2, 11025, 16), 4408},
        {PcmFormat(1, 22050, 8), 2205}, {PcmFormat(6, 48000, 24), 86400}};
    for (const auto& c : cases) {
        ASSERT_TRUE(Load(CanonicalWave(c.format, {0, 0, 0, 0})));
        EXPECT_EQ(stream.bufferSize, c.expected) << c.format.nSamplesPerSec;
    }
    // A byte rate below ten blocks a second still gives one block; an absurd one is capped.
    WAVEFORMATEX slow = PcmFormat(1, 8000, 16);
    slow.nBlockAlign = 512;
    slow.nAvgBytesPerSec = 100;
    ASSERT_TRUE(Load(CanonicalWave(slow, {})));
    EXPECT_EQ(stream.bufferSize, 512u);
    WAVEFORMATEX fast = PcmFormat(2, 44100, 16);
    fast.nAvgBytesPerSec = 0xFFFFFFFF;
    ASSERT_TRUE(Load(CanonicalWave(fast, {})));
    EXPECT_EQ(stream.bufferSize, WaveStream::kMaxBufferSize);
}

TEST_F(WaveFile, TwoFullBuffersThenAnEmptyOutputThenEmptyHandles)
{
    const WAVEFORMATEX format = PcmFormat(1, 22050, 8);
    std::vector<uint8_t> data(2 * 2205);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(Load(CanonicalWave(format, data)));
    AudioBufferRef first = stream.GetBuffer();
    AudioBufferRef second = stream.GetBuffer();
    AudioBufferRef third = stream.GetBuffer();
    AudioBufferRef fourth = stream.GetBuffer();
    EXPECT_EQ(first.GetLength(), 2205u);
    EXPECT_EQ(second.GetLength(), 2205u);
    EXPECT_EQ(std::vector<uint8_t>(second.GetData(), second.GetData() + 2205),
        std::vector<uint8_t>(data.begin() + 2205, data.end()));
    EXPECT_EQ(third.GetKind(), Output);
    EXPECT_EQ(third.GetLength(), 0u);
    EXPECT_TRUE(third.IsEnd());
    EXPECT_EQ(fourth.GetKind(), Empty);
}

TEST_F(WaveFile, ChunksAfterTheDataAreAudioAndCountInTheLength)
{
    const WAVEFORMATEX format = PcmFormat(1, 8000, 8);
    const std::vector<uint8_t> data(800, 0x80);
    auto bytes = Riff({Chunk("fmt ", FmtPayload(format)), Chunk("data", data), Chunk("LIST", {1, 2, 3, 4})});
    ASSERT_TRUE(Load(bytes));
    EXPECT_DOUBLE_EQ(stream.GetLength(), 812.0 / 8000.0);
    const auto all = ReadAll();
    ASSERT_EQ(all.size(), 812u);
    EXPECT_EQ(
        std::vector<uint8_t>(all.end() - 12, all.end()), std::vector<uint8_t>(bytes.end() - 12, bytes.end()));
}

TEST_F(WaveFile, LengthAndPositionInSeconds)
{
    ASSERT_TRUE(Load(CanonicalWave(PcmFormat(2, 44100, 16), std::vector<uint8_t>(176400))));
    EXPECT_DOUBLE_EQ(stream.GetLength(), 1.0);
    EXPECT_DOUBLE_EQ(stream.GetPosition(), 0.0);
    stream.GetBuffer();
    EXPECT_DOUBLE_EQ(stream.GetPosition(), 0.1);
    ReadAll();
    EXPECT_DOUBLE_EQ(stream.GetPosition(), 1.0);
}

TEST_F(WaveFile, SeekingMovesByWholeBlocksWithinTheData)
{
    // 3 bytes a block and 10 blocks a second: 1 s is 30 bytes.
    WAVEFORMATEX format = PcmFormat(1, 10, 24);
    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(Load(CanonicalWave(format, data)));
    stream.bufferSize = 3;
    auto next = [&] { return static_cast<uint8_t>(stream.GetBuffer().GetData()[0]); };
    stream.Seek(2);
    EXPECT_EQ(next(), 60);
    stream.Seek(-1); // negative: no change
    EXPECT_EQ(next(), 63);
    stream.SkipForward(1);
    EXPECT_EQ(next(), 96);
    stream.SkipBack(1);
    EXPECT_EQ(next(), 69);
    stream.SkipBack(100); // past the start: back at the data
    EXPECT_EQ(next(), 0);
    stream.SkipForward(1000); // past the end: at the end
    EXPECT_TRUE(stream.GetBuffer().IsEnd());
    EXPECT_DOUBLE_EQ(stream.GetPosition(), stream.GetLength());
    stream.Rewind();
    EXPECT_EQ(next(), 0);
    // A byte rate that is not a whole number of blocks a second still lands on block edges.
    format.nAvgBytesPerSec = 31;
    ASSERT_TRUE(Load(CanonicalWave(format, data)));
    stream.bufferSize = 3;
    stream.Seek(3); // 93 bytes -> 31 blocks
    EXPECT_EQ(next(), 93);
}

TEST_F(WaveFile, CompressedFormatsAreReportedUnchanged)
{
    WAVEFORMATEX ima {WAVE_FORMAT_IMA_ADPCM, 1, 8000, 4055, 256, 4, 2};
    ASSERT_TRUE(
        Load(Riff({Chunk("fmt ", FmtPayload(ima, {0xF9, 0x01})), Chunk("data", std::vector<uint8_t>(512))})));
    const WAVEFORMATEX* format = stream.GetFormat();
    EXPECT_EQ(+format->wFormatTag, WAVE_FORMAT_IMA_ADPCM);
    EXPECT_EQ(+format->nBlockAlign, 256);
    EXPECT_EQ(+format->cbSize, 2);
    const auto* extra = reinterpret_cast<const uint8_t*>(format) + 18;
    EXPECT_EQ(extra[0] | extra[1] << 8, 505);
    EXPECT_EQ(stream.bufferSize, 256u);
}

TEST_F(WaveFile, LongFmtChunkIsReadUpToTheCapacity)
{
    std::vector<uint8_t> payload = FmtPayload(PcmFormat(1, 8000, 16), {}, true);
    payload.resize(4096, 0xEE);
    ASSERT_TRUE(Load(Riff({Chunk("fmt ", payload), Chunk("data", {1, 2, 3, 4})})));
    EXPECT_EQ(+stream.GetFormat()->nSamplesPerSec, 8000u);
    EXPECT_EQ(+stream.GetFormat()->cbSize, 0);
    EXPECT_EQ(ReadAll(), (std::vector<uint8_t> {1, 2, 3, 4}));
}

TEST_F(WaveFile, BadFilesFailCleanly)
{
    auto lower = CanonicalWave(PcmFormat(1, 8000, 8), {1});
    std::memcpy(lower.data(), "riff", 4);
    const std::vector<uint8_t> fmt = FmtPayload(PcmFormat(1, 8000, 8));
    const std::vector<std::vector<uint8_t>> silent = {
        {},
        std::vector<uint8_t>(8, 'R'),
        {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'},
        lower,
        Riff({Chunk("fmt ", fmt), Chunk("data", {1})}, "AVI "),
        Riff({Chunk("data", {1})}),
        Riff({Chunk("fmt ", fmt)}),
        Riff({Chunk("fmt ", fmt), Chunk("junk", {1}, 1000), Chunk("data", {1})}),
        Riff({Riff({Chunk("fmt ", fmt), Chunk("data", {1})}, "INFO", "LIST")}),
    };
    for (const auto& bytes : silent)
        EXPECT_FALSE(Load(bytes)) << bytes.size() << " bytes";
    EXPECT_TRUE(messages->Texts().empty());
    EXPECT_FALSE(stream.LoadWave(nullptr));
    EXPECT_FALSE(stream.LoadWave(dir.File("missing.wav").c_str()));

    WAVEFORMATEX zero = PcmFormat(1, 8000, 8);
    zero.nBlockAlign = 0;
    EXPECT_FALSE(Load(CanonicalWave(zero, {1, 2})));
    EXPECT_EQ(messages->Texts(), std::vector<std::string> {"Exception caught in WaveStream::LoadWave!"});
}

TEST_F(WaveFile, DataThatStopsShortOfItsSizeEndsCleanly)
{
    auto bytes = Riff({Chunk("fmt ", FmtPayload(PcmFormat(2, 8000, 16))), Chunk("data", {}, 0xFFFFFFFF)});
    bytes.insert(bytes.end(), {1, 2, 3, 4, 5, 6}); // one block and a half
    ASSERT_TRUE(Load(bytes));
    std::vector<uint32_t> sizes;
    EXPECT_EQ(ReadAll(&sizes).size(), 6u);
    EXPECT_EQ(sizes, (std::vector<uint32_t> {6, 0}));
}

TEST_F(WaveFile, CopyThroughTheWavWriterIsByteIdentical)
{
    const WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    std::vector<uint8_t> data(176400 * 2 + 1000);
    uint32_t seed = 1;
    for (auto& byte : data)
        byte = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    ASSERT_TRUE(Load(CanonicalWave(format, data)));
    WaveEncoder encoder;
    encoder.SetSource(&stream);
    const std::string out = dir.File("out.wav");
    encoder.SetOutputPath(out.c_str());
    ASSERT_TRUE(encoder.Encode());
    const auto written = ReadBytes(out);
    ASSERT_EQ(written.size(), 44 + data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), written.begin() + 44));
    EXPECT_EQ(Le32(written, 40), data.size());
}

TEST_F(WaveFile, DataRunningPast4GiBIsReachedAndMeasured)
{
    // A sparse file of 4 GiB + 1 MiB of audio whose data chunk claims 0xFFFFFFFF bytes: the data
    // runs to the end of the file, beyond what the size field can say.
    const WAVEFORMATEX format = PcmFormat(2, 48000, 16);
    WriteBytes(path,
        Riff({Chunk("fmt ", FmtPayload(format)), Chunk("data", {}, 0xFFFFFFFF)}, "WAVE", "RIFF", 0xFFFFFFFF));
    const uint64_t dataBytes = (4ull << 30) + (1 << 20);
    std::filesystem::resize_file(path, 44 + dataBytes - 4);
    {
        FILE* file = std::fopen(path.c_str(), "ab");
        ASSERT_NE(file, nullptr);
        const uint8_t tail[4] = {0x11, 0x22, 0x33, 0x44};
        std::fwrite(tail, 1, 4, file);
        std::fclose(file);
    }
    ASSERT_TRUE(stream.LoadWave(path.c_str()));
    const double seconds = static_cast<double>(dataBytes) / 192000.0;
    EXPECT_DOUBLE_EQ(stream.GetLength(), seconds);
    const int32_t whole = static_cast<int32_t>(seconds);
    stream.Seek(whole);
    EXPECT_DOUBLE_EQ(stream.GetPosition(), whole);
    const auto rest = ReadAll();
    ASSERT_EQ(rest.size(), dataBytes - static_cast<uint64_t>(whole) * 192000);
    EXPECT_EQ(
        std::vector<uint8_t>(rest.end() - 4, rest.end()), (std::vector<uint8_t> {0x11, 0x22, 0x33, 0x44}));
    EXPECT_DOUBLE_EQ(stream.GetPosition(), seconds);
}

TEST(WaveStreamThreads, PositionIsReadWhileAnotherThreadReads)
{
    ScopedMessages messages;
    TempDir dir;
    const std::string path = dir.File("long.wav");
    WriteBytes(path, CanonicalWave(PcmFormat(2, 44100, 16), std::vector<uint8_t>(176400 * 5)));
    WaveStream stream;
    ASSERT_TRUE(stream.LoadWave(path.c_str()));
    std::atomic<bool> done {false};
    std::thread reader([&] {
        while (!stream.GetBuffer().IsEnd()) { }
        done = true;
    });
    double last = 0.0;
    bool monotonic = true;
    while (!done) {
        const double now = stream.GetPosition();
        monotonic = monotonic && now >= last && now <= 5.0;
        last = now;
        EXPECT_DOUBLE_EQ(stream.GetLength(), 5.0);
    }
    reader.join();
    EXPECT_TRUE(monotonic);
    EXPECT_DOUBLE_EQ(stream.GetPosition(), 5.0);
}

} // namespace
