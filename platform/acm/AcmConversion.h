// One open conversion stream: decoding (own code for PCM and float, a codec library for the
// rest), channel mixing, rate change and rounding to 16-bit or packed 24-bit PCM, with the state
// that carries from one conversion call to the next. Behind every HACMSTREAM handle.
#pragma once

#include "platform/acm/AcmChannelMixer.h"
#include "platform/acm/AcmDecoder.h"
#include "platform/acm/AcmFormat.h"
#include "platform/acm/AcmResampler.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AcmConversion {
public:
    // Null when the pair cannot be converted; `why` then says why in plain words.
    static std::unique_ptr<AcmConversion> Create(const WAVEFORMATEX& source, const WAVEFORMATEX& destination,
        uint32_t capacity, std::string* why = nullptr);

    // Upper bound of the destination bytes the next Convert of `sourceBytes` delivers.
    uint64_t OutputBound(uint64_t sourceBytes) const;
    // The most source bytes, in whole blocks, whose conversion surely fits in `destinationBytes`.
    uint64_t InputFor(uint64_t destinationBytes) const;

    struct Result {
        uint32_t sourceUsed = 0;
        uint32_t destinationUsed = 0;
    };
    // `end`: this is the last of the source; `start`: drop everything held first.
    Result Convert(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
        uint32_t destinationLength, bool start, bool end);

    // The sizes the header had when it was prepared, to check later calls against.
    uint32_t preparedSource = 0;
    uint32_t preparedDestination = 0;

private:
    AcmConversion(const AcmFormat& source, const AcmFormat& destination);
    void Reset();
    void DecodeLinear(const uint8_t* data, size_t frames);
    // Reads `frames` frames of linear samples into `to`, one sample through `read`.
    template <typename Read>
    void DecodeSamples(const uint8_t* data, size_t frames, float* to, Read read) const;
    // The source's packed 32-bit float samples as they are, when they are aligned and none
    // needs sanitizing; null otherwise, and they are decoded into `decoded`.
    const float* DirectFloats(const uint8_t* data, size_t frames) const;
    // Mixes, resamples and rounds `count` interleaved source samples into `pending`.
    void Process(const float* samples, size_t count, bool end);
    void Quantize(const float* samples, size_t count);
    // Linear integer samples to 24 bits need no float stage when no channel is mixed and no
    // rate changed: they are repacked, exactly (rounded only from 32 bits).
    bool IntegerPassesThrough() const;
    void PackIntegers(const uint8_t* data, size_t frames);
    // Room for `samples` more output samples at the end of `pending`.
    uint8_t* MakeRoom(size_t samples);
    uint32_t Deliver(uint8_t* destination, uint32_t length);

    AcmFormat source;
    AcmFormat destination;
    std::unique_ptr<AcmDecoder> decoder; // compressed sources only
    std::unique_ptr<AcmResampler> resampler; // when the rates differ
    AcmChannelMixer mixer;
    bool mixBeforeRate; // mix first when it lowers the channel count: less to resample

    std::vector<float> decoded, mixed, resampled, remixed; // work space, reused
    std::vector<uint8_t> pending; // converted output not delivered yet, in the destination format
    size_t pendingStart = 0; // in bytes
};
