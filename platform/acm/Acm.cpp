#include "platform/acm/Acm.h"

namespace {

// The fixed 18 bytes plus the largest extra part of a format the service converts:
// Microsoft ADPCM with its seven coefficient pairs (32 bytes).
constexpr DWORD kLargestFormatSize = 18 + 32;

} // namespace

MMRESULT acmMetrics(HACMOBJ object, UINT metric, void* output)
{
    if (output == nullptr)
        return MMSYSERR_INVALPARAM;
    if (object != nullptr || metric != ACM_METRIC_MAX_SIZE_FORMAT)
        return MMSYSERR_NOTSUPPORTED;
    *static_cast<DWORD*>(output) = kLargestFormatSize;
    return MMSYSERR_NOERROR;
}
