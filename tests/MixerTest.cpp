#include "engine/Mixer.h"
#include "audio/ToneStream.h"
#include "encoders/Mp3Encoder.h"
#include "encoders/WaveEncoder.h"
#include "platform/media/MediaFile.h"
#include "sources/WaveStream.h"
#include "support/MediaFixtures.h"
#include "support/Mp3Decode.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>

using namespace testing_support;

namespace {

std::vector<int16_t> ReadAll(AudioStream& stream)
{
    std::vector<int16_t> samples;
    for (AudioBufferRef buffer = stream.GetBuffer(); !buffer.IsEnd(); buffer = stream.GetBuffer()) {
        const size_t at = samples.size();
        samples.resize(at + buffer.GetLength() / 2);
        std::memcpy(samples.data() + at, buffer.GetData(), buffer.GetLength() / 2 * 2);
    }
    return samples;
}

// A stream that only answers position and length, for the minimum rules.
class AnsweringStream : public AudioStream {
public:
    AnsweringStream(double position, double length)
        : position(position)
        , length(length)
    {
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 1;
        format.nSamplesPerSec = 8000;
        format.wBitsPerSample = 16;
        format.nBlockAlign = 2;
        format.nAvgBytesPerSec = 16000;
    }
    WAVEFORMATEX* GetFormat() override { return &format; }
    AudioBufferRef GetBuffer() override { return AudioBufferRef::MakeEmpty(); }
    double GetPosition() override { return position; }
    double GetLength() override { return length; }
    WAVEFORMATEX format {};
    double position;
    double length;
};

// A source that fails when the finished chain is returned to the start of its audio.
class ThrowingStream : public AnsweringStream {
public:
    ThrowingStream()
        : AnsweringStream(0, 1)
    { }
    void Rewind() override { throw std::runtime_error("broken source"); }
};

TEST(Mixer, OutputFormatAndBufferSizeFollowTheRate)
{
    struct Case {
        double rate;
        uint32_t avgBytes;
        uint32_t bufferSize;
    };
    for (const Case& c : {Case {22050.0, 44100, 4410}, Case {33075.0, 66150, 6614},
             Case {44100.0, 88200, 8820}, Case {132300.0, 264600, 26460}}) {
        Mixer mixer;
        mixer.outputRate = c.rate;
        mixer.calcoutputformat();
        const WAVEFORMATEX* format = mixer.GetFormat();
        EXPECT_EQ(format->wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(format->nChannels, 1);
        EXPECT_EQ(format->nSamplesPerSec, static_cast<DWORD>(c.rate));
        EXPECT_EQ(format->wBitsPerSample, 16);
        EXPECT_EQ(format->nBlockAlign, 2);
        EXPECT_EQ(format->nAvgBytesPerSec, c.avgBytes);
        EXPECT_EQ(format->cbSize, 0);
        EXPECT_EQ(mixer.bufferSize, c.bufferSize) << c.rate;
    }
}

TEST(Mixer, NonsenseRatesGiveAnEmptyFormatNotACrash)
{
    for (double rate : {-5.0, std::nan(""), 1e300}) {
        Mixer mixer;
        mixer.outputRate = rate;
        mixer.calcoutputformat();
        EXPECT_EQ(mixer.GetFormat()->nSamplesPerSec, 0u);
        EXPECT_EQ(mixer.bufferSize, 0u);
    }
}

TEST(Mixer, EmptyMixerEndsAtOnceAndCannotTell)
{
    Mixer mixer;
    EXPECT_TRUE(mixer.GetBuffer().IsEnd());
    EXPECT_EQ(mixer.GetPosition(), -1.0);
    EXPECT_EQ(mixer.GetLength(), -1.0);
    mixer.Seek(3); // nothing to position
}

TEST(Mixer, MinimumRulesOverSources)
{
    ScopedMessages messages;
    Mixer mixer;
    mixer.outputRate = 8000;
    mixer.calcoutputformat();
    AnsweringStream thirty(3.0, 30.0);
    AnsweringStream twenty(2.0, 20.0);
    AnsweringStream unknown(-1.0, -1.0);
    ASSERT_TRUE(mixer.AddStream(&thirty, false));
    ASSERT_TRUE(mixer.AddStream(&twenty, false));
    EXPECT_EQ(mixer.GetLength(), 20.0);
    EXPECT_EQ(mixer.GetPosition(), 2.0);
    ASSERT_TRUE(mixer.AddStream(&unknown, false)); // -1.0 last replaces the minimum
    EXPECT_EQ(mixer.GetLength(), -1.0);

    mixer.RemoveAll();
    ASSERT_TRUE(mixer.AddStream(&unknown, false));
    ASSERT_TRUE(mixer.AddStream(&thirty, false)); // and the next answer replaces -1.0
    EXPECT_EQ(mixer.GetLength(), 30.0);
    EXPECT_TRUE(messages->Entries().empty());
}

TEST(Mixer, StereoSourceComesOutMonoAtTheOutputRate)
{
    ScopedMessages messages;
    TempDir dir;
    const std::string wav = WriteToneWav(dir.Path() / "stereo48k.wav", 48000, 2, 2.0, 1000.0);
    Mixer mixer;
    mixer.outputRate = 22050.0;
    mixer.calcoutputformat();
    WaveStream* source = mixer.LoadWave(wav.c_str());
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->GetFormat()->nChannels, 2); // the source keeps its own format
    EXPECT_EQ(mixer.GetFormat()->nChannels, 1);
    EXPECT_EQ(mixer.GetFormat()->nSamplesPerSec, 22050u);
    const std::vector<int16_t> out = ReadAll(mixer);
    // Every second of the source arrives, resampled: 2 s at 22050 Hz, within a few samples.
    EXPECT_NEAR(static_cast<double>(out.size()), 44100.0, 8.0);
    EXPECT_DOUBLE_EQ(mixer.GetLength(), 2.0);
    EXPECT_TRUE(messages->Entries().empty());
}

TEST(Mixer, FirstStretchOfTheSourceIsNotLost)
{
    ScopedMessages messages;
    TempDir dir;
    // Already in the output format, so conversion changes nothing and every sample can be compared.
    const std::string wav = WriteToneWav(dir.Path() / "mono.wav", 22050, 1, 1.0, 440.0);
    Mixer mixer;
    mixer.outputRate = 22050.0;
    mixer.calcoutputformat();
    ASSERT_NE(mixer.LoadWave(wav.c_str()), nullptr);
    const std::vector<int16_t> out = ReadAll(mixer);
    ToneStream tone(22050, 1, 440.0, 1.0);
    ASSERT_EQ(out.size(), 22050u);
    for (uint32_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], tone.SampleAt(i)) << i;
}

TEST(Mixer, TwoEntriesDeliverOnlyTheFirst)
{
    ScopedMessages messages;
    Mixer mixer;
    mixer.outputRate = 8000.0;
    mixer.calcoutputformat();
    ToneStream first(8000, 1, 500.0, 3.0);
    ToneStream second(8000, 1, 700.0, 2.0);
    ASSERT_TRUE(mixer.AddStream(&first, false));
    ASSERT_TRUE(mixer.AddStream(&second, false));
    EXPECT_EQ(mixer.GetLength(), 2.0);
    const std::vector<int16_t> out = ReadAll(mixer);
    ASSERT_EQ(out.size(), 24000u);
    for (uint32_t i = 0; i < out.size(); i += 97)
        ASSERT_EQ(out[i], first.SampleAt(i)) << i;
    EXPECT_EQ(second.GetPosition(), 0.0); // the second entry was rewound and never read again
}

TEST(Mixer, LoadFailuresReturnNullAndLeaveTheMixerEmpty)
{
    ScopedMessages messages;
    TempDir dir;
    WriteBytes(dir.File("fake.wav"), std::vector<uint8_t>(100, 'x'));
    Mixer mixer;
    mixer.outputRate = 22050.0;
    mixer.calcoutputformat();
    EXPECT_EQ(mixer.LoadWave(nullptr), nullptr);
    EXPECT_EQ(mixer.LoadWave(dir.File("fake.wav").c_str()), nullptr);
    EXPECT_EQ(mixer.LoadWave(dir.File("missing.wav").c_str()), nullptr);
    EXPECT_EQ(mixer.LoadWMA(nullptr), nullptr);
    EXPECT_TRUE(mixer.entries.empty());
    EXPECT_TRUE(messages->Entries().empty()); // the Mixer adds no message of its own
}

TEST(Mixer, SourceFailingWhileTheChainIsBuiltIsRemovedWithItsStages)
{
    ScopedMessages messages;
    Mixer mixer;
    mixer.outputRate = 8000.0;
    mixer.calcoutputformat();
    ThrowingStream broken;
    EXPECT_FALSE(mixer.AddStream(&broken, false));
    EXPECT_TRUE(mixer.entries.empty());
    // Exactly one message; the conversion and analysis stages already made go with the entry
    // (the sanitizer build's leak check holds this).
    EXPECT_EQ(messages->Texts(), std::vector<std::string> {"Exception in Mixer::AddStream!"});
    // The Mixer still works afterwards.
    ToneStream tone(8000, 1, 500.0, 0.5);
    EXPECT_TRUE(mixer.AddStream(&tone, false));
    EXPECT_EQ(ReadAll(mixer).size(), 4000u);
}

// WAV → Mixer → Mp3Encoder: the file decodes through the media reader to the source's sound and length.
TEST(Mixer, Mp3FromTheMixerDecodesToTheSource)
{
    ScopedMessages messages {true};
    TempDir dir;
    const std::string wav = WriteToneWav(dir.Path() / "tone.wav", 44100, 2, 3.0, 440.0);
    Mixer mixer;
    mixer.outputRate = 44100.0; // the "64KB" setting
    mixer.calcoutputformat();
    ASSERT_NE(mixer.LoadWave(wav.c_str()), nullptr);
    Mp3Encoder encoder;
    const std::string mp3 = dir.File("tone.mp3");
    encoder.SetSource(&mixer);
    encoder.SetOutputPath(mp3.c_str());
    ASSERT_TRUE(encoder.Encode());

    DecodedAudio decoded;
    ASSERT_GE(DecodeMediaFile(mp3.c_str(), decoded), 0);
    EXPECT_EQ(decoded.format.nChannels, 1);
    EXPECT_EQ(decoded.format.nSamplesPerSec, 44100u);
    const std::vector<int16_t> samples = AsSamples(decoded.pcm);
    ToneStream tone(44100, 1, 440.0, 3.0);
    std::vector<int16_t> reference(132300);
    for (uint32_t i = 0; i < reference.size(); ++i)
        reference[i] = tone.SampleAt(i);
    const size_t lag = BestLag(samples, reference, 3000);
    EXPECT_GE(Correlation(samples, reference, lag), 0.95);
    const double sounding = static_cast<double>(SoundingEnd(samples, 2000)) - static_cast<double>(lag);
    EXPECT_NEAR(sounding / 44100.0, 3.0, 0.05);
    EXPECT_TRUE(messages->Entries().empty());
}

} // namespace

namespace {

// Sources that end at once or break off: the MP3 is still complete and ends with its tag.
TEST(Mixer, ShortAndBrokenSourcesStillGiveCompleteMp3Files)
{
    ScopedMessages messages {true};
    TempDir dir;
    const std::string silent = WriteToneWav(dir.Path() / "empty.wav", 44100, 2, 0.0);
    const std::string whole = WriteToneWav(dir.Path() / "cut.wav", 44100, 2, 1.0);
    std::vector<uint8_t> bytes = ReadBytes(whole);
    bytes.resize(bytes.size() / 2 + 3); // cut in the middle of a frame
    WriteBytes(whole, bytes);

    for (const std::string& wav : {silent, whole}) {
        Mixer mixer;
        mixer.outputRate = 22050.0;
        mixer.calcoutputformat();
        ASSERT_NE(mixer.LoadWave(wav.c_str()), nullptr) << wav;
        Mp3Encoder encoder;
        const std::string mp3 = wav + ".mp3";
        encoder.SetSource(&mixer);
        encoder.SetOutputPath(mp3.c_str());
        EXPECT_TRUE(encoder.Encode());
        const std::vector<uint8_t> out = ReadBytes(mp3);
        ASSERT_GE(out.size(), Mp3Encoder::kTagSize);
        EXPECT_EQ(std::string(out.end() - 128, out.end() - 125), "TAG") << wav;
        DecodedAudio decoded;
        if (wav == whole) {
            ASSERT_GE(DecodeMediaFile(mp3.c_str(), decoded), 0);
            // Half a second of audio survived the cut; the decode adds the encoder's delay and
            // padding (this file states neither), at most two 1152-sample frames.
            const double seconds = static_cast<double>(decoded.pcm.size()) / 2 / 22050;
            EXPECT_GE(seconds, 0.49);
            EXPECT_LE(seconds, 0.5 + 2 * 1152.0 / 22050);
        }
    }
    EXPECT_TRUE(messages->Entries().empty());
}

} // namespace
