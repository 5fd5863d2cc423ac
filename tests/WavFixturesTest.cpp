// Every WAV fixture decoded through the source and the conversion stage, compared with the
// reference decode stored beside it (<name>.ref.wav, made by other tools). A reference is 16-bit
// PCM, or float where the reference decoder's own output is float (MPEG audio); both pass
// through the conversion stage too, so that a float reference is rounded to 16 bits as ours is
// and the two decodes can be compared sample for sample.
#include "sources/ConversionStream.h"
#include "sources/WaveStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>

using namespace testing_support;

namespace {

const std::filesystem::path kFolder = std::filesystem::path(VARKONEL_TEST_DATA_DIR) / "wav";

enum class Match {
    Exact, // the same samples
    Rounding, // within one step: ties of the rounding to 16 bits may go either way
};

struct Fixture {
    Match match;
    WORD tag; // the format tag the file declares
};

const std::map<std::string, Fixture> kFixtures = {
    {"pcm-u8-mono-8000", {Match::Exact, WAVE_FORMAT_PCM}},
    {"pcm-s16-stereo-44100", {Match::Exact, WAVE_FORMAT_PCM}},
    {"pcm-s24-stereo-44100", {Match::Rounding, WAVE_FORMAT_PCM}},
    {"pcm-s32-stereo-22050", {Match::Rounding, WAVE_FORMAT_PCM}},
    {"float32-stereo-44100", {Match::Rounding, WAVE_FORMAT_IEEE_FLOAT}},
    {"float64-mono-8000", {Match::Rounding, WAVE_FORMAT_IEEE_FLOAT}},
    {"ext-pcm24-stereo-44100", {Match::Rounding, WAVE_FORMAT_EXTENSIBLE}},
    {"ext-float32-stereo-22050", {Match::Rounding, WAVE_FORMAT_EXTENSIBLE}},
    {"ext-pcm16-6ch-22050", {Match::Exact, WAVE_FORMAT_EXTENSIBLE}},
    {"ima-adpcm-stereo-22050", {Match::Exact, WAVE_FORMAT_IMA_ADPCM}},
    {"ms-adpcm-mono-8000", {Match::Exact, WAVE_FORMAT_ADPCM}},
    {"alaw-mono-8000", {Match::Exact, WAVE_FORMAT_ALAW}},
    {"mulaw-stereo-22050", {Match::Exact, WAVE_FORMAT_MULAW}},
    {"gsm610-mono-8000", {Match::Exact, WAVE_FORMAT_GSM610}},
    {"mp3-stereo-22050", {Match::Exact, WAVE_FORMAT_MPEGLAYER3}},
    // Stopped inside its last frame: that frame comes out of the decoder only when it is told
    // that the stream has ended.
    {"mp3-cut-stereo-22050", {Match::Exact, WAVE_FORMAT_MPEGLAYER3}},
};

struct Decoded {
    WAVEFORMATEX format {};
    std::vector<int16_t> samples;
};

Decoded Decode(const std::filesystem::path& file)
{
    Decoded out;
    WaveStream wave;
    EXPECT_TRUE(wave.LoadWave(file.c_str())) << file;
    out.format = *wave.GetFormat();
    ConversionStream stage;
    stage.SetSource(&wave);
    EXPECT_NE(stage.acmStream, nullptr) << file;
    for (AudioBufferRef buffer = stage.GetBuffer(); !buffer.IsEnd(); buffer = stage.GetBuffer()) {
        const auto* samples = reinterpret_cast<const int16_t*>(buffer.GetData());
        out.samples.insert(out.samples.end(), samples, samples + buffer.GetLength() / 2);
    }
    return out;
}

TEST(WavFixtures, EveryFileIsListed)
{
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(kFolder)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.find(".ref.") == std::string::npos)
            found.insert(entry.path().stem().string());
    }
    std::set<std::string> listed;
    for (const auto& [name, fixture] : kFixtures)
        listed.insert(name);
    EXPECT_EQ(found, listed);
}

TEST(WavFixtures, DecodeLikeTheReference)
{
    ScopedMessages messages;
    for (const auto& [name, fixture] : kFixtures) {
        SCOPED_TRACE(name);
        const Decoded ours = Decode(kFolder / (name + ".wav"));
        const Decoded reference = Decode(kFolder / (name + ".ref.wav"));
        EXPECT_EQ(+ours.format.wFormatTag, fixture.tag);
        EXPECT_EQ(+ours.format.nChannels, +reference.format.nChannels);
        EXPECT_EQ(+ours.format.nSamplesPerSec, +reference.format.nSamplesPerSec);
        ASSERT_GT(reference.samples.size(), 1000u);
        ASSERT_EQ(ours.samples.size(), reference.samples.size());
        int worst = 0;
        size_t differing = 0;
        for (size_t i = 0; i < ours.samples.size(); ++i) {
            const int difference = std::abs(ours.samples[i] - reference.samples[i]);
            worst = std::max(worst, difference);
            differing += difference != 0;
        }
        EXPECT_LE(worst, fixture.match == Match::Exact ? 0 : 1);
        EXPECT_LE(differing, ours.samples.size() / 100) << "rounding differs too often";
    }
    EXPECT_TRUE(messages->Texts().empty());
}

TEST(WavFixtures, CompressedDataCutInsideABlockKeepsEveryWholeBlock)
{
    ScopedMessages messages;
    TempDir dir;
    for (const char* name : {"ima-adpcm-stereo-22050", "ms-adpcm-mono-8000"}) {
        SCOPED_TRACE(name);
        const auto file = kFolder / (std::string(name) + ".wav");
        const auto whole = Decode(file);
        const uint32_t channels = whole.format.nChannels, align = whole.format.nBlockAlign;
        const uint32_t framesPerBlock = whole.format.wFormatTag == WAVE_FORMAT_IMA_ADPCM
            ? (align - 4 * channels) * 2 / channels + 1
            : (align - 7 * channels) * 2 / channels + 2;
        // The same file cut two and a half blocks into its data.
        auto bytes = ReadBytes(file);
        const std::string text(bytes.begin(), bytes.end());
        const size_t data = text.find("data") + 8;
        ASSERT_GT(bytes.size(), data + 3 * align);
        bytes.resize(data + 2 * align + align / 2);
        const std::string cutFile = dir.File("cut.wav");
        WriteBytes(cutFile, bytes);
        const auto cut = Decode(cutFile);
        // Both whole blocks decode as in the full file; the piece of the third may add a little.
        const size_t frames = cut.samples.size() / channels;
        EXPECT_GE(frames, 2 * framesPerBlock);
        EXPECT_LT(frames, 3 * framesPerBlock);
        ASSERT_LE(cut.samples.size(), whole.samples.size());
        EXPECT_TRUE(std::equal(
            cut.samples.begin(), cut.samples.begin() + 2 * framesPerBlock * channels, whole.samples.begin()));
    }
}

TEST(WavFixtures, MalformedFilesFailOrEndCleanly)
{
    ScopedMessages messages;
    int loaded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kFolder / "bad")) {
        SCOPED_TRACE(entry.path().filename().string());
        WaveStream wave;
        if (!wave.LoadWave(entry.path().c_str()))
            continue;
        ++loaded;
        ConversionStream stage;
        stage.SetSource(&wave);
        WAVEFORMATEX mono = PcmFormat(1, 22050, 16);
        stage.SetOutputFormat(&mono);
        size_t bytes = 0;
        int buffers = 0;
        for (AudioBufferRef buffer = stage.GetBuffer(); !buffer.IsEnd() && buffers < 10000;
             buffer = stage.GetBuffer()) {
            bytes += buffer.GetLength();
            ++buffers;
        }
        EXPECT_LT(buffers, 10000);
        EXPECT_LT(bytes, 10u << 20);
    }
    // The cut compressed files, huge sizes, long fmt chunk and odd chunks still load.
    EXPECT_GE(loaded, 6);
    // Only the block align of 0 is reported to the user.
    EXPECT_EQ(messages->Texts(), std::vector<std::string> {"Exception caught in WaveStream::LoadWave!"});
}

} // namespace
