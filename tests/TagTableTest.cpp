// Every tag travels: one full tag set, written by mutagen into sources of eight containers, is
// converted by varkonel-convert into every format that carries tags and read back by mutagen
// (tests/support/tagtool.py), a reader that is not ours. The output must hold what the source
// holds, field by field and picture by picture, but for what the output's container rules
// change: Opus keeps loudness as R128 gains only, MP4 keeps no picture types.
#include "audio/FlacHead.h"
#include "audio/TagReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::string Shell(const std::string& command)
{
    const std::vector<uint8_t> output = CommandOutput(command);
    return std::string(output.begin(), output.end());
}

std::string Tool()
{
    return std::string("/usr/bin/python3 '") + VARKONEL_TEST_DATA_DIR + "/../support/tagtool.py'";
}

std::string Converter()
{
    return (fs::read_symlink("/proc/self/exe").parent_path() / "varkonel-convert").string();
}

// The full set: every kind of field a tagger writes, two artists, a full date, totals, a title
// with "/" and a line end (carried verbatim), loudness, a custom key.
const char* const kFields = R"([
  ["TITLE", ["A / title\nwith two lines"]], ["ARTIST", ["First Artist", "Second Artist"]],
  ["ALBUMARTIST", ["The Band"]], ["ALBUM", ["An Album"]], ["DATE", ["2001-05-03"]],
  ["TRACKNUMBER", ["4"]], ["TRACKTOTAL", ["12"]], ["DISCNUMBER", ["2"]], ["DISCTOTAL", ["3"]],
  ["GENRE", ["Rock"]], ["COMMENT", ["A comment"]], ["COMPOSER", ["A Composer"]],
  ["LYRICS", ["la la la"]], ["BPM", ["120"]], ["COMPILATION", ["1"]], ["ARTISTSORT", ["Artist, First"]],
  ["ALBUMSORT", ["Album, An"]], ["ALBUMARTISTSORT", ["Band, The"]], ["TITLESORT", ["Title, A"]],
  ["ISRC", ["USRC17607839"]], ["COPYRIGHT", ["2001 Label"]], ["LABEL", ["A Label"]],
  ["MUSICBRAINZ_TRACKID", ["0a1b2c3d-0000-4000-8000-000000000001"]],
  ["MUSICBRAINZ_ALBUMID", ["0a1b2c3d-0000-4000-8000-000000000002"]],
  ["MUSICBRAINZ_ARTISTID", ["0a1b2c3d-0000-4000-8000-000000000003"]],
  ["MUSICBRAINZ_RELEASEGROUPID", ["0a1b2c3d-0000-4000-8000-000000000004"]],
  ["REPLAYGAIN_TRACK_GAIN", ["-6.52 dB"]], ["REPLAYGAIN_TRACK_PEAK", ["0.988553"]],
  ["REPLAYGAIN_ALBUM_GAIN", ["-7.00 dB"]], ["REPLAYGAIN_ALBUM_PEAK", ["0.999000"]],
  ["MOOD", ["Calm"]]])";

class TagTable : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir.File(name); }

    // A one-second stereo source made by ffmpeg with `codec`, tagged by mutagen with `fields`
    // and the two covers (`id3` picks the ID3v2 version of an MP3).
    std::string Source(const std::string& name, const std::string& codec, const std::string& fields,
        const std::string& id3 = "")
    {
        const std::string file = Path(name);
        Shell("ffmpeg -nostdin -v error -f lavfi -i sine=f=440:d=1 -ac 2 " + codec + " '" + file + "'");
        std::ofstream(Path("spec.json")) << R"({"fields": )" << fields << R"(, "pictures": [
            {"type": 3, "mime": "image/jpeg", "description": "", "file": ")"
                                         << Path("front.jpg") << R"("},
            {"type": 4, "mime": "image/png", "description": "back", "file": ")"
                                         << Path("back.png") << R"("}]})";
        Shell(Tool() + " write '" + file + "' '" + Path("spec.json") + "' " + id3);
        return file;
    }

    // The output of `source` in `format`, converted in stereo unless told.
    std::string Convert(const std::string& source, const std::string& format, const std::string& options = "")
    {
        const fs::path out = dir.Path() / ("out-" + format);
        fs::create_directories(out);
        Shell("'" + Converter() + "' -q -y -c stereo " + options + " -f " + format + " -o '" + out.string()
            + "' '" + source + "' 2>&1");
        return (out / fs::path(source).stem()).string() + "." + format;
    }

    // mutagen's reading of `file`: its field lines (KEY=value) and picture lines, the rest
    // (container, technical fields) in `technical`. MP4 keeps no picture types.
    static std::vector<std::string> Dump(const std::string& file, std::string* technical = nullptr)
    {
        std::istringstream lines(Shell(Tool() + " dump '" + file + "'"));
        std::vector<std::string> kept;
        for (std::string line; std::getline(lines, line);) {
            const bool field = line.find('=') != std::string::npos && line.rfind("TECH ", 0) != 0
                && line.rfind("OPUS_OUTPUT_GAIN", 0) != 0 && line.rfind("OTHER ", 0) != 0
                && line.rfind("INFO ", 0) != 0
                // mutagen shows an MP3's ID3v1 comment as a comment frame of its own.
                && line.rfind("COMMENT:ID3V1 COMMENT=", 0) != 0;
            if (field || line.rfind("PICTURE ", 0) == 0)
                kept.push_back(line);
            else if (technical != nullptr)
                *technical += line + "\n";
        }
        return kept;
    }

    // What `source` lines become in a file of `format`: fields sorted by key as the dump sorts
    // them, then the pictures.
    static std::vector<std::string> Expected(
        const std::vector<std::string>& source, const std::string& format)
    {
        std::vector<std::string> fields, pictures;
        for (const std::string& line : source) {
            if (line.rfind("PICTURE ", 0) == 0)
                pictures.push_back(line);
            else if (format != "opus" || line.rfind("REPLAYGAIN_", 0) != 0)
                fields.push_back(line);
        }
        if (format == "opus") {
            fields.push_back("R128_ALBUM_GAIN=-3072"); // round((-7.00 - 5) x 256)
            fields.push_back("R128_TRACK_GAIN=-2949"); // round((-6.52 - 5) x 256)
        }
        std::stable_sort(fields.begin(), fields.end(), [](const std::string& a, const std::string& b) {
            return a.substr(0, a.find('=')) < b.substr(0, b.find('='));
        });
        fields.insert(fields.end(), pictures.begin(), pictures.end());
        return fields;
    }

    static size_t PictureCount(const std::vector<std::string>& lines)
    {
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
            [](const std::string& line) { return line.rfind("PICTURE", 0) == 0; }));
    }

    // Picture lines without their types, in any order, for comparing with an MP4 file.
    static std::vector<std::string> Untyped(std::vector<std::string> lines)
    {
        for (std::string& line : lines) {
            if (line.rfind("PICTURE ", 0) == 0)
                line = "PICTURE -" + line.substr(line.find(' ', 8));
        }
        std::sort(lines.end() - static_cast<long>(PictureCount(lines)), lines.end());
        return lines;
    }

    void SetUp() override
    {
        Shell("ffmpeg -nostdin -v error -f lavfi -i testsrc=s=64x48 -frames:v 1 '" + Path("front.jpg") + "'");
        Shell("ffmpeg -nostdin -v error -f lavfi -i color=c=blue:s=16x16 -frames:v 1 '" + Path("back.png")
            + "'");
    }

    TempDir dir;
};

TEST_F(TagTable, EverySourceContainerReachesEveryTaggedFormat)
{
    const struct {
        const char* name;
        const char* codec;
        const char* id3;
    } sources[] = {
        {"flac.flac", "-c:a flac", ""},
        {"id3v24.mp3", "-c:a libmp3lame", "--id3 4"},
        {"id3v23.mp3", "-c:a libmp3lame", "--id3 3"},
        {"aac.m4a", "-c:a aac", ""},
        {"vorbis.ogg", "-c:a libvorbis", ""},
        {"opus.opus", "-c:a libopus", ""},
        {"asf.wma", "-c:a wmav2", ""},
        {"wavpack.wv", "-c:a wavpack", ""},
    };
    for (const auto& row : sources) {
        const std::string source = Source(row.name, row.codec, kFields, row.id3);
        const std::vector<std::string> stated = Dump(source);
        // The source holds the whole set as mutagen reads it: 31 keys' values and two pictures.
        ASSERT_EQ(stated.size(), 34u) << row.name;
        for (const char* format : {"mp3", "flac", "opus", "ogg", "m4a"}) {
            SCOPED_TRACE(std::string(row.name) + " -> " + format);
            std::string technical;
            const std::vector<std::string> read = Dump(Convert(source, format), &technical);
            const bool mp4 = std::string(format) == "m4a" || std::string(row.name) == "aac.m4a";
            const std::vector<std::string> expected = Expected(stated, format);
            EXPECT_EQ(mp4 ? Untyped(read) : read, mp4 ? Untyped(expected) : expected);
            // The encoder field names this program; nothing the source's encoder wrote is carried.
            EXPECT_NE(technical.find("Varkonel "), std::string::npos) << technical;
            EXPECT_EQ(technical.find("Lavc"), std::string::npos) << technical;
            EXPECT_EQ(technical.find("ENCODER=Lavf"), std::string::npos) << technical;
        }
    }
}

// Loudness across containers and channel mixes; an untagged source; a field past the bounds.
// Listing and naming a library read only a FLAC file's head: its fields must be those the whole
// reading gives (pictures aside, whether they come before the comment or after it), and its
// length that of its STREAMINFO.
TEST_F(TagTable, AFlacHeadGivesWhatTheWholeFileGives)
{
    const std::string file = Source("head.flac", "-c:a flac", kFields);
    const auto lines = [](const TagSet& tags) {
        std::vector<std::string> out;
        for (const TagSet::Field& field : tags.Fields()) {
            for (const std::string& value : field.values)
                out.push_back(field.key + "=" + value);
        }
        return out;
    };
    const TagSet whole = TagReader::Read(file);
    ASSERT_FALSE(whole.Pictures().empty());
    EXPECT_EQ(lines(TagReader::ReadFields(file)), lines(whole));
    const std::optional<FlacHead> head = FlacHead::ReadFile(file);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->sampleRate, 44100u);
    EXPECT_EQ(head->channels, 2);
    EXPECT_EQ(head->totalSamples, 44100u);
    EXPECT_EQ(lines(TagReader::FieldsOfComment(head->comment)), lines(whole));
    Shell("metaflac --remove --block-type=VORBIS_COMMENT '" + file + "'");
    EXPECT_FALSE(FlacHead::ReadFile(file)->hasComment);
    EXPECT_TRUE(TagReader::ReadFields(file).Fields().empty());
}

TEST_F(TagTable, GainsFollowTheTargetAndTheChannels)
{
    const std::string opus = Source("r128.opus", "-c:a libopus",
        R"([["TITLE", ["Opus gains"]], ["R128_TRACK_GAIN", ["-512"]], ["R128_ALBUM_GAIN", ["256"]]])");
    const std::vector<std::string> fromOpus = Dump(Convert(opus, "flac"));
    EXPECT_NE(std::find(fromOpus.begin(), fromOpus.end(), "REPLAYGAIN_TRACK_GAIN=3.00 dB"), fromOpus.end());
    EXPECT_NE(std::find(fromOpus.begin(), fromOpus.end(), "REPLAYGAIN_ALBUM_GAIN=6.00 dB"), fromOpus.end());
    EXPECT_EQ(std::count_if(fromOpus.begin(), fromOpus.end(),
                  [](const std::string& line) { return line.rfind("R128_", 0) == 0; }),
        0);

    // Mixed to mono, the source's gains no longer hold: none is carried, the rest is.
    const std::string stereo = Source("gains.flac", "-c:a flac", kFields);
    for (const char* format : {"flac", "opus", "mp3"}) {
        const std::vector<std::string> mono = Dump(Convert(stereo, format, "-c mono"));
        EXPECT_EQ(std::count_if(mono.begin(), mono.end(),
                      [](const std::string& line) {
                          return line.rfind("REPLAYGAIN_", 0) == 0 || line.rfind("R128_", 0) == 0;
                      }),
            0)
            << format;
        EXPECT_NE(std::find(mono.begin(), mono.end(), "ARTIST=Second Artist"), mono.end()) << format;
    }

    // Nothing made up: an untagged source's output holds its title, its file's name, alone.
    const std::string plain = Path("Plain Song.flac");
    Shell("ffmpeg -nostdin -v error -f lavfi -i sine=d=1 -ac 2 -map_metadata -1 -fflags +bitexact '" + plain
        + "'");
    for (const char* format : {"flac", "m4a", "mp3"})
        EXPECT_EQ(Dump(Convert(plain, format)), std::vector<std::string> {"TITLE=Plain Song"}) << format;

    // A field over 1 MiB is left out of the output, with a note; the rest is carried.
    const std::string huge = Source("huge.flac", "-c:a flac",
        R"([["TITLE", ["Huge"]], ["NOTES", [")" + std::string((1 << 20) + 1, 'x') + R"("]]])");
    const std::vector<std::string> bounded = Dump(Convert(huge, "ogg"));
    EXPECT_EQ(std::count_if(bounded.begin(), bounded.end(),
                  [](const std::string& line) { return line.rfind("NOTES=", 0) == 0; }),
        0);
    EXPECT_NE(std::find(bounded.begin(), bounded.end(), "TITLE=Huge"), bounded.end());
}

} // namespace
