#include "analysis/SpectrumAnalyzer.h"
#include "audio/ToneStream.h"
#include "platform/Heap.h"
#include "platform/Message.h"
#include "platform/MessageBackend.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using testing_support::PcmFormat;

namespace {

bool WaitFor(const std::function<bool()>& condition)
{
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Buffers are taken from the queue and analysed under one hold of the analyzer's lock, so an
// empty queue means everything handed out so far has been analysed.
bool WaitAnalysed(SpectrumAnalyzer& analyzer)
{
    return WaitFor([&] { return analyzer.PendingBuffers() == 0; });
}

std::vector<uint8_t> Bytes(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

// `frames` frames of `channels` samples; the first channel from `first`, the others from `rest`.
std::vector<uint8_t> Frames(uint32_t frames, uint16_t channels, const std::function<int16_t(uint32_t)>& first,
    const std::function<int16_t(uint32_t)>& rest)
{
    std::vector<int16_t> samples;
    for (uint32_t k = 0; k < frames; ++k)
        for (uint16_t c = 0; c < channels; ++c)
            samples.push_back(c == 0 ? first(k) : rest(k));
    return Bytes(samples);
}

std::function<int16_t(uint32_t)> Level(int16_t value)
{
    return [value](uint32_t) { return value; };
}

std::function<int16_t(uint32_t)> Noise(unsigned seed)
{
    auto random = std::make_shared<std::mt19937>(seed);
    return [random](uint32_t) { return static_cast<int16_t>((*random)() % 60000 - 30000); };
}

// A source with a given format and buffer size that keeps a handle on everything it hands out.
class KeepingStream : public testing_support::ScriptedStream {
public:
    KeepingStream(
        uint16_t channels, uint32_t size, std::vector<std::vector<uint8_t>> blocks = {}, uint16_t bits = 16)
        : ScriptedStream(PcmFormat(channels, 44100, bits), std::move(blocks))
    {
        bufferSize = size;
    }
    AudioBufferRef GetBuffer() override
    {
        handedOut.push_back(ScriptedStream::GetBuffer());
        return handedOut.back();
    }
    std::vector<AudioBufferRef> handedOut;
};

void Drain(SpectrumAnalyzer& analyzer)
{
    while (!analyzer.GetBuffer().IsEnd()) { }
    ASSERT_TRUE(WaitAnalysed(analyzer));
}

TEST(SpectrumAnalyzerThreads, SizesTheTransformFromTheSourceBuffer)
{
    struct {
        uint16_t channels;
        uint32_t bufferSize, frames, fftSize, blocks;
    } const cases[] = {
        {2, 4096, 1024, 256, 4}, // a stereo conversion stage
        {1, 4096, 2048, 256, 8}, // a mono one
        {1, 8820, 4410, 245, 18}, // the mixer's tenth of a second at 44100 Hz
        {2, 1200, 300, 300, 1}, // the search starts at 1, which divides 300
    };
    for (const auto& expected : cases) {
        SCOPED_TRACE(expected.bufferSize);
        KeepingStream stream(expected.channels, expected.bufferSize);
        SpectrumAnalyzer analyzer;
        EXPECT_EQ(analyzer.SetSource(&stream), &analyzer);
        EXPECT_EQ(analyzer.GetFormat(), stream.GetFormat());
        EXPECT_EQ(analyzer.GetFramesPerBuffer(), expected.frames);
        EXPECT_EQ(analyzer.GetFftSize(), expected.fftSize);
        EXPECT_EQ(analyzer.GetBlocksPerBuffer(), expected.blocks);
        EXPECT_TRUE(analyzer.HasPlan());
        EXPECT_TRUE(analyzer.IsRunning());
    }

    // c = 100, then c = 200: the divisor search must not start at 200 / 256 = 0.
    KeepingStream small(1, 200), larger(1, 400);
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&small);
    EXPECT_EQ(analyzer.GetFftSize(), 100u);
    analyzer.SetSource(&larger);
    EXPECT_EQ(analyzer.GetFftSize(), 200u);
    EXPECT_EQ(analyzer.GetBlocksPerBuffer(), 1u);
}

class NoFormatStream : public KeepingStream {
public:
    using KeepingStream::KeepingStream;
    WAVEFORMATEX* GetFormat() override { return nullptr; }
};

TEST(SpectrumAnalyzerThreads, PassesEveryBufferThroughUnchanged)
{
    const auto blocks = testing_support::CountingBlocks(4, 4096, 7);
    std::vector<std::unique_ptr<KeepingStream>> streams;
    streams.push_back(std::make_unique<KeepingStream>(2, 4096, blocks)); // analysed
    streams.push_back(std::make_unique<KeepingStream>(0, 4096, blocks)); // no channels
    streams.push_back(std::make_unique<KeepingStream>(1, 2, blocks)); // c = 0
    streams.push_back(std::make_unique<KeepingStream>(1, 4096, blocks, 8)); // not 16-bit
    streams.push_back(std::make_unique<NoFormatStream>(1, 4096, blocks)); // no format
    for (auto& stream : streams) {
        SpectrumAnalyzer analyzer;
        analyzer.SetSource(stream.get());
        EXPECT_EQ(analyzer.HasPlan(), stream == streams.front());
        for (size_t i = 0; i <= blocks.size(); ++i) {
            AudioBufferRef buffer = analyzer.GetBuffer();
            ASSERT_TRUE(buffer.SharesBodyWith(stream->handedOut[i]));
            if (i < blocks.size()) {
                ASSERT_EQ(std::memcmp(buffer.GetData(), blocks[i].data(), 4096), 0);
            }
        }
        EXPECT_TRUE(stream->handedOut.back().IsEnd());
        ASSERT_TRUE(WaitAnalysed(analyzer));
        EXPECT_EQ(analyzer.GetSpectra().size(), stream == streams.front() ? 12u : 0u);
        for (size_t i = 0; i < blocks.size(); ++i) // the analysis only read the bytes
            EXPECT_EQ(std::memcmp(stream->handedOut[i].GetData(), blocks[i].data(), 4096), 0);
    }

    SpectrumAnalyzer unattached;
    EXPECT_EQ(unattached.GetFormat(), nullptr);
    EXPECT_TRUE(unattached.GetBuffer().IsEnd());
}

TEST(SpectrumAnalyzerThreads, TransformsAllButTheLastWholeBlockOfTheFirstChannel)
{
    // 4410 stereo frames, fftSize 256: 17 whole blocks, 16 transformed. The left channel is
    // silent except in frames 4096 .. 4409, which are left out; the right one is noise. Every
    // spectrum must be exactly zero.
    auto tailOnly = [](uint32_t k) { return static_cast<int16_t>(k >= 4096 ? 20000 : 0); };
    KeepingStream stream(2, 4096,
        {Frames(4410, 2, tailOnly, Noise(1)), Frames(511, 2, Noise(2), Noise(3)),
            Frames(512, 2, Noise(4), Noise(5)), Frames(100, 2, Noise(6), Noise(7))});
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);
    const size_t expectedCounts[] = {16, 16, 17, 17}; // 511 and 100 frames give nothing
    for (size_t count : expectedCounts) {
        analyzer.GetBuffer();
        ASSERT_TRUE(WaitAnalysed(analyzer));
        ASSERT_EQ(analyzer.GetSpectra().size(), count);
    }
    const auto spectra = analyzer.GetSpectra();
    EXPECT_NE(spectra.front()[0], 0.0); // the 512-frame buffer's left channel has sound
    for (size_t s = 1; s < spectra.size(); ++s) {
        ASSERT_EQ(spectra[s].Length(), 257u);
        for (uint32_t i = 0; i < 257; ++i)
            ASSERT_EQ(spectra[s][i], 0.0);
    }

    // Three channels: 4096-byte buffers give c = 682 and fftSize 341; only the first channel
    // (a constant) may show, as the first value.
    KeepingStream wide(3, 4096, {Frames(3 * 341, 3, Level(100), Noise(8))});
    SpectrumAnalyzer wideAnalyzer;
    wideAnalyzer.SetSource(&wide);
    ASSERT_EQ(wideAnalyzer.GetFftSize(), 341u);
    Drain(wideAnalyzer);
    ASSERT_EQ(wideAnalyzer.GetSpectra().size(), 2u);
    for (const Spectrum& spectrum : wideAnalyzer.GetSpectra())
        for (uint32_t k = 0; k < spectrum.Length(); ++k)
            ASSERT_NEAR(spectrum[k], k == 0 ? 341 * 100 / 32767.0 : 0.0, 1e-9) << k;
}

TEST(SpectrumAnalyzerThreads, MonoSpectraMatchADirectTransform)
{
    // Three blocks of random samples, full scale included; the first two are transformed.
    std::vector<int16_t> samples(3 * 256);
    std::mt19937 random(11);
    for (auto& sample : samples)
        sample = static_cast<int16_t>(static_cast<int32_t>(random() % 65536) - 32768);
    samples[3] = 32767;
    samples[4] = -32768;
    KeepingStream stream(1, 4096, {Bytes(samples)});
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);
    Drain(analyzer);
    const auto spectra = analyzer.GetSpectra();
    ASSERT_EQ(spectra.size(), 2u);

    // X(k) = sum x(j) e^(-2 pi i j k / N) of the values sample / 32767, in half-complex order:
    // r0 .. r128 at 0 .. 128, i(k) at 256 - k; the extra last value stays 0.
    for (int block = 0; block < 2; ++block) {
        const Spectrum& actual = spectra[1 - block]; // newest first
        for (int k = 0; k <= 128; ++k) {
            double re = 0, im = 0;
            for (int j = 0; j < 256; ++j) {
                const double x = samples[block * 256 + j] / 32767.0;
                const double angle = 2 * std::numbers::pi * (j * k % 256) / 256.0;
                re += x * std::cos(angle);
                im -= x * std::sin(angle);
            }
            ASSERT_NEAR(actual[k], re, 1e-9) << "block " << block << " r" << k;
            if (k > 0 && k < 128) {
                ASSERT_NEAR(actual[256 - k], im, 1e-9) << "block " << block << " i" << k;
            }
        }
        EXPECT_EQ(actual[256], 0.0);
    }
}

TEST(SpectrumAnalyzerThreads, ASinePeaksAtItsBin)
{
    // The mixer's format: mono 44100 Hz in tenths of a second, so fftSize is 245 and a bin is
    // 180 Hz wide. A 3600 Hz tone falls on bin 20 with magnitude amplitude × N / 2.
    ToneStream tone(44100, 1, 3600.0, 0.5, 0.5);
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&tone);
    ASSERT_EQ(analyzer.GetFftSize(), 245u);
    Drain(analyzer);
    const auto spectra = analyzer.GetSpectra();
    ASSERT_EQ(spectra.size(), 51u); // 5 buffers of 17 spectra, trimmed
    for (const Spectrum& spectrum : spectra) {
        uint32_t peak = 0;
        double peakMagnitude = 0;
        for (uint32_t k = 1; k <= 122; ++k) {
            const double magnitude = std::hypot(spectrum[k], spectrum[245 - k]);
            if (magnitude > peakMagnitude) {
                peakMagnitude = magnitude;
                peak = k;
            }
        }
        EXPECT_EQ(peak, 20u);
        EXPECT_NEAR(peakMagnitude, 0.5 * 245 / 2, 0.5);
    }
}

TEST(SpectrumAnalyzerThreads, KeepsTheNewest51Spectra)
{
    // 40 buffers of three blocks at a level of their own: two spectra each, and the level
    // reads back from the first value (256 × level / 32767).
    std::vector<std::vector<uint8_t>> blocks;
    for (int i = 1; i <= 40; ++i)
        blocks.push_back(Frames(3 * 256, 1, Level(static_cast<int16_t>(100 * i)), Level(0)));
    KeepingStream stream(1, 4096, blocks);
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);

    std::atomic<bool> done {false};
    std::atomic<size_t> mostSeen {0};
    std::thread reader([&] { // reads while the analysis runs
        while (!done) {
            mostSeen = std::max(mostSeen.load(), analyzer.GetSpectra().size());
            std::this_thread::sleep_for(100us);
        }
    });
    Drain(analyzer);
    done = true;
    reader.join();

    const auto spectra = analyzer.GetSpectra();
    ASSERT_EQ(spectra.size(), 51u);
    EXPECT_LE(mostSeen.load(), 51u);
    auto level = [](const Spectrum& spectrum) { return std::lround(spectrum[0] * 32767 / 256); };
    EXPECT_EQ(level(spectra[0]), 4000); // the newest buffer first
    EXPECT_EQ(level(spectra[2]), 3900);
    EXPECT_EQ(level(spectra[50]), 1500); // the second spectrum of the 15th buffer
}

TEST(SpectrumAnalyzerThreads, AFailedAnalysisIsReportedAndTheStageGoesOn)
{
    testing_support::ScopedMessages messages;
    KeepingStream stream(
        1, 4096, {Frames(4 * 256, 1, Noise(1), Level(0)), Frames(4 * 256, 1, Noise(2), Level(0))});
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);
    HeapFailAfter(3); // the stream's copy, the input values and one spectrum; the second fails
    EXPECT_EQ(analyzer.GetBuffer().GetLength(), 2048u);
    ASSERT_TRUE(WaitFor([&] { return !messages->Texts().empty(); }));
    HeapFailNever();
    EXPECT_EQ(messages->Texts(),
        std::vector<std::string> {"Exception 0x01 (Access Violation) in Spectrum Analyzer, but it has been "
                                  "caught safely!"});
    EXPECT_EQ(analyzer.GetSpectra().size(), 1u); // the rest of that buffer is skipped

    analyzer.GetBuffer();
    ASSERT_TRUE(WaitAnalysed(analyzer));
    EXPECT_EQ(analyzer.GetSpectra().size(), 4u);
    EXPECT_EQ(messages->Texts().size(), 1u);
}

// A message box that stays open until the test closes it.
class HeldMessages : public MessageBackend {
public:
    void Show(const std::string&, const std::string&) override
    {
        std::unique_lock<std::mutex> hold(lock);
        shown = true;
        changed.wait(hold, [&] { return closed; });
    }
    bool AskYesNo(const std::string&, const std::string&) override { return false; }
    void Close()
    {
        std::lock_guard<std::mutex> hold(lock);
        closed = true;
        changed.notify_all();
    }
    bool Shown()
    {
        std::lock_guard<std::mutex> hold(lock);
        return shown;
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    bool shown = false, closed = false;
};

TEST(SpectrumAnalyzerThreads, DestructionWaitsForAnAnalysisThreadThatIsHeldUp)
{
    auto held = std::make_shared<HeldMessages>();
    auto previous = SetMessageBackend(held);
    KeepingStream stream(1, 4096, {Frames(4 * 256, 1, Level(5), Level(0))});
    auto analyzer = std::make_unique<SpectrumAnalyzer>();
    analyzer->SetStopWait(3, 5ms); // instead of 10 s
    analyzer->SetSource(&stream);
    HeapFailAfter(2); // the stream's copy and the input values; the first spectrum fails
    analyzer->GetBuffer();
    ASSERT_TRUE(WaitFor([&] { return held->Shown(); }));
    HeapFailNever();

    // The analysis thread sits in the open message box: the analyzer must not be freed under
    // it, even after its bounded wait has run out.
    std::atomic<bool> destroyed {false};
    std::thread owner([&] {
        analyzer.reset();
        destroyed = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(destroyed);
    held->Close();
    owner.join();
    EXPECT_TRUE(destroyed);
    SetMessageBackend(previous);
}

TEST(SpectrumAnalyzerThreads, DestructionWithBuffersStillQueuedReleasesThem)
{
    std::vector<std::vector<uint8_t>> blocks(200, Frames(4410, 2, Noise(1), Level(0)));
    KeepingStream stream(2, 4096, blocks);
    auto analyzer = std::make_unique<SpectrumAnalyzer>();
    analyzer->SetSource(&stream);
    std::vector<AudioBufferRef> received;
    for (int i = 0; i < 200; ++i)
        received.push_back(analyzer->GetBuffer());
    const auto start = std::chrono::steady_clock::now();
    analyzer.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    for (const AudioBufferRef& buffer : received)
        ASSERT_EQ(buffer.RefCount(), 2); // ours and the stream's: the queue's are gone
}

TEST(SpectrumAnalyzerThreads, StopsAndRestarts)
{
    KeepingStream first(1, 4096, {Frames(3 * 256, 1, Level(50), Level(0))});
    KeepingStream second(2, 4096, {Frames(3 * 256, 2, Level(70), Noise(1))});
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&first);
    EXPECT_TRUE(analyzer.Stop(false));
    EXPECT_TRUE(WaitFor([&] { return analyzer.State() == 0; }));
    analyzer.SetSource(&second); // starts the thread again
    EXPECT_TRUE(analyzer.IsRunning());
    const uint32_t oldId = analyzer.State();
    ASSERT_TRUE(analyzer.Start()); // on a running analyzer: a new thread that analyses as well
    EXPECT_NE(analyzer.State(), oldId);
    Drain(analyzer);
    ASSERT_EQ(analyzer.GetSpectra().size(), 2u);
    EXPECT_NEAR(analyzer.GetSpectra().front()[0], 256 * 70 / 32767.0, 1e-9);
    // The thread now waits for work; a stop request wakes it at once, not at its next look.
    const auto stopping = std::chrono::steady_clock::now();
    EXPECT_TRUE(analyzer.Stop(true));
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 500ms);
    EXPECT_EQ(analyzer.State(), 0u);
}

TEST(Spectrum, IsAZeroFilledSharedArray)
{
    Spectrum spectrum = Spectrum::Create(257);
    ASSERT_EQ(spectrum.Length(), 257u);
    EXPECT_TRUE(std::all_of(spectrum.Data(), spectrum.Data() + 257, [](double v) { return v == 0.0; }));
    {
        Spectrum copy = spectrum;
        copy[3] = 2.5;
        EXPECT_EQ(spectrum.RefCount(), 2);
        EXPECT_EQ(spectrum[3], 2.5);
    }
    EXPECT_EQ(spectrum.RefCount(), 1);
    double outside[2] = {1, 2};
    Spectrum::Borrow(outside, 2)[0] = 9;
    EXPECT_EQ(outside[0], 9); // a borrowed array is not freed with the handle
    HeapFailAfter(0);
    EXPECT_THROW(Spectrum::Create(16), std::bad_alloc);
    HeapFailNever();
}

} // namespace
