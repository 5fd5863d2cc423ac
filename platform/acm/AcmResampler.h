// Changes the rate of interleaved float frames with libsoxr, keeping the filter history from one
// call to the next. The filter is made for the precision of the output: libsoxr's high-quality
// recipe (20 bits) for 16-bit output, its 24-bit recipe (computed in double precision) for
// 24-bit output.
//
// Designing the filter is most of the cost of a short conversion, and libsoxr designs it anew
// each time it is cleared: so a resampler is cleared only when it holds something, and one that
// goes away leaves its filter, cleared, to the next one made for the same rates and channel
// count (a batch converts file after file at the same rates; a few filters are kept, the most
// recently left first). Any thread may make and drop resamplers; each one is used by one thread
// at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct soxr;

class AcmResampler {
public:
    struct Deleter {
        void operator()(soxr* resampler) const;
    };
    // What a filter is made for: it serves another resampler with the same four.
    struct Shape {
        uint32_t inRate;
        uint32_t outRate;
        uint32_t channels;
        uint32_t outputBits;
        bool operator==(const Shape& other) const
        {
            return inRate == other.inRate && outRate == other.outRate && channels == other.channels
                && outputBits == other.outputBits;
        }
    };

    // `outputBits`: the bits per sample the output is rounded to afterwards (16 or 24). Throws
    // std::bad_alloc when the library cannot set up the filter.
    AcmResampler(uint32_t inRate, uint32_t outRate, uint32_t channels, uint32_t outputBits = 16);
    ~AcmResampler();
    AcmResampler(const AcmResampler&) = delete;
    AcmResampler& operator=(const AcmResampler&) = delete;

    // Appends the output for `frames` more input frames.
    void Process(const float* in, size_t frames, std::vector<float>& out);
    // End of input: appends the filter's tail, then is ready for a fresh signal.
    void Flush(std::vector<float>& out);
    // Drops the history: ready for a fresh signal.
    void Reset();
    // Output frames the filter holds now (delivered by later input or Flush).
    double Delay() const;

private:
    void Run(const float* in, size_t frames, std::vector<float>& out);

    void Clear();

    std::unique_ptr<soxr, Deleter> resampler;
    bool fresh = true; // nothing has gone in since the filter was made or cleared
    Shape shape;
    uint32_t channels;
    double ratio;
};
