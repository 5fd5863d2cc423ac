// A filter stage that hands every buffer on unchanged and, on a background thread, computes
// spectra of the audio that passed: the first channel of each 16-bit buffer is cut into blocks
// of fftSize samples and each block gets a real forward FFT (FFTW 2, half-complex order). The
// newest spectra are kept, at most 51 after each trim.
//
// The analysis thread runs from SetSource until destruction and waits whenever its queue is
// empty, until a buffer is queued or it is asked to stop. One mutex guards the queue, the
// spectra and the transform set-up.
//
// A source whose format cannot be analysed (no format, 0 channels, not 16 bits per sample, or a
// buffer size below one pair of frames) gets no transform: its audio passes through and nothing
// is queued.
#pragma once

#include "analysis/Spectrum.h"
#include "analysis/WorkerThread.h"
#include "audio/AudioFilter.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

struct fftw_plan_struct; // the FFT library's plan (rfftw_plan)

class SpectrumAnalyzer final : public AudioFilter, public WorkerThread {
public:
    static constexpr const char* exceptionMessage
        = "Exception 0x01 (Access Violation) in Spectrum Analyzer, but it has been caught safely!";

    SpectrumAnalyzer();
    // Stops the analysis thread and waits for it: the object is never freed under it.
    ~SpectrumAnalyzer() override;

    WAVEFORMATEX* GetFormat() override;
    // The source's next buffer, returned as it is; a buffer with audio is also queued for analysis.
    AudioBufferRef GetBuffer() override;
    // Sizes the transform for the stream's format and buffer size, starts the analysis thread
    // if it is not running, and records the stream as the source.
    AudioFilter* SetSource(AudioStream* stream) override;

    void Run() override;

    // Thread-safe views for readers on any thread.
    std::vector<Spectrum> GetSpectra(); // newest first
    int32_t GetLastFftTicks() const { return lastFftTicks.load(std::memory_order_relaxed); }
    size_t PendingBuffers(); // queued and not yet analysed
    uint32_t GetChannels();
    uint32_t GetFramesPerBuffer();
    uint32_t GetFftSize();
    uint32_t GetBlocksPerBuffer();
    bool HasPlan();

private:
    void ReplanLocked(const WAVEFORMATEX* format, uint32_t streamBufferSize);
    void DestroyPlanLocked();
    void AnalyseLocked(const AudioBufferRef& buffer);
    void TrimLocked();
    bool AnalyseNext(bool& failed);

    std::deque<Spectrum> spectra; // newest at the front
    std::atomic<int32_t> lastFftTicks {0};
    const uint32_t spectraLimit = 52;
    std::mutex lock;
    std::deque<AudioBufferRef> analysisQueue; // newest at the front
    uint32_t channels = 2;
    uint32_t framesPerBuffer = 1;
    fftw_plan_struct* plan = nullptr;
    uint32_t fftSize = 256;
    uint32_t blocksPerBuffer = 1;
};
