// The tags of a source or of an output, one model for every container: an ordered list of
// fields, each a key with one or more values, and every picture with its type, MIME type,
// description and bytes. Keys are TagLib's property-map names, upper case (TITLE, ARTIST,
// ALBUMARTIST, DATE, TRACKNUMBER, TRACKTOTAL, DISCNUMBER, DISCTOTAL, MUSICBRAINZ_*,
// REPLAYGAIN_*, ...), and any other key as the source names it; a container's reader maps its own
// names onto them and its writer maps them back. Values are UTF-8 texts as the source states
// them; a field keeps the order its values came in, so that two artists stay two values.
//
// Bounds: a value over kLargestValue bytes or a picture over kLargestPicture bytes is left out
// (Add and AddPicture say so), never copied into every output.
//
// Threads: a plain value; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TagSet {
public:
    struct Field {
        std::string key; // upper case
        std::vector<std::string> values; // never empty
    };
    struct Picture {
        uint8_t type = 3; // the ID3v2 / FLAC picture type: 3 front cover, 4 back cover, ...
        std::string mime; // "image/jpeg", "image/png", ...
        std::string description;
        std::vector<uint8_t> bytes; // the picture file's bytes
    };

    static constexpr size_t kLargestValue = 1u << 20;
    static constexpr size_t kLargestPicture = 16u << 20;
    static constexpr uint8_t kFrontCover = 3;

    bool Empty() const { return fields.empty() && pictures.empty(); }
    const std::vector<Field>& Fields() const { return fields; }
    const std::vector<Picture>& Pictures() const { return pictures; }

    // The values of `key` (any letter case); none when the set has no such field.
    const std::vector<std::string>& Values(std::string_view key) const;
    // The first value of `key`; empty when there is none.
    std::string First(std::string_view key) const;

    // Appends a value to the field of `key`, which is added at the end when new. False, with
    // nothing added, for an empty key or value or a value over kLargestValue.
    bool Add(std::string_view key, std::string value);
    // The field of `key` holds `values` (in place when it exists, else at the end); no values
    // removes it.
    void Set(std::string_view key, std::vector<std::string> values);
    void Remove(std::string_view key);
    // False, with nothing added, for a picture with no bytes or over kLargestPicture.
    bool AddPicture(Picture picture);
    // The front cover when there is one, else the first picture; null when there is none.
    const Picture* Cover() const;

    // The numbers of the track and the disc: TRACKNUMBER "4" or "4/12" gives 4; the total comes
    // from TRACKTOTAL, else from the part after '/'. 0 when not stated.
    uint32_t TrackNumber() const { return Leading(First("TRACKNUMBER")); }
    uint32_t TrackTotal() const { return Total("TRACKNUMBER", "TRACKTOTAL"); }
    uint32_t DiscNumber() const { return Leading(First("DISCNUMBER")); }
    uint32_t DiscTotal() const { return Total("DISCNUMBER", "DISCTOTAL"); }
    // The year that starts DATE ("2001", "2001-05-03", "2001-05-03T10:00:00Z"); empty when the
    // date does not start with four digits.
    std::string Year() const;

    // `key` as the model keeps it: upper case, spaces at the ends dropped.
    static std::string KeyOf(std::string_view key);

private:
    // The number that starts `text` (spaces first allowed); 0 when none or out of range.
    static uint32_t Leading(std::string_view text);
    uint32_t Total(std::string_view numberKey, std::string_view totalKey) const;
    const Field* Find(std::string_view key) const;
    Field* Find(std::string_view key);

    std::vector<Field> fields;
    std::vector<Picture> pictures;
};
