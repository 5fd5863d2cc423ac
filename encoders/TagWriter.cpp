#include "encoders/TagWriter.h"

#include "encoders/CoverImage.h"
#include "encoders/DescriptorTagStream.h"
#include "platform/Utf8.h"

#include <algorithm>
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
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>
#include <utility>

namespace {

// The largest FLAC metadata block: its length is a 24-bit field.
constexpr unsigned int kMaxFlacBlock = 0xFFFFFF;
// trkn holds the number and the total in 16 bits each.
constexpr uint32_t kMaxMp4TrackNumber = 0xFFFF;

// TagLib turns a text that is not UTF-8 into an empty one; here each byte that does not belong
// to a well-formed sequence becomes U+FFFD, and the rest of the text stays.
TagLib::String Text(const std::string& utf8)
{
    if (Utf8::IsValid(utf8))
        return TagLib::String(utf8, TagLib::String::UTF8);
    std::string clean;
    for (size_t at = 0; at < utf8.size();) {
        const char32_t point = Utf8::Next(utf8, at);
        Utf8::Append(clean, point == Utf8::kNotUtf8 ? char32_t {0xFFFD} : point);
    }
    return TagLib::String(clean, TagLib::String::UTF8);
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// "7" or "7/12": the track's number and the disc's total as the source wrote them.
std::pair<std::string, std::string> TrackParts(const std::string& track)
{
    const size_t slash = track.find('/');
    if (slash == std::string::npos)
        return {Trimmed(track), ""};
    return {Trimmed(track.substr(0, slash)), Trimmed(track.substr(slash + 1))};
}

// A text of decimal digits as a number no larger than `limit`; 0 for any other text.
uint32_t Number(const std::string& text, uint32_t limit)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    const auto number = static_cast<uint32_t>(std::stoul(text));
    return number <= limit ? number : 0;
}

void SetXiphFields(TagLib::Ogg::XiphComment& comment, const MediaTags& tags)
{
    const auto [number, total] = TrackParts(tags.track);
    const std::pair<const char*, const std::string*> fields[] = {
        {"TITLE", &tags.title},
        {"ARTIST", &tags.artist},
        {"ALBUM", &tags.album},
        {"DATE", &tags.year},
        {"TRACKNUMBER", &number},
        {"TRACKTOTAL", &total},
        {"GENRE", &tags.genre},
        {"COMMENT", &tags.comment},
    };
    for (const auto& [key, value] : fields) {
        comment.removeFields(key);
        if (!value->empty())
            comment.addField(key, Text(*value));
    }
}

int AsInt(uint32_t value)
{
    return static_cast<int>(std::min<uint32_t>(value, INT_MAX));
}

// The front cover as FLAC's picture block, which Ogg files carry base64-encoded in a comment.
std::unique_ptr<TagLib::FLAC::Picture> FrontCover(const MediaTags& tags)
{
    const CoverImage image = CoverImage::Of(tags.coverMime, tags.cover);
    auto picture = std::make_unique<TagLib::FLAC::Picture>();
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setMimeType(TagLib::String(image.mime, TagLib::String::Latin1));
    picture->setWidth(AsInt(image.width));
    picture->setHeight(AsInt(image.height));
    picture->setColorDepth(AsInt(image.depth));
    picture->setNumColors(AsInt(image.colors));
    picture->setData(TagLib::ByteVector(
        reinterpret_cast<const char*>(tags.cover.data()), static_cast<unsigned int>(tags.cover.size())));
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

bool WriteFlac(DescriptorTagStream& stream, const MediaTags& tags, std::string& reason)
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
    if (!tags.cover.empty()) {
        auto cover = FrontCover(tags);
        if (cover->render().size() <= kMaxFlacBlock)
            file.addPicture(cover.release());
        else
            note = "the cover was left out: a FLAC picture block holds at most 16 MiB, and the cover has "
                + std::to_string(tags.cover.size()) + " bytes";
    }
    if (!Saved(file.save(), stream, "FLAC", reason))
        return false;
    reason = note;
    return true;
}

template <typename OggFile>
bool WriteOgg(DescriptorTagStream& stream, const MediaTags& tags, const char* container, std::string& reason)
{
    OggFile file(&stream, false);
    if (!file.isValid()) {
        reason = Unreadable(container, stream);
        return false;
    }
    TagLib::Ogg::XiphComment& comment = *file.tag();
    SetXiphFields(comment, tags);
    comment.removeAllPictures();
    if (!tags.cover.empty())
        comment.addPicture(FrontCover(tags).release());
    return Saved(file.save(), stream, container, reason);
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

void SetMp4Item(TagLib::MP4::Tag& tag, const char* key, const std::string& value)
{
    if (value.empty())
        tag.removeItem(key);
    else
        tag.setItem(key, TagLib::StringList(Text(value)));
}

void SetMp4Track(TagLib::MP4::Tag& tag, const std::string& track)
{
    const auto [numberText, totalText] = TrackParts(track);
    const uint32_t number = Number(numberText, kMaxMp4TrackNumber);
    if (number == 0)
        tag.removeItem("trkn");
    else
        tag.setItem("trkn", TagLib::MP4::Item(AsInt(number), AsInt(Number(totalText, kMaxMp4TrackNumber))));
}

void SetMp4Cover(TagLib::MP4::Tag& tag, const MediaTags& tags)
{
    if (tags.cover.empty()) {
        tag.removeItem("covr");
        return;
    }
    TagLib::MP4::CoverArtList covers;
    covers.append(TagLib::MP4::CoverArt(Mp4CoverFormat(CoverImage::Of(tags.coverMime, tags.cover).kind),
        TagLib::ByteVector(
            reinterpret_cast<const char*>(tags.cover.data()), static_cast<unsigned int>(tags.cover.size()))));
    tag.setItem("covr", covers);
}

bool WriteMp4(DescriptorTagStream& stream, const MediaTags& tags, const std::optional<GaplessInfo>& gapless,
    std::string& reason)
{
    TagLib::MP4::File file(&stream, false);
    if (!file.isValid() || file.tag() == nullptr) {
        reason = Unreadable("MP4", stream);
        return false;
    }
    TagLib::MP4::Tag& tag = *file.tag();
    SetMp4Item(tag, "\251nam", tags.title);
    SetMp4Item(tag, "\251ART", tags.artist);
    SetMp4Item(tag, "\251alb", tags.album);
    SetMp4Item(tag, "\251day", tags.year);
    SetMp4Track(tag, tags.track);
    SetMp4Item(tag, "\251gen", tags.genre);
    SetMp4Item(tag, "\251cmt", tags.comment);
    SetMp4Cover(tag, tags);
    if (gapless)
        tag.setItem("----:com.apple.iTunes:iTunSMPB", TagLib::StringList(TagWriter::GaplessText(*gapless)));
    return Saved(file.save(), stream, "MP4", reason);
}

bool WriteContainer(int descriptor, TagContainer container, const MediaTags& tags,
    const std::optional<GaplessInfo>& gapless, std::string& reason)
{
    DescriptorTagStream stream(descriptor);
    switch (container) {
    case TagContainer::Flac:
        return WriteFlac(stream, tags, reason);
    case TagContainer::OggVorbis:
        return WriteOgg<TagLib::Ogg::Vorbis::File>(stream, tags, "Ogg Vorbis", reason);
    case TagContainer::OggOpus:
        return WriteOgg<TagLib::Ogg::Opus::File>(stream, tags, "Opus", reason);
    case TagContainer::Mp4:
        return WriteMp4(stream, tags, gapless, reason);
    }
    reason = "the container has no tags to write";
    return false;
}

} // namespace

bool TagWriter::Write(int descriptor, TagContainer container, const MediaTags& tags,
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
