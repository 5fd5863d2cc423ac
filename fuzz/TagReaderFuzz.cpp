// The tag reader on arbitrary bytes, in every container TagLib parses: the input's first byte
// picks the file name's extension (so that TagLib takes the bytes as that container, else by
// their content), the rest is the file. Whatever the bytes, reading must end without a fault,
// and what it gives must keep the model's bounds.
#include "audio/TagReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <taglib/tbytevectorstream.h>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

class NamedStream : public TagLib::ByteVectorStream {
public:
    NamedStream(const TagLib::ByteVector& bytes, const char* fileName)
        : TagLib::ByteVectorStream(bytes)
        , fileName(fileName)
    { }

    TagLib::FileName name() const override { return fileName; }

private:
    const char* fileName;
};

constexpr const char* kNames[] = {"f.flac", "f.ogg", "f.opus", "f.oga", "f.spx", "f.mp3", "f.m4a", "f.wma",
    "f.ape", "f.wv", "f.mpc", "f.tta", "f.aiff", "f.wav", "f.bin"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const char* name = kNames[data[0] % (sizeof kNames / sizeof kNames[0])];
    NamedStream stream(
        TagLib::ByteVector(reinterpret_cast<const char*>(data + 1), static_cast<unsigned int>(size - 1)),
        name);
    const TagSet tags = TagReader::ReadStream(stream);
    for (const TagSet::Field& field : tags.Fields()) {
        Check(!field.key.empty() && !field.values.empty());
        for (const std::string& value : field.values)
            Check(!value.empty() && value.size() <= TagSet::kLargestValue);
    }
    for (const TagSet::Picture& picture : tags.Pictures())
        Check(!picture.bytes.empty() && picture.bytes.size() <= TagSet::kLargestPicture);
    return 0;
}
