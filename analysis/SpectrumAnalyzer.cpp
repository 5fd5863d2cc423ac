#include "analysis/SpectrumAnalyzer.h"

#include "platform/Message.h"

#include <rfftw.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>

namespace {

// The FFT library keeps process-wide planner state (a shared table of twiddle factors), so
// plans are created and destroyed one at a time across all analyzers. Running a plan needs no
// such lock: each plan is used by one analysis thread, under its analyzer's own lock.
std::mutex plannerLock;

constexpr double sampleScale = 1.0 / 32767; // 16-bit sample to about -1 .. 1
// How long an idle analysis thread waits before it looks at its queue again by itself; a queued
// buffer or a stop request wakes it at once.
constexpr auto idleLimit = std::chrono::milliseconds(1000);

int16_t SampleAt(const char* data, size_t index)
{
    int16_t sample;
    std::memcpy(&sample, data + index * sizeof(int16_t), sizeof sample); // any alignment
    return sample;
}

} // namespace

SpectrumAnalyzer::SpectrumAnalyzer()
    : WorkerThread(false)
{ }

SpectrumAnalyzer::~SpectrumAnalyzer()
{
    // Queued buffers would only produce spectra that go with this object: drop them so the
    // thread sees the stop request at once instead of analysing them first.
    {
        std::lock_guard<std::mutex> hold(lock);
        analysisQueue.clear();
    }
    // The members below are what the thread works on, so they must not go while it runs. Our
    // loop ends within one buffer's analysis once the queue is empty; the wait goes past the
    // usual bound only while that thread is held up, e.g. by an open message box.
    while (!Stop(true)) { }
    std::lock_guard<std::mutex> hold(lock);
    DestroyPlanLocked();
}

WAVEFORMATEX* SpectrumAnalyzer::GetFormat()
{
    return source ? source->GetFormat() : nullptr;
}

AudioBufferRef SpectrumAnalyzer::GetBuffer()
{
    if (source == nullptr)
        return AudioBufferRef::MakeEmpty();
    AudioBufferRef buffer = source->GetBuffer();
    if (!buffer.IsEnd()) {
        try {
            bool queued = false;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (plan != nullptr) {
                    analysisQueue.push_front(buffer);
                    queued = true;
                }
            }
            if (queued)
                Nudge();
        } catch (...) {
            // No memory to queue it: this buffer goes unanalysed, its audio still goes on.
        }
    }
    return buffer;
}

AudioFilter* SpectrumAnalyzer::SetSource(AudioStream* stream)
{
    try {
        {
            std::lock_guard<std::mutex> hold(lock);
            DestroyPlanLocked();
            if (stream != nullptr)
                ReplanLocked(stream->GetFormat(), stream->bufferSize);
        }
        if (!IsRunning())
            Start();
    } catch (...) {
        ShowMessage("Exception in SpectrumAnalyzer::SetSource!");
    }
    return AudioFilter::SetSource(stream);
}

void SpectrumAnalyzer::Run()
{
    while (!StopRequested()) {
        bool failed = false;
        while (AnalyseNext(failed)) {
            if (failed) {
                // Shown without holding the lock, so the stream's consumer is not held up while
                // the message is open.
                try {
                    ShowMessage(exceptionMessage);
                } catch (...) { }
                failed = false;
            }
        }
        Doze(idleLimit);
    }
}

std::vector<Spectrum> SpectrumAnalyzer::GetSpectra()
{
    std::lock_guard<std::mutex> hold(lock);
    return std::vector<Spectrum>(spectra.begin(), spectra.end());
}

size_t SpectrumAnalyzer::PendingBuffers()
{
    std::lock_guard<std::mutex> hold(lock);
    return analysisQueue.size();
}

uint32_t SpectrumAnalyzer::GetChannels()
{
    std::lock_guard<std::mutex> hold(lock);
    return channels;
}

uint32_t SpectrumAnalyzer::GetFramesPerBuffer()
{
    std::lock_guard<std::mutex> hold(lock);
    return framesPerBuffer;
}

uint32_t SpectrumAnalyzer::GetFftSize()
{
    std::lock_guard<std::mutex> hold(lock);
    return fftSize;
}

uint32_t SpectrumAnalyzer::GetBlocksPerBuffer()
{
    std::lock_guard<std::mutex> hold(lock);
    return blocksPerBuffer;
}

bool SpectrumAnalyzer::HasPlan()
{
    std::lock_guard<std::mutex> hold(lock);
    return plan != nullptr;
}

void SpectrumAnalyzer::ReplanLocked(const WAVEFORMATEX* format, uint32_t streamBufferSize)
{
    channels = format != nullptr ? format->nChannels : 0;
    const uint32_t c = channels == 0 ? 0 : ((streamBufferSize / channels) / 4) * 2;
    framesPerBuffer = c;
    // Samples are read as 16-bit values; anything else, or no whole pair of frames per buffer,
    // is passed through without analysis.
    if (c == 0 || format->wBitsPerSample != 16)
        return;

    if (fftSize >= c) {
        fftSize = c;
    } else {
        // The first divisor of c from c / 256 up, so blocks are about 256 frames and tile the
        // buffer exactly. The search starts at 1 at the least: c / 256 is 0 when c < 256.
        for (uint32_t i = std::max<uint32_t>(1, c / 256); i < 1024; ++i) {
            if (c % i == 0) {
                blocksPerBuffer = i;
                fftSize = c / i;
                break;
            }
        }
    }

    std::lock_guard<std::mutex> planning(plannerLock);
    plan = rfftw_create_plan(static_cast<int>(fftSize), FFTW_REAL_TO_COMPLEX, FFTW_ESTIMATE);
}

void SpectrumAnalyzer::DestroyPlanLocked()
{
    if (plan == nullptr)
        return;
    std::lock_guard<std::mutex> planning(plannerLock);
    rfftw_destroy_plan(plan);
    plan = nullptr;
}

bool SpectrumAnalyzer::AnalyseNext(bool& failed)
{
    std::optional<AudioBufferRef> buffer; // released after the lock, as the last step
    std::lock_guard<std::mutex> hold(lock);
    if (analysisQueue.empty())
        return false;
    buffer.emplace(analysisQueue.back());
    analysisQueue.pop_back();
    if (!buffer->IsEnd()) {
        try {
            AnalyseLocked(*buffer);
        } catch (...) {
            failed = true; // the rest of this buffer is skipped; the spectra so far are kept
        }
        TrimLocked();
    }
    return true;
}

void SpectrumAnalyzer::AnalyseLocked(const AudioBufferRef& buffer)
{
    if (plan == nullptr || channels == 0)
        return;
    const uint32_t frames = (buffer.GetLength() / channels) / 2;
    const uint32_t blocks = frames / fftSize;
    // n - 1 whole blocks are transformed (the last whole block and the remainder are left
    // out), so fewer than two blocks give no spectrum.
    if (blocks < 2)
        return;

    // One value per frame: the first channel's sample of each frame.
    Spectrum input = Spectrum::Create(frames);
    const char* data = buffer.GetData();
    for (uint32_t k = 0; k < frames; ++k)
        input[k] = SampleAt(data, static_cast<size_t>(k) * channels) * sampleScale;

    for (uint32_t b = 0; b < blocks - 1; ++b) {
        Spectrum spectrum = Spectrum::Create(fftSize + 1); // the last value stays 0
        const std::clock_t before = std::clock();
        rfftw_one(plan, input.Data() + static_cast<size_t>(b) * fftSize, spectrum.Data());
        lastFftTicks.store(static_cast<int32_t>(std::clock() - before), std::memory_order_relaxed);
        spectra.push_front(spectrum);
    }
}

void SpectrumAnalyzer::TrimLocked()
{
    while (spectra.size() >= spectraLimit)
        spectra.pop_back();
}
