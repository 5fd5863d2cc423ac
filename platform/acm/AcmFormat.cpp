#include "platform/acm/AcmFormat.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr WORD kMpegAudio = 0x0050; // MPEG audio layers 1 and 2

// The GUID of an extensible sub-format: the format tag in its first two bytes, then this tail.
constexpr uint8_t kSubFormatTail[14]
    = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool IsCodecTag(WORD tag)
{
    switch (tag) {
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
    case WAVE_FORMAT_IMA_ADPCM:
    case WAVE_FORMAT_GSM610:
    case kMpegAudio:
    case WAVE_FORMAT_MPEGLAYER3:
        return true;
    default:
        return false;
    }
}

uint32_t Le32(const uint8_t* at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | uint32_t {at[3]} << 24;
}

// Reads the sub-format of an extensible record into `out`; false when it is not one we know.
bool ResolveExtensible(const WAVEFORMATEX& format, const uint8_t* extra, AcmFormat& out)
{
    // Extra part: valid bits (2), channel mask (4), sub-format GUID (16).
    if (format.cbSize < 22)
        return false;
    const uint16_t validBits = static_cast<uint16_t>(extra[0] | extra[1] << 8);
    out.channelMask = Le32(extra + 2);
    const uint8_t* guid = extra + 6;
    if (std::memcmp(guid + 2, kSubFormatTail, sizeof kSubFormatTail) != 0)
        return false;
    out.tag = static_cast<WORD>(guid[0] | guid[1] << 8);
    if (validBits > format.wBitsPerSample)
        return false;
    return out.tag != WAVE_FORMAT_EXTENSIBLE;
}

bool DescribeLinear(const WAVEFORMATEX& format, AcmFormat& out)
{
    if (format.nBlockAlign % format.nChannels != 0)
        return false;
    out.sampleBytes = format.nBlockAlign / format.nChannels;
    out.bitsPerSample = format.wBitsPerSample;
    if (out.tag == WAVE_FORMAT_IEEE_FLOAT) {
        out.coding = AcmCoding::Float;
        return (out.sampleBytes == 4 && format.wBitsPerSample == 32)
            || (out.sampleBytes == 8 && format.wBitsPerSample == 64);
    }
    out.coding = AcmCoding::Integer;
    return out.sampleBytes >= 1 && out.sampleBytes <= 4 && format.wBitsPerSample >= 1
        && format.wBitsPerSample <= out.sampleBytes * 8;
}

// Sets the reason (when asked for) and gives the empty answer.
std::optional<AcmFormat> Refuse(
    std::string* why, const char* pattern, unsigned long a = 0, unsigned long b = 0)
{
    if (why != nullptr) {
        char text[160];
        std::snprintf(text, sizeof text, pattern, a, b);
        *why = text;
    }
    return std::nullopt;
}

// Why a linear (PCM or float) record cannot be read, or null when it can.
std::optional<AcmFormat> RefuseLinear(const WAVEFORMATEX& format, const AcmFormat& out, std::string* why)
{
    if (out.tag == WAVE_FORMAT_IEEE_FLOAT)
        return Refuse(why, "format not supported: %lu-bit float samples in blocks of %lu bytes",
            format.wBitsPerSample, format.nBlockAlign);
    if (format.wBitsPerSample == 0)
        return Refuse(why, "format not supported: 0 bits per sample");
    return Refuse(why, "format not supported: block align %lu does not fit %lu channels", format.nBlockAlign,
        format.nChannels);
}

} // namespace

std::optional<AcmFormat> AcmFormat::Source(const WAVEFORMATEX& format, uint32_t capacity, std::string* why)
{
    AcmFormat out;
    out.tag = format.wFormatTag;
    out.channels = format.nChannels;
    out.rate = format.nSamplesPerSec;
    out.blockAlign = format.nBlockAlign;
    if (out.channels == 0 || out.channels > kMaxChannels)
        return Refuse(why, "format not supported: %lu channels", out.channels);
    if (out.rate == 0 || out.rate > kMaxRate)
        return Refuse(why, "format not supported: a sample rate of %lu Hz", out.rate);
    if (out.blockAlign == 0)
        return Refuse(why, "format not supported: block align 0");
    if (format.wFormatTag != WAVE_FORMAT_PCM && 18u + format.cbSize > capacity)
        return Refuse(why, "format not supported: the format record declares %lu extra bytes", format.cbSize);
    const auto* extra = reinterpret_cast<const uint8_t*>(&format) + sizeof(WAVEFORMATEX);
    if (format.wFormatTag == WAVE_FORMAT_EXTENSIBLE && !ResolveExtensible(format, extra, out))
        return Refuse(why, "format not supported: an extensible format of an unknown kind");
    if (out.tag == WAVE_FORMAT_PCM || out.tag == WAVE_FORMAT_IEEE_FLOAT) {
        if (!DescribeLinear(format, out))
            return RefuseLinear(format, out, why);
        return out;
    }
    if (!IsCodecTag(out.tag))
        return Refuse(why, "no decoder for format tag 0x%04lX", out.tag);
    out.coding = AcmCoding::Codec;
    out.bitsPerSample = format.wBitsPerSample;
    if (format.wFormatTag != WAVE_FORMAT_EXTENSIBLE)
        out.extra.assign(extra, extra + format.cbSize);
    return out;
}

std::optional<AcmFormat> AcmFormat::Destination(const WAVEFORMATEX& format, std::string* why)
{
    const uint32_t bytes = format.wBitsPerSample / 8u;
    if (format.wFormatTag != WAVE_FORMAT_PCM || (format.wBitsPerSample != 16 && format.wBitsPerSample != 24)
        || format.nChannels == 0 || format.nChannels > kMaxChannels
        || format.nBlockAlign != bytes * format.nChannels)
        return Refuse(why, "output format not supported: only 16- and 24-bit PCM are written");
    if (format.nSamplesPerSec == 0 || format.nSamplesPerSec > kMaxRate)
        return Refuse(why, "output format not supported: a sample rate of %lu Hz", format.nSamplesPerSec);
    AcmFormat out;
    out.channels = format.nChannels;
    out.rate = format.nSamplesPerSec;
    out.blockAlign = format.nBlockAlign;
    out.sampleBytes = bytes;
    out.bitsPerSample = format.wBitsPerSample;
    return out;
}

uint64_t AcmFormat::MaxFrames(uint64_t bytes) const
{
    const uint64_t blocks = (bytes + blockAlign - 1) / blockAlign;
    switch (coding) {
    case AcmCoding::Integer:
    case AcmCoding::Float:
        return bytes / blockAlign;
    case AcmCoding::Codec:
        break;
    }
    switch (tag) {
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        return bytes / channels + 1;
    case WAVE_FORMAT_GSM610:
        // 320 samples per 65-byte pair of frames, 160 per 33-byte frame: under 5 per byte.
        return (bytes / 32 + 1) * 160;
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_IMA_ADPCM:
        // At least 2 bits per sample, plus the samples held in each block's header.
        return blocks * (uint64_t {blockAlign} * 4 / channels + 2);
    default:
        // MPEG audio: no frame carries more than 16 samples per byte.
        return bytes * 16 + 1152;
    }
}

uint64_t AcmFormat::HeldFrames() const
{
    return coding == AcmCoding::Codec ? 2 * 1152 : 0;
}
