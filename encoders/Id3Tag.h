// The two tags of an MP3 file. The ID3v2.3 tag opens the file and carries the source's tags in
// full (Id3v2Tags: every field in its standard frame, every picture, the loudness fields as
// GainTags turns them). The 128-byte ID3v1.1 tag ends the file: title, artist (else the album
// artist), album, the year that starts the date, comment, track number and genre, in Latin-1
// (characters outside it become "?") and cut to their field sizes.
//
// Fields the source does not state: the ID3v2 tag leaves them out, but for the title, which is
// the output file's name without its extension; the ID3v1 tag keeps the fixed values it always
// had: the start of the output path as title, "Unknown artist", "Unknown album", "2003", track 1,
// genre 1. With `plain` the ID3v1 tag makes nothing up: fields the source does not state stay
// empty (track 0, genre 255) and the title is the one of the ID3v2 tag, the output's file name.
#pragma once

#include "audio/TagSet.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class Id3Tag {
public:
    static constexpr size_t kVersion1Size = 128;
    // ID3v1 genre byte of a genre the standard list does not name.
    static constexpr uint8_t kUnlistedGenre = 255;

    // The title the ID3v2 tag gives a file written to `outputPath`.
    static std::string TitleFor(const TagSet& tags, const std::string& outputPath);
    // The whole ID3v2.3 tag, header included.
    static std::vector<uint8_t> Version2(const TagSet& tags, const std::string& outputPath);
    static std::array<uint8_t, kVersion1Size> Version1(
        const TagSet& tags, const std::string& outputPath, bool plain = false);

    // `text` (UTF-8) in Latin-1, at most `limit` bytes; characters outside Latin-1, and bytes that
    // are not UTF-8, become "?".
    static std::string Latin1(const std::string& text, size_t limit);
    // The number of a genre in the ID3v1 list (with its common extensions), matched in any letter
    // case; kUnlistedGenre when it is not there.
    static uint8_t GenreNumber(const std::string& genre);
};
