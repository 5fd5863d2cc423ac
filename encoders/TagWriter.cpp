#include "encoders/TagWriter.h"

#include "audio/CoverImage.h"
#include "audio/DescriptorTagStream.h"
#include "encoders/GainTags.h"
#include "encoders/OggCommentWriter.h"
#include "encoders/TagNames.h"
#include "encoders/TagText.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <memory>
#include <new>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/xiphcomment.h>
#include <utility>

namespace {

// The largest FLAC metadata block: its length is a 24-bit field.
constexpr unsigned int kMaxFlacBlock = 0xFFFFFF;
// trkn and disk hold the number and the total in 16 bits each, tmpo the beats per minute.
constexpr uint32_t kMaxMp4Number = 0xFFFF;

// A text of decimal digits as a number no larger than `limit`; 0 for any other text.
uint32_t Number(const std::string& text, uint32_t limit)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const auto number = static_cast<uint32_t>(std::stoul(text));
    return number <= limit ? number : 0;
}

// Vorbis comments take the model as it is: keys verbatim, each value a field of its own.
void SetXiphFields(TagLib::Ogg::XiphComment& comment, const TagSet& tags)
{
    comment.removeAllFields();
    for (const TagSet::Field& field : tags.Fields()) {
        for (const std::string& value : field.values)
            comment.addField(TagText::Of(field.key), TagText::Of(value), false);
    }
    comment.addField("ENCODER", TagText::Of(TagNames::EncoderName()), false);
}

int AsInt(uint32_t value)
{
    return static_cast<int>(std::min<uint32_t>(value, INT_MAX));
}

// A picture as FLAC's picture block, which Ogg files carry base64-encoded in a comment.
std::unique_ptr<TagLib::FLAC::Picture> FlacPicture(const TagSet::Picture& source)
{
    const CoverImage image = CoverImage::Of(source.mime, source.bytes);
    auto picture = std::make_unique<TagLib::FLAC::Picture>();
    picture->setType(static_cast<TagLib::FLAC::Picture::Type>(source.type));
    picture->setMimeType(TagLib::String(image.mime, TagLib::String::Latin1));
    picture->setDescription(TagText::Of(source.description));
    picture->setWidth(AsInt(image.width));
    picture->setHeight(AsInt(image.height));
    picture->setColorDepth(AsInt(image.depth));
    picture->setNumColors(AsInt(image.colors));
    picture->setData(TagText::Bytes(source.bytes));
    return picture;
}

bool Saved(bool saved, const DescriptorTagStream& stream, const char* container, std::string& reason)
{
    if (!stream.Failure().empty())
        reason = "the tags could not be written into the " + std::string(container)
            + " file: " + stream.Failure();
    else if (!saved)
        reason = "the tags could not be written into the " + std::string(container) + " file";
    return saved && stream.Failure().empty();
}

// A file TagLib cannot take as one of its container: a system failure (a descriptor open only
// for writing) says more than TagLib's verdict.
std::string Unreadable(const char* container, const DescriptorTagStream& stream)
{
    const std::string reason
        = std::string("the new ") + container + " file could not be read to write its tags";
    return stream.Failure().empty() ? reason : reason + ": " + stream.Failure();
}

bool WriteFlac(DescriptorTagStream& stream, const TagSet& tags, std::string& reason)
{
    TagLib::FLAC::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) {
        reason = Unreadable("FLAC", stream);
        return false;
    }
    TagLib::Ogg::XiphComment& comment = *file.xiphComment(true);
    SetXiphFields(comment, tags);
    comment.removeAllPictures();
    // A block longer than its 24-bit length field would run into the next one.
    if (comment.render(false).size() > kMaxFlacBlock) {
        reason = "the tags are too long for a FLAC file, whose tag block holds at most 16 MiB";
        return false;
    }
    file.removePictures();
    std::string note;
    for (const TagSet::Picture& source : tags.Pictures()) {
        auto picture = FlacPicture(source);
        if (picture->render().size() <= kMaxFlacBlock)
            file.addPicture(picture.release());
        else
            note = "a picture was left out: a FLAC picture block holds at most 16 MiB, and the picture has "
                + std::to_string(source.bytes.size()) + " bytes";
    }
    if (!Saved(file.save(), stream, "FLAC", reason))
        return false;
    reason = note;
    return true;
}

// The fields of the model as Ogg's comments, "KEY=value" each, as SetXiphFields writes them into
// FLAC (a key Vorbis comments cannot hold is left out, as TagLib leaves it out there).
std::vector<std::string> OggComments(const TagSet& tags)
{
    std::vector<std::string> comments;
    for (const TagSet::Field& field : tags.Fields()) {
        if (!TagLib::Ogg::XiphComment::checkKey(TagText::Of(field.key)))
            continue;
        for (const std::string& value : field.values)
            comments.push_back(field.key + "=" + TagText::Utf8(value));
    }
    comments.push_back("ENCODER=" + TagNames::EncoderName());
    return comments;
}

void AppendBe32(std::string& to, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        to += static_cast<char>(value >> shift);
}

// The pictures as FLAC picture blocks: type, MIME type, description, width, height, colour
// depth, colours, then the bytes, each with its length, big-endian.
std::vector<OggCommentWriter::PictureBlock> OggPictures(const TagSet& tags)
{
    std::vector<OggCommentWriter::PictureBlock> blocks;
    for (const TagSet::Picture& picture : tags.Pictures()) {
        const CoverImage image = CoverImage::Of(picture.mime, picture.bytes);
        const std::string description = TagText::Utf8(picture.description);
        std::string head;
        AppendBe32(head, picture.type);
        AppendBe32(head, static_cast<uint32_t>(image.mime.size()));
        head += image.mime;
        AppendBe32(head, static_cast<uint32_t>(description.size()));
        head += description;
        for (const uint32_t value : {image.width, image.height, image.depth, image.colors})
            AppendBe32(head, value);
        AppendBe32(head, static_cast<uint32_t>(picture.bytes.size()));
        blocks.push_back({std::move(head), &picture.bytes});
    }
    return blocks;
}

// The model's fields alone, for the loudness rules; the pictures are written from the model.
TagSet FieldsOf(const TagSet& tags)
{
    TagSet fields;
    for (const TagSet::Field& field : tags.Fields())
        fields.Set(field.key, field.values);
    return fields;
}

bool WriteOgg(int descriptor, OggCommentWriter::Codec codec, const TagSet& tags, std::string& reason)
{
    const TagSet fields = codec == OggCommentWriter::Codec::Opus ? GainTags::ForOpus(FieldsOf(tags))
                                                                 : GainTags::ForOthers(FieldsOf(tags));
    return OggCommentWriter::Write(descriptor, codec, OggComments(fields), OggPictures(tags), reason);
}

// The model's keys with an iTunes atom of their own; trkn, disk, tmpo and cpil are numbers,
// the rest texts. Any other key is a freeform atom.
constexpr std::array<std::pair<const char*, const char*>, 20> kMp4Texts {{
    {"TITLE", "\251nam"},
    {"ARTIST", "\251ART"},
    {"ALBUMARTIST", "aART"},
    {"ALBUM", "\251alb"},
    {"DATE", "\251day"},
    {"GENRE", "\251gen"},
    {"COMMENT", "\251cmt"},
    {"COMPOSER", "\251wrt"},
    {"LYRICS", "\251lyr"},
    {"ARTISTSORT", "soar"},
    {"ALBUMSORT", "soal"},
    {"ALBUMARTISTSORT", "soaa"},
    {"TITLESORT", "sonm"},
    {"COMPOSERSORT", "soco"},
    {"COPYRIGHT", "cprt"},
    {"GROUPING", "\251grp"},
    {"WORK", "\251wrk"},
    {"MOVEMENTNAME", "\251mvn"},
    {"SUBTITLE", "desc"},
    {"ENCODEDBY", "\251enc"},
}};

std::string Mp4AtomOf(const std::string& key)
{
    for (const auto& [model, atom] : kMp4Texts) {
        if (key == model)
            return atom;
    }
    return "----:com.apple.iTunes:" + TagNames::Described(key);
}

TagLib::StringList Texts(const std::vector<std::string>& values)
{
    TagLib::StringList texts;
    for (const std::string& value : values)
        texts.append(TagText::Of(value));
    return texts;
}

// A number pair (trkn, disk) when the number is one; otherwise its texts stay freeform.
bool SetMp4Pair(
    TagLib::MP4::Tag& tag, const char* atom, const TagSet& tags, const char* numberKey, const char* totalKey)
{
    const uint32_t number = Number(tags.First(numberKey), kMaxMp4Number);
    if (number == 0)
        return tags.Values(numberKey).empty();
    tag.setItem(atom, TagLib::MP4::Item(AsInt(number), AsInt(Number(tags.First(totalKey), kMaxMp4Number))));
    return true;
}

void SetMp4Fields(TagLib::MP4::Tag& tag, const TagSet& tags)
{
    const bool track = SetMp4Pair(tag, "trkn", tags, "TRACKNUMBER", "TRACKTOTAL");
    const bool disc = SetMp4Pair(tag, "disk", tags, "DISCNUMBER", "DISCTOTAL");
    const uint32_t bpm = Number(tags.First("BPM"), kMaxMp4Number);
    if (bpm != 0)
        tag.setItem("tmpo", TagLib::MP4::Item(AsInt(bpm)));
    if (!tags.Values("COMPILATION").empty())
        tag.setItem("cpil", TagLib::MP4::Item(tags.First("COMPILATION") != "0"));
    for (const TagSet::Field& field : tags.Fields()) {
        const std::string& key = field.key;
        const bool inPair = key == "TRACKNUMBER" || key == "TRACKTOTAL" ? track
            : key == "DISCNUMBER" || key == "DISCTOTAL"                 ? disc
                                                                        : false;
        if (inPair || (key == "BPM" && bpm != 0) || key == "COMPILATION")
            continue;
        tag.setItem(Mp4AtomOf(key), TagLib::MP4::Item(Texts(field.values)));
    }
    tag.setItem("\251too", TagLib::MP4::Item(TagText::Of(TagNames::EncoderName())));
}

TagLib::MP4::CoverArt::Format Mp4CoverFormat(CoverImage::Kind kind)
{
    switch (kind) {
    case CoverImage::Kind::Jpeg:
        return TagLib::MP4::CoverArt::JPEG;
    case CoverImage::Kind::Png:
        return TagLib::MP4::CoverArt::PNG;
    case CoverImage::Kind::Gif:
        return TagLib::MP4::CoverArt::GIF;
    case CoverImage::Kind::Bmp:
        return TagLib::MP4::CoverArt::BMP;
    case CoverImage::Kind::Other:
        break;
    }
    return TagLib::MP4::CoverArt::Unknown;
}

// covr keeps no picture types: the front cover goes first, which players show.
void SetMp4Covers(TagLib::MP4::Tag& tag, const TagSet& tags)
{
    std::vector<const TagSet::Picture*> pictures;
    for (const TagSet::Picture& picture : tags.Pictures())
        pictures.push_back(&picture);
    std::stable_partition(pictures.begin(), pictures.end(),
        [](const TagSet::Picture* picture) { return picture->type == TagSet::kFrontCover; });
    TagLib::MP4::CoverArtList covers;
    for (const TagSet::Picture* picture : pictures)
        covers.append(
            TagLib::MP4::CoverArt(Mp4CoverFormat(CoverImage::Of(picture->mime, picture->bytes).kind),
                TagText::Bytes(picture->bytes)));
    if (!covers.isEmpty())
        tag.setItem("covr", covers);
}

// What the muxer wrote (its name in ©too) gives way to the model's atoms.
void ClearMp4(TagLib::MP4::Tag& tag)
{
    std::vector<TagLib::String> keys;
    for (const auto& [key, item] : tag.itemMap())
        keys.push_back(key);
    for (const TagLib::String& key : keys)
        tag.removeItem(key);
}

bool WriteMp4(DescriptorTagStream& stream, const TagSet& tags, const std::optional<GaplessInfo>& gapless,
    std::string& reason)
{
    TagLib::MP4::File file(&stream, false);
    if (!file.isValid() || file.tag() == nullptr) {
        reason = Unreadable("MP4", stream);
        return false;
    }
    TagLib::MP4::Tag& tag = *file.tag();
    ClearMp4(tag);
    SetMp4Fields(tag, tags);
    SetMp4Covers(tag, tags);
    if (gapless)
        tag.setItem("----:com.apple.iTunes:iTunSMPB", TagLib::StringList(TagWriter::GaplessText(*gapless)));
    return Saved(file.save(), stream, "MP4", reason);
}

bool WriteContainer(int descriptor, TagContainer container, const TagSet& tags,
    const std::optional<GaplessInfo>& gapless, std::string& reason)
{
    DescriptorTagStream stream(descriptor);
    switch (container) {
    case TagContainer::Flac:
        return WriteFlac(stream, GainTags::ForOthers(tags), reason);
    case TagContainer::OggVorbis:
        return WriteOgg(descriptor, OggCommentWriter::Codec::Vorbis, tags, reason);
    case TagContainer::OggOpus:
        return WriteOgg(descriptor, OggCommentWriter::Codec::Opus, tags, reason);
    case TagContainer::Mp4:
        return WriteMp4(stream, GainTags::ForOthers(tags), gapless, reason);
    }
    reason = "the container has no tags to write";
    return false;
}

} // namespace

bool TagWriter::Write(int descriptor, TagContainer container, const TagSet& tags,
    const std::optional<GaplessInfo>& gapless, std::string& reason)
{
    reason.clear();
    try {
        return WriteContainer(descriptor, container, tags, gapless, reason);
    } catch (const std::bad_alloc&) {
        reason = "there was not enough memory to write the tags";
    } catch (const std::exception& error) {
        reason = std::string("the tags could not be written: ") + error.what();
    }
    return false;
}

std::string TagWriter::GaplessText(const GaplessInfo& gapless)
{
    // Twelve hexadecimal fields, each with a space before it: a zero, the delay, the padding, the
    // length in 16 digits, then eight zeros.
    char text[128];
    std::snprintf(text, sizeof text, " 00000000 %08X %08X %016llX", gapless.delay, gapless.padding,
        static_cast<unsigned long long>(gapless.frames));
    std::string result = text;
    for (int field = 0; field < 8; ++field)
        result += " 00000000";
    return result;
}
