// varkonel-convert, run as a program on generated files and disc images.
#include "audio/ToneStream.h"
#include "cli/BatchConverter.h"
#include "cli/CommandLine.h"
#include "cli/Listing.h"
#include "engine/ConversionJob.h"
#include "engine/SettingsFile.h"
#include "platform/media/MediaFile.h"
#include "support/CdTestDisc.h"
#include "support/LameEncTestHooks.h"
#include "support/MediaFixtures.h"
#include "support/Mp3Decode.h"
#include "support/TestSupport.h"
#include "support/WavBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

fs::path BinFolder()
{
    return fs::read_symlink("/proc/self/exe").parent_path();
}

std::string ReadText(const fs::path& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One run of the program: standard input empty (no terminal), outputs caught in files.
class ToolRun {
public:
    ToolRun(const TempDir& dir, std::vector<std::string> arguments,
        fs::path program = BinFolder() / "varkonel-convert", std::vector<std::string> environment = {})
        : outFile(dir.Path() / ("stdout-" + std::to_string(++runs)))
        , errFile(dir.Path() / ("stderr-" + std::to_string(runs)))
    {
        // Everything the child needs is made before the fork: it only calls exec-safe functions.
        std::vector<char*> argv {const_cast<char*>(program.c_str())};
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<std::string> settings;
        for (char** entry = environ; *entry != nullptr; ++entry)
            settings.emplace_back(*entry);
        settings.insert(settings.end(), environment.begin(), environment.end());
        std::vector<char*> envp;
        for (std::string& setting : settings)
            envp.push_back(setting.data());
        envp.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            const int in = open("/dev/null", O_RDONLY);
            const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
    }

    // The exit status; a run that takes longer than `limitMs` (two minutes unless told) is
    // killed and fails the test.
    int Finish(int limitMs = 120000)
    {
        if (finished)
            return status;
        for (int waited = 0; waited < limitMs; waited += 5) {
            int raw = 0;
            if (waitpid(pid, &raw, WNOHANG) == pid) {
                finished = true;
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        ADD_FAILURE() << "varkonel-convert did not end";
        finished = true;
        return status = -1;
    }

    void Signal(int number) { kill(pid, number); }
    pid_t Pid() const { return pid; }
    std::string Out() { return Finish(), ReadText(outFile); }
    std::string Err() { return Finish(), ReadText(errFile); }

private:
    static inline int runs = 0;
    fs::path outFile;
    fs::path errFile;
    pid_t pid = -1;
    bool finished = false;
    int status = -1;
};

DecodedAudio Decode(const fs::path& file)
{
    DecodedAudio decoded;
    EXPECT_GE(DecodeMediaFile(file.c_str(), decoded), 0) << file;
    return decoded;
}

double Seconds(const DecodedAudio& decoded)
{
    const uint32_t blockAlign = decoded.format.nChannels * 2u;
    return blockAlign == 0
        ? 0.0
        : static_cast<double>(decoded.pcm.size()) / blockAlign / decoded.format.nSamplesPerSec;
}

bool EndsWithTag(const std::vector<uint8_t>& bytes)
{
    return bytes.size() >= 128 && std::string(bytes.end() - 128, bytes.end() - 125) == "TAG";
}

bool Contains(const std::string& text, const std::string& piece)
{
    return text.find(piece) != std::string::npos;
}

TEST(ConvertToolOptions, ReadsEveryFormOfTheOptions)
{
    CommandLine line;
    std::string error;
    ASSERT_TRUE(line.Parse({"-o", "/out", "--bitrate=64KB", "-yq", "-j2", "a.wav", "--", "-b.wav"}, error))
        << error;
    EXPECT_EQ(line.outputDir, "/out/");
    EXPECT_EQ(line.bitrate, "64KB");
    EXPECT_TRUE(line.overwrite);
    EXPECT_TRUE(line.quiet);
    EXPECT_EQ(line.jobs, 2);
    EXPECT_EQ(line.sources, (std::vector<std::string> {"a.wav", "-b.wav"}));

    CommandLine other;
    ASSERT_TRUE(other.Parse({"--list-tracks", "--cd-device", "d.cue", "--output-dir=/x/", "-n"}, error));
    EXPECT_TRUE(other.listTracks);
    EXPECT_EQ(other.cdDevice, "d.cue");
    EXPECT_EQ(other.outputDir, "/x/");
    EXPECT_TRUE(other.noOverwrite);
    EXPECT_EQ(other.jobs, 1);

    for (const std::vector<std::string>& bad :
        std::vector<std::vector<std::string>> {{}, {"-q"}, {"-x", "a.wav"}, {"--jobs", "0", "a.wav"},
            {"-j", "3x", "a.wav"}, {"-j", "-1", "a.wav"}, {"-j", "65", "a.wav"}, {"-y", "-n", "a.wav"},
            {"a.wav", "-o"}, {"--probe=1", "a.wav"}, {"--output-dir=", "a.wav"}}) {
        CommandLine rejected;
        error.clear();
        EXPECT_FALSE(rejected.Parse(bad, error)) << testing::PrintToString(bad);
        EXPECT_FALSE(error.empty());
    }
}

TEST(ConvertToolOptions, DisplayTexts)
{
    EXPECT_EQ(Listing::TimeText(59), "00:59");
    EXPECT_EQ(Listing::TimeText(3725), "62:05");
    EXPECT_EQ(Listing::SizeText(1023), "0 KB");
    EXPECT_EQ(Listing::SizeText(2048), "2 KB");
    EXPECT_EQ(BatchConverter::Clock(125.9), "2:05");
    const std::string line = BatchConverter::ProgressLine("song.wav", 30, 60, "50%", 2.0);
    EXPECT_TRUE(Contains(line, "[##########----------]")) << line;
    EXPECT_TRUE(Contains(line, " 50% ")) << line;
    EXPECT_TRUE(Contains(line, "15.0x")) << line;
    const std::string unknown = BatchConverter::ProgressLine("x.mp3", 3, -1, "", 0.1);
    EXPECT_TRUE(Contains(unknown, "[--------------------]  --%")) << unknown;

    BatchSummary summary;
    summary.converted = 2;
    summary.skipped = 1;
    EXPECT_EQ(summary.ExitStatus(), 0);
    BatchSummary cut = summary;
    cut.interrupted = true; // even when nothing was left to stop
    EXPECT_EQ(cut.ExitStatus(), 1);
    summary.stopped = 1;
    EXPECT_EQ(summary.ExitStatus(), 1);
}

TEST(ConvertTool, UsageErrorsHelpAndVersion)
{
    TempDir dir;
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>> {
             {}, {"--frobnicate", "a.wav"}, {"-j", "0", "a.wav"}, {"-j", "many", "a.wav"}}) {
        ToolRun run(dir, bad);
        EXPECT_EQ(run.Finish(), 2) << testing::PrintToString(bad);
        EXPECT_TRUE(Contains(run.Err(), "--help")) << run.Err();
    }
    ToolRun help(dir, {"--help"});
    EXPECT_EQ(help.Finish(), 0);
    for (const char* spelling : {"-o, --output-dir DIR", "-b, --bitrate TEXT", "-y, --overwrite",
             "-n, --no-overwrite", "-j, --jobs N", "--cd-device PATH", "--list-tracks", "--probe",
             "-q, --quiet", "-v, --verbose", "--help, --version",
             // where the defaults come from: the settings file the window uses
             "$XDG_CONFIG_HOME/varkonel/varkonel.ini", "a varkonel.ini beside this program when it exists"})
        EXPECT_TRUE(Contains(help.Out(), spelling)) << spelling;
    ToolRun version(dir, {"--version"});
    EXPECT_EQ(version.Finish(), 0);
    EXPECT_TRUE(Contains(version.Out(), "varkonel-convert ")) << version.Out();
}

class ConvertToolRun : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(out()); }
    fs::path out() const { return dir.Path() / "out"; }
    std::string Fixture(const std::string& name, const std::string& as)
    {
        fs::copy_file(MediaFixtureNamed(name).Path(), dir.Path() / as);
        return (dir.Path() / as).string();
    }
    TempDir dir;
};

TEST_F(ConvertToolRun, ConvertsEveryDirectionAtTheChosenRate)
{
    const std::string song = WriteToneWav(dir.Path() / "Song.WAV", 44100, 2, 2.0);
    const std::string tune = Fixture("mono-22050-cbr.mp3", "tune.mp3");
    const std::string talk = Fixture("stereo-22050-v2.wma", "talk.wma");
    CdTestDisc disc(dir.Path(), {{true, 75}, {false, 150}, {false, 225}});
    ToolRun run(dir,
        {"-b", "64KB", "-c", "mono", "-o", out().string(), "--cd-device", disc.cuePath, song, tune, talk,
            "Track-01"});
    ASSERT_EQ(run.Finish(), 0) << run.Err();
    EXPECT_EQ(run.Out(), "");
    EXPECT_EQ(run.Err(), ""); // not a terminal: nothing but errors

    const DecodedAudio songMp3 = Decode(out() / "Song.mp3");
    EXPECT_EQ(songMp3.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(songMp3.format.nChannels, 1);
    EXPECT_NEAR(Seconds(songMp3), 2.0, 0.1);
    EXPECT_TRUE(EndsWithTag(ReadBytes(out() / "Song.mp3")));

    const auto tuneWav = ReadBytes(out() / "tune.wav");
    ASSERT_GE(tuneWav.size(), 44u);
    EXPECT_EQ(Le32(tuneWav, 24), 44100u);
    EXPECT_EQ(Le16(tuneWav, 22), 1);
    EXPECT_EQ(Le32(tuneWav, 40), tuneWav.size() - 44);
    EXPECT_NEAR((tuneWav.size() - 44) / 2.0 / 44100, MediaFixtureNamed("mono-22050-cbr.mp3").Seconds(), 0.1);

    EXPECT_NEAR(
        Seconds(Decode(out() / "talk.mp3")), MediaFixtureNamed("stereo-22050-v2.wma").Seconds(), 0.15);
    EXPECT_NEAR(Seconds(Decode(out() / "Track-01.mp3")), 3.0, 0.1); // the second audio track: 225 frames

    // The same engine: a job run here gives the very bytes the tool wrote.
    EncoderSet encoders;
    ConversionJob job(44100, encoders);
    job.sourceName = song;
    job.targetName = "Song.mp3";
    job.outputDir = dir.Path().string() + "/";
    ASSERT_EQ(job.Start(nullptr, false), ConversionJob::StartResult::Started);
    job.Wait();
    EXPECT_EQ(ReadBytes(dir.Path() / "Song.mp3"), ReadBytes(out() / "Song.mp3"));
}

// The channel mode and bitrate the first frame header of an MP3 file states.
struct FrameHeader {
    int mode = -1; // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int kbps = 0;
};

FrameHeader FirstFrame(const std::vector<uint8_t>& bytes)
{
    static const int mpeg1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int mpeg2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    for (size_t i = Id3v2Size(bytes.data(), bytes.size()); i + 4 <= bytes.size(); ++i) {
        if (bytes[i] != 0xFF || (bytes[i + 1] & 0xE0) != 0xE0)
            continue;
        const int index = bytes[i + 2] >> 4;
        if (index == 0 || index == 15)
            continue;
        const bool isMpeg1 = (bytes[i + 1] & 0x18) == 0x18;
        return {bytes[i + 3] >> 6, isMpeg1 ? mpeg1[index] : mpeg2[index]};
    }
    return {};
}

// Root mean square of one channel of 16-bit interleaved PCM.
double ChannelRms(const DecodedAudio& decoded, int channel)
{
    const size_t channels = decoded.format.nChannels;
    const std::vector<int16_t> samples
        = AsSamples16(reinterpret_cast<const char*>(decoded.pcm.data()), decoded.pcm.size());
    double sum = 0.0;
    size_t count = 0;
    for (size_t k = static_cast<size_t>(channel); k < samples.size(); k += channels, ++count)
        sum += double(samples[k]) * samples[k];
    return count == 0 ? 0.0 : std::sqrt(sum / count);
}

// Stereo keeps left and right apart and the bitrate is the one chosen, not twice it; mono is
// what it always was. MP3 -> WAV follows the setting as well.
TEST_F(ConvertToolRun, TheChannelSettingGivesMonoOrJointStereoAtTheChosenBitrate)
{
    // A tone on the left only.
    std::vector<int16_t> samples;
    for (int k = 0; k < 44100 * 2; ++k) {
        samples.push_back(static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440 * k / 44100.0)));
        samples.push_back(0);
    }
    WriteBytes(dir.Path() / "left.wav", CanonicalWave(PcmFormat(2, 44100, 16), Samples16(samples)));
    const struct {
        const char* channels;
        int mode;
        uint16_t count;
    } cases[] = {{"stereo", 1, 2}, {"STEREO", 1, 2}, {"mono", 3, 1}};
    for (const auto& c : cases) {
        fs::remove_all(out());
        fs::create_directory(out());
        ToolRun run(dir,
            {"-b", "64KB", "-c", c.channels, "-y", "-o", out().string(), (dir.Path() / "left.wav").string()});
        ASSERT_EQ(run.Finish(), 0) << run.Err();
        const FrameHeader header = FirstFrame(ReadBytes(out() / "left.mp3"));
        EXPECT_EQ(header.mode, c.mode) << c.channels;
        EXPECT_EQ(header.kbps, 64) << c.channels;
        const DecodedAudio mp3 = Decode(out() / "left.mp3");
        ASSERT_EQ(mp3.format.nChannels, c.count) << c.channels;
        EXPECT_NEAR(Seconds(mp3), 2.0, 0.1) << c.channels;
        if (c.count == 2) {
            EXPECT_GT(ChannelRms(mp3, 0), 5000.0);
            EXPECT_LT(ChannelRms(mp3, 1), ChannelRms(mp3, 0) / 100) << "the right channel stays silent";
        }

        // Back to WAV with the same setting.
        fs::rename(out() / "left.mp3", dir.Path() / "back.mp3");
        ToolRun back(dir,
            {"-b", "64KB", "-c", c.channels, "-y", "-o", out().string(), (dir.Path() / "back.mp3").string()});
        ASSERT_EQ(back.Finish(), 0) << back.Err();
        const auto wav = ReadBytes(out() / "back.wav");
        ASSERT_GE(wav.size(), 44u);
        EXPECT_EQ(Le16(wav, 22), c.count) << c.channels;
        EXPECT_EQ(Le16(wav, 32), 2 * c.count) << c.channels;
        EXPECT_NEAR((wav.size() - 44) / (2.0 * c.count * 44100), 2.0, 0.1) << c.channels;
    }
    ToolRun wrong(dir, {"-c", "quad", (dir.Path() / "left.wav").string()});
    EXPECT_EQ(wrong.Finish(), 2);
    EXPECT_TRUE(Contains(wrong.Err(), "-c takes mono or stereo")) << wrong.Err();
}

// The full path of a program found on PATH; empty when there is none.
std::string FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return {};
}

// The average of the channels of decoded 16-bit audio.
std::vector<double> MonoOf(const DecodedAudio& decoded)
{
    const size_t channels = std::max<size_t>(decoded.format.nChannels, 1);
    const std::vector<int16_t> samples
        = AsSamples16(reinterpret_cast<const char*>(decoded.pcm.data()), decoded.pcm.size());
    std::vector<double> mono(samples.size() / channels, 0.0);
    for (size_t k = 0; k < mono.size() * channels; ++k)
        mono[k / channels] += samples[k] / static_cast<double>(channels);
    return mono;
}

// The highest normalised correlation of `reference` over [from, from + span) with `signal`
// shifted by up to `radius` samples either way: 1 for the same waveform at any gain.
double BestCorrelation(const std::vector<double>& reference, const std::vector<double>& signal, size_t from,
    size_t span, long radius)
{
    if (from + span > reference.size())
        return 0.0;
    double referenceEnergy = 0.0;
    for (size_t i = from; i < from + span; ++i)
        referenceEnergy += reference[i] * reference[i];
    double best = 0.0;
    for (long lag = -radius; lag <= radius; ++lag) {
        const long start = static_cast<long>(from) + lag;
        if (start < 0 || static_cast<size_t>(start) + span > signal.size())
            continue;
        double product = 0.0;
        double energy = 0.0;
        for (size_t i = 0; i < span; ++i) {
            const double s = signal[static_cast<size_t>(start) + i];
            product += reference[from + i] * s;
            energy += s * s;
        }
        if (energy > 0.0 && referenceEnergy > 0.0)
            best = std::max(best, product / std::sqrt(referenceEnergy * energy));
    }
    return best;
}

// Sources of the other compressed types go through the media reader to MP3, named after the
// source with its whole extension replaced: each lasts as long as its source and sounds as
// ffmpeg's own decode of the source does (a rising tone, so that only the right alignment fits).
// --probe lists them with their play time. A file of such a name that holds no audio fails with
// its reason, and nothing is written for it.
TEST_F(ConvertToolRun, OtherCompressedTypesConvertToMp3AsFfmpegDecodesThem)
{
    const std::string ffmpeg = FindProgram("ffmpeg");
    ASSERT_FALSE(ffmpeg.empty()) << "ffmpeg is not installed (scripts/deps/media.txt)";
    ToolRun listing(dir, {"-hide_banner", "-encoders"}, ffmpeg);
    ASSERT_EQ(listing.Finish(), 0) << listing.Err();
    const struct {
        const char* name;
        const char* encoder; // ffmpeg's encoder for the file's codec
    } rows[] = {{"a.flac", "flac"}, {"b.ogg", "libvorbis"}, {"c.oga", "flac"}, {"d.Opus", "libopus"},
        {"e.m4a", "aac"}, {"f.aac", "aac"}, {"g.aif", "pcm_s16be"}, {"h.AIFF", "pcm_s24be"},
        {"i.aifc", "pcm_f32be"}, {"j.au", "pcm_mulaw"}, {"k.ape", "ape"}, {"l.wv", "wavpack"},
        {"m.mka", "libvorbis"}};
    constexpr double kSeconds = 2.5;
    std::vector<std::string> names;
    std::vector<std::string> make {"-v", "error", "-f", "lavfi", "-i",
        "aevalsrc=0.5*sin(2*PI*(300*t+400*t*t)):s=44100:d=" + std::to_string(kSeconds)};
    for (const auto& row : rows) {
        if (!Contains(listing.Out(), std::string(" ") + row.encoder + " ")) {
            std::cout << "[ SKIPPED  ] " << row.name << ": ffmpeg has no " << row.encoder << " encoder\n";
            continue;
        }
        names.push_back(row.name);
        make.insert(make.end(), {"-c:a", row.encoder, (dir.Path() / row.name).string()});
    }
    if (names.empty())
        GTEST_SKIP() << "ffmpeg encodes none of the types";
    ToolRun made(dir, make, ffmpeg);
    ASSERT_EQ(made.Finish(), 0) << made.Err();

    std::vector<std::string> convert {"-y", "-j", "6", "-b", "64KB", "-o", out().string()};
    std::vector<std::string> probe {"--probe"};
    std::vector<std::string> reference {"-v", "error"};
    for (size_t k = 0; k < names.size(); ++k) {
        const std::string source = (dir.Path() / names[k]).string();
        convert.push_back(source);
        probe.push_back(source);
        reference.insert(reference.end(), {"-i", source});
    }
    for (size_t k = 0; k < names.size(); ++k)
        reference.insert(reference.end(),
            {"-map", std::to_string(k) + ":a", "-ac", "1", "-ar", "44100", "-f", "s16le",
                (dir.Path() / (names[k] + ".s16")).string()});
    ToolRun run(dir, convert);
    ToolRun listed(dir, probe);
    ToolRun decoded(dir, reference, ffmpeg);
    ASSERT_EQ(run.Finish(), 0) << run.Err();
    ASSERT_EQ(listed.Finish(), 0) << listed.Err();
    ASSERT_EQ(decoded.Finish(), 0) << decoded.Err();

    for (const std::string& name : names) {
        EXPECT_TRUE(Contains(listed.Out(), name + "\t00:02\t")) << listed.Out();
        const fs::path target = out() / (name.substr(0, name.find('.')) + ".mp3");
        ASSERT_TRUE(fs::exists(target)) << name;
        const DecodedAudio mp3 = Decode(target);
        EXPECT_EQ(mp3.format.nSamplesPerSec, 44100u) << name;
        EXPECT_NEAR(Seconds(mp3), kSeconds, 0.1) << name;
        std::vector<double> expected;
        for (int16_t sample : AsSamples(ReadBytes(dir.Path() / (name + ".s16"))))
            expected.push_back(sample);
        // A quarter of a second from the middle, found within 50 ms of where it belongs: the MP3
        // encoder's delay (about 25 ms) stays in front of the audio.
        EXPECT_GT(BestCorrelation(expected, MonoOf(mp3), 44100, 11025, 2205), 0.99) << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(out()), fs::directory_iterator()),
        static_cast<std::ptrdiff_t>(names.size()));

    // Random bytes under a FLAC name and a text under an Ogg name.
    std::vector<uint8_t> noise(40000);
    uint32_t state = 12345;
    for (uint8_t& byte : noise)
        byte = static_cast<uint8_t>((state = state * 1103515245u + 12345u) >> 24);
    const fs::path noiseFlac = dir.Path() / "noise.flac";
    const fs::path textOgg = dir.Path() / "text.ogg";
    WriteBytes(noiseFlac, noise);
    WriteBytes(textOgg, {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o', '\n'});
    ToolRun bad(dir, {"-y", "-o", out().string(), noiseFlac.string(), textOgg.string()});
    EXPECT_EQ(bad.Finish(), 1);
    for (const fs::path& source : {noiseFlac, textOgg}) {
        const std::string opened = source.string() + ": can not open source file!\n" + source.string() + ": ";
        EXPECT_TRUE(Contains(bad.Err(), opened + "no audio that can be decoded")
            || Contains(bad.Err(), opened + "not a media file that can be read"))
            << bad.Err();
    }
    EXPECT_FALSE(fs::exists(out() / "noise.mp3"));
    EXPECT_FALSE(fs::exists(out() / "text.mp3"));
}

// A 5.1 source of full-scale tones is mixed down to mono or stereo without clipping.
TEST_F(ConvertToolRun, FullScaleSurroundIsMixedDownWithoutClipping)
{
    const std::string ffmpeg = FindProgram("ffmpeg");
    ASSERT_FALSE(ffmpeg.empty()) << "ffmpeg is not installed (scripts/deps/media.txt)";
    const std::string source = (dir.Path() / "surround.flac").string();
    ToolRun made(dir,
        {"-v", "error", "-f", "lavfi", "-i",
            "aevalsrc=sin(2*PI*220*t)|sin(2*PI*330*t)|sin(2*PI*440*t)|sin(2*PI*55*t)|sin(2*PI*550*t)|"
            "sin(2*PI*660*t):s=44100:d=2:c=5.1",
            "-c:a", "flac", source},
        ffmpeg);
    ASSERT_EQ(made.Finish(), 0) << made.Err();
    for (const auto& [mode, channels] : {std::pair {"mono", 1}, std::pair {"stereo", 2}}) {
        ToolRun run(dir, {"-y", "-c", mode, "-b", "64KB", "-o", out().string(), source});
        ASSERT_EQ(run.Finish(), 0) << run.Err();
        const DecodedAudio mp3 = Decode(out() / "surround.mp3");
        ASSERT_EQ(mp3.format.nChannels, channels) << mode;
        EXPECT_NEAR(Seconds(mp3), 2.0, 0.1) << mode;
        int peak = 0;
        for (int16_t sample : AsSamples16(reinterpret_cast<const char*>(mp3.pcm.data()), mp3.pcm.size()))
            peak = std::max(peak, std::abs(int {sample}));
        EXPECT_LT(peak, 32767) << mode;
        for (int channel = 0; channel < channels; ++channel)
            EXPECT_GT(ChannelRms(mp3, channel), 0.15 * 32768) << mode << " channel " << channel;
    }
}

// WAV -> MP3 -> WAV keeps every sample: the MP3 states its encoder delay and padding, ffmpeg
// decodes it to exactly the source's samples with a click where it was, and our own MP3 reader
// gives back a WAV of the same length. Sources are at the output rate of the bitrate setting.
TEST_F(ConvertToolRun, WavThroughMp3AndBackKeepsTheSampleCount)
{
    const std::string ffmpeg = FindProgram("ffmpeg");
    ASSERT_FALSE(ffmpeg.empty()) << "ffmpeg is not installed (scripts/deps/media.txt)";
    const struct {
        const char* bitrate;
        uint32_t rate;
        const char* mode;
        uint16_t channels;
    } rows[] = {{"32KB", 22050, "mono", 1}, {"32KB", 22050, "stereo", 2}, {"64KB", 44100, "mono", 1},
        {"64KB", 44100, "stereo", 2}};
    for (const auto& row : rows) {
        const std::string group = std::string(row.bitrate) + "-" + row.mode;
        const fs::path sources = dir.Path() / group;
        const fs::path mp3s = out() / group;
        const fs::path wavs = out() / (group + "-wav");
        for (const fs::path& folder : {sources, mp3s, wavs})
            fs::create_directory(folder);
        const size_t lengths[] = {row.rate, size_t {row.rate} + 1};
        std::vector<std::string> toMp3 {"-y", "-q", "-b", row.bitrate, "-c", row.mode, "-o", mp3s.string()};
        std::vector<std::string> toWav {"-y", "-q", "-b", row.bitrate, "-c", row.mode, "-o", wavs.string()};
        for (size_t frames : lengths) {
            const std::string name = std::to_string(frames);
            std::vector<int16_t> samples(frames * row.channels, 0);
            for (uint16_t c = 0; c < row.channels; ++c)
                samples[(frames / 3) * row.channels + c] = 32767; // the click
            WriteBytes(sources / (name + ".wav"),
                CanonicalWave(PcmFormat(row.channels, row.rate, 16), Samples16(samples)));
            toMp3.push_back((sources / (name + ".wav")).string());
            toWav.push_back((mp3s / (name + ".mp3")).string());
        }
        ToolRun encode(dir, toMp3);
        ASSERT_EQ(encode.Finish(), 0) << group << encode.Err();
        ToolRun decode(dir, toWav);
        ASSERT_EQ(decode.Finish(), 0) << group << decode.Err();
        for (size_t frames : lengths) {
            const std::string label = group + ", " + std::to_string(frames) + " samples";
            const fs::path mp3 = mp3s / (std::to_string(frames) + ".mp3");
            const fs::path pcm = dir.Path() / (group + std::to_string(frames) + ".s16");
            ToolRun peer(dir, {"-v", "error", "-i", mp3.string(), "-f", "s16le", pcm.string()}, ffmpeg);
            ASSERT_EQ(peer.Finish(), 0) << label << peer.Err();
            const std::vector<int16_t> decoded = AsSamples(ReadBytes(pcm));
            EXPECT_EQ(decoded.size(), frames * row.channels) << label;
            size_t loudest = 0;
            for (size_t i = 0; i < decoded.size() / row.channels; ++i) {
                if (std::abs(decoded[i * row.channels]) > std::abs(decoded[loudest * row.channels]))
                    loudest = i;
            }
            EXPECT_LE(std::max(loudest, frames / 3) - std::min(loudest, frames / 3), 1u) << label;
            const std::vector<uint8_t> wav = ReadBytes(wavs / (std::to_string(frames) + ".wav"));
            ASSERT_GE(wav.size(), 44u) << label;
            EXPECT_EQ(Le32(wav, 24), row.rate) << label;
            EXPECT_EQ(Le16(wav, 22), row.channels) << label;
            EXPECT_EQ(Le32(wav, 40), frames * row.channels * 2) << label;
            EXPECT_EQ(wav.size(), 44 + frames * row.channels * 2) << label;
        }
    }
}

TEST_F(ConvertToolRun, ParallelJobsWriteTheSameBytes)
{
    std::vector<std::string> sources;
    for (int k = 0; k < 3; ++k)
        sources.push_back(
            WriteToneWav(dir.Path() / ("s" + std::to_string(k) + ".wav"), 44100, 2, 3.0, 300.0 + 100 * k));
    sources.push_back(Fixture("stereo-44100-vbr-id3.mp3", "v.mp3"));
    sources.push_back(Fixture("mono-16000-v1.WMA", "w.WMA"));
    // Both runs write into the same folder: the MP3 tag holds the start of the output path.
    std::vector<std::string> one {"-q", "-o", out().string()};
    std::vector<std::string> two {"-y", "-j", "2", "-o", out().string()};
    one.insert(one.end(), sources.begin(), sources.end());
    two.insert(two.end(), sources.begin(), sources.end());
    const std::vector<std::string> names {"s0.mp3", "s1.mp3", "s2.mp3", "v.wav", "w.mp3"};
    ToolRun first(dir, one);
    ASSERT_EQ(first.Finish(), 0) << first.Err();
    std::vector<std::vector<uint8_t>> sequential;
    for (const std::string& name : names) {
        sequential.push_back(ReadBytes(out() / name));
        fs::remove(out() / name);
    }
    ToolRun second(dir, two);
    ASSERT_EQ(second.Finish(), 0) << second.Err();
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_GT(sequential[i].size(), 1000u) << names[i];
        EXPECT_EQ(sequential[i], ReadBytes(out() / names[i])) << names[i];
    }
    EXPECT_NE(sequential[0], sequential[1]);
}

// The files a process has open, by path.
std::vector<fs::path> OpenFiles(pid_t pid)
{
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const fs::path target = fs::read_symlink(entry.path(), error);
        if (!error)
            files.push_back(target);
    }
    return files;
}

// "-j 2" runs two files at the same time: at some moment both sources are open at once.
TEST_F(ConvertToolRun, TwoJobsRunAtTheSameTime)
{
    const fs::path first = fs::canonical(WriteSparseWav(dir.Path() / "first.wav", 3 * 3600.0));
    const fs::path second = fs::canonical(WriteSparseWav(dir.Path() / "second.wav", 3 * 3600.0));
    ToolRun run(dir, {"-q", "-j", "2", "-o", out().string(), first.string(), second.string()});
    bool together = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!together && std::chrono::steady_clock::now() < deadline) {
        const std::vector<fs::path> open = OpenFiles(run.Pid());
        together = std::count(open.begin(), open.end(), first) > 0
            && std::count(open.begin(), open.end(), second) > 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.Signal(SIGINT);
    EXPECT_EQ(run.Finish(), 1);
    EXPECT_TRUE(together) << "the two sources were never open at the same time";
}

// A batch of short files goes from one file to the next as soon as a job ends: neither a wait
// for the progress display (200 ms) nor a job end that goes unnoticed until then comes between
// them. Twenty files would take 4 s that way; each takes some 20 ms of work.
TEST_F(ConvertToolRun, ShortFilesFollowOneAnotherWithoutWaiting)
{
    std::vector<std::string> arguments {"-q", "-j", "1", "-c", "mono", "-o", out().string()};
    constexpr int kFiles = 20;
    for (int k = 0; k < kFiles; ++k)
        arguments.push_back(WriteToneWav(dir.Path() / ("t" + std::to_string(k) + ".wav"), 44100, 2, 0.05));
    const auto start = std::chrono::steady_clock::now();
    ToolRun run(dir, arguments);
    ASSERT_EQ(run.Finish(), 0) << run.Err();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kFiles * 200 * 3 / 4));
    for (int k = 0; k < kFiles; ++k)
        EXPECT_TRUE(fs::exists(out() / ("t" + std::to_string(k) + ".mp3"))) << k;
}

TEST_F(ConvertToolRun, ExistingOutputsAreKeptUnlessOverwriteIsAsked)
{
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 22050, 1, 1.0);
    const std::vector<uint8_t> old {1, 2, 3};
    WriteBytes(out() / "song.mp3", old);

    ToolRun never(dir, {"-n", "-o", out().string(), song});
    EXPECT_EQ(never.Finish(), 0) << never.Err();
    EXPECT_EQ(ReadBytes(out() / "song.mp3"), old);

    ToolRun unasked(dir, {"-o", out().string(), song});
    EXPECT_EQ(unasked.Finish(), 1);
    EXPECT_TRUE(Contains(unasked.Err(), "song.wav: the output file has existed, overwrite it? [y/N] no"))
        << unasked.Err();
    EXPECT_EQ(ReadBytes(out() / "song.mp3"), old);

    ToolRun always(dir, {"-y", "-o", out().string(), song});
    EXPECT_EQ(always.Finish(), 0) << always.Err();
    EXPECT_NEAR(Seconds(Decode(out() / "song.mp3")), 1.0, 0.1);
}

TEST_F(ConvertToolRun, BadSourcesFailCleanlyAndTheOthersAreStillConverted)
{
    const std::string good = WriteToneWav(dir.Path() / "good.wav", 22050, 1, 1.0);
    WriteBytes(dir.Path() / "broken.wav", {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0x7F, 'W', 'A', 'V', 'E'});
    WriteBytes(dir.Path() / "noise.mp3", std::vector<uint8_t>(3000, 0x5A));
    WriteBytes(dir.Path() / "notes.txt", {'h', 'i'});
    fs::create_directory(dir.Path() / "again");
    const std::string twin = WriteToneWav(dir.Path() / "again" / "good.wav", 22050, 1, 1.0);
    ToolRun run(dir,
        {"-o", out().string(), (dir.Path() / "broken.wav").string(), (dir.Path() / "noise.mp3").string(),
            (dir.Path() / "notes.txt").string(), good, twin, (dir.Path() / "missing.wav").string()});
    EXPECT_EQ(run.Finish(), 1);
    const std::string errors = run.Err();
    EXPECT_TRUE(Contains(errors, "broken.wav: can not open source file!")) << errors;
    EXPECT_TRUE(Contains(errors, "noise.mp3: can not open source file!")) << errors;
    EXPECT_TRUE(Contains(errors, "missing.wav: can not open source file!")) << errors;
    EXPECT_TRUE(Contains(errors, "notes.txt: Unknow audio file!\nMixer has emptyed, there will be an error."))
        << errors;
    EXPECT_TRUE(Contains(errors, "is also the output of")) << errors; // the second good.wav
    EXPECT_NEAR(Seconds(Decode(out() / "good.mp3")), 1.0, 0.1);
    EXPECT_EQ(std::distance(fs::directory_iterator(out()), fs::directory_iterator()), 1);

    // A FIFO is refused at once instead of waiting for a writer; a format nothing converts is
    // refused with its reason before the output is touched.
    ASSERT_EQ(mkfifo((dir.Path() / "pipe.wav").c_str(), 0644), 0);
    WAVEFORMATEX silent = PcmFormat(2, 44100, 16);
    silent.nChannels = 0;
    WriteBytes(dir.Path() / "silent.wav", CanonicalWave(silent, std::vector<uint8_t>(4000, 1)));
    WriteBytes(out() / "silent.mp3", {7});
    ToolRun refused(dir,
        {"-y", "-o", out().string(), (dir.Path() / "pipe.wav").string(),
            (dir.Path() / "silent.wav").string()});
    EXPECT_EQ(refused.Finish(10000), 1);
    EXPECT_TRUE(Contains(refused.Err(), "pipe.wav: not a regular file (a FIFO)")) << refused.Err();
    EXPECT_TRUE(Contains(refused.Err(), "silent.wav: format not supported: 0 channels")) << refused.Err();
    EXPECT_EQ(ReadBytes(out() / "silent.mp3"), std::vector<uint8_t> {7});
    EXPECT_FALSE(fs::exists(out() / "pipe.mp3"));

    ToolRun nowhere(dir, {"-o", (dir.Path() / "no-such-folder").string(), good});
    EXPECT_EQ(nowhere.Finish(), 1);
    EXPECT_TRUE(Contains(nowhere.Err(), "does not exist")) << nowhere.Err();

    // An output that is another source of the same run would be read while it is written.
    const std::string a = WriteToneWav(dir.Path() / "a.wav", 22050, 1, 0.5);
    WriteBytes(dir.Path() / "a.mp3", {9});
    ToolRun clash(dir, {"-y", "-o", dir.Path().string(), a, (dir.Path() / "a.mp3").string()});
    EXPECT_EQ(clash.Finish(), 1);
    EXPECT_TRUE(Contains(clash.Err(), "is the source")) << clash.Err();
    EXPECT_EQ(ReadBytes(dir.Path() / "a.mp3"), std::vector<uint8_t> {9});
}

// A folder stands for the audio files beneath it, at any depth; one with none is named.
TEST_F(ConvertToolRun, AFolderGivesTheAudioFilesBeneathIt)
{
    const fs::path music = dir.Path() / "music";
    fs::create_directories(music / "Artist" / "Album 10");
    fs::create_directories(music / "Artist" / "Album 9");
    fs::create_directories(dir.Path() / "empty");
    WriteToneWav(music / "Artist" / "Album 10" / "b.wav", 22050, 1, 0.3);
    WriteToneWav(music / "Artist" / "Album 9" / "a.wav", 22050, 1, 0.3);
    WriteBytes(music / "notes.txt", {'h', 'i'});
    ToolRun run(dir, {"-o", out().string(), music.string(), (dir.Path() / "empty").string()});
    EXPECT_EQ(run.Finish(), 1);
    EXPECT_TRUE(Contains(run.Err(), "empty: holds no audio file that can be converted")) << run.Err();
    EXPECT_FALSE(Contains(run.Err(), "notes.txt")) << run.Err();
    EXPECT_TRUE(fs::exists(out() / "a.mp3"));
    EXPECT_TRUE(fs::exists(out() / "b.mp3"));
}

// A short FLAC source tagged by ffmpeg (title, artist, album artist, album, track), for names
// made from tags.
fs::path TaggedFlac(const fs::path& file, const std::string& title, const std::string& album, int track)
{
    fs::create_directories(file.parent_path());
    const auto quoted = [](const std::string& text) {
        std::string out = "'";
        for (char c : text)
            out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    CommandOutput("ffmpeg -nostdin -v error -f lavfi -i sine=f=440:d=0.3 -metadata title=" + quoted(title)
        + " -metadata artist=Band -metadata album_artist=Band -metadata album=" + quoted(album)
        + " -metadata track=" + std::to_string(track) + " " + quoted(file.string()));
    return file;
}

// Each layout over one small tree: where every output lands, and that names from tags stay
// inside the output folder whatever the tags hold.
TEST_F(ConvertToolRun, LayoutsPlaceATreeOfSources)
{
    const fs::path music = dir.Path() / "music";
    TaggedFlac(music / "A" / "X" / "01 Intro.flac", "Intro", "First", 1);
    TaggedFlac(music / "B" / "Y" / "01 Intro.flac", "../../..", "Se\x01" "cond/..", 2);
    TaggedFlac(music / "B" / "Y" / "02 Long.flac", std::string(300, 'e') + "\xc3\xa9", "Second", 3);
    const fs::path alone = TaggedFlac(dir.Path() / "alone.flac", "Alone", "", 0);
    const std::string extreme = std::string(233, 'e'); // "03 " and ".wav" make 240 bytes
    struct Row {
        const char* layout;
        int status;
        std::vector<fs::path> outputs; // below the output folder; for beside, below the test folder
    } rows[] = {
        {"flat", 1, {"01 Intro.wav", "02 Long.wav", "alone.wav"}},
        {"mirror", 0, {"A/X/01 Intro.wav", "B/Y/01 Intro.wav", "B/Y/02 Long.wav", "alone.wav"}},
        {"beside", 0, {"music/A/X/01 Intro.wav", "music/B/Y/01 Intro.wav", "music/B/Y/02 Long.wav", "alone.wav"}},
        {"tags", 0,
            {"Band/First/01 Intro.wav", "Band/Second-/02 ..-..-.wav", "Band/Second/03 " + extreme + ".wav",
                "Band/Unknown Album/Alone.wav"}},
    };
    for (const Row& row : rows) {
        fs::remove_all(out());
        fs::create_directories(out());
        std::vector<std::string> arguments {"-q", "-f", "wav", "--layout", row.layout, music.string(), alone.string()};
        if (std::string(row.layout) != "beside")
            arguments.insert(arguments.begin(), {"-o", out().string()});
        ToolRun run(dir, arguments);
        EXPECT_EQ(run.Finish(), row.status) << row.layout << "\n" << run.Err();
        const fs::path root = std::string(row.layout) == "beside" ? dir.Path() : out();
        std::vector<fs::path> found;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.path().extension() == ".wav")
                found.push_back(entry.path().lexically_relative(root));
        }
        std::sort(found.begin(), found.end());
        std::vector<fs::path> expected = row.outputs;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected) << row.layout;
        for (const fs::path& output : found)
            fs::remove(root / output);
    }
}

// A link inside the output folder never takes an output elsewhere; two sources named alike by
// their tags are refused before either is written.
TEST_F(ConvertToolRun, NamesFromTagsStayInsideAndNeverClash)
{
    const fs::path music = dir.Path() / "music";
    TaggedFlac(music / "a.flac", "Same", "Album", 1);
    TaggedFlac(music / "b.flac", "Same", "Album", 1);
    TaggedFlac(music / "c.flac", "Other", "Elsewhere", 1);
    fs::create_directories(dir.Path() / "away");
    fs::create_directories(out() / "Band");
    fs::create_directory_symlink(dir.Path() / "away", out() / "Band" / "Elsewhere");
    ToolRun run(dir, {"-q", "-f", "wav", "--name", "{artist}/{album}/{title}", "-o", out().string(), music.string()});
    EXPECT_EQ(run.Finish(), 1);
    EXPECT_TRUE(fs::exists(out() / "Band" / "Album" / "Same.wav"));
    EXPECT_TRUE(Contains(run.Err(), "b.flac: the output")) << run.Err();
    EXPECT_TRUE(Contains(run.Err(), "is also the output of")) << run.Err();
    EXPECT_TRUE(Contains(run.Err(), "outside the output folder")) << run.Err();
    EXPECT_TRUE(fs::is_empty(dir.Path() / "away"));
}

// Re-runs: an output newer than its source is left alone, an older or empty one is made again;
// covers go along once and never over a different file.
TEST_F(ConvertToolRun, ReRunsSkipWhatIsUpToDateAndCopyCoversOnce)
{
    const fs::path music = dir.Path() / "music" / "Album";
    for (const char* name : {"newer", "older", "empty"})
        TaggedFlac(music / (std::string(name) + ".flac"), name, "Album", 1);
    WriteBytes(music / "Cover.JPG", {1, 2, 3});
    WriteBytes(music / "folder.png", {4, 5, 6});
    fs::create_directories(out() / "Album");
    WriteBytes(out() / "Album" / "folder.png", {7});
    const std::vector<std::string> arguments {"-q", "-y", "-f", "wav", "--layout", "mirror", "--copy-covers",
        "--skip-up-to-date", "-o", out().string(), (dir.Path() / "music").string()};
    ToolRun first(dir, arguments);
    EXPECT_EQ(first.Finish(), 0) << first.Err();
    EXPECT_EQ(ReadBytes(out() / "Album" / "Cover.JPG"), (std::vector<uint8_t> {1, 2, 3}));
    EXPECT_EQ(ReadBytes(out() / "Album" / "folder.png"), std::vector<uint8_t> {7});

    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const char* name : {"newer", "older", "empty"})
        fs::last_write_time(music / (std::string(name) + ".flac"), past);
    fs::last_write_time(out() / "Album" / "older.wav", past - std::chrono::hours(1));
    fs::resize_file(out() / "Album" / "empty.wav", 0);
    const auto newerTime = fs::last_write_time(out() / "Album" / "newer.wav");
    ToolRun again(dir, arguments);
    EXPECT_EQ(again.Finish(), 0) << again.Err();
    EXPECT_EQ(fs::last_write_time(out() / "Album" / "newer.wav"), newerTime);
    EXPECT_GT(fs::last_write_time(out() / "Album" / "older.wav"), past);
    EXPECT_GT(fs::file_size(out() / "Album" / "empty.wav"), 44u);
}

TEST_F(ConvertToolRun, ProbeListsAsTheWindowDoesAndConvertsNothing)
{
    const std::string song = WriteToneWav(dir.Path() / "Song.wav", 8000, 1, 61.5);
    const std::string tune = Fixture("mono-22050-cbr.mp3", "tune.mp3");
    const std::string relative = fs::relative(song).string();
    ToolRun run(dir, {"--probe", "-o", out().string(), relative, tune});
    ASSERT_EQ(run.Finish(), 0) << run.Err();
    const auto tuneSeconds = static_cast<int>(MediaFixtureNamed("mono-22050-cbr.mp3").Seconds());
    char tuneTime[16];
    std::snprintf(tuneTime, sizeof tuneTime, "%02d:%02d", tuneSeconds / 60, tuneSeconds % 60);
    EXPECT_EQ(run.Out(),
        "Song.wav\t01:01\t" + std::to_string(fs::file_size(song) / 1024) + " KB\t" + song + "\tSong\n"
            + "tune.mp3\t" + tuneTime + "\t" + std::to_string(fs::file_size(tune) / 1024) + " KB\t" + tune
            + "\t-\n");
    EXPECT_TRUE(fs::is_empty(out()));

    WriteBytes(dir.Path() / "bad.wav", {'R', 'I', 'F', 'F'});
    ToolRun bad(dir, {"--probe", (dir.Path() / "bad.wav").string(), (dir.Path() / "gone.mp3").string()});
    EXPECT_EQ(bad.Finish(), 1);
    EXPECT_TRUE(Contains(bad.Out(), "bad.wav\t--:--\t0 KB\t")) << bad.Out();
    EXPECT_TRUE(Contains(bad.Err(), "gone.mp3: cannot be read")) << bad.Err();
}

TEST_F(ConvertToolRun, ListsTheAudioTracksOfADiscImage)
{
    CdTestDisc disc(dir.Path(), {{true, 300}, {false, 750}, {false, 160}, {true, 100}, {false, 1500}});
    ToolRun run(dir, {"--list-tracks", "--cd-device", disc.cuePath});
    ASSERT_EQ(run.Finish(), 0) << run.Err();
    std::string expected;
    int label = 0;
    for (size_t k : {1u, 2u, 4u}) {
        char row[96];
        std::snprintf(row, sizeof row, "Track-%02d\t%u\t%u\t%u\n", label++, disc.Start(k), disc.Frames(k),
            disc.Frames(k) / 75);
        expected += row;
    }
    EXPECT_EQ(run.Out(), expected);

    for (const std::string& device :
        {(dir.Path() / "none.cue").string(), (dir.Path() / "disc.nrg").string()}) {
        WriteBytes(dir.Path() / "disc.nrg", std::vector<uint8_t>(4096, 0));
        ToolRun bad(dir, {"--list-tracks", "--cd-device", device});
        EXPECT_EQ(bad.Finish(), 1) << device;
        EXPECT_TRUE(Contains(bad.Err(), "cannot be read as a CD drive or disc image")) << bad.Err();
    }
}

TEST_F(ConvertToolRun, TrackNamesInAnyCaseGiveTheirTrackAndOtherTrackNamesAreUsageErrors)
{
    // Audio tracks 00, 01 and 02 last 1, 2 and 4 seconds; a data track sits between the first two.
    CdTestDisc disc(dir.Path(), {{false, 75}, {true, 100}, {false, 150}, {false, 300}});
    const std::vector<size_t> discTrackOf {0, 2, 3}; // audio track number -> track of the disc
    constexpr int kFile = -1; // not a track: an ordinary file name
    constexpr int kUsageError = -2;
    const std::pair<const char*, int> cases[] = {{"Track-00", 0}, {"Track-2", 2}, {"track-1", 1},
        {"TRACK-02", 2}, {"tRaCk-01", 1}, {"Track-100", kUsageError}, {"Track-x", kUsageError},
        {"Track-", kUsageError}, {"Track", kUsageError}, {"Track07", kUsageError}, {"Track-1a", kUsageError},
        {"Track-+1", kUsageError}, {"Track- 1", kUsageError}, {"Track-002", kUsageError},
        {"Track_01", kUsageError}, {"track-01.flac", kFile}, {"Track-01.WAV", kFile}};
    for (const auto& [name, track] : cases) {
        ToolRun probe(dir, {"--probe", "--cd-device", disc.cuePath, name});
        if (track == kUsageError) {
            EXPECT_EQ(probe.Finish(), 2) << name;
            EXPECT_TRUE(Contains(probe.Err(),
                std::string("varkonel-convert: ") + name
                    + ": a CD track is Track-NN, NN one or two digits (see --list-tracks)\n"))
                << probe.Err();
            EXPECT_EQ(probe.Out(), "") << name;
            ToolRun convert(dir, {"-o", out().string(), "--cd-device", disc.cuePath, name});
            EXPECT_EQ(convert.Finish(), 2) << name;
        } else if (track == kFile) {
            EXPECT_EQ(probe.Finish(), 1) << name;
            EXPECT_TRUE(Contains(probe.Err(), std::string(name) + ": cannot be read")) << probe.Err();
        } else {
            ASSERT_EQ(probe.Finish(), 0) << name << ": " << probe.Err();
            const uint32_t frames = disc.Frames(discTrackOf[static_cast<size_t>(track)]);
            char row[96];
            std::snprintf(row, sizeof row, "Track-%02d\t%s\t%s\t", track,
                Listing::TimeText(frames / 75).c_str(), Listing::SizeText(frames * 2352ull).c_str());
            EXPECT_EQ(probe.Out(), row + disc.cuePath + "\t" + std::string(row, 8) + "\n") << name;
        }
    }
    EXPECT_TRUE(fs::is_empty(out()));

    // Converted under the two-digit label, from the track the name gives.
    ToolRun convert(dir, {"-o", out().string(), "--cd-device", disc.cuePath, "TRACK-2"});
    ASSERT_EQ(convert.Finish(), 0) << convert.Err();
    EXPECT_EQ(std::distance(fs::directory_iterator(out()), fs::directory_iterator()), 1);
    EXPECT_NEAR(Seconds(Decode(out() / "Track-02.mp3")), 4.0, 0.15); // the 4 s track, not the 1 or 2 s ones
}

// A disc image among the sources stands for all its audio tracks: the very files, names and
// refusals that --cd-device IMAGE with Track-00 Track-01 ... gives.
TEST_F(ConvertToolRun, ADiscImageAsASourceConvertsEveryAudioTrackAsTheDeviceFormDoes)
{
    // A data track first, then audio tracks of 1 and 2 seconds.
    CdTestDisc disc(dir.Path(), {{true, 75}, {false, 75}, {false, 150}}, "album");
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 22050, 1, 1.0);
    const fs::path asSource = dir.Path() / "as-source";
    fs::create_directory(asSource);
    ToolRun image(dir, {"-o", out().string(), disc.cuePath, song});
    ASSERT_EQ(image.Finish(), 0) << image.Err();
    EXPECT_EQ(image.Err(), "");
    const std::vector<std::string> names {"Track-00.mp3", "Track-01.mp3", "song.mp3"};
    for (const std::string& name : names)
        fs::rename(out() / name, asSource / name);
    EXPECT_TRUE(fs::is_empty(out()));

    // The same outputs in the same folder (the tag's title is the output's path).
    ToolRun device(dir, {"-o", out().string(), "--cd-device", disc.cuePath, "Track-00", "Track-01", song});
    ASSERT_EQ(device.Finish(), 0) << device.Err();
    for (const std::string& name : names)
        EXPECT_EQ(ReadBytes(asSource / name), ReadBytes(out() / name)) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(out()), fs::directory_iterator()), 3);
    EXPECT_NEAR(Seconds(Decode(asSource / "Track-00.mp3")), 1.0, 0.1);
    EXPECT_NEAR(Seconds(Decode(asSource / "Track-01.mp3")), 2.0, 0.1);
    // --probe lists the image's tracks as it lists them named one by one.
    ToolRun probeImage(dir, {"--probe", disc.cuePath, song});
    ToolRun probeDevice(dir, {"--probe", "--cd-device", disc.cuePath, "Track-00", "Track-01", song});
    ASSERT_EQ(probeImage.Finish(), 0) << probeImage.Err();
    ASSERT_EQ(probeDevice.Finish(), 0) << probeDevice.Err();
    EXPECT_EQ(probeImage.Out(), probeDevice.Out());
    EXPECT_TRUE(Contains(probeImage.Out(), "Track-01\t00:02\t")) << probeImage.Out();

    // A second image gives the same names: refused as a name given twice is; an image that
    // cannot be read is refused with its reason; the other sources are still converted.
    CdTestDisc other(dir.Path(), {{false, 75}}, "other");
    fs::remove_all(out());
    fs::create_directory(out());
    const std::string gone = (dir.Path() / "gone.cue").string();
    ToolRun twice(dir, {"-o", out().string(), disc.cuePath, other.cuePath, gone, song});
    EXPECT_EQ(twice.Finish(), 1);
    const std::string errors = twice.Err();
    EXPECT_TRUE(Contains(errors,
        other.cuePath + "/Track-00: the output " + (out() / "Track-00.mp3").string()
            + " is also the output of " + disc.cuePath + "/Track-00; not converted"))
        << errors;
    EXPECT_TRUE(Contains(errors, gone + ": cannot be read as a CD drive or disc image; not converted"))
        << errors;
    for (const std::string& name : names)
        EXPECT_EQ(ReadBytes(asSource / name), ReadBytes(out() / name)) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(out()), fs::directory_iterator()), 3);
}

// The files in a folder, by name, with the seconds of audio each holds.
std::map<std::string, double> OutputSeconds(const fs::path& folder)
{
    std::map<std::string, double> outputs;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        outputs[entry.path().filename().string()] = Seconds(Decode(entry.path()));
    return outputs;
}

// The last column of each row of a listing.
std::vector<std::string> LastColumns(const std::string& rows)
{
    std::vector<std::string> columns;
    std::istringstream lines(rows);
    for (std::string line; std::getline(lines, line);)
        columns.push_back(line.substr(line.find_last_of('\t') + 1));
    return columns;
}

void ExpectSameOutputs(
    const std::map<std::string, double>& got, const std::map<std::string, double>& expected)
{
    ASSERT_EQ(got.size(), expected.size());
    for (auto [at, want] = std::pair {got.begin(), expected.begin()}; at != got.end(); ++at, ++want) {
        EXPECT_EQ(at->first, want->first);
        EXPECT_NEAR(at->second, want->second, 0.1) << at->first;
    }
}

// Two disc images in one run. In a chosen format a track that the CUE sheet titles is named
// "NN - Title", NN its number on the disc (data tracks count there, not in the labels); the
// others keep their label. Auto keeps the labels, so the second disc's tracks are refused as the
// first disc's outputs, as ever.
TEST_F(ConvertToolRun, TracksOfTwoDiscsAreNamedByTheirTitlesInAChosenFormat)
{
    // First: "Intro" (1 s), a data track, an untitled track (2 s). Second: a data track, then
    // "Side/B" (1 s) and "Coda" (3 s).
    CdTestDisc first(dir.Path(), {{false, 75}, {true, 75}, {false, 150}}, "first");
    first.WriteSheet("", {"    TITLE \"Intro\"\n"});
    CdTestDisc second(dir.Path(), {{true, 75}, {false, 75}, {false, 225}}, "second");
    second.WriteSheet("TITLE \"Second Album\"\n", {"", "    TITLE \"Side/B\"\n", "    TITLE \"Coda\"\n"});
    const struct {
        const char* format;
        std::map<std::string, double> outputs; // name -> seconds
        std::vector<std::string> refused; // the labels of the second disc's refused tracks
        std::vector<std::string> probed; // the last column of --probe, in disc order
    } rows[] = {
        {"wav", {{"01 - Intro.wav", 1}, {"Track-01.wav", 2}, {"02 - Side_B.wav", 1}, {"03 - Coda.wav", 3}},
            {}, {"01 - Intro.wav", "Track-01.wav", "02 - Side_B.wav", "03 - Coda.wav"}},
        {"mp3", {{"01 - Intro.mp3", 1}, {"Track-01.mp3", 2}, {"02 - Side_B.mp3", 1}, {"03 - Coda.mp3", 3}},
            {}, {"01 - Intro.mp3", "Track-01.mp3", "02 - Side_B.mp3", "03 - Coda.mp3"}},
        // Under Auto --probe adds no column: the title column ends the row.
        {"auto", {{"Track-00.mp3", 1}, {"Track-01.mp3", 2}}, {"Track-00", "Track-01"},
            {"Intro", "Track-01", "Side/B", "Coda"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.format);
        const fs::path folder = dir.Path() / row.format;
        fs::create_directories(folder);
        ToolRun run(dir, {"-f", row.format, "-o", folder.string(), first.cuePath, second.cuePath});
        EXPECT_EQ(run.Finish(), row.refused.empty() ? 0 : 1) << run.Err();
        ExpectSameOutputs(OutputSeconds(folder), row.outputs);
        for (const std::string& label : row.refused) {
            EXPECT_TRUE(Contains(run.Err(),
                second.cuePath + "/" + label + ": the output " + (folder / (label + ".mp3")).string()
                    + " is also the output of " + first.cuePath + "/" + label + "; not converted"))
                << run.Err();
        }
        ToolRun probe(dir, {"--probe", "-f", row.format, first.cuePath, second.cuePath});
        ASSERT_EQ(probe.Finish(), 0) << probe.Err();
        EXPECT_EQ(LastColumns(probe.Out()), row.probed) << probe.Out();
    }
    // One track named on its own, as DISC/Track-NN or as Track-NN of --cd-device, is named alike.
    ToolRun single(dir, {"-f", "wav", "-o", out().string(), second.cuePath + "/Track-01"});
    ASSERT_EQ(single.Finish(), 0) << single.Err();
    ExpectSameOutputs(OutputSeconds(out()), {{"03 - Coda.wav", 3}});
    ToolRun probe(dir, {"--probe", "-f", "wav", "--cd-device", second.cuePath, "track-0", "Track-01"});
    ASSERT_EQ(probe.Finish(), 0) << probe.Err();
    EXPECT_EQ(LastColumns(probe.Out()), (std::vector<std::string> {"02 - Side_B.wav", "03 - Coda.wav"}));
}

// Two discs whose first tracks have one title write one name: the second is refused, as every
// output that two sources of a run would write is (a file source too), and the first disc's file
// is the one written, with or without -y.
TEST_F(ConvertToolRun, TwoDiscsWithATrackOfTheSameTitleDoNotOverwriteEachOther)
{
    CdTestDisc one(dir.Path(), {{false, 75}}, "one");
    one.WriteSheet("", {"    TITLE \"Intro\"\n"});
    CdTestDisc two(dir.Path(), {{false, 150}, {false, 225}}, "two");
    two.WriteSheet("", {"    TITLE \"Intro\"\n", "    TITLE \"Outro\"\n"});
    const std::string file = WriteToneWav(dir.Path() / "01 - Intro.wav", 44100, 2, 0.5);
    const std::string intro = (out() / "01 - Intro.mp3").string();
    for (const char* overwrite : {"-n", "-y"}) {
        SCOPED_TRACE(overwrite);
        ToolRun run(
            dir, {"-f", "mp3", overwrite, "-j", "2", "-o", out().string(), one.cuePath, two.cuePath, file});
        EXPECT_EQ(run.Finish(), 1);
        const std::string errors = run.Err();
        EXPECT_TRUE(Contains(errors,
            two.cuePath + "/Track-00: the output " + intro + " is also the output of " + one.cuePath
                + "/Track-00; not converted"))
            << errors;
        EXPECT_TRUE(Contains(errors,
            file + ": the output " + intro + " is also the output of " + one.cuePath
                + "/Track-00; not converted"))
            << errors;
        ExpectSameOutputs(OutputSeconds(out()), {{"01 - Intro.mp3", 1}, {"02 - Outro.mp3", 3}});
    }
}

// A title longer than a file name may be is cut, on a character's boundary, so that the output
// and the hidden name it is written under while an older output is replaced both fit.
TEST_F(ConvertToolRun, ALongTitleGivesANameThatCanBeWrittenAndReplaced)
{
    std::string title;
    for (int i = 0; i < 150; ++i)
        title += "\xC3\xA9"; // 300 bytes
    CdTestDisc disc(dir.Path(), {{false, 75}}, "long");
    disc.WriteSheet("", {"    TITLE \"" + title + "\"\n"});
    for (const char* overwrite : {"-n", "-y"}) {
        ToolRun run(dir, {"-f", "wav", overwrite, "-o", out().string(), disc.cuePath});
        ASSERT_EQ(run.Finish(), 0) << overwrite << ": " << run.Err();
    }
    const std::map<std::string, double> outputs = OutputSeconds(out());
    ASSERT_EQ(outputs.size(), 1u);
    const std::string name = outputs.begin()->first;
    EXPECT_TRUE(name.starts_with("01 - \xC3\xA9")) << name;
    EXPECT_TRUE(name.ends_with("\xC3\xA9.wav")) << name;
    EXPECT_LE(name.size(), 255u);
    EXPECT_NEAR(outputs.begin()->second, 1.0, 0.1);
}

// The media layer's result codes are for whoever investigates: only -v shows them, beside the
// message the user reads either way.
TEST_F(ConvertToolRun, MediaLayerDiagnosticsOnlyWithVerbose)
{
    WriteBytes(dir.Path() / "noise.mp3", std::vector<uint8_t>(3000, 0x5A));
    WriteBytes(dir.Path() / "noise.wma", std::vector<uint8_t>(3000, 0x5A));
    const std::vector<std::string> sources {
        (dir.Path() / "noise.mp3").string(), (dir.Path() / "noise.wma").string()};
    for (const bool verbose : {false, true}) {
        std::vector<std::string> arguments {"-o", out().string()};
        if (verbose)
            arguments.push_back("-v");
        arguments.insert(arguments.end(), sources.begin(), sources.end());
        ToolRun run(dir, arguments);
        EXPECT_EQ(run.Finish(), 1);
        const std::string said = run.Out() + run.Err();
        for (const std::string& source : sources)
            EXPECT_TRUE(Contains(said, source + ": can not open source file!")) << said;
        EXPECT_EQ(Contains(said, "(hr=0x"), verbose) << said;
    }
}

// A copy of varkonel-convert and the libraries it loads in DIR/bin, a folder of its own.
fs::path ProgramCopy(const TempDir& dir)
{
    const fs::path bin = dir.Path() / "bin";
    fs::create_directory(bin);
    for (const char* file : {"varkonel-convert", "liblame_enc.so", "libvarkonel_media.so"}) {
        std::error_code error;
        fs::create_hard_link(BinFolder() / file, bin / file, error);
        if (error)
            fs::copy_file(BinFolder() / file, bin / file);
    }
    return bin;
}

TEST_F(ConvertToolRun, SettingsOfTheWindowGiveTheDefaultsAndAreOnlyRead)
{
    // A copy of the program in a folder of its own, with the window's settings file beside it.
    const fs::path bin = ProgramCopy(dir);
    const std::string tune = Fixture("mono-22050-cbr.mp3", "tune.mp3");
    ASSERT_TRUE(SettingsFile((bin / "varkonel.ini").string()).Write({out().string(), "48KB", "mono"}));
    const auto settingsBytes = ReadBytes(bin / "varkonel.ini");
    ToolRun run(dir, {tune}, bin / "varkonel-convert");
    ASSERT_EQ(run.Finish(), 0) << run.Err();
    const auto wav = ReadBytes(out() / "tune.wav"); // a separator was put after the folder
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(Le32(wav, 24), 33075u);
    EXPECT_EQ(ReadBytes(bin / "varkonel.ini"), settingsBytes);

    // The options win over the file.
    fs::create_directory(dir.Path() / "other");
    ToolRun options(
        dir, {"-b", "96KB", "-o", (dir.Path() / "other").string(), tune}, bin / "varkonel-convert");
    ASSERT_EQ(options.Finish(), 0) << options.Err();
    EXPECT_EQ(Le32(ReadBytes(dir.Path() / "other" / "tune.wav"), 24), 66150u);

    // Without a file: the temporary folder and "32KB"; no file is made.
    fs::remove(bin / "varkonel.ini");
    const fs::path temp = dir.Path() / "temp";
    fs::create_directory(temp);
    ToolRun defaults(dir, {tune}, bin / "varkonel-convert", {"TMPDIR=" + temp.string()});
    ASSERT_EQ(defaults.Finish(), 0) << defaults.Err();
    EXPECT_EQ(Le32(ReadBytes(temp / "tune.wav"), 24), 22050u);
    EXPECT_FALSE(fs::exists(bin / "varkonel.ini"));

    // A FIFO in the file's place is no settings file: the tool starts at once with the defaults.
    ASSERT_EQ(mkfifo((bin / "varkonel.ini").c_str(), 0600), 0);
    const fs::path fifoTemp = dir.Path() / "fifo-temp";
    fs::create_directory(fifoTemp);
    ToolRun fifo(dir, {tune}, bin / "varkonel-convert", {"TMPDIR=" + fifoTemp.string()});
    ASSERT_EQ(fifo.Finish(20000), 0) << fifo.Err();
    EXPECT_EQ(Le32(ReadBytes(fifoTemp / "tune.wav"), 24), 22050u);
}

// An encoder that stops working in the middle of a file: the tool keeps the shorter, finished
// file, says why, and counts the file as failed (exit 1). The program runs from a folder of
// its own with the test variant of the encoder library under the library's name, told by the
// environment to fail after 20 chunks.
TEST_F(ConvertToolRun, AnEncoderThatStopsWorkingFailsTheFileAndKeepsWhatWasEncoded)
{
    const fs::path bin = dir.Path() / "bin";
    fs::create_directory(bin);
    fs::copy_file(BinFolder() / "varkonel-convert", bin / "varkonel-convert");
    fs::copy_file(BinFolder() / kLameEncTestLibraryName, bin / "liblame_enc.so");
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 44100, 1, 30.0);
    ToolRun run(dir, {"-b", "64KB", "-c", "mono", "-o", out().string(), song}, bin / "varkonel-convert",
        {std::string(kLameEncTestFailureVariable) + "=20"});
    EXPECT_EQ(run.Finish(), 1) << run.Err();
    const std::string mp3 = (out() / "song.mp3").string();
    EXPECT_TRUE(Contains(run.Err(),
        "The conversion failed: the MP3 encoder stopped working.\nThe output file " + mp3
            + " was finished and holds the audio up to there."))
        << run.Err();
    EXPECT_TRUE(EndsWithTag(ReadBytes(mp3)));
    // Twenty chunks of 1152 samples, decoded to exactly that length.
    EXPECT_EQ(Decode(mp3).pcm.size(), 20u * 1152u * 2u);
}

// A run on a terminal: the program asks about the existing output, draws progress lines and
// ends with a summary.
class TerminalRun {
public:
    TerminalRun(std::vector<std::string> arguments)
    {
        const fs::path program = BinFolder() / "varkonel-convert";
        std::vector<char*> argv {const_cast<char*>(program.c_str())};
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~TerminalRun()
    {
        if (master >= 0)
            close(master);
    }

    // Reads until `text` has been seen (true) or the program has closed the terminal (false).
    bool ReadUntil(const std::string& text)
    {
        for (int waited = 0; waited < 120000 && !Contains(seen, text);) {
            pollfd ready {master, POLLIN, 0};
            if (poll(&ready, 1, 100) <= 0) {
                waited += 100;
                continue;
            }
            char block[4096];
            const ssize_t got = read(master, block, sizeof block);
            if (got <= 0)
                return false;
            seen.append(block, static_cast<size_t>(got));
        }
        return Contains(seen, text);
    }
    void Type(const std::string& text)
    {
        ASSERT_EQ(write(master, text.data(), text.size()), ssize_t(text.size()));
    }
    int Finish()
    {
        ReadUntil("\x01never"); // everything up to the end
        int raw = 0;
        waitpid(pid, &raw, 0);
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    std::string seen;

private:
    int master = -1;
    pid_t pid = -1;
};

TEST_F(ConvertToolRun, OnATerminalAsksShowsProgressAndSumsUp)
{
    const std::string song = WriteSparseWav(dir.Path() / "song.wav", 90.0);
    const std::string tune = WriteToneWav(dir.Path() / "tune.wav", 8000, 1, 1.0);
    WriteBytes(out() / "song.mp3", {7});
    WriteBytes(out() / "tune.mp3", {8});
    TerminalRun run({"-o", out().string(), song, tune});
    ASSERT_TRUE(run.ReadUntil("song.wav: the output file has existed, overwrite it? [y/N] ")) << run.seen;
    run.Type("y\n");
    ASSERT_TRUE(run.ReadUntil("tune.wav: the output file has existed, overwrite it? [y/N] ")) << run.seen;
    run.Type("n\n");
    EXPECT_EQ(run.Finish(), 0) << run.seen; // a No is the user's choice, not a failure
    EXPECT_TRUE(Contains(run.seen, "song.wav                     [")) << run.seen;
    EXPECT_TRUE(Contains(run.seen, "1 converted, 0 failed, 1 skipped; 1:30 of audio in")) << run.seen;
    EXPECT_NEAR(Seconds(Decode(out() / "song.mp3")), 90.0, 0.2);
    EXPECT_EQ(ReadBytes(out() / "tune.mp3"), std::vector<uint8_t> {8});
}

// The overwrite question over three existing outputs: "a" overwrites this one and every later
// one without asking again, "N" keeps this one and every later one; a plain answer settles
// only its own file.
TEST_F(ConvertToolRun, OverwriteAnswersForAllSettleTheRestOfTheRun)
{
    struct Case {
        std::vector<std::string> answers; // one per question expected, in the files' order
        std::vector<bool> replaced; // per file a, b, c
    };
    const std::vector<Case> cases {
        {{"a"}, {true, true, true}},
        {{"N"}, {false, false, false}},
        {{"n", "a"}, {false, true, true}},
        {{"y", "N"}, {true, false, false}},
        {{"y", "", "all"}, {true, false, true}},
    };
    const std::vector<std::string> names {"a", "b", "c"};
    std::vector<std::string> arguments {"-o", out().string()};
    for (const std::string& name : names)
        arguments.push_back(WriteToneWav(dir.Path() / (name + ".wav"), 8000, 1, 0.2));
    for (const Case& test : cases) {
        for (size_t at = 0; at < names.size(); ++at)
            WriteBytes(out() / (names[at] + ".mp3"), {uint8_t(at)});
        TerminalRun run(arguments);
        for (size_t at = 0; at < test.answers.size(); ++at) {
            const std::string question
                = names[at] + ".wav: the output file has existed, overwrite it? [y/N] ";
            ASSERT_TRUE(run.ReadUntil(question)) << run.seen;
            run.Type(test.answers[at] + "\n");
        }
        run.Type("n\nn\nn\n"); // answers for questions that must not come
        EXPECT_EQ(run.Finish(), 0) << run.seen;
        size_t questions = 0;
        for (size_t at = run.seen.find("[y/N] "); at != std::string::npos;
             at = run.seen.find("[y/N] ", at + 1))
            ++questions;
        EXPECT_EQ(questions, test.answers.size()) << run.seen;
        int replaced = 0;
        for (size_t at = 0; at < names.size(); ++at) {
            const auto bytes = ReadBytes(out() / (names[at] + ".mp3"));
            EXPECT_EQ(bytes != std::vector<uint8_t> {uint8_t(at)}, test.replaced[at])
                << names[at] << run.seen;
            replaced += test.replaced[at] ? 1 : 0;
        }
        const std::string summary
            = std::to_string(replaced) + " converted, 0 failed, " + std::to_string(3 - replaced) + " skipped";
        EXPECT_TRUE(Contains(run.seen, summary)) << run.seen;
    }
}

TEST_F(ConvertToolRun, InterruptFinishesRunningFilesAndStartsNoMore)
{
    const std::string first = WriteSparseWav(dir.Path() / "first.wav", 3 * 3600.0);
    const std::string second = WriteSparseWav(dir.Path() / "second.wav", 3 * 3600.0);
    ToolRun run(dir, {"-o", out().string(), first, second});
    const fs::path output = out() / "first.mp3";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    // The output takes its name only once it is complete.
    EXPECT_FALSE(fs::exists(output));
    run.Signal(SIGINT);
    EXPECT_EQ(run.Finish(), 1);
    EXPECT_TRUE(Contains(run.Err(), "first.wav: stopped")) << run.Err();
    const auto bytes = ReadBytes(output);
    EXPECT_TRUE(EndsWithTag(bytes));
    const DecodedAudio decoded = Decode(output);
    EXPECT_GT(Seconds(decoded), 1.0);
    EXPECT_LT(Seconds(decoded), 3 * 3600.0);
    EXPECT_FALSE(fs::exists(out() / "second.mp3"));
}

// A run that is killed leaves nothing under the output's name: no file that looks complete and
// is not. At most a hidden "*.part" file stays in the output folder, and only where the file
// system cannot make unnamed files.
TEST_F(ConvertToolRun, AKilledRunLeavesNoOutput)
{
    const std::string source = WriteSparseWav(dir.Path() / "long.wav", 3 * 3600.0);
    WriteBytes(out() / "long.mp3", {'o', 'l', 'd'});
    ToolRun run(dir, {"-y", "-o", out().string(), source});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Finish(), 128 + SIGKILL);
    EXPECT_EQ(ReadBytes(out() / "long.mp3"), (std::vector<uint8_t> {'o', 'l', 'd'}));
    for (const auto& entry : fs::directory_iterator(out())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "long.mp3" || (name.rfind(".long.mp3.", 0) == 0 && name.ends_with(".part")))
            << name;
    }
}

// -y replaces the output's entry, never what it points to: a link's target, or the source when
// the output is another name of it (a hard link), stays as it was.
TEST_F(ConvertToolRun, OverwritingNeverWritesThroughALink)
{
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 22050, 1, 1.0);
    const std::vector<uint8_t> source = ReadBytes(song);
    const fs::path victim = dir.Path() / "victim.bin";
    const fs::path ghost = dir.Path() / "elsewhere" / "ghost.mp3";
    fs::create_directory(dir.Path() / "elsewhere");
    const fs::path output = out() / "song.mp3";
    const struct {
        const char* what;
        std::function<void()> make;
    } cases[] = {
        {"hard link of the source", [&] { fs::create_hard_link(song, output); }},
        {"symbolic link", [&] { fs::create_symlink(victim, output); }},
        {"dangling link", [&] { fs::create_symlink(ghost, output); }},
    };
    for (const auto& c : cases) {
        fs::remove(output);
        WriteBytes(victim, {'v'});
        c.make();
        ToolRun run(dir, {"-y", "-o", out().string(), song});
        EXPECT_EQ(run.Finish(), 0) << c.what << ": " << run.Err();
        EXPECT_EQ(ReadBytes(song), source) << c.what;
        EXPECT_EQ(ReadBytes(victim), std::vector<uint8_t> {'v'}) << c.what;
        EXPECT_FALSE(fs::exists(ghost)) << c.what;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(output))) << c.what;
        EXPECT_NEAR(Seconds(Decode(output)), 1.0, 0.1) << c.what;
    }
}

// Two runs converting to one output at the same time: the file left is one run's whole file,
// and a run that could not put its file in place says so and exits with 1.
TEST_F(ConvertToolRun, TwoRunsOnOneOutputNeverSpliceTheirFiles)
{
    fs::create_directory(dir.Path() / "a");
    fs::create_directory(dir.Path() / "b");
    const std::string a = WriteToneWav(dir.Path() / "a" / "x.wav", 22050, 1, 20.0, 440);
    const std::string b = WriteToneWav(dir.Path() / "b" / "x.wav", 22050, 1, 20.0, 880);
    ToolRun first(dir, {"-y", "-o", out().string(), a});
    ToolRun second(dir, {"-y", "-o", out().string(), b});
    for (ToolRun* run : {&first, &second}) {
        const int status = run->Finish();
        EXPECT_TRUE(status == 0 || status == 1) << status;
        if (status == 1) {
            EXPECT_TRUE(Contains(run->Err(), "another program wrote the file")) << run->Err();
        }
    }
    const auto bytes = ReadBytes(out() / "x.mp3");
    EXPECT_TRUE(EndsWithTag(bytes));
    EXPECT_NEAR(Seconds(Decode(out() / "x.mp3")), 20.0, 0.1);
    EXPECT_EQ(std::distance(fs::directory_iterator(out()), fs::directory_iterator()), 1);
}

} // namespace

// The format table as the command line and the settings read it: formats by key or name, the
// qualities of each, the settings' choice under the options', and the usage errors.
TEST(OutputFormats, FormatAndQualityChoices)
{
    const struct {
        std::vector<std::string> arguments;
        const char* settingsFormat;
        const char* settingsQuality;
        const char* format; // the key chosen; null: a usage error
        const char* quality; // the quality's key; "" for Auto
        const char* named = ""; // what a usage error names
    } rows[] = {
        {{}, "", "", "auto", ""},
        {{"-f", "mp3"}, "", "", "mp3", "V2"},
        {{"--format=MP3", "--quality", "320"}, "", "", "mp3", "320"},
        {{"-fmp3", "--quality=v0"}, "", "", "mp3", "V0"},
        {{"-f", "WAV"}, "", "", "wav", "16"},
        {{"-f", "auto"}, "mp3", "320", "auto", ""},
        {{}, "mp3", "128", "mp3", "128"},
        {{}, "mp3", "V7", "mp3", "V2"}, // an unknown saved quality: the default
        {{}, "ape", "8", "auto", ""}, // an unknown saved format: Auto
        {{}, "flac", "9", "flac", "5"},
        {{"-f", "opus", "--quality", "64"}, "", "", "opus", "64"},
        {{"-f", "Ogg Vorbis"}, "", "", "ogg", "5"},
        {{"-f", "m4a", "--quality", "256"}, "", "", "m4a", "256"},
        {{"--quality", "V4"}, "mp3", "128", "mp3", "V4"},
        {{"-f", "wav"}, "mp3", "320", "wav", "16"}, // the saved quality is the saved format's
        {{"-f", "ape"}, "", "", nullptr, nullptr, "auto|mp3|wav|flac|opus|ogg|m4a"},
        {{"-f", "flac", "--quality", "9"}, "", "", nullptr, nullptr, "5, 8, 0"},
        {{"-f", "opus", "--quality", "V2"}, "", "", nullptr, nullptr, "128, 96, 160, 192, 64"},
        {{"-f", "ogg", "--quality", "10"}, "", "", nullptr, nullptr, "5, 3, 6, 8"},
        {{"-f", "m4a", "--quality", "320"}, "", "", nullptr, nullptr, "192, 128, 256"},
        {{"-f", ""}, "", "", nullptr, nullptr},
        {{"-f", "mp3", "--quality", "V9"}, "", "", nullptr, nullptr},
        {{"-f", "wav", "--quality", "24"}, "", "", "wav", "24"},
        {{"-f", "wav", "--quality", "32"}, "", "", nullptr, nullptr},
        {{"-f", "auto", "--quality", "V2"}, "", "", nullptr, nullptr},
        {{"--quality", "V2"}, "", "", nullptr, nullptr}, // Auto from the (absent) settings
        {{"--quality", "16"}, "mp3", "", nullptr, nullptr},
    };
    for (const auto& row : rows) {
        std::string shown;
        for (const std::string& argument : row.arguments)
            shown += argument + " ";
        SCOPED_TRACE(shown + "| settings " + row.settingsFormat + " " + row.settingsQuality);
        std::vector<std::string> arguments = row.arguments;
        arguments.push_back("song.wav");
        CommandLine options;
        std::string error;
        CommandLine::OutputChoice choice;
        const bool chosen = options.Parse(arguments, error)
            && options.ChooseOutput(row.settingsFormat, row.settingsQuality, choice, error);
        if (row.format == nullptr) {
            EXPECT_FALSE(chosen);
            EXPECT_FALSE(error.empty());
            EXPECT_TRUE(Contains(error, row.named)) << error;
            continue;
        }
        ASSERT_TRUE(chosen) << error;
        EXPECT_EQ(choice.format->key, row.format);
        EXPECT_EQ(choice.quality == nullptr ? "" : choice.quality->key, row.quality);
    }
    // --help lists every format and every quality the table has.
    const std::string help = CommandLine::HelpText();
    for (const OutputFormat& format : OutputFormat::All()) {
        EXPECT_TRUE(Contains(help, format.key)) << format.key;
        for (const OutputFormat::Quality& quality : format.qualities)
            EXPECT_TRUE(Contains(help, " " + quality.key + " (" + quality.text + ")")) << quality.key;
    }
}

// Output rates and names of a chosen format.
TEST(OutputFormats, RatesAndOutputNames)
{
    const OutputFormat& mp3 = *OutputFormat::Find("mp3");
    const OutputFormat& wav = *OutputFormat::Find("wav");
    const struct {
        const OutputFormat& format;
        uint32_t source;
        uint32_t output;
    } rates[] = {{mp3, 44100, 44100}, {mp3, 48000, 48000}, {mp3, 22050, 22050}, {mp3, 8000, 8000},
        {mp3, 96000, 48000}, {mp3, 88200, 48000}, {mp3, 37800, 32000}, {mp3, 46000, 44100}, {mp3, 5000, 8000},
        {wav, 96000, 96000}, {wav, 11111, 11111}};
    for (const auto& row : rates)
        EXPECT_EQ(row.format.RateFor(row.source), row.output) << row.format.key << " " << row.source;
    // A CBR bitrate that the source's rate has no frames for raises the rate to the lowest that
    // has them; VBR keeps the source's rate.
    const struct {
        const char* quality;
        uint32_t source;
        uint32_t output;
    } bitrates[] = {{"320", 8000, 32000}, {"192", 22050, 32000}, {"256", 44100, 44100}, {"128", 8000, 16000},
        {"128", 12000, 16000}, {"128", 22050, 22050}, {"V2", 8000, 8000}, {"V0", 96000, 48000}};
    for (const auto& row : bitrates)
        EXPECT_EQ(mp3.RateFor(row.source, mp3.FindQuality(row.quality)), row.output)
            << row.quality << " " << row.source;

    const struct {
        const char* source;
        const OutputFormat& format;
        const char* target;
    } names[] = {{"song.wav", mp3, "song.mp3"}, {"song.mp3", mp3, "song.mp3"}, {"song.wav", wav, "song.wav"},
        {"tune.Opus", wav, "tune.wav"}, {"my.song.flac", mp3, "my.song.mp3"}, {"noext", wav, "noext.wav"},
        {"Track-03", mp3, "Track-03.mp3"}, {"Track-03", wav, "Track-03.wav"},
        {"song.mp3", OutputFormat::Auto(), "song.wav"}, {"Track-03", OutputFormat::Auto(), "Track-03.mp3"}};
    for (const auto& row : names)
        EXPECT_EQ(ConversionJob::TargetNameFor(row.source, row.format), row.target) << row.source;
}

// The README's table of output formats is this table: one line per row, in its order, with the
// row's name and key, its extension and every quality key in order, the default first.
TEST(OutputFormats, TheReadmeTableIsTheTable)
{
    std::ifstream readme(std::string(VARKONEL_TEST_DATA_DIR) + "/../../README.md");
    ASSERT_TRUE(readme);
    std::vector<std::string> rows;
    bool inTable = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.starts_with("| format (`-f`) |"))
            inTable = true;
        else if (inTable && !line.starts_with("|"))
            break;
        else if (inTable && !line.starts_with("|---"))
            rows.push_back(line);
    }
    const std::vector<OutputFormat>& table = OutputFormat::All();
    ASSERT_EQ(rows.size(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        const OutputFormat& format = table[i];
        const std::string& row = rows[i];
        SCOPED_TRACE(row);
        EXPECT_TRUE(row.starts_with("| " + format.name + " (`" + format.key + "`) |"));
        if (!format.IsAuto()) {
            EXPECT_TRUE(Contains(row, "| `." + format.extension + "`"));
        }
        // The qualities' cell: each key in backquotes, in the table's order.
        const size_t cellStart = row.find('|', row.find('|', 1) + 1) + 1;
        const std::string cell = row.substr(cellStart, row.find('|', cellStart + 1) - cellStart);
        size_t from = 0;
        for (const OutputFormat::Quality& quality : format.qualities) {
            const size_t at = cell.find("`" + quality.key + "`", from);
            EXPECT_NE(at, std::string::npos) << quality.key;
            from = at == std::string::npos ? from : at + 1;
        }
    }
}

namespace {

// What ffprobe says of a file's first audio stream and its tags, as "key=value" lines.
std::string Probe(const TempDir& dir, const fs::path& file, const std::string& entries)
{
    const std::string ffprobe = FindProgram("ffprobe");
    EXPECT_FALSE(ffprobe.empty()) << "ffprobe is not installed (scripts/deps/media.txt)";
    ToolRun run(dir,
        {"-v", "error", "-select_streams", "a:0", "-show_entries", entries, "-of", "flat=s=_", file.string()},
        ffprobe);
    EXPECT_EQ(run.Finish(), 0) << run.Err();
    return run.Out();
}

// The frames ffmpeg decodes from a file (its own gapless handling included).
uint64_t FfmpegFrames(const TempDir& dir, const fs::path& file, uint16_t channels)
{
    const fs::path pcm = dir.Path() / (file.filename().string() + ".decoded");
    ToolRun run(
        dir, {"-v", "error", "-y", "-i", file.string(), "-f", "s16le", pcm.string()}, FindProgram("ffmpeg"));
    EXPECT_EQ(run.Finish(), 0) << run.Err();
    return fs::file_size(pcm) / (2u * channels);
}

} // namespace

// Every source type to every chosen format: codec and rate as ffprobe reads them, exactly the
// source's samples as ffmpeg decodes both, the MP3 rate control asked for, and tags that hold
// only what the source states.
// A CBR bitrate that an 8000 Hz source has no MP3 frames for is kept by raising the output rate,
// never by a quietly lower bitrate.
TEST_F(ConvertToolRun, ACbrBitrateRaisesALowRateRatherThanBeingLowered)
{
    const std::string low = WriteToneWav(dir.Path() / "low.wav", 8000, 1, 2.0);
    const struct {
        const char* quality;
        const char* rate;
        const char* bitrate;
        uint64_t frames;
    } rows[] = {{"320", "32000", "320000", 64000}, {"128", "16000", "128000", 32000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.quality);
        const fs::path folder = dir.Path() / row.quality;
        fs::create_directories(folder);
        ToolRun run(dir, {"-f", "mp3", "--quality", row.quality, "-c", "mono", "-o", folder.string(), low});
        ASSERT_EQ(run.Finish(), 0) << run.Err();
        const std::string stream = Probe(dir, folder / "low.mp3", "stream=sample_rate,bit_rate");
        EXPECT_TRUE(Contains(stream, std::string("sample_rate=\"") + row.rate + "\"")) << stream;
        EXPECT_TRUE(Contains(stream, std::string("bit_rate=\"") + row.bitrate + "\"")) << stream;
        EXPECT_NEAR(static_cast<double>(FfmpegFrames(dir, folder / "low.mp3", 1)), row.frames, 1.0);
    }
}

TEST_F(ConvertToolRun, ChosenFormatsFromEverySource)
{
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 44100, 2, 2.5);
    const std::string sweep = Fixture("stereo-44100-vbr-id3.mp3", "sweep.mp3");
    CdTestDisc disc(dir.Path(), {{false, 150}});
    const struct {
        std::string source;
        std::string stem; // of the output's name
        std::string title; // "" for a WAV output
        std::string artist; // "" when the source states none
    } sources[] = {
        {song, "song", "song", ""},
        {sweep, "sweep", "Sweep", "Varkonel tests"},
        {disc.cuePath + "/Track-00", "Track-00", "Track-00", ""},
    };
    const struct {
        const char* format;
        const char* quality;
        const char* codec;
        const char* extension;
    } outputs[] = {{"mp3", "V2", "mp3", ".mp3"}, {"mp3", "320", "mp3", ".mp3"},
        {"wav", "16", "pcm_s16le", ".wav"}, {"wav", "24", "pcm_s24le", ".wav"}};
    // --probe shows each output's name in a sixth column, and nothing more under Auto.
    ToolRun probe(dir, {"--probe", "-f", "wav", sweep, song});
    ASSERT_EQ(probe.Finish(), 0) << probe.Err();
    EXPECT_TRUE(Contains(probe.Out(), "\tsweep.wav\n")) << probe.Out();
    EXPECT_TRUE(Contains(probe.Out(), "\t-\tsong.wav\n")) << probe.Out();
    ToolRun probeAuto(dir, {"--probe", sweep});
    ASSERT_EQ(probeAuto.Finish(), 0) << probeAuto.Err();
    EXPECT_TRUE(probeAuto.Out().ends_with("/sweep.mp3\t-\n")) << probeAuto.Out();
    for (const auto& output : outputs) {
        for (const auto& source : sources) {
            SCOPED_TRACE(source.source + " -f " + output.format + " --quality " + output.quality);
            const fs::path folder = dir.Path() / (std::string(output.format) + output.quality);
            fs::create_directories(folder);
            ToolRun run(dir,
                {"-f", output.format, "--quality", output.quality, "-o", folder.string(), source.source});
            ASSERT_EQ(run.Finish(), 0) << run.Err();
            const fs::path file = folder / (source.stem + output.extension);
            ASSERT_TRUE(fs::exists(file)) << run.Err();

            const std::string stream = Probe(dir, file, "stream=codec_name,sample_rate,channels");
            EXPECT_TRUE(Contains(stream, std::string("codec_name=\"") + output.codec + "\"")) << stream;
            EXPECT_TRUE(Contains(stream, "sample_rate=\"44100\"")) << stream;
            EXPECT_TRUE(Contains(stream, "channels=2")) << stream;
            const uint64_t expected
                = source.stem == "Track-00" ? 150u * 588u : FfmpegFrames(dir, source.source, 2);
            EXPECT_EQ(FfmpegFrames(dir, file, 2), expected);

            if (std::string(output.format) != "mp3")
                continue;
            const std::vector<uint8_t> bytes = ReadBytes(file);
            const std::string text(bytes.begin(), bytes.end());
            if (std::string(output.quality) == "V2") {
                EXPECT_TRUE(Contains(text, "Xing")) << "no VBR information frame";
            } else {
                EXPECT_TRUE(Contains(text, "Info")) << "no CBR information frame";
                const std::string packets = Probe(dir, file, "packet=size");
                std::istringstream lines(packets);
                std::string line;
                size_t counted = 0;
                while (std::getline(lines, line)) {
                    // A 320 kbit/s frame at 44100 Hz: 1044 or, padded, 1045 bytes.
                    const std::string size = line.substr(line.find('=') + 1);
                    EXPECT_TRUE(size == "\"1044\"" || size == "\"1045\"") << line;
                    ++counted;
                }
                EXPECT_GT(counted, 10u);
            }
            const std::string tags = Probe(dir, file, "format_tags");
            EXPECT_TRUE(Contains(tags, "format_tags_title=\"" + source.title + "\"")) << tags;
            EXPECT_EQ(Contains(tags, "artist"), !source.artist.empty()) << tags;
            if (!source.artist.empty()) {
                EXPECT_TRUE(Contains(tags, "format_tags_artist=\"" + source.artist + "\"")) << tags;
            }
            // The ID3v1 tag: nothing made up, no folder in the title.
            ASSERT_TRUE(EndsWithTag(bytes));
            const auto field = [&](size_t offset, size_t size) {
                const std::string raw(bytes.end() - 128 + offset, bytes.end() - 128 + offset + size);
                return raw.substr(0, raw.find('\0'));
            };
            EXPECT_EQ(field(3, 30), source.title);
            EXPECT_EQ(field(33, 30), source.artist);
            EXPECT_EQ(field(63, 30), "");
            EXPECT_EQ(field(93, 4), "");
            EXPECT_EQ(bytes.back(), 255) << "genre";
        }
    }
}

namespace {

// A source of the format table below: its file (or CD track), the output's stem, and how ffmpeg
// reads what it holds, for the reference.
struct TableSource {
    std::string source; // as given to the tool
    std::string stem; // of the output's name
    uint32_t rate = 0; // of the audio the source gives (ffmpeg decodes Opus at 48000 Hz)
    std::string reference; // ffmpeg's input options for the source's audio
    bool mono = false;
    // How far a lossless output may be from ffmpeg's decode of the source: 0 for PCM; 1 for a
    // source decoded to floats, which the engine and ffmpeg round to 16 bits each their own way.
    int roundings = 0;
    bool deep = false; // 24-bit: a lossless output that keeps its depth has every bit of it
    bool tagged = false; // states every field and a front cover (see kTaggedFields)
};

// The fields of the tagged source, as ffprobe prints them (any letter case, format or stream
// tags) from every container; the track is "3/12" in MP3 and MP4, two fields in Vorbis comments
// (TRACKNUMBER, which ffprobe prints as "track", and TRACKTOTAL).
const char* const kTaggedFields[] = {"title=\"Tagged\"", "artist=\"Varkonel\"", "album=\"Tests\"",
    "date=\"2019\"", "genre=\"Rock\"", "comment=\"A note\""};

// An output format of the table and what ffprobe and ffmpeg make of it.
struct TableOutput {
    const char* format; // -f, at its default quality
    const char* extension;
    const char* container; // ffprobe's format_name
    const char* codec; // ffprobe's codec_name
    bool lossless;
    uint32_t rate; // the only rate it is written at; 0: the source's
    bool paddedLength; // ffmpeg decodes up to the last codec frame's end (AAC)
    uint32_t highestRate; // a source above it is written at it (MP3: 48000)
    bool keepsDepth; // a 24-bit source gives a 24-bit file
    bool tags; // carries the source's tags and cover
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The texts ffprobe prints of a file's tags (format and first audio stream, where Ogg keeps
// them), in lower case.
std::string ProbedTags(const TempDir& dir, const fs::path& file)
{
    return Lower(Probe(dir, file, "format_tags:stream_tags"));
}

// Whether a file holds a picture stream marked as its attached cover.
bool HasAttachedCover(const fs::path& file)
{
    const std::vector<uint8_t> out = CommandOutput("ffprobe -v error -show_entries stream=codec_type"
                                                   ":stream_disposition=attached_pic -of flat '"
        + file.string() + "'");
    return Contains(std::string(out.begin(), out.end()), "disposition.attached_pic=1");
}

// The delay, padding and frames an MP4 file's iTunSMPB text states (its second to fourth fields,
// in hex); all 0 when it has none.
struct Smpb {
    uint64_t delay = 0;
    uint64_t padding = 0;
    uint64_t frames = 0;
};
Smpb SmpbOf(const TempDir& dir, const fs::path& file)
{
    const std::string tags = Probe(dir, file, "format_tags=iTunSMPB");
    const size_t quote = tags.find('"');
    if (quote == std::string::npos)
        return {};
    std::istringstream fields(tags.substr(quote + 1));
    std::string field[4];
    for (int i = 0; i < 4 && fields >> field[i]; ++i) { }
    const auto hex = [](const std::string& text) { return std::strtoull(text.c_str(), nullptr, 16); };
    return {hex(field[1]), hex(field[2]), hex(field[3])};
}

// The AAC frames (1,024 samples each) of a file's audio stream.
uint64_t AacPackets(const TempDir& dir, const fs::path& file)
{
    const std::string ffprobe = FindProgram("ffprobe");
    ToolRun run(dir,
        {"-v", "error", "-select_streams", "a:0", "-count_packets", "-show_entries", "stream=nb_read_packets",
            "-of", "default=nw=1:nk=1", file.string()},
        ffprobe);
    EXPECT_EQ(run.Finish(), 0) << run.Err();
    return std::strtoull(run.Out().c_str(), nullptr, 10);
}

// Audio as ffmpeg decodes it, at `rate` with two channels (a mono source's one channel on both, as
// the engine makes it); for a comparison with a lossy output, only what lies between 50 Hz and
// 4 kHz (Opus drops a constant offset, and above that the codecs may leave out what they like).
std::vector<int16_t> FfmpegPcm(const std::string& input, uint32_t rate, bool mono, bool band)
{
    std::string filters = mono ? "pan=stereo|c0=c0|c1=c0" : "anull";
    if (band)
        filters += ",highpass=f=50,lowpass=f=4000,lowpass=f=4000";
    return AsSamples(CommandOutput("ffmpeg -nostdin -v error " + input + " -af '" + filters + "' -ac 2 -ar "
        + std::to_string(rate) + " -f s16le -"));
}

// The frames a source gives at `rate`: its own count, or after a rate change round(n x new / old).
double FramesAt(uint64_t frames, uint32_t from, uint32_t rate)
{
    return std::round(static_cast<double>(frames) * rate / from);
}

} // namespace

// Every source type to every format at its default quality: container and codec as ffprobe
// reads them, the exact length ffmpeg decodes (after a rate change, round(n x new / old) +-1; AAC
// up to its last frame's padding), and the content against ffmpeg's decode of the source (lossless:
// the same samples; lossy: correlated below 4 kHz); FLAC files pass `flac -t` and have a seek
// table. Each row is one source, each column one output format.
TEST_F(ConvertToolRun, EveryFormatFromEverySource)
{
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 44100, 2, 1.5);
    const std::string tagged = (dir.Path() / "tagged.mp3").string();
    const std::string cover = (dir.Path() / "cover.png").string();
    CommandOutput("ffmpeg -nostdin -v error -f lavfi -i color=c=red:s=16x16 -frames:v 1 '" + cover + "'");
    CommandOutput("ffmpeg -nostdin -v error -f lavfi -i sine=frequency=330:sample_rate=44100:duration=1.5"
                  " -i '"
        + cover
        + "' -map 0:a -map 1:v -ac 2 -c:a libmp3lame"
          " -q:a 2 -c:v png -id3v2_version 3 -metadata title=Tagged -metadata artist=Varkonel"
          " -metadata album=Tests -metadata date=2019 -metadata track=3/12 -metadata genre=Rock"
          " -metadata comment='A note'"
          " -metadata:s:v comment='Cover (front)' '"
        + tagged + "'");
    const std::string talk = (dir.Path() / "talk.opus").string();
    CommandOutput("ffmpeg -nostdin -v error -f lavfi -i sine=frequency=250:sample_rate=22050:duration=1.2"
                  " -ac 1 -c:a libopus -b:a 48k '"
        + talk + "'");
    // A rate below 44,100 Hz that every codec but Opus keeps.
    const std::string low = WriteToneWav(dir.Path() / "low.wav", 22050, 1, 1.2);
    const std::string deep = (dir.Path() / "deep.flac").string();
    CommandOutput("ffmpeg -nostdin -v error -f lavfi -i sine=frequency=1000:sample_rate=96000:duration=1"
                  " -af volume=0.7 -ac 2 -sample_fmt s32 -c:a flac '"
        + deep + "'");
    CdTestDisc disc(dir.Path(), {{false, 100}});
    const fs::path track = dir.Path() / "track.raw";
    WriteBytes(track, disc.TrackBytes(0));
    const TableSource sources[] = {
        {song, "song", 44100, "-i '" + song + "'", false, 0},
        {tagged, "tagged", 44100, "-i '" + tagged + "'", false, 1, false, true},
        {deep, "deep", 96000, "-i '" + deep + "'", false, 1, true},
        {talk, "talk", 48000, "-i '" + talk + "'", true, 1},
        {low, "low", 22050, "-i '" + low + "'", true, 0},
        {disc.cuePath + "/Track-00", "Track-00", 44100,
            "-f s16le -ar 44100 -ac 2 -i '" + track.string() + "'", false, 0},
    };
    const TableOutput outputs[] = {
        {"flac", ".flac", "flac", "flac", true, 0, false, 0, true, true},
        {"opus", ".opus", "ogg", "opus", false, 48000, false, 0, false, true},
        {"ogg", ".ogg", "ogg", "vorbis", false, 0, false, 0, false, true},
        {"m4a", ".m4a", "mov,mp4,m4a,3gp,3g2,mj2", "aac", false, 0, true, 0, false, true},
        {"mp3", ".mp3", "mp3", "mp3", false, 0, false, 48000, false, true},
        {"wav", ".wav", "wav", "pcm_s16le", true, 0, false, 0, false, false},
    };
    for (const TableOutput& output : outputs) {
        const fs::path folder = dir.Path() / output.format;
        fs::create_directories(folder);
        std::vector<std::string> arguments {"-f", output.format, "-o", folder.string(), "-j", "2"};
        for (const TableSource& source : sources)
            arguments.push_back(source.source);
        ToolRun run(dir, arguments);
        ASSERT_EQ(run.Finish(), 0) << run.Err();
        for (const TableSource& source : sources) {
            SCOPED_TRACE(source.stem + " -f " + output.format);
            const fs::path file = folder / (source.stem + output.extension);
            ASSERT_TRUE(fs::exists(file)) << run.Err();
            const std::string probed
                = Probe(dir, file, "format=format_name:stream=codec_name,sample_rate,channels");
            EXPECT_TRUE(Contains(probed, std::string("format_name=\"") + output.container + "\"")) << probed;
            EXPECT_TRUE(Contains(probed, std::string("codec_name=\"") + output.codec + "\"")) << probed;
            uint32_t rate = output.rate != 0 ? output.rate : source.rate;
            if (output.highestRate != 0)
                rate = std::min(rate, output.highestRate);
            EXPECT_TRUE(Contains(probed, "sample_rate=\"" + std::to_string(rate) + "\"")) << probed;
            EXPECT_TRUE(Contains(probed, "channels=2")) << probed;

            const std::vector<int16_t> source16
                = FfmpegPcm(source.reference, source.rate, source.mono, false);
            const double expected = FramesAt(source16.size() / 2, source.rate, rate);
            const auto frames = static_cast<double>(FfmpegFrames(dir, file, 2));
            if (output.paddedLength) {
                EXPECT_GE(frames, expected - 1);
                EXPECT_LT(frames, expected + 1024);
            } else {
                EXPECT_NEAR(frames, expected, rate == source.rate ? 0.0 : 1.0);
            }
            const std::string decoded = "-i '" + file.string() + "'";
            if (output.lossless && source.deep && output.keepsDepth) {
                EXPECT_TRUE(Contains(Probe(dir, file, "stream=bits_per_raw_sample"), "=\"24\"")) << file;
                EXPECT_EQ(CommandOutput("ffmpeg -nostdin -v error " + decoded + " -f s32le -"),
                    CommandOutput("ffmpeg -nostdin -v error " + source.reference + " -f s32le -"))
                    << "the 24-bit samples differ";
            } else if (output.lossless) {
                const std::vector<int16_t> got = FfmpegPcm(decoded, rate, false, false);
                EXPECT_EQ(got.size(), source16.size());
                if (got.size() == source16.size()) {
                    EXPECT_LE(MaxDifference(got.data(), source16.data(), got.size()), source.roundings);
                }
            } else {
                EXPECT_GE(Correlation(FfmpegPcm(decoded, rate, false, true),
                              FfmpegPcm(source.reference, rate, source.mono, true)),
                    0.99);
            }
            if (output.tags) {
                const std::string tags = ProbedTags(dir, file);
                // Nothing made up: an untagged source's title is the output's file name.
                EXPECT_TRUE(
                    Contains(tags, Lower("title=\"" + (source.tagged ? "Tagged" : source.stem) + "\"")))
                    << tags;
                for (const char* field : kTaggedFields)
                    EXPECT_EQ(Contains(tags, Lower(field)), source.tagged) << field << "\n" << tags;
                if (source.tagged) {
                    EXPECT_TRUE(Contains(tags, "track=\"3/12\"")
                        || ((Contains(tags, "track=\"3\"") || Contains(tags, "tracknumber=\"3\""))
                            && Contains(tags, "tracktotal=\"12\"")))
                        << tags;
                }
                EXPECT_EQ(HasAttachedCover(file), source.tagged);
            }
            if (output.paddedLength) {
                // The encoder's delay, the source's frames and the padding fill the AAC frames.
                const Smpb smpb = SmpbOf(dir, file);
                EXPECT_EQ(smpb.frames, static_cast<uint64_t>(expected)) << "iTunSMPB";
                EXPECT_EQ(smpb.delay + smpb.frames + smpb.padding, AacPackets(dir, file) * 1024)
                    << "iTunSMPB";
            }
            if (std::string(output.format) == "flac") {
                CommandOutput("flac -t -s '" + file.string() + "'");
                const std::vector<uint8_t> listed = CommandOutput("metaflac --list '" + file.string() + "'");
                EXPECT_TRUE(Contains(std::string(listed.begin(), listed.end()), "type: 3 (SEEKTABLE)"));
            }
        }
    }
}

// ABORT in the middle of a file (an interrupt of the tool) leaves a complete, shorter file in every
// codec format: ffmpeg decodes it without a complaint, and it holds some but not all of the audio.
TEST_F(ConvertToolRun, AnInterruptedFileIsCompleteInEveryFormat)
{
    const double length = 3 * 3600.0;
    const std::string source = WriteSparseWav(dir.Path() / "long.wav", length);
    const struct {
        const char* format;
        const char* extension;
    } rows[] = {{"flac", ".flac"}, {"opus", ".opus"}, {"ogg", ".ogg"}, {"m4a", ".m4a"}};
    std::vector<std::unique_ptr<ToolRun>> runs;
    for (const auto& row : rows) {
        fs::create_directories(out() / row.format);
        runs.push_back(std::make_unique<ToolRun>(
            dir, std::vector<std::string> {"-f", row.format, "-o", (out() / row.format).string(), source}));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    for (auto& run : runs)
        run->Signal(SIGINT);
    for (size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(rows[i].format);
        EXPECT_EQ(runs[i]->Finish(), 1);
        EXPECT_TRUE(Contains(runs[i]->Err(), "long.wav: stopped")) << runs[i]->Err();
        const fs::path file = out() / rows[i].format / (std::string("long") + rows[i].extension);
        ASSERT_TRUE(fs::exists(file)) << runs[i]->Err();
        ToolRun decode(
            dir, {"-nostdin", "-v", "error", "-i", file.string(), "-f", "null", "-"}, FindProgram("ffmpeg"));
        EXPECT_EQ(decode.Finish(), 0);
        EXPECT_EQ(decode.Err(), "");
        const std::string probed = Probe(dir, file, "format=duration");
        const double seconds = std::atof(probed.substr(probed.find('"') + 1).c_str());
        EXPECT_GT(seconds, 0.0) << probed;
        EXPECT_LT(seconds, length) << probed;
    }
}

// With a chosen format an output can have its source's name: it is refused before anything is
// written, also when the output folder reaches the source through a link, and the source is
// left as it was.
TEST_F(ConvertToolRun, AnOutputThatWouldReplaceItsSourceIsRefused)
{
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 44100, 2, 1.0);
    const std::string tune = Fixture("mono-22050-cbr.mp3", "tune.mp3");
    const std::string album = (dir.Path() / "album.flac").string();
    CommandOutput("ffmpeg -nostdin -v error -i '" + song + "' -compression_level 0 -metadata title=Album '"
        + album + "'");
    const auto songBytes = ReadBytes(song);
    const auto tuneBytes = ReadBytes(tune);
    const auto albumBytes = ReadBytes(album);
    const fs::path link = dir.Path() / "link";
    fs::create_directory_symlink(dir.Path(), link);
    const struct {
        std::vector<std::string> arguments;
    } rows[] = {
        {{"-f", "wav", "-o", dir.Path().string(), song}},
        {{"-f", "mp3", "-y", "-o", link.string(), tune}},
        {{"-f", "wav", "-y", "-o", link.string(), song, tune}}, // tune.wav is made; song.wav refused
        {{"-f", "flac", "-y", "-o", dir.Path().string(), album}},
    };
    for (const auto& row : rows) {
        ToolRun run(dir, row.arguments);
        EXPECT_EQ(run.Finish(), 1);
        EXPECT_TRUE(Contains(run.Err(), "the output would replace its source")) << run.Err();
        EXPECT_EQ(ReadBytes(song), songBytes);
        EXPECT_EQ(ReadBytes(tune), tuneBytes);
        EXPECT_EQ(ReadBytes(album), albumBytes);
    }
    EXPECT_TRUE(fs::exists(dir.Path() / "tune.wav"));
}

// The format and quality saved in the settings are the run's defaults; the options win over
// them, and a saved format the program does not know is Auto.
TEST_F(ConvertToolRun, TheSavedFormatIsTheDefault)
{
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 44100, 2, 1.0);
    // A copy of the program in a folder of its own, with the window's settings file beside it.
    const fs::path bin = ProgramCopy(dir);
    const struct {
        const char* savedFormat;
        const char* savedQuality;
        std::vector<std::string> options;
        const char* rate; // of song.mp3
        const char* frame; // the information frame's tag
    } rows[] = {
        {"mp3", "V0", {}, "44100", "Xing"},
        {"mp3", "V0", {"--quality", "320"}, "44100", "Info"},
        {"mp3", "320", {"-f", "auto"}, "22050", "Xing"}, // 32 kbit/s: the frame is larger
        {"ape", "8", {}, "22050", "Xing"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.savedFormat) + " " + row.savedQuality);
        ASSERT_TRUE(SettingsFile((bin / "varkonel.ini").string())
                        .Write({out().string(), "32KB", "stereo", row.savedFormat, row.savedQuality}));
        std::vector<std::string> arguments = row.options;
        arguments.insert(arguments.end(), {"-y", song});
        ToolRun run(dir, arguments, bin / "varkonel-convert");
        ASSERT_EQ(run.Finish(), 0) << run.Err();
        const std::string stream = Probe(dir, out() / "song.mp3", "stream=sample_rate");
        EXPECT_TRUE(Contains(stream, std::string("sample_rate=\"") + row.rate + "\"")) << stream;
        const std::vector<uint8_t> bytes = ReadBytes(out() / "song.mp3");
        EXPECT_TRUE(Contains(std::string(bytes.begin(), bytes.end()), row.frame));
    }
}
