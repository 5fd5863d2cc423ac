// The ID3v2.3 tag of an MP3 file, made from the tag model by TagLib: version 2.3 because many
// players (in cars, in older phones) read no other. Each model key has its standard frame
// (kFrames in Id3v2Tags.cpp): TIT2, TPE1, TPE2, TALB, TRCK "4/12", TPOS "2/3", TCON, TCOM, TBPM,
// TCMP, TSOP/TSOA/TSO2/TSOT, TSRC, TCOP, TPUB, ...; a full date becomes TYER and TDAT (DDMM);
// COMMENT is a COMM frame and LYRICS a USLT frame (language "eng", no description); the
// MusicBrainz recording id is the UFID frame of "http://musicbrainz.org"; every other key is a
// TXXX frame under its description (TagNames). Several values of one field are joined by "/",
// as version 2.3 separates them. Every picture is an APIC frame with its own type. TSSE names
// this program. Texts are UTF-16 with a byte-order mark; bytes that are not UTF-8 become U+FFFD.
//
// Threads: any; no state.
#pragma once

#include "audio/TagSet.h"

#include <cstdint>
#include <vector>

class Id3v2Tags {
public:
    // The whole tag, header and padding included.
    static std::vector<uint8_t> Rendered(const TagSet& tags);
};
