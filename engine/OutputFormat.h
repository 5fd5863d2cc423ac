// The output formats a conversion can write, one row each: the name shown to the user, the key
// of the command line and the settings file, the file extension, the encoder, the quality
// choices (the first is the default), the sample rates its codec takes, the bits per sample it is
// given and whether it carries tags. The job, the command-line tool (options, --help) and the
// settings read this table; no other code decides by a format's name.
//
// "Auto" is the row of the original rules: a WAV, WMA, other compressed file or CD track becomes
// an MP3 and an MP3 becomes a WAV, the bitrate text giving the rate and the MP3 bitrate. It has
// no qualities and no rates of its own.
//
// A format written by a codec of the media module (FLAC, Opus, Ogg Vorbis, AAC) names its writer
// in its row: `makeEncoder` makes one for a job from the chosen quality's value. MP3 and WAV keep
// the writers of the job's EncoderSet, which the window and the tests reach by name.
//
// The table is constant and built before first use; every call may come from any thread.
#pragma once

#include "encoders/CodecEncoder.h"
#include "platform/MmSystem.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class OutputFormat {
public:
    enum class Encoding { ByRules, Mp3, Wave, Codec };
    // The bits per sample of the PCM the encoder is given.
    enum class Depth {
        Sixteen, // always 16 (lossy codecs, Auto)
        ByQuality, // the quality's value: 16 or 24 (WAV)
        OfSource, // the source's: 16 for sources of 16 bits or less, 24 for deeper and float ones
    };

    struct Quality {
        std::string key; // as the command line and the settings file give it: "V2", "320", "16"
        std::string text; // as shown: "VBR V2", "CBR 320 kbit/s", "16-bit"
        bool variable = false; // MP3: VBR at quality `value`; else CBR at `value` kbit/s
        // MP3: the VBR quality or the kbit/s; WAV: the bits per sample; the others: what their
        // writer takes (FLAC: the level, Opus and AAC: kbit/s, Vorbis: the quality).
        uint32_t value = 0;
        // The lowest output rate at which the encoder gives this quality; 0: any of the rates.
        // MP3 frames of 128 kbit/s exist from 16000 Hz, of 192 kbit/s and more from 32000 Hz
        // (MPEG-1); below that LAME would quietly lower the bitrate instead.
        uint32_t lowestRate = 0;
    };

    std::string name; // "Auto", "MP3", "WAV", "FLAC", ...
    std::string key; // "auto", "mp3", "wav", "flac", ...
    std::string extension; // without the dot; empty for Auto
    Encoding encoding = Encoding::ByRules;
    std::vector<Quality> qualities; // the first is the default; empty for Auto
    std::vector<uint32_t> rates; // the rates the codec takes; empty: any rate
    uint32_t highestRate = 0; // 0: no limit beyond `rates`
    Depth depth = Depth::Sixteen;
    bool carriesTags = false;
    // The writer of a codec format, for the quality value given; null for Auto, MP3 and WAV.
    std::unique_ptr<CodecEncoder> (*makeEncoder)(uint32_t value) = nullptr;

    // Every row, Auto first.
    static const std::vector<OutputFormat>& All();
    static const OutputFormat& Auto();
    // The row of a key or a name, in any letter case; null when there is none.
    static const OutputFormat* Find(std::string_view keyOrName);
    // "auto|mp3|wav|flac|...", for messages and --help.
    static std::string KeyList();

    bool IsAuto() const { return encoding == Encoding::ByRules; }
    // The quality of a key, in any letter case; null when the format has none of that key.
    const Quality* FindQuality(std::string_view qualityKey) const;
    // The default quality; null for Auto.
    const Quality* DefaultQuality() const;
    // "V2, V0, V4, 128, 192, 256, 320", for messages and --help.
    std::string QualityList() const;
    // The output rate for a source's rate: the source's own where the codec takes it, else the
    // nearest one it takes (the higher of two as near), never above highestRate, and never below
    // the lowest rate at which the chosen quality exists.
    uint32_t RateFor(uint32_t sourceRate, const Quality* quality = nullptr) const;
    // The bits per sample of the output (16 or 24) for a source's format and a quality.
    uint16_t BitsFor(const WAVEFORMATEX& sourceFormat, const Quality* quality = nullptr) const;
    // What a source's format holds, as an output depth: 24 for integer samples of more than 16
    // bits and for float samples (extensible records by their sub-format), else 16.
    static uint16_t SourceDepth(const WAVEFORMATEX& sourceFormat);
};
