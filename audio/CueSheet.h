// A CUE sheet: the text that cuts audio files into a disc's tracks (an album image, FILE
// "Album.flac" WAVE, or one FILE per track or per side, in FLAC, APE, WavPack, WAV, MP3, AIFF,
// ...), with the texts of the disc and of each track. The model keeps what the sheet states, in
// the sheet's order: the disc's fields, its FILE entries, and its tracks with their INDEX points
// as positions within their FILE, in CD frames (75 a second, written mm:ss:ff). It works out no
// track lengths: where the last track of a file ends only the file's decoder knows.
//
// Parse reads a sheet's bytes: UTF-8, with or without a byte-order mark; a sheet that is not
// UTF-8 is read as Windows-1252 (what Windows rippers wrote before UTF-8) and comes out in UTF-8.
// Command words are read in any letter case, and commands it does not know are passed over, as
// the format allows. It refuses, saying why and on which line ("line 7: INDEX without a TRACK"):
// a known command whose line is malformed (a bad time, a quote left open, a missing argument), a
// track command before any TRACK, a TRACK before any FILE, track numbers that do not rise within
// 1-99, index numbers that do not rise within a track, a position before one stated earlier in
// the same FILE, two tracks that start at one position, a track without INDEX 01, a FILE that no
// INDEX lies in, a line holding a zero byte; and, for the sheet as a whole, one with no TRACK,
// UTF-16 text, and more than kLargestSheet bytes.
//
// ResolveFiles finds the file each FILE entry names: a relative name below the sheet's folder
// (never the current folder), an absolute one as given; '\' separates folders as well as '/',
// and a Windows drive's name ("D:\Rips\Album.wav") is looked for in the sheet's folder. When the
// name is missing, a file of that name in other letter case (ASCII letters), or else of the same
// base name with another audio extension (kAudioExtensions: a sheet written for the WAV file
// before it was compressed), stands for it. A different base name is never guessed, and two
// files that could both stand for a name are not chosen between: the sheet is refused, naming the
// entry. A folder is asked what it holds through `filesIn`, once, so the choice itself is pure;
// FilesIn is the asking done on the system. Read does it all for a sheet file.
//
// Failures return nothing (false) with `error` saying why in words for the user, without the
// sheet's own name. Threads: any; the functions keep no state, a sheet is a plain value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CueSheet {
public:
    static constexpr uint32_t kFramesPerSecond = 75;
    static constexpr size_t kLargestSheet = 1u << 20;
    // Lower case, in the order in which they are tried.
    static constexpr std::array<std::string_view, 10> kAudioExtensions
        = {".flac", ".ape", ".wv", ".wav", ".aiff", ".aif", ".mp3", ".ogg", ".opus", ".m4a"};

    // A REM line: REM DATE 1999, REM GENRE "Hard Rock", REM COMMENT "...", REM DISCNUMBER 1.
    struct Remark {
        std::string key; // upper case
        std::string value; // quotes taken off
    };
    struct File {
        std::string name; // as the sheet writes it
        std::string type; // upper case: WAVE, MP3, AIFF, BINARY, MOTOROLA, FLAC, ...
        std::string path; // the file found for it by ResolveFiles; empty until then
        size_t line = 0;
    };
    struct Index {
        uint32_t number = 0; // 0: the gap before the track; 1: its start; 2-99: points within it
        size_t file = 0; // the FILE it lies in, an entry of `files`
        uint32_t frames = 0; // position within that file
    };
    struct Track {
        uint32_t number = 0;
        std::string type; // upper case: AUDIO, MODE1/2352, CDG, ...
        std::string title, performer, songwriter, isrc;
        std::vector<std::string> flags; // upper case: DCP, 4CH, PRE, SCMS
        // Silence the sheet asks for before and after the track, held by no file.
        uint32_t pregap = 0, postgap = 0; // frames
        std::vector<Index> indexes; // numbers rising; INDEX 01 always among them
        std::vector<Remark> remarks;
        size_t line = 0; // of the TRACK command

        bool IsAudio() const { return type == "AUDIO"; }
        // INDEX 01, where the track starts (a track that Parse gives always has one).
        const Index& Start() const;
        // INDEX 00, where the gap before the track starts; null when the sheet states none.
        const Index* Gap() const;
        // The value of the first REM `key` (any letter case); empty when there is none.
        std::string Rem(std::string_view key) const { return ValueOf(remarks, key); }
    };

    std::string title, performer, songwriter, catalog;
    // The disc's REM lines: DATE, GENRE, DISCNUMBER, TOTALDISCS, COMMENT, DISCID, REPLAYGAIN_*, ...
    std::vector<Remark> remarks;
    std::vector<File> files;
    std::vector<Track> tracks;

    std::string Rem(std::string_view key) const { return ValueOf(remarks, key); }

    static std::optional<CueSheet> Parse(const std::string& bytes, std::string& error);

    // The names of the regular files (links to them included) in `folder`; none when it cannot
    // be read.
    using FolderListing = std::function<std::vector<std::string>(const std::string& folder)>;
    static std::vector<std::string> FilesIn(const std::string& folder);
    // Sets every FILE entry's path, looking for it from `sheetFolder` (empty: the current folder).
    bool ResolveFiles(const std::string& sheetFolder, const FolderListing& filesIn, std::string& error);

    // The sheet file `path` (a regular file only), parsed and its files found.
    static std::optional<CueSheet> Read(const std::string& path, std::string& error);

    // "mm:ss:ff".
    static std::string TimeText(uint32_t frames);
    // The first sample of the frame position `frames` in audio of `rate` samples a second (588
    // a frame at 44100 Hz).
    static uint64_t Samples(uint32_t frames, uint32_t rate)
    {
        return uint64_t {frames} * rate / kFramesPerSecond;
    }

private:
    static std::string ValueOf(const std::vector<Remark>& remarks, std::string_view key);
};
