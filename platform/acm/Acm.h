// The audio codec service: sizes of format records and synchronous conversion streams between
// sample formats.
//
// A conversion stream turns any format the service knows (PCM of 8 to 32 bits, IEEE float,
// extensible PCM and float, IMA and Microsoft ADPCM, A-law, mu-law, GSM 6.10 and MPEG audio in
// WAV) into 16-bit or packed 24-bit PCM at any rate and channel count. Output samples are
// rounded half up and clipped, without dither. Linear PCM of 24 bits or less reaches 24-bit
// output exactly when neither the rate nor the channels change.
// Channels are mixed as follows:
//   - to one channel: the average of all source channels;
//   - from one channel: the same samples on every output channel;
//   - from three or more channels to two: the standard downmix (front left and right at full
//     weight; centre, back and side channels at -3 dB onto both sides or their own side; the LFE
//     channel dropped), scaled so that each side's weights add up to one and cannot clip;
//   - any other pair: output channel k takes source channel k, outputs beyond the source's
//     channel count are silent.
// Rates are changed by a high-quality band-limited resampler.
//
// A stream keeps its state from one acmStreamConvert to the next (resampler history, decoder
// state, output that did not fit): a signal converted in pieces equals the signal converted
// whole. ACM_STREAMCONVERTF_END marks the end of the source audio: the stream delivers its tail
// (over as many calls as the destination space needs) and then starts afresh.
// ACM_STREAMCONVERTF_START drops everything held and starts afresh.
//
// Handles are checked: a handle that is not open gives MMSYSERR_INVALHANDLE. One stream is used
// by one thread at a time; different streams may be used on different threads.
#pragma once

#include <string>

#include "platform/MmSystem.h"

struct AcmConversion;
using HACMOBJ = void*;
using HACMDRIVER = void*;
using HACMSTREAM = AcmConversion*;

// A filter record; this service offers no filters, so none may be passed.
struct WAVEFILTER {
    DWORD cbStruct;
    DWORD dwFilterTag;
    DWORD fdwFilter;
    DWORD dwReserved[5];
};

// Describes one conversion: the source bytes and the destination space, and after the
// conversion how much of each was used. The driver words are the service's own.
#pragma pack(push, 4)
struct ACMSTREAMHEADER {
    DWORD cbStruct; // sizeof(ACMSTREAMHEADER)
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    BYTE* pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    BYTE* pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[5];
};
#pragma pack(pop)
static_assert(sizeof(ACMSTREAMHEADER) == 84, "the stream header is an 84-byte record");

constexpr UINT ACM_METRIC_MAX_SIZE_FORMAT = 50;

constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;
constexpr MMRESULT ACMERR_BUSY = ACMERR_BASE + 1;
constexpr MMRESULT ACMERR_UNPREPARED = ACMERR_BASE + 2;
constexpr MMRESULT ACMERR_CANCELED = ACMERR_BASE + 3;

// acmStreamOpen flags.
constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001; // only ask whether the pair converts
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002; // not offered: every stream is synchronous
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;

// acmStreamSize flags.
constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000; // given source bytes, bound the output
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001; // given destination space, the input

// acmStreamConvert flags.
constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;

// ACMSTREAMHEADER.fdwStatus bits.
constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

// Only ACM_METRIC_MAX_SIZE_FORMAT with no object is answered: the size in bytes of the largest
// format record of any format the service converts, written to *output as a DWORD.
MMRESULT acmMetrics(HACMOBJ object, UINT metric, void* output);

// Opens a conversion from `source` to `destination` (16-bit or packed 24-bit PCM). No driver, no filter, no
// callback. ACMERR_NOTPOSSIBLE when the pair cannot be converted, including format records with
// zero or absurd rates, channel counts or block sizes. With ACM_STREAMOPENF_QUERY only the
// answer is given and no stream is opened.
MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, const WAVEFORMATEX* source,
    const WAVEFORMATEX* destination, WAVEFILTER* filter, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);

// Why acmStreamOpen refuses the pair, in plain words for a user ("format not supported: 0
// channels", "no decoder for format tag 0x7777"); empty when it would open. Not part of the
// service's classic calls: our conversion stage uses it to tell the user what went wrong.
std::string acmStreamOpenProblem(const WAVEFORMATEX* source, const WAVEFORMATEX* destination);

// ACM_STREAMSIZEF_SOURCE: an upper bound of the destination bytes the next conversion of `input`
// source bytes delivers, counting what the stream still holds. ACM_STREAMSIZEF_DESTINATION: the
// most source bytes (whole blocks) whose conversion surely fits in `input` destination bytes.
MMRESULT acmStreamSize(HACMSTREAM stream, DWORD input, DWORD* output, DWORD flags);

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);

// Converts the header's source bytes. Only whole source blocks are consumed (cbSrcLengthUsed),
// except with ACM_STREAMCONVERTF_END, which consumes everything and decodes a trailing piece of
// a block as far as it goes. Converted output that does not fit in the destination is kept for
// the next call.
MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);

MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags);
