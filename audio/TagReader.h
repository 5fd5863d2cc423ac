// Reads the whole tag set of an audio file into the tag model (TagSet), through TagLib, for
// every container TagLib reads: FLAC, Ogg Vorbis, Opus, Speex and FLAC, MP3 (ID3v2.2/2.3/2.4,
// APE, ID3v1), MP4/M4A, WMA (ASF), Monkey's Audio, WavPack, Musepack, TrueAudio, AIFF and WAV
// ("id3 " chunk and LIST/INFO). What TagLib does not read (Matroska audio, AU) falls back on
// FFmpeg's metadata (ReadMediaMetadata).
//
// Fields come under the model's keys (TagLib's property-map names), every value kept: two
// artists stay two values, a full date stays a full date, "4/12" becomes TRACKNUMBER 4 and
// TRACKTOTAL 12. Every picture comes with its type, MIME type and description. What describes
// the source file rather than the music is left out: encoder names and settings, iTunes' gapless
// and normalisation texts, the stated length. A value over TagSet::kLargestValue bytes or a
// picture over TagSet::kLargestPicture bytes is left out with a note on the terminal
// (Diagnostics), never a failure.
//
// A file that cannot be opened or holds no tags gives an empty set: a conversion goes on
// without them. The file is opened once, read only, by its name; a FIFO or device is not
// opened at all (it could keep the open waiting).
//
// Threads: any; calls are independent.
#pragma once

#include "audio/TagSet.h"

#include <string>

namespace TagLib {
class IOStream;
}

class TagReader {
public:
    static TagSet Read(const std::string& path);
    // The tags of the file `stream` holds; its name's extension picks the container, else
    // its content does. Never throws.
    static TagSet ReadStream(TagLib::IOStream& stream);

    // The fields of a file without its pictures, as Read gives them, for naming and listing
    // many files: a FLAC file's come from its Vorbis comment block alone (FlacHead), without a
    // scan of the whole file; any other file, and a FLAC file whose head cannot be walked or
    // whose comment holds no field, is read by Read.
    static TagSet ReadFields(const std::string& path);
    // The fields of a Vorbis comment block's bytes, as Read gives a FLAC file's.
    static TagSet FieldsOfComment(const std::string& block);
};
