// A handle on a shared AudioBuffer body. Copying a handle shares the body; the body, and its
// block if it owns one, go with the last handle. A handle always points at a body.
//
// Reference counts are atomic, so handles of one body may be copied and dropped on different
// threads. The body's contents are not locked: one thread at a time changes them.
//
// Allocation failures are reported by throwing std::bad_alloc; the buffer is then unchanged.
#pragma once

#include "audio/AudioBuffer.h"

#include <cstdint>

class AudioBufferRef {
public:
    // The default handle: a new Empty body without data (the end of a stream).
    AudioBufferRef();
    AudioBufferRef(const AudioBufferRef& other) noexcept;
    AudioBufferRef& operator=(const AudioBufferRef& other) noexcept;
    ~AudioBufferRef();

    static AudioBufferRef MakeEmpty();
    // A new Input body owning `size` bytes from the heap, zero-filled when asked.
    static AudioBufferRef Allocate(uint32_t size, bool zeroFill);
    // A new Output body: a copy of `size` bytes at `data`, or, without copy, a borrowed view
    // of the caller's block, which must outlive every handle of the body.
    static AudioBufferRef FromData(const void* data, uint32_t size, bool copy);

    void SetKind(AudioBufferKind kind);
    AudioBufferKind GetKind() const { return body->kind; }
    char* GetData() const { return body->header.lpData; }
    uint32_t GetLength() const { return body->header.dwBufferLength; }
    // Lowers the byte length after a short fill; the block keeps its size and is freed whole.
    void SetLength(uint32_t length);
    bool OwnsData() const { return body->ownsData; }
    int32_t RefCount() const { return body->refCount.load(std::memory_order_acquire); }
    const WAVEHDR& GetHeader() const { return body->header; }

    // The end of a stream: kind Empty or byte length 0.
    bool IsEnd() const { return body->kind == Empty || body->header.dwBufferLength == 0; }

    bool Unprepare();
    void AppendSamples(const int16_t* samples, uint32_t count);
    void AppendBuffer(const AudioBufferRef& other);
    void Clear();

    // True when both handles share one body.
    bool SharesBodyWith(const AudioBufferRef& other) const { return body == other.body; }

private:
    explicit AudioBufferRef(AudioBuffer* adopted) noexcept : body(adopted) {}
    void Release() noexcept;

    AudioBuffer* body;
};
