// Arbitrary bytes as a WAV file through WaveStream and ConversionStream: loading, converting to
// 16-bit PCM at the file's rate, then to mono at 22050 Hz after a rewind. Nothing may crash,
// hang or read out of bounds; failures must be clean.
#include "platform/Message.h"
#include "platform/RecordingMessageBackend.h"
#include "sources/ConversionStream.h"
#include "sources/WaveStream.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// Pulls buffers until the end, within limits that no small input should reach.
void Drain(AudioStream& stream)
{
    uint64_t bytes = 0;
    for (int buffers = 0; buffers < 20000 && bytes < (64u << 20); ++buffers) {
        AudioBufferRef buffer = stream.GetBuffer();
        if (buffer.IsEnd())
            return;
        bytes += buffer.GetLength();
    }
}

const std::string& InputPath()
{
    static const std::string path = "/tmp/varkonel-wavefuzz-" + std::to_string(getpid()) + ".wav";
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto quiet = [] {
        SetMessageBackend(std::make_shared<RecordingMessageBackend>());
        return true;
    }();
    (void)quiet;
    FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (file == nullptr)
        return 0;
    const size_t written = size == 0 ? 0 : std::fwrite(data, 1, size, file);
    std::fclose(file);
    if (written != size)
        return 0;

    WaveStream wave;
    if (wave.LoadWave(InputPath().c_str())) {
        wave.GetPosition();
        wave.GetLength();
        ConversionStream stage;
        stage.SetSource(&wave);
        Drain(stage);
        WAVEFORMATEX mono {WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
        stage.SetOutputFormat(&mono);
        stage.Rewind();
        Drain(stage);
        stage.Seek(1);
        stage.SkipBack(1);
        Drain(stage);
    }
    std::remove(InputPath().c_str());
    return 0;
}
