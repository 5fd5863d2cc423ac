// The compressed fixtures in tests/data/media: their manifest (rate, channels, the length of the
// signal they were encoded from, whether the file states its encoder delay and padding) and
// their reference decodes, plus helpers to compare decoded PCM.
#pragma once

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

struct MediaFixture {
    std::string name;
    uint32_t rate = 0;
    uint16_t channels = 0;
    uint64_t sourceFrames = 0; // frames of the signal the file was encoded from
    bool exactLength = false; // the file states its delay and padding

    std::string Path() const { return std::string(VARKONEL_TEST_DATA_DIR) + "/media/" + name; }
    uint32_t BlockAlign() const { return channels * 2u; }
    double Seconds() const { return static_cast<double>(sourceFrames) / rate; }
    std::vector<int16_t> Reference() const
    {
        std::vector<uint8_t> bytes = ReadBytes(Path() + ".s16");
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }
};

// Test names and failure messages show the fixture's file name.
inline void PrintTo(const MediaFixture& fixture, std::ostream* out)
{
    *out << fixture.name;
}

inline std::vector<MediaFixture> MediaFixtures()
{
    std::ifstream manifest(std::string(VARKONEL_TEST_DATA_DIR) + "/media/manifest.txt");
    std::vector<MediaFixture> fixtures;
    std::string line;
    while (std::getline(manifest, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        MediaFixture fixture;
        std::string exact;
        fields >> fixture.name >> fixture.rate >> fixture.channels >> fixture.sourceFrames >> exact;
        fixture.exactLength = exact == "yes";
        fixtures.push_back(fixture);
    }
    return fixtures;
}

inline MediaFixture MediaFixtureNamed(const std::string& name)
{
    for (const MediaFixture& fixture : MediaFixtures()) {
        if (fixture.name == name)
            return fixture;
    }
    return {};
}

// A fixture's name as a test name (letters and digits only), for parameterised suites.
inline std::string MediaFixtureTestName(const ::testing::TestParamInfo<MediaFixture>& info)
{
    std::string name = info.param.name;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name;
}

inline std::vector<int16_t> AsSamples(const std::vector<uint8_t>& bytes)
{
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// The largest difference between two runs of samples over their common length.
inline int MaxDifference(const int16_t* a, const int16_t* b, size_t count)
{
    int worst = 0;
    for (size_t i = 0; i < count; ++i)
        worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
    return worst;
}

// The correlation of two runs of samples over their common length: 1 for the same signal, near 0
// for unrelated ones.
template <typename Sample> double Correlation(const std::vector<Sample>& a, const std::vector<Sample>& b)
{
    const size_t count = std::min(a.size(), b.size());
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < count; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

// Where `piece` (interleaved, `channels` wide) fits best in `whole`, searched frame by frame
// within `radius` frames of `expectedFrame`; the result is the offset in frames from
// `expectedFrame`. Compares `span` frames by their sum of squared differences.
inline long BestOffset(const std::vector<int16_t>& whole, const std::vector<int16_t>& piece, size_t channels,
    long expectedFrame, long radius, size_t span)
{
    long best = 0;
    double bestError = -1.0;
    for (long offset = -radius; offset <= radius; ++offset) {
        const long start = expectedFrame + offset;
        if (start < 0 || (static_cast<size_t>(start) + span) * channels > whole.size()
            || span * channels > piece.size())
            continue;
        double error = 0.0;
        for (size_t i = 0; i < span * channels; ++i) {
            const double d = double(whole[static_cast<size_t>(start) * channels + i]) - double(piece[i]);
            error += d * d;
        }
        if (bestError < 0.0 || error < bestError) {
            bestError = error;
            best = offset;
        }
    }
    return best;
}

} // namespace testing_support
