// Names made from tags, fit to be folder and file names under an output folder.
//
// A value (an artist, a title) goes into a name through Value: "/" and "\" become "-" (a value
// never makes a folder), control characters (C0, DEL, C1) go, bytes that are not UTF-8 become
// U+FFFD, and on a FAT, exFAT or NTFS file system `: * ? " < > |` become "_" as well. A whole
// path component (a folder's name, or a file's name before its extension) goes through
// Component: the same, then a leading "." becomes "_" (no hidden files), dots and spaces at the
// end go, a component left empty or that is "." or ".." becomes "_", and a long one is cut at a
// character's end so that it fits its room: 255 bytes for a folder, kLongestFileName for a file
// with its extension (the hidden name an output is written under first is 15 bytes longer).
//
// Threads: any; the class keeps no state.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class SafeName {
public:
    static constexpr size_t kLongestComponent = 255;
    static constexpr size_t kLongestFileName = 240;

    // Which characters the output folder's file system refuses besides "/" and NUL.
    enum class System { Posix, Windows };

    static std::string Value(std::string_view value, System system);
    // A folder's name.
    static std::string Folder(std::string_view text, System system);
    // A file's name: `stem` made safe, then `extension` (".opus", kept whole).
    static std::string File(std::string_view stem, std::string_view extension, System system);

private:
    static std::string Component(std::string_view text, size_t room, System system);
};
