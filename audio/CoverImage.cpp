#include "audio/CoverImage.h"

#include <algorithm>
#include <cctype>

namespace {

uint32_t Be16(const std::vector<uint8_t>& bytes, size_t at)
{
    return uint32_t {bytes[at]} << 8 | bytes[at + 1];
}

uint32_t Be32(const std::vector<uint8_t>& bytes, size_t at)
{
    return Be16(bytes, at) << 16 | Be16(bytes, at + 2);
}

bool StartsWith(const std::vector<uint8_t>& bytes, const std::string& signature)
{
    return bytes.size() >= signature.size()
        && std::equal(signature.begin(), signature.end(), bytes.begin(),
            [](char expected, uint8_t byte) { return static_cast<uint8_t>(expected) == byte; });
}

CoverImage::Kind KindOfBytes(const std::vector<uint8_t>& bytes)
{
    if (StartsWith(bytes, "\xFF\xD8\xFF"))
        return CoverImage::Kind::Jpeg;
    if (StartsWith(bytes, "\x89PNG\r\n\x1A\n"))
        return CoverImage::Kind::Png;
    if (StartsWith(bytes, "GIF8"))
        return CoverImage::Kind::Gif;
    if (StartsWith(bytes, "BM"))
        return CoverImage::Kind::Bmp;
    return CoverImage::Kind::Other;
}

CoverImage::Kind KindOfMime(std::string mime)
{
    std::transform(mime.begin(), mime.end(), mime.begin(), [](unsigned char c) { return std::tolower(c); });
    if (mime == "image/jpeg" || mime == "image/jpg" || mime == "image/pjpeg")
        return CoverImage::Kind::Jpeg;
    if (mime == "image/png")
        return CoverImage::Kind::Png;
    if (mime == "image/gif")
        return CoverImage::Kind::Gif;
    if (mime == "image/bmp" || mime == "image/x-ms-bmp")
        return CoverImage::Kind::Bmp;
    return CoverImage::Kind::Other;
}

const char* MimeOf(CoverImage::Kind kind)
{
    switch (kind) {
    case CoverImage::Kind::Jpeg:
        return "image/jpeg";
    case CoverImage::Kind::Png:
        return "image/png";
    case CoverImage::Kind::Gif:
        return "image/gif";
    case CoverImage::Kind::Bmp:
        return "image/bmp";
    case CoverImage::Kind::Other:
        break;
    }
    return "";
}

bool PrintableAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// IHDR is the first chunk: width and height at 16 and 20, then bit depth and colour type.
void MeasurePng(const std::vector<uint8_t>& bytes, CoverImage& image)
{
    if (bytes.size() < 26 || std::string(bytes.begin() + 12, bytes.begin() + 16) != "IHDR")
        return;
    image.width = Be32(bytes, 16);
    image.height = Be32(bytes, 20);
    const uint32_t bits = bytes[24];
    switch (bytes[25]) {
    case 0: // grey
        image.depth = bits;
        break;
    case 2: // RGB
        image.depth = bits * 3;
        break;
    case 3: // indexed: RGB palette entries
        image.depth = 24;
        image.colors = bits <= 8 ? 1u << bits : 0;
        break;
    case 4: // grey and alpha
        image.depth = bits * 2;
        break;
    case 6: // RGBA
        image.depth = bits * 4;
        break;
    default:
        break;
    }
}

bool IsFrameHeader(uint8_t marker)
{
    // SOF0 to SOF15, less DHT (C4), JPG (C8) and DAC (CC), which share the range.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks the segments up to the frame header: precision, height, width, components.
void MeasureJpeg(const std::vector<uint8_t>& bytes, CoverImage& image)
{
    size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (bytes[at] != 0xFF)
            return;
        const uint8_t marker = bytes[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2; // markers without a length
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA)
            return; // the end, or the image data, before any frame header
        const size_t length = Be16(bytes, at + 2);
        if (IsFrameHeader(marker)) {
            if (length < 8 || at + 10 > bytes.size())
                return;
            image.height = Be16(bytes, at + 5);
            image.width = Be16(bytes, at + 7);
            image.depth = uint32_t {bytes[at + 4]} * bytes[at + 9];
            return;
        }
        if (length < 2)
            return;
        at += 2 + length;
    }
}

} // namespace

CoverImage CoverImage::Of(const std::string& mime, const std::vector<uint8_t>& bytes)
{
    CoverImage image;
    const Kind byBytes = KindOfBytes(bytes);
    const Kind byMime = KindOfMime(mime);
    image.kind = byMime != Kind::Other ? byMime : byBytes;
    image.mime = !mime.empty() && PrintableAscii(mime) ? mime : MimeOf(image.kind);
    if (byBytes == Kind::Png)
        MeasurePng(bytes, image);
    else if (byBytes == Kind::Jpeg)
        MeasureJpeg(bytes, image);
    return image;
}
