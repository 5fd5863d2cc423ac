// The tags a fuzzer's input stands for: its bytes split at NUL bytes into the fields in order
// (title, artist, album, year, track, genre, comment, cover MIME type), the rest the cover's
// bytes, so that the fuzzer varies every field and the picture at once.
#pragma once

#include "audio/TagSet.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline TagSet FuzzedTags(const uint8_t* data, size_t size)
{
    std::vector<std::string> fields(9);
    size_t field = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && field + 1 < fields.size())
            ++field;
        else
            fields[field].push_back(static_cast<char>(data[i]));
    }
    TagSet tags;
    const char* const keys[] = {"TITLE", "ARTIST", "ALBUM", "DATE", "TRACKNUMBER", "GENRE", "COMMENT"};
    for (size_t k = 0; k < 7; ++k)
        tags.Add(keys[k], fields[k]);
    tags.AddPicture(
        {TagSet::kFrontCover, fields[7], "", std::vector<uint8_t>(fields[8].begin(), fields[8].end())});
    return tags;
}
