#include "audio/AudioStream.h"

AudioStream::~AudioStream() = default;

AudioBufferRef AudioStream::GetBufferEx(int32_t)
{
    return AudioBufferRef::MakeEmpty();
}

void AudioStream::Rewind()
{ }

void AudioStream::SkipBack(int32_t)
{ }

void AudioStream::SkipForward(int32_t)
{ }

void AudioStream::Seek(int32_t seconds)
{
    Rewind();
    SkipForward(seconds);
}

double AudioStream::GetPosition()
{
    return -1.0;
}

double AudioStream::GetLength()
{
    return -1.0;
}

std::string AudioStream::GetFailure()
{
    return {};
}

TagSet AudioStream::GetTags()
{
    return {};
}
