// Encodes interleaved PCM into a FLAC, Opus, Ogg Vorbis or AAC (M4A) file, written to a file
// descriptor the caller owns. The codecs and containers are FFmpeg's (libavcodec's `flac`,
// `libopus` and native `aac`; libavformat's `flac`, `opus` and `ipod` muxers), and for Ogg
// Vorbis libvorbis and libogg themselves, so the sessions are made in the media module
// (MediaModule.h), which Create loads on its first call.
//
// The output: the descriptor must be open for reading and writing and positioned where the file
// starts (the caller's hidden new file, OutputFile.h); the session writes from there on, seeks
// back to complete the headers, and never closes it. FLAC (STREAMINFO's length and MD5, the seek
// table) and M4A (the index, written after the audio) need a descriptor that can seek; they are
// refused on a pipe.
//
// Lengths: the file decodes to exactly the frames written, for FLAC, Opus (its pre-skip and
// end granule) and Vorbis (its end granule). M4A states the encoder delay in its edit list, so
// decoders that honour it (ffmpeg) give the frames written up to the last AAC frame's padding
// (fewer than 1024 frames more); the exact count for other players (iTunSMPB) is not written
// here, but Padding() gives what it states. Tags are not written either.
//
// Failures: Create returns null and Write and Finish return false with Failure() saying why in
// plain words (the step and the library's or the system's reason). After a failure the session
// accepts nothing more; the caller discards the file. Never throws.
//
// Threads: one session is used by one thread at a time; sessions are independent of each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum class AudioCodec { Flac, Opus, Vorbis, Aac };

// Interleaved input samples: 16-bit signed, or 24-bit signed held in the upper three bytes of
// a 32-bit word (the low byte zero, full scale at ±2^31).
enum class PcmLayout { Int16, Int24In32 };

struct AudioEncoderSettings {
    AudioCodec codec = AudioCodec::Flac;
    PcmLayout layout = PcmLayout::Int16;
    uint32_t rate = 44100; // Opus takes 48000 only: the caller resamples
    uint16_t channels = 2; // 1 or 2
    // FLAC: the compression level (0 to 8); Opus and AAC: the bitrate in kbit/s (Opus VBR);
    // Vorbis: the quality (0 to 10, libvorbis's 0.0 to 1.0).
    int quality = 5;
    int descriptor = -1; // the output, see above
};

class AudioEncoderSession {
public:
    // A session writing the container's header to settings.descriptor. Null with `reason` set
    // when the settings are refused, the codec cannot be opened, the header cannot be written,
    // or the media module cannot be loaded.
    static std::unique_ptr<AudioEncoderSession> Create(
        const AudioEncoderSettings& settings, std::string& reason);

    virtual ~AudioEncoderSession() = default;

    // Encodes `frames` frames of interleaved samples in the settings' layout and channels.
    virtual bool Write(const void* samples, size_t frames) = 0;
    // Encodes what the encoder still holds and completes the file (the container's trailer,
    // the headers written again with the final length). A session finished early, after part
    // of the input, gives a complete, shorter file.
    virtual bool Finish() = 0;
    // Why the last call failed; empty when none did.
    virtual const std::string& Failure() const = 0;

    // The frames a gapless player must drop to give back exactly the frames written: the encoder's
    // delay before the first of them, the padding after the last, and the count written. Complete
    // after Finish. AAC and Opus code frames of one size, so the delay, the frames and the padding
    // add up to a whole number of codec frames; FLAC and Vorbis end exactly (padding 0).
    struct Gapless {
        uint32_t delay = 0;
        uint32_t padding = 0;
        uint64_t frames = 0;
    };
    virtual Gapless Padding() const = 0;

protected:
    AudioEncoderSession() = default;
    AudioEncoderSession(const AudioEncoderSession&) = delete;
    AudioEncoderSession& operator=(const AudioEncoderSession&) = delete;
};
