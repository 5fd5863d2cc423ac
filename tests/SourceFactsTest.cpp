// What a source is, for each way a source is named: a file, a disc image, one of its tracks as
// "DISC/Track-NN", a track label of the registered drive, and the names that give nothing.
#include "engine/SourceFacts.h"
#include "engine/BatchPlan.h"
#include "platform/cdrom/CdRom.h"
#include "support/CdTestDisc.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// The facts that tell entries apart, on one line for the failure messages.
std::string Summary(const SourceFacts& facts)
{
    return std::to_string(static_cast<int>(facts.kind)) + "|" + facts.source + "|" + facts.name + "|"
        + facts.disc + "|" + facts.problem + "|" + std::to_string(facts.seconds) + "|"
        + std::to_string(facts.bytes) + "|" + std::to_string(facts.discNumber) + "|" + facts.statedTitle;
}

std::vector<std::string> Summaries(const std::vector<SourceFacts>& entries)
{
    std::vector<std::string> lines;
    for (const SourceFacts& facts : entries)
        lines.push_back(Summary(facts));
    return lines;
}

SourceFacts Entry(SourceFacts::Kind kind, const std::string& source, const std::string& name,
    const std::string& disc, int64_t seconds, uint64_t bytes, int32_t number = 0,
    const std::string& title = "")
{
    SourceFacts facts;
    facts.kind = kind;
    facts.source = source;
    facts.name = name;
    facts.disc = disc;
    facts.seconds = seconds;
    facts.bytes = bytes;
    facts.discNumber = number;
    facts.statedTitle = title;
    return facts;
}

SourceFacts Refusal(const std::string& source, const std::string& problem)
{
    SourceFacts facts;
    facts.source = source;
    facts.name = fs::path(source).filename().string();
    facts.problem = problem;
    return facts;
}

} // namespace

TEST(SourceFacts, EveryFormOfSourceGivesItsEntries)
{
    TempDir dir;
    // Audio tracks of 100 and 300 frames around a data track; the first titled by the sheet.
    const CdTestDisc disc(dir.Path(), {{false, 100}, {true, 75}, {false, 300}}, "album");
    disc.WriteSheet("TITLE \"Album\"\n", {"    TITLE \"Opening\"\n"});
    const std::string cue = disc.cuePath;
    ASSERT_TRUE(CdRegisterDrive(cue)); // the drive a bare track label reads
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 22050, 1, 2.5);
    WriteBytes(dir.Path() / "broken.wav", {'R', 'I', 'F', 'F'});
    WriteBytes(dir.Path() / "notes.txt", {'x'});
    using Kind = SourceFacts::Kind;
    const SourceFacts first
        = Entry(Kind::CdTrack, cue + "/Track-00", "Track-00", cue, 1, 100 * 2352, 1, "Opening");
    const SourceFacts second = Entry(Kind::CdTrack, cue + "/Track-01", "Track-01", cue, 4, 300 * 2352, 3);
    SourceFacts broken = Entry(Kind::Wave, dir.File("broken.wav"), "broken.wav", "", -1, 4);
    broken.problem = SourceFacts::kNoLength;

    const struct {
        std::string source;
        std::vector<SourceFacts> entries;
    } rows[] = {
        {song, {Entry(Kind::Wave, song, "song.wav", "", 2, fs::file_size(song))}},
        {broken.source, {broken}},
        {cue, {first, second}},
        // A track of the image by the image's name, in any letter case: the image's own entry.
        {cue + "/track-1", {Entry(Kind::CdTrack, cue + "/track-1", "Track-01", cue, 4, 300 * 2352, 3)}},
        // A bare label reads the registered drive, under its two-digit label.
        {"TRACK-1", {Entry(Kind::CdTrack, "Track-01", "Track-01", "", 4, 300 * 2352, 3)}},
        {"Track-00", {Entry(Kind::CdTrack, "Track-00", "Track-00", "", 1, 100 * 2352, 1, "Opening")}},
        {"Track-07", {Refusal("Track-07", SourceFacts::kNoSuchTrack)}},
        {"Track-x", {Refusal("Track-x", BatchPlan::kTrackHint)}},
        {dir.File("gone.cue"), {Refusal(dir.File("gone.cue"), "cannot be read as a CD drive or disc image")}},
        {dir.File("notes.txt"), {Refusal(dir.File("notes.txt"), SourceFacts::kNotAudio)}},
        {dir.File("gone.wav"), {Refusal(dir.File("gone.wav"), "cannot be read: No such file or directory")}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Summaries(SourceFacts::Of(row.source)), Summaries(row.entries)) << row.source;
    CdForgetRegisteredDrives();
}

TEST(SourceFacts, OutputNamesAndTitlesComeFromTheFactsAlone)
{
    TempDir dir;
    const CdTestDisc disc(dir.Path(), {{false, 75}, {false, 150}}, "album");
    disc.WriteSheet("", {"    TITLE \"Side/A\"\n"});
    const std::vector<SourceFacts> tracks = SourceFacts::OfDisc(disc.cuePath);
    const std::string song = WriteToneWav(dir.Path() / "song.wav", 22050, 1, 1.0);
    // A file named by its extension alone is named, and titled, as its output is written.
    const std::string hidden = WriteToneWav(dir.Path() / ".wav", 22050, 1, 1.0);
    std::vector<SourceFacts> entries {SourceFacts::OfFile(song), SourceFacts::OfFile(hidden)};
    entries.insert(entries.end(), tracks.begin(), tracks.end());
    // The disc is gone: nothing below may read it.
    fs::remove(disc.cuePath);
    fs::remove(disc.binPath);
    const struct {
        const char* format;
        std::vector<std::string> names;
        std::vector<std::string> titles;
    } rows[] = {
        {"flac", {"song.flac", ".flac", "01 - Side_A.flac", "Track-01.flac"},
            {"song", ".flac", "Side/A", "Track-01"}},
        {"wav", {"song.wav", ".wav", "01 - Side_A.wav", "Track-01.wav"}, {"-", "-", "-", "-"}},
        {"auto", {"song.mp3", ".mp3", "Track-00.mp3", "Track-01.mp3"},
            {"song", ".mp3", "Side/A", "Track-01"}},
    };
    for (const auto& row : rows) {
        const OutputFormat* format = OutputFormat::Find(row.format);
        ASSERT_NE(format, nullptr) << row.format;
        std::vector<std::string> names;
        std::vector<std::string> titles;
        for (const SourceFacts& facts : entries) {
            names.push_back(facts.OutputName(*format));
            titles.push_back(facts.OutputTitle(*format));
        }
        EXPECT_EQ(names, row.names) << row.format;
        EXPECT_EQ(titles, row.titles) << row.format;
    }
}
