#include "audio/AudioBuffer.h"

#include "platform/Heap.h"

#include <cstring>
#include <limits>
#include <new>

AudioBuffer::AudioBuffer()
{
    header.dwUser = reinterpret_cast<DWORD_PTR>(this);
}

AudioBuffer::~AudioBuffer()
{
    ReleaseBlock();
}

void AudioBuffer::FromHeader(const WAVEHDR& source, bool copy)
{
    ReleaseBlock();
    kind = Output;
    ownsData = false;
    header = source;
    if (copy) {
        header.lpData = nullptr;
        header.dwBufferLength = 0;
        ReplaceBlock(source.lpData, source.dwBufferLength, nullptr, 0);
    }
    header.dwFlags &= ~WHDR_PREPARED;
    header.lpNext = nullptr;
    header.reserved = 0;
    header.dwUser = reinterpret_cast<DWORD_PTR>(this);
}

bool AudioBuffer::Unprepare()
{
    if (deviceHandle == 0)
        return false;
    MMRESULT result = MMSYSERR_NOERROR;
    if (kind == Output)
        result = waveOutUnprepareHeader(deviceHandle, &header, sizeof(WAVEHDR));
    else if (kind == Input)
        result = waveInUnprepareHeader(deviceHandle, &header, sizeof(WAVEHDR));
    else
        return false;
    if (result == MMSYSERR_NOERROR)
        deviceHandle = 0;
    return false;
}

void AudioBuffer::AppendSamples(const int16_t* samples, uint32_t count)
{
    if (count > std::numeric_limits<uint32_t>::max() / 2)
        throw std::bad_alloc();
    ReplaceBlock(header.lpData, header.dwBufferLength, samples, count * 2);
}

void AudioBuffer::AppendBuffer(const AudioBuffer& other)
{
    // Read the other body's fields first: it may be this very body.
    const char* tail = other.header.lpData;
    const uint32_t tailBytes = other.header.dwBufferLength;
    if (tailBytes == 0)
        return;
    ReplaceBlock(header.lpData, header.dwBufferLength, tail, tailBytes);
}

void AudioBuffer::Clear()
{
    if (header.dwBufferLength == 0)
        return;
    ReleaseBlock();
}

void AudioBuffer::ReplaceBlock(const void* prefix, uint32_t prefixBytes, const void* tail, uint32_t tailBytes)
{
    if (tailBytes > std::numeric_limits<uint32_t>::max() - prefixBytes)
        throw std::bad_alloc();
    const uint32_t total = prefixBytes + tailBytes;
    char* block = static_cast<char*>(HeapAllocate(total));
    if (block == nullptr && total != 0)
        throw std::bad_alloc();
    if (prefixBytes != 0)
        std::memcpy(block, prefix, prefixBytes);
    if (tailBytes != 0)
        std::memcpy(block + prefixBytes, tail, tailBytes);
    ReleaseBlock();
    header.lpData = block;
    header.dwBufferLength = total;
    ownsData = true;
}

void AudioBuffer::ReleaseBlock()
{
    // A borrowed block belongs to its lender and is only let go of, never freed.
    if (ownsData)
        HeapRelease(header.lpData);
    header.lpData = nullptr;
    header.dwBufferLength = 0;
    ownsData = false;
}
