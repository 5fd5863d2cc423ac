// Decoding MP3 bytes back to PCM for the tests, with LAME's own decoder (the hip_* calls of
// the system's libmp3lame, loaded at run time so the test programs need no extra link), plus
// helpers to compare decoded audio with its source.
#pragma once

#include <lame/lame.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace testing_support {

struct DecodedMp3 {
    bool ok = false; // every byte decoded without an error and at least one frame found
    int sampleRate = 0;
    int channels = 0;
    std::vector<int16_t> left; // the first (or only) channel
    std::vector<int16_t> right;
};

// The length of the ID3v2 tag that opens an MP3 file, header included; 0 when there is none.
inline size_t Id3v2Size(const uint8_t* bytes, size_t size)
{
    if (size < 10 || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3')
        return 0;
    return 10 + (size_t {bytes[6]} << 21 | size_t {bytes[7]} << 14 | size_t {bytes[8]} << 7 | bytes[9]);
}

// Decodes a whole MP3 stream (without any tag).
inline DecodedMp3 DecodeMp3(const uint8_t* bytes, size_t size)
{
    using InitCall = hip_t (*)();
    using ExitCall = int (*)(hip_t);
    using DecodeCall = int (*)(hip_t, unsigned char*, size_t, short*, short*, mp3data_struct*);
    DecodedMp3 result;
    void* lib = dlopen("libmp3lame.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr)
        return result;
    auto init = reinterpret_cast<InitCall>(dlsym(lib, "hip_decode_init"));
    auto exit = reinterpret_cast<ExitCall>(dlsym(lib, "hip_decode_exit"));
    auto decode = reinterpret_cast<DecodeCall>(dlsym(lib, "hip_decode1_headers"));
    hip_t hip = (init && exit && decode) ? init() : nullptr;
    if (hip == nullptr) {
        dlclose(lib);
        return result;
    }
    std::vector<unsigned char> input(bytes, bytes + size);
    std::vector<short> left(1152 * 4);
    std::vector<short> right(1152 * 4);
    mp3data_struct info {};
    bool failed = false;
    const size_t step = 4096;
    for (size_t at = 0; at < input.size() && !failed; at += step) {
        size_t length = std::min(step, input.size() - at);
        // The decoder keeps what it was given and hands out one frame per call; a frame that
        // fills only its bit reservoir gives no samples, so a few empty answers in a row,
        // not one, mean that it needs more input.
        for (int idle = 0; idle < 4;) {
            const int n = decode(hip, input.data() + at, length, left.data(), right.data(), &info);
            length = 0;
            if (n < 0) {
                failed = true;
                break;
            }
            idle = n == 0 ? idle + 1 : 0;
            result.left.insert(result.left.end(), left.begin(), left.begin() + n);
            result.right.insert(result.right.end(), right.begin(), right.begin() + n);
        }
    }
    exit(hip);
    dlclose(lib);
    result.sampleRate = info.samplerate;
    result.channels = info.stereo;
    result.ok = !failed && info.header_parsed == 1 && !result.left.empty();
    return result;
}

// Normalised correlation of `decoded` from `lag` on with all of `reference`.
inline double Correlation(const std::vector<int16_t>& decoded, const std::vector<int16_t>& reference,
    size_t lag, size_t from = 0, size_t count = SIZE_MAX)
{
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = from; i < reference.size() && i - from < count && lag + i < decoded.size(); ++i) {
        const double x = decoded[lag + i];
        const double y = reference[i];
        xy += x * y;
        xx += x * x;
        yy += y * y;
    }
    return (xx == 0 || yy == 0) ? 0.0 : xy / std::sqrt(xx * yy);
}

// The lag (encoder and decoder delay) at which a window of the reference matches best.
inline size_t BestLag(
    const std::vector<int16_t>& decoded, const std::vector<int16_t>& reference, size_t maxLag)
{
    const size_t from = reference.size() / 4;
    const size_t window = std::min<size_t>(8192, reference.size() / 2);
    size_t best = 0;
    double bestValue = -2;
    for (size_t lag = 0; lag <= maxLag; ++lag) {
        const double value = Correlation(decoded, reference, lag, from, window);
        if (value > bestValue) {
            bestValue = value;
            best = lag;
        }
    }
    return best;
}

// Index one past the last sample whose magnitude reaches `threshold`.
inline size_t SoundingEnd(const std::vector<int16_t>& samples, int threshold)
{
    for (size_t i = samples.size(); i > 0; --i) {
        if (std::abs(samples[i - 1]) >= threshold)
            return i;
    }
    return 0;
}

// One MPEG layer III frame of an MP3 stream, as its header states it.
struct Mp3Frame {
    size_t offset = 0; // in the file
    size_t length = 0; // in bytes, padding included
    int kbps = 0;
    int rate = 0;
    bool mono = false;
    std::string infoTag; // "Info" or "Xing" when the frame is LAME's information frame
};

// The frames that follow the ID3v2 tag, walked from header to header; the walk ends at the first
// bytes that are not a layer III frame header (the ID3v1 tag, or a broken stream).
inline std::vector<Mp3Frame> Mp3Frames(const std::vector<uint8_t>& file)
{
    static const int mpeg1Kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int mpeg2Kbps[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int mpeg1Rates[] = {44100, 48000, 32000};
    std::vector<Mp3Frame> frames;
    size_t at = Id3v2Size(file.data(), file.size());
    while (at + 4 <= file.size()) {
        const uint8_t* h = file.data() + at;
        const int version = (h[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
        const int layer = (h[1] >> 1) & 3; // 1: layer III
        const int bitrateIndex = h[2] >> 4;
        const int rateIndex = (h[2] >> 2) & 3;
        if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || version == 1 || layer != 1 || bitrateIndex == 0
            || bitrateIndex == 15 || rateIndex == 3)
            break;
        const bool mpeg1 = version == 3;
        Mp3Frame frame;
        frame.offset = at;
        frame.kbps = mpeg1 ? mpeg1Kbps[bitrateIndex] : mpeg2Kbps[bitrateIndex];
        frame.rate = mpeg1Rates[rateIndex] / (mpeg1 ? 1 : version == 2 ? 2 : 4);
        frame.mono = (h[3] >> 6) == 3;
        frame.length
            = static_cast<size_t>((mpeg1 ? 144000 : 72000) * frame.kbps / frame.rate + ((h[2] >> 1) & 1));
        const size_t sideInformation = mpeg1 ? (frame.mono ? 17 : 32) : (frame.mono ? 9 : 17);
        const size_t tagAt = at + 4 + ((h[1] & 1) == 0 ? 2 : 0) + sideInformation;
        if (tagAt + 4 <= file.size()) {
            const std::string tag(
                file.begin() + static_cast<long>(tagAt), file.begin() + static_cast<long>(tagAt + 4));
            if (tag == "Info" || tag == "Xing")
                frame.infoTag = tag;
        }
        frames.push_back(frame);
        at += frame.length;
    }
    return frames;
}

} // namespace testing_support
