// Changes the rate of interleaved float frames with libsoxr's high-quality recipe, keeping the
// filter history from one call to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct soxr;

class AcmResampler {
public:
    // Throws std::bad_alloc when the library cannot set up the filter.
    AcmResampler(uint32_t inRate, uint32_t outRate, uint32_t channels);
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

    struct Deleter {
        void operator()(soxr* resampler) const;
    };
    std::unique_ptr<soxr, Deleter> resampler;
    uint32_t channels;
    double ratio;
};
