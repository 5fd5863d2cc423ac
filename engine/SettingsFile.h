// The settings file: a serialised array of counted texts, kept beside the executable when that
// copy exists and can be written, else in the user's configuration folder (see Choose). Element 0
// is the output folder, 1 the bitrate text, 2 the channel text, 3 the output format's key, 4
// its quality's key, 5 the number of files the window converts at once and 6 the window's look. A file whose
// elements 3 and 4 are empty (or missing) reads as Auto; an unknown format reads as Auto and an unknown
// quality as the format's default. Element 5 is written only when a number of jobs was chosen,
// as its decimal digits; missing, empty or anything but 1 to 8 it reads as the default. So a
// program that knows only the first three or five elements and this one read each other's
// files, and the default settings are the same five elements as ever. Element 6 is written, as
// "System", only for the desktop's own look (element 5 is then empty when no number of jobs is
// chosen); missing or anything else it reads as "Striped". Elements 7 to 10 hold the choices of
// library runs: the output layout's key ("mirror", "beside", "tags"; empty or unknown: one
// folder), the naming pattern (empty: the default) and "1" for "Skip files already converted"
// and for "Copy cover images". Every element after the fifth is written only up to the last
// that differs from its default (those before it empty when at their default), so the default
// file keeps its five elements. Numbers are little-endian.
//
// Array:  count as u16, or 0xFFFF then the count as u32.
// Text:   length < 255: one byte; up to 0xFFFD: 0xFF then u16; otherwise 0xFF, 0xFFFF, u32;
//         then that many bytes. A text of 16-bit characters is marked by 0xFF 0xFFFE, followed
//         by a second length prefix and length x 2 bytes of UTF-16; it is read (as UTF-8) but
//         never written.
//
// Reading is tolerant: a file that ends early or holds a malformed element gives the elements
// read in full before it, and the caller's defaults cover the rest.
#pragma once

#include "engine/ConversionSettings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SettingsFile {
public:
    // The elements this program reads; it writes five of them while every later choice is at
    // its default.
    static constexpr uint32_t kElementCount = 11;
    // A settings file is a few hundred bytes; Read looks at no more than this of a file.
    static constexpr size_t kLargestFile = 16u << 20;

    // path: the file read and written. startingPath: read instead while `path` does not exist
    // yet (the copy beside the program, on the user's first run); empty for none.
    explicit SettingsFile(std::string path, std::string startingPath = std::string());

    // Where the settings are kept, from what is known about the file beside the program:
    //   - it exists and its folder takes new files: that file (a portable copy keeps working);
    //   - otherwise $XDG_CONFIG_HOME/varkonel/varkonel.ini, or ~/.config/varkonel/varkonel.ini
    //     when XDG_CONFIG_HOME is unset, empty or not absolute; an existing file beside the
    //     program gives the starting values until that one is written;
    //   - with neither XDG_CONFIG_HOME nor a home folder: the file beside the program.
    struct Place {
        std::string path;
        std::string startingPath;
        bool operator==(const Place& other) const
        {
            return path == other.path && startingPath == other.startingPath;
        }
    };
    static Place Choose(const std::string& besidePath, bool besideExists, bool besideFolderWritable,
        const std::string& configHome, const std::string& home);
    // Choose, asking the system about the file beside the program and the environment.
    static SettingsFile At(const std::string& besidePath);

    // The file of a program: its path with the extension replaced by "ini", or ".ini" appended
    // when the file name has none (/opt/bin/varkonel -> /opt/bin/varkonel.ini,
    // D:/Tools/conv.exe -> D:/Tools/conv.ini).
    static std::string PathFor(const std::string& executablePath);
    // The file of the running program: At its PathFor.
    static SettingsFile OfThisProgram();
    // The file of another program in the running program's folder, chosen as At does (the
    // command-line tool reads the window's file this way).
    static SettingsFile OfProgramBeside(const std::string& programName);

    const std::string& Path() const { return path; }
    const std::string& StartingPath() const { return startingPath; }

    // Assigns the elements read in full to the texts and leaves the other texts as they were;
    // the number of jobs becomes the file's, or none (0) when it holds none that can be chosen.
    // False when the file cannot be opened (nothing changes).
    bool Read(ConversionSettings& settings) const;
    // Creates the file anew with the count 5 and the five elements (Auto: 3 and 4 empty), or 6
    // and the number of jobs when one is chosen, or 7 and "System" for the desktop's look, and
    // its folder when that is missing. False with
    // `reason` set to the system's text when it cannot be written completely.
    bool Write(const ConversionSettings& settings, std::string& reason) const;
    bool Write(const ConversionSettings& settings) const
    {
        std::string reason;
        return Write(settings, reason);
    }

    // The texts of an array held in memory: at most `limit` elements, stopping at the first one
    // that is not complete or not well formed.
    static std::vector<std::string> Decode(const uint8_t* data, size_t size, size_t limit = kElementCount);
    // The array of the given texts, in the form the program writes.
    static std::vector<uint8_t> Encode(const std::vector<std::string>& texts);

    // The format and quality texts as a known format's and quality's keys; an unknown format
    // becomes Auto (both empty) and an unknown quality the default (empty).
    static void KeepKnownFormat(ConversionSettings& settings);
    // The number of jobs element 5 holds: its digits when they give 1 to 8, else 0 (the default).
    static int JobsOf(const std::string& text);
    // Whether element 6 names the desktop's own look: "System" in any letter case.
    static bool IsSystemLook(const std::string& text);

private:
    std::string path;
    std::string startingPath;
};
