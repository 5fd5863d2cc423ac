#include "platform/acm/AcmResampler.h"

#include <soxr.h>

#include <cmath>
#include <stdexcept>

void AcmResampler::Deleter::operator()(soxr* resampler) const
{
    soxr_delete(resampler);
}

AcmResampler::AcmResampler(uint32_t inRate, uint32_t outRate, uint32_t channels)
    : channels(channels)
    , ratio(static_cast<double>(outRate) / inRate)
{
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1); // no threads of its own
    soxr_error_t error = nullptr;
    resampler.reset(soxr_create(inRate, outRate, channels, &error, &io, &quality, &runtime));
    if (error != nullptr || !resampler)
        throw std::runtime_error("resampler failed");
}

AcmResampler::~AcmResampler() = default;

void AcmResampler::Run(const float* in, size_t frames, std::vector<float>& out)
{
    size_t consumed = 0;
    for (;;) {
        // Room for the output of the remaining input plus what the filter holds.
        const size_t room = static_cast<size_t>(std::ceil((frames - consumed) * ratio + Delay())) + 256;
        const size_t start = out.size();
        out.resize(start + room * channels);
        size_t used = 0, produced = 0;
        const float* from = in != nullptr ? in + consumed * channels : nullptr;
        const soxr_error_t error = soxr_process(
            resampler.get(), from, frames - consumed, &used, out.data() + start, room, &produced);
        out.resize(start + produced * channels);
        if (error != nullptr)
            throw std::runtime_error("resampler failed");
        consumed += used;
        if (in != nullptr ? (consumed >= frames && produced < room) : produced == 0)
            return;
    }
}

void AcmResampler::Process(const float* in, size_t frames, std::vector<float>& out)
{
    if (frames != 0)
        Run(in, frames, out);
}

void AcmResampler::Flush(std::vector<float>& out)
{
    Run(nullptr, 0, out);
    Reset();
}

void AcmResampler::Reset()
{
    soxr_clear(resampler.get());
}

double AcmResampler::Delay() const
{
    return soxr_delay(resampler.get());
}
