// Output names from tags: the pattern's parser and filler, and the names' cleaner as a property
// over random texts.
#include "engine/BatchPlan.h"
#include "engine/NamePattern.h"
#include "platform/FolderFileSystem.h"
#include "support/TestSupport.h"
#include "engine/SafeName.h"
#include "platform/Utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Joined(const std::vector<std::string>& components)
{
    std::string path;
    for (const std::string& component : components)
        path += (path.empty() ? "" : "/") + component;
    return path;
}

TagSet Tags(std::initializer_list<std::pair<const char*, const char*>> fields)
{
    TagSet tags;
    for (const auto& [key, value] : fields)
        tags.Add(key, value);
    return tags;
}

TEST(NamePattern, MalformedPatternsSayWhatAndWhere)
{
    const struct {
        const char* pattern;
        const char* error;
    } rows[] = {
        {"", "the pattern is empty"},
        {"{artist}/{albun}", "an unknown field \"albun\" at character 10"},
        {"{artist", "a \"{\" that is not closed at character 1"},
        {"a}b", "a \"}\" without its \"{\" at character 2"},
        {"[{disc}-[x]]", "a \"[\" inside a segment at character 9"},
        {"x]", "a \"]\" without its \"[\" at character 2"},
        {"Ä/[{disc}", "a \"[\" that is not closed at character 3"},
        {"{track:x}", "a number format \":x\" that is not two digits at character 1"},
        {"a//{title}", "an empty folder name at character 3"},
        {"/{title}", "an empty folder name at character 1"},
        {"{album}/", "an empty file name at character 8"},
    };
    for (const auto& row : rows) {
        std::string error;
        EXPECT_FALSE(NamePattern::Parse(row.pattern, error)) << row.pattern;
        EXPECT_EQ(error, row.error) << row.pattern;
    }
}

TEST(NamePattern, FillsFieldsWithFallbacksSegmentsAndPadding)
{
    const TagSet full = Tags({{"ALBUMARTIST", "The Band"}, {"ARTIST", "Singer"}, {"ALBUM", "Live/Loud"},
        {"TITLE", "Song: One?"}, {"TRACKNUMBER", "4/12"}, {"DISCNUMBER", "2"}, {"DATE", "2001-05-03"},
        {"GENRE", "Rock"}, {"COMPOSER", "Writer"}});
    const TagSet bare;
    const TagSet artistOnly = Tags({{"ARTIST", "Singer"}, {"TITLE", ".."}});
    const struct {
        const char* pattern;
        const TagSet* tags;
        SafeName::System system;
        const char* path;
    } rows[] = {
        {NamePattern::kDefault, &full, SafeName::System::Posix, "The Band/Live-Loud/2-04 Song: One?.opus"},
        {NamePattern::kDefault, &full, SafeName::System::Windows, "The Band/Live-Loud/2-04 Song_ One_.opus"},
        {NamePattern::kDefault, &bare, SafeName::System::Posix, "Unknown Artist/Unknown Album/notags.opus"},
        {NamePattern::kDefault, &artistOnly, SafeName::System::Posix, "Singer/Unknown Album/_.opus"},
        {"{year} - {album}/{track:03}{tracktotal}", &full, SafeName::System::Posix,
            "2001 - Live-Loud/00412.opus"},
        {"[{year}/]{date} {genre} {composer}", &full, SafeName::System::Posix,
            "2001/2001-05-03 Rock Writer.opus"},
        {"[{year}/]{artist}[ ({genre})]", &bare, SafeName::System::Posix, "_.opus"},
        {"{folder}/{filename}", &bare, SafeName::System::Posix, "Album 1/notags.opus"},
    };
    for (const auto& row : rows) {
        std::string error;
        const auto pattern = NamePattern::Parse(row.pattern, error);
        ASSERT_TRUE(pattern) << row.pattern << ": " << error;
        EXPECT_EQ(
            Joined(pattern->Fill(*row.tags, "music/Album 1/notags.flac", ".opus", row.system)), row.path)
            << row.pattern;
    }
}

// Whatever a tag holds, its name is one safe component: never a separator, a control character,
// a hidden or empty name, "." or "..", bytes that are not UTF-8, or more bytes than its room.
TEST(SafeName, AnyTextGivesOneSafeComponent)
{
    std::mt19937 random(35);
    // Separators, dots, spaces, what Windows refuses, controls (NUL too), UTF-8 of two, three and
    // four bytes, and bytes that are not UTF-8.
    const char kCharacters[] = "/\\.: *?\"<>|\x01\x7f\t ab\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5\x80\xFF\xC3";
    const std::string alphabet = std::string(kCharacters, sizeof kCharacters - 1) + std::string(1, '\0');
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const size_t length = random() % (round % 10 == 0 ? 400 : 12);
        for (size_t i = 0; i < length; ++i)
            text += alphabet[random() % alphabet.size()];
        for (const auto system : {SafeName::System::Posix, SafeName::System::Windows}) {
            const std::string folder = SafeName::Folder(text, system);
            const std::string file = SafeName::File(text, ".opus", system);
            ASSERT_LE(folder.size(), SafeName::kLongestComponent);
            ASSERT_LE(file.size(), SafeName::kLongestFileName);
            ASSERT_EQ(file.substr(file.size() - 5), ".opus");
            for (const std::string& name : {folder, file.substr(0, file.size() - 5)}) {
                ASSERT_TRUE(Utf8::IsValid(name)) << text;
                ASSERT_FALSE(name.empty() || name == "." || name == ".." || name.front() == '.') << text;
                ASSERT_NE(name.back(), ' ') << text;
                for (const char c : name) {
                    ASSERT_TRUE(c != '/' && c != '\\' && c != 0x7F && (static_cast<unsigned char>(c) >= 0x20))
                        << text;
                    if (system == SafeName::System::Windows) {
                        ASSERT_EQ(std::string(":*?\"<>|").find(c), std::string::npos) << text;
                    }
                }
            }
        }
    }
}

} // namespace

// On a FAT, exFAT or NTFS output folder (the file system's answer stubbed), names from tags keep
// to what Windows takes, and two names that differ only in letter case are one name there.
TEST(NamePattern, APlanForAWindowsFileSystemKeepsToItsNames)
{
    testing_support::TempDir dir;
    const auto tagged = [&dir](const std::string& name, const std::string& title) {
        const std::string file = dir.File(name);
        testing_support::CommandOutput("ffmpeg -nostdin -v error -f lavfi -i sine=d=0.1 -metadata artist=A "
                                       "-metadata album=B -metadata title='"
            + title + "' '" + file + "'");
        return SourcePaths::Source {file, std::string()};
    };
    const std::vector<SourcePaths::Source> sources {
        tagged("1.flac", "What? \"No\": <yes>|*"), tagged("2.flac", "Same"), tagged("3.flac", "SAME")};
    std::string error;
    const OutputLayout layout = *OutputLayout::Make(OutputLayout::Kind::Tags, "{title}", error);
    const std::string out = dir.File("out") + "/";
    for (const bool windows : {false, true}) {
        FolderFileSystem::SetAnswerForTests(windows);
        const std::vector<BatchItem> items = BatchPlan::Make(sources, out, OutputFormat::Auto(), layout);
        FolderFileSystem::SetAnswerForTests(std::nullopt);
        ASSERT_EQ(items.size(), 3u);
        EXPECT_EQ(items[0].targetName, windows ? "What_ _No__ _yes___.mp3" : "What? \"No\": <yes>|*.mp3");
        EXPECT_TRUE(items[1].refusal.empty());
        EXPECT_EQ(items[2].refusal.empty(), !windows) << items[2].refusal;
    }
}
