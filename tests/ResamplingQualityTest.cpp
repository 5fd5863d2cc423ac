// Rate conversion quality through the conversion stage, measured on generated tones: images of
// tones above the new Nyquist frequency, THD+N of a 1 kHz tone, and passband flatness.
//
// Tones are whole numbers of hertz and the measurement window is one second of output, so every
// tone falls on its own DFT bin and one tone's level can be read without leakage from another.
#include "sources/ConversionStream.h"
#include "support/TestSupport.h"
#include "support/WavBytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace testing_support;

namespace {

struct Tone {
    double frequency;
    double amplitude; // of full scale
};

// Three seconds of the tones at `inRate`, 16-bit mono, converted to `outRate`; returns the
// output's second second.
std::vector<double> Convert(uint32_t inRate, uint32_t outRate, const std::vector<Tone>& tones)
{
    std::vector<int16_t> samples(3 * inRate);
    for (size_t n = 0; n < samples.size(); ++n) {
        double value = 0;
        for (const Tone& tone : tones)
            value += tone.amplitude * std::sin(2 * M_PI * tone.frequency * static_cast<double>(n) / inRate);
        samples[n] = static_cast<int16_t>(std::lround(value * 32767));
    }
    const auto bytes = Samples16(samples);
    std::vector<std::vector<uint8_t>> blocks;
    for (size_t at = 0; at < bytes.size(); at += inRate / 5)
        blocks.emplace_back(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + inRate / 5));
    ScriptedStream source(PcmFormat(1, inRate, 16), blocks);
    ConversionStream stage;
    stage.SetSource(&source);
    WAVEFORMATEX target = PcmFormat(1, outRate, 16);
    EXPECT_TRUE(stage.SetOutputFormat(&target));
    std::vector<double> out;
    for (AudioBufferRef buffer = stage.GetBuffer(); !buffer.IsEnd(); buffer = stage.GetBuffer())
        for (int16_t sample : AsSamples16(buffer.GetData(), buffer.GetLength()))
            out.push_back(sample / 32767.0);
    EXPECT_EQ(out.size(), 3u * outRate);
    if (out.size() < 2u * outRate)
        return {};
    return std::vector<double>(out.begin() + outRate, out.begin() + 2 * outRate);
}

// Amplitude (of full scale) of the window's component at `frequency`.
double Level(const std::vector<double>& window, double frequency)
{
    std::complex<double> sum = 0;
    const double step = 2 * M_PI * frequency / static_cast<double>(window.size());
    for (size_t n = 0; n < window.size(); ++n)
        sum += window[n] * std::polar(1.0, -step * static_cast<double>(n));
    return 2 * std::abs(sum) / static_cast<double>(window.size());
}

double Decibels(double ratio)
{
    return 20 * std::log10(ratio);
}

// Where a tone above the output's Nyquist frequency would land if it aliased.
double AliasOf(double frequency, uint32_t rate)
{
    double folded = std::fmod(frequency, rate);
    return folded > rate / 2.0 ? rate - folded : folded;
}

struct RatePair {
    uint32_t in, out;
};

class Resampling : public ::testing::TestWithParam<RatePair> { };

TEST_P(Resampling, TonesAboveTheNewNyquistAreAttenuatedBy100dB)
{
    const auto [in, out] = GetParam();
    const double nyquist = out / 2.0;
    // From just above the new Nyquist frequency to near the input's own.
    for (double across : {0.05, 0.3, 0.6, 0.9}) {
        const double frequency = std::round(nyquist + (in / 2.0 - nyquist) * across);
        const double alias = AliasOf(frequency, out);
        const auto window = Convert(in, out, {{1000, 0.45}, {frequency, 0.45}});
        ASSERT_FALSE(window.empty());
        EXPECT_NEAR(Decibels(Level(window, 1000) / 0.45), 0.0, 0.1); // the wanted tone is kept
        EXPECT_LT(Decibels(Level(window, alias) / 0.45), -100.0) << frequency << " Hz aliases to " << alias;
    }
}

TEST_P(Resampling, OneKilohertzKeepsThdPlusNoiseBelowMinus90dB)
{
    const auto [in, out] = GetParam();
    const auto window = Convert(in, out, {{1000, 0.9}});
    ASSERT_FALSE(window.empty());
    // Fit the tone (sine, cosine and offset) and measure everything else.
    double s = 0, c = 0, mean = 0;
    const double step = 2 * M_PI * 1000 / out;
    for (size_t n = 0; n < window.size(); ++n) {
        s += window[n] * std::sin(step * n);
        c += window[n] * std::cos(step * n);
        mean += window[n];
    }
    const double size = static_cast<double>(window.size());
    s *= 2 / size, c *= 2 / size, mean /= size;
    double signal = 0, residual = 0;
    for (size_t n = 0; n < window.size(); ++n) {
        const double fit = s * std::sin(step * n) + c * std::cos(step * n);
        signal += fit * fit;
        residual += (window[n] - fit - mean) * (window[n] - fit - mean);
    }
    EXPECT_NEAR(std::sqrt(s * s + c * c), 0.9, 0.9 * 0.012);
    EXPECT_LT(10 * std::log10(residual / signal), -90.0);
}

TEST_P(Resampling, PassbandIsFlatWithinATenthOfADecibel)
{
    const auto [in, out] = GetParam();
    std::vector<Tone> tones;
    for (int k = 1; k <= 9; ++k)
        tones.push_back({std::round(0.9 * out / 2.0 * k / 9), 0.09});
    tones.push_back({50, 0.09});
    const auto window = Convert(in, out, tones);
    ASSERT_FALSE(window.empty());
    for (const Tone& tone : tones)
        EXPECT_NEAR(Decibels(Level(window, tone.frequency) / tone.amplitude), 0.0, 0.1)
            << tone.frequency << " Hz";
}

INSTANTIATE_TEST_SUITE_P(MonoRates, Resampling,
    ::testing::Values(RatePair {44100, 22050}, RatePair {48000, 44100}),
    [](const auto& info) { return std::to_string(info.param.in) + "to" + std::to_string(info.param.out); });

} // namespace
