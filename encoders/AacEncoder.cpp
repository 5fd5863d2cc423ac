#include "encoders/AacEncoder.h"

AacEncoder::AacEncoder(uint32_t kbps)
    : CodecEncoder(AudioCodec::Aac, kbps)
{ }
