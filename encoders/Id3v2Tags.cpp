#include "encoders/Id3v2Tags.h"

#include "encoders/TagNames.h"
#include "encoders/TagText.h"

#include <array>
#include <memory>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/uniquefileidentifierframe.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <utility>

namespace {

// The model's keys with a text frame of their own.
constexpr std::array<std::pair<const char*, const char*>, 27> kFrames {{
    {"TITLE", "TIT2"},
    {"ARTIST", "TPE1"},
    {"ALBUMARTIST", "TPE2"},
    {"CONDUCTOR", "TPE3"},
    {"REMIXER", "TPE4"},
    {"ALBUM", "TALB"},
    {"DATE", "TDRC"}, // written as TYER and TDAT
    {"ORIGINALDATE", "TDOR"}, // written as TORY
    {"GENRE", "TCON"},
    {"COMPOSER", "TCOM"},
    {"LYRICIST", "TEXT"},
    {"BPM", "TBPM"},
    {"COMPILATION", "TCMP"},
    {"ARTISTSORT", "TSOP"},
    {"ALBUMSORT", "TSOA"},
    {"ALBUMARTISTSORT", "TSO2"},
    {"TITLESORT", "TSOT"},
    {"COMPOSERSORT", "TSOC"},
    {"ISRC", "TSRC"},
    {"COPYRIGHT", "TCOP"},
    {"LABEL", "TPUB"},
    {"ENCODEDBY", "TENC"},
    {"GROUPING", "TIT1"},
    {"SUBTITLE", "TIT3"},
    {"MEDIA", "TMED"},
    {"LANGUAGE", "TLAN"},
    {"INITIALKEY", "TKEY"},
}};

// Fields written by their own rule below.
constexpr std::array kOwnRule {
    "TRACKNUMBER", "TRACKTOTAL", "DISCNUMBER", "DISCTOTAL", "COMMENT", "LYRICS", "MUSICBRAINZ_TRACKID"};

const char* FrameOf(const std::string& key)
{
    for (const auto& [model, frame] : kFrames) {
        if (key == model)
            return frame;
    }
    return nullptr;
}

bool HasOwnRule(const std::string& key)
{
    for (const char* own : kOwnRule) {
        if (key == own)
            return true;
    }
    return false;
}

void AddText(TagLib::ID3v2::Tag& tag, const char* id, const std::string& text)
{
    if (text.empty())
        return;
    auto frame = std::make_unique<TagLib::ID3v2::TextIdentificationFrame>(
        TagLib::ByteVector(id), TagLib::String::UTF16);
    frame->setText(TagText::Of(text));
    tag.addFrame(frame.release());
}

void AddUserText(TagLib::ID3v2::Tag& tag, const std::string& description, const std::string& text)
{
    auto frame = std::make_unique<TagLib::ID3v2::UserTextIdentificationFrame>(TagLib::String::UTF16);
    frame->setDescription(TagText::Of(description));
    frame->setText(TagText::Of(text));
    tag.addFrame(frame.release());
}

// A comment (COMM) or lyrics (USLT) frame: a language, no description, the text.
template <typename LanguageFrame> void AddLanguageText(TagLib::ID3v2::Tag& tag, const std::string& text)
{
    if (text.empty())
        return;
    auto frame = std::make_unique<LanguageFrame>(TagLib::String::UTF16);
    frame->setLanguage("eng");
    frame->setText(TagText::Of(text));
    tag.addFrame(frame.release());
}

void AddRecordingId(TagLib::ID3v2::Tag& tag, const std::string& id)
{
    if (id.empty())
        return;
    auto frame = std::make_unique<TagLib::ID3v2::UniqueFileIdentifierFrame>(
        "http://musicbrainz.org", TagLib::ByteVector(id.data(), static_cast<unsigned int>(id.size())));
    tag.addFrame(frame.release());
}

void AddPicture(TagLib::ID3v2::Tag& tag, const TagSet::Picture& picture)
{
    auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
    frame->setTextEncoding(TagLib::String::UTF16);
    frame->setMimeType(TagLib::String(picture.mime, TagLib::String::Latin1));
    frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(picture.type));
    frame->setDescription(TagText::Of(picture.description));
    frame->setPicture(TagText::Bytes(picture.bytes));
    tag.addFrame(frame.release());
}

} // namespace

std::vector<uint8_t> Id3v2Tags::Rendered(const TagSet& tags)
{
    TagLib::ID3v2::Tag tag;
    for (const TagSet::Field& field : tags.Fields()) {
        const std::string joined = TagNames::Joined(field.values);
        if (const char* id = FrameOf(field.key))
            AddText(tag, id, joined);
        else if (!HasOwnRule(field.key))
            AddUserText(tag, TagNames::Described(field.key), joined);
    }
    AddText(tag, "TRCK", TagNames::Numbered(tags.First("TRACKNUMBER"), tags.First("TRACKTOTAL")));
    AddText(tag, "TPOS", TagNames::Numbered(tags.First("DISCNUMBER"), tags.First("DISCTOTAL")));
    AddLanguageText<TagLib::ID3v2::CommentsFrame>(tag, TagNames::Joined(tags.Values("COMMENT")));
    AddLanguageText<TagLib::ID3v2::UnsynchronizedLyricsFrame>(tag, TagNames::Joined(tags.Values("LYRICS")));
    AddRecordingId(tag, tags.First("MUSICBRAINZ_TRACKID"));
    AddText(tag, "TSSE", TagNames::EncoderName());
    for (const TagSet::Picture& picture : tags.Pictures())
        AddPicture(tag, picture);
    const TagLib::ByteVector rendered = tag.render(TagLib::ID3v2::v3);
    return std::vector<uint8_t>(rendered.begin(), rendered.end());
}
