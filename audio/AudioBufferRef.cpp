#include "audio/AudioBufferRef.h"

#include "platform/Heap.h"

#include <cstring>
#include <memory>
#include <new>

AudioBufferRef::AudioBufferRef() : body(new AudioBuffer) {}

AudioBufferRef::AudioBufferRef(const AudioBufferRef& other) noexcept : body(other.body)
{
    body->refCount.fetch_add(1, std::memory_order_relaxed);
}

AudioBufferRef& AudioBufferRef::operator=(const AudioBufferRef& other) noexcept
{
    // Take the new body before letting go of the old one: self-assignment stays safe.
    other.body->refCount.fetch_add(1, std::memory_order_relaxed);
    Release();
    body = other.body;
    return *this;
}

AudioBufferRef::~AudioBufferRef()
{
    Release();
}

void AudioBufferRef::Release() noexcept
{
    if (body->refCount.load(std::memory_order_acquire) == 1 && body->deviceHandle != 0)
        body->Unprepare();
    if (body->refCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete body;
}

AudioBufferRef AudioBufferRef::MakeEmpty()
{
    return AudioBufferRef();
}

AudioBufferRef AudioBufferRef::Allocate(uint32_t size, bool zeroFill)
{
    auto fresh = std::make_unique<AudioBuffer>();
    void* block = HeapAllocate(size);
    if (block == nullptr && size != 0)
        throw std::bad_alloc();
    if (zeroFill && size != 0)
        std::memset(block, 0, size);
    fresh->kind = Input;
    fresh->ownsData = true;
    fresh->header.lpData = static_cast<char*>(block);
    fresh->header.dwBufferLength = size;
    return AudioBufferRef(fresh.release());
}

AudioBufferRef AudioBufferRef::FromData(const void* data, uint32_t size, bool copy)
{
    auto fresh = std::make_unique<AudioBuffer>();
    WAVEHDR borrowed{};
    borrowed.lpData = static_cast<char*>(const_cast<void*>(data));
    borrowed.dwBufferLength = data == nullptr ? 0 : size;
    fresh->FromHeader(borrowed, copy);
    return AudioBufferRef(fresh.release());
}

void AudioBufferRef::SetKind(AudioBufferKind kind)
{
    body->kind = kind;
}

void AudioBufferRef::SetLength(uint32_t length)
{
    if (length < body->header.dwBufferLength)
        body->header.dwBufferLength = length;
}

bool AudioBufferRef::Unprepare()
{
    return body->Unprepare();
}

void AudioBufferRef::AppendSamples(const int16_t* samples, uint32_t count)
{
    body->AppendSamples(samples, count);
}

void AudioBufferRef::AppendBuffer(const AudioBufferRef& other)
{
    body->AppendBuffer(*other.body);
}

void AudioBufferRef::Clear()
{
    body->Clear();
}
