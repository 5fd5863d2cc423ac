// The tags a fuzzer's input stands for: its bytes split at NUL bytes into the fields in order
// (title, artist, album, year, track, genre, comment, cover MIME type), the rest the cover's
// bytes, so that the fuzzer varies every field and the picture at once.
#pragma once

#include "platform/media/MediaTags.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline MediaTags FuzzedTags(const uint8_t* data, size_t size)
{
    std::vector<std::string> fields(9);
    size_t field = 0;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && field + 1 < fields.size())
            ++field;
        else
            fields[field].push_back(static_cast<char>(data[i]));
    }
    MediaTags tags;
    tags.title = fields[0];
    tags.artist = fields[1];
    tags.album = fields[2];
    tags.year = fields[3];
    tags.track = fields[4];
    tags.genre = fields[5];
    tags.comment = fields[6];
    tags.coverMime = fields[7];
    tags.cover.assign(fields[8].begin(), fields[8].end());
    return tags;
}
