#include "encoders/TagNames.h"

#include <array>
#include <utility>

#ifndef VARKONEL_VERSION
#define VARKONEL_VERSION "0"
#endif

std::string TagNames::Described(const std::string& key)
{
    static constexpr std::array<std::pair<const char*, const char*>, 16> kNames {{
        {"MUSICBRAINZ_TRACKID", "MusicBrainz Track Id"},
        {"MUSICBRAINZ_ALBUMID", "MusicBrainz Album Id"},
        {"MUSICBRAINZ_ARTISTID", "MusicBrainz Artist Id"},
        {"MUSICBRAINZ_ALBUMARTISTID", "MusicBrainz Album Artist Id"},
        {"MUSICBRAINZ_RELEASEGROUPID", "MusicBrainz Release Group Id"},
        {"MUSICBRAINZ_RELEASETRACKID", "MusicBrainz Release Track Id"},
        {"MUSICBRAINZ_WORKID", "MusicBrainz Work Id"},
        {"RELEASECOUNTRY", "MusicBrainz Album Release Country"},
        {"RELEASESTATUS", "MusicBrainz Album Status"},
        {"RELEASETYPE", "MusicBrainz Album Type"},
        {"ACOUSTID_ID", "Acoustid Id"},
        {"ACOUSTID_FINGERPRINT", "Acoustid Fingerprint"},
        {"REPLAYGAIN_TRACK_GAIN", "replaygain_track_gain"},
        {"REPLAYGAIN_TRACK_PEAK", "replaygain_track_peak"},
        {"REPLAYGAIN_ALBUM_GAIN", "replaygain_album_gain"},
        {"REPLAYGAIN_ALBUM_PEAK", "replaygain_album_peak"},
    }};
    for (const auto& [model, described] : kNames) {
        if (key == model)
            return described;
    }
    return key;
}

std::string TagNames::EncoderName()
{
    return std::string("Varkonel ") + VARKONEL_VERSION;
}

std::string TagNames::Numbered(const std::string& number, const std::string& total)
{
    if (number.empty())
        return {};
    return total.empty() ? number : number + "/" + total;
}

std::string TagNames::Joined(const std::vector<std::string>& values)
{
    std::string joined;
    for (const std::string& value : values)
        joined += (joined.empty() ? "" : "/") + value;
    return joined;
}
