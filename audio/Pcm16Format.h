// 16-bit PCM format records: what the conversion stage delivers, and the default format every
// stream starts from before it knows its source (2 channels, 44100 Hz).
#pragma once

#include "platform/MmSystem.h"

// Writes the 18-byte fixed part of a 16-bit PCM format with the given channels and rate.
inline void SetPcm16Format(WAVEFORMATEX* format, WORD channels, DWORD rate)
{
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = channels;
    format->nSamplesPerSec = rate;
    format->wBitsPerSample = 16;
    format->nBlockAlign = static_cast<WORD>(16 * channels / 8);
    format->nAvgBytesPerSec = format->nBlockAlign * rate;
    format->cbSize = 0;
}

inline void SetDefaultFormat(WAVEFORMATEX* format)
{
    SetPcm16Format(format, 2, 44100);
}
