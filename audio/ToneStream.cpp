#include "audio/ToneStream.h"

#include <algorithm>
#include <cmath>
#include <numbers>

ToneStream::ToneStream(uint32_t samplesPerSec, uint16_t channels, double frequency, double seconds,
                       double amplitude)
    : frequency(frequency), amplitude(std::clamp(amplitude, 0.0, 1.0))
{
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = std::max<uint16_t>(channels, 1);
    format.nSamplesPerSec = std::max<uint32_t>(samplesPerSec, 1);
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(format.nChannels * 2);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.cbSize = 0;
    totalFrames = static_cast<uint64_t>(std::max(seconds, 0.0) * format.nSamplesPerSec);
    bufferSize = format.nAvgBytesPerSec / 10 / format.nBlockAlign * format.nBlockAlign;
}

WAVEFORMATEX* ToneStream::GetFormat()
{
    return &format;
}

int16_t ToneStream::SampleAt(uint64_t frame) const
{
    const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(frame) / format.nSamplesPerSec;
    return static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(phase)));
}

AudioBufferRef ToneStream::GetBuffer()
{
    const uint64_t first = nextFrame.load();
    const uint64_t frames = std::min<uint64_t>(bufferSize / format.nBlockAlign, totalFrames - first);
    if (frames == 0)
        return AudioBufferRef::MakeEmpty();
    AudioBufferRef buffer = AudioBufferRef::Allocate(static_cast<uint32_t>(frames * format.nBlockAlign), false);
    auto* out = reinterpret_cast<int16_t*>(buffer.GetData());
    for (uint64_t i = 0; i < frames; ++i) {
        const int16_t value = SampleAt(first + i);
        for (uint16_t c = 0; c < format.nChannels; ++c)
            *out++ = value;
    }
    buffer.SetKind(Output);
    nextFrame.store(first + frames);
    return buffer;
}

void ToneStream::MoveTo(int64_t frame)
{
    nextFrame.store(static_cast<uint64_t>(std::clamp<int64_t>(frame, 0, static_cast<int64_t>(totalFrames))));
}

void ToneStream::Rewind()
{
    MoveTo(0);
}

void ToneStream::SkipBack(int32_t seconds)
{
    MoveTo(static_cast<int64_t>(nextFrame.load()) - static_cast<int64_t>(seconds) * format.nSamplesPerSec);
}

void ToneStream::SkipForward(int32_t seconds)
{
    MoveTo(static_cast<int64_t>(nextFrame.load()) + static_cast<int64_t>(seconds) * format.nSamplesPerSec);
}

double ToneStream::GetPosition()
{
    return static_cast<double>(nextFrame.load()) / format.nSamplesPerSec;
}

double ToneStream::GetLength()
{
    return static_cast<double>(totalFrames) / format.nSamplesPerSec;
}
