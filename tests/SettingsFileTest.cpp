#include "engine/SettingsFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

// The elements of `first` followed by those of `more`.
std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string>& more)
{
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

std::vector<uint8_t> Bytes(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(SettingsFile, DefaultSettingsWriteTheKnownTwentyFiveBytes)
{
    TempDir dir;
    SettingsFile file(dir.File("conv.ini"));
    ConversionSettings settings {"c:\\temp\\", "32KB", "stereo"};
    ASSERT_TRUE(file.Write(settings));
    EXPECT_EQ(ReadBytes(file.Path()),
        Bytes(std::string("\x05\x00\x08"
                          "c:\\temp\\"
                          "\x04"
                          "32KB"
                          "\x06"
                          "stereo"
                          "\x00\x00",
            25)));

    ConversionSettings back;
    ASSERT_TRUE(file.Read(back));
    EXPECT_EQ(back.outputDirectory, "c:\\temp\\");
    EXPECT_EQ(back.bitrate, "32KB");
    EXPECT_EQ(back.channelMode, "stereo");
}

// Elements 3 and 4 keep the output format and quality: what is written reads back, an older
// file (three elements, or 3 and 4 empty) reads as Auto, unknown texts read as the defaults,
// and the first three elements stay as a program that knows only them writes and reads them.
TEST(SettingsFile, FormatAndQualityRoundTripAndOlderFilesReadAsAuto)
{
    TempDir dir;
    const struct {
        std::vector<std::string> elements; // as stored
        const char* format; // as read
        const char* quality;
    } rows[] = {
        {{"/out/", "64KB", "mono"}, "", ""},
        {{"/out/", "64KB", "mono", "", ""}, "", ""},
        {{"/out/", "64KB", "mono", "mp3", "320"}, "mp3", "320"},
        {{"/out/", "64KB", "mono", "MP3", "v0"}, "mp3", "V0"},
        {{"/out/", "64KB", "mono", "wav", ""}, "wav", ""},
        {{"/out/", "64KB", "mono", "mp3"}, "mp3", ""},
        {{"/out/", "64KB", "mono", "mp3", "24"}, "mp3", ""},
        {{"/out/", "64KB", "mono", "opus", "128"}, "opus", "128"},
        {{"/out/", "64KB", "mono", "FLAC", "9"}, "flac", ""},
        {{"/out/", "64KB", "mono", "ape", "5"}, "", ""}, // a format the program does not know
        {{"/out/", "64KB", "mono", "auto", "V2"}, "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.elements.size() > 3 ? row.elements[3] : "three elements");
        SettingsFile file(dir.File("formats.ini"));
        WriteBytes(file.Path(), SettingsFile::Encode(row.elements));
        ConversionSettings read;
        ASSERT_TRUE(file.Read(read));
        EXPECT_EQ(read.outputDirectory, "/out/");
        EXPECT_EQ(read.format, row.format);
        EXPECT_EQ(read.quality, row.quality);
        // Written again, it reads the same and keeps the first three texts where they were.
        ASSERT_TRUE(file.Write(read));
        const std::vector<uint8_t> bytes = ReadBytes(file.Path());
        EXPECT_EQ(SettingsFile::Decode(bytes.data(), bytes.size()),
            (std::vector<std::string> {"/out/", "64KB", "mono", row.format, row.quality}));
        ConversionSettings again;
        ASSERT_TRUE(file.Read(again));
        EXPECT_EQ(again.format, row.format);
        EXPECT_EQ(again.quality, row.quality);
    }
}

// Element 5 keeps the number of files converted at once. A chosen number (1 to 8) is written as
// a sixth element and read back; anything else, and a file of three or five elements, reads as
// the default and is written again as five elements, byte for byte as before. A program that
// reads five elements reads the same first five either way.
TEST(SettingsFile, JobsRoundTripAndAnythingElseReadsAsTheDefault)
{
    TempDir dir;
    const std::vector<std::string> five {"/out/", "64KB", "mono", "mp3", "V0"};
    const auto with = [&](const std::vector<std::string>& extra) { return Joined(five, extra); };
    const struct {
        std::vector<std::string> elements; // as stored
        int jobs; // as read; 0: the default
    } rows[] = {
        {{"/out/", "64KB", "mono"}, 0},
        {five, 0},
        {with({""}), 0},
        {with({"1"}), 1},
        {with({"2"}), 2},
        {with({"8"}), 8},
        {with({"5", "later"}), 5},
        {with({"0"}), 0},
        {with({"9"}), 0},
        {with({"-1"}), 0},
        {with({"+3"}), 0},
        {with({" 3"}), 0},
        {with({"3 "}), 0},
        {with({"3x"}), 0},
        {with({"4294967299"}), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(
            row.elements.size() > 5 ? "'" + row.elements[5] + "'" : std::to_string(row.elements.size()));
        SettingsFile file(dir.File("jobs.ini"));
        WriteBytes(file.Path(), SettingsFile::Encode(row.elements));
        ConversionSettings read;
        read.jobs = 7; // what the file says replaces it
        ASSERT_TRUE(file.Read(read));
        EXPECT_EQ(read.jobs, row.jobs);
        EXPECT_EQ(read.Jobs(), row.jobs != 0 ? row.jobs : ConversionSettings::DefaultJobs());
        EXPECT_EQ(read.outputDirectory, "/out/");

        ASSERT_TRUE(file.Write(read));
        const std::vector<uint8_t> bytes = ReadBytes(file.Path());
        std::vector<std::string> expected {"/out/", "64KB", "mono", read.format, read.quality};
        EXPECT_EQ(SettingsFile::Decode(bytes.data(), bytes.size(), 5), expected);
        if (row.jobs != 0)
            expected.push_back(std::to_string(row.jobs));
        EXPECT_EQ(SettingsFile::Decode(bytes.data(), bytes.size(), 100), expected);
        ConversionSettings again;
        ASSERT_TRUE(file.Read(again));
        EXPECT_EQ(again.jobs, row.jobs);
    }
    // The default is the machine's processors within 1 to 8; a number that cannot be chosen is
    // not written.
    EXPECT_TRUE(ConversionSettings::IsJobCount(ConversionSettings::DefaultJobs()));
    for (int jobs : {-1, 0, 9, 64}) {
        SettingsFile file(dir.File("unchosen.ini"));
        ConversionSettings settings {"/out/", "64KB", "mono"};
        settings.jobs = jobs;
        EXPECT_EQ(settings.Jobs(), ConversionSettings::DefaultJobs()) << jobs;
        ASSERT_TRUE(file.Write(settings));
        EXPECT_EQ(ReadBytes(file.Path()), SettingsFile::Encode({"/out/", "64KB", "mono", "", ""})) << jobs;
    }
}

// Element 6 keeps the window's look. "System" (any letter case) is the desktop's own; missing,
// empty or anything else reads as "Striped", which is never written: the default file keeps its
// five elements, and a chosen number of jobs its sixth.
TEST(SettingsFile, LookRoundTripAndAnythingElseReadsAsStriped)
{
    TempDir dir;
    const std::vector<std::string> five {"/out/", "64KB", "mono", "", ""};
    const auto with = [&](const std::vector<std::string>& extra) { return Joined(five, extra); };
    const struct {
        std::vector<std::string> elements; // as stored
        bool system; // as read
        std::vector<std::string> written; // as written again
    } rows[] = {
        {five, false, five},
        {with({"3"}), false, with({"3"})},
        {with({"", "System"}), true, with({"", "System"})},
        {with({"4", "system"}), true, with({"4", "System"})},
        {with({"", "SYSTEM"}), true, with({"", "System"})},
        {with({"x", "System"}), true, with({"", "System"})},
        {with({"2", "Striped"}), false, with({"2"})},
        {with({"", ""}), false, five},
        {with({"", "Systems"}), false, five},
        {with({"", "Syst"}), false, five},
        {with({"", " System"}), false, five},
        {with({"", "System", "later"}), true, with({"", "System"})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(
            row.elements.size() > 6 ? "'" + row.elements[6] + "'" : std::to_string(row.elements.size()));
        SettingsFile file(dir.File("look.ini"));
        WriteBytes(file.Path(), SettingsFile::Encode(row.elements));
        ConversionSettings read;
        read.systemLook = !row.system; // what the file says replaces it
        ASSERT_TRUE(file.Read(read));
        EXPECT_EQ(read.systemLook, row.system);
        ASSERT_TRUE(file.Write(read));
        const std::vector<uint8_t> bytes = ReadBytes(file.Path());
        EXPECT_EQ(SettingsFile::Decode(bytes.data(), bytes.size(), 100), row.written);
        ConversionSettings again;
        ASSERT_TRUE(file.Read(again));
        EXPECT_EQ(again.systemLook, row.system);
        EXPECT_EQ(again.jobs, read.jobs);
    }
}

// Elements 7 to 10 keep the choices of library runs: the layout's key, the naming pattern and
// "1" for each of the two checks. Each is written only up to the last one that differs from its
// default, so that the design's files keep their bytes.
TEST(SettingsFile, LibraryChoicesRoundTripAndDefaultsAreNotWritten)
{
    TempDir dir;
    const std::vector<std::string> five {"/out/", "64KB", "mono", "", ""};
    const auto with = [&](const std::vector<std::string>& extra) { return Joined(five, extra); };
    const struct {
        std::vector<std::string> elements; // as stored
        std::vector<std::string> written; // as written again
    } rows[] = {
        {with({"", "", "flat"}), five},
        {with({"", "", "Mirror"}), with({"", "", "mirror"})},
        {with({"", "", "sideways", "{title}"}), with({"", "", "", "{title}"})},
        {with({"", "", "tags", "{albumartist}/{album}/[{disc}-][{track:02} ]{title}"}), with({"", "", "tags"})},
        {with({"2", "", "", "", "1"}), with({"2", "", "", "", "1"})},
        {with({"", "System", "beside", "", "yes", "1"}), with({"", "System", "beside", "", "", "1"})},
    };
    for (const auto& row : rows) {
        SettingsFile file(dir.File("library.ini"));
        WriteBytes(file.Path(), SettingsFile::Encode(row.elements));
        ConversionSettings read;
        ASSERT_TRUE(file.Read(read));
        ASSERT_TRUE(file.Write(read));
        const std::vector<uint8_t> bytes = ReadBytes(file.Path());
        EXPECT_EQ(SettingsFile::Decode(bytes.data(), bytes.size(), 100), row.written);
    }
    ConversionSettings tags;
    tags.layout = "tags";
    tags.namePattern = "{artist/";
    EXPECT_EQ(tags.ChosenLayout().PatternText(), NamePattern::kDefault); // a damaged pattern
}

TEST(SettingsFile, EveryLengthFormRoundTrips)
{
    // One byte below 255; 0xFF + u16 from 255 to 0xFFFD; 0xFF 0xFFFF + u32 from 0xFFFE on.
    for (size_t length : {0u, 254u, 255u, 0xFFFDu, 0xFFFEu, 0x10005u}) {
        const std::string text(length, 'd');
        const std::vector<uint8_t> bytes = SettingsFile::Encode({text, "x"});
        const size_t prefix = length < 255 ? 1 : length < 0xFFFE ? 3 : 7;
        EXPECT_EQ(bytes.size(), 2 + prefix + length + 2) << length;
        EXPECT_EQ(SettingsFile::Decode(bytes.data(), bytes.size()), (std::vector<std::string> {text, "x"}))
            << length;
    }
    // Sixteen-bit texts are read (and become UTF-8), including characters beyond 16 bits.
    const std::vector<uint8_t> wide {0x02, 0x00, 0xFF, 0xFE, 0xFF, 0x03, 0x34, 0x00, 0xE9, 0x00, 0xAC, 0x20,
        0xFF, 0xFE, 0xFF, 0x02, 0x3D, 0xD8, 0x00, 0xDE};
    EXPECT_EQ(SettingsFile::Decode(wide.data(), wide.size()),
        (std::vector<std::string> {"4\xC3\xA9\xE2\x82\xAC", "\xF0\x9F\x98\x80"}));
    // The long form of the count.
    const std::vector<uint8_t> longCount {0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x02, 'o', 'k'};
    EXPECT_EQ(SettingsFile::Decode(longCount.data(), longCount.size()), (std::vector<std::string> {"ok"}));
}

TEST(SettingsFile, DamagedFilesGiveWhatWasReadInFull)
{
    const std::vector<uint8_t> whole = SettingsFile::Encode({"/music/", "64KB", "mono", "", ""});
    // Every cut of the file: the texts complete before the cut, nothing made up after it.
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        const auto texts = SettingsFile::Decode(whole.data(), cut);
        const size_t complete = cut < 2 ? 0
            : cut < 10                  ? 0
            : cut < 15                  ? 1
            : cut < 20                  ? 2
            : cut < 21                  ? 3
            : cut < 22                  ? 4
                                        : 5;
        EXPECT_EQ(texts.size(), complete) << cut;
        const std::vector<std::string> expected {"/music/", "64KB", "mono", "", ""};
        for (size_t i = 0; i < texts.size(); ++i)
            EXPECT_EQ(texts[i], expected[i]);
    }
    // A length far beyond the file, a mark after a mark, a lone surrogate, a huge count.
    const std::vector<uint8_t> huge {
        0x05, 0x00, 0x02, 'o', 'k', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'x'};
    EXPECT_EQ(SettingsFile::Decode(huge.data(), huge.size()), (std::vector<std::string> {"ok"}));
    const std::vector<uint8_t> marks {0x02, 0x00, 0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0x01, 'A', 0};
    EXPECT_TRUE(SettingsFile::Decode(marks.data(), marks.size()).empty());
    const std::vector<uint8_t> lone {0x01, 0x00, 0xFF, 0xFE, 0xFF, 0x02, 0x00, 0xD8, 0x41, 0x00};
    EXPECT_EQ(SettingsFile::Decode(lone.data(), lone.size()),
        (std::vector<std::string> {"\xEF\xBF\xBD"
                                   "A"}));
    std::vector<uint8_t> many {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    many.resize(many.size() + SettingsFile::kElementCount + 2, 0x00);
    EXPECT_EQ(SettingsFile::Decode(many.data(), many.size()).size(),
        SettingsFile::kElementCount); // only what is used is read
}

TEST(SettingsFile, ReadingAssignsOnlyCompleteElementsAndDefaultsFillTheRest)
{
    TempDir dir;
    SettingsFile file(dir.File("conv.ini"));
    ConversionSettings missing {"keep", "", ""};
    EXPECT_FALSE(SettingsFile(dir.File("none.ini")).Read(missing));
    EXPECT_EQ(missing.outputDirectory, "keep");

    std::vector<uint8_t> bytes = SettingsFile::Encode({"/music/", "64KB", "mono", "", ""});
    bytes.resize(12); // ends inside the bitrate
    WriteBytes(file.Path(), bytes);
    ConversionSettings settings;
    ASSERT_TRUE(file.Read(settings));
    settings.ApplyDefaults();
    EXPECT_EQ(settings.outputDirectory, "/music/");
    EXPECT_EQ(settings.bitrate, "32KB");
    EXPECT_EQ(settings.channelMode, "stereo");

    WriteBytes(file.Path(), SettingsFile::Encode({"", "", ""}));
    ConversionSettings empty;
    ASSERT_TRUE(file.Read(empty));
    empty.ApplyDefaults();
    EXPECT_EQ(empty.outputDirectory, ConversionSettings::DefaultOutputDirectory());
    EXPECT_EQ(empty.outputDirectory.back(), '/');
    EXPECT_EQ(empty.outputDirectory, std::filesystem::temp_directory_path().string() + "/");
}

TEST(SettingsFile, WhatIsNotARegularFileIsReadAsNoFileAtOnce)
{
    TempDir dir;
    // Each makes something other than a regular file at the path.
    const std::pair<const char*, std::function<bool(const std::string&)>> cases[] = {
        {"FIFO", [](const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }},
        {"directory", [](const std::string& path) { return std::filesystem::create_directory(path); }},
        {"device", [](const std::string& path) { return symlink("/dev/zero", path.c_str()) == 0; }},
    };
    for (const auto& [kind, make] : cases) {
        const std::string path = dir.File(std::string(kind) + ".ini");
        ASSERT_TRUE(make(path)) << kind;
        ConversionSettings settings {"keep", "64KB", "mono"};
        auto read = std::async(std::launch::async, [&] { return SettingsFile(path).Read(settings); });
        const bool ended = read.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
        if (!ended && std::string(kind) == "FIFO") {
            // A reader waiting for a writer: give it one, so that the test ends.
            const int writer = open(path.c_str(), O_WRONLY);
            if (writer >= 0)
                close(writer);
        }
        EXPECT_TRUE(ended) << kind << " read for more than a second";
        EXPECT_FALSE(read.get()) << kind;
        EXPECT_EQ(settings.outputDirectory, "keep") << kind;
        EXPECT_EQ(settings.bitrate, "64KB") << kind;

        // Writing never waits on a FIFO and never writes through a link: the link is replaced.
        auto write = std::async(std::launch::async, [&] { return SettingsFile(path).Write(settings); });
        const bool written = write.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
        const int reader = written ? -1 : open(path.c_str(), O_RDONLY | O_NONBLOCK); // release it
        EXPECT_TRUE(written) << kind << " written for more than a second";
        write.wait();
        if (reader >= 0)
            close(reader);
        const bool link = std::string(kind) == "device";
        EXPECT_EQ(write.get(), link) << kind;
        EXPECT_EQ(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)), link) << kind;
    }
}

TEST(SettingsFile, BitrateTextsGiveTheOutputRate)
{
    const std::pair<const char*, double> rates[] = {{"32KB", 22050}, {"48KB", 33075}, {"64KB", 44100},
        {"80KB", 55125}, {"96KB", 66150}, {"112KB", 77175}, {"144KB", 99225}, {"160KB", 110250},
        {"192KB", 132300}, {"64kb", 22050}, {"128KB", 22050}, {"", 22050}, {" 64KB", 22050}};
    for (const auto& [text, rate] : rates)
        EXPECT_EQ(ConversionSettings::OutputRateFor(text), rate) << text;
}

TEST(SettingsFile, ChannelTextsGiveTheChannelCount)
{
    const std::pair<const char*, uint16_t> counts[] = {{"mono", 1}, {"MONO", 1}, {"Mono", 1}, {"stereo", 2},
        {"Stereo", 2}, {"", 2}, {"quad", 2}, {" mono", 2}};
    for (const auto& [text, count] : counts)
        EXPECT_EQ(ConversionSettings::ChannelsFor(text), count) << text;
}

TEST(SettingsFile, FileIsNamedAfterTheProgram)
{
    EXPECT_EQ(SettingsFile::PathFor("D:/Tools/conv.exe"), "D:/Tools/conv.ini");
    EXPECT_EQ(SettingsFile::PathFor("/opt/bin/varkonel"), "/opt/bin/varkonel.ini");
    EXPECT_EQ(SettingsFile::PathFor("/opt/my.dir/varkonel"), "/opt/my.dir/varkonel.ini");
}

TEST(SettingsFile, ThePlaceFollowsTheFileBesideTheProgramAndTheUsersFolder)
{
    const std::string beside = "/opt/bin/varkonel.ini";
    const std::string user = "/home/ann/.config/varkonel/varkonel.ini";
    const std::string xdg = "/xdg/varkonel/varkonel.ini";
    const struct {
        bool exists;
        bool writable;
        const char* configHome;
        const char* home;
        SettingsFile::Place place;
    } cases[] = {
        // A portable copy that can be written is kept using, whatever the environment says.
        {true, true, "", "/home/ann", {beside, ""}},
        {true, true, "/xdg", "/home/ann", {beside, ""}},
        // One that cannot be written gives the starting values of the user's file.
        {true, false, "", "/home/ann", {user, beside}},
        {true, false, "/xdg", "/home/ann", {xdg, beside}},
        // No copy beside the program: the user's file, with nothing to start from.
        {false, true, "", "/home/ann", {user, ""}},
        {false, false, "", "/home/ann", {user, ""}},
        {false, true, "/xdg", "/home/ann", {xdg, ""}},
        {false, false, "/xdg", "/home/ann", {xdg, ""}},
        // A relative XDG_CONFIG_HOME is not used; with no home either, the file beside the program.
        {false, false, "xdg", "/home/ann", {user, ""}},
        {false, false, "", "", {beside, ""}},
        {true, false, "", "", {beside, ""}},
    };
    for (const auto& each : cases) {
        const SettingsFile::Place place
            = SettingsFile::Choose(beside, each.exists, each.writable, each.configHome, each.home);
        EXPECT_EQ(place.path, each.place.path)
            << each.exists << each.writable << " '" << each.configHome << "' '" << each.home << "'";
        EXPECT_EQ(place.startingPath, each.place.startingPath)
            << each.exists << each.writable << " '" << each.configHome << "' '" << each.home << "'";
    }
}

TEST(SettingsFile, TheFirstRunStartsFromTheFileBesideTheProgramAndWritesTheUsersFile)
{
    TempDir dir;
    const std::string beside = dir.File("bin/varkonel.ini");
    std::filesystem::create_directories(dir.Path() / "bin");
    const std::vector<uint8_t> portable = SettingsFile::Encode({"/music/", "64KB", "mono", "", ""});
    WriteBytes(beside, portable);
    const std::string user = dir.File("config/varkonel/varkonel.ini");

    // The user's folder does not exist yet: read from the copy beside the program, write the
    // user's file (making its folder) and leave the copy as it was.
    SettingsFile file(user, beside);
    ConversionSettings settings;
    ASSERT_TRUE(file.Read(settings));
    EXPECT_EQ(settings.outputDirectory, "/music/");
    EXPECT_EQ(settings.channelMode, "mono");
    settings.bitrate = "96KB";
    std::string reason;
    ASSERT_TRUE(file.Write(settings, reason)) << reason;
    EXPECT_EQ(ReadBytes(user), SettingsFile::Encode({"/music/", "96KB", "mono", "", ""}));
    EXPECT_EQ(ReadBytes(beside), portable);

    // From then on the user's file is read.
    ConversionSettings again;
    ASSERT_TRUE(SettingsFile(user, beside).Read(again));
    EXPECT_EQ(again.bitrate, "96KB");

    // A user's file in the way that is not a regular file is not passed over for the copy.
    const std::string fifo = dir.File("fifo.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ConversionSettings untouched {"keep", "", ""};
    EXPECT_FALSE(SettingsFile(fifo, beside).Read(untouched));
    EXPECT_EQ(untouched.outputDirectory, "keep");

    // A folder that cannot be made gives the system's reason.
    WriteBytes(dir.File("plain"), {1});
    EXPECT_FALSE(SettingsFile(dir.File("plain/varkonel/varkonel.ini")).Write(settings, reason));
    EXPECT_EQ(reason, "Not a directory");
}

TEST(SettingsFile, TheRunningProgramsPlaceOnRealFolders)
{
    TempDir dir;
    const std::string saved = getenv("XDG_CONFIG_HOME") != nullptr ? getenv("XDG_CONFIG_HOME") : "";
    const bool wasSet = getenv("XDG_CONFIG_HOME") != nullptr;
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    const std::string user = dir.File("config/varkonel/varkonel.ini");

    std::filesystem::create_directories(dir.Path() / "bin");
    const std::string beside = dir.File("bin/varkonel.ini");
    EXPECT_EQ(SettingsFile::At(beside).Path(), user);
    EXPECT_EQ(SettingsFile::At(beside).StartingPath(), "");
    WriteBytes(beside, SettingsFile::Encode({"/music/"}));
    EXPECT_EQ(SettingsFile::At(beside).Path(), beside);

    // The program's own folder, as the window and the command-line tool find it.
    const std::filesystem::path own = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::string ownFile = (own / "varkonel.ini").string();
    EXPECT_EQ(
        SettingsFile::OfProgramBeside("varkonel").Path(), std::filesystem::exists(ownFile) ? ownFile : user);

    if (wasSet)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

} // namespace
