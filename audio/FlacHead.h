// The head of a FLAC file, read without decoding any audio and without a tag library's scan of
// the whole file: the stream's facts (STREAMINFO) and its Vorbis comment block. Listing and
// naming thousands of files reads only these; a conversion still reads everything.
//
// The blocks are walked by their headers from the "fLaC" mark: each block's 4-byte header gives
// its type and length, a block that is not wanted (a picture, a seek table, padding) is stepped
// over without being read, and the walk ends at the block marked last. A file that does not
// start with "fLaC" (an ID3v2 tag before it, say), whose first block is not a well-formed
// STREAMINFO, or whose blocks run past what can be read is refused (nothing): the caller reads it
// the slow way. The walk ends early once STREAMINFO and the comment block are read.
//
// Threads: any; calls are independent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct FlacHead {
    uint32_t sampleRate = 0;
    uint8_t channels = 0;
    uint8_t bitsPerSample = 0;
    uint64_t totalSamples = 0; // 0: not stated
    bool hasComment = false;
    std::string comment; // the VORBIS_COMMENT block's bytes (vendor text, then the fields)

    // Reads `size` bytes at `offset` into `into`; returns how many were read (fewer only at the
    // end), or -1 on failure.
    using ReadAt = std::function<int64_t(int64_t offset, void* into, size_t size)>;

    static std::optional<FlacHead> Read(const ReadAt& readAt);
    // The head of the regular file `path` (nothing for anything else); `fileSize`, when given,
    // gets the file's size.
    static std::optional<FlacHead> ReadFile(const std::string& path, uint64_t* fileSize = nullptr);
    // The head of the bytes of a whole file in memory.
    static std::optional<FlacHead> ReadBytes(const uint8_t* data, size_t size);

    // Whole seconds of audio; -1 when the stream does not state its length.
    int64_t Seconds() const { return sampleRate != 0 && totalSamples != 0 ? static_cast<int64_t>(totalSamples / sampleRate) : -1; }
};
