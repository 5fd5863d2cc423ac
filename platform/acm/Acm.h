// The audio codec service: sizes of format records and synchronous conversion streams between
// sample formats.
#pragma once

#include "platform/MmSystem.h"

using HACMOBJ = void*;

constexpr UINT ACM_METRIC_MAX_SIZE_FORMAT = 50;

constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;

// Only ACM_METRIC_MAX_SIZE_FORMAT with no object is answered: the size in bytes of the largest
// format record of any format the service converts, written to *output as a DWORD.
MMRESULT acmMetrics(HACMOBJ object, UINT metric, void* output);
