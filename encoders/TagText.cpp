#include "encoders/TagText.h"

#include "platform/Utf8.h"

TagLib::String TagText::Of(const std::string& utf8)
{
    return TagLib::String(Utf8::IsValid(utf8) ? utf8 : TagText::Utf8(utf8), TagLib::String::UTF8);
}

std::string TagText::Utf8(const std::string& text)
{
    if (Utf8::IsValid(text))
        return text;
    std::string clean;
    for (size_t at = 0; at < text.size();) {
        const char32_t point = Utf8::Next(text, at);
        Utf8::Append(clean, point == Utf8::kNotUtf8 ? char32_t {0xFFFD} : point);
    }
    return clean;
}

TagLib::ByteVector TagText::Bytes(const std::vector<uint8_t>& bytes)
{
    return TagLib::ByteVector(
        reinterpret_cast<const char*>(bytes.data()), static_cast<unsigned int>(bytes.size()));
}
