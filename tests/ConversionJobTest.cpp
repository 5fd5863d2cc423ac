#include "engine/ConversionJob.h"

#include "audio/ToneStream.h"
#include "cd/CdTrackStream.h"
#include "engine/TrackFileName.h"
#include "engine/TrackLabel.h"
#include "platform/Heap.h"
#include "platform/Thread.h"
#include "platform/Utf8.h"
#include "platform/media/MediaFile.h"
#include "support/CdTestDisc.h"
#include "support/TestSupport.h"
#include "support/WavBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

using namespace testing_support;
using Kind = ConversionJob::SourceKind;
using Result = ConversionJob::StartResult;

namespace {

const std::string kUnknown = "Unknow audio file!\nMixer has emptyed, there will be an error.";

// Checks that `path` is a complete WAV file as the WAV writer leaves it: the header's sizes
// state exactly the bytes that follow. Returns the audio byte count.
uint32_t CompleteWavData(const std::string& path)
{
    const auto bytes = ReadBytes(path);
    EXPECT_GE(bytes.size(), 44u);
    if (bytes.size() < 44)
        return 0;
    EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(Le32(bytes, 40), bytes.size() - 44);
    return Le32(bytes, 40);
}

void WaitUntil(const std::function<bool()>& condition)
{
    for (int i = 0; i < 20000 && !condition(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(condition()) << "the condition was not reached in 20 s";
}

TEST(ConversionJob, SourceNamesChooseTheLoader)
{
    struct Case {
        const char* name;
        Kind kind;
        int32_t track;
        const char* disc = ""; // for a track of a named disc
    };
    const Case cases[] = {
        {"C:\\Music\\Song.WAV", Kind::Wave, 0},
        {"/music/a.Mp3", Kind::Media, 0},
        {"b.WMA", Kind::Media, 0},
        // The other compressed types by the whole text after the last dot, in any letter case.
        {"/music/a.flac", Kind::Media, 0},
        {"x.OGG", Kind::Media, 0},
        {"x.oga", Kind::Media, 0},
        {"x.Opus", Kind::Media, 0},
        {"x.m4a", Kind::Media, 0},
        {"x.aac", Kind::Media, 0},
        {"x.aif", Kind::Media, 0},
        {"x.AIFF", Kind::Media, 0},
        {"x.aifc", Kind::Media, 0},
        {"x.au", Kind::Media, 0},
        {"x.ape", Kind::Media, 0},
        {"x.wv", Kind::Media, 0},
        {"x.mka", Kind::Media, 0},
        {"Track-01.flac", Kind::Media, 0}, // a file, whatever its name begins with
        {"x.flac.txt", Kind::Unknown, 0},
        {"x.xflac", Kind::Unknown, 0},
        {"/a.flac/notes", Kind::Unknown, 0},
        {"x.opus2", Kind::Unknown, 0},
        // A track of a disc image or a drive: DISC/Track-NN (the labels: TrackLabels below).
        {"/discs/album.cue/Track-03", Kind::Track, 3, "/discs/album.cue"},
        {"album.TOC/track-7", Kind::Track, 7, "album.TOC"},
        {"/dev/null/Track-12", Kind::Track, 12, "/dev/null"}, // a device node
        {"/discs/folder/Track-03", Kind::Unknown, 0}, // not a disc
        {"/Track-03", Kind::Unknown, 0},
        {"abc", Kind::Unknown, 0},
        {"Trac", Kind::Unknown, 0},
        {"notes.txt", Kind::Unknown, 0},
        {"", Kind::Unknown, 0},
    };
    for (const Case& c : cases) {
        const ConversionJob::SourceChoice choice = ConversionJob::ChooseSource(c.name);
        EXPECT_EQ(choice.kind, c.kind) << c.name;
        EXPECT_EQ(choice.track, c.track) << c.name;
        EXPECT_EQ(choice.disc, c.disc) << c.name;
    }
}

// Whether a name is a track label, and which track it names, is decided once: a plain source
// reads the first drive's track, DISC/label that disc's, and only a label gets ".mp3" appended
// for its output. A name that is not a label is a file name of no type the job reads.
TEST(ConversionJob, TrackLabels)
{
    constexpr int32_t kNotALabel = -1;
    const std::pair<const char*, int32_t> labels[] = {
        {"Track-00", 0}, {"Track-7", 7}, {"Track-07", 7}, {"Track-99", 99}, {"track-3", 3}, {"TRACK-03", 3},
        {"tRaCk-1", 1}, {"Track-100", kNotALabel}, {"Track-123", kNotALabel}, {"Track-", kNotALabel},
        {"Track", kNotALabel}, {"track", kNotALabel}, {"Track07", kNotALabel}, {"Track-3x", kNotALabel},
        {"Track-xy", kNotALabel}, {"Tracking.txt", kNotALabel}, {"Track--1", kNotALabel},
        {"Track- 3", kNotALabel}, {"Track-+3", kNotALabel}, {"Track-3 ", kNotALabel},
        {"Track_03", kNotALabel},
        {"Track-\xd9\xa3", kNotALabel}, // an Arabic-Indic three: digits are ASCII only
    };
    for (const auto& [label, track] : labels) {
        const bool isLabel = track != kNotALabel;
        const ConversionJob::SourceChoice plain = ConversionJob::ChooseSource(label);
        EXPECT_EQ(plain.kind, isLabel ? Kind::Track : Kind::Unknown) << label;
        EXPECT_EQ(plain.track, isLabel ? track : 0) << label;
        EXPECT_EQ(plain.disc, "") << label;
        const std::string onDisc = std::string("/discs/album.cue/") + label;
        const ConversionJob::SourceChoice ofDisc = ConversionJob::ChooseSource(onDisc);
        EXPECT_EQ(ofDisc.kind, isLabel ? Kind::Track : Kind::Unknown) << onDisc;
        EXPECT_EQ(ofDisc.track, isLabel ? track : 0) << onDisc;
        EXPECT_EQ(ofDisc.disc, isLabel ? "/discs/album.cue" : "") << onDisc;
        if (isLabel) {
            EXPECT_EQ(ConversionJob::TargetNameFor(label), std::string(label) + ".mp3");
            // What the window lists and the tool names outputs by reads back as the same track.
            EXPECT_EQ(ConversionJob::ChooseSource(TrackLabel::Format(track)).track, track) << label;
        } else {
            EXPECT_NE(ConversionJob::TargetNameFor(label), std::string(label) + ".mp3") << label;
        }
    }
    EXPECT_EQ(TrackLabel::Format(0), "Track-00");
    EXPECT_EQ(TrackLabel::Format(7), "Track-07");
    EXPECT_EQ(TrackLabel::Format(99), "Track-99");
}

TEST(ConversionJob, TargetNamesChooseTheEncoderAndFollowTheSource)
{
    EXPECT_EQ(ConversionJob::ChooseEncoderKind("song.mp3"), ConversionJob::kMp3Encoder);
    EXPECT_EQ(ConversionJob::ChooseEncoderKind("TUNE.WAV"), ConversionJob::kWaveEncoder);
    EXPECT_EQ(ConversionJob::ChooseEncoderKind("out.ogg"), 0);
    EXPECT_EQ(ConversionJob::ChooseEncoderKind("wa"), 0);

    const std::pair<const char*, const char*> targets[] = {
        {"song.wav", "song.mp3"}, {"Talk.WMA", "Talk.mp3"}, {"TUNE.MP3", "TUNE.wav"},
        {"Track-07", "Track-07.mp3"}, // not "Trackmp3"
        {"Track-07.wav", "Track-07.mp3"},
        // The other compressed types: the whole extension is replaced, whatever its length.
        {"song.flac", "song.mp3"}, {"a.opus", "a.mp3"}, {"x.AIFF", "x.mp3"}, {"t.au", "t.mp3"},
        {"v.wv", "v.mp3"}, {"my.song.m4a", "my.song.mp3"},
        {"notes.txt", "notes.mp3"}, // anything else: the last three characters
    };
    for (const auto& [source, target] : targets)
        EXPECT_EQ(ConversionJob::TargetNameFor(source), target) << source;
}

// A CD track in a chosen format is named after the title its disc gives it, made fit to be one
// name in a folder; without a usable title, and always under Auto, after its label.
TEST(ConversionJob, TrackFileNamesFromDiscTitles)
{
    const OutputFormat& wav = *OutputFormat::Find("wav");
    const OutputFormat& mp3 = *OutputFormat::Find("mp3");
    const std::string eAcute = "\xC3\xA9"; // two bytes of UTF-8
    std::string long300;
    for (int i = 0; i < 150; ++i)
        long300 += eAcute;
    // The name a 300-byte title leaves: the longest run of whole characters that fits.
    const size_t longRoom = TrackFileName::kLongestName - std::string("03 - .wav").size();
    const std::string longCut = long300.substr(0, longRoom / 2 * 2);
    const struct {
        std::string label;
        int32_t number; // on the disc
        std::string title;
        const OutputFormat* format;
        std::string name;
    } rows[] = {
        {"Track-00", 1, "Intro", &wav, "01 - Intro.wav"}, {"Track-00", 1, "Intro", &mp3, "01 - Intro.mp3"},
        {"Track-00", 1, "Intro", &OutputFormat::Auto(), "Track-00.mp3"}, // Auto as always
        // The disc's number, not the label's: a data track came first.
        {"Track-00", 2, "Intro", &wav, "02 - Intro.wav"},
        {"Track-09", 12, "Caf" + eAcute + " \xE2\x80\x94 Live", &wav,
            "12 - Caf\xC3\xA9 \xE2\x80\x94 Live.wav"},
        {"Track-00", 1, "AC/DC/..", &wav, "01 - AC_DC_.wav"},
        {"Track-00", 1, "../../etc/passwd", &wav, "01 - .._.._etc_passwd.wav"},
        {"Track-00", 1, std::string("A\0B", 3), &wav, "01 - A_B.wav"},
        {"Track-00", 1,
            "Tab\there\r\nbell\x07"
            "del\x7F",
            &wav, "01 - Tab_here__bell_del_.wav"},
        {"Track-00", 1, "C1\xC2\x85\xC2\x9Bx", &wav, "01 - C1__x.wav"}, // NEL, CSI
        {"Track-00", 1, "Latin-1 caf\xE9", &wav, "01 - Latin-1 caf_.wav"}, // not UTF-8
        {"Track-00", 1, ".hidden", &wav, "01 - .hidden.wav"},
        {"Track-00", 1, "  Spaced out . . ", &wav, "01 - Spaced out.wav"},
        {"Track-00", 1, "Trailing...", &wav, "01 - Trailing.wav"},
        {"Track-03", 3, long300, &wav, "03 - " + longCut + ".wav"}, {"Track-04", 5, "", &wav, "Track-04.wav"},
        {"Track-04", 5, ".", &wav, "Track-04.wav"}, {"Track-04", 5, "..", &wav, "Track-04.wav"},
        {"Track-04", 5, " . . ", &wav, "Track-04.wav"},
        {"Track-04", 0, "Intro", &wav, "Track-04.wav"}, // no number on the disc
    };
    for (const auto& row : rows) {
        const std::string name = TrackFileName::For(row.label, row.number, row.title, *row.format);
        EXPECT_EQ(name, row.name) << row.title;
        // Whatever the title: one name in a folder, whole UTF-8, within the length that leaves
        // room for the hidden name the output is first written under.
        EXPECT_EQ(name.find('/'), std::string::npos) << row.title;
        EXPECT_TRUE(std::none_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        })) << row.title;
        EXPECT_TRUE(Utf8::IsValid(name)) << row.title;
        EXPECT_LE(name.size(), TrackFileName::kLongestName) << row.title;
        EXPECT_LE(name.size() + std::string("..xxxxxxxx.part").size(), 255u) << row.title;
        EXPECT_NE(name.front(), '.') << row.title;
    }
    // The job's own names follow the same rule for a label without a title.
    EXPECT_EQ(ConversionJob::TargetNameFor("Track-04", wav), "Track-04.wav");
    EXPECT_EQ(ConversionJob::TargetNameFor("Track-04"), "Track-04.mp3");
}

// What a disc says of its tracks reaches the names: the number in its table of contents and the
// title of its CUE sheet, for a whole disc as for one track named DISC/Track-NN or Track-NN.
TEST(ConversionJob, DiscTracksCarryTheirNumberAndTitle)
{
    CdListSystemDrives(false);
    CdForgetRegisteredDrives();
    TempDir dir;
    CdTestDisc disc(dir.Path(), {{true, 30}, {false, 30}, {false, 45}, {false, 60}}, "titled");
    disc.WriteSheet("TITLE \"The Album\"\n", {"", "    TITLE \"Side/A\"\n", "", "    TITLE \"Coda\"\n"});
    const struct {
        int32_t number;
        const char* title;
        const char* name; // as WAV
    } expected[] = {{2, "Side/A", "02 - Side_A.wav"}, {3, "", "Track-01.wav"}, {4, "Coda", "04 - Coda.wav"}};
    std::string problem;
    const std::vector<ConversionJob::DiscTrack> tracks = ConversionJob::TracksOfDisc(disc.cuePath, problem);
    ASSERT_EQ(tracks.size(), std::size(expected)) << problem;
    const OutputFormat& wav = *OutputFormat::Find("wav");
    for (size_t k = 0; k < tracks.size(); ++k) {
        EXPECT_EQ(tracks[k].number, expected[k].number) << k;
        EXPECT_EQ(tracks[k].title, expected[k].title) << k;
        EXPECT_EQ(ConversionJob::TargetNameFor(tracks[k], wav), expected[k].name) << k;
        EXPECT_EQ(ConversionJob::TargetNameFor(tracks[k], OutputFormat::Auto()), tracks[k].label + ".mp3");
        EXPECT_EQ(ConversionJob::OutputNameOf(tracks[k].source, wav), expected[k].name) << k;
        EXPECT_EQ(
            ConversionJob::OutputNameOf(tracks[k].source, OutputFormat::Auto()), tracks[k].label + ".mp3");
    }
    // A bare label reads the first drive.
    ASSERT_TRUE(CdRegisterDrive(disc.cuePath));
    EXPECT_EQ(ConversionJob::OutputNameOf("Track-02", wav), "04 - Coda.wav");
    // A disc or track that cannot be read leaves the label's name; files keep their own rule.
    EXPECT_EQ(ConversionJob::OutputNameOf("Track-07", wav), "Track-07.wav");
    EXPECT_EQ(ConversionJob::OutputNameOf(dir.File("gone.cue") + "/Track-00", wav), "Track-00.wav");
    EXPECT_EQ(ConversionJob::OutputNameOf("/music/Song.flac", wav), "Song.wav");
    EXPECT_EQ(ConversionJob::OutputNameOf("/music/Song.flac", OutputFormat::Auto()), "Song.mp3");
    CdForgetRegisteredDrives();
}

TEST(ConversionJob, ProgressFigures)
{
    ConversionJob::Progress start = ConversionJob::ProgressFor(0.0, 90.5);
    EXPECT_EQ(start.range, 90);
    EXPECT_EQ(start.position, 0);
    EXPECT_EQ(start.percentText, "0%");

    ConversionJob::Progress half = ConversionJob::ProgressFor(45.25, 90.5);
    EXPECT_EQ(half.range, 90);
    EXPECT_EQ(half.position, 45);
    EXPECT_EQ(half.percentText, "50%");

    EXPECT_EQ(ConversionJob::ProgressFor(1.0, 3.0).percentText, "33%"); // truncated, not rounded

    // Longer than 65535 s: only the low 16 bits of the whole seconds make the range.
    const ConversionJob::Progress longOne = ConversionJob::ProgressFor(65000.0, 65536.0 + 90.7);
    EXPECT_EQ(longOne.range, 90);
    EXPECT_EQ(longOne.position, 65000);
    EXPECT_EQ(longOne.percentText, "99%");

    // A length that tells nothing: no division by it, an empty text and the bar at 0.
    for (double length : {0.0, -1.0, std::nan(""), HUGE_VAL}) {
        const ConversionJob::Progress none = ConversionJob::ProgressFor(12.0, length);
        EXPECT_EQ(none.range, 0) << length;
        EXPECT_EQ(none.position, 0) << length;
        EXPECT_EQ(none.percentText, "") << length;
    }
    const ConversionJob::Progress unknownPosition = ConversionJob::ProgressFor(-1.0, 10.0);
    EXPECT_EQ(unknownPosition.range, 10);
    EXPECT_EQ(unknownPosition.position, 0);
    EXPECT_EQ(unknownPosition.percentText, "");
    // Figures beyond the integer range are held at its end rather than overflowing.
    EXPECT_EQ(ConversionJob::ProgressFor(1e300, 1.0).position, INT32_MAX);
}

class ConversionJobRun : public ::testing::Test {
protected:
    ScopedMessages messages {true};
    TempDir dir;
    EncoderSet encoders;

    std::unique_ptr<ConversionJob> Job(
        const std::string& sourceName, const std::string& target, double rate = 22050)
    {
        auto job = std::make_unique<ConversionJob>(rate, encoders);
        job->sourceName = sourceName;
        job->targetName = target;
        job->outputDir = dir.Path().string() + "/";
        return job;
    }
};

// Memory that runs out in the middle of a job is a failure, not the end of the audio: the
// output is a valid file holding what came before, and the job says it failed.
TEST_F(ConversionJobRun, MemoryRunningOutMidwayKeepsAValidShorterFileAndFails)
{
    const std::string song = WriteSparseWav(dir.Path() / "long.wav", 600.0); // runs far longer than the test
    auto job = Job(song, "out.wav");
    ASSERT_EQ(job->Start(nullptr, false), Result::Started);
    WaitUntil([&] { return job->source->GetPosition() >= 1.0; });
    HeapFailAfter(20);
    job->Wait();
    HeapFailNever();
    EXPECT_FALSE(job->EncodeSucceeded());
    const uint32_t data = CompleteWavData(dir.File("out.wav"));
    EXPECT_GT(data, 0u);
    EXPECT_LT(data, 600u * 22050 * 2 / 10);
    const auto texts = messages->Texts();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
        [](const std::string& text) { return text.find("memory") != std::string::npos; }));
}

TEST_F(ConversionJobRun, ConstructionGivesTheMixerItsOutputFormat)
{
    ConversionJob job(44100, encoders);
    EXPECT_EQ(job.mixer.outputRate, 44100);
    EXPECT_EQ(job.mixer.GetFormat()->nSamplesPerSec, 44100u);
    EXPECT_EQ(job.mixer.GetFormat()->nChannels, 1);
    EXPECT_EQ(job.mixer.GetFormat()->wBitsPerSample, 16);
}

TEST_F(ConversionJobRun, UnknownSourceAndUnsupportedTargetLeaveTheJobReady)
{
    for (const char* name : {"abc", "notes.txt"}) {
        auto job = Job(name, "x.mp3");
        int calls = 0;
        EXPECT_EQ(job->Start([&] { ++calls; }, false), Result::UnknownSource);
        EXPECT_TRUE(job->mixer.entries.empty());
        EXPECT_FALSE(job->IsRunning());
        EXPECT_EQ(calls, 0);
        EXPECT_EQ(messages->Texts().back(), kUnknown);
    }
    EXPECT_EQ(encoders.encoderKind, 0);

    const std::string song = WriteToneWav(dir.Path() / "song.wav", 8000, 1, 1.0);
    auto job = Job(song, "out.ogg");
    EXPECT_EQ(job->Start(nullptr, false), Result::FormatNotSupported);
    EXPECT_EQ(messages->Texts().back(), "format not support!\n");
    EXPECT_EQ(job->mixer.entries.size(), 1u); // the source stays loaded
    EXPECT_NE(job->source, nullptr);
    // START again reloads the source instead of adding a second one.
    EXPECT_EQ(job->Start(nullptr, false), Result::FormatNotSupported);
    EXPECT_EQ(job->mixer.entries.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.ogg")));
}

// A source that cannot be read, or whose format nothing converts, is refused before the output
// is touched: the message names the file and says why, and an existing output stays as it was.
TEST_F(ConversionJobRun, SourceThatCannotBeOpenedOrConvertedStartsNothing)
{
    auto wav = [](WAVEFORMATEX format, std::vector<uint8_t> fmt = {}) {
        if (fmt.empty())
            fmt = FmtPayload(format);
        return Riff({Chunk("fmt ", fmt), Chunk("data", std::vector<uint8_t>(4000, 0x40))});
    };
    auto with = [](WAVEFORMATEX format, auto change) {
        change(format);
        return format;
    };
    const WAVEFORMATEX pcm = PcmFormat(2, 44100, 16);
    std::vector<uint8_t> shortExtra = FmtPayload(pcm, {}, true);
    shortExtra[16] = 200; // declares 200 extra bytes and holds none
    const struct {
        const char* name;
        std::vector<uint8_t> bytes; // empty: no file
        const char* reason;
    } cases[] = {
        {"missing.wav", {}, "No such file or directory"},
        {"missing.mp3", {}, "No such file or directory"},
        {"broken.wav", {'R', 'I', 'F', 'F', 1, 2}, "not a WAV file"},
        {"no-channels.wav", wav(with(pcm, [](auto& f) { f.nChannels = 0; })),
            "format not supported: 0 channels"},
        {"no-rate.wav", wav(with(pcm, [](auto& f) { f.nSamplesPerSec = 0; })), "a sample rate of 0 Hz"},
        {"no-bits.wav", wav(with(pcm, [](auto& f) { f.wBitsPerSample = 0; })), "0 bits per sample"},
        {"odd-align.wav", wav(with(pcm, [](auto& f) { f.nBlockAlign = 3; })), "block align 3"},
        {"unknown-tag.wav", wav(with(pcm, [](auto& f) { f.wFormatTag = 0x7777; })),
            "no decoder for format tag 0x7777"},
        {"extra-missing.wav", wav(pcm, shortExtra), "declares 200 extra bytes"},
        {"slow.wav", wav(PcmFormat(1, 50, 16)), "a sample rate of 50 Hz cannot be converted"},
    };
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    for (const auto& c : cases) {
        const std::string name = dir.File(c.name);
        if (!c.bytes.empty())
            WriteBytes(name, c.bytes);
        WriteBytes(dir.File("x.mp3"), old);
        auto job = Job(name, "x.mp3");
        int calls = 0;
        EXPECT_EQ(job->Start([&] { ++calls; }, false), Result::SourceNotOpened) << c.name;
        const std::string text = messages->Texts().back();
        EXPECT_EQ(text.rfind("can not open source file!\n" + name + ": ", 0), 0u) << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << text;
        EXPECT_EQ(job->source, nullptr);
        EXPECT_FALSE(job->IsRunning());
        EXPECT_EQ(calls, 0);
        EXPECT_EQ(ReadBytes(dir.File("x.mp3")), old) << c.name;
    }
}

TEST_F(ConversionJobRun, ConvertsWavToMp3AndReportsAfterTheFileIsComplete)
{
    const std::string song = WriteToneWav(dir.Path() / "Song.WAV", 44100, 2, 2.0);
    auto job = Job(song, "Song.mp3", 44100);
    std::atomic<int> calls {0};
    std::vector<uint8_t> atCompletion;
    EXPECT_EQ(job->Start(
                  [&] {
                      atCompletion = ReadBytes(job->OutputPath());
                      ++calls;
                  },
                  false),
        Result::Started);
    EXPECT_EQ(encoders.encoderKind, ConversionJob::kMp3Encoder);
    const ConversionJob::Progress start = job->StartProgress();
    EXPECT_EQ(start.range, 2);
    EXPECT_EQ(start.percentText, "0%");
    job->Wait();
    EXPECT_FALSE(job->IsRunning());
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(job->EncodeSucceeded());
    EXPECT_EQ(job->OutputPath(), dir.Path().string() + "/Song.mp3");
    // The callback saw the finished file, tag included.
    ASSERT_EQ(atCompletion, ReadBytes(job->OutputPath()));
    ASSERT_GT(atCompletion.size(), 128u);
    EXPECT_EQ(std::string(atCompletion.end() - 128, atCompletion.end() - 125), "TAG");

    DecodedAudio decoded;
    ASSERT_GE(DecodeMediaFile(job->OutputPath().c_str(), decoded), 0);
    EXPECT_EQ(decoded.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(decoded.format.nChannels, 1);
    const double seconds = decoded.pcm.size() / 2.0 / 44100.0;
    EXPECT_NEAR(seconds, 2.0, 0.1);
    const ConversionJob::Progress end = job->PollProgress();
    EXPECT_EQ(end.position, 2);
    EXPECT_EQ(end.percentText, "100%");
}

// A new thread starts with the vector registers of the thread that made it. A window whose
// drawing code left the upper halves of the AVX registers in use would hand that state to every
// worker, and the encoder library's SSE code and the maths library's AVX code would then pay a
// transition at each switch (an MP3 encoder's setup took ten times as long). The worker starts
// without it, whichever thread starts the job.
TEST_F(ConversionJobRun, TheWorkerStartsWithoutTheStartersUpperVectorState)
{
    if (!MarkUpperVectorStateInUse() || UpperVectorStateInUse() != 1)
        GTEST_SKIP() << "this processor cannot show the AVX registers' state";
    int inherited = -1;
    std::thread([&] { inherited = UpperVectorStateInUse(); }).join();
    if (inherited != 1)
        GTEST_SKIP() << "new threads start with the AVX registers unused here: nothing to carry along";

    const std::string song = WriteToneWav(dir.Path() / "song.wav", 44100, 2, 0.2);
    for (const char* target : {"song.mp3", "song.wav"}) {
        auto job = Job(song, target, 44100);
        std::atomic<int> seen {-1};
        job->onWorkerBegin = [&] { seen.store(UpperVectorStateInUse()); };
        ASSERT_TRUE(MarkUpperVectorStateInUse());
        ASSERT_EQ(job->Start(nullptr, false), Result::Started) << target;
        job->Wait();
        EXPECT_EQ(seen.load(), 0) << target;
        EXPECT_TRUE(job->EncodeSucceeded()) << target;
    }
}

TEST_F(ConversionJobRun, CompletionComesAlsoWhenTheOutputCannotBeOpened)
{
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 8000, 1, 0.5);
    auto job = Job(song, "song.mp3");
    job->outputDir = dir.File("no-such-folder") + "/";
    std::atomic<int> calls {0};
    ASSERT_EQ(job->Start([&] { ++calls; }, false), Result::Started);
    job->Wait();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(job->EncodeSucceeded());
    // The system's reason follows, so that a read-only folder does not read as a missing one.
    EXPECT_EQ(messages->Texts().back(),
        "open out file failed,\nplease check directory exists!\n" + job->OutputPath()
            + ": No such file or directory");
}

TEST_F(ConversionJobRun, DecliningToOverwriteKeepsTheFileAndStillCompletes)
{
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 8000, 1, 0.5);
    WriteBytes(dir.File("song.mp3"), {1, 2, 3});
    messages->ScriptAnswers({false});
    auto job = Job(song, "song.mp3");
    std::atomic<int> calls {0};
    ASSERT_EQ(job->Start([&] { ++calls; }, false), Result::Started);
    job->Wait();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(job->EncodeSucceeded());
    EXPECT_EQ(ReadBytes(dir.File("song.mp3")), (std::vector<uint8_t> {1, 2, 3}));
}

TEST_F(ConversionJobRun, AbortBeforeAnyJobCancelsAndAfterOneStopsOnlyTheIdleEncoder)
{
    auto job = Job("abc", "x.mp3");
    EXPECT_FALSE(job->Abort()); // no job has started with these encoders

    const std::string song = WriteToneWav(dir.Path() / "song.wav", 8000, 1, 1.0);
    auto first = Job(song, "first.wav", 8000);
    ASSERT_EQ(first->Start(nullptr, false), Result::Started);
    first->Wait();

    auto second = Job(song, "second.wav", 8000);
    EXPECT_TRUE(second->Abort()); // stops the idle encoder; nothing is cancelled
    // A stop before START belongs to no job: the next job converts all of its source.
    ASSERT_EQ(second->Start(nullptr, false), Result::Started);
    second->Wait();
    EXPECT_EQ(CompleteWavData(dir.File("second.wav")), CompleteWavData(dir.File("first.wav")));
    EXPECT_EQ(CompleteWavData(dir.File("second.wav")), 16000u);
}

TEST_F(ConversionJobRun, ReadsTheTrackTheLabelNames)
{
    CdListSystemDrives(false);
    CdForgetRegisteredDrives();
    std::vector<CdTestTrack> layout(13, CdTestTrack {false, 30});
    layout.insert(layout.begin(), CdTestTrack {true, 30}); // a data track is not counted
    CdTestDisc disc(dir.Path(), layout);
    ASSERT_TRUE(CdRegisterDrive(disc.cuePath));
    struct Case {
        const char* label;
        int32_t number; // 1-based among the audio tracks
    };
    for (const Case& c :
        {Case {"Track-07", 8}, Case {"TRACK-07", 8}, Case {"track-12", 13}, Case {"Track-00", 1}}) {
        auto job = Job(c.label, ConversionJob::TargetNameFor(c.label), 44100);
        ASSERT_EQ(job->Start(nullptr, false), Result::Started) << c.label;
        auto* track = dynamic_cast<CdTrackStream*>(job->source);
        ASSERT_NE(track, nullptr);
        ASSERT_NE(track->currentTrack.load(), nullptr);
        EXPECT_EQ(track->currentTrack.load()->number, c.number) << c.label;
        job->Wait();
        EXPECT_TRUE(job->EncodeSucceeded());
    }
    EXPECT_TRUE(std::filesystem::exists(dir.File("Track-07.mp3")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("TRACK-07.mp3")));
    auto missing = Job("Track-20", "Track-20.mp3");
    EXPECT_EQ(missing->Start(nullptr, false), Result::SourceNotOpened);
    // Not labels: no track is read for them, not even track 0.
    for (const char* name : {"Track-123", "Tracking.txt", "Track-3x"}) {
        auto job = Job(name, "not-a-track.mp3");
        EXPECT_EQ(job->Start(nullptr, false), Result::UnknownSource) << name;
        EXPECT_EQ(job->source, nullptr) << name;
    }
    CdForgetRegisteredDrives();
}

// A source DISC/Track-NN reads that disc, whichever drive comes first in the list; a plain
// label still reads the first. A disc or track that cannot be read is refused with its reason.
TEST_F(ConversionJobRun, ATrackOfANamedDiscIsReadFromThatDisc)
{
    CdListSystemDrives(false);
    CdForgetRegisteredDrives();
    CdTestDisc one(dir.Path(), {{false, 30}, {false, 45}}, "one");
    CdTestDisc two(dir.Path(), {{true, 20}, {false, 60}, {false, 90}}, "two");
    ASSERT_TRUE(CdRegisterDrive(one.cuePath)); // the first drive listed
    const std::pair<std::string, uint32_t> cases[] = {
        {two.cuePath + "/Track-01", 90},
        {one.cuePath + "/Track-01", 45},
        {two.cuePath + "/track-0", 60},
        {"Track-01", 45},
    };
    for (const auto& [source, frames] : cases) {
        auto job = Job(source, "t.wav", 44100);
        ASSERT_EQ(job->Start(nullptr, false), Result::Started) << source;
        job->Wait();
        EXPECT_TRUE(job->EncodeSucceeded()) << source;
        EXPECT_EQ(CompleteWavData(dir.File("t.wav")), frames * 588 * 2) << source; // mono, 44100 Hz
    }

    const std::pair<std::string, std::string> refused[] = {
        {two.cuePath + "/Track-02", "no such audio track, or the disc cannot be read"},
        {dir.File("gone.cue") + "/Track-00", "cannot be read as a CD drive or disc image"},
    };
    for (const auto& [source, reason] : refused) {
        auto job = Job(source, "t.wav", 44100);
        EXPECT_EQ(job->Start(nullptr, false), Result::SourceNotOpened) << source;
        EXPECT_EQ(messages->Texts().back(), "can not open source file!\n" + source + ": " + reason);
    }
    CdForgetRegisteredDrives();
}

TEST(ThreadPriority, IdlePriorityIsSetForTheCallingThreadOnly)
{
    EXPECT_FALSE(CurrentThreadHasIdlePriority());
    bool set = false;
    bool idle = false;
    std::thread lowered([&] {
        set = SetCurrentThreadIdlePriority();
        idle = CurrentThreadHasIdlePriority();
    });
    lowered.join();
    EXPECT_TRUE(set);
    EXPECT_TRUE(idle);
    EXPECT_FALSE(CurrentThreadHasIdlePriority());
}

TEST(ConversionJobThreads, AbortDuringAJobFinishesAShorterValidFile)
{
    ScopedMessages messages {true};
    TempDir dir;
    EncoderSet encoders;
    const std::string song = WriteSparseWav(dir.Path() / "long.wav", 3 * 3600.0);
    ConversionJob job(22050, encoders);
    job.sourceName = song;
    job.targetName = "long.mp3.wav"; // a WAV output: its header tells how much was written
    job.outputDir = dir.Path().string() + "/";
    std::atomic<int> calls {0};
    std::atomic<bool> runningInCallback {true};
    std::atomic<Result> startInCallback {Result::Started};
    ASSERT_EQ(job.Start(
                  [&] {
                      runningInCallback = job.IsRunning();
                      // Not running, yet still on the worker's thread: no second worker here.
                      startInCallback = job.Start(nullptr, false);
                      ++calls;
                  },
                  false),
        Result::Started);
    EXPECT_EQ(job.StartProgress().range, 10800);
    EXPECT_EQ(job.Start(nullptr, false), Result::AlreadyRunning);
    WaitUntil([&] { return job.PollProgress().position >= 2; });
    const ConversionJob::Progress during = job.PollProgress();
    EXPECT_EQ(during.range, 10800);
    EXPECT_FALSE(during.percentText.empty());
    EXPECT_TRUE(job.Abort());
    job.Wait();
    EXPECT_EQ(calls.load(), 1);
    // The callback is the signal that the job is over: whoever it wakes must find it so.
    EXPECT_FALSE(runningInCallback.load());
    EXPECT_EQ(startInCallback.load(), Result::AlreadyRunning);
    EXPECT_FALSE(job.IsRunning());
    const uint32_t bytes = CompleteWavData(job.OutputPath());
    // The source runs a little ahead of what reached the file; a second of it surely did.
    EXPECT_GE(bytes, 44100u);
    EXPECT_EQ(bytes % 2, 0u); // whole samples
    EXPECT_LT(bytes, 3 * 3600u * 44100u);
    EXPECT_TRUE(messages->Texts().empty());
}

TEST(ConversionJobThreads, JobsSharingEncodersRunOneAtATimeAndGoRightAfterAbort)
{
    ScopedMessages messages {true};
    TempDir dir;
    EncoderSet encoders;
    const std::string song = WriteSparseWav(dir.Path() / "long.wav", 3600.0);
    std::atomic<int> calls {0};
    {
        ConversionJob first(22050, encoders);
        first.sourceName = song;
        first.targetName = "first.mp3";
        first.outputDir = dir.Path().string() + "/";
        ASSERT_EQ(first.Start([&] { ++calls; }, false), Result::Started);

        ConversionJob second(22050, encoders);
        second.sourceName = song;
        second.targetName = "second.wav";
        second.outputDir = first.outputDir;
        EXPECT_EQ(second.Start([&] { ++calls; }, false), Result::AlreadyRunning);
        EXPECT_EQ(encoders.encoderKind, ConversionJob::kMp3Encoder);

        EXPECT_TRUE(first.Abort());
        // `first` goes here, right after ABORT, while its worker may still be writing: the
        // destructor waits, so the worker never reads a Mixer that is gone.
    }
    EXPECT_EQ(calls.load(), 1);
    const auto bytes = ReadBytes(dir.File("first.mp3"));
    ASSERT_GE(bytes.size(), 128u);
    EXPECT_EQ(std::string(bytes.end() - 128, bytes.end() - 125), "TAG");
    EXPECT_FALSE(std::filesystem::exists(dir.File("second.wav")));
}

} // namespace
