#include "engine/SafeName.h"

#include "platform/Utf8.h"

#include <algorithm>

namespace {

bool IsControl(char32_t point)
{
    return point < 0x20 || (point >= 0x7F && point < 0xA0);
}

bool IsWindowsReserved(char32_t point)
{
    return point == ':' || point == '*' || point == '?' || point == '"' || point == '<' || point == '>'
        || point == '|';
}

} // namespace

std::string SafeName::Value(std::string_view value, System system)
{
    const std::string text(value);
    std::string safe;
    safe.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        char32_t point = Utf8::Next(text, at);
        if (point == Utf8::kNotUtf8)
            point = 0xFFFD;
        if (IsControl(point))
            continue;
        if (point == '/' || point == '\\')
            point = '-';
        else if (system == System::Windows && IsWindowsReserved(point))
            point = '_';
        Utf8::Append(safe, point);
    }
    return safe;
}

std::string SafeName::Folder(std::string_view text, System system)
{
    return Component(text, kLongestComponent, system);
}

std::string SafeName::File(std::string_view stem, std::string_view extension, System system)
{
    const size_t room = kLongestFileName > extension.size() ? kLongestFileName - extension.size() : 1;
    return Component(stem, room, system) + std::string(extension);
}

std::string SafeName::Component(std::string_view text, size_t room, System system)
{
    std::string safe = Value(text, system);
    if (!safe.empty() && safe.front() == '.')
        safe.front() = '_';
    safe.resize(Utf8::CutLength(safe, std::min(room, safe.size())));
    // Dots and spaces at the end: Windows drops them, and a cut may have left some.
    while (!safe.empty() && (safe.back() == '.' || safe.back() == ' '))
        safe.pop_back();
    return safe.empty() ? "_" : safe;
}
