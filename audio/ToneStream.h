// A generated source: a sine tone of fixed length as 16-bit PCM, the same on every channel.
// Used to try the engine without any input file (the demo program, tests, benchmarks).
#pragma once

#include "audio/AudioStream.h"

#include <atomic>
#include <cstdint>

class ToneStream : public AudioStream {
public:
    ToneStream(uint32_t samplesPerSec, uint16_t channels, double frequency, double seconds,
               double amplitude = 0.5);

    WAVEFORMATEX* GetFormat() override;
    AudioBufferRef GetBuffer() override;
    void Rewind() override;
    void SkipBack(int32_t seconds) override;
    void SkipForward(int32_t seconds) override;
    double GetPosition() override;
    double GetLength() override;

    // The value of one sample frame, the same on every channel.
    int16_t SampleAt(uint64_t frame) const;

private:
    void MoveTo(int64_t frame);

    WAVEFORMATEX format{};
    double frequency;
    double amplitude;
    uint64_t totalFrames;
    std::atomic<uint64_t> nextFrame{0}; // read by progress displays on another thread
};
