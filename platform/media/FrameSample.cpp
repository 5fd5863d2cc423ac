#include "platform/media/FrameSample.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

#include <cstring>

namespace {

// Interleaves `frames` samples of each of `channels` planes, from sample `first` on, into `to`.
// Samples are copied as words of their size, bit for bit; two channels, the common case, in one
// pass the compiler can vectorise.
template <typename Word>
void InterleavePlanes(const uint8_t* const* planes, size_t channels, size_t first, size_t frames, uint8_t* to)
{
    Word* const out = reinterpret_cast<Word*>(to);
    if (channels == 2) {
        const Word* left = reinterpret_cast<const Word*>(planes[0]) + first;
        const Word* right = reinterpret_cast<const Word*>(planes[1]) + first;
        for (size_t i = 0; i < frames; ++i) {
            out[2 * i] = left[i];
            out[2 * i + 1] = right[i];
        }
        return;
    }
    for (size_t channel = 0; channel < channels; ++channel) {
        const Word* from = reinterpret_cast<const Word*>(planes[channel]) + first;
        for (size_t i = 0; i < frames; ++i)
            out[i * channels + channel] = from[i];
    }
}

} // namespace

void FrameFree::operator()(AVFrame* frame) const
{
    av_frame_free(&frame);
}

FrameSample::FrameSample(FramePtr frame, size_t skip, size_t frames, const WAVEFORMATEX& format)
    : frame(std::move(frame))
    , skip(skip)
    , frames(frames)
    , sampleBytes(format.wBitsPerSample / 8u)
    , channels(format.nChannels)
{ }

HRESULT FrameSample::GetLength(DWORD* length)
{
    if (length == nullptr)
        return E_POINTER;
    *length = static_cast<DWORD>(frames * sampleBytes * channels);
    return S_OK;
}

HRESULT FrameSample::GetBuffer(BYTE** buffer)
{
    if (buffer == nullptr)
        return E_POINTER;
    Interleave();
    *buffer = bytes.get();
    return S_OK;
}

HRESULT FrameSample::GetBufferAndLength(BYTE** buffer, DWORD* length)
{
    if (buffer == nullptr || length == nullptr)
        return E_POINTER;
    GetBuffer(buffer);
    return GetLength(length);
}

void FrameSample::Interleave()
{
    if (!frame)
        return;
    const size_t blockAlign = sampleBytes * channels;
    bytes = std::make_unique_for_overwrite<uint8_t[]>(frames * blockAlign);
    if (!av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format)))
        std::memcpy(bytes.get(), frame->extended_data[0] + skip * blockAlign, frames * blockAlign);
    else if (sampleBytes == 4)
        InterleavePlanes<uint32_t>(frame->extended_data, channels, skip, frames, bytes.get());
    else
        InterleavePlanes<uint16_t>(frame->extended_data, channels, skip, frames, bytes.get());
    frame.reset(); // its buffer goes back to the decoder's pool
}
