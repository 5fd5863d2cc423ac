// Whole-file decoding through the media reader, for callers that want a file's audio at once
// (checking what an encoder wrote, comparing decodes).
#pragma once

#include "platform/media/MediaReader.h"

#include <cstdint>
#include <vector>

struct DecodedAudio {
    WAVEFORMATEX format {}; // 16-bit PCM at the file's rate and channel count (float is converted)
    QWORD statedDuration = 0; // the "Duration" attribute, 0 when the file states none
    std::vector<uint8_t> pcm; // every audio sample of the first audio output, in order
};

// Decodes the first audio output of `fileName`. Fails with the reader's result, or with
// E_UNEXPECTED when the file has no audio output.
HRESULT DecodeMediaFile(const char* fileName, DecodedAudio& decoded);

// Interleaved audio as the reader delivers it, in `format`, as 16-bit samples: 16-bit PCM as it
// is, 32-bit float rounded to the nearest value (halves to even) and clipped, as FFmpeg
// converts float to 16 bits. Empty for any other format.
std::vector<int16_t> Pcm16Samples(const WAVEFORMATEX& format, const uint8_t* bytes, size_t length);
