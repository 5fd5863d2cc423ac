// Feeds arbitrary bytes, as a local file, through the media reader and WmaStream: load, read to
// the end (bounded), seek, rewind and read again. Nothing may crash, hang or read out of bounds.
#include "platform/media/MediaFile.h"
#include "sources/WmaStream.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

// The reader takes file names, so each input goes through a file of this process's own.
std::string InputFile(const uint8_t* data, size_t size)
{
    // The first byte picks the extension, so both families' name handling is exercised.
    const char* extension = size > 0 && (data[0] & 1) ? ".wma" : ".mp3";
    std::string name = "/tmp/varkonel-media-fuzz-" + std::to_string(::getpid()) + extension;
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr)
        return {};
    if (size > 0)
        std::fwrite(data, 1, size, file);
    std::fclose(file);
    return name;
}

// Diagnostics of failed loads go to standard output; keep the fuzzer's own output readable.
void SilenceStandardOutput()
{
    static const bool silenced = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)silenced;
}

void ReadSome(WmaStream& stream, int limit)
{
    for (int i = 0; i < limit; ++i) {
        if (stream.GetBuffer().IsEnd())
            return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SilenceStandardOutput();
    const std::string name = InputFile(data, size);
    if (name.empty())
        return 0;
    {
        WmaStream stream;
        if (SUCCEEDED(stream.Load(name.c_str()))) {
            stream.GetFormat();
            stream.GetLength();
            ReadSome(stream, 20000);
            stream.Seek(1);
            ReadSome(stream, 50);
            stream.Rewind();
            ReadSome(stream, 50);
            stream.GetPosition();
        }
        DecodedAudio decoded;
        DecodeMediaFile(name.c_str(), decoded);
    }
    std::remove(name.c_str());
    return 0;
}
