#include "engine/TrackFileName.h"

#include "platform/Utf8.h"

#include <cstdio>

namespace {

constexpr int32_t kLastDiscNumber = 99; // a table of contents numbers its tracks 1 to 99

// Characters a name made from a disc's text does not keep: the separator, and the control
// characters (C0 with NUL, DEL, C1) that terminals and other programs take as commands.
bool Unfit(char32_t point)
{
    return point == Utf8::kNotUtf8 || point == U'/' || point < 0x20 || (point >= 0x7F && point <= 0x9F);
}

bool TrailsAName(char c)
{
    return c == ' ' || c == '.';
}

} // namespace

std::string TrackFileName::For(
    const std::string& label, int32_t discNumber, const std::string& title, const OutputFormat& format)
{
    if (format.IsAuto())
        return label + ".mp3";
    const std::string extension = "." + format.extension;
    if (discNumber < 1 || discNumber > kLastDiscNumber || title.empty())
        return label + extension;
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d - ", static_cast<int>(discNumber));
    const std::string start = prefix;
    const size_t used = start.size() + extension.size();
    const std::string cleaned = used < kLongestName ? Clean(title, kLongestName - used) : std::string();
    return cleaned.empty() ? label + extension : start + cleaned + extension;
}

std::string TrackFileName::Clean(const std::string& title, size_t room)
{
    std::string name;
    for (size_t at = 0; at < title.size();) {
        const size_t from = at;
        // A byte that is not UTF-8 is a character of its own here: one "_" each.
        if (Unfit(Utf8::Next(title, at)))
            name += '_';
        else
            name.append(title, from, at - from);
    }
    const size_t first = name.find_first_not_of(' ');
    name.erase(0, first == std::string::npos ? name.size() : first);
    name.resize(Utf8::CutLength(name, room));
    while (!name.empty() && TrailsAName(name.back()))
        name.pop_back();
    return name;
}
