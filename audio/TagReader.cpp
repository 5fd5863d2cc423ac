#include "audio/TagReader.h"

#include "audio/CoverImage.h"
#include "audio/DescriptorTagStream.h"
#include "audio/FlacHead.h"
#include "platform/Diagnostics.h"
#include "platform/Utf8.h"
#include "platform/RegularFile.h"
#include "platform/media/MediaMetadata.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <string_view>
#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tdebuglistener.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

namespace {

// TagLib reports the faults of damaged files on standard error; a converter says in its own
// words what it could not read, so those reports are dropped.
class QuietListener : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String&) override { }
};

void SilenceTagLib()
{
    static QuietListener listener;
    static const bool silenced = (TagLib::setDebugListener(&listener), true);
    (void)silenced;
}

// The model's first fields, in the order a person reads them; the rest follow by name.
constexpr std::array kLeadingKeys {"TITLE", "ARTIST", "ALBUMARTIST", "ALBUM", "DATE", "TRACKNUMBER",
    "TRACKTOTAL", "DISCNUMBER", "DISCTOTAL", "GENRE", "COMMENT", "COMPOSER"};

// Fields that describe the source file, not the music: the output gets its own or none.
bool Technical(const std::string& key)
{
    static constexpr std::array kKeys {"ENCODER", "ENCODING", "ENCODERSETTINGS", "ENCODER SETTINGS",
        "ENCODER OPTIONS", "ENCODED_BY_TOOL", "ITUNSMPB", "ITUNNORM", "ITUNPGAP", "LENGTH",
        "WAVEFORMATEXTENSIBLE_CHANNEL_MASK", "WM/ENCODINGSETTINGS", "WM/ENCODINGTIME", "WM/TOOLNAME",
        "WM/TOOLVERSION", "VENDOR"};
    return std::find(kKeys.begin(), kKeys.end(), key) != kKeys.end();
}

// Names some containers use for the model's keys.
std::string ModelKey(const std::string& key)
{
    if (key == "TOTALTRACKS")
        return "TRACKTOTAL";
    if (key == "TOTALDISCS")
        return "DISCTOTAL";
    return key;
}

std::string Utf8Of(const TagLib::String& text)
{
    return text.to8Bit(true);
}

std::string ContainerName(const TagLib::IOStream& stream)
{
    const char* name = stream.name();
    return name == nullptr || *name == '\0' ? std::string("the source") : std::string(name);
}

// UTF-8 as TagLib reads it: each byte that is not part of a well-formed sequence becomes U+FFFD.
std::string WellFormed(std::string text)
{
    if (Utf8::IsValid(text))
        return text;
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const char32_t point = Utf8::Next(text, at);
        Utf8::Append(out, point == Utf8::kNotUtf8 ? 0xFFFD : point);
    }
    return out;
}

// Collects what a reader finds, keeping the model's bounds and saying what was left out.
class Collector {
public:
    explicit Collector(std::string fileName)
        : fileName(std::move(fileName))
    { }

    void Add(const std::string& rawKey, std::string value)
    {
        const std::string key = ModelKey(TagSet::KeyOf(rawKey));
        if (key.empty() || value.empty() || Technical(key))
            return;
        if (value.size() > TagSet::kLargestValue) {
            Note("the tag field " + key + " (" + std::to_string(value.size())
                + " bytes) was left out: a field holds at most 1 MiB");
            return;
        }
        tags.Add(key, std::move(value));
    }

    void AddPicture(uint8_t type, std::string mime, std::string description, std::vector<uint8_t> bytes)
    {
        if (bytes.empty())
            return;
        if (bytes.size() > TagSet::kLargestPicture) {
            Note("a picture (" + std::to_string(bytes.size())
                + " bytes) was left out: a picture holds at most 16 MiB");
            return;
        }
        if (mime.empty())
            mime = CoverImage::Of("", bytes).mime;
        pictures.push_back({type, std::move(mime), std::move(description), std::move(bytes)});
    }

    void AddPicture(uint8_t type, std::string mime, std::string description, const TagLib::ByteVector& data)
    {
        const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
        AddPicture(
            type, std::move(mime), std::move(description), std::vector<uint8_t>(bytes, bytes + data.size()));
    }

    bool Has(const char* key) const { return !tags.Values(key).empty(); }
    bool Holds(const std::string& key, const std::string& value) const
    {
        const std::vector<std::string>& values = tags.Values(key);
        return std::find(values.begin(), values.end(), value) != values.end();
    }

    TagSet Finished();

private:
    void Note(const std::string& text) { Diagnostics::Write((fileName + ": " + text + "\n").c_str()); }

    std::string fileName;
    TagSet tags;
    std::vector<TagSet::Picture> pictures; // each within the bounds
};

// "4/12" states the number and the total in one field: the total goes to its own field unless
// the source states that too. A total of 0 states none.
void SplitNumber(TagSet& tags, const char* numberKey, const char* totalKey)
{
    const std::string number = tags.First(numberKey);
    const size_t slash = number.find('/');
    if (slash == std::string::npos)
        return;
    const auto trimmed = [](std::string text) {
        const size_t first = text.find_first_not_of(' ');
        return first == std::string::npos ? std::string()
                                          : text.substr(first, text.find_last_not_of(' ') - first + 1);
    };
    const std::string total = trimmed(number.substr(slash + 1));
    tags.Set(numberKey, {trimmed(number.substr(0, slash))});
    if (tags.Values(totalKey).empty() && !total.empty() && total.find_first_not_of('0') != std::string::npos)
        tags.Set(totalKey, {total});
}

TagSet Collector::Finished()
{
    // Vorbis comments and WMA files call the comment a description (so does FFmpeg when it
    // writes one): it is the comment every other container has.
    if (tags.Values("COMMENT").empty() && !tags.Values("DESCRIPTION").empty()) {
        tags.Set("COMMENT", tags.Values("DESCRIPTION"));
        tags.Remove("DESCRIPTION");
    }
    SplitNumber(tags, "TRACKNUMBER", "TRACKTOTAL");
    SplitNumber(tags, "DISCNUMBER", "DISCTOTAL");
    TagSet ordered;
    for (const char* key : kLeadingKeys) {
        for (const std::string& value : tags.Values(key))
            ordered.Add(key, value);
    }
    for (const TagSet::Field& field : tags.Fields()) {
        if (std::find(kLeadingKeys.begin(), kLeadingKeys.end(), field.key) != kLeadingKeys.end())
            continue;
        for (const std::string& value : field.values)
            ordered.Add(field.key, value);
    }
    for (TagSet::Picture& picture : pictures)
        ordered.AddPicture(std::move(picture));
    return ordered;
}

void ReadProperties(const TagLib::PropertyMap& properties, Collector& collector)
{
    for (const auto& [key, values] : properties) {
        for (const TagLib::String& value : values)
            collector.Add(Utf8Of(key), Utf8Of(value));
    }
}

void ReadId3v2Pictures(const TagLib::ID3v2::Tag* tag, Collector& collector)
{
    if (tag == nullptr)
        return;
    for (const TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
        const auto* picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (picture != nullptr)
            collector.AddPicture(static_cast<uint8_t>(picture->type()), Utf8Of(picture->mimeType()),
                Utf8Of(picture->description()), picture->picture());
    }
}

void ReadFlacPictures(const TagLib::List<TagLib::FLAC::Picture*>& pictures, Collector& collector)
{
    for (const TagLib::FLAC::Picture* picture : pictures)
        collector.AddPicture(static_cast<uint8_t>(picture->type()), Utf8Of(picture->mimeType()),
            Utf8Of(picture->description()), picture->data());
}

// APE tags name each picture's type in its item: "Cover Art (Front)", in the ID3v2 order.
void ReadApePictures(const TagLib::APE::Tag* tag, Collector& collector)
{
    static constexpr std::array kTypes {"OTHER", "ICON", "OTHER ICON", "FRONT", "BACK", "LEAFLET", "MEDIA",
        "LEAD ARTIST", "ARTIST", "CONDUCTOR", "BAND", "COMPOSER", "LYRICIST", "RECORDING LOCATION",
        "DURING RECORDING", "DURING PERFORMANCE", "MOVIE SCENE", "COLORED FISH", "ILLUSTRATION",
        "BAND LOGOTYPE", "PUBLISHER LOGOTYPE"};
    if (tag == nullptr)
        return;
    for (const auto& [key, item] : tag->itemListMap()) {
        const std::string name = Utf8Of(key.upper());
        if (item.type() != TagLib::APE::Item::Binary || name.rfind("COVER ART (", 0) != 0
            || name.back() != ')')
            continue;
        const std::string kind = name.substr(11, name.size() - 12);
        const auto found = std::find(kTypes.begin(), kTypes.end(), kind);
        // The item holds a file name, a zero byte, then the picture's bytes.
        const TagLib::ByteVector data = item.binaryData();
        const int end = data.find('\0');
        if (found == kTypes.end() || end < 0)
            continue;
        collector.AddPicture(static_cast<uint8_t>(found - kTypes.begin()), "", "",
            data.mid(static_cast<unsigned int>(end) + 1));
    }
}

const char* Mp4Mime(TagLib::MP4::CoverArt::Format format)
{
    switch (format) {
    case TagLib::MP4::CoverArt::JPEG:
        return "image/jpeg";
    case TagLib::MP4::CoverArt::PNG:
        return "image/png";
    case TagLib::MP4::CoverArt::GIF:
        return "image/gif";
    case TagLib::MP4::CoverArt::BMP:
        return "image/bmp";
    default:
        return "";
    }
}

// MP4 covers have no type: the first is the front cover, as players show it.
void ReadMp4Pictures(const TagLib::MP4::Tag* tag, Collector& collector)
{
    if (tag == nullptr || !tag->contains("covr"))
        return;
    uint8_t type = TagSet::kFrontCover;
    for (const TagLib::MP4::CoverArt& cover : tag->item("covr").toCoverArtList()) {
        collector.AddPicture(type, Mp4Mime(cover.format()), "", cover.data());
        type = 0;
    }
}

void ReadAsfPictures(const TagLib::ASF::Tag* tag, Collector& collector)
{
    if (tag == nullptr)
        return;
    for (const TagLib::ASF::Attribute& attribute : tag->attribute("WM/Picture")) {
        const TagLib::ASF::Picture picture = attribute.toPicture();
        if (picture.isValid())
            collector.AddPicture(static_cast<uint8_t>(picture.type()), Utf8Of(picture.mimeType()),
                Utf8Of(picture.description()), picture.picture());
    }
}

// Custom MP4 fields ("----:com.apple.iTunes:NAME") and ASF attributes that TagLib's property
// map does not name are carried under their own names all the same.
void ReadMp4Custom(const TagLib::MP4::Tag* tag, const TagLib::PropertyMap& properties, Collector& collector)
{
    static const std::string prefix = "----:com.apple.iTunes:";
    if (tag == nullptr)
        return;
    for (const auto& [key, item] : tag->itemMap()) {
        const std::string name = Utf8Of(key);
        if (name.rfind(prefix, 0) != 0
            || properties.unsupportedData().find(key) == properties.unsupportedData().end())
            continue;
        for (const TagLib::String& value : item.toStringList())
            collector.Add(name.substr(prefix.size()), Utf8Of(value));
    }
}

void ReadAsfCustom(const TagLib::ASF::Tag* tag, const TagLib::PropertyMap& properties, Collector& collector)
{
    if (tag == nullptr)
        return;
    for (const auto& [key, attributes] : tag->attributeListMap()) {
        if (key == "WM/Picture"
            || properties.unsupportedData().find(key) == properties.unsupportedData().end())
            continue;
        // Further values of the content description's fields come as attributes of their names.
        const std::string name = Utf8Of(key) == "Author" ? "ARTIST"
            : Utf8Of(key) == "Title"                     ? "TITLE"
                                                         : Utf8Of(key);
        for (const TagLib::ASF::Attribute& attribute : attributes) {
            // Some writers repeat the content description's value as an attribute.
            if (attribute.type() == TagLib::ASF::Attribute::UnicodeType
                && !collector.Holds(name, Utf8Of(attribute.toString())))
                collector.Add(name, Utf8Of(attribute.toString()));
            else if (name == "WM/IsCompilation" && attribute.type() == TagLib::ASF::Attribute::BoolType)
                collector.Add("COMPILATION", attribute.toBool() ? "1" : "0");
        }
    }
}

void ReadPictures(TagLib::File* file, Collector& collector)
{
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        ReadFlacPictures(flac->pictureList(), collector);
        if (flac->hasXiphComment())
            ReadFlacPictures(flac->xiphComment()->pictureList(), collector);
    } else if (auto* xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag())) {
        ReadFlacPictures(xiph->pictureList(), collector);
    } else if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
        ReadId3v2Pictures(mpeg->hasID3v2Tag() ? mpeg->ID3v2Tag() : nullptr, collector);
        if (!mpeg->hasID3v2Tag())
            ReadApePictures(mpeg->hasAPETag() ? mpeg->APETag() : nullptr, collector);
    } else if (auto* wave = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        ReadId3v2Pictures(wave->hasID3v2Tag() ? wave->ID3v2Tag() : nullptr, collector);
    } else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
        ReadId3v2Pictures(aiff->hasID3v2Tag() ? aiff->tag() : nullptr, collector);
    } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
        ReadMp4Pictures(mp4->tag(), collector);
    } else if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file)) {
        ReadAsfPictures(asf->tag(), collector);
    } else if (auto* ape = dynamic_cast<TagLib::APE::File*>(file)) {
        ReadApePictures(ape->hasAPETag() ? ape->APETag() : nullptr, collector);
    } else if (auto* wavpack = dynamic_cast<TagLib::WavPack::File*>(file)) {
        ReadApePictures(wavpack->hasAPETag() ? wavpack->APETag() : nullptr, collector);
    }
}

// ID3v2.3 has one value per text frame: several people are joined by "/", which is taken
// apart again ("AC/DC" reads as two artists, as every reader of version 2.3 shows it).
bool JoinsPeople(TagLib::File* file)
{
    const TagLib::ID3v2::Tag* tag = nullptr;
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file))
        tag = mpeg->hasID3v2Tag() ? mpeg->ID3v2Tag() : nullptr;
    else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file))
        tag = aiff->hasID3v2Tag() ? aiff->tag() : nullptr;
    return tag != nullptr && tag->header()->majorVersion() < 4;
}

void SplitPeople(TagLib::PropertyMap& properties)
{
    for (const char* key : {"ARTIST", "ALBUMARTIST", "COMPOSER", "LYRICIST", "CONDUCTOR", "REMIXER",
             "ORIGINALARTIST", "ORIGINALLYRICIST"}) {
        if (!properties.contains(key))
            continue;
        TagLib::StringList people;
        for (const TagLib::String& value : properties[key])
            people.append(value.split("/"));
        properties.replace(key, people);
    }
}

// A WAV file's LIST/INFO chunk, by its four-letter ids; what an "id3 " chunk states comes
// first. Other ids (ISFT, the software that wrote the file, among them) describe the file.
void ReadWave(TagLib::RIFF::WAV::File& wave, Collector& collector)
{
    static constexpr std::array<std::pair<const char*, const char*>, 10> kInfo {
        {{"INAM", "TITLE"}, {"IART", "ARTIST"}, {"IPRD", "ALBUM"}, {"ICRD", "DATE"}, {"ITRK", "TRACKNUMBER"},
            {"IPRT", "TRACKNUMBER"}, {"IGNR", "GENRE"}, {"ICMT", "COMMENT"}, {"ICOP", "COPYRIGHT"},
            {"IENG", "ENGINEER"}}};
    if (wave.hasID3v2Tag()) {
        TagLib::PropertyMap properties = wave.ID3v2Tag()->properties();
        if (wave.ID3v2Tag()->header()->majorVersion() < 4)
            SplitPeople(properties);
        ReadProperties(properties, collector);
    }
    if (!wave.hasInfoTag())
        return;
    for (const auto& [id, value] : wave.InfoTag()->fieldListMap()) {
        for (const auto& [infoId, key] : kInfo) {
            if (id == infoId && !collector.Has(key))
                collector.Add(key, Utf8Of(value));
        }
    }
}

void ReadFile(TagLib::File* file, Collector& collector)
{
    if (auto* wave = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        ReadWave(*wave, collector);
        ReadPictures(file, collector);
        return;
    }
    TagLib::PropertyMap properties = file->properties();
    if (JoinsPeople(file))
        SplitPeople(properties);
    ReadProperties(properties, collector);
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file))
        ReadMp4Custom(mp4->tag(), properties, collector);
    else if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file))
        ReadAsfCustom(asf->tag(), properties, collector);
    ReadPictures(file, collector);
}

// FFmpeg's names for what its demuxers map; any other key is taken as the container names it.
std::string FfmpegKey(const std::string& key)
{
    // An empty name: a fact about the file, not a tag.
    static constexpr std::array<std::pair<const char*, const char*>, 13> kKeys {
        {{"album_artist", "ALBUMARTIST"}, {"track", "TRACKNUMBER"}, {"disc", "DISCNUMBER"},
            {"publisher", "LABEL"}, {"encoded_by", "ENCODEDBY"}, {"description", "COMMENT"}, {"year", "DATE"},
            {"date_released", "DATE"}, {"creation_time", ""}, {"major_brand", ""}, {"minor_version", ""},
            {"compatible_brands", ""}, {"duration", ""}}};
    const std::string lower = TagSet::KeyOf(key);
    for (const auto& [ffmpeg, model] : kKeys) {
        if (TagSet::KeyOf(ffmpeg) == lower)
            return model;
    }
    return lower;
}

// FFmpeg names a picture's type by its ID3v2 text.
uint8_t FfmpegPictureType(const std::string& comment, bool first)
{
    static constexpr std::array kTypes {"Other", "32x32 pixels 'file icon'", "Other file icon",
        "Cover (front)", "Cover (back)", "Leaflet page", "Media (e.g. label side of CD)",
        "Lead artist/lead performer/soloist", "Artist/performer", "Conductor", "Band/Orchestra", "Composer",
        "Lyricist/text writer", "Recording Location", "During recording", "During performance",
        "Movie/video screen capture", "A bright coloured fish", "Illustration", "Band/artist logotype",
        "Publisher/Studio logotype"};
    const auto found = std::find(kTypes.begin(), kTypes.end(), comment);
    if (found != kTypes.end())
        return static_cast<uint8_t>(found - kTypes.begin());
    return first ? TagSet::kFrontCover : 0;
}

TagSet ReadFallback(const std::string& path)
{
    const MediaMetadata metadata = ReadMediaMetadata(path.c_str());
    Collector collector(path);
    for (const auto& [key, value] : metadata.entries)
        collector.Add(FfmpegKey(key), value);
    bool first = true;
    for (const MediaMetadata::Picture& picture : metadata.pictures) {
        collector.AddPicture(FfmpegPictureType(picture.comment, first), picture.mime, "", picture.bytes);
        first = false;
    }
    return collector.Finished();
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The tags `stream` holds; when TagLib does not know its container, FFmpeg's of `fallback`
// (a file's path; none for a stream of bytes).
TagSet ReadThrough(TagLib::IOStream& stream, const std::string* fallback)
{
    SilenceTagLib();
    try {
        const TagLib::FileRef opened(&stream, false);
        if (opened.isNull())
            return fallback == nullptr ? TagSet() : ReadFallback(*fallback);
        Collector collector(ContainerName(stream));
        ReadFile(opened.file(), collector);
        return collector.Finished();
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace

TagSet TagReader::ReadStream(TagLib::IOStream& stream)
{
    return ReadThrough(stream, nullptr);
}

TagSet TagReader::Read(const std::string& path)
{
    const std::unique_ptr<std::FILE, FileCloser> file(OpenRegularFile(path.c_str()));
    if (!file)
        return {};
    DescriptorTagStream stream(fileno(file.get()), path, DescriptorTagStream::Access::ReadOnly);
    return ReadThrough(stream, &path);
}

TagSet TagReader::FieldsOfComment(const std::string& block)
{
    Collector collector("a Vorbis comment");
    size_t at = 0;
    const auto number = [&block, &at](uint32_t& value) {
        if (block.size() - at < 4)
            return false;
        const auto* bytes = reinterpret_cast<const uint8_t*>(block.data() + at);
        value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
        at += 4;
        return true;
    };
    // By key, as TagLib's property map orders them, each key's values in their order.
    std::map<std::string, std::vector<std::string>> fields;
    uint32_t vendor = 0, count = 0;
    if (!number(vendor) || block.size() - at < vendor)
        return {};
    at += vendor;
    if (!number(count))
        return {};
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = 0;
        if (!number(length) || block.size() - at < length)
            break;
        const std::string_view entry(block.data() + at, length);
        at += length;
        const size_t equals = entry.find('=');
        if (equals == std::string_view::npos)
            continue;
        // Keys as a Vorbis comment allows them (printable ASCII but '='), in upper case, as
        // TagLib's reading of the comment gives them; pictures are not fields.
        std::string key(entry.substr(0, equals));
        bool allowed = !key.empty();
        for (char& c : key) {
            allowed = allowed && c >= 0x20 && c <= 0x7D && c != '=';
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        if (!allowed || key == "METADATA_BLOCK_PICTURE" || key == "COVERART")
            continue;
        fields[key].push_back(WellFormed(std::string(entry.substr(equals + 1))));
    }
    for (auto& [key, values] : fields) {
        for (std::string& value : values)
            collector.Add(key, std::move(value));
    }
    return collector.Finished();
}

TagSet TagReader::ReadFields(const std::string& path)
{
    const std::optional<FlacHead> head = FlacHead::ReadFile(path);
    if (head && head->hasComment) {
        TagSet fields = FieldsOfComment(head->comment);
        if (!fields.Fields().empty())
            return fields;
    }
    const TagSet tags = Read(path);
    TagSet fields;
    for (const TagSet::Field& field : tags.Fields()) {
        for (const std::string& value : field.values)
            fields.Add(field.key, value);
    }
    return fields;
}
