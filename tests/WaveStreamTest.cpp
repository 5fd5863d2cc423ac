#include "sources/WaveStream.h"
#include "encoders/WaveEncoder.h"
#include "sources/ConversionStream.h"
#include "support/TestSupport.h"
#include "support/WavBytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

TEST_F(WaveFile, TheDataChunkSizeEndsTheAudioWhenItIsPlausible)
{
    // 8-bit mono at 8000 Hz: a byte a sample, 800 bytes a buffer.
    const WAVEFORMATEX format = PcmFormat(1, 8000, 8);
    auto counting = [](size_t count) {
        std::vector<uint8_t> out(count);
        for (size_t i = 0; i < count; ++i)
            out[i] = static_cast<uint8_t>(i * 7 + 1);
        return out;
    };
    const std::vector<uint8_t> info = Riff({Chunk("INAM", {'t', 'u', 'n', 'e'})}, "INFO", "LIST");
    struct Case {
        const char* name;
        std::vector<uint8_t> data; // the payload written after the "data" header
        std::optional<uint32_t> declared; // the size field, when not the payload's size
        std::vector<std::vector<uint8_t>> after; // chunks after the data
        bool toTheEnd; // the audio runs to the end of the file
    };
    const Case cases[] = {
        {"LIST after", counting(800), {}, {info}, false},
        {"id3 after", counting(1600), {}, {Chunk("id3 ", std::vector<uint8_t>(128, 0xFF))}, false},
        {"44 KB junk after", counting(1000), {}, {Chunk("junk", std::vector<uint8_t>(44 * 1024, 0x7F))},
            false},
        {"odd 8-bit data, pad, LIST", counting(801), {}, {info}, false},
        {"size 0", counting(800), 0u, {info}, true},
        {"size 0xFFFFFFFF", counting(800), 0xFFFFFFFFu, {info}, true},
        {"size past the end", counting(800), 100000u, {info}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<uint8_t>> chunks
            = {Chunk("fmt ", FmtPayload(format)), Chunk("data", c.data, c.declared)};
        chunks.insert(chunks.end(), c.after.begin(), c.after.end());
        const auto bytes = Riff(chunks);
        ASSERT_TRUE(Load(bytes));
        const size_t dataStart = 44;
        const std::vector<uint8_t> expected
            = c.toTheEnd ? std::vector<uint8_t>(bytes.begin() + dataStart, bytes.end()) : c.data;
        EXPECT_DOUBLE_EQ(stream.GetLength(), expected.size() / 8000.0);
        EXPECT_EQ(ReadAll(), expected);
        EXPECT_EQ(stream.GetBuffer().GetKind(), Empty);
        EXPECT_DOUBLE_EQ(stream.GetPosition(), stream.GetLength());
        // Full buffers, then an Output buffer with the rest (none when the last full one ended
        // exactly at the end of the audio), then empty handles.
        stream.Rewind();
        for (size_t full = 0; full < expected.size() / 800; ++full)
            EXPECT_EQ(stream.GetBuffer().GetLength(), 800u);
        const AudioBufferRef last = stream.GetBuffer();
        EXPECT_EQ(last.GetKind(), Output);
        EXPECT_EQ(last.GetLength(), expected.size() % 800);
        EXPECT_EQ(stream.GetBuffer().GetKind(), Empty);
        // Seeking to 0 after the end reads it all again; positioning stops at the end of the
        // audio too, and a rewind reads it all again.
        stream.Seek(0);
        EXPECT_DOUBLE_EQ(stream.GetPosition(), 0.0);
        EXPECT_EQ(ReadAll(), expected);
        stream.SkipForward(1000);
        EXPECT_DOUBLE_EQ(stream.GetPosition(), stream.GetLength());
        EXPECT_TRUE(stream.GetBuffer().IsEnd());
        stream.Seek(1000);
        EXPECT_DOUBLE_EQ(stream.GetPosition(), stream.GetLength());
        stream.Rewind();
        EXPECT_EQ(ReadAll(), expected);
    }
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
    // To the start after reading, and to the exact end (10 s is the whole data), each twice.
    for (int round = 0; round < 2; ++round) {
        stream.Seek(0);
        EXPECT_EQ(next(), 0);
        stream.Seek(10);
        EXPECT_DOUBLE_EQ(stream.GetPosition(), 10.0);
        EXPECT_TRUE(stream.GetBuffer().IsEnd());
    }
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

TEST_F(WaveFile, LongPcmAndFloatFmtChunksConvertInFull)
{
    // "fmt " chunks far longer than the format record: 16 bytes of fields, then an extra size and
    // bytes that mean nothing to linear formats.
    auto arbitrary = [](size_t count, uint32_t seed) {
        std::vector<uint8_t> out(count);
        for (auto& byte : out)
            byte = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
        return out;
    };
    WAVEFORMATEX float32 {WAVE_FORMAT_IEEE_FLOAT, 2, 8000, 64000, 8, 32, 0};
    struct Case {
        const char* name;
        WAVEFORMATEX format;
        size_t chunkBytes;
        std::vector<uint8_t> after; // what follows the 16 bytes of fields, cbSize first
        bool converts; // false: the extra size claims more than the chunk holds
    };
    auto withSize = [](std::vector<uint8_t> bytes, uint16_t cbSize) {
        bytes[0] = static_cast<uint8_t>(cbSize);
        bytes[1] = static_cast<uint8_t>(cbSize >> 8);
        return bytes;
    };
    const Case cases[] = {
        {"PCM, 4 KB filled by its extra size", PcmFormat(2, 8000, 16), 4096,
            withSize(arbitrary(4080, 1), 4096 - 18), true},
        {"PCM, 64 KB arbitrary", PcmFormat(2, 8000, 16), 65536, withSize(arbitrary(65520, 2), 0x1234), true},
        {"float, 64 KB arbitrary", float32, 65536, withSize(arbitrary(65520, 4), 0x4321), true},
        {"PCM, extra size beyond the chunk", PcmFormat(2, 8000, 16), 4096,
            withSize(std::vector<uint8_t>(4080, 0xEE), 4096 - 17), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(16 + c.after.size(), c.chunkBytes);
        std::vector<uint8_t> payload = FmtPayload(c.format);
        payload.insert(payload.end(), c.after.begin(), c.after.end());
        std::vector<uint8_t> data = arbitrary(1000 * c.format.nBlockAlign, 3);
        if (c.format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
            for (size_t i = 0; i < data.size(); i += 4) {
                const float sample = static_cast<float>(i % 401) / 401.0f - 0.5f;
                std::memcpy(data.data() + i, &sample, 4);
            }
        }
        ASSERT_TRUE(Load(Riff({Chunk("fmt ", payload), Chunk("data", data), Chunk("LIST", {1, 2, 3, 4})})));
        const WAVEFORMATEX* format = stream.GetFormat();
        EXPECT_EQ(+format->wFormatTag, +c.format.wFormatTag);
        EXPECT_EQ(+format->nSamplesPerSec, 8000u);
        EXPECT_EQ(+format->nBlockAlign, +c.format.nBlockAlign);
        EXPECT_EQ(+format->cbSize, c.converts ? 0 : c.after[0] | c.after[1] << 8);
        EXPECT_EQ(ReadAll(), data);

        stream.Rewind();
        ConversionStream stage;
        stage.SetSource(&stream);
        size_t bytes = 0;
        for (AudioBufferRef buffer = stage.GetBuffer(); !buffer.IsEnd(); buffer = stage.GetBuffer())
            bytes += buffer.GetLength();
        // 1000 frames of two 16-bit samples, or nothing when the format is refused.
        EXPECT_EQ(bytes, c.converts ? 1000u * 2 * 2 : 0u);
        EXPECT_EQ(stage.acmStream != nullptr, c.converts);
    }
}

TEST_F(WaveFile, BadFilesFailCleanlyAndSayWhy)
{
    auto lower = CanonicalWave(PcmFormat(1, 8000, 8), {1});
    std::memcpy(lower.data(), "riff", 4);
    const std::vector<uint8_t> fmt = FmtPayload(PcmFormat(1, 8000, 8));
    const std::string notWav = "not a WAV file", noFmt = "no \"fmt \" chunk", noData = "no \"data\" chunk";
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> silent = {
        {{}, notWav},
        {std::vector<uint8_t>(8, 'R'), notWav},
        {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'}, notWav},
        {lower, notWav},
        {Riff({Chunk("fmt ", fmt), Chunk("data", {1})}, "AVI "), notWav},
        {Riff({Chunk("data", {1})}), noFmt},
        {Riff({Chunk("fmt ", fmt)}), noData},
        {Riff({Chunk("fmt ", fmt), Chunk("junk", {1}, 1000), Chunk("data", {1})}), noData},
        {Riff({Riff({Chunk("fmt ", fmt), Chunk("data", {1})}, "INFO", "LIST")}), noFmt},
    };
    for (const auto& [bytes, reason] : silent) {
        EXPECT_FALSE(Load(bytes)) << bytes.size() << " bytes";
        EXPECT_EQ(stream.LoadFailure(), reason) << bytes.size() << " bytes";
        EXPECT_TRUE(stream.GetBuffer().IsEnd());
    }
    EXPECT_TRUE(messages->Texts().empty());
    EXPECT_FALSE(stream.LoadWave(nullptr));
    EXPECT_EQ(stream.LoadFailure(), "No such file or directory");
    EXPECT_FALSE(stream.LoadWave(dir.File("missing.wav").c_str()));
    EXPECT_EQ(stream.LoadFailure(), "No such file or directory");
    EXPECT_FALSE(stream.LoadWave(dir.Path().c_str()));
    EXPECT_EQ(stream.LoadFailure(), "not a regular file (a directory)");
    EXPECT_TRUE(Load(CanonicalWave(PcmFormat(1, 8000, 8), {1, 2})));
    EXPECT_EQ(stream.LoadFailure(), "");

    WAVEFORMATEX zero = PcmFormat(1, 8000, 8);
    zero.nBlockAlign = 0;
    EXPECT_FALSE(Load(CanonicalWave(zero, {1, 2})));
    EXPECT_FALSE(stream.LoadFailure().empty());
    EXPECT_EQ(messages->Texts(), std::vector<std::string> {"Exception caught in WaveStream::LoadWave!"});
}

TEST_F(WaveFile, AFifoIsRefusedAtOnce)
{
    const std::string fifo = dir.File("pipe.wav");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto loading = std::async(std::launch::async, [&] {
        WaveStream wave;
        const bool loaded = wave.LoadWave(fifo.c_str());
        return std::make_pair(loaded, wave.LoadFailure());
    });
    const bool finished = loading.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
    if (!finished) {
        // An open that waits for a writer: give it one, so that the test fails instead of hanging.
        const int writer = ::open(fifo.c_str(), O_WRONLY);
        if (writer >= 0)
            ::close(writer);
    }
    const auto [loaded, failure] = loading.get();
    ASSERT_TRUE(finished) << "LoadWave blocked on a FIFO";
    EXPECT_FALSE(loaded);
    EXPECT_EQ(failure, "not a regular file (a FIFO)");
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
    // A sparse file of 4 GiB + 1 MiB of audio. Its data size is 0xFFFFFFFF (unknown) or the
    // length wrapped to 32 bits: the data runs to the end of the file, beyond what the size field
    // can say. A small size is still the end of the audio.
    const WAVEFORMATEX format = PcmFormat(2, 48000, 16);
    const uint64_t fileData = (4ull << 30) + (1 << 20);
    struct Case {
        uint32_t declared;
        uint64_t audioBytes;
    };
    const Case cases[] = {{0xFFFFFFFF, fileData}, {1 << 20, fileData}, {192000 + 4000, 192000 + 4000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.declared);
        WriteBytes(path,
            Riff({Chunk("fmt ", FmtPayload(format)), Chunk("data", {}, c.declared)}, "WAVE", "RIFF",
                0xFFFFFFFF));
        std::filesystem::resize_file(path, 44 + fileData - 4);
        {
            FILE* file = std::fopen(path.c_str(), "ab");
            ASSERT_NE(file, nullptr);
            const uint8_t tail[4] = {0x11, 0x22, 0x33, 0x44};
            std::fwrite(tail, 1, 4, file);
            std::fclose(file);
        }
        ASSERT_TRUE(stream.LoadWave(path.c_str()));
        const double seconds = static_cast<double>(c.audioBytes) / 192000.0;
        EXPECT_DOUBLE_EQ(stream.GetLength(), seconds);
        const int32_t whole = static_cast<int32_t>(seconds);
        stream.Seek(whole);
        EXPECT_DOUBLE_EQ(stream.GetPosition(), whole);
        const auto rest = ReadAll();
        ASSERT_EQ(rest.size(), c.audioBytes - static_cast<uint64_t>(whole) * 192000);
        const std::vector<uint8_t> last(rest.end() - 4, rest.end());
        EXPECT_EQ(last,
            c.audioBytes == fileData ? (std::vector<uint8_t> {0x11, 0x22, 0x33, 0x44})
                                     : std::vector<uint8_t>(4, 0));
        EXPECT_DOUBLE_EQ(stream.GetPosition(), seconds);
    }
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
