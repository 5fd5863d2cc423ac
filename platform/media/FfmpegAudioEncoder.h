// The encoding session of the media module (AudioEncoderSession.h) on libavcodec's encoders and
// libavformat's muxers, for FLAC, Opus and AAC (Vorbis: VorbisSession.h).
//
// Input frames are converted to the sample format the encoder takes (libswresample, at the same
// rate, so no frame is held back) and queued in an AVAudioFifo, from which the encoder gets
// frames of exactly its frame size, the last one shorter. Each frame's time stamp is its first
// sample's number, so the muxers derive the end granule (Ogg) and the edit list (MP4) from the
// frames written, and the encoder's delay (Opus's pre-skip, AAC's priming) is stated by the
// encoder.
#pragma once

#include "platform/media/AudioEncoderSession.h"
#include "platform/media/DescriptorIo.h"
#include "platform/media/FlacSeekTable.h"

#include <cstdint>
#include <memory>
#include <string>

struct AVAudioFifo;
struct AVBufferPool;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;

class FfmpegAudioEncoder final : public AudioEncoderSession {
public:
    // The table's createAudioEncoder.
    static std::unique_ptr<AudioEncoderSession> Create(
        const AudioEncoderSettings& settings, std::string& reason) noexcept;
    ~FfmpegAudioEncoder() override;

    bool Write(const void* samples, size_t frames) override;
    bool Finish() override;
    const std::string& Failure() const override { return failure; }
    Gapless Padding() const override;

private:
    explicit FfmpegAudioEncoder(const AudioEncoderSettings& settings);
    bool Open();
    bool OpenContainer();
    bool OpenCodec();
    bool OpenStream();
    bool OpenConverter();
    bool Queue(const void* samples, size_t frames);
    bool EncodeQueued(bool all);
    bool Send(const AVFrame* frame);
    bool WritePackets();
    bool TakeBuffers(AVFrame& target);
    bool Complete();
    bool Fail(const std::string& what, int error);
    bool Fail(const std::string& what);

    struct Deleter {
        void operator()(AVAudioFifo* fifo) const;
        void operator()(AVBufferPool* pool) const;
        void operator()(AVCodecContext* context) const;
        void operator()(AVFormatContext* context) const;
        void operator()(AVFrame* frame) const;
        void operator()(AVPacket* packet) const;
        void operator()(SwrContext* context) const;
    };

    AudioEncoderSettings settings;
    DescriptorIo io;
    std::unique_ptr<AVFormatContext, Deleter> container;
    std::unique_ptr<AVCodecContext, Deleter> codec;
    std::unique_ptr<SwrContext, Deleter> converter; // null when the encoder takes the input as it is
    std::unique_ptr<AVAudioFifo, Deleter> queue;
    // The frames' sample buffers, one a plane, used again once the encoder lets them go.
    std::unique_ptr<AVBufferPool, Deleter> pool;
    int planeBytes = 0; // the size of one plane of a whole frame
    std::unique_ptr<AVFrame, Deleter> frame;
    std::unique_ptr<AVPacket, Deleter> packet;
    AVStream* stream = nullptr;
    FlacSeekTable seekTable;
    int64_t nextPts = 0;
    int64_t packets = 0; // the packets the encoder gave, each one codec frame
    int frameSize = 0;
    std::string failure;
    bool failed = false;
    bool finished = false;
};
