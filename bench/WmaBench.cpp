// Decodes a compressed file through WmaStream to the end and reports the time taken and the
// speed as a multiple of real time. Usage: WmaBench <file> [runs]; prints the best run.
#include "sources/WmaStream.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <file> [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    double best = -1.0;
    double audioSeconds = 0.0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        WmaStream stream;
        if (FAILED(stream.Load(argv[1]))) {
            std::fprintf(stderr, "cannot load %s\n", argv[1]);
            return 1;
        }
        uint64_t bytes = 0;
        for (;;) {
            AudioBufferRef buffer = stream.GetBuffer();
            if (buffer.IsEnd())
                break;
            bytes += buffer.GetLength();
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        audioSeconds = static_cast<double>(bytes) / stream.GetFormat()->nAvgBytesPerSec;
        if (best < 0.0 || elapsed < best)
            best = elapsed;
    }
    std::printf("WmaStream: %.1f s of audio in %.3f s (%.0fx realtime)\n", audioSeconds, best, audioSeconds / best);
    std::printf("seconds=%.6f\n", best);
    return 0;
}
