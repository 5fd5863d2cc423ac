#include "platform/Utf8.h"

#include <algorithm>
#include <cstdint>

char32_t Utf8::Next(const std::string& text, size_t& at)
{
    const auto lead = static_cast<uint8_t>(text[at++]);
    if (lead < 0x80)
        return lead;
    const size_t extra = (lead & 0xE0) == 0xC0 ? 1
        : (lead & 0xF0) == 0xE0                ? 2
        : (lead & 0xF8) == 0xF0                ? 3
                                               : 0;
    if (extra == 0 || at + extra > text.size())
        return kNotUtf8;
    char32_t point = lead & (0x3F >> extra);
    for (size_t i = 0; i < extra; ++i) {
        const auto byte = static_cast<uint8_t>(text[at + i]);
        if ((byte & 0xC0) != 0x80)
            return kNotUtf8;
        point = point << 6 | (byte & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return kNotUtf8;
    at += extra;
    return point;
}

bool Utf8::IsValid(const std::string& text)
{
    for (size_t at = 0; at < text.size();) {
        if (Next(text, at) == kNotUtf8)
            return false;
    }
    return true;
}

size_t Utf8::CutLength(const std::string& text, size_t limit)
{
    const size_t length = std::min(limit, text.size());
    // The lead byte of the last sequence is at most three continuation bytes back.
    for (size_t back = 1; back <= 4 && back <= length; ++back) {
        const auto byte = static_cast<uint8_t>(text[length - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: keep looking for its lead
        const size_t sequence = (byte & 0xE0) == 0xC0 ? 2
            : (byte & 0xF0) == 0xE0                   ? 3
            : (byte & 0xF8) == 0xF0                   ? 4
                                                      : 1;
        return sequence > back ? length - back : length;
    }
    return length;
}

void Utf8::Append(std::string& out, char32_t point)
{
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

std::string Utf8::FromWindows1252(const std::string& bytes)
{
    // 0x80-0x9F: where Windows-1252 differs from Latin-1.
    static constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C,
        0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (const char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        Append(out, byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte);
    }
    return out;
}
