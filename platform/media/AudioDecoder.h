// Decodes one audio stream of an open file into interleaved PCM at the stream's own rate and
// channel count. A decoder that works in floating point (MP3, AAC, Vorbis, WMA) gives 32-bit IEEE
// float, unscaled and unclipped, so that whoever converts it further rounds only once; any other
// gives 16-bit PCM, or, when deep integers are asked for and the decoder gives more than 16 bits,
// 32-bit PCM with the decoder's samples unchanged in the high bits.
//
// Positions are counted in sample frames from the first frame the stream decodes to (its
// origin). After a reposition the decoder drops what lies before the target frame, so reading
// resumes exactly there even though the demuxer lands on an earlier packet.
#pragma once

#include "platform/MmSystem.h"
#include "platform/media/FrameSample.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;

class AudioDecoder {
public:
    // A decoder for `stream`, or null when no decoder reads it or its format is unusable.
    static std::unique_ptr<AudioDecoder> Open(AVStream* stream, bool deepIntegers = false);
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    const WAVEFORMATEX& Format() const { return format; }
    int StreamIndex() const { return streamIndex; }

    // What one step of decoding gives: PCM in `pcm`, or a frame of the decoder that needs nothing
    // but interleaving, which is left to whoever reads the sample (FrameSample), with its first
    // `skip` sample frames left out. `frames` counts the sample frames either way.
    struct Decoded {
        std::vector<uint8_t> pcm;
        FramePtr frame;
        size_t skip = 0;
        size_t frames = 0;
    };

    // Passes one packet to the decoder; null marks the end of the stream. A packet the decoder
    // rejects as damaged is skipped: the result is then false.
    bool Send(const AVPacket* packet);
    // The audio of the next decoded frame (possibly shortened by a pending drop); false when the
    // decoder needs another packet or, after the end, has nothing left.
    bool Next(Decoded& out);

    // Starts a fresh decoder, so nothing of the old position lingers; afterwards audio before frame
    // `targetFrame` is dropped.
    void Restart(int64_t targetFrame);

    // The timestamp (stream time base) of the stream's first decoded frame, once known.
    std::optional<int64_t> Origin() const { return origin; }
    // Records the origin without decoding, for a stream whose first frame was never seen.
    void SetOrigin(int64_t timestamp) { origin = timestamp; }

private:
    explicit AudioDecoder(int streamIndex);
    bool OpenCodec();
    bool ReceiveFrame();
    bool Convert(Decoded& out);
    bool Drain(Decoded& out);
    // Whether `input` only needs interleaving (the output's sample type, rate and channels in
    // the standard order).
    bool Interleavable(const AVFrame* input) const;
    bool MatchResampler(const AVFrame* input);
    int64_t FrameIndexOf(int64_t stamp) const;
    // Counts `out` as the frames from the current position on and drops those before the target.
    bool Deliver(Decoded& out);
    void TrimFront(Decoded& out, size_t frames);

    int streamIndex;
    double timeBase = 0.0; // seconds per stream timestamp unit
    int timeBaseNum = 0;
    int timeBaseDen = 1;
    AVCodecParameters* parameters = nullptr; // what the decoder is opened from, again on a restart
    WAVEFORMATEX format {};
    AVCodecContext* codec = nullptr;
    SwrContext* resampler = nullptr;
    AVFrame* frame = nullptr;
    // The input side the resampler was set up for.
    int resamplerFormat = -1;
    int resamplerRate = 0;
    int resamplerLayoutOrder = -1;
    uint64_t resamplerLayoutMask = 0;
    int resamplerChannels = 0;
    int outputSampleFormat = -1; // what the resampler delivers: float, 16- or 32-bit, fixed at opening

    std::optional<int64_t> origin;
    int64_t target = 0; // first frame to deliver after a restart
    std::optional<int64_t> at; // frame index of the next PCM produced, once anchored
    bool inputEnded = false; // the end was sent to the decoder
    bool decoderDrained = false; // the decoder has returned its last frame
    bool resamplerDrained = false;
};
