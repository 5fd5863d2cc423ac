// Writes Opus at 48000 Hz (the caller resamples) in VBR mode at a bitrate in kbit/s given for two
// channels; one channel gets half of it, the same quality for half the data. The pre-skip and the
// end granule give decoders exactly the source's length.
#pragma once

#include "encoders/CodecEncoder.h"

#include <cstdint>

class OpusEncoder : public CodecEncoder {
public:
    explicit OpusEncoder(uint32_t kbps);

protected:
    int SessionQuality(uint16_t channels) const override;
};
