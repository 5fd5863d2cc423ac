// Writes FLAC at a compression level (0 fastest to 8 smallest). Lossless: the decoded samples
// are the source's, 16 or 24 bits; STREAMINFO holds the length and the audio's MD5, and a seek
// table has a point about every ten seconds.
#pragma once

#include "encoders/CodecEncoder.h"

#include <cstdint>

class FlacEncoder : public CodecEncoder {
public:
    explicit FlacEncoder(uint32_t level);
};
