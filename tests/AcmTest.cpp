#include "platform/acm/Acm.h"
#include "support/TestSupport.h"
#include "support/WavBytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace testing_support;

namespace {

// A format record with room for its extra bytes.
struct FormatRecord {
    explicit FormatRecord(const WAVEFORMATEX& fixed, const std::vector<uint8_t>& extra = {})
        : bytes(sizeof(WAVEFORMATEX) + std::max<size_t>(extra.size(), 64))
    {
        std::memcpy(bytes.data(), &fixed, sizeof fixed);
        std::memcpy(bytes.data() + sizeof fixed, extra.data(), extra.size());
        Get()->cbSize = static_cast<WORD>(extra.size());
    }
    WAVEFORMATEX* Get() { return reinterpret_cast<WAVEFORMATEX*>(bytes.data()); }
    std::vector<uint8_t> bytes;
};

// The extensible extra part: valid bits, channel mask and the sub-format GUID for `tag`.
std::vector<uint8_t> ExtensibleExtra(WORD validBits, DWORD mask, WORD tag)
{
    std::vector<uint8_t> extra;
    PutLe16(extra, validBits);
    PutLe32(extra, mask);
    PutLe16(extra, tag);
    const uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    extra.insert(extra.end(), tail, tail + 14);
    return extra;
}

WAVEFORMATEX FloatFormat(uint16_t channels, uint32_t rate, uint16_t bits)
{
    WAVEFORMATEX format = PcmFormat(channels, rate, bits);
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    return format;
}

MMRESULT TryOpen(const WAVEFORMATEX& source, const WAVEFORMATEX& destination)
{
    return acmStreamOpen(nullptr, nullptr, &source, &destination, nullptr, 0, 0, ACM_STREAMOPENF_QUERY);
}

// One open stream and the calls a conversion stage makes on it.
class Stream {
public:
    Stream(const WAVEFORMATEX& source, const WAVEFORMATEX& destination)
    {
        result = acmStreamOpen(&handle, nullptr, &source, &destination, nullptr, 0, 0, 0);
    }
    ~Stream()
    {
        if (handle)
            acmStreamClose(handle, 0);
    }

    // Converts `source` into a destination of `room` bytes (the size the stream asks for when
    // 0); returns the output and sets the header's counts.
    std::vector<int16_t> Convert(std::vector<uint8_t> source, DWORD flags, DWORD room = 0)
    {
        if (room == 0) {
            EXPECT_EQ(
                acmStreamSize(handle, static_cast<DWORD>(source.size()), &room, ACM_STREAMSIZEF_SOURCE), 0u);
        }
        std::vector<uint8_t> out(room + 1, 0xA5);
        header = ACMSTREAMHEADER {};
        header.cbStruct = sizeof header;
        header.pbSrc = source.data();
        header.cbSrcLength = static_cast<DWORD>(source.size());
        header.pbDst = out.data();
        header.cbDstLength = room;
        EXPECT_EQ(acmStreamPrepareHeader(handle, &header, 0), 0u);
        EXPECT_EQ(acmStreamConvert(handle, &header, flags), 0u);
        EXPECT_EQ(acmStreamUnprepareHeader(handle, &header, 0), 0u);
        EXPECT_LE(header.cbDstLengthUsed, room);
        EXPECT_EQ(out[room], 0xA5) << "wrote past the destination";
        return AsSamples16(reinterpret_cast<const char*>(out.data()), header.cbDstLengthUsed);
    }

    // Everything: the source in pieces of `piece` bytes, then the end.
    std::vector<int16_t> ConvertAll(const std::vector<uint8_t>& source, size_t piece)
    {
        std::vector<int16_t> all;
        std::vector<uint8_t> carried;
        for (size_t at = 0; at < source.size(); at += piece) {
            std::vector<uint8_t> block = carried;
            block.insert(
                block.end(), source.begin() + at, source.begin() + std::min(source.size(), at + piece));
            const auto out = Convert(block, ACM_STREAMCONVERTF_BLOCKALIGN);
            carried.assign(block.begin() + header.cbSrcLengthUsed, block.end());
            all.insert(all.end(), out.begin(), out.end());
        }
        for (;;) {
            const auto tail = Convert(carried, ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END);
            carried.clear();
            if (tail.empty())
                break;
            all.insert(all.end(), tail.begin(), tail.end());
        }
        return all;
    }

    HACMSTREAM handle = nullptr;
    MMRESULT result = 0;
    ACMSTREAMHEADER header {};
};

std::vector<uint8_t> Tone16(uint32_t rate, double frequency, size_t frames, uint16_t channels = 1)
{
    std::vector<int16_t> samples;
    for (size_t f = 0; f < frames; ++f)
        for (uint16_t c = 0; c < channels; ++c)
            samples.push_back(
                static_cast<int16_t>(std::lround(16000 * std::sin(2 * M_PI * frequency * f / rate))));
    return Samples16(samples);
}

const WAVEFORMATEX kMono16 = PcmFormat(1, 44100, 16);

TEST(AcmService, CapacityHoldsTheLargestRecordItConverts)
{
    DWORD capacity = 0;
    ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &capacity), 0u);
    EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, nullptr), MMSYSERR_INVALPARAM);
    // Microsoft ADPCM with its seven coefficient pairs is the largest extra part.
    std::vector<uint8_t> msExtra;
    PutLe16(msExtra, 500);
    PutLe16(msExtra, 7);
    const int16_t coefficients[14] = {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};
    for (int16_t value : coefficients)
        PutLe16(msExtra, static_cast<uint16_t>(value));
    EXPECT_GE(capacity, 18 + msExtra.size());
    FormatRecord ms({WAVE_FORMAT_ADPCM, 1, 8000, 4096, 256, 4, 0}, msExtra);
    EXPECT_EQ(TryOpen(*ms.Get(), PcmFormat(1, 8000, 16)), 0u);
    FormatRecord extensible(PcmFormat(2, 48000, 24), ExtensibleExtra(24, 3, WAVE_FORMAT_PCM));
    extensible.Get()->wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    EXPECT_GE(capacity, 18 + extensible.Get()->cbSize);
    EXPECT_EQ(TryOpen(*extensible.Get(), PcmFormat(2, 48000, 16)), 0u);
}

TEST(AcmService, PairsItCannotConvertAreRefused)
{
    const WAVEFORMATEX good = PcmFormat(2, 44100, 16);
    auto with = [&](auto change) {
        WAVEFORMATEX format = good;
        change(format);
        return format;
    };
    const WAVEFORMATEX sources[] = {
        with([](auto& f) { f.nSamplesPerSec = 0; }), with([](auto& f) { f.nChannels = 0; }),
        with([](auto& f) { f.nBlockAlign = 0; }), with([](auto& f) { f.nSamplesPerSec = 0xFFFFFFFF; }),
        with([](auto& f) { f.nChannels = 0xFFFF; }),
        with([](auto& f) { f.nBlockAlign = 3; }), // not a whole number of samples per channel
        with([](auto& f) { f.wBitsPerSample = 40; }), // more bits than the container holds
        with([](auto& f) { f.nBlockAlign = 20; }), // 10-byte containers
        with([](auto& f) { f.wFormatTag = 0x1234; }), // unknown codec
        with([](auto& f) { f.wFormatTag = WAVE_FORMAT_EXTENSIBLE; }), // without its extra part
        FloatFormat(2, 44100, 24),
        with([](auto& f) { f.wFormatTag = WAVE_FORMAT_IMA_ADPCM, f.cbSize = 4000; }),
        PcmFormat(1, 100, 16), // 441 times slower than the target rate
    };
    for (const auto& source : sources)
        EXPECT_EQ(TryOpen(source, good), ACMERR_NOTPOSSIBLE)
            << source.wFormatTag << " " << source.nChannels << " " << source.nSamplesPerSec;
    const WAVEFORMATEX targets[] = {PcmFormat(2, 44100, 8), PcmFormat(2, 44100, 32),
        FloatFormat(2, 44100, 32), with([](auto& f) { f.wBitsPerSample = 24; }), // 24 bits in 16-bit blocks
        with([](auto& f) { f.nBlockAlign = 2; }), PcmFormat(2, 0, 16), PcmFormat(0, 44100, 16)};
    for (const auto& target : targets)
        EXPECT_EQ(TryOpen(good, target), ACMERR_NOTPOSSIBLE);
    FormatRecord badGuid(PcmFormat(2, 48000, 24), ExtensibleExtra(24, 3, WAVE_FORMAT_PCM));
    badGuid.Get()->wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    badGuid.bytes[18 + 6 + 5] ^= 1;
    EXPECT_EQ(TryOpen(*badGuid.Get(), good), ACMERR_NOTPOSSIBLE);
}

TEST(AcmService, CallsCheckTheirArgumentsAndHandles)
{
    HACMSTREAM handle = nullptr;
    WAVEFILTER filter {};
    EXPECT_EQ(acmStreamOpen(&handle, nullptr, nullptr, &kMono16, nullptr, 0, 0, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &kMono16, &kMono16, nullptr, 0, 0, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamOpen(&handle, nullptr, &kMono16, &kMono16, nullptr, 0, 0, ACM_STREAMOPENF_ASYNC),
        MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamOpen(&handle, nullptr, &kMono16, &kMono16, &filter, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(TryOpen(kMono16, kMono16), 0u);

    Stream stream(kMono16, kMono16);
    ASSERT_EQ(stream.result, 0u);
    DWORD size = 0;
    EXPECT_EQ(acmStreamSize(stream.handle, 100, &size, 7), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamSize(stream.handle, 100, nullptr, 0), MMSYSERR_INVALPARAM);
    std::vector<uint8_t> in(8), out(8);
    ACMSTREAMHEADER header {};
    header.cbStruct = sizeof header;
    header.pbSrc = in.data();
    header.cbSrcLength = 8;
    header.pbDst = out.data();
    header.cbDstLength = 8;
    EXPECT_EQ(acmStreamConvert(stream.handle, &header, 0), ACMERR_UNPREPARED);
    EXPECT_EQ(acmStreamUnprepareHeader(stream.handle, &header, 0), ACMERR_UNPREPARED);
    ACMSTREAMHEADER small = header;
    small.cbStruct = 40;
    EXPECT_EQ(acmStreamPrepareHeader(stream.handle, &small, 0), MMSYSERR_INVALPARAM);
    ASSERT_EQ(acmStreamPrepareHeader(stream.handle, &header, 0), 0u);
    EXPECT_NE(header.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED, 0u);
    EXPECT_EQ(acmStreamConvert(stream.handle, &header, 0x8000), MMSYSERR_INVALFLAG);
    header.cbDstLength = 16; // more room than was prepared
    EXPECT_EQ(acmStreamConvert(stream.handle, &header, 0), MMSYSERR_INVALPARAM);
    header.cbDstLength = 8;
    EXPECT_EQ(acmStreamConvert(stream.handle, &header, 0), 0u);
    EXPECT_NE(header.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE, 0u);
    EXPECT_EQ(acmStreamUnprepareHeader(stream.handle, &header, 0), 0u);

    int unrelated = 0;
    auto* bogus = reinterpret_cast<HACMSTREAM>(&unrelated);
    EXPECT_EQ(acmStreamSize(bogus, 100, &size, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamConvert(bogus, &header, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamClose(bogus, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamClose(stream.handle, 1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamClose(stream.handle, 0), 0u);
    EXPECT_EQ(acmStreamClose(stream.handle, 0), MMSYSERR_INVALHANDLE);
    stream.handle = nullptr;
}

TEST(AcmService, LinearSamplesAreRoundedAndClipped)
{
    struct Case {
        const char* name;
        WAVEFORMATEX format;
        std::vector<uint8_t> bytes;
        std::vector<int16_t> expected;
    };
    auto floats = [](std::initializer_list<float> values) {
        std::vector<uint8_t> out;
        for (float value : values) {
            uint8_t raw[4];
            std::memcpy(raw, &value, 4);
            out.insert(out.end(), raw, raw + 4);
        }
        return out;
    };
    auto doubles = [](std::initializer_list<double> values) {
        std::vector<uint8_t> out;
        for (double value : values) {
            uint8_t raw[8];
            std::memcpy(raw, &value, 8);
            out.insert(out.end(), raw, raw + 8);
        }
        return out;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {"u8", PcmFormat(1, 8000, 8), {0, 128, 255, 129}, {-32768, 0, 32512, 256}},
        {"s16", PcmFormat(1, 8000, 16), {0x00, 0x80, 0xFF, 0x7F, 0x34, 0x12}, {-32768, 32767, 0x1234}},
        // 24-bit: halves round up, 0x7FFFFF would round to 32768 and is clipped.
        {"s24", PcmFormat(1, 8000, 24),
            {0x80, 0x00, 0x00, 0x7F, 0x00, 0x00, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x7F, 0xFF, 0xFF, 0x80,
                0xFF, 0xFF},
            {1, 0, 32767, -32768, -1, 0}},
        {"s32", PcmFormat(1, 8000, 32),
            {0x00, 0x80, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x34, 0x12},
            {1, 32767, -32768, 0x1234}},
        {"f32", FloatFormat(1, 8000, 32), floats({0.5f, -1.0f, 1.0f, 2.0f, nan, -inf, 1.5f / 32768}),
            {16384, -32768, 32767, 32767, 0, -32768, 2}},
        // Rounded four at a time as well as one by one: halves up, negative fractions down.
        {"f32 x4", FloatFormat(1, 8000, 32), floats({1.5f / 32768, -1.25f / 32768, 2.5f / 32768, -2.0f}),
            {2, -1, 3, -32768}},
        {"f64", FloatFormat(1, 8000, 64), doubles({0.25, -3.0, 1e300, -0.5 / 32768}),
            {8192, -32768, 32767, 0}},
    };
    for (const auto& c : cases) {
        Stream stream(c.format, PcmFormat(1, 8000, 16));
        ASSERT_EQ(stream.result, 0u) << c.name;
        EXPECT_EQ(stream.Convert(c.bytes, ACM_STREAMCONVERTF_BLOCKALIGN), c.expected) << c.name;
    }
}

TEST(AcmService, ExtensibleRecordsUseTheirSubFormat)
{
    FormatRecord pcm24(PcmFormat(2, 8000, 24), ExtensibleExtra(20, 3, WAVE_FORMAT_PCM));
    pcm24.Get()->wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    Stream ints(*pcm24.Get(), PcmFormat(2, 8000, 16));
    ASSERT_EQ(ints.result, 0u);
    EXPECT_EQ(ints.Convert({0x00, 0x34, 0x12, 0x00, 0x00, 0x80}, 0), (std::vector<int16_t> {0x1234, -32768}));

    FormatRecord f32(FloatFormat(1, 8000, 32), ExtensibleExtra(32, 4, WAVE_FORMAT_IEEE_FLOAT));
    f32.Get()->wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    Stream floats(*f32.Get(), PcmFormat(1, 8000, 16));
    ASSERT_EQ(floats.result, 0u);
    float value = -0.25f;
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    EXPECT_EQ(floats.Convert(bytes, 0), std::vector<int16_t> {-8192});
}

TEST(AcmService, ChannelsAreMixed)
{
    Stream toMono(PcmFormat(2, 8000, 16), PcmFormat(1, 8000, 16));
    EXPECT_EQ(toMono.Convert(Samples16({1000, 3000, 1, 2, -32768, -32768, 32767, -32768}), 0),
        (std::vector<int16_t> {2000, 2, -32768, 0}));
    // Float samples that are not numbers count as silence, and far beyond full scale as 16 times
    // full scale, before they are mixed.
    Stream floatsToMono(FloatFormat(2, 8000, 32), PcmFormat(1, 8000, 16));
    std::vector<uint8_t> floats(6 * sizeof(float));
    const float values[] = {std::numeric_limits<float>::quiet_NaN(), 0.5f, 1e30f, -20.0f, 0.25f, 0.25f};
    std::memcpy(floats.data(), values, floats.size());
    EXPECT_EQ(floatsToMono.Convert(floats, 0), (std::vector<int16_t> {8192, 0, 8192}));
    Stream toStereo(PcmFormat(1, 8000, 16), PcmFormat(2, 8000, 16));
    EXPECT_EQ(toStereo.Convert(Samples16({5, -7}), 0), (std::vector<int16_t> {5, 5, -7, -7}));
    Stream fourToMono(PcmFormat(4, 8000, 16), PcmFormat(1, 8000, 16));
    EXPECT_EQ(fourToMono.Convert(Samples16({4000, 8000, -4000, 400}), 0), std::vector<int16_t> {2100});
    Stream twoToSix(PcmFormat(2, 8000, 16), PcmFormat(6, 8000, 16));
    EXPECT_EQ(twoToSix.Convert(Samples16({100, 200}), 0), (std::vector<int16_t> {100, 200, 0, 0, 0, 0}));

    // 5.1 (front left, right, centre, LFE, back left, right) to stereo: each side gets its
    // front at 1, centre and its back at -3 dB, scaled to add up to one; LFE is dropped.
    const double g = std::sqrt(0.5), sum = 1 + 2 * g;
    Stream surround(PcmFormat(6, 8000, 16), PcmFormat(2, 8000, 16));
    const auto mixed = surround.Convert(
        Samples16({10000, 0, 0, 0, 0, 0, 0, 0, 10000, 30000, 0, 0, 0, 0, 0, 0, 0, 10000}), 0);
    const std::vector<int16_t> expected = {static_cast<int16_t>(std::lround(10000 / sum)), 0,
        static_cast<int16_t>(std::lround(10000 * g / sum)),
        static_cast<int16_t>(std::lround(10000 * g / sum)), 0,
        static_cast<int16_t>(std::lround(10000 * g / sum))};
    ASSERT_EQ(mixed.size(), expected.size());
    for (size_t i = 0; i < mixed.size(); ++i)
        EXPECT_NEAR(mixed[i], expected[i], 1) << i;

    // An extensible record's mask moves channels: here the third channel is a back left.
    FormatRecord masked(PcmFormat(3, 8000, 16), ExtensibleExtra(16, 0x1 | 0x2 | 0x10, WAVE_FORMAT_PCM));
    masked.Get()->wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    Stream back(*masked.Get(), PcmFormat(2, 8000, 16));
    const auto backMixed = back.Convert(Samples16({0, 0, 10000}), 0);
    ASSERT_EQ(backMixed.size(), 2u);
    EXPECT_NEAR(backMixed[0], 10000 * g / (1 + g), 1);
    EXPECT_EQ(backMixed[1], 0);
}

TEST(AcmService, OnlyWholeBlocksAreUsedUntilTheEnd)
{
    Stream stream(PcmFormat(2, 8000, 16), PcmFormat(2, 8000, 16));
    const auto bytes = Samples16({1, 2, 3, 4, 5});
    EXPECT_EQ(stream.Convert(bytes, ACM_STREAMCONVERTF_BLOCKALIGN), (std::vector<int16_t> {1, 2, 3, 4}));
    EXPECT_EQ(stream.header.cbSrcLengthUsed, 8u);
    // At the end the piece of a block is consumed; there is no whole frame in it to deliver.
    EXPECT_TRUE(stream.Convert({5, 0}, ACM_STREAMCONVERTF_END).empty());
    EXPECT_EQ(stream.header.cbSrcLengthUsed, 2u);
}

TEST(AcmService, ResamplingCarriesStateAcrossCallsAndTheEndDeliversTheTail)
{
    const auto tone = Tone16(44100, 440, 44100);
    Stream whole(kMono16, PcmFormat(1, 22050, 16));
    Stream pieces(kMono16, PcmFormat(1, 22050, 16));
    const auto once = whole.ConvertAll(tone, tone.size());
    const auto many = pieces.ConvertAll(tone, 1001); // odd pieces: blocks cut in two as well
    EXPECT_EQ(once.size(), 22050u);
    ASSERT_EQ(many.size(), once.size());
    int worst = 0;
    for (size_t i = 0; i < once.size(); ++i)
        worst = std::max(worst, std::abs(once[i] - many[i]));
    EXPECT_LE(worst, 1);

    // Without the end call the last stretch stays inside the filter.
    Stream open(kMono16, PcmFormat(1, 22050, 16));
    const auto held = open.Convert(tone, ACM_STREAMCONVERTF_BLOCKALIGN);
    EXPECT_LT(held.size(), 22050u);
    const auto tail = open.Convert({}, ACM_STREAMCONVERTF_END);
    EXPECT_EQ(held.size() + tail.size(), 22050u);
    // The tail continues the tone: its last samples match the one-piece conversion.
    EXPECT_NEAR(tail.back(), once.back(), 1);

    // A stream closed with audio inside its filter leaves none of it to the next stream at the
    // same rates, which converts exactly as the first did.
    for (int round = 0; round < 2; ++round) {
        {
            Stream dropped(kMono16, PcmFormat(1, 22050, 16));
            dropped.Convert(Tone16(44100, 3000, 4410), ACM_STREAMCONVERTF_BLOCKALIGN);
        }
        Stream next(kMono16, PcmFormat(1, 22050, 16));
        EXPECT_EQ(next.ConvertAll(tone, tone.size()), once);
    }
}

TEST(AcmService, OutputThatDoesNotFitIsKeptForTheNextCall)
{
    Stream stream(PcmFormat(1, 8000, 16), PcmFormat(2, 8000, 16));
    const auto first = stream.Convert(Samples16({1, 2, 3, 4, 5}), 0, 8); // room for 2 of 5 frames
    EXPECT_EQ(first, (std::vector<int16_t> {1, 1, 2, 2}));
    DWORD size = 0;
    ASSERT_EQ(acmStreamSize(stream.handle, 0, &size, ACM_STREAMSIZEF_SOURCE), 0u);
    EXPECT_GE(size, 12u); // the held frames count in the bound
    EXPECT_EQ(stream.Convert(Samples16({6}), 0), (std::vector<int16_t> {3, 3, 4, 4, 5, 5, 6, 6}));
    // START drops whatever is held.
    stream.Convert(Samples16({7, 8, 9}), 0, 4);
    EXPECT_EQ(stream.Convert(Samples16({10}), ACM_STREAMCONVERTF_START), (std::vector<int16_t> {10, 10}));
}

TEST(AcmService, SizeBoundsHoldForEveryBufferSize)
{
    Stream stream(PcmFormat(2, 44100, 16), PcmFormat(1, 48000, 16));
    const auto tone = Tone16(44100, 1000, 20000, 2);
    size_t at = 0;
    size_t frames = 0;
    for (DWORD piece = 4; at + piece <= tone.size(); piece = piece * 3 + 4) {
        std::vector<uint8_t> block(tone.begin() + at, tone.begin() + at + piece);
        DWORD bound = 0;
        ASSERT_EQ(acmStreamSize(stream.handle, piece, &bound, ACM_STREAMSIZEF_SOURCE), 0u);
        // Given far more room than the bound, the conversion still stays within it.
        frames += stream.Convert(block, ACM_STREAMCONVERTF_BLOCKALIGN, bound + 65536).size();
        EXPECT_LE(stream.header.cbDstLengthUsed, bound) << "piece of " << piece;
        at += piece;
    }
    DWORD bound = 0;
    ASSERT_EQ(acmStreamSize(stream.handle, 0, &bound, ACM_STREAMSIZEF_SOURCE), 0u);
    frames += stream.Convert({}, ACM_STREAMCONVERTF_END, bound + 65536).size();
    EXPECT_LE(stream.header.cbDstLengthUsed, bound);
    EXPECT_NEAR(static_cast<double>(frames), at / 4 * 48000.0 / 44100.0, 1.0);

    DWORD input = 0;
    ASSERT_EQ(acmStreamSize(stream.handle, 9600, &input, ACM_STREAMSIZEF_DESTINATION), 0u);
    EXPECT_EQ(input % 4, 0u);
    ASSERT_EQ(acmStreamSize(stream.handle, input, &bound, ACM_STREAMSIZEF_SOURCE), 0u);
    EXPECT_LE(bound, 9600u);
    ASSERT_EQ(acmStreamSize(stream.handle, input + 4, &bound, ACM_STREAMSIZEF_SOURCE), 0u);
    EXPECT_GT(bound, 9600u);
}

} // namespace
