// The shared body of an audio buffer: a block of bytes described by a wave header, with a kind,
// an optional wave-device handle, an ownership flag and a reference count. Code holds bodies
// only through AudioBufferRef handles (AudioBufferRef.h), which create, share and free them.
#pragma once

#include "platform/MmSystem.h"

#include <atomic>
#include <cstdint>

enum AudioBufferKind : int32_t {
    Empty = 0,  // carries no audio
    Output = 1, // holds audio ready for consumers
    Input = 2,  // freshly allocated space to be filled
};

class AudioBuffer {
public:
    AudioBufferKind kind = Empty;
    HWAVEOUT deviceHandle = 0; // the device the header was prepared with; 0 if none
    bool ownsData = false;     // header.lpData came from the heap for this body
    WAVEHDR header{};
    std::atomic<int32_t> refCount{1}; // handles sharing this body

    AudioBuffer();
    ~AudioBuffer();
    AudioBuffer(const AudioBuffer&) = delete;
    AudioBuffer& operator=(const AudioBuffer&) = delete;

    // Takes a complete header: kind Output; with copy, a new block of the header's length
    // holds a copy of its bytes. Throws std::bad_alloc when the block cannot be allocated.
    void FromHeader(const WAVEHDR& source, bool copy);

    // Undoes a device preparation; always returns false.
    bool Unprepare();

    // Appends count 16-bit values (count × 2 bytes). Builds a new block; on a failed
    // allocation throws std::bad_alloc and leaves the buffer as it was.
    void AppendSamples(const int16_t* samples, uint32_t count);

    // Appends another buffer's bytes, with the same failure rule.
    void AppendBuffer(const AudioBuffer& other);

    // Drops the bytes: length 0, block freed (a block that is already of length 0 is kept).
    void Clear();

    // Replaces the block by a new one of `size` bytes holding `prefix` then `tail`.
    void ReplaceBlock(const void* prefix, uint32_t prefixBytes, const void* tail, uint32_t tailBytes);
    void ReleaseBlock();
};
