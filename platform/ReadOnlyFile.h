// A regular file open for reading at given positions, by its descriptor alone (no stream, no
// buffer): for readers that take a few small pieces of many files, such as the heads of a
// library's FLAC files. Like OpenRegularFile it refuses at once, without waiting, anything that
// is not a regular file (a FIFO, a device, a folder); a link to a regular file is followed.
//
// Threads: one object is used by one thread at a time. The destructor closes the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::string& path);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool IsOpen() const { return descriptor >= 0; }
    // The file's size when it was opened.
    uint64_t Size() const { return size; }
    // Reads up to `size` bytes at `offset`: fewer only at the end of the file. The number read,
    // or -1 on failure (or when the file is not open).
    int64_t ReadAt(int64_t offset, void* into, size_t size) const;

private:
    int descriptor = -1;
    uint64_t size = 0;
};
