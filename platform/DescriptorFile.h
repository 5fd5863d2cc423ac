// Reading and writing at given positions of a file that the caller holds open by its descriptor
// (an unnamed new output file has no path to open it by again). The descriptor's own file
// position is never moved and the descriptor is never closed here.
//
// The first failed system call is kept with the system's reason (Failure), so that a writer
// whose library passes on no errors can still say why it failed. One object is used by one thread
// at a time; the descriptor must stay open while the object is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class DescriptorFile {
public:
    explicit DescriptorFile(int descriptor)
        : descriptor(descriptor)
    { }

    // Reads up to `size` bytes at `offset` into `into`: fewer only at the end of the file.
    // The number read, or -1 on failure.
    int64_t ReadAt(int64_t offset, void* into, size_t size);
    // Writes all `size` bytes at `offset`; false on failure.
    bool WriteAt(int64_t offset, const void* bytes, size_t size);
    // Makes the file `size` bytes long; false on failure.
    bool Truncate(int64_t size);
    // The file's length in bytes, or -1 on failure.
    int64_t Size();
    // Moves the bytes from `from` to the end of the file so that they start at `to`, making the
    // file longer or shorter by the difference. The bytes before `to` are kept: when the file
    // grows, the gap between `from` and `to` still holds what it held (zeros past the old end).
    // When `from` is at or past the end there is nothing to move and the file is cut to `to`
    // if that is shorter. False on failure.
    bool MoveTail(int64_t from, int64_t to);

    // What the system said when a call failed ("No space left on device"); empty when none did.
    const std::string& Failure() const { return failure; }

private:
    bool Fail(const char* what);

    int descriptor;
    std::string failure;
};
