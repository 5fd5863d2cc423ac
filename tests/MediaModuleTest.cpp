// The media module (platform/media/MediaModule.h): FFmpeg's code is loaded only when a job needs
// it, a module that cannot be loaded fails the job with one message that says why, and first
// uses from several threads at once load it once. What a process has loaded cannot be undone, so
// every check runs in a fresh process of its own: gtest's death-test machinery runs this test
// program again for the check, and the check's verdict is the process's exit status.
#include "platform/media/MediaModule.h"
#include "engine/ConversionJob.h"
#include "platform/acm/Acm.h"
#include "platform/loader/DynamicLibrary.h"
#include "platform/media/AudioEncoderSession.h"
#include "platform/media/MediaFile.h"
#include "platform/media/MediaMetadata.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::string WavFixture(const std::string& name)
{
    return std::string(VARKONEL_TEST_DATA_DIR) + "/wav/" + name;
}

std::string MediaFixture(const std::string& name)
{
    return std::string(VARKONEL_TEST_DATA_DIR) + "/media/" + name;
}

// The files mapped into this process whose names start with `prefix` ("libavcodec.so").
std::set<std::string> Mapped(const std::string& prefix)
{
    std::set<std::string> files;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const size_t slash = line.find('/');
        if (slash == std::string::npos)
            continue;
        const std::string path = line.substr(slash);
        if (fs::path(path).filename().string().rfind(prefix, 0) == 0)
            files.insert(path);
    }
    return files;
}

bool FfmpegLoaded()
{
    return !Mapped("libavcodec.so").empty() || !Mapped("libavformat.so").empty()
        || !Mapped(kMediaModuleName).empty();
}

// Runs `check` in a process of its own; it returns what went wrong, empty when nothing did.
// exit(), not _exit(): the sanitizers' checks at exit (leaks) count too.
void InFreshProcess(const std::function<std::string()>& check)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string wrong = check();
            std::fprintf(stderr, "%s\n", wrong.empty() ? "CHECKED" : wrong.c_str());
            std::fflush(stderr);
            std::exit(wrong.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "CHECKED");
}

struct JobOutcome {
    ConversionJob::StartResult start;
    bool succeeded = false;
    bool outputExists = false;
};

// One job from `source` to `target` in `dir`, run to its end, with encoders of its own.
JobOutcome RunJob(const std::string& source, const std::string& target, const TempDir& dir)
{
    EncoderSet encoders;
    ConversionJob job(22050, encoders);
    job.sourceName = source;
    job.targetName = target;
    job.outputDir = dir.Path().string() + "/";
    JobOutcome outcome;
    outcome.start = job.Start(nullptr, false);
    job.Wait();
    outcome.succeeded = job.EncodeSucceeded();
    outcome.outputExists = fs::exists(job.OutputPath());
    return outcome;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(MediaModule, IsLoadedOnlyByJobsWhoseSourceNeedsFfmpeg)
{
    const struct {
        std::string source;
        const char* target;
        bool needsFfmpeg;
    } cases[] = {
        {WavFixture("pcm-s16-stereo-44100.wav"), "out.mp3", false},
        {WavFixture("float32-stereo-44100.wav"), "out.mp3", false},
        {WavFixture("pcm-u8-mono-8000.wav"), "out.wav", false},
        {WavFixture("ima-adpcm-stereo-22050.wav"), "out.mp3", true}, // the codec service's decoder
        {MediaFixture("mono-22050-cbr.mp3"), "out.wav", true},
        {MediaFixture("stereo-22050-v2.wma"), "out.mp3", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        InFreshProcess([&]() -> std::string {
            if (FfmpegLoaded())
                return "FFmpeg was loaded before the job";
            ScopedMessages messages;
            TempDir dir;
            const JobOutcome outcome = RunJob(c.source, c.target, dir);
            if (outcome.start != ConversionJob::StartResult::Started || !outcome.succeeded)
                return "the job failed";
            if (!messages->Texts().empty())
                return "the job said: " + messages->Texts().front();
            const bool module = !Mapped(kMediaModuleName).empty();
            const bool codecs = !Mapped("libavcodec.so").empty();
            if (module != c.needsFfmpeg || codecs != c.needsFfmpeg)
                return std::string("after the job the module is ") + (module ? "" : "not ")
                    + "loaded, FFmpeg " + (codecs ? "" : "not ") + "loaded";
            return {};
        });
    }
}

TEST(MediaModule, OneThatCannotBeLoadedFailsTheJobWithOneMessageSayingWhy)
{
    TempDir files;
    const std::string notALibrary = files.File("libvarkonel_media.so");
    WriteBytes(notALibrary, {'n', 'o', 't', ' ', 'E', 'L', 'F', '\n'});
    const struct {
        std::string replacement; // where the module's name is redirected
        std::string reason; // what the message says of it
    } cases[] = {
        {files.File("absent/libvarkonel_media.so"),
            files.File("absent/libvarkonel_media.so") + " does not exist"},
        {notALibrary, notALibrary + ": "},
        // A library of ours that is not the module.
        {(fs::read_symlink("/proc/self/exe").parent_path() / "liblame_enc.so").string(),
            std::string("has no ") + kMediaModuleEntry},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.replacement);
        InFreshProcess([&]() -> std::string {
            RedirectLibrary(kMediaModuleName, c.replacement);
            ScopedMessages messages;
            TempDir dir;
            // Sources that need the module: each job fails with one message naming the source
            // and the reason, and writes nothing.
            const std::string sources[][2] = {{MediaFixture("mono-22050-cbr.mp3"), "out.wav"},
                {WavFixture("ms-adpcm-mono-8000.wav"), "out.mp3"}};
            for (const auto& source : sources) {
                messages->Clear();
                const JobOutcome outcome = RunJob(source[0], source[1], dir);
                if (outcome.start != ConversionJob::StartResult::SourceNotOpened || outcome.outputExists)
                    return source[0] + ": the job did not fail before writing";
                const std::vector<std::string> texts = messages->Texts();
                if (texts.size() != 1)
                    return source[0] + ": " + std::to_string(texts.size()) + " messages";
                if (!Contains(texts[0], fs::path(source[0]).filename().string())
                    || !Contains(texts[0], "media module could not be loaded")
                    || !Contains(texts[0], c.reason))
                    return source[0] + ": the message does not say why: " + texts[0];
            }
            // Tags that need the module: the job goes on without them, and says so once.
            messages->Clear();
            if (!ReadMediaMetadata(MediaFixture("stereo-44100-vbr-id3.mp3").c_str()).Empty())
                return "tags were read without the module";
            const std::vector<std::string> texts = messages->Texts();
            if (texts.size() != 1 || !Contains(texts[0], "tags of") || !Contains(texts[0], c.reason))
                return "reading tags did not say once why they are missing";
            // An encoder needs the module too: no session, and the reason, for the caller to show.
            std::string reason;
            if (AudioEncoderSession::Create(AudioEncoderSettings {}, reason) != nullptr
                || !Contains(reason, "media module could not be loaded") || !Contains(reason, c.reason))
                return "an encoder session without the module did not say why: " + reason;
            // A PCM WAV job needs no module and still converts.
            messages->Clear();
            const JobOutcome wav = RunJob(WavFixture("pcm-s16-stereo-44100.wav"), "pcm.mp3", dir);
            if (!wav.succeeded || !messages->Texts().empty())
                return "a PCM WAV job failed without the module";
            return {};
        });
    }
}

// The format record of a WAV file: the body of its "fmt " chunk.
std::vector<uint8_t> FormatRecord(const std::string& wav)
{
    const std::vector<uint8_t> bytes = ReadBytes(wav);
    for (size_t at = 12; at + 8 <= bytes.size(); at += 8 + ((Le32(bytes, at + 4) + 1) & ~1u)) {
        if (std::memcmp(&bytes[at], "fmt ", 4) == 0 && at + 8 + Le32(bytes, at + 4) <= bytes.size())
            return std::vector<uint8_t>(bytes.begin() + at + 8, bytes.begin() + at + 8 + Le32(bytes, at + 4));
    }
    return {};
}

TEST(MediaModuleThreads, FirstUsesFromManyThreadsAtOnceLoadItOnce)
{
    InFreshProcess([]() -> std::string {
        if (FfmpegLoaded())
            return "FFmpeg was loaded before the first use";
        ScopedMessages messages;
        std::vector<uint8_t> adpcm = FormatRecord(WavFixture("ima-adpcm-stereo-22050.wav"));
        if (adpcm.size() < sizeof(WAVEFORMATEX))
            return "no format record in the ADPCM fixture";
        const WAVEFORMATEX pcm = PcmFormat(2, 22050, 16);
        // Each of the module's three ways in (the reader, the codec service's decoders, tag
        // reading) first reached from two threads, all six starting together.
        const std::function<std::string()> uses[] = {
            [] {
                DecodedAudio decoded;
                const HRESULT result = DecodeMediaFile(MediaFixture("mono-22050-cbr.mp3").c_str(), decoded);
                return SUCCEEDED(result) && !decoded.pcm.empty() ? "" : "the MP3 was not decoded";
            },
            [&] {
                HACMSTREAM stream = nullptr;
                const MMRESULT result = acmStreamOpen(&stream, nullptr,
                    reinterpret_cast<const WAVEFORMATEX*>(adpcm.data()), &pcm, nullptr, 0, 0, 0);
                if (result != MMSYSERR_NOERROR)
                    return std::string("no ADPCM conversion: ")
                        + acmStreamOpenProblem(reinterpret_cast<const WAVEFORMATEX*>(adpcm.data()), &pcm);
                acmStreamClose(stream, 0);
                return std::string();
            },
            [] {
                const MediaMetadata metadata
                    = ReadMediaMetadata(MediaFixture("stereo-44100-vbr-id3.mp3").c_str());
                const std::pair<std::string, std::string> title {"title", "Sweep"};
                const bool read = std::find(metadata.entries.begin(), metadata.entries.end(), title)
                    != metadata.entries.end();
                return read ? "" : "the tags were not read";
            },
        };
        constexpr int kThreads = 6;
        std::latch start(kThreads);
        std::vector<std::string> failures(kThreads);
        std::vector<std::thread> threads;
        for (int k = 0; k < kThreads; ++k) {
            threads.emplace_back([&, k] {
                start.arrive_and_wait();
                failures[k] = uses[k % 3]();
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        for (const std::string& failure : failures) {
            if (!failure.empty())
                return failure;
        }
        if (Mapped(kMediaModuleName).size() != 1)
            return "the module is not loaded from one file";
        return messages->Texts().empty() ? std::string() : "a message came: " + messages->Texts().front();
    });
}

} // namespace
