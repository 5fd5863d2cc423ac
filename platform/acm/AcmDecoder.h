// Decodes a compressed WAV format (ADPCM, A-law, mu-law, GSM 6.10, MPEG audio) into interleaved
// float frames of the format's channel count, for a conversion stream of the codec service.
//
// The decoders are FFmpeg's and live in the media module (FfmpegAcmDecoder, MediaModuleTable.h):
// Open loads the module the first time a compressed format is opened, so conversions of linear
// PCM and float never load FFmpeg. One decoder is used by one thread at a time.
#pragma once

#include "platform/acm/AcmFormat.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class AcmDecoder {
public:
    // Null when no decoder serves the format, or when the media module cannot be loaded
    // (MediaModule::Process().Problem() then says why). May throw std::bad_alloc.
    static std::unique_ptr<AcmDecoder> Open(const AcmFormat& format);
    virtual ~AcmDecoder() = default;

    // Decodes `size` bytes (whole blocks, or at the end of the input also a piece of one) and
    // appends the frames to `out`. Throws std::bad_alloc when memory runs out.
    virtual void Decode(const uint8_t* data, size_t size, std::vector<float>& out) = 0;
    // End of input: appends what the decoder still holds, then is ready for a fresh signal.
    virtual void Flush(std::vector<float>& out) = 0;
    // Drops everything held: ready for a fresh signal.
    virtual void Reset() = 0;

protected:
    AcmDecoder() = default;
    AcmDecoder(const AcmDecoder&) = delete;
    AcmDecoder& operator=(const AcmDecoder&) = delete;
};
