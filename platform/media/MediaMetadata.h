// The metadata of an audio file as FFmpeg's demuxers state it, unmapped: every entry of the
// container's dictionary, then every entry of its first audio stream's (Ogg and Matroska keep
// their tags there), under FFmpeg's names, and every attached picture. It is what tag reading
// falls back on for containers TagLib does not read (Matroska audio, AU); TagReader (audio/)
// maps it onto the tag model. Texts are UTF-8 as the file states them.
//
// ReadMediaMetadata opens the file a second time, on the calling thread, with the same limits as
// the media reader (local regular files only, no files named inside the file); a file that
// cannot be read gives empty metadata, never a failure. FFmpeg reads it in the media module
// (MediaModule.h), loaded by the first call that reaches a regular file; when it cannot be loaded
// the metadata is empty and a message says why the tags were not carried over.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct MediaMetadata {
    struct Picture {
        std::string mime; // "image/jpeg", "image/png", ...
        std::string comment; // FFmpeg's picture type text: "Cover (front)", "Cover (back)", ...
        std::vector<uint8_t> bytes;
    };

    std::vector<std::pair<std::string, std::string>> entries; // FFmpeg's key, value
    std::vector<Picture> pictures;

    bool Empty() const { return entries.empty() && pictures.empty(); }
};

// The largest picture read; a bigger one is left out rather than copied into every file.
constexpr size_t kMaxPictureBytes = 16u << 20;

MediaMetadata ReadMediaMetadata(const char* fileName);
