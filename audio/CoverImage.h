// What a tag states about a cover picture besides its bytes: the MIME type, the kind of image
// (MP4 types its cover atom by it) and, for FLAC's picture block, the width, height and colour
// depth. The kind and size come from the picture's own header (PNG's IHDR chunk, a JPEG frame
// header), not from the MIME type, which a tag may state wrongly; a picture that is neither, or
// whose header is cut short, has size 0 x 0, which FLAC's picture block allows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CoverImage {
    enum class Kind { Jpeg, Png, Gif, Bmp, Other };

    // The MIME type as the source stated it when that is printable ASCII (what FLAC's picture
    // block takes), else the one of the picture's kind, else empty.
    std::string mime;
    // By the MIME type when it names a kind, else by the picture's first bytes.
    Kind kind = Kind::Other;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 0; // bits per pixel
    uint32_t colors = 0; // the palette's size for an indexed picture, else 0

    static CoverImage Of(const std::string& mime, const std::vector<uint8_t>& bytes);
};
