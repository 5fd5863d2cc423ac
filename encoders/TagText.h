// Texts and bytes of the tag model as TagLib takes them.
//
// Threads: any; no state.
#pragma once

#include <cstdint>
#include <string>
#include <taglib/tbytevector.h>
#include <taglib/tstring.h>
#include <vector>

class TagText {
public:
    // TagLib turns a text that is not UTF-8 into an empty one; here each byte that does not
    // belong to a well-formed sequence becomes U+FFFD, and the rest of the text stays.
    static TagLib::String Of(const std::string& utf8);
    // The same text as UTF-8 bytes.
    static std::string Utf8(const std::string& text);
    static TagLib::ByteVector Bytes(const std::vector<uint8_t>& bytes);
};
