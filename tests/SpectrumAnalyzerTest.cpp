#include "analysis/SpectrumAnalyzer.h"
#include "engine/ToneStream.h"
#include "platform/Heap.h"
#include "platform/Message.h"
#include "platform/MessageBackend.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
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
using testing_support::ScopedMessages;
using testing_support::ScriptedStream;

namespace {

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The queue is emptied and each buffer analysed under one hold of the analyzer's lock, so an
// empty queue means every buffer handed out so far has been analysed.
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

// A source with a given format and buffer size that keeps a handle on everything it hands out.
class KeepingStream : public ScriptedStream {
public:
    KeepingStream(WAVEFORMATEX format, uint32_t size, std::vector<std::vector<uint8_t>> blocks = {})
        : ScriptedStream(format, std::move(blocks))
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

// Reads every buffer of the stream through the analyzer, then waits for the analysis.
void Drain(SpectrumAnalyzer& analyzer)
{
    while (!analyzer.GetBuffer().IsEnd()) { }
    ASSERT_TRUE(WaitAnalysed(analyzer));
}

struct Sizing {
    uint16_t channels;
    uint32_t bufferSize;
    uint32_t frames;
    uint32_t fftSize;
    uint32_t blocks;
};

TEST(SpectrumAnalyzerThreads, SizesTheTransformFromTheSourceBuffer)
{
    const Sizing cases[] = {
        {2, 4096, 1024, 256, 4}, // a stereo conversion stage
        {1, 4096, 2048, 256, 8}, // a mono one
        {1, 8820, 4410, 245, 18}, // the mixer's tenth of a second at 44100 Hz
        {2, 1200, 300, 300, 1}, // the search starts at 1 and 1 divides 300
    };
    for (const Sizing& expected : cases) {
        SCOPED_TRACE(expected.bufferSize);
        KeepingStream stream(PcmFormat(expected.channels, 44100, 16), expected.bufferSize);
        SpectrumAnalyzer analyzer;
        EXPECT_EQ(analyzer.SetSource(&stream), &analyzer);
        EXPECT_EQ(analyzer.source, &stream);
        EXPECT_EQ(analyzer.GetChannels(), expected.channels);
        EXPECT_EQ(analyzer.GetFramesPerBuffer(), expected.frames);
        EXPECT_EQ(analyzer.GetFftSize(), expected.fftSize);
        EXPECT_EQ(analyzer.GetBlocksPerBuffer(), expected.blocks);
        EXPECT_TRUE(analyzer.HasPlan());
        EXPECT_TRUE(analyzer.IsRunning());
        EXPECT_EQ(analyzer.GetFormat(), stream.GetFormat());
    }
}

TEST(SpectrumAnalyzerThreads, ResizingForALargerSmallBufferKeepsTheDivisorAboveZero)
{
    KeepingStream small(PcmFormat(1, 8000, 16), 200); // c = 100
    KeepingStream larger(PcmFormat(1, 8000, 16), 400); // c = 200, and 200 / 256 is 0
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&small);
    EXPECT_EQ(analyzer.GetFftSize(), 100u);
    analyzer.SetSource(&larger);
    EXPECT_EQ(analyzer.GetFftSize(), 200u);
    EXPECT_EQ(analyzer.GetBlocksPerBuffer(), 1u);
    EXPECT_TRUE(analyzer.HasPlan());
}

class NoFormatStream : public ScriptedStream {
public:
    using ScriptedStream::ScriptedStream;
    WAVEFORMATEX* GetFormat() override { return nullptr; }
};

TEST(SpectrumAnalyzerThreads, SourcesThatCannotBeAnalysedPassStraightThrough)
{
    const auto blocks = testing_support::CountingBlocks(2, 2048);
    std::vector<std::unique_ptr<ScriptedStream>> streams;
    streams.push_back(std::make_unique<KeepingStream>(PcmFormat(0, 44100, 16), 4096, blocks));
    streams.push_back(std::make_unique<KeepingStream>(PcmFormat(1, 44100, 16), 2, blocks)); // c = 0
    streams.push_back(std::make_unique<KeepingStream>(PcmFormat(1, 44100, 8), 4096, blocks));
    streams.push_back(std::make_unique<NoFormatStream>(PcmFormat(1, 44100, 16), blocks));
    for (auto& stream : streams) {
        SpectrumAnalyzer analyzer;
        analyzer.SetSource(stream.get());
        EXPECT_FALSE(analyzer.HasPlan());
        for (const auto& block : blocks) {
            AudioBufferRef buffer = analyzer.GetBuffer();
            ASSERT_EQ(buffer.GetLength(), block.size());
            EXPECT_EQ(std::memcmp(buffer.GetData(), block.data(), block.size()), 0);
            EXPECT_EQ(analyzer.PendingBuffers(), 0u);
        }
        EXPECT_TRUE(analyzer.GetBuffer().IsEnd());
        EXPECT_TRUE(analyzer.GetSpectra().empty());
    }

    SpectrumAnalyzer unattached;
    EXPECT_EQ(unattached.GetFormat(), nullptr);
    EXPECT_TRUE(unattached.GetBuffer().IsEnd());
    unattached.SetSource(nullptr);
    EXPECT_TRUE(unattached.GetBuffer().IsEnd());
}

TEST(SpectrumAnalyzerThreads, HandsOnTheUpstreamBuffersThemselves)
{
    KeepingStream stream(PcmFormat(2, 44100, 16), 4096, testing_support::CountingBlocks(5, 4096, 7));
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);
    std::vector<AudioBufferRef> received;
    for (int i = 0; i < 5; ++i)
        received.push_back(analyzer.GetBuffer());
    AudioBufferRef end = analyzer.GetBuffer();
    EXPECT_TRUE(end.IsEnd());
    const auto expected = testing_support::CountingBlocks(5, 4096, 7);
    for (size_t i = 0; i < received.size(); ++i) {
        EXPECT_TRUE(received[i].SharesBodyWith(stream.handedOut[i]));
        EXPECT_EQ(std::memcmp(received[i].GetData(), expected[i].data(), 4096), 0);
    }
    EXPECT_TRUE(end.SharesBodyWith(stream.handedOut[5]));
    ASSERT_TRUE(WaitAnalysed(analyzer));
    // The analysis only read them: the bytes are unchanged after it, and its references are gone.
    for (size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(std::memcmp(received[i].GetData(), expected[i].data(), 4096), 0);
        // Ours and the stream's (the analysis thread lets go of its own just after the lock).
        EXPECT_TRUE(WaitFor([&] { return received[i].RefCount() == 2; }));
    }
}

// A stereo frame sequence: left(k), right(k) for k < frames.
std::vector<uint8_t> Stereo(uint32_t frames, const std::function<int16_t(uint32_t)>& left,
    const std::function<int16_t(uint32_t)>& right)
{
    std::vector<int16_t> samples;
    for (uint32_t k = 0; k < frames; ++k) {
        samples.push_back(left(k));
        samples.push_back(right(k));
    }
    return Bytes(samples);
}

TEST(SpectrumAnalyzerThreads, TransformsAllButTheLastWholeBlockOfTheLeftChannel)
{
    // 4410 frames with fftSize 256: 17 whole blocks, of which 16 are transformed. The left
    // channel is silent in frames 0 .. 4095 and loud only in the part that is left out; the
    // right channel is loud throughout. Every spectrum must therefore be exactly zero.
    std::mt19937 random(4);
    auto noise = [&](uint32_t) { return static_cast<int16_t>(random() % 60000 - 30000); };
    auto tailOnly = [](uint32_t k) { return static_cast<int16_t>(k >= 4096 ? 20000 : 0); };
    KeepingStream stream(PcmFormat(2, 44100, 16), 4096,
        {Stereo(4410, tailOnly, noise), Stereo(511, noise, noise), Stereo(512, noise, noise),
            Stereo(100, noise, noise)});
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);

    analyzer.GetBuffer();
    ASSERT_TRUE(WaitAnalysed(analyzer));
    auto spectra = analyzer.GetSpectra();
    ASSERT_EQ(spectra.size(), 16u);
    for (const Spectrum& spectrum : spectra) {
        ASSERT_EQ(spectrum.Length(), 257u);
        for (uint32_t i = 0; i < spectrum.Length(); ++i)
            ASSERT_EQ(spectrum[i], 0.0);
    }
    EXPECT_GE(analyzer.GetLastFftTicks(), 0);

    analyzer.GetBuffer(); // 511 frames: one whole block only, nothing transformed
    ASSERT_TRUE(WaitAnalysed(analyzer));
    EXPECT_EQ(analyzer.GetSpectra().size(), 16u);
    analyzer.GetBuffer(); // 512 frames: two whole blocks, the first is transformed
    ASSERT_TRUE(WaitAnalysed(analyzer));
    spectra = analyzer.GetSpectra();
    ASSERT_EQ(spectra.size(), 17u);
    EXPECT_NE(spectra.front()[0], 0.0); // now the left channel has sound
    analyzer.GetBuffer(); // shorter than one block
    ASSERT_TRUE(WaitAnalysed(analyzer));
    EXPECT_EQ(analyzer.GetSpectra().size(), 17u);
}

TEST(SpectrumAnalyzerThreads, TakesTheFirstChannelOfWiderFramesToo)
{
    // Three channels: 4096-byte buffers give c = 682 and fftSize 341. The first channel is a
    // constant, the others noise: only the constant may show, as the first value.
    std::mt19937 random(5);
    std::vector<int16_t> samples;
    for (int k = 0; k < 3 * 341; ++k) {
        samples.push_back(100);
        samples.push_back(static_cast<int16_t>(random() % 60000 - 30000));
        samples.push_back(static_cast<int16_t>(random() % 60000 - 30000));
    }
    KeepingStream stream(PcmFormat(3, 44100, 16), 4096, {Bytes(samples)});
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);
    ASSERT_EQ(analyzer.GetFftSize(), 341u);
    Drain(analyzer);
    const auto spectra = analyzer.GetSpectra();
    ASSERT_EQ(spectra.size(), 2u);
    for (const Spectrum& spectrum : spectra) {
        EXPECT_NEAR(spectrum[0], 341 * 100 / 32767.0, 1e-9);
        for (uint32_t k = 1; k < spectrum.Length(); ++k)
            ASSERT_NEAR(spectrum[k], 0.0, 1e-9) << k;
    }
}

// The forward DFT of one block, X(k) = sum x(j) e^(-2 pi i j k / N), in half-complex order.
std::vector<double> DirectTransform(const std::vector<double>& x)
{
    const size_t n = x.size();
    std::vector<double> out(n, 0.0);
    for (size_t k = 0; k <= n / 2; ++k) {
        double re = 0, im = 0;
        for (size_t j = 0; j < n; ++j) {
            const double angle = 2 * std::numbers::pi * double(j * k % n) / double(n);
            re += x[j] * std::cos(angle);
            im -= x[j] * std::sin(angle);
        }
        out[k] = re;
        if (k > 0 && k < (n + 1) / 2)
            out[n - k] = im;
    }
    return out;
}

TEST(SpectrumAnalyzerThreads, MonoSpectraMatchADirectTransformOfEverySample)
{
    // Three blocks of 256 random samples, full scale included; the first two are transformed.
    std::mt19937 random(11);
    std::vector<int16_t> samples(3 * 256);
    for (auto& sample : samples)
        sample = static_cast<int16_t>(static_cast<int32_t>(random() % 65536) - 32768);
    samples[3] = 32767;
    samples[4] = -32768;
    KeepingStream stream(PcmFormat(1, 44100, 16), 4096, {Bytes(samples)});
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);
    Drain(analyzer);

    const auto spectra = analyzer.GetSpectra();
    ASSERT_EQ(spectra.size(), 2u);
    for (int block = 0; block < 2; ++block) {
        std::vector<double> x(256);
        for (int j = 0; j < 256; ++j)
            x[j] = samples[block * 256 + j] / 32767.0;
        const auto expected = DirectTransform(x);
        const Spectrum& actual = spectra[1 - block]; // newest first
        for (int k = 0; k < 256; ++k)
            ASSERT_NEAR(actual[k], expected[k], 1e-9) << "block " << block << " value " << k;
        EXPECT_EQ(actual[256], 0.0);
    }
}

TEST(SpectrumAnalyzerThreads, FullScaleSamplesMapToPlusAndMinusOne)
{
    const std::vector<int16_t> levels {32767, -32767, -32768};
    std::vector<int16_t> samples;
    for (int16_t level : levels)
        samples.insert(samples.end(), 2 * 256, level); // two blocks each: one is transformed
    std::vector<std::vector<uint8_t>> blocks;
    for (size_t i = 0; i < levels.size(); ++i)
        blocks.push_back(
            Bytes(std::vector<int16_t>(samples.begin() + i * 512, samples.begin() + (i + 1) * 512)));
    KeepingStream stream(PcmFormat(1, 44100, 16), 4096, blocks);
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);
    Drain(analyzer);
    const auto spectra = analyzer.GetSpectra(); // newest first: -32768, -32767, 32767
    ASSERT_EQ(spectra.size(), 3u);
    EXPECT_NEAR(spectra[2][0], 256.0, 1e-9); // the sum of 256 values of 1.0
    EXPECT_NEAR(spectra[1][0], -256.0, 1e-9);
    EXPECT_LT(spectra[0][0], -256.0);
    EXPECT_NEAR(spectra[0][0], -256.0 * 32768 / 32767, 1e-9);
}

TEST(SpectrumAnalyzerThreads, ASinePeaksAtItsBin)
{
    // The mixer's format: mono 44100 Hz, a tenth of a second per buffer, so fftSize is 245 and
    // a bin is 180 Hz wide. A 3600 Hz tone falls on bin 20.
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
        for (uint32_t k = 1; k < 245 / 2 + 1; ++k) {
            const double im = k < (245 + 1) / 2 ? spectrum[245 - k] : 0.0;
            const double magnitude = std::hypot(spectrum[k], im);
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
    // 40 buffers of three blocks, each a constant level of its own: two spectra per buffer, and
    // the level is readable from the first value (256 × level / 32767).
    std::vector<std::vector<uint8_t>> blocks;
    for (int i = 0; i < 40; ++i)
        blocks.push_back(Bytes(std::vector<int16_t>(3 * 256, static_cast<int16_t>(100 * (i + 1)))));
    KeepingStream stream(PcmFormat(1, 44100, 16), 4096, blocks);
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);

    // A reader on another thread while the analysis runs; it must never see more than 51.
    std::atomic<bool> done {false};
    std::atomic<size_t> mostSeen {0};
    std::thread reader([&] {
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
    EXPECT_EQ(level(spectra.front()), 4000); // the last buffer
    EXPECT_EQ(level(spectra[1]), 4000);
    EXPECT_EQ(level(spectra[2]), 3900);
    EXPECT_EQ(level(spectra.back()), 1500); // the 15th buffer's second spectrum
}

TEST(SpectrumAnalyzerThreads, AFailedAnalysisIsReportedAndTheStageGoesOn)
{
    ScopedMessages messages;
    std::vector<std::vector<uint8_t>> blocks(2, Bytes(std::vector<int16_t>(4 * 256, 1000)));
    KeepingStream stream(PcmFormat(1, 44100, 16), 4096, blocks);
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);
    // The allocations: the stream's copy of the block, the input values, the first spectrum;
    // the second spectrum fails.
    HeapFailAfter(3);
    AudioBufferRef passed = analyzer.GetBuffer();
    EXPECT_EQ(passed.GetLength(), 2048u);
    ASSERT_TRUE(WaitFor([&] { return !messages->Texts().empty(); }));
    HeapFailNever();
    EXPECT_EQ(messages->Texts(), std::vector<std::string> {SpectrumAnalyzer::exceptionMessage});
    EXPECT_EQ(messages->Texts().front(),
        "Exception 0x01 (Access Violation) in Spectrum Analyzer, but it has been caught safely!");
    EXPECT_EQ(analyzer.GetSpectra().size(), 1u); // the rest of that buffer was skipped

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
        changed.notify_all();
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
    bool shown = false;
    bool closed = false;
};

TEST(SpectrumAnalyzerThreads, DestructionWaitsForAnAnalysisThreadThatIsHeldUp)
{
    auto held = std::make_shared<HeldMessages>();
    auto previous = SetMessageBackend(held);
    KeepingStream stream(PcmFormat(1, 44100, 16), 4096, {Bytes(std::vector<int16_t>(4 * 256, 5))});
    auto analyzer = std::make_unique<SpectrumAnalyzer>();
    analyzer->SetStopWait(3, 5ms); // the usual bound would be 10 s
    analyzer->SetSource(&stream);
    HeapFailAfter(2); // the stream's copy, the input values; the first spectrum fails
    analyzer->GetBuffer();
    ASSERT_TRUE(WaitFor([&] { return held->Shown(); }));
    HeapFailNever();

    // The analysis thread now sits in the open message box. Destroying the analyzer must not
    // free it under that thread: it waits past its bound until the box is closed.
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
    std::vector<std::vector<uint8_t>> blocks(200,
        Stereo(
            4410, [](uint32_t k) { return int16_t(k); }, [](uint32_t) { return int16_t(0); }));
    KeepingStream stream(PcmFormat(2, 44100, 16), 4096, blocks);
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

TEST(SpectrumAnalyzerThreads, StopsAndRestartsWithANewSource)
{
    KeepingStream first(PcmFormat(1, 44100, 16), 4096, {Bytes(std::vector<int16_t>(3 * 256, 50))});
    KeepingStream second(PcmFormat(2, 44100, 16), 4096,
        {Stereo(
            3 * 256, [](uint32_t) { return int16_t(70); }, [](uint32_t) { return int16_t(0); })});
    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&first);
    EXPECT_TRUE(analyzer.Stop(false));
    EXPECT_TRUE(WaitFor([&] { return analyzer.State() == 0; }));
    analyzer.SetSource(&second);
    EXPECT_TRUE(analyzer.IsRunning());
    EXPECT_EQ(analyzer.GetChannels(), 2u);
    Drain(analyzer);
    ASSERT_EQ(analyzer.GetSpectra().size(), 2u);
    EXPECT_NEAR(analyzer.GetSpectra().front()[0], 256 * 70 / 32767.0, 1e-9);

    // Start on the running analyzer replaces its thread, and the new one analyses as well.
    const uint32_t oldId = analyzer.State();
    ASSERT_TRUE(analyzer.Start());
    EXPECT_GT(analyzer.State(), 1u);
    EXPECT_NE(analyzer.State(), oldId);
    KeepingStream third(PcmFormat(2, 44100, 16), 4096,
        {Stereo(
            3 * 256, [](uint32_t) { return int16_t(90); }, [](uint32_t) { return int16_t(0); })});
    analyzer.SetSource(&third);
    Drain(analyzer);
    ASSERT_EQ(analyzer.GetSpectra().size(), 4u); // two from each source
    EXPECT_NEAR(analyzer.GetSpectra().front()[0], 256 * 90 / 32767.0, 1e-9);

    EXPECT_TRUE(analyzer.Stop(true));
    EXPECT_EQ(analyzer.State(), 0u);
}

TEST(Spectrum, IsAZeroFilledSharedArray)
{
    Spectrum spectrum = Spectrum::Create(257);
    ASSERT_EQ(spectrum.Length(), 257u);
    EXPECT_TRUE(spectrum.OwnsData());
    EXPECT_TRUE(std::all_of(spectrum.Data(), spectrum.Data() + 257, [](double v) { return v == 0.0; }));
    {
        Spectrum copy = spectrum;
        copy[3] = 2.5;
        EXPECT_EQ(spectrum.RefCount(), 2);
        EXPECT_EQ(spectrum[3], 2.5);
    }
    EXPECT_EQ(spectrum.RefCount(), 1);

    double outside[4] = {1, 2, 3, 4};
    {
        Spectrum view = Spectrum::Borrow(outside, 4);
        EXPECT_FALSE(view.OwnsData());
        view[0] = 9;
    }
    EXPECT_EQ(outside[0], 9); // still ours after the last handle went

    HeapFailAfter(0);
    EXPECT_THROW(Spectrum::Create(16), std::bad_alloc);
    HeapFailNever();
}

} // namespace
