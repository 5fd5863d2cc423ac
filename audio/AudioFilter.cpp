#include "audio/AudioFilter.h"

AudioBufferRef AudioFilter::GetBufferEx(int32_t parameter)
{
    return source ? source->GetBufferEx(parameter) : AudioStream::GetBufferEx(parameter);
}

void AudioFilter::Rewind()
{
    if (source)
        source->Rewind();
}

void AudioFilter::SkipBack(int32_t seconds)
{
    if (source)
        source->SkipBack(seconds);
}

void AudioFilter::SkipForward(int32_t seconds)
{
    if (source)
        source->SkipForward(seconds);
}

void AudioFilter::Seek(int32_t seconds)
{
    if (source)
        source->Seek(seconds);
}

double AudioFilter::GetPosition()
{
    return source ? source->GetPosition() : AudioStream::GetPosition();
}

double AudioFilter::GetLength()
{
    return source ? source->GetLength() : AudioStream::GetLength();
}

std::string AudioFilter::GetFailure()
{
    return source ? source->GetFailure() : AudioStream::GetFailure();
}

AudioFilter* AudioFilter::SetSource(AudioStream* stream)
{
    source = stream;
    return this;
}

TagSet AudioFilter::GetTags()
{
    return source ? source->GetTags() : AudioStream::GetTags();
}
