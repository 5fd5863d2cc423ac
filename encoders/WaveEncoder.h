// Writes a RIFF/WAVE file of uncompressed PCM: a 44-byte header, provisional when the job
// begins and rewritten with the final sizes when it finishes, then the source's bytes as they
// came. The header's 32-bit sizes limit the audio to 4294967259 bytes: a job that reaches the
// limit keeps the last whole block that fits and ends with a valid file, and the job fails.
#pragma once

#include "encoders/Encoder.h"

#include <array>
#include <cstdint>

class WaveEncoder : public Encoder {
public:
    // The most audio bytes whose RIFF size (bytes + 36) still fits in 32 bits.
    static constexpr uint32_t kMaxDataBytes = 0xFFFFFFFFu - 36;

    std::array<uint8_t, 44> header {};
    uint32_t dataBytes = 0;

    bool Begin() override;
    bool EncodeBuffer(AudioBufferRef& pending, std::optional<AudioBufferRef>& out) override;
    bool Finish() override;
    void WriteHeader(uint32_t size);

private:
    uint32_t BlockAlign() const;
    uint32_t RoomLeft() const;
};
