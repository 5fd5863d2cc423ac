// The FLAC, Opus, Vorbis and AAC encoders of the media module (AudioEncoderSession.h), reached
// through the module's front as the programs reach them. Every output is checked with FFmpeg's
// command-line tools as a player would read it: the container and codec, the number of frames
// it decodes to, and the content (lossless: the very samples; lossy: the tones written);
// FLAC files also with the reference tools (`flac -t`, `metaflac`).
#include "platform/media/AudioEncoderSession.h"
#include "support/MediaFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace testing_support;

namespace {

struct Row {
    const char* label;
    AudioCodec codec;
    PcmLayout layout;
    uint32_t rate;
    uint16_t channels;
    int quality;
    const char* extension;
    const char* probed; // what ffprobe says of the container and the stream
    bool lossless;
};

const Row kRows[] = {
    {"FLAC 16-bit", AudioCodec::Flac, PcmLayout::Int16, 44100, 2, 5, "flac",
        "codec_name=flac\nprofile=unknown\nsample_rate=44100\nchannels=2\nbits_per_raw_sample=16\nformat_"
        "name=flac\n",
        true},
    {"FLAC 24-bit", AudioCodec::Flac, PcmLayout::Int24In32, 96000, 2, 8, "flac",
        "codec_name=flac\nprofile=unknown\nsample_rate=96000\nchannels=2\nbits_per_raw_sample=24\nformat_"
        "name=flac\n",
        true},
    {"Opus stereo", AudioCodec::Opus, PcmLayout::Int16, 48000, 2, 128, "opus",
        "codec_name=opus\nprofile=unknown\nsample_rate=48000\nchannels=2\nbits_per_raw_sample=N/"
        "A\nformat_name=ogg\n",
        false},
    {"Opus mono from 24 bits", AudioCodec::Opus, PcmLayout::Int24In32, 48000, 1, 64, "opus",
        "codec_name=opus\nprofile=unknown\nsample_rate=48000\nchannels=1\nbits_per_raw_sample=N/"
        "A\nformat_name=ogg\n",
        false},
    {"Vorbis", AudioCodec::Vorbis, PcmLayout::Int16, 44100, 2, 5, "ogg",
        "codec_name=vorbis\nprofile=unknown\nsample_rate=44100\nchannels=2\nbits_per_raw_sample=N/"
        "A\nformat_name=ogg\n",
        false},
    {"AAC", AudioCodec::Aac, PcmLayout::Int16, 44100, 2, 192, "m4a",
        "codec_name=aac\nprofile=LC\nsample_rate=44100\nchannels=2\nbits_per_raw_sample=N/A\n"
        "format_name=mov,mp4,m4a,3gp,3g2,mj2\nTAG:major_brand=M4A \n",
        false},
};

// An AAC file decodes to the frames written and the rest of the last AAC frame.
constexpr int64_t kAacFrame = 1024;

AudioEncoderSettings SettingsOf(const Row& row, int descriptor)
{
    AudioEncoderSettings settings;
    settings.codec = row.codec;
    settings.layout = row.layout;
    settings.rate = row.rate;
    settings.channels = row.channels;
    settings.quality = row.quality;
    settings.descriptor = descriptor;
    return settings;
}

int BytesPerSample(const Row& row)
{
    return row.layout == PcmLayout::Int16 ? 2 : 4;
}

// A 440 Hz tone on the left, 660 Hz on the right, a little noise on both so that a lossless
// coder has low bits to keep; a length that is a multiple of no codec's frame size.
std::vector<int32_t> Tone(const Row& row, int64_t frames)
{
    std::vector<int32_t> samples;
    uint32_t noise = 12345;
    for (int64_t frame = 0; frame < frames; ++frame) {
        for (int channel = 0; channel < row.channels; ++channel) {
            const double frequency = channel == 0 ? 440.0 : 660.0;
            noise = noise * 1664525u + 1013904223u;
            const double value = 0.5 * std::sin(2 * M_PI * frequency * double(frame) / row.rate)
                + double(int32_t(noise >> 16) - 32768) / 32768.0 / 4096.0;
            samples.push_back(row.layout == PcmLayout::Int16 ? int32_t(std::lround(value * 32767))
                                                             : int32_t(std::lround(value * 8388607)) * 256);
        }
    }
    return samples;
}

std::vector<uint8_t> AsBytes(const Row& row, const std::vector<int32_t>& samples)
{
    std::vector<uint8_t> bytes(samples.size() * size_t(BytesPerSample(row)));
    for (size_t i = 0; i < samples.size(); ++i) {
        if (row.layout == PcmLayout::Int16) {
            const int16_t sample = int16_t(samples[i]);
            std::memcpy(&bytes[i * 2], &sample, 2);
        } else {
            std::memcpy(&bytes[i * 4], &samples[i], 4);
        }
    }
    return bytes;
}

// Encodes the first `frames` frames of `bytes` into `descriptor`, in pieces of odd sizes as a
// decoder hands them out; empty when it worked, else why not.
std::string EncodeTo(const Row& row, const std::vector<uint8_t>& bytes, int64_t frames, int descriptor)
{
    std::string reason;
    auto session = AudioEncoderSession::Create(SettingsOf(row, descriptor), reason);
    const size_t frameBytes = size_t(BytesPerSample(row)) * row.channels;
    for (int64_t done = 0, piece = 777; session && reason.empty() && done < frames; done += piece) {
        piece = std::min<int64_t>(piece == 777 ? 2500 : 777, frames - done);
        if (!session->Write(bytes.data() + size_t(done) * frameBytes, size_t(piece)))
            reason = session->Failure();
    }
    if (session && reason.empty() && !session->Finish())
        reason = session->Failure();
    return session || !reason.empty() ? reason : "no session and no reason";
}

std::string Encode(const Row& row, const std::vector<uint8_t>& bytes, int64_t frames, const std::string& file)
{
    const int descriptor = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return "cannot create " + file;
    const std::string reason = EncodeTo(row, bytes, frames, descriptor);
    close(descriptor);
    return reason;
}

// The file as ffmpeg decodes it, in the input's sample width.
std::vector<int32_t> Decoded(const Row& row, const std::string& file)
{
    const bool wide = row.layout == PcmLayout::Int24In32;
    const std::vector<uint8_t> bytes
        = CommandOutput("ffmpeg -nostdin -v error -i '" + file + "' -f " + (wide ? "s32le" : "s16le") + " -");
    std::vector<int32_t> samples;
    for (size_t at = 0; at + size_t(BytesPerSample(row)) <= bytes.size(); at += size_t(BytesPerSample(row))) {
        if (wide) {
            int32_t sample;
            std::memcpy(&sample, &bytes[at], 4);
            samples.push_back(sample);
        } else {
            int16_t sample;
            std::memcpy(&sample, &bytes[at], 2);
            samples.push_back(sample);
        }
    }
    return samples;
}

std::string Text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// The output decodes to the frames written (AAC: up to its last frame), with their content.
void ExpectDecodesTo(const Row& row, const std::string& file, const std::vector<int32_t>& written)
{
    const std::vector<int32_t> decoded = Decoded(row, file);
    const int64_t writtenFrames = int64_t(written.size()) / row.channels;
    const int64_t decodedFrames = int64_t(decoded.size()) / row.channels;
    if (row.codec == AudioCodec::Aac) {
        EXPECT_GE(decodedFrames, writtenFrames);
        EXPECT_LT(decodedFrames, writtenFrames + kAacFrame);
    } else {
        EXPECT_EQ(decodedFrames, writtenFrames);
    }
    if (row.lossless)
        EXPECT_TRUE(decoded == written) << "the decoded samples differ from those written";
    else
        EXPECT_GE(Correlation(decoded, written), 0.99);
}

// The lines of a FLAC file's seek points as metaflac lists them.
std::string SeekPoints(const std::string& file)
{
    return Text(CommandOutput("metaflac --list --block-type=SEEKTABLE '" + file + "' | grep 'point '"));
}

// The reference tools accept the file, STREAMINFO states its length and MD5, and its seek table
// is the one metaflac makes for it by decoding it (a point every ten seconds, each on the frame
// that holds that sample).
void ExpectFlacComplete(const std::string& file, int64_t frames)
{
    CommandOutput("flac -t -s '" + file + "'");
    const std::string listed = Text(CommandOutput("metaflac --list '" + file + "'"));
    EXPECT_NE(listed.find("total samples: " + std::to_string(frames) + "\n"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("MD5 signature: 00000000000000000000000000000000"), std::string::npos) << listed;
    EXPECT_NE(listed.find("type: 3 (SEEKTABLE)"), std::string::npos) << listed;
    const std::string peer = file + ".metaflac.flac";
    CommandOutput("cp '" + file + "' '" + peer + "' && metaflac --remove --block-type=SEEKTABLE '" + peer
        + "' && metaflac --add-seekpoint=10s '" + peer + "'");
    EXPECT_EQ(SeekPoints(file), SeekPoints(peer));
}

TEST(AudioEncoderSession, EachCodecWritesItsContainerWithTheExactLengthAndContent)
{
    TempDir dir;
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.label);
        const int64_t frames = int64_t(row.rate) * 13 / 10 + 7;
        const std::vector<int32_t> samples = Tone(row, frames);
        const std::vector<uint8_t> bytes = AsBytes(row, samples);

        const std::string whole = dir.File(std::string("whole.") + row.extension);
        ASSERT_EQ(Encode(row, bytes, frames, whole), "");
        EXPECT_EQ(Text(CommandOutput(
                      "ffprobe -v error -show_entries "
                      "stream=codec_name,profile,sample_rate,channels,bits_per_raw_sample:format=format_name:"
                      "format_tags=major_brand -of default=nw=1 '"
                      + whole + "'")),
            row.probed);
        ExpectDecodesTo(row, whole, samples);
        if (row.codec == AudioCodec::Flac)
            ExpectFlacComplete(whole, frames);
        // libvorbis names its quality's nominal bitrate in the header: 160 kbit/s for 5.
        if (row.codec == AudioCodec::Vorbis) {
            EXPECT_EQ(Text(CommandOutput(
                          "ffprobe -v error -show_entries stream=bit_rate -of default=nw=1 '" + whole + "'")),
                "bit_rate=160000\n");
        }

        // Stopped part way, also within the first Ogg page and codec frame: a complete file of
        // what was written.
        for (const int64_t part : {frames * 2 / 5 + 3, int64_t {700}}) {
            SCOPED_TRACE(part);
            const std::string stopped = dir.File(std::string("stopped.") + row.extension);
            ASSERT_EQ(Encode(row, bytes, part, stopped), "");
            ExpectDecodesTo(
                row, stopped, std::vector<int32_t>(samples.begin(), samples.begin() + part * row.channels));
            if (row.codec == AudioCodec::Flac)
                ExpectFlacComplete(stopped, part);
        }
    }
}

// What a gapless player needs (iTunSMPB for AAC): the encoder's delay, the frames written and the
// padding add up to the codec frames in the file, as many as ffprobe counts packets; FLAC and
// Vorbis end exactly.
TEST(AudioEncoderSession, PaddingStatesTheDelayTheFramesAndThePadding)
{
    TempDir dir;
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.label);
        const int64_t frames = int64_t(row.rate) / 2 + 77;
        const std::vector<uint8_t> bytes = AsBytes(row, Tone(row, frames));
        const std::string file = dir.File(std::string("padded.") + row.extension);
        const int descriptor = open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(descriptor, 0);
        std::string reason;
        auto session = AudioEncoderSession::Create(SettingsOf(row, descriptor), reason);
        ASSERT_TRUE(session) << reason;
        ASSERT_TRUE(session->Write(bytes.data(), size_t(frames))) << session->Failure();
        ASSERT_TRUE(session->Finish()) << session->Failure();
        close(descriptor);
        const AudioEncoderSession::Gapless gapless = session->Padding();
        EXPECT_EQ(gapless.frames, uint64_t(frames));
        const struct {
            AudioCodec codec;
            uint32_t delay;
            uint32_t frameSize; // 0: the codec ends exactly
        } expected[] = {{AudioCodec::Flac, 0, 0}, {AudioCodec::Vorbis, 0, 0}, {AudioCodec::Aac, 1024, 1024},
            {AudioCodec::Opus, 312, 960}};
        for (const auto& codec : expected) {
            if (codec.codec != row.codec)
                continue;
            EXPECT_EQ(gapless.delay, codec.delay);
            if (codec.frameSize == 0) {
                EXPECT_EQ(gapless.padding, 0u);
                continue;
            }
            EXPECT_LT(gapless.padding, codec.frameSize);
            const std::string packets = Text(
                CommandOutput("ffprobe -v error -select_streams a:0 -show_entries packet=pts -of csv=p=0 '"
                    + file + "' | grep -c '[0-9]'"));
            EXPECT_EQ(
                gapless.delay + gapless.frames + gapless.padding, std::stoull(packets) * codec.frameSize);
        }
    }
}

TEST(AudioEncoderSession, ALongFlacFileHasASeekPointEveryTenSeconds)
{
    TempDir dir;
    const Row row {"FLAC", AudioCodec::Flac, PcmLayout::Int16, 8000, 1, 0, "flac", "", true};
    const int64_t frames = 8000 * 65 + 11;
    const std::vector<int32_t> samples = Tone(row, frames);
    const std::string file = dir.File("long.flac");
    ASSERT_EQ(Encode(row, AsBytes(row, samples), frames, file), "");
    ExpectFlacComplete(file, frames);
    EXPECT_NE(SeekPoints(file).find("point 6: sample_number=480000,"), std::string::npos) << SeekPoints(file);
}

TEST(AudioEncoderSession, AFailedWriteFailsTheSessionWithTheSystemsReason)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.label);
        const int64_t frames = int64_t(row.rate) * 2;
        // Every write to /dev/full fails with "No space left on device", as on a full disk.
        EXPECT_NE(
            Encode(row, AsBytes(row, Tone(row, frames)), frames, "/dev/full").find("No space left on device"),
            std::string::npos);
    }
}

// Ogg files need no seeking, so Opus and Vorbis stream through a pipe. A small pipe and a signal
// for the writing thread before every read cut the writes short or interrupt them before any
// byte went (no SA_RESTART); the file that comes out is still whole.
TEST(AudioEncoderSession, OggFilesStreamThroughAPipeWhoseWritesAreCutShort)
{
    TempDir dir;
    struct sigaction interrupt { };
    interrupt.sa_handler = [](int) {};
    struct sigaction previous { };
    ASSERT_EQ(sigaction(SIGUSR1, &interrupt, &previous), 0);
    for (const Row& row : kRows) {
        if (row.codec != AudioCodec::Opus && row.codec != AudioCodec::Vorbis)
            continue;
        SCOPED_TRACE(row.label);
        const int64_t frames = int64_t(row.rate) * 3 + 5;
        const std::vector<int32_t> samples = Tone(row, frames);
        int ends[2] = {-1, -1};
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        ASSERT_GT(fcntl(ends[1], F_SETPIPE_SZ, 4096), 0);
        const pthread_t writer = pthread_self();
        std::vector<uint8_t> received;
        std::thread reader([&] {
            uint8_t block[1500];
            for (;;) {
                pthread_kill(writer, SIGUSR1);
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                const ssize_t got = read(ends[0], block, sizeof block);
                if (got <= 0)
                    break;
                received.insert(received.end(), block, block + got);
            }
        });
        const std::string reason = EncodeTo(row, AsBytes(row, samples), frames, ends[1]);
        close(ends[1]);
        reader.join();
        close(ends[0]);
        ASSERT_EQ(reason, "");
        const std::string file = dir.File(std::string("piped.") + row.extension);
        WriteBytes(file, received);
        ExpectDecodesTo(row, file, samples);
    }
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST(AudioEncoderSession, SettingsTheCodecCannotTakeAreRefusedWithTheReason)
{
    TempDir dir;
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(pipe(pipeEnds), 0);
    struct Refused {
        AudioEncoderSettings settings;
        const char* reason;
    } refused[] = {
        {SettingsOf(kRows[2], 0), "Opus is encoded at 48000 Hz only, and the audio is at 44100 Hz"},
        {SettingsOf(kRows[0], pipeEnds[1]),
            "a FLAC file must be written to a file that can seek, not to a pipe"},
        {SettingsOf(kRows[5], pipeEnds[1]),
            "an AAC file must be written to a file that can seek, not to a pipe"},
        {SettingsOf(kRows[4], -1), "there is no output file to write to"},
        {SettingsOf(kRows[4], pipeEnds[1]), "11 is not a quality of the Vorbis encoder"},
    };
    refused[0].settings.rate = 44100;
    refused[0].settings.descriptor = pipeEnds[1];
    refused[3].settings.channels = 6;
    refused[3].reason = "6 channels cannot be encoded: one or two can";
    refused[4].settings.quality = 11;
    for (const Refused& row : refused) {
        std::string reason;
        EXPECT_EQ(AudioEncoderSession::Create(row.settings, reason), nullptr);
        EXPECT_EQ(reason, row.reason);
    }
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

} // namespace
