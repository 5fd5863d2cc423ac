// Writes AAC-LC in an M4A file at a bitrate in kbit/s, for mono and stereo alike. The edit list
// states the encoder delay; the exact length for other players belongs in the tags (iTunSMPB,
// from Gapless()).
#pragma once

#include "encoders/CodecEncoder.h"

#include <cstdint>

class AacEncoder : public CodecEncoder {
public:
    explicit AacEncoder(uint32_t kbps);
};
