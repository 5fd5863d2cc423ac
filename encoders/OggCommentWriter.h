// Replaces the comment header of an Ogg Opus or Ogg Vorbis file that a muxer has just completed,
// in place, through the file's descriptor.
//
// The file: one logical stream, its identification header alone on the first page and its other
// header packets (the comment header; Vorbis also has its setup header) ending with a page, as
// every Ogg muxer lays them out because the audio must begin on a page of its own. The new
// comment header keeps the vendor text the encoder wrote and holds `comments` in their order,
// each a complete "KEY=value" text, then `pictures`. Its pages (up to 255 segments each) replace the old
// header pages; the audio after them moves, and when the number of pages changed every later page of the
// stream gets its new sequence number and checksum. The audio's bytes are not touched.
//
// Why not TagLib, which rewrites Ogg files too: a cover of some 100 KB is 130 KB of comment, and
// TagLib's Ogg writer works on it byte by byte through its own strings, which costs more than
// encoding a short track. This writer copies each byte once and checksums eight at a time.
//
// Result: true when the file is complete with the new comments. False, with `reason` saying why
// in plain words, when the file is not one of the stated codec (`codec` names it in the reason),
// its header pages are not laid out as above, a comment is too long for the header's 32-bit
// lengths, or reading or writing failed; the file may then be half rewritten and must be
// discarded. The descriptor's position is not moved and the descriptor is not closed. Never throws
// but std::bad_alloc.
//
// Threads: any; calls on different files are independent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class OggCommentWriter {
public:
    enum class Codec { Vorbis, Opus };

    // A picture as a FLAC picture block, which Ogg carries in a METADATA_BLOCK_PICTURE comment
    // in base64: the block's fields before the picture's bytes (`head`, ending with the bytes'
    // length), then the bytes, which are not copied.
    struct PictureBlock {
        std::string head;
        const std::vector<uint8_t>* bytes = nullptr;
    };

    static bool Write(int descriptor, Codec codec, const std::vector<std::string>& comments,
        const std::vector<PictureBlock>& pictures, std::string& reason);
};
