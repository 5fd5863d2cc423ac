// A pattern that names an output from its source's tags, such as the default
// "{albumartist}/{album}/[{disc}-][{track:02} ]{title}".
//
// The pattern: text, fields in braces, and optional segments in brackets. The fields are
// albumartist, artist, album, title, track, tracktotal, disc, disctotal, year (the date's first
// four digits), date, genre, composer, filename (the source's name without its extension) and
// folder (the name of the folder holding the source). "{track:02}" pads a number with zeros to
// two digits. A segment "[...]" is left out when a field inside it is empty. Albumartist falls
// back to artist, then "Unknown Artist"; album to "Unknown Album"; title to filename. A "/" of
// the pattern makes a folder; a "/" inside a value never does (SafeName cleans every value and
// every folder and file name).
//
// Parse refuses an unknown field, a brace or bracket left open or closed without an opening, a
// segment inside a segment, a bad number format and an empty folder name ("a//b", a "/" at
// either end), saying what and at which character (counted from 1).
//
// Threads: any; a parsed pattern is not changed by Fill.
#pragma once

#include "audio/TagSet.h"
#include "engine/SafeName.h"

#include <optional>
#include <string>
#include <vector>

class NamePattern {
public:
    static constexpr const char* kDefault = "{albumartist}/{album}/[{disc}-][{track:02} ]{title}";

    // The pattern of `text`; nothing, with `error` saying why, when it is malformed.
    static std::optional<NamePattern> Parse(const std::string& text, std::string& error);

    // The output's path below the output folder for the source `sourcePath` with `tags`: its
    // folders, then its file name with `extension`, each a safe name for `system`.
    std::vector<std::string> Fill(const TagSet& tags, const std::string& sourcePath,
        const std::string& extension, SafeName::System system) const;

private:
    enum class Field {
        AlbumArtist,
        Artist,
        Album,
        Title,
        Track,
        TrackTotal,
        Disc,
        DiscTotal,
        Year,
        Date,
        Genre,
        Composer,
        FileName,
        Folder
    };
    struct Piece {
        std::string text; // literal text when `field` is not set
        std::optional<Field> field;
        size_t width = 0; // zeros to pad a number to
        bool separator = false; // a "/": the next folder or the file name begins
        bool optional = false; // inside a "[...]" segment
        size_t segment = 0; // which segment, counting from 1
    };

    static std::string ValueOf(Field field, const TagSet& tags, const std::string& sourcePath);

    std::vector<Piece> pieces;
};
