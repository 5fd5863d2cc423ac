// The FLAC, Opus, Ogg Vorbis and AAC writers on the encode loop: 24-bit input, a job with no
// audio, outputs that cannot seek, and a file that cannot be completed.
#include "encoders/AacEncoder.h"
#include "encoders/FlacEncoder.h"
#include "encoders/OpusEncoder.h"
#include "encoders/VorbisEncoder.h"
#include "support/MediaFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <numbers>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

struct Row {
    const char* name;
    std::function<std::unique_ptr<CodecEncoder>()> make;
    const char* extension;
    bool lossless;
    bool seeks; // completed by going back in the file
};

const Row kRows[] = {
    {"FLAC", [] { return std::make_unique<FlacEncoder>(5); }, "flac", true, true},
    {"Opus", [] { return std::make_unique<OpusEncoder>(128); }, "opus", false, false},
    {"Vorbis", [] { return std::make_unique<VorbisEncoder>(5); }, "ogg", false, false},
    {"AAC", [] { return std::make_unique<AacEncoder>(192); }, "m4a", false, true},
};

constexpr uint32_t kRate = 48000;

// A 24-bit stereo tone pair that uses the low bits too: each sample as an int32 with the 24 bits
// in its upper three bytes, and as the packed bytes a 24-bit source delivers.
struct Tone24 {
    std::vector<int32_t> samples;
    std::vector<uint8_t> packed;
};

Tone24 MakeTone24(uint32_t frames)
{
    Tone24 tone;
    for (uint32_t n = 0; n < frames; ++n) {
        for (const double frequency : {440.0, 660.0}) {
            const auto value = static_cast<int32_t>(
                std::lround(3000000.0 * std::sin(2.0 * std::numbers::pi * frequency * n / kRate)));
            tone.samples.push_back(value * 256);
            for (int byte = 0; byte < 3; ++byte)
                tone.packed.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * byte)));
        }
    }
    return tone;
}

// Blocks of an odd size, so that frames are split between buffers as a source may split them.
std::vector<std::vector<uint8_t>> OddBlocks(const std::vector<uint8_t>& bytes)
{
    std::vector<std::vector<uint8_t>> blocks;
    for (size_t at = 0; at < bytes.size(); at += 1001)
        blocks.emplace_back(
            bytes.begin() + long(at), bytes.begin() + long(std::min(bytes.size(), at + 1001)));
    return blocks;
}

std::vector<int32_t> Decoded32(const std::string& file)
{
    const std::vector<uint8_t> bytes = CommandOutput("ffmpeg -nostdin -v error -i '" + file + "' -f s32le -");
    std::vector<int32_t> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

bool AnyMessageHas(RecordingMessageBackend& messages, const std::string& piece)
{
    for (const std::string& text : messages.Texts())
        if (text.find(piece) != std::string::npos)
            return true;
    return false;
}

std::string LastMessage(RecordingMessageBackend& messages)
{
    const std::vector<std::string> texts = messages.Texts();
    return texts.empty() ? std::string() : texts.back();
}

} // namespace

// Packed 24-bit input, split between buffers anywhere, reaches the codec whole: FLAC keeps every
// bit and states 24 bits, the lossy codecs keep the tones, and every file has the input's length
// (AAC: up to its last frame).
TEST(CodecEncoder, TwentyFourBitInputIsEncodedWithItsLengthAndContent)
{
    TempDir dir;
    ScopedMessages messages;
    const Tone24 tone = MakeTone24(kRate + 1234);
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        ScriptedStream source(PcmFormat(2, kRate, 24), OddBlocks(tone.packed));
        const std::unique_ptr<CodecEncoder> encoder = row.make();
        const std::string file = dir.File(std::string("tone.") + row.extension);
        encoder->SetSource(&source);
        encoder->SetOutputPath(file.c_str());
        ASSERT_TRUE(encoder->Encode()) << LastMessage(*messages);
        const std::vector<int32_t> decoded = Decoded32(file);
        if (row.extension == std::string("m4a")) {
            EXPECT_GE(decoded.size(), tone.samples.size());
            EXPECT_LT(decoded.size(), tone.samples.size() + 2 * 1024);
        } else {
            EXPECT_EQ(decoded.size(), tone.samples.size());
        }
        if (row.lossless) {
            EXPECT_TRUE(decoded == tone.samples) << "the decoded samples differ from the input";
            const std::vector<uint8_t> probed = CommandOutput(
                "ffprobe -v error -show_entries stream=bits_per_raw_sample -of csv=p=0 '" + file + "'");
            EXPECT_EQ(std::string(probed.begin(), probed.end()), "24\n");
        } else {
            EXPECT_GE(Correlation(decoded, tone.samples), 0.99);
        }
    }
}

// The Opus bitrates are for two channels: one channel gets half, the same quality for half the
// data. Noise keeps the encoder at its target, so the files' sizes show the bitrates.
TEST(CodecEncoder, MonoOpusGetsHalfTheBitrate)
{
    TempDir dir;
    ScopedMessages messages;
    uintmax_t sizes[2] = {};
    for (const uint16_t channels : {uint16_t {1}, uint16_t {2}}) {
        std::vector<uint8_t> bytes(size_t {kRate} * 3 * channels * 2);
        uint32_t noise = 12345;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            noise = noise * 1664525u + 1013904223u;
            const auto sample = static_cast<int16_t>(static_cast<int32_t>(noise >> 16) / 4);
            std::memcpy(&bytes[i], &sample, 2);
        }
        ScriptedStream source(PcmFormat(channels, kRate, 16), OddBlocks(bytes));
        OpusEncoder encoder(128);
        const std::string file = dir.File("noise" + std::to_string(channels) + ".opus");
        encoder.SetSource(&source);
        encoder.SetOutputPath(file.c_str());
        ASSERT_TRUE(encoder.Encode()) << LastMessage(*messages);
        sizes[channels - 1] = fs::file_size(file);
    }
    // 128 kbit/s for three seconds is 48000 bytes.
    EXPECT_NEAR(double(sizes[1]), 48000.0, 48000.0 * 0.15);
    EXPECT_NEAR(double(sizes[0]), 24000.0, 24000.0 * 0.15);
}

// A job that has no audio to encode (stopped before its first sample, or a source that gives
// none) would leave a file without audio, which not every player takes (an M4A without frames):
// no file is written, an existing one is kept, and the message says why.
TEST(CodecEncoder, AJobWithNoAudioWritesNoFile)
{
    ScopedMessages messages(true); // "overwrite it?": yes
    for (const Row& row : kRows) {
        for (const bool stopped : {true, false}) {
            SCOPED_TRACE(std::string(row.name) + (stopped ? " stopped" : " empty source"));
            TempDir dir;
            messages->Clear();
            ScriptedStream source(PcmFormat(2, kRate, 16),
                stopped ? CountingBlocks(8, 4000) : std::vector<std::vector<uint8_t>> {});
            const std::unique_ptr<CodecEncoder> encoder = row.make();
            const std::string file = dir.File(std::string(stopped ? "stopped." : "empty.") + row.extension);
            if (!stopped)
                WriteBytes(file, {'o', 'l', 'd'});
            encoder->SetSource(&source);
            encoder->SetOutputPath(file.c_str());
            if (stopped)
                encoder->Stop();
            EXPECT_FALSE(encoder->Encode());
            EXPECT_EQ(fs::exists(file), !stopped);
            if (!stopped) {
                EXPECT_EQ(ReadBytes(file), (std::vector<uint8_t> {'o', 'l', 'd'}));
            }
            EXPECT_TRUE(AnyMessageHas(
                *messages, stopped ? "stopped before any audio was encoded" : "the source gave no audio"));
            EXPECT_EQ(fs::directory_iterator(dir.Path()) == fs::directory_iterator(), stopped)
                << "a file was left";
        }
    }
}

// A pipe cannot be gone back in: FLAC and M4A are refused with a message before anything is
// written, Opus and Ogg Vorbis stream through it and decode whole.
TEST(CodecEncoder, APipeTakesOnlyTheFormatsThatNeedNoSeeking)
{
    TempDir dir;
    ScopedMessages messages(true);
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        messages->Clear();
        ScriptedStream source(PcmFormat(2, kRate, 16), CountingBlocks(20, 4800));
        const std::unique_ptr<CodecEncoder> encoder = row.make();
        encoder->SetSource(&source);
        bool encoded = false;
        const std::vector<uint8_t> received
            = EncodeThroughFifo(*encoder, dir.File(std::string("pipe.") + row.extension), encoded);
        EXPECT_EQ(encoded, !row.seeks);
        if (row.seeks) {
            EXPECT_TRUE(received.empty());
            EXPECT_TRUE(AnyMessageHas(*messages, "must be written to a file that can seek, not to a pipe"));
            continue;
        }
        const std::string copy = dir.File(std::string("received.") + row.extension);
        WriteBytes(copy, received);
        EXPECT_EQ(Decoded32(copy).size(), 20u * 4800u / 2u);
    }
}

// A file the codec cannot complete (the disk fills up in the middle) is removed, an existing file
// of that name is kept, and the message gives the system's reason.
TEST(CodecEncoder, AFileThatCannotBeCompletedIsRemoved)
{
    ScopedMessages messages(true);
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        messages->Clear();
        const std::string file = dir.File(std::string("full.") + row.extension);
        WriteBytes(file, {'o', 'l', 'd'});
        const Tone24 tone = MakeTone24(10 * kRate);
        ScriptedStream source(PcmFormat(2, kRate, 24), OddBlocks(tone.packed));
        const std::unique_ptr<CodecEncoder> encoder = row.make();
        encoder->SetSource(&source);
        encoder->SetOutputPath(file.c_str());
        bool encoded = true;
        {
            ScopedFileSizeLimit limit(16 * 1024);
            ASSERT_TRUE(limit.Applied());
            encoded = encoder->Encode();
        }
        EXPECT_FALSE(encoded);
        EXPECT_EQ(ReadBytes(file), (std::vector<uint8_t> {'o', 'l', 'd'}));
        EXPECT_TRUE(AnyMessageHas(*messages, "File too large")) << LastMessage(*messages);
        EXPECT_TRUE(AnyMessageHas(*messages, "was removed"));
        size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path()))
            ++entries;
        EXPECT_EQ(entries, 1u) << "a hidden file was left";
    }
}
