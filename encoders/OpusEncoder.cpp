#include "encoders/OpusEncoder.h"

OpusEncoder::OpusEncoder(uint32_t kbps)
    : CodecEncoder(AudioCodec::Opus, kbps)
{ }

int OpusEncoder::SessionQuality(uint16_t channels) const
{
    return static_cast<int>(channels == 1 ? Value() / 2 : Value());
}
