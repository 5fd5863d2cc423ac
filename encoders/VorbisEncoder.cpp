#include "encoders/VorbisEncoder.h"

VorbisEncoder::VorbisEncoder(uint32_t quality)
    : CodecEncoder(AudioCodec::Vorbis, quality)
{ }
