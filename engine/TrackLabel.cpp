#include "engine/TrackLabel.h"

#include <cctype>
#include <cstdio>

namespace {

constexpr char kPrefix[] = "track-";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;

bool StartsWithIgnoringCase(const std::string& text, const char* prefix, size_t length)
{
    if (text.size() < length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<int32_t> TrackLabel::Parse(const std::string& text)
{
    if (!StartsWithIgnoringCase(text, kPrefix, kPrefixLength) || text.size() < kPrefixLength + 1
        || text.size() > kPrefixLength + 2)
        return std::nullopt;
    int32_t number = 0;
    for (size_t i = kPrefixLength; i < text.size(); ++i) {
        if (!IsDigit(text[i]))
            return std::nullopt;
        number = number * 10 + (text[i] - '0');
    }
    return number;
}

bool TrackLabel::LooksLikeLabel(const std::string& text)
{
    return StartsWithIgnoringCase(text, kPrefix, kPrefixLength - 1);
}

std::string TrackLabel::Format(int64_t index)
{
    if (index < 0)
        return std::string();
    char label[32];
    std::snprintf(label, sizeof label, "Track-%02lld", static_cast<long long>(index));
    return label;
}
