#include "platform/acm/AcmChannelMixer.h"

#include <algorithm>

namespace {

// Speaker position bits of extensible format records.
enum Speaker : uint32_t {
    FrontLeft = 0x1,
    FrontRight = 0x2,
    FrontCenter = 0x4,
    LowFrequency = 0x8,
    BackLeft = 0x10,
    BackRight = 0x20,
    FrontLeftOfCenter = 0x40,
    FrontRightOfCenter = 0x80,
    BackCenter = 0x100,
    SideLeft = 0x200,
    SideRight = 0x400,
};

uint32_t DefaultMask(uint32_t channels)
{
    switch (channels) {
    case 3:
        return FrontLeft | FrontRight | FrontCenter;
    case 4:
        return FrontLeft | FrontRight | BackLeft | BackRight;
    case 5:
        return FrontLeft | FrontRight | FrontCenter | BackLeft | BackRight;
    case 6:
        return FrontLeft | FrontRight | FrontCenter | LowFrequency | BackLeft | BackRight;
    case 7:
        return FrontLeft | FrontRight | FrontCenter | LowFrequency | BackCenter | SideLeft | SideRight;
    case 8:
        return FrontLeft | FrontRight | FrontCenter | LowFrequency | BackLeft | BackRight | SideLeft
            | SideRight;
    default:
        return 0;
    }
}

constexpr float kMinus3dB = 0.70710678f;

// Weights of one speaker onto the left and right outputs.
void StereoWeights(uint32_t speaker, float& left, float& right)
{
    switch (speaker) {
    case FrontLeft:
    case FrontLeftOfCenter:
        left = 1.0f, right = 0.0f;
        break;
    case FrontRight:
    case FrontRightOfCenter:
        left = 0.0f, right = 1.0f;
        break;
    case BackLeft:
    case SideLeft:
        left = kMinus3dB, right = 0.0f;
        break;
    case BackRight:
    case SideRight:
        left = 0.0f, right = kMinus3dB;
        break;
    case LowFrequency:
        left = 0.0f, right = 0.0f;
        break;
    default: // centre, back centre, top speakers and channels without a position
        left = kMinus3dB, right = kMinus3dB;
        break;
    }
}

} // namespace

AcmChannelMixer::AcmChannelMixer(uint32_t inChannels, uint32_t outChannels, uint32_t channelMask)
    : inChannels(inChannels)
    , outChannels(outChannels)
    , identity(inChannels == outChannels)
    , weights(size_t {inChannels} * outChannels, 0.0f)
{
    if (outChannels == 1) {
        std::fill(weights.begin(), weights.end(), 1.0f / static_cast<float>(inChannels));
    } else if (inChannels == 1) {
        std::fill(weights.begin(), weights.end(), 1.0f);
    } else if (outChannels == 2 && inChannels > 2) {
        BuildStereoDownmix(channelMask);
    } else {
        for (uint32_t k = 0; k < std::min(inChannels, outChannels); ++k)
            weights[k * inChannels + k] = 1.0f;
    }
}

void AcmChannelMixer::BuildStereoDownmix(uint32_t channelMask)
{
    uint32_t mask = channelMask != 0 ? channelMask : DefaultMask(inChannels);
    float sums[2] = {0.0f, 0.0f};
    for (uint32_t in = 0; in < inChannels; ++in) {
        // Channels take the mask's positions in order of the bits; the rest have none.
        const uint32_t speaker = mask & (~mask + 1);
        mask &= mask - 1;
        float left = 0.0f, right = 0.0f;
        StereoWeights(speaker, left, right);
        weights[in] = left;
        weights[inChannels + in] = right;
        sums[0] += left;
        sums[1] += right;
    }
    for (uint32_t out = 0; out < 2; ++out)
        for (uint32_t in = 0; in < inChannels; ++in)
            if (sums[out] > 0.0f)
                weights[out * inChannels + in] /= sums[out];
}

void AcmChannelMixer::Mix(const float* in, size_t frames, std::vector<float>& out) const
{
    const size_t start = out.size();
    out.resize(start + frames * outChannels);
    float* to = out.data() + start;
    if (identity) {
        std::copy(in, in + frames * inChannels, to);
        return;
    }
    if (outChannels == 1 && inChannels == 2) {
        for (size_t f = 0; f < frames; ++f)
            to[f] = (in[2 * f] + in[2 * f + 1]) * 0.5f;
        return;
    }
    for (size_t f = 0; f < frames; ++f, in += inChannels, to += outChannels) {
        for (uint32_t o = 0; o < outChannels; ++o) {
            const float* row = &weights[size_t {o} * inChannels];
            float sum = 0.0f;
            for (uint32_t i = 0; i < inChannels; ++i)
                sum += row[i] * in[i];
            to[o] = sum;
        }
    }
}
