// liblame_enc.so: the encoder library's five published calls on the LAME library.
//
// How the configuration record becomes LAME settings
// ---------------------------------------------------
// MP3 form (dwConfig = BE_CONFIG_MP3):
//   dwSampleRate  -> input and output sample rate (no resampling); only 32000, 44100 and 48000
//                    are accepted, the MPEG-1 rates this form is defined for
//   byMode        -> channels and mode: 3 mono (1 channel); 0 stereo, 1 joint stereo and
//                    2 dual channel (2 interleaved channels; LAME has no dual-channel coding,
//                    so dual channel is coded as plain stereo)
//   wBitrate      -> constant bitrate in kbps (LAME moves it to the nearest legal bitrate of
//                    the output's MPEG version); 0 lets LAME choose
//   bPrivate, bCRC, bCopyright, bOriginal -> the private (extension) bit, CRC protection,
//                    the copyright bit and the original bit of every frame header
//   quality       -> 5, the normal quality of the interface
//   info frame    -> always: LAME reserves the first frame, beGetInfoFrame gives it finished
// LAME form (dwConfig = BE_CONFIG_LAME; dwStructVersion must be 1 and dwStructSize 331):
//   dwSampleRate  -> input sample rate (any rate above 0 from which LAME's output rate is at
//                    most 64 times higher; LAME resamples as needed)
//   dwReSampleRate-> output sample rate; 0 leaves the choice to LAME, which picks it from the
//                    bitrate and the input rate
//   nMode         -> channels and mode, as byMode above
//   dwBitrate     -> CBR bitrate, or the VBR/ABR minimum when VBR is on (kbps; 0 = LAME's)
//   dwMaxBitrate  -> VBR/ABR maximum (kbps; 0 = LAME's); not used by CBR; a maximum below the
//                    minimum is refused
//   nPreset       -> NOPRESET: nothing; NORMAL_QUALITY: quality 5; LOW_QUALITY: quality 9;
//                    HIGH_QUALITY: quality 2; VERYHIGH_QUALITY: quality 0; CBR: nothing beyond
//                    the CBR settings; R3MIX, STANDARD, FAST_STANDARD, EXTREME, FAST_EXTREME,
//                    INSANE, MEDIUM, FAST_MEDIUM: LAME's preset of that name (these presets
//                    choose VBR and bitrates themselves, so the VBR and bitrate fields are not
//                    applied); VOICE_QUALITY, ABR and every other value are refused
//                    (BE_ERR_INVALID_FORMAT_PARAMETERS)
//   dwMpegVersion -> checked (MPEG1 or MPEG2); the version follows from the output rate,
//                    which LAME chooses or dwReSampleRate fixes
//   dwPsyModel    -> reserved, not used
//   dwEmphasis    -> the emphasis field of the frame header (0..3)
//   bPrivate, bCRC, bCopyright, bOriginal -> as in the MP3 form
//   bWriteVBRHeader -> LAME's information frame at the start of the stream: LAME reserves the
//                    first frame, and beGetInfoFrame gives the finished frame after the flush
//   bEnableVBR    -> off: CBR. On: the method nVbrMethod: NONE -> CBR; DEFAULT -> LAME's
//                    default VBR; OLD -> the older VBR (rh); NEW and MTRH -> mtrh; ABR ->
//                    average bitrate dwVbrAbr_bps / 1000 kbps
//   nVBRQuality   -> VBR quality 0..9 (used when VBR is on)
//   bNoRes        -> bit reservoir off
//   bStrictIso    -> strict ISO rules
//   nQuality      -> when its high byte is the complement of its low byte and the low byte is
//                    0..9: that quality, which wins over a preset's; otherwise the quality of
//                    the preset, or 5 without one
// LAME never adds ID3 tags; the information frame is its only addition.
//
// The information frame of a constant-bitrate stream says "Info" and has the stream's bitrate,
// as the audio frames do. Where a frame at that bitrate is too small to hold it (32 kbps at
// 22050 Hz, say), LAME would leave it out; the stream is then coded as an average bitrate whose
// lowest and highest are that bitrate: the audio frames keep it, and the information frame
// ("Xing") gets a larger frame of its own.
//
// The test variant of the library (liblame_enc_test.so, built with LAME_ENC_TEST_CONTROLS and
// installed nowhere) adds two test controls; the library that is shipped has none.
//
// beInitStream returns in *samples one MPEG frame of 16-bit values for all channels (the
// frame length of the output's MPEG version times the input channels) and in *bufferSize
// an output size that holds whatever one such chunk, or the final flush, can produce.
// Streams are kept in a table under 32-bit handles; every call checks its handle.
#include "platform/lame_enc/LameEnc.h"

#include <lame/lame.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

// The most the output rate may exceed the input rate, as a factor (8000 Hz input to 48000 Hz
// output is 6).
constexpr int kMaxUpsampling = 64;

struct StreamState {
    lame_global_flags* flags = nullptr;
    int channels = 1;
    DWORD samplesPerChunk = 0;
    DWORD bufferSize = 0;
    bool flushed = false;
    std::mutex lock; // held while the stream encodes or flushes

    StreamState() = default;
    StreamState(const StreamState&) = delete;
    StreamState& operator=(const StreamState&) = delete;
    ~StreamState()
    {
        if (flags != nullptr)
            lame_close(flags);
    }
};

// The table of open streams. Its lock is held only to find, add or remove a stream: each stream
// encodes under its own lock, so that streams on different threads encode side by side. A
// stream being encoded stays alive through its shared hold even if it is closed meanwhile.
std::mutex tableLock;
std::map<HBE_STREAM, std::shared_ptr<StreamState>> streams;
HBE_STREAM lastHandle = 0;

#ifdef LAME_ENC_TEST_CONTROLS
// Test controls, built into the test variant of the library only (liblame_enc_test.so; see
// tests/support/LameEncTestHooks.h). The failure count starts from the environment, so that
// programs the tests start can be given a failing encoder too.
long InitialFailureCount()
{
    const char* text = std::getenv("LAME_ENC_TEST_FAIL_CHUNKS_AFTER");
    return text == nullptr || *text == '\0' ? -1 : std::strtol(text, nullptr, 10);
}
std::atomic<long> chunksBeforeFailure {InitialFailureCount()};
std::mutex logLock;
std::vector<DWORD> chunkLog;
constexpr size_t kChunkLogLimit = 1u << 16;
#endif

std::shared_ptr<StreamState> Find(HBE_STREAM handle)
{
    std::lock_guard<std::mutex> hold(tableLock);
    auto found = streams.find(handle);
    return found == streams.end() ? nullptr : found->second;
}

bool Flag(int32_t value)
{
    return value != 0;
}

// Channels and LAME mode of a mode code; false for an unknown code.
bool ApplyMode(lame_global_flags* flags, int32_t mode, int& channels)
{
    switch (mode) {
    case BE_MP3_MODE_MONO:
        channels = 1;
        return lame_set_mode(flags, MONO) == 0;
    case BE_MP3_MODE_STEREO:
    case BE_MP3_MODE_DUALCHANNEL:
        channels = 2;
        return lame_set_mode(flags, STEREO) == 0;
    case BE_MP3_MODE_JSTEREO:
        channels = 2;
        return lame_set_mode(flags, JOINT_STEREO) == 0;
    default:
        return false;
    }
}

void ApplyHeaderBits(
    lame_global_flags* flags, int32_t privateBit, int32_t crc, int32_t copyright, int32_t original)
{
    lame_set_extension(flags, Flag(privateBit));
    lame_set_error_protection(flags, Flag(crc));
    lame_set_copyright(flags, Flag(copyright));
    lame_set_original(flags, Flag(original));
}

BE_ERR ConfigureMp3(lame_global_flags* flags, const BE_CONFIG& config, int& channels)
{
    const auto& mp3 = config.format.mp3;
    if (mp3.dwSampleRate != 32000 && mp3.dwSampleRate != 44100 && mp3.dwSampleRate != 48000)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (!ApplyMode(flags, mp3.byMode, channels))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    lame_set_in_samplerate(flags, static_cast<int>(mp3.dwSampleRate));
    lame_set_out_samplerate(flags, static_cast<int>(mp3.dwSampleRate));
    lame_set_VBR(flags, vbr_off);
    lame_set_brate(flags, mp3.wBitrate);
    ApplyHeaderBits(flags, mp3.bPrivate, mp3.bCRC, mp3.bCopyright, mp3.bOriginal);
    lame_set_bWriteVbrTag(flags, 1);
    lame_set_quality(flags, 5);
    return BE_ERR_SUCCESSFUL;
}

// The quality a preset asks for, -1 for none; `named` is set to LAME's preset for the
// named VBR presets. False for a preset this library does not offer.
bool PresetSettings(int32_t preset, int& quality, int& named)
{
    quality = -1;
    named = 0;
    switch (preset) {
    case LQP_NOPRESET:
    case LQP_CBR:
        return true;
    case LQP_NORMAL_QUALITY:
        quality = 5;
        return true;
    case LQP_LOW_QUALITY:
        quality = 9;
        return true;
    case LQP_HIGH_QUALITY:
        quality = 2;
        return true;
    case LQP_VERYHIGH_QUALITY:
        quality = 0;
        return true;
    case LQP_R3MIX:
        named = R3MIX;
        return true;
    case LQP_STANDARD:
        named = STANDARD;
        return true;
    case LQP_FAST_STANDARD:
        named = STANDARD_FAST;
        return true;
    case LQP_EXTREME:
        named = EXTREME;
        return true;
    case LQP_FAST_EXTREME:
        named = EXTREME_FAST;
        return true;
    case LQP_INSANE:
        named = INSANE;
        return true;
    case LQP_MEDIUM:
        named = MEDIUM;
        return true;
    case LQP_FAST_MEDIUM:
        named = MEDIUM_FAST;
        return true;
    default:
        return false;
    }
}

bool ApplyBitrateSettings(lame_global_flags* flags, const BE_CONFIG& config)
{
    const auto& lhv = config.format.LHV1;
    if (!Flag(lhv.bEnableVBR) || lhv.nVbrMethod == VBR_METHOD_NONE) {
        lame_set_VBR(flags, vbr_off);
        return lame_set_brate(flags, static_cast<int>(lhv.dwBitrate)) == 0;
    }
    switch (lhv.nVbrMethod) {
    case VBR_METHOD_DEFAULT:
        lame_set_VBR(flags, vbr_default);
        break;
    case VBR_METHOD_OLD:
        lame_set_VBR(flags, vbr_rh);
        break;
    case VBR_METHOD_NEW:
    case VBR_METHOD_MTRH:
        lame_set_VBR(flags, vbr_mtrh);
        break;
    case VBR_METHOD_ABR:
        lame_set_VBR(flags, vbr_abr);
        lame_set_VBR_mean_bitrate_kbps(flags, static_cast<int>(lhv.dwVbrAbr_bps / 1000));
        break;
    default:
        return false;
    }
    if (lhv.nVBRQuality < 0 || lhv.nVBRQuality > 9)
        return false;
    // A minimum above the maximum is refused: LAME would accept it and then stop the whole
    // program on one of its internal checks while it encodes.
    if (lhv.dwBitrate != 0 && lhv.dwMaxBitrate != 0 && lhv.dwBitrate > lhv.dwMaxBitrate)
        return false;
    lame_set_VBR_q(flags, lhv.nVBRQuality);
    if (lhv.dwBitrate != 0)
        lame_set_VBR_min_bitrate_kbps(flags, static_cast<int>(lhv.dwBitrate));
    if (lhv.dwMaxBitrate != 0)
        lame_set_VBR_max_bitrate_kbps(flags, static_cast<int>(lhv.dwMaxBitrate));
    return true;
}

// The quality nQuality states, or -1 when its two bytes do not agree.
int StatedQuality(WORD nQuality)
{
    const int low = nQuality & 0xFF;
    const int high = nQuality >> 8;
    return (low == (~high & 0xFF) && low <= 9) ? low : -1;
}

BE_ERR ConfigureLame(lame_global_flags* flags, const BE_CONFIG& config, int& channels)
{
    const auto& lhv = config.format.LHV1;
    if (lhv.dwStructVersion != CURRENT_STRUCT_VERSION || lhv.dwStructSize != CURRENT_STRUCT_SIZE)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (lhv.dwSampleRate == 0 || lhv.dwSampleRate > 1000000 || lhv.dwReSampleRate > 1000000)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (lhv.dwMpegVersion != MPEG1 && lhv.dwMpegVersion != MPEG2)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (lhv.dwEmphasis > 3 || lhv.dwBitrate > 1000 || lhv.dwMaxBitrate > 1000)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    int presetQuality = -1;
    int namedPreset = 0;
    if (!PresetSettings(lhv.nPreset, presetQuality, namedPreset))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (!ApplyMode(flags, lhv.nMode, channels))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    lame_set_in_samplerate(flags, static_cast<int>(lhv.dwSampleRate));
    if (lhv.dwReSampleRate != 0)
        lame_set_out_samplerate(flags, static_cast<int>(lhv.dwReSampleRate));
    if (namedPreset != 0)
        lame_set_preset(flags, namedPreset);
    else if (!ApplyBitrateSettings(flags, config))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    lame_set_emphasis(flags, static_cast<int>(lhv.dwEmphasis));
    ApplyHeaderBits(flags, lhv.bPrivate, lhv.bCRC, lhv.bCopyright, lhv.bOriginal);
    lame_set_bWriteVbrTag(flags, Flag(lhv.bWriteVBRHeader));
    lame_set_disable_reservoir(flags, Flag(lhv.bNoRes));
    lame_set_strict_ISO(flags, Flag(lhv.bStrictIso));
    const int stated = StatedQuality(lhv.nQuality);
    lame_set_quality(flags, stated >= 0 ? stated : presetQuality >= 0 ? presetQuality : 5);
    return BE_ERR_SUCCESSFUL;
}

void Quiet(const char*, va_list)
{ }

// Whether LAME's information frame fits into a frame of a constant-bitrate stream. LAME leaves
// the frame out, silently, when it does not: the frame at the stream's bitrate must hold the
// header, the side information and the Xing/LAME data (156 bytes), and be no longer than
// LAME's largest frame.
bool InfoFrameFitsAtBitrate(lame_global_flags* flags)
{
    constexpr int kInfoBytes = 156;
    constexpr int kLargestFrame = 2880;
    const bool mpeg1 = lame_get_version(flags) == 1;
    const bool mono = lame_get_mode(flags) == MONO;
    const int sideInformation = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const int needed = 4 + (lame_get_error_protection(flags) != 0 ? 2 : 0) + sideInformation + kInfoBytes;
    const int64_t rate = lame_get_out_samplerate(flags);
    if (rate <= 0)
        return false;
    const int64_t frame = (mpeg1 ? 144000 : 72000) * int64_t {lame_get_brate(flags)} / rate;
    return frame >= needed && frame <= kLargestFrame;
}

// A constant-bitrate stream with the information frame where the frame does not fit (see
// above): coded as an average bitrate whose lowest and highest are the stream's bitrate, so the
// audio frames keep that bitrate and LAME gives the information frame a larger one of its own.
bool NeedsLargerInfoFrame(lame_global_flags* flags)
{
    return lame_get_VBR(flags) == vbr_off && lame_get_bWriteVbrTag(flags) != 0
        && !InfoFrameFitsAtBitrate(flags);
}

// A LAME stream set up from the record; with `averageKbps` not 0, at that average bitrate
// with that lowest and highest bitrate instead of the record's bitrate settings.
BE_ERR InitFlags(const BE_CONFIG& config, int averageKbps, std::unique_ptr<StreamState>& stream)
{
    stream = std::make_unique<StreamState>();
    stream->flags = lame_init();
    if (stream->flags == nullptr)
        return BE_ERR_NO_MORE_HANDLES;
    lame_global_flags* flags = stream->flags;
    lame_set_errorf(flags, Quiet);
    lame_set_debugf(flags, Quiet);
    lame_set_msgf(flags, Quiet);
    lame_set_write_id3tag_automatic(flags, 0);
    BE_ERR result = BE_ERR_INVALID_FORMAT;
    if (config.dwConfig == BE_CONFIG_MP3)
        result = ConfigureMp3(flags, config, stream->channels);
    else if (config.dwConfig == BE_CONFIG_LAME)
        result = ConfigureLame(flags, config, stream->channels);
    if (result != BE_ERR_SUCCESSFUL)
        return result;
    if (averageKbps != 0) {
        lame_set_VBR(flags, vbr_abr);
        lame_set_VBR_mean_bitrate_kbps(flags, averageKbps);
        lame_set_VBR_min_bitrate_kbps(flags, averageKbps);
        lame_set_VBR_max_bitrate_kbps(flags, averageKbps);
    }
    lame_set_num_channels(flags, stream->channels);
    if (lame_init_params(flags) < 0)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    return BE_ERR_SUCCESSFUL;
}

BE_ERR OpenStream(const BE_CONFIG& config, std::unique_ptr<StreamState>& stream)
{
    BE_ERR result = InitFlags(config, 0, stream);
    if (result == BE_ERR_SUCCESSFUL && NeedsLargerInfoFrame(stream->flags))
        result = InitFlags(config, lame_get_brate(stream->flags), stream);
    if (result != BE_ERR_SUCCESSFUL)
        return result;
    lame_global_flags* flags = stream->flags;
    const int frame = lame_get_framesize(flags);
    const int inRate = lame_get_in_samplerate(flags);
    const int outRate = lame_get_out_samplerate(flags);
    if (frame <= 0 || inRate <= 0 || outRate <= 0)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    // A chunk is `frame` input samples per channel; resampled up, it becomes that many times
    // more output samples, which the output size must hold. Rates further apart than this are
    // refused (an input of 4 Hz would make each chunk minutes of audio).
    const int upsampling = (outRate + inRate - 1) / inRate;
    if (upsampling > kMaxUpsampling)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    stream->samplesPerChunk = static_cast<DWORD>(frame * stream->channels);
    // LAME's bound for n output samples per channel is 1.25 n + 7200 bytes; 7200 also covers a
    // flush.
    const int outputSamples = frame * upsampling;
    stream->bufferSize = static_cast<DWORD>(outputSamples + outputSamples / 4 + 7200);
    return BE_ERR_SUCCESSFUL;
}

// A handle that no open stream uses, skipping 0.
bool NextHandle(HBE_STREAM& handle)
{
    for (size_t tries = 0; tries < 1000; ++tries) {
        ++lastHandle;
        if (lastHandle != 0 && streams.count(lastHandle) == 0) {
            handle = lastHandle;
            return true;
        }
    }
    return false;
}

#ifdef LAME_ENC_TEST_CONTROLS
// The test control's verdict for one more chunk: false when this chunk is to fail; a chunk
// that goes through is logged.
bool ChunkAllowed(DWORD samples)
{
    long left = chunksBeforeFailure.load();
    while (left > 0 && !chunksBeforeFailure.compare_exchange_weak(left, left - 1)) { }
    if (left == 0)
        return false;
    std::lock_guard<std::mutex> hold(logLock);
    if (chunkLog.size() < kChunkLogLimit)
        chunkLog.push_back(samples);
    return true;
}
#else
bool ChunkAllowed(DWORD)
{
    return true;
}
#endif

BE_ERR EncodeChunk(StreamState& stream, DWORD samples, const int16_t* pcm, BYTE* output, DWORD* outputBytes)
{
    if (stream.flushed)
        return BE_ERR_INVALID_HANDLE;
    if (samples > stream.samplesPerChunk)
        return BE_ERR_BUFFER_TOO_SMALL;
    if (samples != 0 && (pcm == nullptr || output == nullptr))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (!ChunkAllowed(samples))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const int frames = static_cast<int>(samples) / stream.channels;
    if (frames == 0)
        return BE_ERR_SUCCESSFUL;
    const int size = static_cast<int>(stream.bufferSize);
    int written = 0;
    if (stream.channels == 1)
        written = lame_encode_buffer(stream.flags, pcm, pcm, frames, output, size);
    else // LAME reads the interleaved samples without changing them
        written
            = lame_encode_buffer_interleaved(stream.flags, const_cast<int16_t*>(pcm), frames, output, size);
    if (written < 0)
        return written == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
    *outputBytes = static_cast<DWORD>(written);
    return BE_ERR_SUCCESSFUL;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) BE_ERR beInitStream(
    BE_CONFIG* config, DWORD* samples, DWORD* bufferSize, HBE_STREAM* stream)
{
    if (config == nullptr || samples == nullptr || bufferSize == nullptr || stream == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    try {
        std::unique_ptr<StreamState> opened;
        const BE_ERR result = OpenStream(*config, opened);
        if (result != BE_ERR_SUCCESSFUL)
            return result;
        std::lock_guard<std::mutex> hold(tableLock);
        HBE_STREAM handle = 0;
        if (!NextHandle(handle))
            return BE_ERR_NO_MORE_HANDLES;
        *samples = opened->samplesPerChunk;
        *bufferSize = opened->bufferSize;
        *stream = handle;
        streams.emplace(handle, std::move(opened));
        return BE_ERR_SUCCESSFUL;
    } catch (const std::bad_alloc&) {
        return BE_ERR_NO_MORE_HANDLES;
    }
}

__attribute__((visibility("default"))) BE_ERR beEncodeChunk(
    HBE_STREAM stream, DWORD samples, const int16_t* pcm, BYTE* output, DWORD* outputBytes)
{
    if (outputBytes == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *outputBytes = 0;
    const std::shared_ptr<StreamState> state = Find(stream);
    if (state == nullptr)
        return BE_ERR_INVALID_HANDLE;
    std::lock_guard<std::mutex> hold(state->lock);
    return EncodeChunk(*state, samples, pcm, output, outputBytes);
}

__attribute__((visibility("default"))) BE_ERR beDeinitStream(
    HBE_STREAM stream, BYTE* output, DWORD* outputBytes)
{
    if (outputBytes == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *outputBytes = 0;
    if (output == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const std::shared_ptr<StreamState> state = Find(stream);
    if (state == nullptr)
        return BE_ERR_INVALID_HANDLE;
    std::lock_guard<std::mutex> hold(state->lock);
    if (state->flushed)
        return BE_ERR_INVALID_HANDLE;
    state->flushed = true;
    // LAME's flush takes a buffer that its output fills exactly, with more to come, as one
    // without a limit, and writes on past its end. It therefore flushes into a buffer of ours
    // with ample room beyond the announced size, and only what fits that size is handed on.
    std::vector<unsigned char> flushed;
    try {
        flushed.resize(static_cast<size_t>(state->bufferSize) + LAME_MAXMP3BUFFER);
    } catch (const std::bad_alloc&) {
        return BE_ERR_NO_MORE_HANDLES;
    }
    const int written = lame_encode_flush(state->flags, flushed.data(), static_cast<int>(flushed.size()));
    if (written < 0 || static_cast<DWORD>(written) > state->bufferSize)
        return BE_ERR_BUFFER_TOO_SMALL;
    std::copy_n(flushed.data(), written, output);
    *outputBytes = static_cast<DWORD>(written);
    return BE_ERR_SUCCESSFUL;
}

__attribute__((visibility("default"))) BE_ERR beGetInfoFrame(HBE_STREAM stream, BYTE* buffer, DWORD* size)
{
    if (size == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const DWORD capacity = *size;
    *size = 0;
    if (buffer == nullptr && capacity != 0)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const std::shared_ptr<StreamState> state = Find(stream);
    if (state == nullptr)
        return BE_ERR_INVALID_HANDLE;
    std::lock_guard<std::mutex> hold(state->lock);
    if (!state->flushed)
        return BE_ERR_INVALID_HANDLE;
    if (lame_get_bWriteVbrTag(state->flags) == 0)
        return BE_ERR_SUCCESSFUL;
    // LAME gives the length it needs, without copying, when the buffer is too small.
    const size_t length = lame_get_lametag_frame(state->flags, buffer, capacity);
    *size = static_cast<DWORD>(length);
    return length > capacity ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_SUCCESSFUL;
}

__attribute__((visibility("default"))) BE_ERR beCloseStream(HBE_STREAM stream)
{
    std::lock_guard<std::mutex> hold(tableLock);
    return streams.erase(stream) == 1 ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_HANDLE;
}

#ifdef LAME_ENC_TEST_CONTROLS
// Test controls, outside the published interface: in the test variant only.

// After `successes` more successful chunks every beEncodeChunk fails; -1 never fails.
__attribute__((visibility("default"))) void lameEncTestFailChunksAfter(long successes)
{
    chunksBeforeFailure.store(successes < 0 ? -1 : successes);
}

// The value counts of the chunks encoded since the last call, oldest first: copies up to
// `capacity` of them to `counts`, returns how many there were, and empties the log.
__attribute__((visibility("default"))) DWORD lameEncTestTakeChunkLog(DWORD* counts, DWORD capacity)
{
    std::lock_guard<std::mutex> hold(logLock);
    const DWORD total = static_cast<DWORD>(chunkLog.size());
    if (counts != nullptr)
        std::copy_n(chunkLog.begin(), std::min(total, capacity), counts);
    chunkLog.clear();
    return total;
}
#endif

} // extern "C"
