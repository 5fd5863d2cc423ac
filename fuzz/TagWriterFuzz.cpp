// Writes arbitrary tag texts and cover bytes into small FLAC, Ogg Vorbis, Opus and M4A files made
// by the media module's encoders. The first byte of the input chooses the container (its low two
// bits); the rest is split at zero bytes into title, artist, album, year, track, genre, comment,
// cover MIME type and cover. Whatever they hold, the write must succeed, TagLib must read the
// file back with the title (when the title is UTF-8) and the cover, and a FLAC file's audio frames
// must be the very bytes the encoder wrote.
#include "encoders/TagWriter.h"
#include "fuzz/FuzzedTags.h"
#include "fuzz/MediaModuleRequired.h"
#include "platform/Utf8.h"
#include "platform/media/AudioEncoderSession.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mp4file.h>
#include <taglib/opusfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>
#include <unistd.h>
#include <vector>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "TagWriterFuzz: %s\n", what);
        std::abort();
    }
}

struct Base {
    TagContainer container;
    AudioCodec codec;
    uint32_t rate;
    int quality;
};

const Base kBases[] = {
    {TagContainer::Flac, AudioCodec::Flac, 8000, 0},
    {TagContainer::OggVorbis, AudioCodec::Vorbis, 8000, 1},
    {TagContainer::OggOpus, AudioCodec::Opus, 48000, 64},
    {TagContainer::Mp4, AudioCodec::Aac, 8000, 64},
};

// An anonymous file in memory, closed with the object.
class MemoryFile {
public:
    MemoryFile()
        : descriptor(memfd_create("tag-writer-fuzz", MFD_CLOEXEC))
    {
        Check(descriptor >= 0, "no memfd");
    }
    ~MemoryFile() { close(descriptor); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    int Descriptor() const { return descriptor; }

    std::vector<uint8_t> Bytes() const
    {
        std::vector<uint8_t> bytes(size_t(lseek(descriptor, 0, SEEK_END)));
        Check(pread(descriptor, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size()),
            "cannot read the file");
        return bytes;
    }
    void SetBytes(const std::vector<uint8_t>& bytes) const
    {
        Check(ftruncate(descriptor, 0) == 0
                && pwrite(descriptor, bytes.data(), bytes.size(), 0) == ssize_t(bytes.size()),
            "cannot write the file");
    }

private:
    int descriptor;
};

// A fifth of a second of a tone, as the container's encoder writes it.
std::vector<uint8_t> Encode(const Base& base)
{
    MemoryFile file;
    AudioEncoderSettings settings;
    settings.codec = base.codec;
    settings.rate = base.rate;
    settings.channels = 1;
    settings.quality = base.quality;
    settings.descriptor = file.Descriptor();
    std::string reason;
    auto session = AudioEncoderSession::Create(settings, reason);
    Check(session != nullptr, reason.c_str());
    std::vector<int16_t> samples(base.rate / 5);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(std::lround(8000 * std::sin(double(i) * 0.1)));
    Check(session->Write(samples.data(), samples.size()) && session->Finish(), "the encoder failed");
    return file.Bytes();
}

const std::vector<uint8_t>& BaseFile(size_t which)
{
    static const std::vector<std::vector<uint8_t>> files = [] {
        std::vector<std::vector<uint8_t>> made;
        for (const Base& base : kBases)
            made.push_back(Encode(base));
        return made;
    }();
    return files[which];
}

// Where a FLAC file's first audio frame starts: after the last metadata block.
size_t FlacAudioStart(const std::vector<uint8_t>& bytes)
{
    size_t at = 4;
    for (bool last = false; !last;) {
        Check(at + 4 <= bytes.size(), "the FLAC metadata runs past the end");
        last = (bytes[at] & 0x80) != 0;
        at += 4 + (size_t(bytes[at + 1]) << 16 | size_t(bytes[at + 2]) << 8 | bytes[at + 3]);
    }
    Check(at <= bytes.size(), "the last FLAC block runs past the end");
    return at;
}

// The title and the cover as TagLib reads them from the file.
struct ReadBack {
    bool valid = false;
    std::string title;
    size_t coverBytes = 0;
};

ReadBack Read(TagContainer container, const std::vector<uint8_t>& bytes)
{
    TagLib::ByteVector data(
        reinterpret_cast<const char*>(bytes.data()), static_cast<unsigned int>(bytes.size()));
    TagLib::ByteVectorStream stream(data);
    ReadBack back;
    std::unique_ptr<TagLib::File> file;
    if (container == TagContainer::Flac) {
        auto flac
            = std::make_unique<TagLib::FLAC::File>(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        back.coverBytes = flac->pictureList().isEmpty() ? 0 : flac->pictureList().front()->data().size();
        file = std::move(flac);
    } else if (container == TagContainer::Mp4) {
        auto mp4 = std::make_unique<TagLib::MP4::File>(&stream, false);
        if (mp4->isValid() && mp4->tag()->contains("covr")
            && !mp4->tag()->item("covr").toCoverArtList().isEmpty())
            back.coverBytes = mp4->tag()->item("covr").toCoverArtList().front().data().size();
        file = std::move(mp4);
    } else {
        std::unique_ptr<TagLib::Ogg::File> ogg;
        TagLib::Ogg::XiphComment* comment = nullptr;
        if (container == TagContainer::OggOpus) {
            auto opus = std::make_unique<TagLib::Ogg::Opus::File>(&stream, false);
            comment = opus->tag();
            ogg = std::move(opus);
        } else {
            auto vorbis = std::make_unique<TagLib::Ogg::Vorbis::File>(&stream, false);
            comment = vorbis->tag();
            ogg = std::move(vorbis);
        }
        if (ogg->isValid() && comment != nullptr && !comment->pictureList().isEmpty())
            back.coverBytes = comment->pictureList().front()->data().size();
        file = std::move(ogg);
    }
    back.valid = file->isValid() && file->tag() != nullptr;
    if (back.valid)
        back.title = file->tag()->title().to8Bit(true);
    return back;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RequireMediaModule();
    if (size == 0)
        return 0;
    const size_t which = data[0] & 3;
    const TagContainer container = kBases[which].container;
    const TagSet tags = FuzzedTags(data + 1, size - 1);
    const std::vector<uint8_t>& base = BaseFile(which);

    MemoryFile file;
    file.SetBytes(base);
    std::string reason;
    Check(TagWriter::Write(file.Descriptor(), container, tags, GaplessInfo {1024, 500, 1600}, reason),
        reason.c_str());
    Check(reason.empty(), "a note for tags that fit");
    const std::vector<uint8_t> written = file.Bytes();

    const ReadBack back = Read(container, written);
    Check(back.valid, "TagLib cannot read the file back");
    if (Utf8::IsValid(tags.First("TITLE")))
        Check(back.title == tags.First("TITLE"), "the title reads back changed");
    const size_t coverBytes = tags.Cover() == nullptr ? 0 : tags.Cover()->bytes.size();
    Check(back.coverBytes == coverBytes, "the cover reads back with another size");
    if (container == TagContainer::Flac) {
        Check(std::equal(base.begin() + long(FlacAudioStart(base)), base.end(),
                  written.begin() + long(FlacAudioStart(written)), written.end()),
            "the FLAC audio frames changed");
    }
    return 0;
}
