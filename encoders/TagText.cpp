#include "encoders/TagText.h"

#include "platform/Utf8.h"

TagLib::String TagText::Of(const std::string& utf8)
{
    if (Utf8::IsValid(utf8))
        return TagLib::String(utf8, TagLib::String::UTF8);
    std::string clean;
    for (size_t at = 0; at < utf8.size();) {
        const char32_t point = Utf8::Next(utf8, at);
        Utf8::Append(clean, point == Utf8::kNotUtf8 ? char32_t {0xFFFD} : point);
    }
    return TagLib::String(clean, TagLib::String::UTF8);
}

TagLib::ByteVector TagText::Bytes(const std::vector<uint8_t>& bytes)
{
    return TagLib::ByteVector(
        reinterpret_cast<const char*>(bytes.data()), static_cast<unsigned int>(bytes.size()));
}
