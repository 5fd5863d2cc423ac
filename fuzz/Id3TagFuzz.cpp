// The ID3 tags of an MP3 file on arbitrary tag texts (the input split at zero bytes into title,
// artist, album, year, track, genre, comment, cover type and cover). Whatever the texts hold, the
// ID3v2.3 tag's sizes must add up frame by frame up to its padding, every text frame must be
// UTF-16 with a byte-order mark (or Latin-1) that decodes back to the text when the text is
// UTF-8, and the ID3v1 tag must be 128 bytes whose text fields are the Latin-1 forms of the texts.
#include "encoders/Id3Tag.h"
#include "fuzz/FuzzedTags.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// UTF-16 little-endian code units back to UTF-8; false on a lone surrogate.
bool Utf16ToUtf8(const uint8_t* units, size_t bytes, std::string& text)
{
    text.clear();
    for (size_t at = 0; at + 1 < bytes; at += 2) {
        uint32_t point = units[at] | units[at + 1] << 8;
        if (point >= 0xD800 && point <= 0xDBFF) {
            if (at + 3 >= bytes)
                return false;
            const uint32_t low = units[at + 2] | units[at + 3] << 8;
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
            at += 2;
        } else if (point >= 0xDC00 && point <= 0xDFFF) {
            return false;
        }
        if (point < 0x80) {
            text.push_back(static_cast<char>(point));
        } else if (point < 0x800) {
            text.push_back(static_cast<char>(0xC0 | point >> 6));
            text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else if (point < 0x10000) {
            text.push_back(static_cast<char>(0xE0 | point >> 12));
            text.push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xF0 | point >> 18));
            text.push_back(static_cast<char>(0x80 | (point >> 12 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (point & 0x3F)));
        }
    }
    return true;
}

// Whether the text is UTF-8 (shortest forms, no surrogates, nothing beyond U+10FFFF) without
// a U+FFFD of its own, which the tag writes for bytes that are not UTF-8.
bool IsCleanUtf8(const std::string& text)
{
    for (size_t at = 0; at < text.size();) {
        const auto lead = static_cast<uint8_t>(text[at]);
        const size_t extra = lead < 0x80  ? 0
            : lead >= 0xC2 && lead < 0xE0 ? 1
            : lead >= 0xE0 && lead < 0xF0 ? 2
            : lead >= 0xF0 && lead < 0xF5 ? 3
                                          : 9;
        if (extra == 9 || at + extra >= text.size() + (extra == 0))
            return false;
        uint32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
        for (size_t i = 1; i <= extra; ++i) {
            const auto byte = static_cast<uint8_t>(text[at + i]);
            if ((byte & 0xC0) != 0x80)
                return false;
            point = point << 6 | (byte & 0x3F);
        }
        if ((extra == 2 && point < 0x800) || (extra == 3 && (point < 0x10000 || point > 0x10FFFF))
            || (point >= 0xD800 && point <= 0xDFFF) || point == 0xFFFD)
            return false;
        at += extra + 1;
    }
    return true;
}

// A Latin-1 text frame's text (after its encoding byte, up to an optional terminator) in UTF-8.
std::string Latin1Text(const uint8_t* body, size_t length)
{
    std::string text;
    for (size_t i = 1; i < length && body[i] != 0; ++i) {
        if (body[i] < 0x80) {
            text.push_back(static_cast<char>(body[i]));
        } else {
            text.push_back(static_cast<char>(0xC0 | body[i] >> 6));
            text.push_back(static_cast<char>(0x80 | (body[i] & 0x3F)));
        }
    }
    return text;
}

void CheckVersion2(const std::vector<uint8_t>& tag, const TagSet& tags)
{
    Check(tag.size() >= 10 && tag[0] == 'I' && tag[1] == 'D' && tag[2] == '3' && tag[3] == 3 && tag[4] == 0);
    size_t size = 0;
    for (size_t i = 6; i < 10; ++i) {
        Check(tag[i] < 0x80);
        size = size << 7 | tag[i];
    }
    Check(size + 10 == tag.size());
    const std::string title = Id3Tag::TitleFor(tags, "/out/name.mp3");
    for (size_t at = 10; at < tag.size();) {
        // The padding after the last frame: zeros to the end.
        if (tag[at] == 0) {
            for (; at < tag.size(); ++at)
                Check(tag[at] == 0);
            break;
        }
        Check(at + 10 <= tag.size());
        const std::string id(tag.begin() + static_cast<long>(at), tag.begin() + static_cast<long>(at + 4));
        const size_t length = size_t {tag[at + 4]} << 24 | size_t {tag[at + 5]} << 16
            | size_t {tag[at + 6]} << 8 | tag[at + 7];
        Check(at + 10 + length <= tag.size());
        const uint8_t* body = tag.data() + at + 10;
        if (id[0] == 'T' && id != "TXXX") {
            std::string text;
            Check(length >= 1 && body[0] <= 1);
            if (body[0] == 0) {
                text = Latin1Text(body, length);
            } else {
                Check(length >= 3 && body[1] == 0xFF && body[2] == 0xFE && length % 2 == 1);
                // The terminator is optional.
                const bool ended = length >= 5 && body[length - 2] == 0 && body[length - 1] == 0;
                Check(Utf16ToUtf8(body + 3, length - 3 - (ended ? 2 : 0), text));
            }
            if (id == "TIT2" && IsCleanUtf8(title))
                Check(text == title);
            if (id == "TPE1" && IsCleanUtf8(tags.First("ARTIST")))
                Check(text == tags.First("ARTIST"));
        }
        at += 10 + length;
    }
}

void CheckVersion1(const TagSet& tags)
{
    const auto tag = Id3Tag::Version1(tags, "/out/name.mp3");
    Check(tag[0] == 'T' && tag[1] == 'A' && tag[2] == 'G');
    const std::string artist = Id3Tag::Latin1(tags.First("ARTIST"), 30);
    Check(artist.size() <= 30);
    if (!artist.empty())
        Check(std::string(tag.begin() + 33, tag.begin() + 33 + static_cast<long>(artist.size())) == artist);
    const std::string comment = Id3Tag::Latin1(tags.First("COMMENT"), 28);
    Check(comment.size() <= 28 && tag[125] == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TagSet tags = FuzzedTags(data, size);
    CheckVersion2(Id3Tag::Version2(tags, "/out/name.mp3"), tags);
    CheckVersion1(tags);
    Id3Tag::GenreNumber(tags.First("GENRE"));
    return 0;
}
