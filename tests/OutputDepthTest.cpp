// WAV outputs of 16 and 24 bits from sources of every depth: the header ffprobe reads, the exact
// sample count, and samples equal to what each depth must give (read back with ffmpeg).
#include "encoders/WaveEncoder.h"
#include "engine/ConversionJob.h"
#include "engine/OutputFormat.h"
#include "support/TestSupport.h"
#include "support/WavBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr int32_t kMax24 = 8388607;
constexpr int32_t kMin24 = -8388608;

// A deterministic signal of `frames` frames: a loud sine with noise in every bit below it, and
// the extreme values, so that any lost or shifted bit shows.
std::vector<int32_t> Signal24(size_t frames, uint16_t channels, uint32_t rate, double amplitude = 0.9)
{
    std::vector<int32_t> samples(frames * channels);
    uint32_t noise = 12345;
    for (size_t i = 0; i < samples.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double t = static_cast<double>(i / channels) / rate;
        const double tone = amplitude * std::sin(2.0 * M_PI * 997.0 * t + static_cast<double>(i % channels));
        const int32_t value
            = static_cast<int32_t>(std::lround(tone * kMax24)) + static_cast<int32_t>(noise >> 24) - 128;
        samples[i] = std::clamp(value, kMin24, kMax24);
    }
    samples[0] = kMax24;
    samples[1] = kMin24;
    return samples;
}

WAVEFORMATEX Format(WORD tag, uint16_t channels, uint32_t rate, uint16_t bits)
{
    WAVEFORMATEX format = PcmFormat(channels, rate, bits);
    format.wFormatTag = tag;
    return format;
}

std::vector<uint8_t> Packed24(const std::vector<int32_t>& samples)
{
    std::vector<uint8_t> out;
    for (int32_t sample : samples) {
        out.push_back(static_cast<uint8_t>(sample));
        out.push_back(static_cast<uint8_t>(sample >> 8));
        out.push_back(static_cast<uint8_t>(sample >> 16));
    }
    return out;
}

std::string Write24(const fs::path& file, const std::vector<int32_t>& samples, uint16_t channels,
    uint32_t rate, bool extensible)
{
    const WAVEFORMATEX format
        = Format(extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM, channels, rate, 24);
    std::vector<uint8_t> extra;
    if (extensible) {
        PutLe16(extra, 24); // valid bits
        PutLe32(extra, channels == 1 ? 0x4 : 0x3);
        const uint8_t pcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        extra.insert(extra.end(), pcm, pcm + 16);
    }
    WriteBytes(file, Riff({Chunk("fmt ", FmtPayload(format, extra)), Chunk("data", Packed24(samples))}));
    return file.string();
}

std::string WriteFloat(
    const fs::path& file, const std::vector<float>& samples, uint16_t channels, uint32_t rate)
{
    std::vector<uint8_t> data(samples.size() * 4);
    std::memcpy(data.data(), samples.data(), data.size());
    WriteBytes(file,
        Riff({Chunk("fmt ", FmtPayload(Format(WAVE_FORMAT_IEEE_FLOAT, channels, rate, 32), {}, true)),
            Chunk("data", data)}));
    return file.string();
}

std::string Quoted(const fs::path& file)
{
    return "'" + file.string() + "'";
}

// Every sample of a file as ffmpeg decodes it, as 32-bit integers (16-bit ones << 16, 24-bit
// ones << 8).
std::vector<int32_t> Decode32(const fs::path& file)
{
    const std::vector<uint8_t> bytes = CommandOutput("ffmpeg -v error -i " + Quoted(file) + " -f s32le -");
    std::vector<int32_t> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

std::string Probe(const fs::path& file)
{
    const std::vector<uint8_t> out = CommandOutput("ffprobe -v error -select_streams a:0 -show_entries "
                                                   "stream=codec_name,sample_rate,channels -of compact=p=0 "
        + Quoted(file));
    return std::string(out.begin(), out.end());
}

// Rounds half up from 32 to `bits` bits and clips, as the output depths must.
int32_t RoundTo(int64_t sample32, int bits)
{
    const int shift = 32 - bits;
    const int64_t top = (int64_t {1} << (bits - 1)) - 1;
    return static_cast<int32_t>(std::min((sample32 + (int64_t {1} << (shift - 1))) >> shift, top));
}

int32_t FloatTo(float value, int bits)
{
    const double scale = std::ldexp(1.0, bits - 1);
    return static_cast<int32_t>(std::clamp(std::floor(double {value} * scale + 0.5), -scale, scale - 1));
}

// The RIFF sizes of a file written by us agree with its length, and its data chunk holds whole
// frames: what a player needs to read it, also after ABORT.
void ExpectCompleteRiff(const fs::path& file, uint32_t blockAlign)
{
    const std::vector<uint8_t> bytes = ReadBytes(file);
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8) << "RIFF size";
    const size_t data = Le16(bytes, 20) == WAVE_FORMAT_EXTENSIBLE ? 60 : 36;
    ASSERT_EQ(
        std::string(bytes.begin() + static_cast<long>(data), bytes.begin() + static_cast<long>(data) + 4),
        "data");
    const uint32_t dataBytes = Le32(bytes, data + 4);
    EXPECT_EQ(dataBytes % blockAlign, 0u);
    EXPECT_EQ(data + 8 + dataBytes + dataBytes % 2, bytes.size())
        << "data size, and the pad byte of an odd one";
}

class OutputDepth : public ::testing::Test {
protected:
    ScopedMessages messages {true};
    TempDir dir;
    EncoderSet encoders;

    // Converts `source` to `target` in the output folder with the row, quality and channel
    // setting given.
    bool Convert(const std::string& source, const std::string& target, const OutputFormat& row,
        const char* quality, uint16_t channels = 2)
    {
        ConversionJob job(44100, encoders, channels);
        job.ChooseFormat(row, row.FindQuality(quality));
        job.sourceName = source;
        job.targetName = target;
        job.outputDir = dir.Path().string() + "/";
        if (job.Start(nullptr, false) != ConversionJob::StartResult::Started)
            return false;
        job.Wait();
        return job.EncodeSucceeded();
    }
};

// Sources of 16, 24, 32 and float depth, each to WAV 16, WAV 24 and a WAV that keeps the
// source's depth (16 bits for 16-bit sources, 24 for the others): the header, the count and every
// sample. Integer sources are checked against ffmpeg's decode of the source: 16-bit ones widen
// exactly, 24-bit ones (plain, extensible, FLAC) pass unchanged to 24 bits, and they and 32-bit
// ones round half up to a shorter depth; float samples round to the depth and clip at full
// scale, never wrapping round.
TEST_F(OutputDepth, EverySourceDepthToEachOutputDepth)
{
    const size_t frames = 9001;
    const std::vector<int32_t> signal = Signal24(frames, 2, 48000);
    const std::string wav24 = Write24(dir.Path() / "plain24.wav", signal, 2, 48000, false);
    const std::string extensible = Write24(dir.Path() / "extensible24.wav", signal, 2, 48000, true);
    const std::string flac = (dir.Path() / "flac24.flac").string();
    CommandOutput("ffmpeg -v error -i " + Quoted(wav24) + " -c:a flac -sample_fmt s32 " + Quoted(flac));
    ASSERT_NE(Probe(flac).find("flac"), std::string::npos);
    const std::string wav16 = WriteToneWav(dir.Path() / "tone16.wav", 44100, 2, 0.2, 1000.0);

    std::vector<float> floats(2 * frames);
    for (size_t i = 0; i < floats.size(); ++i)
        floats[i] = static_cast<float>(
            1.6 * std::sin(0.0123 * static_cast<double>(i)) + 1e-7 * static_cast<double>(i % 7));
    floats[0] = 1.0f;
    floats[1] = -1.0f;
    floats[2] = 3.0f;
    floats[3] = -3.0f;
    const std::string wavFloat = WriteFloat(dir.Path() / "float32.wav", floats, 2, 48000);
    std::vector<uint8_t> ints;
    for (size_t i = 0; i < signal.size(); ++i)
        PutLe32(ints, static_cast<uint32_t>(signal[i]) << 8 | static_cast<uint32_t>(i * 37 % 256));
    const std::string wav32 = (dir.Path() / "int32.wav").string();
    WriteBytes(wav32, CanonicalWave(PcmFormat(2, 48000, 32), ints));

    const struct {
        std::string source;
        uint32_t rate;
        bool floating;
        int32_t slack16 = 0; // steps a 16-bit output may be off by
    } sources[] = {
        {wav16, 44100, false},
        {wav24, 48000, false},
        {extensible, 48000, false},
        {flac, 48000, false},
        // The 16-bit path reads every sample as a float of 24 significant bits first, so a
        // 32-bit sample just below a half step can round up.
        {wav32, 48000, false, 1},
        {wavFloat, 48000, true},
    };
    const OutputFormat& wave = *OutputFormat::Find("wav");
    // A row that keeps the source's depth, as a lossless codec's does.
    OutputFormat keeping = wave;
    keeping.depth = OutputFormat::Depth::OfSource;
    for (const auto& source : sources) {
        const std::vector<int32_t> decoded
            = source.floating ? std::vector<int32_t> {} : Decode32(source.source);
        const int sourceDepth = source.source == wav16 ? 16 : 24;
        for (const char* quality : {"16", "24", "source"}) {
            const bool ofSource = std::string(quality) == "source";
            const int bits = ofSource ? sourceDepth : std::stoi(quality);
            SCOPED_TRACE(source.source + " to " + quality + " bits");
            const std::string target = fs::path(source.source).stem().string() + "-" + quality + ".wav";
            ASSERT_TRUE(Convert(source.source, target, ofSource ? keeping : wave, ofSource ? "16" : quality));
            const fs::path output = dir.Path() / target;
            EXPECT_EQ(Probe(output),
                "codec_name=pcm_s" + std::to_string(bits) + "le|sample_rate=" + std::to_string(source.rate)
                    + "|channels=2\n");
            ExpectCompleteRiff(output, bits / 8 * 2);
            EXPECT_EQ(Le16(ReadBytes(output), 20), bits == 24 ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM);

            const std::vector<int32_t> written = Decode32(output);
            const size_t count = source.floating ? floats.size() : decoded.size();
            ASSERT_EQ(written.size(), count) << "sample count";
            size_t wrong = 0;
            for (size_t i = 0; i < count; ++i) {
                const int32_t expected
                    = source.floating ? FloatTo(floats[i], bits) : RoundTo(decoded[i], bits);
                const int32_t slack = bits == 16 ? source.slack16 : 0;
                if (std::abs((written[i] >> (32 - bits)) - expected) > slack && wrong++ < 5)
                    ADD_FAILURE() << "sample " << i << ": " << (written[i] >> (32 - bits)) << ", not "
                                  << expected;
            }
            EXPECT_EQ(wrong, 0u);
        }
    }
}

// A 24-bit 96 kHz FLAC to a WAV whose codec took 48 kHz only: the resampler keeps 24-bit
// precision (a 16-bit stage would leave its rounding noise), and the length follows the rate.
TEST_F(OutputDepth, ARateChangeKeepsTheDepth)
{
    const size_t frames = 96000 / 4;
    std::vector<int32_t> tone(frames);
    for (size_t i = 0; i < frames; ++i)
        tone[i] = static_cast<int32_t>(
            std::lround(0.5 * kMax24 * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(i) / 96000)));
    const std::string wav = Write24(dir.Path() / "tone96.wav", tone, 1, 96000, false);
    const std::string flac = (dir.Path() / "tone96.flac").string();
    CommandOutput("ffmpeg -v error -i " + Quoted(wav) + " -c:a flac -sample_fmt s32 " + Quoted(flac));

    OutputFormat at48 = *OutputFormat::Find("wav");
    at48.rates = {48000};
    for (const int bits : {16, 24}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        const std::string target = "tone48-" + std::to_string(bits) + ".wav";
        ASSERT_TRUE(Convert(flac, target, at48, bits == 24 ? "24" : "16"));
        const fs::path output = dir.Path() / target;
        EXPECT_EQ(
            Probe(output), "codec_name=pcm_s" + std::to_string(bits) + "le|sample_rate=48000|channels=2\n");
        const std::vector<int32_t> written = Decode32(output);
        ASSERT_NEAR(static_cast<double>(written.size()), 2.0 * frames / 2, 2.0);
        // Against the ideal tone, away from the ends where the filter rings: the error is that of
        // rounding the source and the output (about 0.35 steps of the output's depth), and no
        // more: a filter or a stage of less precision would add its own.
        double squares = 0.0;
        size_t counted = 0;
        for (size_t f = 480; f + 480 < written.size() / 2; ++f) {
            const double ideal
                = 0.5 * kMax24 / 8388608.0 * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(f) / 48000);
            for (size_t c = 0; c < 2; ++c) {
                const double error = written[2 * f + c] / 2147483648.0 - ideal;
                squares += error * error;
                ++counted;
            }
        }
        const double rmsSteps = std::sqrt(squares / static_cast<double>(counted)) * std::ldexp(1.0, bits - 1);
        EXPECT_LT(rmsSteps, 0.45) << "RMS error in steps of the output's depth";
    }
}

// ABORT in the middle of a 24-bit job leaves a complete, shorter file that holds the start of the
// source unchanged; a complete mono job of an odd number of 24-bit frames gets its pad byte.
TEST_F(OutputDepth, Aborted24BitFilesAndOddLengthsAreCompleteRiffFiles)
{
    const size_t frames = 48000 * 30 + 1;
    const std::vector<int32_t> signal = Signal24(frames, 1, 48000, 0.5);
    const std::string source = Write24(dir.Path() / "long24.wav", signal, 1, 48000, false);
    const OutputFormat& wave = *OutputFormat::Find("wav");

    ASSERT_TRUE(Convert(source, "whole.wav", wave, "24", 1));
    ExpectCompleteRiff(dir.Path() / "whole.wav", 3);
    EXPECT_EQ(Decode32(dir.Path() / "whole.wav").size(), frames);

    Mixer mixer;
    mixer.outputChannels = 1;
    mixer.bitsForSource = [](const WAVEFORMATEX& format) { return OutputFormat::SourceDepth(format); };
    mixer.rateForSource = [](uint32_t rate) { return rate; };
    ASSERT_NE(mixer.LoadWave(source.c_str()), nullptr);
    ASSERT_EQ(mixer.GetFormat()->wBitsPerSample, 24);
    WaveEncoder encoder;
    encoder.SetSource(&mixer);
    const fs::path stopped = dir.Path() / "stopped.wav";
    encoder.SetOutputPath(stopped.c_str());
    EncodeAndStopAfter(encoder, mixer, 1.0);

    ExpectCompleteRiff(stopped, 3);
    EXPECT_EQ(Probe(stopped), "codec_name=pcm_s24le|sample_rate=48000|channels=1\n");
    const std::vector<int32_t> written = Decode32(stopped);
    EXPECT_GT(written.size(), 0u);
    EXPECT_LT(written.size(), frames);
    size_t wrong = 0;
    for (size_t i = 0; i < written.size(); ++i)
        wrong += written[i] >> 8 != signal[i];
    EXPECT_EQ(wrong, 0u) << "samples that differ from the source's";
}

} // namespace
