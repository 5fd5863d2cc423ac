// Arbitrary bytes as a WAV file through WaveStream and ConversionStream: loading, converting to
// 16-bit PCM at the file's rate, then to mono at 22050 Hz after a rewind. Nothing may crash,
// hang or read out of bounds; failures must be clean.
//
// For linear formats the first conversion must also last as long as GetLength announced (see
// CheckLength); a mismatch aborts, so that the fuzzer reports the input.
//
// Each input is kept cheap: the runner caps its size, and no pass pulls more than a bounded
// amount of audio (a few seconds at the highest rates), so that a small file declaring a tiny
// rate resampled to 22050 Hz cannot take the fuzzer's time.
#include "fuzz/MediaModuleRequired.h"
#include "platform/Message.h"
#include "platform/RecordingMessageBackend.h"
#include "platform/acm/Acm.h"
#include "platform/acm/AcmFormat.h"
#include "sources/ConversionStream.h"
#include "sources/WaveStream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// The most a pass pulls: at the file's own rate, far more than a capped input gives (so that
// its length is checked in full); resampled, a few seconds.
constexpr uint64_t kOwnRateLimit = 1u << 20;
constexpr uint64_t kResampledLimit = 256u << 10;

// Pulls buffers until the end, within limits. Returns the bytes delivered, or -1 when a limit
// stopped it before the end.
int64_t Drain(AudioStream& stream, uint64_t limit)
{
    uint64_t bytes = 0;
    for (int buffers = 0; buffers < 2000 && bytes < limit; ++buffers) {
        AudioBufferRef buffer = stream.GetBuffer();
        if (buffer.IsEnd())
            return static_cast<int64_t>(bytes);
        bytes += buffer.GetLength();
    }
    return -1;
}

// True when GetLength is exact for the source's format: PCM or IEEE float (an extensible record
// of either included) whose byte rate is its sample rate times its block size. Compressed
// formats' lengths are estimates from their average byte rate, and a linear format that declares
// another byte rate plays at its sample rate, not at the rate its length is measured by.
bool LengthIsExact(const WAVEFORMATEX& format)
{
    DWORD capacity = 0;
    if (acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &capacity) != MMSYSERR_NOERROR)
        return false;
    const auto described = AcmFormat::Source(format, capacity);
    return described && described->coding != AcmCoding::Codec
        && uint64_t {format.nAvgBytesPerSec} == uint64_t {format.nSamplesPerSec} * format.nBlockAlign;
}

// Compares the duration of `outputBytes` converted at the source's own rate with the length
// the source announced. The stage turns each whole source block into one output frame and drops
// a trailing piece of a block, so the output may fall short of the length by less than one
// block's duration and never exceed it; 1 microsecond covers the rounding of the two divisions.
void CheckLength(WaveStream& wave, const WAVEFORMATEX& output, int64_t outputBytes)
{
    const WAVEFORMATEX& source = *wave.GetFormat();
    if (outputBytes < 0 || !LengthIsExact(source) || output.nSamplesPerSec != source.nSamplesPerSec
        || output.nBlockAlign == 0)
        return;
    const double seconds = static_cast<double>(outputBytes) / output.nBlockAlign / output.nSamplesPerSec;
    const double length = wave.GetLength();
    const double block = 1.0 / source.nSamplesPerSec;
    constexpr double kRounding = 1e-6;
    if (seconds > length + kRounding || seconds < length - block - kRounding) {
        std::fprintf(stderr, "converted %.9f s, but GetLength announced %.9f s (one block is %.9f s)\n",
            seconds, length, block);
        std::abort();
    }
}

// The file each input is written to. It stays from one input to the next, since making and
// deleting a file costs more than reading a small one, and goes when the process ends.
class InputFile {
public:
    InputFile()
        : path((std::filesystem::temp_directory_path()
            / ("varkonel-wavefuzz-" + std::to_string(getpid()) + ".wav"))
                   .string())
    { }
    ~InputFile() { std::remove(path.c_str()); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    const std::string path;
};

const std::string& InputPath()
{
    static const InputFile file;
    return file.path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto quiet = [] {
        auto recorder = std::make_shared<RecordingMessageBackend>();
        SetMessageBackend(recorder);
        return recorder;
    }();
    quiet->Clear(); // the messages of earlier inputs would pile up
    RequireMediaModule();
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
        const WAVEFORMATEX output = *stage.GetFormat();
        const int64_t converted = Drain(stage, kOwnRateLimit);
        if (stage.acmStream != nullptr)
            CheckLength(wave, output, converted);
        WAVEFORMATEX mono {WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
        stage.SetOutputFormat(&mono);
        stage.Rewind();
        Drain(stage, kResampledLimit);
        stage.Seek(1);
        stage.SkipBack(1);
        Drain(stage, kResampledLimit);
    }
    return 0;
}
