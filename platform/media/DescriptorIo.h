// FFmpeg's byte I/O (AVIOContext) over a file descriptor the caller owns, so that the muxers
// write to the caller's hidden new file and seek back in it (FLAC's STREAMINFO, MP4's index)
// without ever being given a file name. Positions are counted from where the descriptor stood
// when Open was called. The descriptor is never closed here.
//
// A failed system call is kept with its reason (SystemFailure), since FFmpeg passes on only an
// error number. One object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>

struct AVIOContext;

class DescriptorIo {
public:
    DescriptorIo() = default;
    ~DescriptorIo();
    DescriptorIo(const DescriptorIo&) = delete;
    DescriptorIo& operator=(const DescriptorIo&) = delete;

    // False when the context cannot be made (no memory).
    bool Open(int descriptor);
    AVIOContext* Context() const { return context; }
    bool Seekable() const { return start >= 0; }
    int Descriptor() const { return descriptor; }
    // Where the file starts in the descriptor.
    int64_t Start() const { return start; }
    // What the system said when a read, write or seek failed; empty when none did.
    const std::string& SystemFailure() const { return failure; }

private:
    static int Read(void* opaque, uint8_t* buffer, int size);
    static int Write(void* opaque, uint8_t* buffer, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);
    int Fail(const char* what);

    int descriptor = -1;
    int64_t start = -1; // -1 when the descriptor cannot seek (a pipe)
    std::string failure;
    AVIOContext* context = nullptr;
};
