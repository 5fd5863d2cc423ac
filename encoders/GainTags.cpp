#include "encoders/GainTags.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace {

constexpr const char* kScopes[] = {"TRACK", "ALBUM"};

// The number that starts `text` ("-6.52 dB", "+3 dB", " 1.5"); none when it does not start
// with one.
std::optional<double> NumberOf(const std::string& text)
{
    size_t at = text.find_first_not_of(' ');
    if (at == std::string::npos)
        return std::nullopt;
    if (text[at] == '+')
        ++at;
    double value = 0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() + at || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void RemoveStartingWith(TagSet& tags, const std::string& prefix)
{
    std::vector<std::string> keys;
    for (const TagSet::Field& field : tags.Fields()) {
        if (field.key.rfind(prefix, 0) == 0)
            keys.push_back(field.key);
    }
    for (const std::string& key : keys)
        tags.Remove(key);
}

} // namespace

TagSet GainTags::ForOpus(TagSet tags)
{
    for (const char* scope : kScopes) {
        const std::string r128 = std::string("R128_") + scope + "_GAIN";
        const std::optional<double> stated = NumberOf(tags.First(r128));
        const std::optional<double> gain = NumberOf(tags.First(std::string("REPLAYGAIN_") + scope + "_GAIN"));
        tags.Remove(r128);
        const double limit = std::numeric_limits<int16_t>::max();
        if (stated && std::fabs(*stated) <= limit && *stated == std::round(*stated))
            tags.Add(r128, std::to_string(static_cast<int>(*stated)));
        else if (gain)
            tags.Add(r128,
                std::to_string(
                    static_cast<int>(std::clamp(std::round((*gain - 5) * 256), -limit - 1, limit))));
    }
    RemoveStartingWith(tags, "REPLAYGAIN_");
    return tags;
}

TagSet GainTags::ForOthers(TagSet tags)
{
    for (const char* scope : kScopes) {
        const std::string key = std::string("REPLAYGAIN_") + scope + "_GAIN";
        const std::optional<double> r128 = NumberOf(tags.First(std::string("R128_") + scope + "_GAIN"));
        const std::optional<double> stated = NumberOf(tags.First(key));
        if (!stated && r128) {
            // Two decimals, with a point whatever the locale, as taggers write gains.
            char text[32];
            const auto written
                = std::to_chars(text, text + sizeof text, *r128 / 256 + 5, std::chars_format::fixed, 2);
            tags.Set(key, {std::string(text, written.ptr) + " dB"});
        } else if (!stated) {
            tags.Remove(key);
        }
    }
    RemoveStartingWith(tags, "R128_");
    return tags;
}

TagSet GainTags::Dropped(TagSet tags)
{
    RemoveStartingWith(tags, "REPLAYGAIN_");
    RemoveStartingWith(tags, "R128_");
    return tags;
}
