// The types of file a user can give as sources, one row per family: the text the open-file
// dialog shows for it, its extensions, and whether its files are disc images (.cue, .toc),
// which stand for their audio tracks rather than for audio of their own. The window's file
// dialog, the window's list and (in time) the other faces read this one table, so that a type
// offered is a type listed.
//
// An extension is the text after a path's last "." (none when that "." is its first
// character), compared in any letter case: "Song.FLAC" is a FLAC file, "flac" is no file type.
//
// Threads: any; the table is a constant.
#pragma once

#include <string>
#include <vector>

class SourceTypes {
public:
    struct Family {
        // The filter's text before its patterns: "Wave Files " ("Mp3 Files" keeps its old
        // spelling, without the space).
        const char* caption;
        std::vector<const char*> extensions; // lower case, without the "."
        bool discImages;
    };

    // The families in the order the file dialog offers them: audio files first, disc images last.
    static const std::vector<Family>& All();

    // The file dialog's filters: "Audio Files (...)" with every pattern first, then one per
    // family, such as "Ogg and Opus Files (*.ogg *.oga *.opus)".
    static std::vector<std::string> DialogFilters();

    // Whether a path names a file of an audio family, or a disc image, by its extension.
    static bool IsAudioFile(const std::string& path);
    static bool IsDiscImage(const std::string& path);

private:
    static const Family* FamilyOf(const std::string& path);
};
