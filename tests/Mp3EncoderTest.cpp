#include "encoders/Mp3Encoder.h"
#include "audio/ToneStream.h"
#include "engine/ConversionJob.h"
#include "engine/ConversionSettings.h"
#include "platform/Message.h"
#include "platform/loader/DynamicLibrary.h"
#include "support/LameEncTestHooks.h"
#include "support/Mp3Decode.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <numeric>

using namespace testing_support;

namespace {

const char* const kLoadFailed = "Error loading LAME encoder dll!";

// An Mp3Encoder whose per-job state the tests can look at.
class OpenMp3Encoder : public Mp3Encoder {
public:
    const BE_CONFIG& Config() const { return config; }
    std::vector<uint8_t> ConfigBytes() const
    {
        const auto* raw = reinterpret_cast<const uint8_t*>(&config);
        return {raw, raw + sizeof(config)};
    }
    uint32_t ChunkSamples() const { return samplesPerChunk; }
    int32_t Carry() const { return carryBytes; }
    uint32_t PendingBytes() const { return pending.GetLength(); }
};

// A tone source that runs a hook before each buffer it hands out (call number from 0).
class HookedTone : public ToneStream {
public:
    using ToneStream::ToneStream;
    AudioBufferRef GetBuffer() override
    {
        if (beforeEachRead)
            beforeEachRead(reads);
        ++reads;
        return ToneStream::GetBuffer();
    }
    std::function<void(int)> beforeEachRead;
    int reads = 0;
};

std::vector<int16_t> ToneSamples(const ToneStream& tone, double seconds, uint32_t rate)
{
    std::vector<int16_t> samples(static_cast<size_t>(seconds * rate));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = tone.SampleAt(i);
    return samples;
}

bool LibraryMapped()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find(kLameEncLibraryName) != std::string::npos)
            return true;
    }
    return false;
}

// The audio part of an MP3 file written by the encoder: everything between the ID3v2 tag and the
// 128-byte ID3v1 tag.
DecodedMp3 DecodeAudio(const std::vector<uint8_t>& file)
{
    const size_t start = Id3v2Size(file.data(), file.size());
    if (file.size() < start + Mp3Encoder::kTagSize)
        return {};
    return DecodeMp3(file.data() + start, file.size() - start - Mp3Encoder::kTagSize);
}

class Mp3Job : public ::testing::Test {
protected:
    void TearDown() override
    {
        ClearLibraryRedirects();
        LameEncResetControls();
    }

    bool Run(AudioStream& source, const std::string& path)
    {
        encoder.SetSource(&source);
        encoder.SetOutputPath(path.c_str());
        return encoder.Encode();
    }

    ScopedMessages messages {true};
    TempDir dir;
    std::string out = dir.File("out.mp3");
    OpenMp3Encoder encoder;
};

TEST(Mp3Bitrate, NearestListEntryWithTiesToTheLowerOne)
{
    EXPECT_EQ(Mp3Encoder::NearestBitrate(0), 0u);
    EXPECT_EQ(Mp3Encoder::NearestBitrate(4), 0u); // 4 is nearer 0 than 8
    EXPECT_EQ(Mp3Encoder::NearestBitrate(5), 8u);
    EXPECT_EQ(Mp3Encoder::NearestBitrate(12), 8u); // tie between 8 and 16
    EXPECT_EQ(Mp3Encoder::NearestBitrate(13), 16u);
    EXPECT_EQ(Mp3Encoder::NearestBitrate(64), 64u);
    EXPECT_EQ(Mp3Encoder::NearestBitrate(139), 144u);
    EXPECT_EQ(Mp3Encoder::NearestBitrate(152), 144u); // tie between 144 and 160
    EXPECT_EQ(Mp3Encoder::NearestBitrate(153), 160u);
    EXPECT_EQ(Mp3Encoder::NearestBitrate(192), 160u);
    EXPECT_EQ(Mp3Encoder::NearestBitrate(0xFFFFFFFFu), 160u);
    for (uint32_t v : Mp3Encoder::bitrateList)
        EXPECT_EQ(Mp3Encoder::NearestBitrate(v), v);
}

// The record as the encoder fills it for one source format.
std::vector<uint8_t> ConfigFor(uint16_t channels, uint32_t rate, uint32_t* chunk = nullptr, uint32_t kbps = 0)
{
    ScriptedStream source {PcmFormat(channels, rate, 16)};
    OpenMp3Encoder encoder;
    encoder.SetSource(&source);
    encoder.SetBitrate(kbps);
    EXPECT_TRUE(encoder.Begin());
    if (chunk != nullptr)
        *chunk = encoder.ChunkSamples();
    return encoder.ConfigBytes();
}

// Little-endian values written into a zeroed record, to compare whole records byte by byte.
std::vector<uint8_t> Record(std::initializer_list<std::tuple<size_t, size_t, uint32_t>> fields)
{
    std::vector<uint8_t> bytes(331, 0);
    for (auto [at, size, value] : fields) {
        for (size_t i = 0; i < size; ++i)
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return bytes;
}

TEST(Mp3Config, MpegOneRatesUseTheMp3Form)
{
    uint32_t chunk = 0;
    // "64KB": 44100 Hz mono -> 64 kbps, mode 3; every other byte stays 0.
    EXPECT_EQ(ConfigFor(1, 44100, &chunk), Record({{0, 4, 0}, {4, 4, 44100}, {8, 1, 3}, {9, 2, 64}}));
    EXPECT_EQ(chunk, 1152u); // one MPEG-1 frame of mono samples
    // 48 kHz stereo without a chosen bitrate: target 139 -> 144 kbps, mode 1 (joint stereo).
    EXPECT_EQ(ConfigFor(2, 48000, &chunk), Record({{0, 4, 0}, {4, 4, 48000}, {8, 1, 1}, {9, 2, 144}}));
    EXPECT_EQ(chunk, 2304u); // a frame of both channels
    EXPECT_EQ(ConfigFor(2, 44100), Record({{0, 4, 0}, {4, 4, 44100}, {8, 1, 1}, {9, 2, 128}}));
    // The bitrate chosen for the job wins, in stereo as in mono.
    EXPECT_EQ(ConfigFor(2, 44100, nullptr, 64), Record({{0, 4, 0}, {4, 4, 44100}, {8, 1, 1}, {9, 2, 64}}));
}

// The LAME form: an MP3 rate kept as the output rate, constant bitrate at the chosen bitrate
// and the information frame on.
std::vector<uint8_t> LameForm(uint32_t rate, uint32_t mode, uint32_t kbps, uint32_t outputRate)
{
    return Record({{0, 4, 256}, {4, 4, 1}, {8, 4, 331}, {12, 4, rate}, {16, 4, outputRate}, {20, 4, mode},
        {24, 4, kbps}, {28, 4, kbps}, {32, 4, 5}, {36, 4, 1}, {60, 4, 1}, {64, 4, 1}, {72, 4, 2},
        {84, 4, 1}});
}

TEST(Mp3Config, OtherRatesUseTheLameForm)
{
    EXPECT_EQ(ConfigFor(1, 22050), LameForm(22050, 3, 32, 22050)); // "32KB"
    EXPECT_EQ(ConfigFor(2, 22050, nullptr, 32), LameForm(22050, 1, 32, 22050)); // "32KB" in stereo
    EXPECT_EQ(ConfigFor(1, 132300), LameForm(132300, 3, 160, 0)); // "192KB": 192 is beyond the list
    EXPECT_EQ(ConfigFor(2, 33075), LameForm(33075, 1, 96, 0));
    EXPECT_EQ(ConfigFor(2, 33075, nullptr, 48), LameForm(33075, 1, 48, 0)); // "48KB" in stereo
    EXPECT_EQ(ConfigFor(1, 16000), LameForm(16000, 3, 24, 16000));
    EXPECT_EQ(ConfigFor(1, 11025), LameForm(11025, 3, 16, 11025));
}

TEST_F(Mp3Job, ChunksAndCarryFollowTheSourceBuffers)
{
    ASSERT_TRUE(LameEncStartChunkLog());
    ScriptedStream source {PcmFormat(1, 44100, 16), CountingBlocks(2, 8820)};
    std::vector<std::pair<uint32_t, int32_t>> seen; // pending bytes and carry before each read
    source.beforeEachRead = [&](int) { seen.emplace_back(encoder.PendingBytes(), encoder.Carry()); };
    EXPECT_TRUE(Run(source, out));
    // First call: three chunks (6912 bytes), 1908 kept; second: 10728 bytes, four chunks,
    // 1512 kept; the end of the stream: the last 756 values in one call.
    const std::vector<std::pair<uint32_t, int32_t>> expected {{0, -1}, {1908, 1908}, {1512, 1512}};
    EXPECT_EQ(seen, expected);
    const std::vector<uint32_t> chunks {1152, 1152, 1152, 1152, 1152, 1152, 1152, 756};
    EXPECT_EQ(LameEncTakeChunkLog(), chunks);
    EXPECT_EQ(encoder.PendingBytes(), 0u);
}

TEST_F(Mp3Job, TwoChunksWorthEncodesOneAndKeepsOne)
{
    ASSERT_TRUE(LameEncStartChunkLog());
    ScriptedStream source {PcmFormat(1, 44100, 16), CountingBlocks(1, 4 * 1152)};
    source.beforeEachRead = [&](int call) {
        if (call == 1) {
            EXPECT_EQ(encoder.PendingBytes(), 2304u);
        }
    };
    EXPECT_TRUE(Run(source, out));
    EXPECT_EQ(LameEncTakeChunkLog(), (std::vector<uint32_t> {1152, 1152}));
}

TEST_F(Mp3Job, TagClosesTheFileWithTheShortPathAsTitle)
{
    ToneStream tone(44100, 1, 440.0, 0.5);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    const bool result = Run(tone, "a.mp3");
    std::filesystem::current_path(previous);
    ASSERT_TRUE(result);
    const auto file = ReadBytes(dir.File("a.mp3"));
    ASSERT_GT(file.size(), 128u);
    std::vector<uint8_t> expected(128, 0);
    std::memcpy(expected.data(), "TAG", 3);
    std::memcpy(expected.data() + 3, "a.mp3", 5);
    std::memcpy(expected.data() + 33, "Unknown artist", 14);
    std::memcpy(expected.data() + 63, "Unknown album", 13);
    std::memcpy(expected.data() + 93, "2003", 4);
    expected[126] = 1;
    expected[127] = 1;
    EXPECT_EQ(std::vector<uint8_t>(file.end() - 128, file.end()), expected);
    // The ID3v2 tag of a source without tags holds the title alone, and the audio follows it.
    const size_t audio = Id3v2Size(file.data(), file.size());
    ASSERT_GT(audio, 10u);
    ASSERT_LT(audio + 1, file.size());
    EXPECT_EQ(std::string(file.begin() + 10, file.begin() + 14), "TIT2");
    EXPECT_EQ(file[audio], 0xFF);
    EXPECT_EQ(file[audio + 1] & 0xE0, 0xE0);
}

TEST_F(Mp3Job, LongPathFillsTheWholeTitleField)
{
    ToneStream tone(44100, 1, 440.0, 0.2);
    ASSERT_GE(out.size(), 31u);
    ASSERT_TRUE(Run(tone, out));
    const auto file = ReadBytes(out);
    ASSERT_GT(file.size(), 128u);
    const size_t tag = file.size() - 128;
    EXPECT_EQ(std::string(file.begin() + tag + 3, file.begin() + tag + 33), out.substr(0, 30));
    EXPECT_EQ(std::string(file.begin() + tag + 33, file.begin() + tag + 47), "Unknown artist");
}

TEST_F(Mp3Job, TitleIsCutWhereACharacterEnds)
{
    // Relative output paths, so that the byte where a character falls is known; the title
    // keeps the bytes up to the last character that fits whole in 30.
    const std::string a27(27, 'a');
    const std::string a28(28, 'a');
    const std::string a29(29, 'a');
    const std::string twoBytes = "\xC3\xA9"; // é
    const std::string threeBytes = "\xE2\x82\xAC"; // €
    const std::string fourBytes = "\xF0\x9F\x8E\xB5"; // a musical note
    const std::pair<std::string, std::string> cases[] = {
        {std::string(40, 'b') + ".mp3", std::string(30, 'b')},
        {a29 + twoBytes + ".mp3", a29}, // é at bytes 30-31
        {a28 + twoBytes + ".mp3", a28 + twoBytes}, // ends exactly at 30
        {a28 + threeBytes + ".mp3", a28}, // two of its three bytes would fit
        {a29 + threeBytes + ".mp3", a29}, {a27 + threeBytes + ".mp3", a27 + threeBytes}, // ends exactly at 30
        {a27 + fourBytes + ".mp3", a27}, // three of its four bytes would fit
        {a28 + fourBytes + ".mp3", a28}, {a29 + fourBytes + ".mp3", a29},
        {a28 + std::string(4, '\x80') + ".mp3", a28 + std::string(2, '\x80')}, // not UTF-8: kept
    };
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    for (const auto& [path, title] : cases) {
        ToneStream tone(44100, 1, 440.0, 0.1);
        EXPECT_TRUE(Run(tone, path)) << path;
        const auto file = ReadBytes(dir.Path() / path);
        if (file.size() <= 128) {
            ADD_FAILURE() << path << ": no tag";
            continue;
        }
        const auto tag = file.end() - 128;
        std::string expected = title;
        expected.resize(30, '\0');
        EXPECT_EQ(std::string(tag + 3, tag + 33), expected) << path;
        EXPECT_EQ(std::string(tag + 33, tag + 47), "Unknown artist") << path;
    }
    std::filesystem::current_path(previous);
}

// Encodes `seconds` of a 440 Hz tone at `rate` and checks that the decoded file lasts as long
// as the source, within 50 ms.
DecodedMp3 EncodeAndDecodeTone(
    OpenMp3Encoder& encoder, const std::string& path, uint16_t channels, uint32_t rate, double seconds)
{
    ToneStream tone(rate, channels, 440.0, seconds);
    encoder.SetSource(&tone);
    encoder.SetOutputPath(path.c_str());
    EXPECT_TRUE(encoder.Encode());
    const auto file = ReadBytes(path);
    EXPECT_GT(file.size(), 128u);
    if (file.size() >= 128) {
        EXPECT_EQ(std::string(file.end() - 128, file.end() - 125), "TAG");
    }
    DecodedMp3 decoded = DecodeAudio(file);
    EXPECT_TRUE(decoded.ok);
    if (!decoded.ok)
        return decoded;
    EXPECT_EQ(decoded.channels, channels);
    // The tone is at half scale; find where the decoded sound begins and ends.
    std::vector<int16_t> reversed(decoded.left.rbegin(), decoded.left.rend());
    const size_t end = SoundingEnd(decoded.left, 4000);
    const size_t start = decoded.left.size() - SoundingEnd(reversed, 4000);
    const double sounding = static_cast<double>(end - start) / decoded.sampleRate;
    EXPECT_NEAR(sounding, seconds, 0.05) << "rate " << rate << " decoded at " << decoded.sampleRate;
    return decoded;
}

TEST_F(Mp3Job, SixtyFourKbpsFileDecodesToTheSourceAudio)
{
    const double seconds = 3.0;
    DecodedMp3 decoded = EncodeAndDecodeTone(encoder, out, 1, 44100, seconds);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.sampleRate, 44100);
    ToneStream tone(44100, 1, 440.0, seconds);
    const auto reference = ToneSamples(tone, seconds, 44100);
    const size_t lag = BestLag(decoded.left, reference, 4096);
    EXPECT_GE(Correlation(decoded.left, reference, lag), 0.95) << "lag " << lag;
    // The whole source is there after the delay, and not much more than a frame besides.
    EXPECT_GE(decoded.left.size(), lag + reference.size());
    EXPECT_LE(decoded.left.size(), lag + reference.size() + 2 * 1152);
}

TEST_F(Mp3Job, EveryOutputRateGivesAFileOfTheSourceLength)
{
    EncodeAndDecodeTone(encoder, dir.File("22050.mp3"), 1, 22050, 2.0); // "32KB"
    EncodeAndDecodeTone(encoder, dir.File("132300.mp3"), 1, 132300, 2.0); // "192KB"
    EncodeAndDecodeTone(encoder, dir.File("33075.mp3"), 1, 33075, 2.0); // "48KB"
    EncodeAndDecodeTone(encoder, dir.File("stereo.mp3"), 2, 48000, 2.0);
    EXPECT_TRUE(messages->Entries().empty());
}

TEST_F(Mp3Job, SourceThatEndsAtOnceGivesFlushBytesAndTag)
{
    ScriptedStream nothing {PcmFormat(1, 44100, 16)};
    EXPECT_TRUE(Run(nothing, out));
    const auto file = ReadBytes(out);
    ASSERT_GE(file.size(), 128u);
    EXPECT_EQ(std::string(file.end() - 128, file.end() - 125), "TAG");
}

TEST_F(Mp3Job, AbortedJobStillEndsWithTheTag)
{
    HookedTone tone(44100, 1, 440.0, 60.0);
    tone.beforeEachRead = [&](int call) {
        if (call == 10)
            encoder.Stop();
    };
    EXPECT_TRUE(Run(tone, out));
    EXPECT_EQ(tone.reads, 11);
    const auto file = ReadBytes(out);
    ASSERT_GT(file.size(), 128u);
    EXPECT_EQ(std::string(file.end() - 128, file.end() - 125), "TAG");
    DecodedMp3 decoded = DecodeAudio(file);
    ASSERT_TRUE(decoded.ok);
    // Ten buffers (1 s) were read and encoded but for the chunk kept back at the stop.
    const double seconds = static_cast<double>(SoundingEnd(decoded.left, 4000)) / decoded.sampleRate;
    EXPECT_GT(seconds, 0.9);
    EXPECT_LT(seconds, 1.1);
    EXPECT_FALSE(LibraryMapped());
}

TEST_F(Mp3Job, MissingLibraryLeavesNoFileAndReadsNothing)
{
    RedirectLibrary(kLameEncLibraryName, "liblame_enc_not_installed.so");
    ScriptedStream source {PcmFormat(1, 44100, 16), CountingBlocks(3, 8820)};
    for (const std::string& path : {dir.File("first.mp3"), dir.File("second.mp3")}) {
        EXPECT_FALSE(Run(source, path));
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    EXPECT_EQ(source.reads.load(), 0);
    EXPECT_EQ(messages->Texts(), (std::vector<std::string> {kLoadFailed, kLoadFailed})); // once per job
    EXPECT_EQ(messages->Entries()[0].caption, ApplicationTitle());
}

TEST_F(Mp3Job, LibraryWithoutTheEntryPointsIsReleasedAndNothingIsRead)
{
    const std::string other = "/lib/x86_64-linux-gnu/libm.so.6";
    if (!std::filesystem::exists(other))
        GTEST_SKIP() << "no " << other;
    RedirectLibrary(kLameEncLibraryName, other);
    ScriptedStream source {PcmFormat(1, 44100, 16), CountingBlocks(3, 8820)};
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    WriteBytes(out, old); // a job that cannot begin leaves an earlier file as it was
    messages->ScriptAnswers({true});
    EXPECT_FALSE(Run(source, out));
    EXPECT_EQ(source.reads.load(), 0);
    EXPECT_EQ(ReadBytes(out), old);
    EXPECT_EQ(messages->Entries().size(), 1u); // the overwrite question only
}

TEST_F(Mp3Job, RefusedConfigurationReleasesTheLibrary)
{
    ScriptedStream noRate {PcmFormat(1, 0, 16), CountingBlocks(1, 100)};
    EXPECT_FALSE(Run(noRate, out)); // the library refuses a rate of 0
    EXPECT_EQ(noRate.reads.load(), 0);
    EXPECT_FALSE(LibraryMapped());
    EXPECT_TRUE(messages->Entries().empty());
}

TEST_F(Mp3Job, FormatTheEncoderCannotTakeIsRefusedWithAMessage)
{
    ScriptedStream eightBit {PcmFormat(1, 44100, 8), CountingBlocks(1, 100)};
    EXPECT_FALSE(Run(eightBit, out));
    ScriptedStream sixChannels {PcmFormat(6, 44100, 16), CountingBlocks(1, 120)};
    EXPECT_FALSE(Run(sixChannels, dir.File("six.mp3")));
    EXPECT_EQ(eightBit.reads.load() + sixChannels.reads.load(), 0);
    EXPECT_EQ(messages->Texts().size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.File("six.mp3")));
    EXPECT_FALSE(LibraryMapped());
}

TEST_F(Mp3Job, FailedChunkIsRetriedWithoutRepeatingOrLosingAudio)
{
    ASSERT_TRUE(LameEncStartChunkLog());
    const double seconds = 2.0;
    HookedTone tone(44100, 1, 440.0, seconds);
    // The second call encodes four chunks: let one through, fail the next, and recover
    // before the following buffer.
    ASSERT_TRUE(LameEncFailChunksAfter(4));
    tone.beforeEachRead = [&](int call) {
        if (call == 2) {
            EXPECT_EQ(encoder.PendingBytes(), 10728u - 2304u); // the chunk that went through is gone
            LameEncFailNever();
        }
    };
    EXPECT_TRUE(Run(tone, out));
    const auto chunks = LameEncTakeChunkLog();
    EXPECT_EQ(
        std::accumulate(chunks.begin(), chunks.end(), uint64_t {0}), uint64_t {88200}); // each value once
    DecodedMp3 decoded = DecodeAudio(ReadBytes(out));
    ASSERT_TRUE(decoded.ok);
    const auto reference = ToneSamples(tone, seconds, 44100);
    const size_t lag = BestLag(decoded.left, reference, 4096);
    EXPECT_GE(Correlation(decoded.left, reference, lag), 0.95);
}

TEST_F(Mp3Job, LibraryIsLoadedOnlyWhileAJobRuns)
{
    HookedTone tone(44100, 1, 440.0, 0.5);
    bool loadedDuringJob = false;
    tone.beforeEachRead = [&](int) { loadedDuringJob = LibraryMapped(); };
    EXPECT_TRUE(Run(tone, out));
    EXPECT_TRUE(loadedDuringJob);
    EXPECT_FALSE(LibraryMapped());
    // The next job on the same encoder starts afresh.
    HookedTone second(44100, 1, 440.0, 0.5);
    EXPECT_TRUE(Run(second, dir.File("second.mp3")));
    EXPECT_TRUE(DecodeAudio(ReadBytes(dir.File("second.mp3"))).ok);
}

// What ffmpeg makes of a file: its rate and channels (ffprobe) and its samples, interleaved.
struct FfmpegDecode {
    int rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
    size_t Frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

FfmpegDecode DecodeWithFfmpeg(const std::string& path)
{
    FfmpegDecode decoded;
    const auto probe = CommandOutput("ffprobe -v error -select_streams a:0 -show_entries "
                                     "stream=sample_rate,channels -of csv=p=0 '"
        + path + "'");
    if (std::sscanf(
            std::string(probe.begin(), probe.end()).c_str(), "%d,%d", &decoded.rate, &decoded.channels)
        != 2)
        return decoded;
    const auto pcm = CommandOutput("ffmpeg -v error -i '" + path + "' -f s16le -");
    decoded.samples.resize(pcm.size() / 2);
    std::memcpy(decoded.samples.data(), pcm.data(), decoded.samples.size() * 2);
    return decoded;
}

// Silence with one full-scale sample (in every channel) at `click`, in blocks of 0.1 s.
std::vector<std::vector<uint8_t>> ClickBlocks(uint32_t rate, uint16_t channels, size_t frames, size_t click)
{
    std::vector<int16_t> samples(frames * channels, 0);
    for (uint16_t c = 0; c < channels; ++c)
        samples[click * channels + c] = 32767;
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    const size_t total = samples.size() * 2;
    const size_t block = rate / 10 * 2 * channels;
    std::vector<std::vector<uint8_t>> blocks;
    for (size_t at = 0; at < total; at += block)
        blocks.emplace_back(bytes + at, bytes + std::min(total, at + block));
    return blocks;
}

// Where the loudest sample of the first channel is.
size_t LoudestFrame(const FfmpegDecode& decoded)
{
    size_t best = 0;
    for (size_t i = 0; i < decoded.Frames(); ++i) {
        if (std::abs(decoded.samples[i * decoded.channels])
            > std::abs(decoded.samples[best * decoded.channels]))
            best = i;
    }
    return best;
}

// The file opens with LAME's information frame: "Info" (a frame at the audio's bitrate) or
// "Xing" (a larger frame) right after the header and side information, and LAME's extension
// inside the same frame.
void ExpectInfoFrame(const std::vector<uint8_t>& file, const std::string& label)
{
    const size_t audio = Id3v2Size(file.data(), file.size());
    ASSERT_GT(file.size(), audio + 200u) << label;
    EXPECT_EQ(file[audio], 0xFF) << label;
    const std::string start(
        file.begin() + static_cast<long>(audio), file.begin() + static_cast<long>(audio) + 200);
    const size_t info = std::min(start.find("Info"), start.find("Xing"));
    EXPECT_LE(info, 36u) << label; // at most 4 header and 32 side information bytes first
    EXPECT_NE(start.find("LAME", info), std::string::npos) << label;
}

// Every MP3 decodes to exactly the source's samples: ffmpeg trims the encoder delay and padding
// the information frame states, and a click lands where it was in the source. The rates are
// those of the "32KB" (the LAME form) and "64KB" settings, and 48000 Hz.
TEST_F(Mp3Job, FilesDecodeToExactlyTheSourceSamples)
{
    const uint32_t rates[] = {22050, 44100, 48000};
    const uint16_t channelCounts[] = {1, 2};
    for (uint32_t rate : rates) {
        for (uint16_t channels : channelCounts) {
            const size_t lengths[] = {rate, size_t {rate} + 1, size_t {10} * rate};
            for (size_t frames : lengths) {
                const std::string label = std::to_string(rate) + " Hz, " + std::to_string(channels)
                    + " channels, " + std::to_string(frames) + " samples";
                const size_t click = frames / 2 + 37;
                ScriptedStream source {
                    PcmFormat(channels, rate, 16), ClickBlocks(rate, channels, frames, click)};
                encoder.SetBitrate(rate == 22050 ? 32 : 64);
                const std::string path = dir.File(std::to_string(rate) + "-" + std::to_string(channels) + "-"
                    + std::to_string(frames) + ".mp3");
                ASSERT_TRUE(Run(source, path)) << label;
                const auto file = ReadBytes(path);
                ExpectInfoFrame(file, label);
                ASSERT_GE(file.size(), 128u);
                EXPECT_EQ(std::string(file.end() - 128, file.end() - 125), "TAG") << label;
                const FfmpegDecode decoded = DecodeWithFfmpeg(path);
                EXPECT_EQ(decoded.rate, static_cast<int>(rate)) << label;
                EXPECT_EQ(decoded.channels, channels) << label;
                EXPECT_EQ(decoded.Frames(), frames) << label;
                const size_t loudest = LoudestFrame(decoded);
                EXPECT_LE(std::max(loudest, click) - std::min(loudest, click), 1u)
                    << label << ": the click is at " << loudest << " instead of " << click;
            }
        }
    }
    EXPECT_TRUE(messages->Entries().empty());
}

// An encoder that stops taking audio for good: the job ends as failed, with a message, and the
// file keeps exactly the audio encoded before that, finished (information frame and tags).
TEST_F(Mp3Job, EncoderThatKeepsFailingEndsTheJobAsFailedAndKeepsTheShorterFile)
{
    ASSERT_TRUE(LameEncStartChunkLog());
    ASSERT_TRUE(LameEncFailChunksAfter(20));
    HookedTone tone(44100, 1, 440.0, 60.0);
    EXPECT_FALSE(Run(tone, out));
    // No more than about ten seconds wait in front of the encoder before the job ends.
    EXPECT_LT(tone.reads, 130);
    EXPECT_EQ(messages->Texts(),
        (std::vector<std::string> {"The conversion failed: the MP3 encoder stopped working.\nThe output file "
            + out + " was finished and holds the audio up to there."}));
    const auto chunks = LameEncTakeChunkLog();
    ASSERT_EQ(chunks.size(), 20u);
    const auto file = ReadBytes(out);
    ExpectInfoFrame(file, "failed");
    ASSERT_GE(file.size(), 128u);
    EXPECT_EQ(std::string(file.end() - 128, file.end() - 125), "TAG");
    EXPECT_EQ(DecodeWithFfmpeg(out).Frames(), std::accumulate(chunks.begin(), chunks.end(), size_t {0}));
}

// Every bitrate setting, in mono and stereo: the audio frames all have one bitrate (the chosen
// one; 128 kbps for "144KB", which MPEG-1 does not have, and 160 kbps for "192KB", the end of the
// list), and the information frame is an "Info" frame at that same bitrate wherever a frame of
// that bitrate can hold it. Where it cannot ("32KB"; "48KB" in stereo, which LAME codes at
// 22050 Hz) it is a "Xing" frame of a higher bitrate. The files decode to the source's length
// at LAME's output rate.
TEST_F(Mp3Job, InformationFrameHasTheBitrateOfTheAudioWhereItFits)
{
    const struct {
        const char* text;
        int audioKbps;
        bool fitsMono;
        bool fitsStereo;
    } rows[] = {
        {"32KB", 32, false, false},
        {"48KB", 48, true, false},
        {"64KB", 64, true, true},
        {"80KB", 80, true, true},
        {"96KB", 96, true, true},
        {"112KB", 112, true, true},
        {"144KB", 128, true, true},
        {"160KB", 160, true, true},
        {"192KB", 160, true, true},
    };
    for (const auto& row : rows) {
        for (uint16_t channels : {1, 2}) {
            const std::string label = std::string(row.text) + (channels == 1 ? " mono" : " stereo");
            const double rate = ConversionSettings::OutputRateFor(row.text);
            const auto inputRate = static_cast<uint32_t>(rate);
            const size_t frames = inputRate + 37;
            ScriptedStream source {
                PcmFormat(channels, inputRate, 16), ClickBlocks(inputRate, channels, frames, frames / 2)};
            encoder.SetBitrate(ConversionJob::BitrateFor(rate));
            const std::string path
                = dir.File(std::string(row.text) + "-" + std::to_string(channels) + ".mp3");
            ASSERT_TRUE(Run(source, path)) << label;
            const auto mp3 = Mp3Frames(ReadBytes(path));
            ASSERT_GE(mp3.size(), 10u) << label;
            const bool fits = channels == 1 ? row.fitsMono : row.fitsStereo;
            EXPECT_EQ(mp3[0].infoTag, fits ? "Info" : "Xing") << label;
            if (fits)
                EXPECT_EQ(mp3[0].kbps, row.audioKbps) << label;
            else
                EXPECT_GT(mp3[0].kbps, row.audioKbps) << label;
            for (size_t i = 1; i < mp3.size(); ++i) {
                EXPECT_EQ(mp3[i].infoTag, "") << label << ", frame " << i;
                EXPECT_EQ(mp3[i].kbps, row.audioKbps) << label << ", frame " << i;
                EXPECT_EQ(mp3[i].rate, mp3[0].rate) << label << ", frame " << i;
            }
            // The frames reach the ID3v1 tag: nothing between them is lost or left over.
            EXPECT_EQ(mp3.back().offset + mp3.back().length + Mp3Encoder::kTagSize, ReadBytes(path).size())
                << label;
            const FfmpegDecode decoded = DecodeWithFfmpeg(path);
            EXPECT_EQ(decoded.rate, mp3[0].rate) << label;
            EXPECT_EQ(decoded.channels, channels) << label;
            // Exact where LAME codes at the source's rate; where it resamples, its resampler's
            // rounding may give one sample more or less than the ratio of the rates.
            const double expected = static_cast<double>(frames) * mp3[0].rate / inputRate;
            const double tolerance = static_cast<uint32_t>(mp3[0].rate) == inputRate ? 0.0 : 1.0;
            EXPECT_NEAR(static_cast<double>(decoded.Frames()), expected, tolerance) << label;
        }
    }
    EXPECT_TRUE(messages->Entries().empty());
}

// A stopped job gets its information frame as well: the file decodes to exactly the samples the
// encoder was given before the stop.
TEST_F(Mp3Job, StoppedJobDecodesToTheSamplesEncoded)
{
    for (uint16_t channels : {1, 2}) {
        ASSERT_TRUE(LameEncStartChunkLog());
        HookedTone tone(44100, channels, 440.0, 60.0);
        tone.beforeEachRead = [&](int call) {
            if (call == 7)
                encoder.Stop();
        };
        const std::string path = dir.File("stopped-" + std::to_string(channels) + ".mp3");
        ASSERT_TRUE(Run(tone, path));
        const auto chunks = LameEncTakeChunkLog();
        const uint64_t values = std::accumulate(chunks.begin(), chunks.end(), uint64_t {0});
        const auto file = ReadBytes(path);
        ExpectInfoFrame(file, "stopped");
        const FfmpegDecode decoded = DecodeWithFfmpeg(path);
        EXPECT_EQ(decoded.channels, channels);
        EXPECT_EQ(decoded.Frames(), values / channels);
        EXPECT_GT(decoded.Frames(), 44100u / 2);
    }
}

// A disk that fills up while the file is being finished (the last frames, the information
// frame, the ID3v1 tag): the file is incomplete, so it is dropped, the file that had the name
// keeps its contents, and the job fails with the reason.
TEST(Mp3WriteFailure, FullDiskWhileFinishingKeepsTheOldFile)
{
    ScopedMessages messages {true};
    TempDir dir;
    const std::string out = dir.File("limited.mp3");
    const auto encode = [&] {
        ToneStream tone(44100, 1, 440.0, 3.0);
        Mp3Encoder encoder;
        encoder.SetSource(&tone);
        encoder.SetOutputPath(out.c_str());
        return encoder.Encode();
    };
    ASSERT_TRUE(encode());
    const auto complete = std::filesystem::file_size(out);
    const std::vector<uint8_t> old(1000, 0x55);
    WriteBytes(out, old);
    bool result = true;
    {
        ScopedFileSizeLimit limit(complete - 1); // room for all but the last byte of the tag
        ASSERT_TRUE(limit.Applied());
        result = encode();
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(ReadBytes(out), old);
    const auto texts = messages->Texts();
    ASSERT_EQ(texts.size(), 2u); // the overwrite question, then the failure with its reason
    EXPECT_NE(texts[1].find("writing the output file failed"), std::string::npos) << texts[1];
    EXPECT_NE(texts[1].find("File too large"), std::string::npos) << texts[1];
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()),
        1);
}

TEST(Mp3EncoderThreads, StopFromTheInterfaceThreadFinishesTheFile)
{
    ScopedMessages messages {true};
    TempDir dir;
    const std::string out = dir.File("long.mp3");
    ToneStream tone(44100, 1, 440.0, 3600.0); // far longer than the test waits
    Mp3Encoder encoder;
    encoder.SetSource(&tone);
    encoder.SetOutputPath(out.c_str());
    EXPECT_TRUE(EncodeAndStopAfter(encoder, tone, 0.5));
    const auto file = ReadBytes(out);
    ASSERT_GT(file.size(), 128u);
    EXPECT_EQ(std::string(file.end() - 128, file.end() - 125), "TAG");
    EXPECT_TRUE(DecodeAudio(file).ok);
    EXPECT_TRUE(messages->Entries().empty());
}

} // namespace
