// Times the WAV input path: a file read through WaveStream and converted by ConversionStream to
// 16-bit mono at 22050 Hz (the MP3 path's lowest rate). Prints the best of several runs, in
// seconds and as times realtime; with --write also the time to write the result as a WAV file
// through WaveEncoder, for a file-to-file comparison.
//
// Usage: ConversionBench in.wav [runs] [--write out.wav]
#include "encoders/WaveEncoder.h"
#include "platform/Message.h"
#include "platform/RecordingMessageBackend.h"
#include "sources/ConversionStream.h"
#include "sources/WaveStream.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double seconds = 0;
    double audioSeconds = 0;
    uint64_t bytes = 0;
};

// One pass over the file; with `output` the converted audio is written there.
bool Once(const char* input, const char* output, Run& run)
{
    const auto start = Clock::now();
    WaveStream wave;
    if (!wave.LoadWave(input))
        return false;
    ConversionStream stage;
    stage.SetSource(&wave);
    WAVEFORMATEX target {WAVE_FORMAT_PCM, 1, 22050, 44100, 2, 16, 0};
    stage.SetOutputFormat(&target);
    run.audioSeconds = wave.GetLength();
    run.bytes = 0;
    if (output != nullptr) {
        WaveEncoder encoder;
        encoder.SetSource(&stage);
        encoder.SetOutputPath(output);
        if (!encoder.Encode())
            return false;
    } else {
        for (AudioBufferRef buffer = stage.GetBuffer(); !buffer.IsEnd(); buffer = stage.GetBuffer())
            run.bytes += buffer.GetLength();
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s in.wav [runs] [--write out.wav]\n", argv[0]);
        return 2;
    }
    SetMessageBackend(std::make_shared<RecordingMessageBackend>(true)); // overwrite without asking
    const char* input = argv[1];
    int runs = 3;
    const char* output = nullptr;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--write") == 0 && i + 1 < argc)
            output = argv[++i];
        else
            runs = std::max(1, std::atoi(argv[i]));
    }
    Run best;
    best.seconds = 1e30;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (!Once(input, output, run)) {
            std::fprintf(stderr, "cannot convert %s\n", input);
            return 1;
        }
        if (run.seconds < best.seconds)
            best = run;
    }
    std::printf("%s: %.3f s for %.1f s of audio (%.0fx realtime)\n",
        output != nullptr ? "convert and write" : "convert", best.seconds, best.audioSeconds,
        best.audioSeconds / best.seconds);
    std::printf("seconds=%.6f\n", best.seconds);
    return 0;
}
