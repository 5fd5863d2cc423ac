// Varkonel's program. Until the window arrives it shows the engine at work: it writes a
// generated test tone as a WAV file in the current folder and says where the file went.
#include "encoders/WaveEncoder.h"
#include "engine/ToneStream.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

int main()
{
    const std::filesystem::path target = std::filesystem::absolute("varkonel-test-tone.wav");
    std::error_code ignored;
    std::filesystem::remove(target, ignored); // our own file from an earlier run

    ToneStream tone(44100, 2, 440.0, 3.0);
    WaveEncoder encoder;
    encoder.SetSource(&tone);
    encoder.SetOutputPath(target.c_str());
    if (!encoder.Encode()) {
        std::fprintf(stderr, "varkonel: could not write %s\n", target.c_str());
        return 1;
    }
    std::printf("Wrote a 3-second 440 Hz test tone (44100 Hz, 16-bit stereo WAV) to:\n  %s\n", target.c_str());
    return 0;
}
