#include "platform/acm/AcmConversion.h"

#include "platform/media/MediaModule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Source samples beyond this magnitude are clipped before filtering; far beyond anything the
// output can hold, it keeps overloaded float input from overflowing the filter.
constexpr float kInputLimit = 16.0f;

// The largest rate change the resampler is asked for, either way.
constexpr uint64_t kMaxRateRatio = 256;

float Sanitize(float value)
{
    if (!(value == value))
        return 0.0f;
    return std::clamp(value, -kInputLimit, kInputLimit);
}

// Rounds half up (floor of value + 1/2 in 16-bit steps) and clips; NaN gives 0.
int16_t ToPcm16(float value)
{
    const float scaled = value * 32768.0f + 0.5f;
    if (!(scaled > -32768.0f))
        return scaled == scaled ? int16_t {-32768} : int16_t {0};
    if (scaled >= 32767.0f)
        return 32767;
    // The floor of a value in (-32768, 32767) without a library call: truncation, one lower for
    // a negative value with a fraction.
    const int truncated = static_cast<int>(scaled);
    return static_cast<int16_t>(truncated - (static_cast<float>(truncated) > scaled ? 1 : 0));
}

// ToPcm16 four samples at a time, in the compiler's vector types (SSE2, NEON), with the same
// results; the rest one by one.
using Floats = float __attribute__((vector_size(16)));
using Ints = int32_t __attribute__((vector_size(16)));
using Shorts = int16_t __attribute__((vector_size(8)));

void ToPcm16(const float* in, uint8_t* out, size_t count)
{
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Floats scaled;
        std::memcpy(&scaled, in + i, sizeof scaled);
        scaled = scaled * 32768.0f + 0.5f;
        const Ints number = scaled == scaled; // all ones, or 0 for NaN
        scaled = scaled < 32767.0f ? scaled : 32767.0f;
        scaled = scaled > -32768.0f ? scaled : -32768.0f;
        Ints truncated = __builtin_convertvector(scaled, Ints);
        truncated += __builtin_convertvector(truncated, Floats) > scaled; // -1: a negative fraction
        const Shorts result = __builtin_convertvector(truncated & number, Shorts);
        std::memcpy(out + 2 * i, &result, sizeof result);
    }
    for (; i < count; ++i) {
        const int16_t sample = ToPcm16(in[i]);
        std::memcpy(out + 2 * i, &sample, sizeof sample);
    }
}

void Put24(uint8_t* at, int32_t sample)
{
    at[0] = static_cast<uint8_t>(sample);
    at[1] = static_cast<uint8_t>(sample >> 8);
    at[2] = static_cast<uint8_t>(sample >> 16);
}

// Rounds half up to 24 bits and clips, as ToPcm16 does to 16; NaN gives 0. In double: a float
// holds every 24-bit step exactly, but adding the half in float could round a sample just below
// a half up to it.
int32_t ToPcm24(float value)
{
    const double scaled = std::floor(static_cast<double>(value) * 8388608.0 + 0.5);
    if (!(scaled > -8388608.0))
        return scaled == scaled ? -8388608 : 0;
    return scaled >= 8388607.0 ? 8388607 : static_cast<int32_t>(scaled);
}

void ToPcm24(const float* in, uint8_t* out, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        Put24(out + 3 * i, ToPcm24(in[i]));
}

// One linear PCM sample of `bytes` bytes as 24 bits, without going through float: 8-, 16- and
// 24-bit samples exactly, 32-bit ones rounded half up (a float of 24 significant bits would
// round them once more before that) and clipped.
int32_t IntegerTo24(const uint8_t* at, uint32_t bytes)
{
    switch (bytes) {
    case 1:
        return (int32_t {at[0]} - 128) * 65536;
    case 2:
        return static_cast<int16_t>(at[0] | at[1] << 8) * 256;
    case 3:
        return static_cast<int32_t>(uint32_t {at[0]} << 8 | uint32_t {at[1]} << 16 | uint32_t {at[2]} << 24)
            >> 8;
    default: {
        const int64_t sample = static_cast<int32_t>(
            uint32_t {at[0]} | uint32_t {at[1]} << 8 | uint32_t {at[2]} << 16 | uint32_t {at[3]} << 24);
        return static_cast<int32_t>(std::min<int64_t>((sample + 128) >> 8, 8388607));
    }
    }
}

// Packed 32-bit float samples: copied as they are, and only when some are out of range or not
// numbers, sanitized one by one.
// Whether no sample is beyond the input limit or not a number; four at a time.
bool InRange(const float* samples, size_t count)
{
    Ints within = Ints {} == 0; // all ones
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        Floats value;
        std::memcpy(&value, samples + i, sizeof value);
        within &= (value <= kInputLimit) & (value >= -kInputLimit); // 0 for NaN
    }
    bool inRange = (within[0] & within[1] & within[2] & within[3]) != 0;
    for (; i < count; ++i)
        inRange &= std::fabs(samples[i]) <= kInputLimit; // false for NaN
    return inRange;
}

void DecodeFloats(const uint8_t* data, std::vector<float>& to)
{
    if (to.empty())
        return; // nothing, perhaps from no bytes at all
    std::memcpy(to.data(), data, to.size() * sizeof(float));
    if (!InRange(to.data(), to.size()))
        std::transform(to.begin(), to.end(), to.begin(), Sanitize);
}

} // namespace

AcmConversion::AcmConversion(const AcmFormat& source, const AcmFormat& destination)
    : source(source)
    , destination(destination)
    , mixer(source.channels, destination.channels, source.channelMask)
    , mixBeforeRate(destination.channels <= source.channels)
{ }

std::unique_ptr<AcmConversion> AcmConversion::Create(const WAVEFORMATEX& sourceRecord,
    const WAVEFORMATEX& destinationRecord, uint32_t capacity, std::string* why)
{
    const auto source = AcmFormat::Source(sourceRecord, capacity, why);
    if (!source)
        return nullptr;
    const auto destination = AcmFormat::Destination(destinationRecord, why);
    if (!destination)
        return nullptr;
    const uint64_t in = source->rate, out = destination->rate;
    if (in > out * kMaxRateRatio || out > in * kMaxRateRatio) {
        if (why != nullptr)
            *why = "format not supported: a sample rate of " + std::to_string(in)
                + " Hz cannot be converted to " + std::to_string(out) + " Hz (more than "
                + std::to_string(kMaxRateRatio) + " times)";
        return nullptr;
    }
    std::unique_ptr<AcmConversion> conversion(new AcmConversion(*source, *destination));
    if (source->coding == AcmCoding::Codec) {
        conversion->decoder = AcmDecoder::Open(*source);
        if (!conversion->decoder) {
            if (why != nullptr && !MediaModule::Process().Problem().empty()) {
                *why = MediaModule::Process().Problem();
            } else if (why != nullptr) {
                char text[96];
                std::snprintf(text, sizeof text, "the decoder for format tag 0x%04X refused the format",
                    static_cast<unsigned>(source->tag));
                *why = text;
            }
            return nullptr;
        }
    }
    if (in != out) {
        const uint32_t channels = std::min(source->channels, destination->channels);
        conversion->resampler = std::make_unique<AcmResampler>(source->rate, destination->rate,
            conversion->mixBeforeRate ? destination->channels : channels, destination->bitsPerSample);
    }
    return conversion;
}

uint64_t AcmConversion::OutputBound(uint64_t sourceBytes) const
{
    uint64_t frames = source.MaxFrames(sourceBytes) + source.HeldFrames();
    if (resampler) {
        frames = frames * destination.rate / source.rate + 1;
        frames += static_cast<uint64_t>(std::ceil(resampler->Delay())) + 16;
    }
    const uint64_t waiting = (pending.size() - pendingStart) / destination.blockAlign;
    return (frames + waiting) * destination.blockAlign;
}

uint64_t AcmConversion::InputFor(uint64_t destinationBytes) const
{
    uint64_t low = 0, high = (uint64_t {1} << 32) / source.blockAlign;
    while (low < high) {
        const uint64_t blocks = (low + high + 1) / 2;
        if (OutputBound(blocks * source.blockAlign) <= destinationBytes)
            low = blocks;
        else
            high = blocks - 1;
    }
    return low * source.blockAlign;
}

void AcmConversion::Reset()
{
    if (decoder)
        decoder->Reset();
    if (resampler)
        resampler->Reset();
    pending.clear();
    pendingStart = 0;
}

AcmConversion::Result AcmConversion::Convert(
    const uint8_t* data, uint32_t length, uint8_t* out, uint32_t outLength, bool start, bool end)
{
    if (start)
        Reset();
    Result result;
    result.sourceUsed = end ? length : length - length % source.blockAlign;
    decoded.clear();
    const size_t frames = result.sourceUsed / source.blockAlign;
    if (IntegerPassesThrough()) {
        PackIntegers(data, frames);
        result.destinationUsed = Deliver(out, outLength);
        return result;
    }
    const float* samples = decoder ? nullptr : DirectFloats(data, frames);
    size_t count = frames * source.channels;
    if (samples == nullptr) {
        if (decoder) {
            decoder->Decode(data, result.sourceUsed, decoded);
            if (end)
                decoder->Flush(decoded);
        } else {
            DecodeLinear(data, frames);
        }
        samples = decoded.data();
        count = decoded.size();
    }
    Process(samples, count, end);
    result.destinationUsed = Deliver(out, outLength);
    return result;
}

template <typename Read>
void AcmConversion::DecodeSamples(const uint8_t* data, size_t frames, float* to, Read read) const
{
    // Samples sit in containers of `sampleBytes` bytes, one after another across the block; a
    // block without padding behind its samples is read as one run.
    const uint32_t bytes = source.sampleBytes;
    if (source.blockAlign == source.channels * bytes) {
        const size_t count = frames * source.channels;
        for (size_t i = 0; i < count; ++i)
            to[i] = read(data + i * bytes);
        return;
    }
    for (size_t f = 0; f < frames; ++f) {
        const uint8_t* block = data + f * source.blockAlign;
        for (uint32_t c = 0; c < source.channels; ++c)
            *to++ = read(block + size_t {c} * bytes);
    }
}

void AcmConversion::DecodeLinear(const uint8_t* data, size_t frames)
{
    decoded.resize(frames * source.channels);
    float* to = decoded.data();
    const uint32_t bytes = source.sampleBytes;
    if (source.coding == AcmCoding::Float) {
        if (bytes == 4 && source.blockAlign == 4 * source.channels)
            DecodeFloats(data, decoded);
        else if (bytes == 4)
            DecodeSamples(data, frames, to, [](const uint8_t* at) {
                float sample;
                std::memcpy(&sample, at, 4);
                return Sanitize(sample);
            });
        else
            DecodeSamples(data, frames, to, [](const uint8_t* at) {
                double sample;
                std::memcpy(&sample, at, 8);
                return Sanitize(static_cast<float>(std::clamp(sample, -1e6, 1e6)));
            });
    } else if (bytes == 1) {
        DecodeSamples(data, frames, to,
            [](const uint8_t* at) { return (static_cast<float>(at[0]) - 128.0f) / 128.0f; });
    } else if (bytes == 2) {
        DecodeSamples(data, frames, to, [](const uint8_t* at) {
            return static_cast<float>(static_cast<int16_t>(at[0] | at[1] << 8)) / 32768.0f;
        });
    } else if (bytes == 3) {
        DecodeSamples(data, frames, to, [](const uint8_t* at) {
            const int32_t sample = static_cast<int32_t>(
                uint32_t {at[0]} << 8 | uint32_t {at[1]} << 16 | uint32_t {at[2]} << 24);
            return static_cast<float>(sample >> 8) / 8388608.0f;
        });
    } else {
        DecodeSamples(data, frames, to, [](const uint8_t* at) {
            const int32_t sample = static_cast<int32_t>(
                uint32_t {at[0]} | uint32_t {at[1]} << 8 | uint32_t {at[2]} << 16 | uint32_t {at[3]} << 24);
            return static_cast<float>(sample) / 2147483648.0f;
        });
    }
}

const float* AcmConversion::DirectFloats(const uint8_t* data, size_t frames) const
{
    if (source.coding != AcmCoding::Float || source.sampleBytes != 4
        || source.blockAlign != 4 * source.channels
        || reinterpret_cast<uintptr_t>(data) % alignof(float) != 0)
        return nullptr;
    const auto* samples = reinterpret_cast<const float*>(data);
    return InRange(samples, frames * source.channels) ? samples : nullptr;
}

void AcmConversion::Process(const float* samples, size_t count, bool end)
{
    if (mixBeforeRate && !mixer.IsIdentity()) {
        mixed.clear();
        mixer.Mix(samples, count / source.channels, mixed);
        samples = mixed.data();
        count = mixed.size();
    }
    if (resampler) {
        const uint32_t channels = mixBeforeRate ? destination.channels : source.channels;
        resampled.clear();
        resampler->Process(samples, count / channels, resampled);
        if (end)
            resampler->Flush(resampled);
        samples = resampled.data();
        count = resampled.size();
    }
    if (!mixBeforeRate) {
        remixed.clear();
        mixer.Mix(samples, count / source.channels, remixed);
        samples = remixed.data();
        count = remixed.size();
    }
    Quantize(samples, count);
}

bool AcmConversion::IntegerPassesThrough() const
{
    return destination.sampleBytes == 3 && source.coding == AcmCoding::Integer && !resampler
        && mixer.IsIdentity();
}

void AcmConversion::PackIntegers(const uint8_t* data, size_t frames)
{
    uint8_t* to = MakeRoom(frames * source.channels);
    const uint32_t bytes = source.sampleBytes;
    for (size_t f = 0; f < frames; ++f) {
        const uint8_t* block = data + f * source.blockAlign;
        for (uint32_t c = 0; c < source.channels; ++c, to += 3)
            Put24(to, IntegerTo24(block + size_t {c} * bytes, bytes));
    }
}

uint8_t* AcmConversion::MakeRoom(size_t samples)
{
    if (pendingStart == pending.size()) {
        pending.clear();
        pendingStart = 0;
    }
    const size_t start = pending.size();
    pending.resize(start + samples * destination.sampleBytes);
    return pending.data() + start;
}

void AcmConversion::Quantize(const float* samples, size_t count)
{
    uint8_t* to = MakeRoom(count);
    if (destination.sampleBytes == 3)
        ToPcm24(samples, to, count);
    else
        ToPcm16(samples, to, count);
}

uint32_t AcmConversion::Deliver(uint8_t* out, uint32_t length)
{
    const size_t waitingFrames = (pending.size() - pendingStart) / destination.blockAlign;
    const size_t bytes
        = std::min<size_t>(waitingFrames, length / destination.blockAlign) * destination.blockAlign;
    if (bytes != 0)
        std::memcpy(out, pending.data() + pendingStart, bytes);
    pendingStart += bytes;
    if (pendingStart == pending.size()) {
        pending.clear();
        pendingStart = 0;
    }
    return static_cast<uint32_t>(bytes);
}
