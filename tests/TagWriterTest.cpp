// The tags, covers and gapless information that TagWriter puts into FLAC, Ogg Vorbis, Opus and
// M4A files made by the media module's encoders. Each file is tagged through an unnamed
// descriptor, as the encoders' new output files are, and read back by two readers that players
// use, ffprobe and TagLib; the audio must decode to the very same samples before and after.
#include "encoders/TagWriter.h"
#include "platform/DescriptorFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>
#include <unistd.h>
#include <vector>

using namespace testing_support;

namespace {

struct Container {
    const char* label;
    TagContainer container;
    AudioCodec codec;
    uint32_t rate;
    int quality;
    const char* extension;
};

const Container kContainers[] = {
    {"FLAC", TagContainer::Flac, AudioCodec::Flac, 44100, 5, "flac"},
    {"Ogg Vorbis", TagContainer::OggVorbis, AudioCodec::Vorbis, 44100, 5, "ogg"},
    {"Opus", TagContainer::OggOpus, AudioCodec::Opus, 48000, 128, "opus"},
    {"M4A", TagContainer::Mp4, AudioCodec::Aac, 44100, 192, "m4a"},
};

bool IsXiph(const Container& container)
{
    return container.container != TagContainer::Mp4;
}

std::string Text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Pictures drawn by ffmpeg: small JPEG and PNG covers, and a PNG of noise of about 1 MB, which
// spans many Ogg pages and more than the room a FLAC muxer leaves for tags.
struct Picture {
    std::string mime;
    std::vector<uint8_t> bytes;
    const char* codec; // ffprobe's name for it
    int width, height;
};

Picture Draw(const TempDir& dir, const std::string& name, const std::string& source, const char* codec,
    int width, int height)
{
    const std::string file = dir.File(name);
    CommandOutput("ffmpeg -nostdin -v error -f lavfi -i '" + source + "' -frames:v 1 -pix_fmt "
        + (std::string(codec) == "png" ? "rgb24" : "yuvj420p") + " '" + file + "'");
    return {std::string("image/") + (std::string(codec) == "png" ? "png" : "jpeg"), ReadBytes(file), codec,
        width, height};
}

// The fields these cases write, each in one text as a simple tagger states them.
struct Texts {
    std::string title, artist, album, year, track, genre, comment;
    std::string coverMime;
    std::vector<uint8_t> cover;
};

// The same in the tag model: the track's number and total in fields of their own.
TagSet Model(const Texts& texts)
{
    TagSet tags;
    tags.Add("TITLE", texts.title);
    tags.Add("ARTIST", texts.artist);
    tags.Add("ALBUM", texts.album);
    tags.Add("DATE", texts.year);
    const size_t slash = texts.track.find('/');
    tags.Add("TRACKNUMBER", texts.track.substr(0, slash));
    tags.Add("TRACKTOTAL", slash == std::string::npos ? "" : texts.track.substr(slash + 1));
    tags.Add("GENRE", texts.genre);
    tags.Add("COMMENT", texts.comment);
    if (!texts.cover.empty())
        tags.AddPicture({TagSet::kFrontCover, texts.coverMime, "", texts.cover});
    return tags;
}

// A set of tags to write, what readers must show of it (texts that are not UTF-8 show U+FFFD
// where their bad bytes were), and the track number and total as separate texts.
struct Case {
    std::string label;
    Texts written;
    Texts shown;
    std::string trackNumber, trackTotal;
    const Picture* cover;
};

Texts Tags(const std::string& title, const std::string& artist, const std::string& album,
    const std::string& year, const std::string& track, const std::string& genre, const std::string& comment,
    const Picture* cover)
{
    Texts tags;
    tags.title = title;
    tags.artist = artist;
    tags.album = album;
    tags.year = year;
    tags.track = track;
    tags.genre = genre;
    tags.comment = comment;
    if (cover != nullptr) {
        tags.coverMime = cover->mime;
        tags.cover = cover->bytes;
    }
    return tags;
}

std::string Repeated(const std::string& text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

std::vector<Case> Cases(const Picture& jpeg, const Picture& png, const Picture& large)
{
    const Texts all = Tags("Song", "Artist", "Album", "1999", "7/12", "Rock", "A comment", &jpeg);
    const Texts unicode = Tags(Repeated("Ünïcødé 音楽 🎵 ", 150), "Ærtist Мастер", "Ålbum 日本語", "2024", "3",
        "Électro", Repeated("long comment ", 400), nullptr);
    const Texts bad = Tags("Caf\xE9 d\xC3",
        "\xFF\xFE"
        "Artist",
        "Al\x80"
        "bum",
        "2001", "1/2", "Ge\xC0\xAFnre", "ok", nullptr);
    const Texts badShown = Tags("Caf\xEF\xBF\xBD d\xEF\xBF\xBD",
        "\xEF\xBF\xBD\xEF\xBF\xBD"
        "Artist",
        "Al\xEF\xBF\xBD"
        "bum",
        "2001", "1/2", "Ge\xEF\xBF\xBD\xEF\xBF\xBDnre", "ok", nullptr);
    const Texts titleOnly = Tags("Only a title", "", "", "", "", "", "", nullptr);
    const Texts trackAlone = Tags("Seven", "", "", "", "7", "", "", nullptr);
    const Texts withPng = Tags("PNG cover", "Artist", "", "", "", "", "", &png);
    const Texts withLarge = Tags("Large cover", "", "", "", "12/12", "", "", &large);
    return {
        {"all fields and a JPEG cover", all, all, "7", "12", &jpeg},
        {"only a title", titleOnly, titleOnly, "", "", nullptr},
        {"non-ASCII and long texts", unicode, unicode, "3", "", nullptr},
        {"a track number without a total", trackAlone, trackAlone, "7", "", nullptr},
        {"a PNG cover", withPng, withPng, "", "", &png},
        {"texts that are not UTF-8", bad, badShown, "1", "2", nullptr},
        {"a 1 MB cover", withLarge, withLarge, "12", "12", &large},
    };
}

// The tags ffprobe shows for the file and its audio stream, by lower-case name.
std::map<std::string, std::string> ProbedTags(const std::string& file)
{
    std::istringstream lines(Text(CommandOutput("ffprobe -v error -select_streams a:0 -show_entries "
                                                "format_tags:stream_tags -of default=nw=1 '"
        + file + "'")));
    std::map<std::string, std::string> tags;
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (line.rfind("TAG:", 0) != 0 || equals == std::string::npos)
            continue;
        std::string key = line.substr(4, equals - 4);
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        tags[key] = line.substr(equals + 1);
    }
    return tags;
}

void ExpectProbedTags(const Container& container, const Case& set, const std::string& file)
{
    const std::map<std::string, std::string> probed = ProbedTags(file);
    const Texts& shown = set.shown;
    const std::string mp4Track
        = set.trackTotal.empty() ? set.trackNumber : set.trackNumber + "/" + set.trackTotal;
    const std::pair<const char*, std::string> expected[] = {
        {"title", shown.title},
        {"artist", shown.artist},
        {"album", shown.album},
        {"date", shown.year},
        {"track", IsXiph(container) ? set.trackNumber : mp4Track},
        {"tracktotal", IsXiph(container) ? set.trackTotal : ""},
        {"genre", shown.genre},
        {"comment", shown.comment},
    };
    for (const auto& [key, value] : expected) {
        const auto found = probed.find(key);
        if (value.empty())
            EXPECT_EQ(found, probed.end()) << key << " should be left out, is " << found->second;
        else if (found == probed.end())
            ADD_FAILURE() << key << " is missing";
        else
            EXPECT_EQ(found->second, value) << key;
    }
}

// ffprobe shows the cover as an attached picture stream; ffmpeg copies out its very bytes.
void ExpectProbedCover(const Case& set, const std::string& file)
{
    const std::string streams
        = Text(CommandOutput("ffprobe -v error -select_streams v -show_entries "
                             "stream=codec_name,width,height:stream_disposition=attached_pic "
                             "-of default=nw=1 '"
            + file + "'"));
    if (set.cover == nullptr) {
        EXPECT_EQ(streams, "");
        return;
    }
    EXPECT_EQ(streams,
        "codec_name=" + std::string(set.cover->codec) + "\nwidth=" + std::to_string(set.cover->width)
            + "\nheight=" + std::to_string(set.cover->height) + "\nDISPOSITION:attached_pic=1\n");
    EXPECT_TRUE(CommandOutput("ffmpeg -nostdin -v error -i '" + file + "' -map 0:v -c copy -f image2pipe -")
        == set.cover->bytes)
        << "the cover's bytes differ";
}

// What TagLib reads of a file.
struct TagLibView {
    std::map<std::string, std::string> fields; // the Vorbis comment names, or the MP4 atoms'
    std::vector<uint8_t> cover;
    std::string coverMime;
    int pictureType = -1;
    int width = 0, height = 0;
    int mp4CoverFormat = -1;
    std::string vendor;
    std::string gapless;
    bool valid = false;
};

std::string Utf8Of(const TagLib::String& text)
{
    return text.to8Bit(true);
}

void ReadXiph(TagLib::Ogg::XiphComment& comment, TagLibView& view)
{
    view.vendor = Utf8Of(comment.vendorID());
    for (const auto& [key, values] : comment.fieldListMap())
        view.fields[Utf8Of(key)] = Utf8Of(values.front());
}

void ReadPicture(const TagLib::List<TagLib::FLAC::Picture*>& pictures, TagLibView& view)
{
    if (pictures.isEmpty())
        return;
    const TagLib::FLAC::Picture& picture = *pictures.front();
    const TagLib::ByteVector data = picture.data();
    view.cover.assign(data.begin(), data.end());
    view.coverMime = Utf8Of(picture.mimeType());
    view.pictureType = picture.type();
    view.width = picture.width();
    view.height = picture.height();
}

void ReadMp4(TagLib::MP4::Tag& tag, TagLibView& view)
{
    for (const auto& [key, item] : tag.itemMap()) {
        if (key == "trkn")
            view.fields["trkn"]
                = std::to_string(item.toIntPair().first) + "," + std::to_string(item.toIntPair().second);
        else if (key == "covr" && !item.toCoverArtList().isEmpty()) {
            const TagLib::MP4::CoverArt art = item.toCoverArtList().front();
            const TagLib::ByteVector data = art.data();
            view.cover.assign(data.begin(), data.end());
            view.mp4CoverFormat = art.format();
        } else if (key == "----:com.apple.iTunes:iTunSMPB")
            view.gapless = Utf8Of(item.toStringList().front());
        else if (!item.toStringList().isEmpty())
            view.fields[Utf8Of(key)] = Utf8Of(item.toStringList().front());
    }
}

TagLibView ReadWithTagLib(const Container& container, const std::string& file)
{
    TagLibView view;
    if (container.container == TagContainer::Flac) {
        TagLib::FLAC::File flac(file.c_str(), false);
        view.valid = flac.isValid() && flac.xiphComment() != nullptr;
        if (view.valid) {
            ReadXiph(*flac.xiphComment(), view);
            ReadPicture(flac.pictureList(), view);
        }
    } else if (container.container == TagContainer::Mp4) {
        TagLib::MP4::File mp4(file.c_str(), false);
        view.valid = mp4.isValid() && mp4.tag() != nullptr;
        if (view.valid)
            ReadMp4(*mp4.tag(), view);
    } else {
        std::unique_ptr<TagLib::Ogg::File> ogg;
        TagLib::Ogg::XiphComment* comment = nullptr;
        if (container.container == TagContainer::OggOpus) {
            auto opus = std::make_unique<TagLib::Ogg::Opus::File>(file.c_str(), false);
            comment = opus->tag();
            ogg = std::move(opus);
        } else {
            auto vorbis = std::make_unique<TagLib::Ogg::Vorbis::File>(file.c_str(), false);
            comment = vorbis->tag();
            ogg = std::move(vorbis);
        }
        view.valid = ogg->isValid() && comment != nullptr;
        if (view.valid) {
            ReadXiph(*comment, view);
            ReadPicture(comment->pictureList(), view);
        }
    }
    return view;
}

void ExpectTagLibSees(const Container& container, const Case& set, const TagLibView& view)
{
    ASSERT_TRUE(view.valid);
    const Texts& shown = set.shown;
    const bool xiph = IsXiph(container);
    const std::string trkn = set.trackNumber.empty()
        ? ""
        : set.trackNumber + "," + (set.trackTotal.empty() ? "0" : set.trackTotal);
    const std::pair<const char*, std::string> expected[] = {
        {xiph ? "TITLE" : "\xC2\xA9nam", shown.title},
        {xiph ? "ARTIST"
              : "\xC2\xA9"
                "ART",
            shown.artist},
        {xiph ? "ALBUM"
              : "\xC2\xA9"
                "alb",
            shown.album},
        {xiph ? "DATE"
              : "\xC2\xA9"
                "day",
            shown.year},
        {xiph ? "TRACKNUMBER" : "trkn", xiph ? set.trackNumber : trkn},
        {xiph ? "TRACKTOTAL" : "(none)", xiph ? set.trackTotal : ""},
        {xiph ? "GENRE" : "\xC2\xA9gen", shown.genre},
        {xiph ? "COMMENT"
              : "\xC2\xA9"
                "cmt",
            shown.comment},
    };
    for (const auto& [key, value] : expected) {
        const auto found = view.fields.find(key);
        if (value.empty())
            EXPECT_EQ(found, view.fields.end()) << key << " should be left out";
        else if (found == view.fields.end())
            ADD_FAILURE() << key << " is missing";
        else
            EXPECT_EQ(found->second, value) << key;
    }
    if (set.cover == nullptr) {
        EXPECT_TRUE(view.cover.empty());
        return;
    }
    EXPECT_TRUE(view.cover == set.cover->bytes) << "TagLib reads other cover bytes";
    if (xiph) {
        EXPECT_EQ(view.pictureType, int(TagLib::FLAC::Picture::FrontCover));
        EXPECT_EQ(view.coverMime, set.cover->mime);
        EXPECT_EQ(view.width, set.cover->width);
        EXPECT_EQ(view.height, set.cover->height);
    } else {
        EXPECT_EQ(view.mp4CoverFormat,
            int(std::string(set.cover->codec) == "png" ? TagLib::MP4::CoverArt::PNG
                                                       : TagLib::MP4::CoverArt::JPEG));
    }
}

// The samples ffmpeg decodes from the file.
std::vector<uint8_t> Decoded(const std::string& file)
{
    return CommandOutput("ffmpeg -nostdin -v error -i '" + file + "' -map 0:a -f s16le -");
}

// A FLAC block as metaflac lists it, without its place among the blocks, which TagLib changes.
std::string MetaflacList(const std::string& file, const char* block)
{
    return Text(CommandOutput(std::string("metaflac --list --block-type=") + block + " '" + file
        + "' | grep -v '^METADATA block #'"));
}

// The payload of the file's edit list atom (elst), empty when it has none.
std::vector<uint8_t> EditList(const std::vector<uint8_t>& bytes)
{
    const std::string tag = "elst";
    const auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    if (at == bytes.end() || at - bytes.begin() < 4)
        return {};
    const size_t start = size_t(at - bytes.begin()) - 4;
    const size_t size = size_t(bytes[start]) << 24 | size_t(bytes[start + 1]) << 16
        | size_t(bytes[start + 2]) << 8 | bytes[start + 3];
    return std::vector<uint8_t>(
        bytes.begin() + long(start), bytes.begin() + long(std::min(start + size, bytes.size())));
}

// What must not change when tags are written: the decoded audio, the container's own length and
// seeking information, and an Ogg stream's soundness as libogg checks it (page sequence numbers,
// checksums; ogginfo's warnings).
struct AudioState {
    std::vector<uint8_t> decoded;
    std::string flacInfo, seekTable, vendor, oggWarnings;
    std::vector<uint8_t> editList;
};

AudioState StateOf(const Container& container, const std::string& file)
{
    AudioState state;
    state.decoded = Decoded(file);
    if (container.container == TagContainer::Flac) {
        CommandOutput("flac -t -s '" + file + "'");
        state.flacInfo = MetaflacList(file, "STREAMINFO");
        state.seekTable = MetaflacList(file, "SEEKTABLE");
    }
    if (container.container == TagContainer::Mp4)
        state.editList = EditList(ReadBytes(file));
    else
        state.vendor = ReadWithTagLib(container, file).vendor;
    if (container.container == TagContainer::OggOpus || container.container == TagContainer::OggVorbis)
        state.oggWarnings
            = Text(CommandOutput("ogginfo -q '" + file + "' 2>&1 | grep -v '^Processing\\|^$' || true"));
    return state;
}

void ExpectSameAudio(const AudioState& before, const AudioState& after)
{
    EXPECT_FALSE(before.decoded.empty());
    EXPECT_TRUE(after.decoded == before.decoded)
        << "decoded " << after.decoded.size() << " bytes, " << before.decoded.size() << " before";
    EXPECT_EQ(after.flacInfo, before.flacInfo);
    EXPECT_EQ(after.seekTable, before.seekTable);
    EXPECT_TRUE(after.editList == before.editList) << "the edit list changed";
    EXPECT_EQ(after.vendor, before.vendor);
    EXPECT_EQ(after.oggWarnings, before.oggWarnings);
}

class TagWriterTest : public ::testing::Test {
protected:
    // A file of `container` as its encoder writes it: 1.3 s of a tone and a few odd frames.
    std::vector<uint8_t> Encoded(const Container& container)
    {
        UnnamedFile file(dir.Path());
        const int64_t frames = int64_t(container.rate) * 13 / 10 + 7;
        EXPECT_EQ(
            EncodeTone(file.Descriptor(), container.codec, container.rate, container.quality, frames), "");
        return file.Bytes();
    }

    std::string Named(const std::string& stem, const Container& container, const std::vector<uint8_t>& bytes)
    {
        const std::string file = dir.File(stem + "." + container.extension);
        WriteBytes(file, bytes);
        return file;
    }

    TempDir dir;
};

TEST_F(TagWriterTest, EveryContainerCarriesEachTagSetAndKeepsItsAudio)
{
    const Picture jpeg = Draw(dir, "cover.jpg", "color=red:s=32x24", "mjpeg", 32, 24);
    const Picture png = Draw(dir, "cover.png", "color=blue:s=20x10", "png", 20, 10);
    const Picture large
        = Draw(dir, "large.png", "color=gray:s=640x640,noise=alls=100:allf=t", "png", 640, 640);
    ASSERT_GT(large.bytes.size(), 1000000u);
    const std::vector<Case> sets = Cases(jpeg, png, large);
    for (const Container& container : kContainers) {
        SCOPED_TRACE(container.label);
        const std::vector<uint8_t> encoded = Encoded(container);
        const AudioState before = StateOf(container, Named("before", container, encoded));
        for (const Case& set : sets) {
            SCOPED_TRACE(set.label);
            // Each set goes over a file that already has every field, which it replaces.
            UnnamedFile file(dir.Path());
            file.SetBytes(encoded);
            std::string reason;
            ASSERT_TRUE(
                TagWriter::Write(file.Descriptor(), container.container, Model(sets[0].written), {}, reason))
                << reason;
            ASSERT_TRUE(
                TagWriter::Write(file.Descriptor(), container.container, Model(set.written), {}, reason))
                << reason;
            EXPECT_EQ(reason, "");
            EXPECT_EQ(lseek(file.Descriptor(), 0, SEEK_CUR), 0) << "the descriptor's position moved";

            const std::string tagged = Named("tagged", container, file.Bytes());
            ExpectProbedTags(container, set, tagged);
            ExpectProbedCover(set, tagged);
            ExpectTagLibSees(container, set, ReadWithTagLib(container, tagged));
            ExpectSameAudio(before, StateOf(container, tagged));
        }
    }
}

TEST_F(TagWriterTest, AnM4aFileStatesItsGaplessLengthsInITunSMPB)
{
    const Container& m4a = kContainers[3];
    const std::vector<uint8_t> encoded = Encoded(m4a);
    const AudioState before = StateOf(m4a, Named("before", m4a, encoded));
    struct Row {
        GaplessInfo gapless;
        const char* text;
    } rows[] = {
        // The file's own: 57337 frames after the AAC encoder's 1024, in 57 frames of 1024.
        {{1024, 7, 57337},
            " 00000000 00000400 00000007 000000000000DFF9 00000000 00000000 00000000 00000000 00000000 "
            "00000000 00000000 00000000"},
        {{0xFFFFFFFF, 0, 0x123456789ABCDEF0},
            " 00000000 FFFFFFFF 00000000 123456789ABCDEF0 00000000 00000000 00000000 00000000 00000000 "
            "00000000 00000000 00000000"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        UnnamedFile file(dir.Path());
        file.SetBytes(encoded);
        std::string reason;
        ASSERT_TRUE(TagWriter::Write(file.Descriptor(), TagContainer::Mp4, TagSet {}, row.gapless, reason))
            << reason;
        const std::string tagged = Named("gapless", m4a, file.Bytes());
        EXPECT_EQ(ReadWithTagLib(m4a, tagged).gapless, row.text);
        EXPECT_EQ(ProbedTags(tagged)["itunsmpb"], row.text);
        ExpectSameAudio(before, StateOf(m4a, tagged));
    }
}

TEST_F(TagWriterTest, AFileItCannotWriteFailsWithTheReason)
{
    // The unnamed file, or a named copy open for one way only.
    enum class Access { Unnamed, ReadOnly, WriteOnly };
    const std::vector<uint8_t> vorbis = Encoded(kContainers[1]);
    const std::vector<uint8_t> m4a = Encoded(kContainers[3]);
    const std::string copy = Named("copy", kContainers[1], vorbis);
    struct Row {
        const char* label;
        const std::vector<uint8_t>* bytes;
        TagContainer container;
        Access access;
        const char* reason;
    } rows[] = {
        {"an Ogg Vorbis file as Opus", &vorbis, TagContainer::OggOpus, Access::Unnamed,
            "the new Opus file could not be read to write its tags"},
        {"an M4A file as FLAC", &m4a, TagContainer::Flac, Access::Unnamed,
            "the new FLAC file could not be read to write its tags"},
        {"a file open only for writing", &vorbis, TagContainer::OggVorbis, Access::WriteOnly,
            "the new Ogg Vorbis file could not be read to write its tags: the file could not be read (Bad "
            "file "
            "descriptor)"},
        {"a file open only for reading", &vorbis, TagContainer::OggVorbis, Access::ReadOnly,
            "the tags could not be written into the Ogg Vorbis file: the file could not be written (Bad file "
            "descriptor)"},
    };
    const Texts tags = Tags("Song", "Artist", "", "", "1/2", "", "", nullptr);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        UnnamedFile file(dir.Path());
        file.SetBytes(*row.bytes);
        const int descriptor = row.access == Access::Unnamed
            ? file.Descriptor()
            : open(copy.c_str(), (row.access == Access::ReadOnly ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
        std::string reason;
        EXPECT_FALSE(TagWriter::Write(descriptor, row.container, Model(tags), {}, reason));
        EXPECT_EQ(reason, row.reason);
        EXPECT_TRUE(file.Bytes() == *row.bytes);
        if (row.access != Access::Unnamed)
            close(descriptor);
    }
    EXPECT_TRUE(ReadBytes(copy) == vorbis);
}

// A cover larger than a FLAC metadata block can hold (its length has 24 bits) is left out, with
// a note, and the file stays valid; Ogg and MP4 files carry it.
TEST_F(TagWriterTest, ACoverTooLargeForAFlacBlockIsLeftOutWithANote)
{
    Texts tags = Tags("Huge cover", "", "", "", "", "", "", nullptr);
    tags.coverMime = "image/png";
    tags.cover.assign(TagSet::kLargestPicture, 0x5A);
    for (const Container& container : {kContainers[0], kContainers[1]}) {
        SCOPED_TRACE(container.label);
        const std::vector<uint8_t> encoded = Encoded(container);
        const AudioState before = StateOf(container, Named("before", container, encoded));
        UnnamedFile file(dir.Path());
        file.SetBytes(encoded);
        std::string reason;
        ASSERT_TRUE(TagWriter::Write(file.Descriptor(), container.container, Model(tags), {}, reason))
            << reason;
        const std::string tagged = Named("tagged", container, file.Bytes());
        TagLibView view = ReadWithTagLib(container, tagged);
        EXPECT_TRUE(view.valid);
        EXPECT_EQ(view.fields["TITLE"], "Huge cover");
        if (container.container == TagContainer::Flac) {
            EXPECT_EQ(reason,
                "a picture was left out: a FLAC picture block holds at most 16 MiB, and the picture has "
                "16777216 "
                "bytes");
            EXPECT_TRUE(view.cover.empty());
        } else {
            EXPECT_EQ(reason, "");
            EXPECT_TRUE(view.cover == tags.cover);
        }
        ExpectSameAudio(before, StateOf(container, tagged));
    }
}

// The bytes of a file after MoveTail(from, to): those before `to` stay (a gap beyond the old end
// reads as zeros), the tail follows; with no tail, the file is cut to `to` at most.
std::vector<uint8_t> Moved(const std::vector<uint8_t>& bytes, size_t from, size_t to)
{
    if (from == to)
        return bytes;
    std::vector<uint8_t> result(bytes.begin(), bytes.begin() + long(std::min(to, bytes.size())));
    if (from >= bytes.size())
        return result;
    result.resize(to, 0);
    result.insert(result.end(), bytes.begin() + long(from), bytes.end());
    return result;
}

// Moving the tail of a file, which TagLib asks for when tags grow or shrink, also for tails
// longer than the pieces it is moved in and for moves past the end.
TEST(DescriptorFile, MovingTheTailKeepsEveryByte)
{
    TempDir dir;
    std::mt19937 random(7);
    for (const size_t size : {size_t {0}, size_t {10}, size_t {3} << 20}) {
        std::vector<uint8_t> bytes(size);
        for (uint8_t& byte : bytes)
            byte = uint8_t(random());
        const std::pair<size_t, size_t> moves[] = {{0, 5}, {3, 0}, {size / 2, size / 2 + 1000001},
            {size / 2 + 1000001, size / 2}, {size, size + 9}, {size + 4, 2}, {1, 1}, {2, size + 20}};
        for (const auto& [from, to] : moves) {
            SCOPED_TRACE(std::to_string(size) + ": " + std::to_string(from) + " to " + std::to_string(to));
            UnnamedFile file(dir.Path());
            file.SetBytes(bytes);
            DescriptorFile moved(file.Descriptor());
            ASSERT_TRUE(moved.MoveTail(int64_t(from), int64_t(to))) << moved.Failure();
            const std::vector<uint8_t> expected = Moved(bytes, from, to);
            EXPECT_TRUE(file.Bytes() == expected)
                << file.Bytes().size() << " bytes, " << expected.size() << " expected";
        }
    }
}

} // namespace
