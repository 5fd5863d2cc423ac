// Opening a source or settings file for reading, refusing everything that is not a regular file.
// A FIFO without a writer would block the opening thread for ever, a device could hand out
// endless bytes and a directory has no contents to read: each is refused at once with a reason
// in plain words, before any byte is read.
//
// Threads: any; the functions keep no state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

// Opens `path` for binary reading when it names a regular file (a symbolic link to one is
// followed). Returns null otherwise and, when `reason` is given, sets it to why: the system's
// text ("No such file or directory", "Permission denied") or "not a regular file (a FIFO)",
// "(a directory)", "(a device)", "(a socket)". The caller owns and closes the stream.
std::FILE* OpenRegularFile(const char* path, std::string* reason = nullptr);

// Why `path` cannot be opened as a regular file for reading, or an empty text when it can.
// For readers that open the file themselves (the media reader, the CD-image reader).
std::string RegularFileProblem(const char* path);

// Whether `path` names a regular file, without opening it; a link to one counts.
bool IsRegularFile(const char* path);

// Whether `path` names a device node (a CD drive's /dev/sr0, say); a link to one counts.
bool IsDeviceNode(const char* path);

// What the system says of a name, without opening it: whether it is a regular file or a folder
// (through a link only when `followLink`), its size, when its contents last changed (nanoseconds
// since 1970) and which file it is. Nothing when the name cannot be asked about.
struct FileFacts {
    bool regular = false;
    bool folder = false;
    uint64_t size = 0;
    int64_t modified = 0;
    uint64_t device = 0, inode = 0; // which file it is: two names of one file share these
};
std::optional<FileFacts> FileFactsOf(const char* path, bool followLink);

// The system's text for an error number, for example "Read-only file system".
std::string SystemErrorText(int errorNumber);
