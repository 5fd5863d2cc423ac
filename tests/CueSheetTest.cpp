// CUE sheets: what a sheet states, in each encoding it comes in; the refusals of malformed sheets
// with their line numbers; and the files a sheet's FILE names are found as.
#include "audio/CueSheet.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// The sheet as lines of text: the disc, then a line per FILE and per track.
std::string Described(const CueSheet& sheet)
{
    std::string out = sheet.title + "|" + sheet.performer + "|" + sheet.songwriter + "|" + sheet.catalog;
    for (const CueSheet::Remark& remark : sheet.remarks)
        out += "|" + remark.key + "=" + remark.value;
    for (const CueSheet::File& file : sheet.files)
        out += "\nFILE " + file.name + " " + file.type;
    for (const CueSheet::Track& track : sheet.tracks) {
        out += "\n" + std::to_string(track.number) + " " + track.type + " " + track.title + "|"
            + track.performer + "|" + track.songwriter + "|" + track.isrc;
        for (const std::string& flag : track.flags)
            out += " " + flag;
        out += " pre " + CueSheet::TimeText(track.pregap) + " post " + CueSheet::TimeText(track.postgap);
        for (const CueSheet::Index& index : track.indexes)
            out += " " + std::to_string(index.number) + "@" + std::to_string(index.file) + ":"
                + CueSheet::TimeText(index.frames);
        for (const CueSheet::Remark& remark : track.remarks)
            out += " " + remark.key + "=" + remark.value;
    }
    return out;
}

constexpr const char* kOneTrack = "\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";

TEST(CueSheet, ReadsWhatTheSheetStatesInEachEncoding)
{
    const struct {
        const char* name;
        std::string bytes;
        const char* described;
    } rows[] = {
        {"two files, the second track's gap in the first",
            "REM GENRE \"Hard Rock\"\r\nREM DATE 1999\r\nREM DISCNUMBER 1\r\nREM TOTALDISCS 2\r\nCATALOG "
            "0724384260928\r\n"
            "performer \"The Band\"\r\nTITLE \"Live at \"The Club\"\"\r\nSONGWRITER Someone "
            "Else\r\nCDTEXTFILE \"x.cdt\"\r\n"
            "FILE Side A.wav WAVE\r\n  TRACK 01 AUDIO\r\n    TITLE \"One\"\r\n    FLAGS dcp PRE\r\n    ISRC "
            "GBAYE9900001\r\n"
            "    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    REM REPLAYGAIN_TRACK_GAIN -7.20 dB\r\n    "
            "INDEX 00 03:58:20\r\n"
            "FILE \"Side B.flac\" WAVE\r\n    INDEX 01 00:00:00\r\n    INDEX 02 01:00:00\r\n  TRACK 03 "
            "AUDIO\r\n"
            "    PREGAP 00:02:00\r\n    INDEX 01 102:30:74\r\n    POSTGAP 00:01:00\r\n",
            "Live at \"The Club\"|The Band|Someone Else|0724384260928|GENRE=Hard "
            "Rock|DATE=1999|DISCNUMBER=1|TOTALDISCS=2\n"
            "FILE Side A.wav WAVE\nFILE Side B.flac WAVE\n"
            "1 AUDIO One|||GBAYE9900001 DCP PRE pre 00:00:00 post 00:00:00 1@0:00:00:00\n"
            "2 AUDIO ||| pre 00:00:00 post 00:00:00 0@0:03:58:20 1@1:00:00:00 2@1:01:00:00 "
            "REPLAYGAIN_TRACK_GAIN=-7.20 dB\n"
            "3 AUDIO ||| pre 00:02:00 post 00:01:00 1@1:102:30:74"},
        {"Windows-1252 with CR line ends",
            "PERFORMER \"Bj\xF6rk \x93Live\x94\"\rFILE a.wav WAVE\rTRACK 1 AUDIO\rINDEX 1 0:00:00",
            "|Bj\u00F6rk \u201CLive\u201D||\nFILE a.wav WAVE\n1 AUDIO ||| pre 00:00:00 post 00:00:00 "
            "1@0:00:00:00"},
        {"UTF-8 after a byte-order mark",
            "\xEF\xBB\xBFTITLE \"Caf\xC3\xA9\"\nFILE \"a.ape\" wave" + std::string(kOneTrack),
            "Caf\u00E9|||\nFILE a.ape WAVE\n1 AUDIO ||| pre 00:00:00 post 00:00:00 1@0:00:00:00"},
    };
    for (const auto& row : rows) {
        std::string error;
        const std::optional<CueSheet> sheet = CueSheet::Parse(row.bytes, error);
        ASSERT_TRUE(sheet) << row.name << ": " << error;
        EXPECT_EQ(Described(*sheet), row.described) << row.name;
    }
}

TEST(CueSheet, RefusesMalformedSheetsNamingTheLine)
{
    const std::string file = "FILE \"a.flac\" WAVE\n";
    const struct {
        std::string bytes;
        const char* error;
    } rows[] = {
        {file + "INDEX 01 00:00:00\n", "line 2: INDEX without a TRACK"},
        {"TITLE x\r\nTRACK 01 AUDIO\r\n", "line 2: TRACK before any FILE"},
        {file + "TRACK 01 AUDIO\nINDEX 00 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:02:00\n",
            "line 2: TRACK 01 has no INDEX 01"},
        {file + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n", "line 4: TRACK 02 has no INDEX 01"},
        {file + "TRACK 01 AUDIO\nINDEX 01 04:00:00\nTRACK 02 AUDIO\nINDEX 01 03:59:74\n",
            "line 5: INDEX 01 at 03:59:74 comes before 04:00:00, stated earlier in the same FILE"},
        {file + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n",
            "line 5: TRACK 02 starts where TRACK 01 starts (00:00:00)"},
        {file + "TRACK 02 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n",
            "line 4: TRACK 02 after TRACK 02: track numbers must rise"},
        {file + "TRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 00 00:00:00\n",
            "line 4: INDEX 00 after INDEX 01: index numbers must rise"},
        {file + "TRACK 01 AUDIO\nINDEX 01 00:60:00\n",
            "line 3: INDEX needs a number (0 to 99) and a time (mm:ss:ff)"},
        {file + "TRACK 01 AUDIO\nPREGAP 00:00:75\n", "line 3: PREGAP needs a time (mm:ss:ff)"},
        {file + "TRACK 100 AUDIO\n", "line 2: TRACK needs a number (1 to 99) and a type"},
        {"FILE \"a.flac\n", "line 1: a quote is not closed"},
        {"FILE \"a.flac\"\n", "line 1: FILE needs a name and a type"},
        {file + "FILE \"b.flac\" WAVE" + kOneTrack, "line 1: FILE \"a.flac\" holds no INDEX"},
        {file + "TRACK 01 AUDIO\nTITLE \"a\0b\"\n"s, "line 3: a zero byte: the sheet is not text"},
        {file + "REM DATE 1999\n", "the sheet holds no TRACK"},
        {"\xFF\xFE" + file, "UTF-16 text, which is not read: save the sheet as UTF-8"},
        {file + kOneTrack + std::string(CueSheet::kLargestSheet, ' '),
            "over 1 MiB, too large for a CUE sheet"},
    };
    for (const auto& row : rows) {
        std::string error;
        EXPECT_FALSE(CueSheet::Parse(row.bytes, error)) << row.error;
        EXPECT_EQ(error, row.error);
    }
}

TEST(CueSheet, FindsEachFileByItsNameItsLetterCaseOrAnotherAudioExtension)
{
    const std::map<std::string, std::vector<std::string>> folders = {
        {"music",
            {"Album.flac", "album.flac", "Other.wav", "Album (1).wav", "Tape.ape", "Tape.wv", "Disc.cue",
                "Disc.APE"}},
        {"music/CD1", {"Two.FLAC"}},
        {"/elsewhere", {"x.wav"}},
    };
    const auto listing = [&](const std::string& folder) {
        const auto found = folders.find(folder);
        return found == folders.end() ? std::vector<std::string>() : found->second;
    };
    const struct {
        const char* name;
        const char* found; // or the error
    } rows[] = {
        {"Album.flac", "music/Album.flac"},
        {"tape.WV", "music/Tape.wv"},
        {"disc.wav", "music/Disc.APE"},
        {"CD1\\two.wav", "music/CD1/Two.FLAC"},
        {"D:\\Rips\\Disc.wav", "music/Disc.APE"},
        {"/elsewhere/x.wav", "/elsewhere/x.wav"},
        {"ALBUM.FLAC",
            "line 1: FILE \"ALBUM.FLAC\" is missing, and both \"Album.flac\" and \"album.flac\" could stand "
            "for it"},
        {"Tape.wav",
            "line 1: FILE \"Tape.wav\" is missing, and both \"Tape.ape\" and \"Tape.wv\" could stand for it"},
        {"Album (2).wav",
            "line 1: FILE \"Album (2).wav\" is not in music (nor in other letter case or with another audio "
            "extension)"},
    };
    for (const auto& row : rows) {
        std::string error;
        std::optional<CueSheet> sheet
            = CueSheet::Parse("FILE \"" + std::string(row.name) + "\" WAVE" + kOneTrack, error);
        ASSERT_TRUE(sheet) << error;
        const bool found = sheet->ResolveFiles("music", listing, error);
        EXPECT_EQ(found ? sheet->files[0].path : error, row.found) << row.name;
    }
}

TEST(CueSheet, ReadFindsFilesFromTheSheetsOwnFolder)
{
    const testing_support::TempDir dir;
    std::filesystem::create_directory(dir.Path() / "album");
    std::ofstream(dir.Path() / "album" / "Album.flac") << "audio";
    std::ofstream(dir.Path() / "album" / "album.cue") << "FILE \"album.wav\" WAVE" << kOneTrack;
    std::ofstream(dir.Path() / "large.cue") << std::string(CueSheet::kLargestSheet + 1, ' ');

    std::string error;
    const std::optional<CueSheet> sheet = CueSheet::Read(dir.File("album/album.cue"), error);
    ASSERT_TRUE(sheet) << error;
    EXPECT_EQ(sheet->files[0].path, dir.File("album/Album.flac"));
    EXPECT_FALSE(CueSheet::Read(dir.File("large.cue"), error));
    EXPECT_EQ(error, "over 1 MiB, too large for a CUE sheet");
    EXPECT_FALSE(CueSheet::Read(dir.File("album"), error));
    EXPECT_EQ(error, "not a regular file (a directory)");
}

} // namespace
