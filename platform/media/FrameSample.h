// One sample handed out by the reader that still holds the decoder's own frame: its samples are
// interleaved when they are first asked for, on the thread that reads them. The decoding thread,
// which bounds how fast a compressed file converts, then only decodes, and the copy is made by
// the consumer, whose memory it ends up in.
//
// The length is known at once and may be asked on any thread; the bytes are made by the first
// call of GetBuffer or GetBufferAndLength, which one thread at a time may make.
#pragma once

#include "platform/media/MediaObject.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct AVFrame;

// A decoder frame reference, released with av_frame_free.
struct FrameFree {
    void operator()(AVFrame* frame) const;
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

class FrameSample final : public MediaObject<INSSBuffer> {
public:
    // `frames` sample frames of `frame` (planar or packed, in `format`'s sample size and channel
    // count), from sample frame `skip` on.
    FrameSample(FramePtr frame, size_t skip, size_t frames, const WAVEFORMATEX& format);

    HRESULT GetLength(DWORD* length) override;
    HRESULT GetBuffer(BYTE** buffer) override;
    HRESULT GetBufferAndLength(BYTE** buffer, DWORD* length) override;

private:
    void Interleave();

    FramePtr frame; // released once interleaved
    size_t skip;
    size_t frames;
    size_t sampleBytes;
    size_t channels;
    std::unique_ptr<uint8_t[]> bytes;
};
