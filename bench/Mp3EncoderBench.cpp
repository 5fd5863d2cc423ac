// Times the MP3 writer alone: 16-bit mono PCM read from a raw file in tenth-of-a-second
// buffers (as the engine delivers it) -> Mp3Encoder -> MP3 file. Prints the wall time, the
// speed as a multiple of real time and the peak resident memory.
//
// Usage: Mp3EncoderBench <input.raw> <sample rate> <output.mp3>
#include "encoders/Mp3Encoder.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

class RawPcmStream : public AudioStream {
public:
    RawPcmStream(const char* path, uint32_t rate)
        : file(std::fopen(path, "rb"))
    {
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 1;
        format.nSamplesPerSec = rate;
        format.wBitsPerSample = 16;
        format.nBlockAlign = 2;
        format.nAvgBytesPerSec = rate * 2;
        bufferSize = format.nAvgBytesPerSec / 10 / 2 * 2;
    }
    ~RawPcmStream() override
    {
        if (file != nullptr)
            std::fclose(file);
    }
    bool IsOpen() const { return file != nullptr; }
    WAVEFORMATEX* GetFormat() override { return &format; }
    AudioBufferRef GetBuffer() override
    {
        AudioBufferRef buffer = AudioBufferRef::Allocate(bufferSize, false);
        const size_t read = std::fread(buffer.GetData(), 1, bufferSize, file);
        if (read == 0)
            return AudioBufferRef::MakeEmpty();
        buffer.SetLength(static_cast<uint32_t>(read));
        buffer.SetKind(Output);
        bytes += read;
        return buffer;
    }
    uint64_t bytes = 0;

private:
    FILE* file;
    WAVEFORMATEX format {};
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <input.raw> <sample rate> <output.mp3>\n", argv[0]);
        return 2;
    }
    const auto rate = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    RawPcmStream source(argv[1], rate);
    if (!source.IsOpen() || rate == 0) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    std::remove(argv[3]); // no overwrite question
    auto encoder = std::make_unique<Mp3Encoder>();
    encoder->SetSource(&source);
    encoder->SetOutputPath(argv[3]);
    const auto start = std::chrono::steady_clock::now();
    const bool done = encoder->Encode();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const double audio = static_cast<double>(source.bytes) / 2 / rate;
    std::printf("%.3f s for %.1f s of audio (%.1fx real time), peak memory %.1f MB\n", seconds, audio,
        audio / seconds, static_cast<double>(usage.ru_maxrss) / 1024.0);
    return done ? 0 : 1;
}
