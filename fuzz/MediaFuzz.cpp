// Feeds arbitrary bytes, as a local file, through the media reader behind WmaStream: load, read
// (bounded), and for some inputs seek, rewind and read again. Nothing may crash, hang or read out
// of bounds.
//
// Opening is most of the cost of an input (the container is probed and its decoder set up), and
// seeking and rewinding set up a decoder again (rewinding, and seeking in a file that cannot seek,
// also open the file again); so the first byte chooses, besides the extension (bit 0: ".wma",
// else ".mp3", so that both families' name handling is exercised), whether the input is also
// repositioned (bit 1), and how (bit 2: back to the start, else one second in). Every pass reads a
// bounded number of buffers, so that a small file that decodes to minutes of audio cannot take
// the fuzzer's time.
#include "fuzz/MediaModuleRequired.h"
#include "platform/Message.h"
#include "platform/RecordingMessageBackend.h"
#include "sources/WmaStream.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace {

// The reader takes file names, so each input goes through a file of this process's own, one for
// each extension. The files stay from one input to the next (making and deleting a file costs
// more than reading a small one) and go when the process ends.
class InputFiles {
public:
    explicit InputFiles(const std::string& stem)
        : mp3(stem + ".mp3")
        , wma(stem + ".wma")
    { }
    ~InputFiles()
    {
        std::remove(mp3.c_str());
        std::remove(wma.c_str());
    }
    InputFiles(const InputFiles&) = delete;
    InputFiles& operator=(const InputFiles&) = delete;
    const std::string mp3;
    const std::string wma;
};

std::string InputFile(const uint8_t* data, size_t size)
{
    static const InputFiles files(
        (std::filesystem::temp_directory_path() / ("varkonel-media-fuzz-" + std::to_string(::getpid())))
            .string());
    const std::string& name = size > 0 && (data[0] & 1) ? files.wma : files.mp3;
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr)
        return {};
    const size_t written = size > 0 ? std::fwrite(data, 1, size, file) : 0;
    std::fclose(file);
    return written == size ? name : std::string();
}

// Diagnostics of failed loads go to standard output, and messages to the user through the
// message backend; keep the fuzzer's own output readable and the messages from piling up.
void Quiet()
{
    static const bool silenced = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)silenced;
    static const auto recorder = [] {
        auto backend = std::make_shared<RecordingMessageBackend>();
        SetMessageBackend(backend);
        return backend;
    }();
    recorder->Clear();
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
    Quiet();
    RequireMediaModule();
    const std::string name = InputFile(data, size);
    if (name.empty())
        return 0;
    const bool reposition = size > 0 && (data[0] & 2) != 0;
    const bool rewind = size > 0 && (data[0] & 4) != 0;
    {
        WmaStream stream;
        if (SUCCEEDED(stream.Load(name.c_str()))) {
            stream.GetFormat();
            stream.GetLength();
            ReadSome(stream, 400);
            stream.GetPosition();
            if (reposition) {
                if (rewind)
                    stream.Rewind();
                else
                    stream.Seek(1);
                ReadSome(stream, 50);
                stream.GetPosition();
            }
        }
    }
    return 0;
}
