// The codec service's decoder in the media module (AcmDecoder.h): decodes a compressed WAV
// format with libavcodec into interleaved float frames of the format's channel count. The codec
// is found from the format tag through libavformat's RIFF tag table and set up with the record's
// rate, channels, block align, bits and extra bytes.
//
// Whole blocks go to the decoder one packet at a time (A-law and mu-law, whose blocks are single
// frames, a few thousand bytes at a time); MPEG audio, whose frames do not follow the block
// align, is split into frames by the library's parser. A packet the decoder rejects is skipped,
// as a player would.
#pragma once

#include "platform/acm/AcmDecoder.h"
#include "platform/acm/AcmFormat.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;

class FfmpegAcmDecoder final : public AcmDecoder {
public:
    // Null when no decoder serves the format.
    static std::unique_ptr<AcmDecoder> Open(const AcmFormat& format);
    ~FfmpegAcmDecoder() override;
    FfmpegAcmDecoder(const FfmpegAcmDecoder&) = delete;
    FfmpegAcmDecoder& operator=(const FfmpegAcmDecoder&) = delete;

    void Decode(const uint8_t* data, size_t size, std::vector<float>& out) override;
    void Flush(std::vector<float>& out) override;
    void Reset() override;

private:
    explicit FfmpegAcmDecoder(const AcmFormat& format);
    bool Setup();
    void SendPacket(const uint8_t* data, size_t size, std::vector<float>& out);
    void Receive(std::vector<float>& out);
    void AppendFrame(std::vector<float>& out);
    bool OpenParser();

    struct Deleter {
        void operator()(AVCodecContext* context) const;
        void operator()(AVCodecParserContext* parser) const;
        void operator()(AVFrame* frame) const;
        void operator()(AVPacket* packet) const;
    };

    AcmFormat format;
    std::unique_ptr<AVCodecContext, Deleter> context;
    std::unique_ptr<AVCodecParserContext, Deleter> parser;
    std::unique_ptr<AVFrame, Deleter> frame;
    std::unique_ptr<AVPacket, Deleter> packet;
    std::vector<float> scratch;
    std::vector<uint8_t> padded;
    bool useParser = false;
};
