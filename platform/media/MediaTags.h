// The tags of an audio file as FFmpeg's demuxers read them: ID3v2 and ID3v1 of MP3 files, the
// attributes of ASF (WMA) files, Vorbis comments of FLAC, Ogg and Opus files, the iTunes atoms of
// MP4 audio, and the LIST/INFO and "id3 " chunks of WAV files. The texts are UTF-8 as the file
// states them; a field the file does not state is empty.
//
// ReadMediaTags opens the file a second time, on the calling thread, with the same limits as the
// media reader (local files only, no files named inside the file); a file that cannot be read gives
// empty tags, never a failure: a conversion goes on without them. FFmpeg reads them in the media
// module (MediaModule.h), loaded by the first call that reaches a regular file; when it cannot be
// loaded the tags are empty and a message says why they were not carried over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MediaTags {
    std::string title;
    std::string artist;
    std::string album;
    std::string year; // the four digits that start the file's date; empty when it has none
    std::string track; // as the file states it: "7" or "7/12"
    std::string genre;
    std::string comment;
    std::string coverMime; // "image/jpeg", "image/png", ...; empty when there is no cover
    std::vector<uint8_t> cover; // the front cover picture's file bytes

    bool Empty() const;
    // The number that starts `track`, 0 when there is none.
    uint32_t TrackNumber() const;
};

// The largest picture carried over; a bigger one is left out rather than copied into every file.
constexpr size_t kMaxCoverBytes = 16u << 20;

MediaTags ReadMediaTags(const char* fileName);
