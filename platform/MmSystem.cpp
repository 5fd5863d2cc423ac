#include "platform/MmSystem.h"

MMRESULT waveOutUnprepareHeader(HWAVEOUT, WAVEHDR* header, UINT)
{
    if (header == nullptr)
        return MMSYSERR_INVALPARAM;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveInUnprepareHeader(HWAVEIN, WAVEHDR* header, UINT)
{
    if (header == nullptr)
        return MMSYSERR_INVALPARAM;
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}
