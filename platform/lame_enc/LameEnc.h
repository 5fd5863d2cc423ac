// The encoder library's published interface: the configuration record that opens a stream,
// the five calls that encode with it, and the file name the library is installed under.
//
// A stream's life: beInitStream, beEncodeChunk for every chunk, beDeinitStream (the last
// bytes), then beGetInfoFrame when the stream carries an information frame, and beCloseStream.
// The information frame (LAME's "Xing"/"Info" frame with the LAME extension: frame count,
// encoder delay and padding) is the first frame of the stream; the stream's first bytes hold a
// placeholder of the same size, which the caller overwrites with the finished frame once the
// stream is flushed. Decoders that read it trim the delay and padding, so the decoded audio has
// exactly the length of the input. The MP3 form always has it; the LAME form when
// bWriteVBRHeader is set. In a constant-bitrate stream it is an "Info" frame at the stream's
// bitrate; where a frame at that bitrate cannot hold it, the stream is coded as an average
// bitrate pinned to that bitrate, so that its audio frames keep it and the information frame
// ("Xing") is larger.
//
// The library (liblame_enc.so, built from LameEnc.cpp in this folder) is loaded at run time
// by name, so this header only declares what a caller needs to look its entry points up.
#pragma once

#include "platform/MmSystem.h"

#include <cstddef>
#include <cstdint>

// The library's file name, installed beside the executables.
inline constexpr const char* kLameEncLibraryName = "liblame_enc.so";

using HBE_STREAM = uint32_t; // a 32-bit stream handle; 0 is never a valid stream
using BE_ERR = uint32_t;

constexpr BE_ERR BE_ERR_SUCCESSFUL = 0x00000000;
constexpr BE_ERR BE_ERR_INVALID_FORMAT = 0x00000001;
constexpr BE_ERR BE_ERR_INVALID_FORMAT_PARAMETERS = 0x00000002;
constexpr BE_ERR BE_ERR_NO_MORE_HANDLES = 0x00000003;
constexpr BE_ERR BE_ERR_INVALID_HANDLE = 0x00000004;
constexpr BE_ERR BE_ERR_BUFFER_TOO_SMALL = 0x00000005;

// Kinds of configuration record.
constexpr DWORD BE_CONFIG_MP3 = 0;
constexpr DWORD BE_CONFIG_LAME = 256;

// Channel modes.
constexpr int32_t BE_MP3_MODE_STEREO = 0;
constexpr int32_t BE_MP3_MODE_JSTEREO = 1;
constexpr int32_t BE_MP3_MODE_DUALCHANNEL = 2;
constexpr int32_t BE_MP3_MODE_MONO = 3;

// MPEG versions.
constexpr DWORD MPEG1 = 1;
constexpr DWORD MPEG2 = 0;

constexpr DWORD CURRENT_STRUCT_VERSION = 1;
constexpr DWORD CURRENT_STRUCT_SIZE = 331;

// Quality presets of the LAME form.
enum LAME_QUALITY_PRESET : int32_t {
    LQP_NOPRESET = -1,
    LQP_NORMAL_QUALITY = 0,
    LQP_LOW_QUALITY = 1,
    LQP_HIGH_QUALITY = 2,
    LQP_VOICE_QUALITY = 3,
    LQP_R3MIX = 4,
    LQP_VERYHIGH_QUALITY = 5,
    LQP_STANDARD = 6,
    LQP_FAST_STANDARD = 7,
    LQP_EXTREME = 8,
    LQP_FAST_EXTREME = 9,
    LQP_INSANE = 10,
    LQP_ABR = 11,
    LQP_CBR = 12,
    LQP_MEDIUM = 13,
    LQP_FAST_MEDIUM = 14,
};

// Variable-bitrate methods of the LAME form.
enum VBRMETHOD : int32_t {
    VBR_METHOD_NONE = -1,
    VBR_METHOD_DEFAULT = 0,
    VBR_METHOD_OLD = 1,
    VBR_METHOD_NEW = 2,
    VBR_METHOD_MTRH = 3,
    VBR_METHOD_ABR = 4,
};

#pragma pack(push, 1)
// The configuration record: 331 bytes, no padding. `dwConfig` says which form follows.
struct BE_CONFIG {
    DWORD dwConfig;
    union {
        struct {
            DWORD dwSampleRate; // 32000, 44100 or 48000
            BYTE byMode;
            WORD wBitrate; // kbps
            int32_t bPrivate;
            int32_t bCRC;
            int32_t bCopyright;
            int32_t bOriginal;
        } mp3;
        struct {
            DWORD dwStructVersion;
            DWORD dwStructSize;
            DWORD dwSampleRate; // rate of the input
            DWORD dwReSampleRate; // rate of the output; 0 lets the encoder choose
            int32_t nMode;
            DWORD dwBitrate; // CBR bitrate, or the VBR minimum, in kbps
            DWORD dwMaxBitrate; // VBR maximum in kbps; ignored by CBR
            int32_t nPreset; // a LAME_QUALITY_PRESET
            DWORD dwMpegVersion;
            DWORD dwPsyModel;
            DWORD dwEmphasis;
            int32_t bPrivate;
            int32_t bCRC;
            int32_t bCopyright;
            int32_t bOriginal;
            int32_t bWriteVBRHeader;
            int32_t bEnableVBR;
            int32_t nVBRQuality; // 0 (best) .. 9
            DWORD dwVbrAbr_bps; // mean bitrate of ABR, in bits per second
            int32_t nVbrMethod; // a VBRMETHOD
            int32_t bNoRes; // no bit reservoir
            int32_t bStrictIso;
            WORD nQuality; // low byte: 0 (best) .. 9; high byte: its complement
            BYTE btReserved[255 - 4 * sizeof(DWORD) - sizeof(WORD)];
        } LHV1;
    } format;
};
#pragma pack(pop)
static_assert(sizeof(BE_CONFIG) == CURRENT_STRUCT_SIZE, "the configuration record is 331 packed bytes");
static_assert(offsetof(BE_CONFIG, format.mp3.wBitrate) == 9);
static_assert(offsetof(BE_CONFIG, format.mp3.bOriginal) == 23);
static_assert(offsetof(BE_CONFIG, format.LHV1.dwSampleRate) == 12);
static_assert(offsetof(BE_CONFIG, format.LHV1.bNoRes) == 84);
static_assert(offsetof(BE_CONFIG, format.LHV1.nQuality) == 92);

extern "C" {
using BEINITSTREAM = BE_ERR (*)(BE_CONFIG* config, DWORD* samples, DWORD* bufferSize, HBE_STREAM* stream);
using BEENCODECHUNK
    = BE_ERR (*)(HBE_STREAM stream, DWORD samples, const int16_t* pcm, BYTE* output, DWORD* outputBytes);
using BEDEINITSTREAM = BE_ERR (*)(HBE_STREAM stream, BYTE* output, DWORD* outputBytes);
using BECLOSESTREAM = BE_ERR (*)(HBE_STREAM stream);
// After beDeinitStream: copies the finished information frame to `buffer`, whose size *size
// gives, and sets *size to its length (0 for a stream without one). BE_ERR_BUFFER_TOO_SMALL
// (with *size set to the length needed, nothing copied) when it does not fit;
// BE_ERR_INVALID_HANDLE for an unknown stream or one that is not flushed yet.
using BEGETINFOFRAME = BE_ERR (*)(HBE_STREAM stream, BYTE* buffer, DWORD* size);
}

inline constexpr const char* TEXT_BEINITSTREAM = "beInitStream";
inline constexpr const char* TEXT_BEENCODECHUNK = "beEncodeChunk";
inline constexpr const char* TEXT_BEDEINITSTREAM = "beDeinitStream";
inline constexpr const char* TEXT_BECLOSESTREAM = "beCloseStream";
inline constexpr const char* TEXT_BEGETINFOFRAME = "beGetInfoFrame";
