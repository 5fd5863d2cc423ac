// A format record checked and reduced to what the converter needs. Records with zero or absurd
// rates, channel counts or block sizes, and tags the service does not convert, are refused.
#pragma once

#include "platform/MmSystem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class AcmCoding {
    Integer, // linear PCM, 8-bit unsigned or 16/24/32-bit signed little-endian containers
    Float, // IEEE float, 32 or 64 bits
    Codec, // compressed: decoded by a codec library
};

class AcmFormat {
public:
    static constexpr uint32_t kMaxChannels = 32;
    static constexpr uint32_t kMaxRate = 768000;

    // A source format, reading cbSize extra bytes after the fixed part when the record's
    // `capacity` holds them. Empty when the service cannot convert from it; `why` then says why
    // in plain words ("format not supported: 0 channels", "no decoder for format tag 0x7777").
    static std::optional<AcmFormat> Source(
        const WAVEFORMATEX& format, uint32_t capacity, std::string* why = nullptr);
    // A destination format: only consistent 16-bit or packed 24-bit PCM is produced.
    static std::optional<AcmFormat> Destination(const WAVEFORMATEX& format, std::string* why = nullptr);

    // An upper bound of the sample frames that `bytes` source bytes decode to (a trailing piece
    // of a block included).
    uint64_t MaxFrames(uint64_t bytes) const;
    // Sample frames a codec may hold back from earlier input and deliver later.
    uint64_t HeldFrames() const;

    AcmCoding coding = AcmCoding::Integer;
    WORD tag = WAVE_FORMAT_PCM; // the sub-format's tag for extensible records
    uint32_t channels = 0;
    uint32_t rate = 0;
    uint32_t blockAlign = 0;
    uint32_t sampleBytes = 0; // Integer and Float: container bytes of one sample
    uint32_t bitsPerSample = 0;
    uint32_t channelMask = 0; // speaker positions of an extensible record; 0 when not given
    std::vector<uint8_t> extra; // the bytes after the fixed part, for codecs
};
