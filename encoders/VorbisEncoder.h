// Writes Ogg Vorbis (libvorbis) at a quality (0 to 10; 5 is about 160 kbit/s in stereo). The end
// granule gives decoders exactly the source's length.
#pragma once

#include "encoders/CodecEncoder.h"

#include <cstdint>

class VorbisEncoder : public CodecEncoder {
public:
    explicit VorbisEncoder(uint32_t quality);
};
