// PCM format records: what the conversion stage delivers (16-bit, or packed 24-bit when asked
// for), and the default format every stream starts from before it knows its source (16-bit,
// 2 channels, 44100 Hz).
#pragma once

#include "platform/MmSystem.h"

// Writes the 18-byte fixed part of a PCM format with the given channels, rate and bits per
// sample (8, 16, 24 or 32: samples packed without padding).
inline void SetPcmFormat(WAVEFORMATEX* format, WORD channels, DWORD rate, WORD bits)
{
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = channels;
    format->nSamplesPerSec = rate;
    format->wBitsPerSample = bits;
    format->nBlockAlign = static_cast<WORD>(bits * channels / 8);
    format->nAvgBytesPerSec = format->nBlockAlign * rate;
    format->cbSize = 0;
}

inline void SetPcm16Format(WAVEFORMATEX* format, WORD channels, DWORD rate)
{
    SetPcmFormat(format, channels, rate, 16);
}

inline void SetDefaultFormat(WAVEFORMATEX* format)
{
    SetPcm16Format(format, 2, 44100);
}
