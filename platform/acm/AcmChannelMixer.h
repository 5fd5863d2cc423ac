// Mixes interleaved float frames from one channel count to another by a fixed weight matrix
// (the rules are listed in Acm.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class AcmChannelMixer {
public:
    // `channelMask`: the source's speaker positions (extensible records); 0 picks the usual
    // layout for the channel count.
    AcmChannelMixer(uint32_t inChannels, uint32_t outChannels, uint32_t channelMask = 0);

    bool IsIdentity() const { return identity; }
    uint32_t InChannels() const { return inChannels; }
    uint32_t OutChannels() const { return outChannels; }
    float Weight(uint32_t out, uint32_t in) const { return weights[out * inChannels + in]; }

    // Appends the mixed frames of `frames` source frames to `out`.
    void Mix(const float* in, size_t frames, std::vector<float>& out) const;

private:
    void BuildStereoDownmix(uint32_t channelMask);

    uint32_t inChannels;
    uint32_t outChannels;
    bool identity;
    std::vector<float> weights; // outChannels rows of inChannels weights
};
