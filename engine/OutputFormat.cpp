#include "engine/OutputFormat.h"

#include "encoders/AacEncoder.h"
#include "encoders/FlacEncoder.h"
#include "encoders/OpusEncoder.h"
#include "encoders/VorbisEncoder.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace {

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

OutputFormat::Quality Vbr(uint32_t level)
{
    const std::string key = "V" + std::to_string(level);
    return {key, "VBR " + key, true, level};
}

OutputFormat::Quality Cbr(uint32_t kbps)
{
    const std::string key = std::to_string(kbps);
    const uint32_t lowestRate = kbps > 160 ? 32000 : kbps > 64 ? 16000 : 0;
    return {key, "CBR " + key + " kbit/s", false, kbps, lowestRate};
}

template <class Writer> std::unique_ptr<CodecEncoder> Make(uint32_t value)
{
    return std::make_unique<Writer>(value);
}

OutputFormat::Quality Setting(uint32_t value, const std::string& text)
{
    return {std::to_string(value), text, false, value};
}

OutputFormat::Quality Level(uint32_t level)
{
    return Setting(level, "level " + std::to_string(level));
}

OutputFormat::Quality Kbps(uint32_t kbps, const std::string& mode)
{
    return Setting(kbps, std::to_string(kbps) + " kbit/s " + mode);
}

OutputFormat CodecFormat(const std::string& name, const std::string& key, const std::string& extension,
    std::unique_ptr<CodecEncoder> (*makeEncoder)(uint32_t))
{
    OutputFormat format;
    format.name = name;
    format.key = key;
    format.extension = extension;
    format.encoding = OutputFormat::Encoding::Codec;
    format.makeEncoder = makeEncoder;
    format.carriesTags = true;
    return format;
}

std::vector<OutputFormat> CodecFormats()
{
    OutputFormat flac = CodecFormat("FLAC", "flac", "flac", &Make<FlacEncoder>);
    flac.qualities = {Level(5), Level(8), Level(0)};
    flac.highestRate = 655350; // STREAMINFO's limit for a rate that frames can state
    flac.depth = OutputFormat::Depth::OfSource; // lossless: 24-bit and float sources keep 24 bits
    OutputFormat opus = CodecFormat("Opus", "opus", "opus", &Make<OpusEncoder>);
    // For two channels; one gets half.
    for (uint32_t kbps : {128u, 96u, 160u, 192u, 64u})
        opus.qualities.push_back(Kbps(kbps, "VBR, mono " + std::to_string(kbps / 2)));
    opus.rates = {48000};
    OutputFormat vorbis = CodecFormat("Ogg Vorbis", "ogg", "ogg", &Make<VorbisEncoder>);
    for (uint32_t level : {5u, 3u, 6u, 8u})
        vorbis.qualities.push_back(Setting(level, "quality " + std::to_string(level)));
    vorbis.highestRate = 192000; // libvorbis has settings up to there
    OutputFormat aac = CodecFormat("AAC", "m4a", "m4a", &Make<AacEncoder>);
    aac.qualities = {Kbps(192, "AAC-LC"), Kbps(128, "AAC-LC"), Kbps(256, "AAC-LC")};
    // The rates of MPEG-4's sampling-frequency table that the encoder takes.
    aac.rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000};
    return {flac, opus, vorbis, aac};
}

std::vector<OutputFormat> MakeTable()
{
    OutputFormat automatic;
    automatic.name = "Auto";
    automatic.key = "auto";

    OutputFormat mp3;
    mp3.name = "MP3";
    mp3.key = "mp3";
    mp3.extension = "mp3";
    mp3.encoding = OutputFormat::Encoding::Mp3;
    mp3.qualities = {Vbr(2), Vbr(0), Vbr(4), Cbr(128), Cbr(192), Cbr(256), Cbr(320)};
    // The MPEG-1, MPEG-2 and MPEG-2.5 rates.
    mp3.rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    mp3.highestRate = 48000;
    mp3.carriesTags = true;

    OutputFormat wave;
    wave.name = "WAV";
    wave.key = "wav";
    wave.extension = "wav";
    wave.encoding = OutputFormat::Encoding::Wave;
    wave.qualities = {{"16", "16-bit", false, 16}, {"24", "24-bit", false, 24}};
    wave.depth = OutputFormat::Depth::ByQuality;
    std::vector<OutputFormat> table {automatic, mp3, wave};
    for (OutputFormat& format : CodecFormats())
        table.push_back(std::move(format));
    return table;
}

} // namespace

const std::vector<OutputFormat>& OutputFormat::All()
{
    static const std::vector<OutputFormat> table = MakeTable();
    return table;
}

const OutputFormat& OutputFormat::Auto()
{
    return All().front();
}

const OutputFormat* OutputFormat::Find(std::string_view keyOrName)
{
    for (const OutputFormat& format : All()) {
        if (SameText(keyOrName, format.key) || SameText(keyOrName, format.name))
            return &format;
    }
    return nullptr;
}

std::string OutputFormat::KeyList()
{
    std::string list;
    for (const OutputFormat& format : All())
        list += (list.empty() ? "" : "|") + format.key;
    return list;
}

const OutputFormat::Quality* OutputFormat::FindQuality(std::string_view qualityKey) const
{
    for (const Quality& quality : qualities) {
        if (SameText(qualityKey, quality.key))
            return &quality;
    }
    return nullptr;
}

const OutputFormat::Quality* OutputFormat::DefaultQuality() const
{
    return qualities.empty() ? nullptr : &qualities.front();
}

std::string OutputFormat::QualityList() const
{
    std::string list;
    for (const Quality& quality : qualities)
        list += (list.empty() ? "" : ", ") + quality.key;
    return list;
}

uint16_t OutputFormat::SourceDepth(const WAVEFORMATEX& sourceFormat)
{
    // Float is deeper than 16 bits whatever its container; an extensible record states its
    // container size in wBitsPerSample, which is more than 16 for both 24-bit PCM and float.
    if (sourceFormat.wFormatTag == WAVE_FORMAT_IEEE_FLOAT)
        return 24;
    const bool linear
        = sourceFormat.wFormatTag == WAVE_FORMAT_PCM || sourceFormat.wFormatTag == WAVE_FORMAT_EXTENSIBLE;
    return linear && sourceFormat.wBitsPerSample > 16 ? 24 : 16;
}

uint16_t OutputFormat::BitsFor(const WAVEFORMATEX& sourceFormat, const Quality* quality) const
{
    switch (depth) {
    case Depth::Sixteen:
        break;
    case Depth::ByQuality:
        return quality != nullptr && quality->value == 24 ? 24 : 16;
    case Depth::OfSource:
        return SourceDepth(sourceFormat);
    }
    return 16;
}

uint32_t OutputFormat::RateFor(uint32_t sourceRate, const Quality* quality) const
{
    const uint32_t lowest = quality != nullptr ? quality->lowestRate : 0;
    uint32_t rate = std::max(sourceRate, lowest);
    if (!rates.empty()) {
        rate = 0;
        for (uint32_t taken : rates) {
            if (taken < lowest)
                continue;
            const int64_t distance = std::llabs(int64_t {taken} - sourceRate);
            const int64_t best = std::llabs(int64_t {rate} - sourceRate);
            if (rate == 0 || distance < best || (distance == best && taken > rate))
                rate = taken;
        }
    }
    return highestRate != 0 ? std::min(rate, highestRate) : rate;
}
