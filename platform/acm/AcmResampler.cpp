#include "platform/acm/AcmResampler.h"

#include <soxr.h>

#include <cmath>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace {

using Filter = std::unique_ptr<soxr, AcmResampler::Deleter>;

// Filters of resampled conversions that have ended, cleared, for the next conversion at the same
// rates. The oldest is dropped when more than kKept wait.
class IdleFilters {
public:
    static IdleFilters& Instance()
    {
        static IdleFilters filters;
        return filters;
    }

    Filter Take(const AcmResampler::Shape& shape)
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto it = idle.begin(); it != idle.end(); ++it) {
            if (it->first == shape) {
                Filter filter = std::move(it->second);
                idle.erase(it);
                return filter;
            }
        }
        return nullptr;
    }

    void Keep(const AcmResampler::Shape& shape, Filter filter)
    {
        Filter dropped;
        std::lock_guard<std::mutex> guard(lock);
        idle.emplace_front(shape, std::move(filter));
        if (idle.size() > kKept) {
            dropped = std::move(idle.back().second);
            idle.pop_back();
        }
    }

private:
    static constexpr size_t kKept = 8;
    std::mutex lock;
    std::deque<std::pair<AcmResampler::Shape, Filter>> idle; // the most recently kept first
};

} // namespace

void AcmResampler::Deleter::operator()(soxr* resampler) const
{
    soxr_delete(resampler);
}

AcmResampler::AcmResampler(uint32_t inRate, uint32_t outRate, uint32_t channels, uint32_t outputBits)
    : shape {inRate, outRate, channels, outputBits}
    , channels(channels)
    , ratio(static_cast<double>(outRate) / inRate)
{
    resampler = IdleFilters::Instance().Take(shape);
    if (resampler)
        return;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(outputBits > 16 ? SOXR_24_BITQ : SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1); // no threads of its own
    soxr_error_t error = nullptr;
    resampler.reset(soxr_create(inRate, outRate, channels, &error, &io, &quality, &runtime));
    if (error != nullptr || !resampler)
        throw std::runtime_error("resampler failed");
}

AcmResampler::~AcmResampler()
{
    if (!resampler)
        return;
    try {
        Clear();
        IdleFilters::Instance().Keep(shape, std::move(resampler));
    } catch (...) {
        // The filter cannot be kept: it is simply freed.
    }
}

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
    if (frames == 0)
        return;
    fresh = false;
    Run(in, frames, out);
}

void AcmResampler::Flush(std::vector<float>& out)
{
    if (fresh)
        return; // nothing went in: no tail
    Run(nullptr, 0, out);
    Reset();
}

void AcmResampler::Reset()
{
    Clear();
}

void AcmResampler::Clear()
{
    if (fresh)
        return;
    if (soxr_clear(resampler.get()) != nullptr)
        throw std::runtime_error("resampler failed");
    fresh = true;
}

double AcmResampler::Delay() const
{
    return soxr_delay(resampler.get());
}
