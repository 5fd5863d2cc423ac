// Times the whole conversion pipeline as a job runs it: WAV file -> Mixer (WaveStream,
// ConversionStream, analysis) -> Mp3Encoder -> MP3 file, at the output rate of a bitrate
// setting. Prints the wall time, the speed as a multiple of real time and the peak memory.
//
// Usage: PipelineBench <input.wav> <output rate> <output.mp3>
#include "encoders/Mp3Encoder.h"
#include "engine/Mixer.h"
#include "sources/WaveStream.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <input.wav> <output rate> <output.mp3>\n", argv[0]);
        return 2;
    }
    const double rate = std::strtod(argv[2], nullptr);
    std::remove(argv[3]); // no overwrite question
    const auto start = std::chrono::steady_clock::now();
    auto mixer = std::make_unique<Mixer>();
    mixer->outputRate = rate;
    mixer->calcoutputformat();
    AudioStream* source = mixer->LoadWave(argv[1]);
    if (source == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    const double audio = source->GetLength();
    auto encoder = std::make_unique<Mp3Encoder>();
    encoder->SetSource(mixer.get());
    encoder->SetOutputPath(argv[3]);
    const bool done = encoder->Encode();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.3f s for %.1f s of audio (%.1fx real time), peak memory %.1f MB\n", seconds, audio,
        audio / seconds, static_cast<double>(usage.ru_maxrss) / 1024.0);
    return done ? 0 : 1;
}
