#include "encoders/FlacEncoder.h"

FlacEncoder::FlacEncoder(uint32_t level)
    : CodecEncoder(AudioCodec::Flac, level)
{ }
