// Writes a RIFF/WAVE file of uncompressed PCM: a header, provisional when the job begins and
// rewritten with the final sizes when it finishes, then the source's bytes as they came.
//
// 16-bit PCM of one or two channels gets the plain 44-byte header (format tag 1). Deeper samples
// (24-bit) and more than two channels get a WAVE_FORMAT_EXTENSIBLE "fmt " chunk, 68 bytes of
// header in all: a plain record is ambiguous for them (which bits count, which speaker is which),
// and players that go by the platform's guidance refuse or misread it. An extensible file whose
// audio ends on an odd byte (24-bit mono, an odd number of frames) gets the pad byte RIFF asks
// for after its data chunk, counted in the RIFF size.
//
// Written to a pipe or FIFO, which cannot be gone back in, the header is written once, with the
// RIFF and data sizes 0xFFFFFFFF that a stream of unknown length has.
//
// The header's 32-bit sizes limit the audio to a little under 4 GiB: a job that reaches the
// limit keeps the last whole block that fits and ends with a valid file, and the job fails.
#pragma once

#include "encoders/Encoder.h"

#include <cstdint>
#include <vector>

class WaveEncoder : public Encoder {
public:
    // The most audio bytes whose RIFF size (bytes + 36) still fits in 32 bits, with the 44-byte
    // header.
    static constexpr uint32_t kMaxDataBytes = 0xFFFFFFFFu - 36;
    // The RIFF and data sizes of a header written to a pipe: the length is not known.
    static constexpr uint32_t kUnknownSize = 0xFFFFFFFFu;

    std::vector<uint8_t> header; // the image of the header last written
    uint32_t dataBytes = 0;

    bool Begin() override;
    bool EncodeBuffer(AudioBufferRef& pending, std::optional<AudioBufferRef>& out) override;
    bool Finish() override;
    void WriteHeader(uint32_t size);

private:
    // Whether the format needs the extensible "fmt " chunk rather than the plain 16-byte one.
    bool Extensible() const;
    uint32_t BlockAlign() const;
    uint32_t MaxDataBytes() const;
    uint32_t RoomLeft() const;
    // The header for `size` bytes of audio into `header`: plain or extensible, as the format needs.
    void BuildHeader(uint32_t size);
    void BuildPlainHeader(uint32_t size);
    void BuildExtensibleHeader(uint32_t size);
    // The one header of an output that cannot be gone back in.
    bool WriteStreamHeader();

    bool headerOnce = false; // this job's output cannot seek: its first header stands
};
