#include "platform/media/EncoderSettingsCheck.h"

namespace {

// FLAC's compression levels, Vorbis's qualities, and a bitrate above zero for the others.
bool QualityTaken(const AudioEncoderSettings& settings)
{
    switch (settings.codec) {
    case AudioCodec::Flac:
        return settings.quality >= 0 && settings.quality <= 12;
    case AudioCodec::Vorbis:
        return settings.quality >= 0 && settings.quality <= 10;
    case AudioCodec::Opus:
    case AudioCodec::Aac:
        break;
    }
    return settings.quality > 0;
}

} // namespace

std::string EncoderSettingsRefusal(
    const AudioEncoderSettings& settings, const char* name, bool needsSeeking, bool seekable)
{
    if (settings.channels < 1 || settings.channels > 2)
        return std::to_string(settings.channels) + " channels cannot be encoded: one or two can";
    if (settings.rate == 0 || settings.rate > 655350)
        return std::to_string(settings.rate) + " Hz is not a sample rate that can be encoded";
    if (settings.codec == AudioCodec::Opus && settings.rate != 48000)
        return "Opus is encoded at 48000 Hz only, and the audio is at " + std::to_string(settings.rate)
            + " Hz";
    if (!QualityTaken(settings))
        return std::to_string(settings.quality) + " is not a quality of the " + name + " encoder";
    if (settings.descriptor < 0)
        return "there is no output file to write to";
    if (needsSeeking && !seekable)
        return std::string(name[0] == 'A' ? "an " : "a ") + name
            + " file must be written to a file that can seek, not to a pipe";
    return {};
}
