// Tags from sources of every kind reach both ID3 tags of the MP3 a job writes. Sources are made
// with ffmpeg at test time; what the output holds is read back through FFmpeg's metadata API (the
// media layer's tag reader) and, for ID3v1, by byte offsets.
#include "audio/TagReader.h"
#include "encoders/Id3Tag.h"
#include "engine/ConversionJob.h"
#include "platform/cdrom/CdRom.h"
#include "support/CdTestDisc.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace testing_support;

namespace {

// The title every tagged source carries: accents, a letter that is two bytes in UTF-8, CJK and
// an emoji (a UTF-16 surrogate pair), and more than the 30 characters ID3v1 holds.
const std::string kTitle = "\xC3\x89t\xC3\xA9 Stra\xC3\x9F"
                           "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80 and a long tail";
// The same in Latin-1, cut to 30 characters: what the ID3v1 title field holds.
const std::string kTitleLatin1 = "\xC9t\xE9 Stra\xDF"
                                 "e ?? ? and a long tai";

class TagsRun : public ::testing::Test {
protected:
    ScopedMessages messages {true};
    TempDir dir;
    EncoderSet encoders;

    // Runs ffmpeg with `arguments` (already quoted for the shell); true when it succeeded.
    static bool Ffmpeg(const std::string& arguments)
    {
        return std::system(("ffmpeg -nostdin -v error -y " + arguments).c_str()) == 0;
    }

    // Converts `source` to `target` in the test folder; the output's bytes.
    std::vector<uint8_t> Convert(const std::string& source, const std::string& target)
    {
        ConversionJob job(22050, encoders);
        job.sourceName = source;
        job.targetName = target;
        job.outputDir = dir.Path().string() + "/";
        EXPECT_EQ(job.Start(nullptr, false), ConversionJob::StartResult::Started) << source;
        job.Wait();
        EXPECT_TRUE(job.EncodeSucceeded()) << source;
        return ReadBytes(dir.File(target));
    }

    static std::string Field(const std::vector<uint8_t>& file, size_t offset, size_t size)
    {
        const size_t tag = file.size() - Id3Tag::kVersion1Size;
        std::string text(file.begin() + static_cast<long>(tag + offset),
            file.begin() + static_cast<long>(tag + offset + size));
        return text.substr(0, text.find('\0'));
    }

    // Every text frame of the ID3v2.3 tag that opens `file` is UTF-16 with a byte-order mark, or
    // Latin-1 (dates, genres), the two encodings version 2.3 knows; the padding ends the frames.
    static void ExpectUtf16TextFrames(const std::vector<uint8_t>& file, const std::string& what)
    {
        ASSERT_GE(file.size(), 10u);
        ASSERT_EQ(std::string(file.begin(), file.begin() + 5), std::string("ID3\x03\x00", 5)) << what;
        const size_t end
            = 10 + (size_t {file[6]} << 21 | size_t {file[7]} << 14 | size_t {file[8]} << 7 | file[9]);
        ASSERT_LE(end, file.size());
        int textFrames = 0;
        for (size_t at = 10; at + 10 <= end && file[at] != 0;) {
            const std::string id(
                file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + 4));
            const size_t size = size_t {file[at + 4]} << 24 | size_t {file[at + 5]} << 16
                | size_t {file[at + 6]} << 8 | file[at + 7];
            ASSERT_LE(at + 10 + size, end) << what << " " << id;
            if (id[0] == 'T' && file[at + 10] != 0) {
                ++textFrames;
                EXPECT_EQ(file[at + 10], 1) << what << " " << id;
                EXPECT_EQ(file[at + 11], 0xFF) << what << " " << id;
                EXPECT_EQ(file[at + 12], 0xFE) << what << " " << id;
            }
            at += 10 + size;
        }
        EXPECT_GE(textFrames, 1) << what;
    }
};

// The value of `key` in ffprobe's JSON output (texts without quotes or backslashes only).
std::string JsonValue(const std::string& json, const std::string& key)
{
    const std::string opening = "\"" + key + "\": \"";
    const size_t start = json.find(opening);
    if (start == std::string::npos)
        return "(none)";
    const size_t from = start + opening.size();
    return json.substr(from, json.find('"', from) - from);
}

std::string Text(const std::vector<uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// Every source type's tags reach both tags of the MP3. Frames of 128 bytes and more (a cover of
// some KiB, a long comment, a long title in UTF-16) have their sizes as ID3v2.3 writes them,
// plain 32-bit numbers rather than ID3v2.4's seven bits to a byte: ffprobe reads them back.
TEST_F(TagsRun, SourceTagsReachBothId3TagsOfTheMp3)
{
    const std::string cover = dir.File("cover.png");
    ASSERT_TRUE(Ffmpeg("-f lavfi -i color=c=red:s=16x16 -frames:v 1 '" + cover + "'"));
    const std::string photo = dir.File("photo.jpg"); // a cover of real size
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=s=320x320 -frames:v 1 -q:v 2 '" + photo + "'"));
    ASSERT_GT(std::filesystem::file_size(photo), 8000u);
    const auto withCover = [](const std::string& file) {
        return "-i '" + file + "' -map 0:a -map 1 -c:v copy -disposition:v attached_pic ";
    };
    const std::string shortComment = "Said \xC3\x9F";
    std::string longComment = "Said \xC3\x9F:";
    while (longComment.size() < 260)
        longComment += " caf\xC3\xA9 and \xE6\x97\xA5\xE6\x9C\xAC";
    const struct {
        const char* name;
        std::string options; // codec and container options for ffmpeg
        const char* genre;
        uint8_t genreByte; // what ID3v1 holds for it
        std::string cover; // empty: none
        std::string comment;
        std::string commentLatin1; // what the ID3v1 comment field holds
    } rows[] = {
        {"src.mp3", withCover(cover) + "-c:a libmp3lame -id3v2_version 4", "Jazz", 8, cover, shortComment,
            "Said \xDF"},
        {"src.wma", "-c:a wmav2", "Rock", 17, "", shortComment, "Said \xDF"},
        {"src.flac", withCover(cover) + "-c:a flac", "Hip-Hop", 7, cover, shortComment, "Said \xDF"},
        {"src.ogg", "-c:a libvorbis", "Chiptune", Id3Tag::kUnlistedGenre, "", shortComment, "Said \xDF"},
        {"src.wav", "-c:a pcm_s16le", "classical", 32, "", shortComment, "Said \xDF"},
        {"large.flac", withCover(photo) + "-c:a flac", "Jazz", 8, photo, longComment,
            "Said \xDF: caf\xE9 and ?? caf\xE9 and"},
    };
    for (const auto& row : rows) {
        const std::string source = dir.File(row.name);
        std::ostringstream make;
        make << "-f lavfi -i sine=f=440:d=1 " << row.options << " -metadata title='" << kTitle
             << "' -metadata artist='Art\xC3\xA9mis' -metadata album='Albumen' -metadata date=2019-05-01"
             << " -metadata track=7/12 -metadata genre='" << row.genre << "' -metadata comment='"
             << row.comment << "'"
             << " '" << source << "'";
        ASSERT_TRUE(Ffmpeg(make.str())) << row.name;
        const std::string target = std::string(row.name) + ".mp3";
        const std::vector<uint8_t> file = Convert(source, target);
        ASSERT_GT(file.size(), Id3Tag::kVersion1Size) << row.name;

        const TagSet read = TagReader::Read(dir.File(target));
        EXPECT_EQ(read.First("TITLE"), kTitle) << row.name;
        EXPECT_EQ(read.First("ARTIST"), "Art\xC3\xA9mis") << row.name;
        EXPECT_EQ(read.First("ALBUM"), "Albumen") << row.name;
        EXPECT_EQ(read.First("DATE"), "2019-05-01") << row.name;
        EXPECT_EQ(read.First("TRACKNUMBER"), "7") << row.name;
        EXPECT_EQ(read.First("TRACKTOTAL"), "12") << row.name;
        EXPECT_EQ(read.First("GENRE"), row.genre) << row.name;
        EXPECT_EQ(read.First("COMMENT"), row.comment) << row.name;
        if (!row.cover.empty()) {
            const bool png = row.cover.size() > 4 && row.cover.compare(row.cover.size() - 4, 4, ".png") == 0;
            ASSERT_NE(read.Cover(), nullptr) << row.name;
            EXPECT_EQ(read.Cover()->mime, png ? "image/png" : "image/jpeg") << row.name;
            EXPECT_EQ(read.Cover()->bytes, ReadBytes(row.cover)) << row.name;
        } else {
            EXPECT_TRUE(read.Pictures().empty()) << row.name;
        }
        ExpectUtf16TextFrames(file, row.name);

        // ffprobe, a reader of our own choosing: the texts, and the cover as an attached picture.
        const std::string quoted = "'" + dir.File(target) + "'";
        const std::string tags = Text(CommandOutput(
            "ffprobe -v error -show_entries format_tags=title,artist,comment -of json " + quoted));
        EXPECT_EQ(JsonValue(tags, "title"), kTitle) << row.name << tags;
        EXPECT_EQ(JsonValue(tags, "artist"), "Art\xC3\xA9mis") << row.name << tags;
        EXPECT_EQ(JsonValue(tags, "comment"), row.comment) << row.name << tags;
        const std::string pictures = Text(CommandOutput("ffprobe -v error -select_streams v -show_entries "
                                                        "stream_disposition=attached_pic -of csv=p=0 "
            + quoted));
        if (!row.cover.empty()) {
            EXPECT_EQ(pictures, "1\n") << row.name;
            EXPECT_EQ(
                CommandOutput("ffmpeg -nostdin -v error -i " + quoted + " -map 0:v -c copy -f image2pipe -"),
                ReadBytes(row.cover))
                << row.name;
        } else {
            EXPECT_EQ(pictures, "") << row.name;
        }

        EXPECT_EQ(Field(file, 0, 3), "TAG") << row.name;
        EXPECT_EQ(Field(file, 3, 30), kTitleLatin1) << row.name;
        EXPECT_EQ(Field(file, 33, 30), "Art\xE9mis") << row.name;
        EXPECT_EQ(Field(file, 63, 30), "Albumen") << row.name;
        EXPECT_EQ(Field(file, 93, 4), "2019") << row.name;
        EXPECT_EQ(Field(file, 97, 28), row.commentLatin1) << row.name;
        EXPECT_EQ(file[file.size() - 3], 0) << row.name;
        EXPECT_EQ(file[file.size() - 2], 7) << row.name;
        EXPECT_EQ(file[file.size() - 1], row.genreByte) << row.name;
    }
}

// A source that states nothing: the ID3v2 title is the output's name, and the ID3v1 tag is the
// fixed one, titled with the start of the output path.
TEST_F(TagsRun, ASourceWithoutTagsKeepsTheFixedId3v1Tag)
{
    const std::string source = dir.File("plain.wav");
    ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=d=1 -map_metadata -1 -fflags +bitexact '" + source + "'"));
    const std::vector<uint8_t> file = Convert(source, "Plain Song.mp3");
    EXPECT_EQ(TagReader::Read(dir.File("Plain Song.mp3")).First("TITLE"), "Plain Song");
    ExpectUtf16TextFrames(file, "plain");
    const std::string path = dir.File("Plain Song.mp3");
    EXPECT_EQ(Field(file, 3, 30), path.substr(0, 30));
    EXPECT_EQ(Field(file, 33, 30), "Unknown artist");
    EXPECT_EQ(Field(file, 63, 30), "Unknown album");
    EXPECT_EQ(Field(file, 93, 4), "2003");
    EXPECT_EQ(Field(file, 97, 28), "");
    EXPECT_EQ(file[file.size() - 2], 1);
    EXPECT_EQ(file[file.size() - 1], 1);
}

// A CD track is titled by its label, or by the TITLE and PERFORMER lines of the image's sheet.
TEST_F(TagsRun, CdTracksAreTitledByLabelOrCueSheet)
{
    CdListSystemDrives(false);
    CdForgetRegisteredDrives();
    CdTestDisc disc(dir.Path(), {{false, 75}, {false, 75}});
    disc.WriteSheet("PERFORMER \"Disc Band\"\nTITLE \"Disc Album\"\n",
        {"", "    TITLE \"Second \xC3\xA9\"\n    PERFORMER \"Guest\"\n"});
    ASSERT_TRUE(CdRegisterDrive(disc.cuePath));

    const struct {
        const char* label;
        const char* title;
        const char* artist;
        const char* track;
    } rows[] = {{"Track-00", "Track-00", "Disc Band", "1"}, {"Track-01", "Second \xC3\xA9", "Guest", "2"}};
    for (const auto& row : rows) {
        const std::string target = std::string(row.label) + ".mp3";
        Convert(row.label, target);
        const TagSet read = TagReader::Read(dir.File(target));
        EXPECT_EQ(read.First("TITLE"), row.title) << row.label;
        EXPECT_EQ(read.First("ARTIST"), row.artist) << row.label;
        EXPECT_EQ(read.First("ALBUM"), "Disc Album") << row.label;
        EXPECT_EQ(read.First("TRACKNUMBER"), row.track) << row.label;
    }
    CdForgetRegisteredDrives();
}

} // namespace
