#include "sources/WmaStream.h"
#include "platform/Heap.h"
#include "platform/media/MediaFile.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

using namespace testing_support;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

constexpr uint64_t kUnits = 10'000'000;

// Everything a stream delivers until the end, and how many buffers that took.
struct Drained {
    std::vector<int16_t> samples;
    int buffers = 0;
    bool allOutput = true;
};

Drained Drain(AudioStream& stream)
{
    Drained drained;
    std::vector<uint8_t> bytes;
    for (;;) {
        AudioBufferRef buffer = stream.GetBuffer();
        if (buffer.IsEnd())
            break;
        drained.allOutput = drained.allOutput && buffer.GetKind() == Output;
        bytes.insert(bytes.end(), buffer.GetData(), buffer.GetData() + buffer.GetLength());
        ++drained.buffers;
    }
    drained.samples = Pcm16Samples(*stream.GetFormat(), bytes.data(), bytes.size());
    return drained;
}

// A stand-in reader, scripted by the test: its outputs, its samples and which of its calls fail.
struct Script {
    struct Output {
        GUID major = WMMEDIATYPE_Audio;
        std::vector<uint8_t> formatBlock; // the media type's format block
    };
    struct Sample {
        DWORD output = 0;
        std::vector<uint8_t> bytes;
        QWORD duration = 0;
    };
    std::vector<Output> outputs;
    std::vector<Sample> samples;
    std::optional<std::vector<uint8_t>> durationValue; // the "Duration" attribute's bytes
    bool headerInterface = true;
    HRESULT openResult = S_OK;
    HRESULT outputCountResult = S_OK;
    HRESULT outputPropsResult = S_OK;
    HRESULT mediaTypeSizeResult = S_OK;
    HRESULT mediaTypeResult = S_OK;
    // What the reader saw.
    std::vector<QWORD> rangeStarts;
    int opened = 0;
    int closed = 0;
    int alive = 0;
};

std::vector<uint8_t> FormatBlock(const WAVEFORMATEX& format, size_t extra = 0)
{
    std::vector<uint8_t> block(sizeof format + extra);
    std::memcpy(block.data(), &format, sizeof format);
    for (size_t i = 0; i < extra; ++i)
        block[sizeof format + i] = static_cast<uint8_t>(0xA0 + i);
    return block;
}

template <typename Interface> class Counted : public Interface {
public:
    HRESULT QueryInterface(const GUID&, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override
    {
        const ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::atomic<ULONG> references {1};
};

class FakeSample : public Counted<INSSBuffer> {
public:
    explicit FakeSample(std::vector<uint8_t> bytes)
        : bytes(std::move(bytes))
    { }
    HRESULT GetLength(DWORD* length) override
    {
        *length = static_cast<DWORD>(bytes.size());
        return S_OK;
    }
    HRESULT GetBuffer(BYTE** buffer) override
    {
        *buffer = bytes.data();
        return S_OK;
    }
    HRESULT GetBufferAndLength(BYTE** buffer, DWORD* length) override
    {
        *buffer = bytes.data();
        *length = static_cast<DWORD>(bytes.size());
        return S_OK;
    }

private:
    std::vector<uint8_t> bytes;
};

class FakeProps : public Counted<IWMOutputMediaProps> {
public:
    FakeProps(Script& script, const Script::Output& output)
        : script(script)
        , output(output)
    { }
    HRESULT GetType(GUID* major) override
    {
        *major = output.major;
        return S_OK;
    }
    HRESULT GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) override
    {
        const DWORD needed = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + output.formatBlock.size());
        if (type == nullptr) {
            *size = needed;
            return script.mediaTypeSizeResult;
        }
        if (FAILED(script.mediaTypeResult))
            return script.mediaTypeResult;
        if (*size < needed)
            return E_INVALIDARG;
        WM_MEDIA_TYPE filled {};
        filled.majortype = output.major;
        filled.cbFormat = static_cast<ULONG>(output.formatBlock.size());
        filled.pbFormat = reinterpret_cast<BYTE*>(type + 1);
        std::memcpy(type, &filled, sizeof filled);
        if (!output.formatBlock.empty())
            std::memcpy(filled.pbFormat, output.formatBlock.data(), output.formatBlock.size());
        return S_OK;
    }

private:
    Script& script;
    Script::Output output;
};

class FakeHeader : public Counted<IWMHeaderInfo> {
public:
    explicit FakeHeader(Script& script)
        : script(script)
    { }
    HRESULT GetAttributeByName(
        WORD*, const char* name, WMT_ATTR_DATATYPE* type, BYTE* value, WORD* length) override
    {
        if (std::strcmp(name, "Duration") != 0 || !script.durationValue)
            return ASF_E_NOTFOUND;
        *type = WMT_TYPE_QWORD;
        const WORD size = static_cast<WORD>(script.durationValue->size());
        if (value != nullptr)
            std::memcpy(value, script.durationValue->data(), std::min(size, *length));
        *length = size;
        return S_OK;
    }

private:
    Script& script;
};

class FakeReader : public IWMSyncReader {
public:
    explicit FakeReader(Script& script)
        : script(script)
    {
        ++script.alive;
    }
    HRESULT QueryInterface(const GUID& iid, void** object) override
    {
        *object = nullptr;
        if (!(iid == IID_IWMHeaderInfo) || !script.headerInterface)
            return E_NOINTERFACE;
        *object = static_cast<IWMHeaderInfo*>(new FakeHeader(script));
        return S_OK;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override
    {
        const ULONG left = --references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT Open(const char*) override
    {
        ++script.opened;
        return script.openResult;
    }
    HRESULT Close() override
    {
        ++script.closed;
        return S_OK;
    }
    HRESULT SetRange(QWORD start, LONGLONG) override
    {
        script.rangeStarts.push_back(start);
        next = 0;
        return S_OK;
    }
    HRESULT GetNextSample(
        WORD, INSSBuffer** sample, QWORD* time, QWORD* duration, DWORD* flags, DWORD* output, WORD*) override
    {
        if (next >= script.samples.size())
            return NS_E_NO_MORE_SAMPLES;
        const Script::Sample& scripted = script.samples[next++];
        *sample = new FakeSample(scripted.bytes);
        *time = 0;
        *duration = scripted.duration;
        *flags = 0;
        *output = scripted.output;
        return S_OK;
    }
    HRESULT GetOutputCount(DWORD* count) override
    {
        *count = static_cast<DWORD>(script.outputs.size());
        return script.outputCountResult;
    }
    HRESULT GetOutputProps(DWORD number, IWMOutputMediaProps** props) override
    {
        if (FAILED(script.outputPropsResult))
            return script.outputPropsResult;
        *props = new FakeProps(script, script.outputs.at(number));
        return S_OK;
    }

protected:
    ~FakeReader() override { --script.alive; }

private:
    Script& script;
    size_t next = 0;
    std::atomic<ULONG> references {1};
};

// Makes WMCreateSyncReader hand out fake readers driven by `script` while it lives.
class ScopedFakeReaders {
public:
    explicit ScopedFakeReaders(Script& script)
    {
        previous = WMSetSyncReaderFactory([&script](IWMSyncReader** reader) {
            *reader = new FakeReader(script);
            return S_OK;
        });
    }
    ~ScopedFakeReaders() { WMSetSyncReaderFactory(previous); }

private:
    SyncReaderFactory previous;
};

Script AudioScript(const WAVEFORMATEX& format)
{
    Script script;
    script.outputs.push_back({WMMEDIATYPE_Audio, FormatBlock(format)});
    return script;
}

std::vector<uint8_t> DurationBytes(uint64_t units)
{
    std::vector<uint8_t> bytes(8);
    std::memcpy(bytes.data(), &units, 8);
    return bytes;
}

HRESULT LoadQuietly(WmaStream& stream, const std::string& name, std::string* printed = nullptr)
{
    CaptureStdout();
    const HRESULT result = stream.Load(name.c_str());
    const std::string text = GetCapturedStdout();
    if (printed != nullptr)
        *printed = text;
    return result;
}

class EveryFixture : public ::testing::TestWithParam<MediaFixture> { };

} // namespace

TEST_P(EveryFixture, LoadsTheFormatAndLengthAndDeliversTheReferenceAudio)
{
    const MediaFixture& fixture = GetParam();
    WmaStream stream;
    std::string printed;
    ASSERT_EQ(LoadQuietly(stream, fixture.Path(), &printed), S_OK);
    EXPECT_EQ(printed, "");
    // The reader's output as it offers it: float from these decoders.
    const WAVEFORMATEX* format = stream.GetFormat();
    const uint32_t blockAlign = 4u * fixture.channels;
    EXPECT_EQ(format->wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_EQ(format->nChannels, fixture.channels);
    EXPECT_EQ(format->nSamplesPerSec, fixture.rate);
    EXPECT_EQ(format->nBlockAlign, blockAlign);
    EXPECT_EQ(stream.bufferSize, fixture.rate * blockAlign / 10 / blockAlign * blockAlign);
    EXPECT_EQ(stream.GetPosition(), 0.0);

    const std::vector<int16_t> reference = fixture.Reference();
    // The length comes from the header, in whole seconds.
    const double referenceSeconds = double(reference.size() / fixture.channels) / fixture.rate;
    EXPECT_NEAR(stream.GetLength(), std::floor(referenceSeconds), 1.0);
    if (fixture.exactLength) {
        EXPECT_EQ(stream.GetLength(), std::floor(fixture.Seconds()));
    }

    Drained drained = Drain(stream);
    EXPECT_TRUE(drained.allOutput);
    EXPECT_GT(drained.buffers, 1);
    EXPECT_EQ(drained.samples, reference);
    EXPECT_EQ(stream.GetPosition(), std::floor(referenceSeconds));
    EXPECT_EQ(stream.SkippedSeconds(), 0.0); // nothing in a sound file counts as damage
    EXPECT_EQ(stream.GetFailure(), "");
}

namespace {

class LongFixture : public ::testing::TestWithParam<MediaFixture> { };

// The fixtures of two seconds or more, long enough to seek one second in.
std::vector<MediaFixture> LongMediaFixtures()
{
    std::vector<MediaFixture> chosen;
    for (const MediaFixture& fixture : MediaFixtures()) {
        if (fixture.sourceFrames >= 2u * fixture.rate)
            chosen.push_back(fixture);
    }
    return chosen;
}

} // namespace

TEST_P(LongFixture, SeekLandsWithinThirtyMillisecondsAndRewindStartsOver)
{
    const MediaFixture& fixture = GetParam();
    const std::vector<int16_t> reference = fixture.Reference();
    WmaStream stream;
    ASSERT_EQ(LoadQuietly(stream, fixture.Path()), S_OK);
    AudioBufferRef first = stream.GetBuffer();
    ASSERT_FALSE(first.IsEnd());

    stream.Seek(1);
    EXPECT_EQ(stream.GetPosition(), 1.0);
    Drained afterSeek = Drain(stream);
    const long offset = BestOffset(reference, afterSeek.samples, fixture.channels, long(fixture.rate),
        long(fixture.rate / 10), fixture.rate / 10);
    EXPECT_LE(std::abs(offset), long(fixture.rate * 0.030));
    EXPECT_NEAR(double(afterSeek.samples.size()), double(reference.size() - fixture.rate * fixture.channels),
        fixture.rate * 0.030 * fixture.channels);

    stream.Rewind();
    EXPECT_EQ(stream.GetPosition(), 0.0);
    EXPECT_EQ(Drain(stream).samples, reference);
}

INSTANTIATE_TEST_SUITE_P(WmaStream, EveryFixture, ::testing::ValuesIn(MediaFixtures()), MediaFixtureTestName);
INSTANTIATE_TEST_SUITE_P(
    WmaStream, LongFixture, ::testing::ValuesIn(LongMediaFixtures()), MediaFixtureTestName);

TEST(WmaStream, SkippingDoesNothing)
{
    const MediaFixture fixture = MediaFixtureNamed("mono-8000-mpeg25.mp3");
    WmaStream stream, twin;
    ASSERT_EQ(LoadQuietly(stream, fixture.Path()), S_OK);
    ASSERT_EQ(LoadQuietly(twin, fixture.Path()), S_OK);
    for (int i = 0; i < 20; ++i) {
        stream.GetBuffer();
        twin.GetBuffer();
    }
    const double before = stream.GetPosition();
    stream.SkipForward(2);
    EXPECT_EQ(stream.GetPosition(), before);
    stream.SkipBack(1);
    EXPECT_EQ(stream.GetPosition(), before);
    // And the read position did not move either.
    AudioBufferRef mine = stream.GetBuffer();
    AudioBufferRef theirs = twin.GetBuffer();
    ASSERT_EQ(mine.GetLength(), theirs.GetLength());
    EXPECT_EQ(std::memcmp(mine.GetData(), theirs.GetData(), mine.GetLength()), 0);
}

TEST(WmaStream, TheEndRepeatsAsEndBuffers)
{
    WmaStream stream;
    ASSERT_EQ(LoadQuietly(stream, MediaFixtureNamed("stereo-22050-v2.wma").Path()), S_OK);
    Drain(stream);
    for (int i = 0; i < 3; ++i) {
        AudioBufferRef end = stream.GetBuffer();
        EXPECT_TRUE(end.IsEnd());
        EXPECT_EQ(end.GetKind(), Empty);
    }
}

TEST(WmaStream, SeekBeyondTheEndEndsTheStreamAndKeepsTheFullTarget)
{
    WmaStream stream;
    ASSERT_EQ(LoadQuietly(stream, MediaFixtureNamed("mono-22050-cbr.mp3").Path()), S_OK);
    stream.Seek(300);
    // 300 s is 3,000,000,000 units: past 32 bits.
    EXPECT_EQ(stream.GetPosition(), 300.0);
    EXPECT_TRUE(stream.GetBuffer().IsEnd());
    stream.Seek(-5);
    EXPECT_EQ(stream.GetPosition(), 0.0);
    EXPECT_FALSE(stream.GetBuffer().IsEnd());
}

TEST(WmaStream, SeekHandsTheReaderTheTargetInUnitsBeyond32Bits)
{
    WAVEFORMATEX format = PcmFormat(2, 44100, 16);
    Script script = AudioScript(format);
    ScopedFakeReaders fakes(script);
    WmaStream stream;
    ASSERT_EQ(LoadQuietly(stream, "song.wma"), S_OK);
    stream.Seek(300);
    stream.Rewind();
    ASSERT_EQ(script.rangeStarts.size(), 2u);
    EXPECT_EQ(script.rangeStarts[0], 3'000'000'000ull);
    EXPECT_EQ(script.rangeStarts[1], 0u);
}

TEST(WmaStream, NetworkNamesAreRefusedBeforeAnythingIsTouched)
{
    Script script;
    ScopedFakeReaders fakes(script);
    const int depth = CoInitializeDepth();
    for (const char* name :
        {"http://example.com/a.mp3", "HTTP://EXAMPLE.COM/A.WMA", "hTtPs://x/y.mp3", "http"}) {
        WmaStream stream;
        std::string printed;
        EXPECT_EQ(LoadQuietly(stream, name, &printed), E_INVALIDARG) << name;
        EXPECT_EQ(printed, "Wrong input file - streams are not supported : (hr=0x00000000).\n");
        EXPECT_EQ(CoInitializeDepth(), depth);
    }
    EXPECT_EQ(script.opened, 0);
}

TEST(WmaStream, NamesWithHttpLaterOnOrWithSpacesAndAccentsLoad)
{
    const MediaFixture fixture = MediaFixtureNamed("stereo-22050-v2.wma");
    TempDir dir;
    for (const char* name : {"my http song.wma", "Ünïcødé – Ärger.WMA", "htt.wma"}) {
        const std::string path = dir.File(name);
        std::filesystem::copy_file(fixture.Path(), path);
        WmaStream stream;
        EXPECT_EQ(LoadQuietly(stream, path), S_OK) << name;
        EXPECT_EQ(Drain(stream).samples, fixture.Reference()) << name;
    }
}

TEST(WmaStream, EmptyOrMissingNamesAreInvalidWithoutOutput)
{
    WmaStream stream;
    std::string printed;
    CaptureStdout();
    EXPECT_EQ(stream.Load(nullptr), E_INVALIDARG);
    EXPECT_EQ(stream.Load(""), E_INVALIDARG);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_TRUE(stream.GetBuffer().IsEnd());
}

TEST(WmaStream, AFileThatCannotBeOpenedIsReportedAndLeavesNoReader)
{
    TempDir dir;
    WmaStream stream;
    std::string printed;
    const HRESULT result = LoadQuietly(stream, dir.File("absent.mp3"), &printed);
    EXPECT_LT(result, 0);
    char expected[64];
    std::snprintf(
        expected, sizeof expected, "Could not open file (hr=0x%08x).\n", static_cast<unsigned>(result));
    EXPECT_EQ(printed, expected);
    EXPECT_TRUE(stream.GetBuffer().IsEnd());
    EXPECT_EQ(stream.GetLength(), 0.0);
}

TEST(WmaStream, ASecondLoadClosesTheFirstReaderAndReadsTheNewFile)
{
    const MediaFixture stereo = MediaFixtureNamed("stereo-44100-vbr-id3.mp3");
    const MediaFixture mono = MediaFixtureNamed("mono-16000-v1.WMA");
    WmaStream stream;
    ASSERT_EQ(LoadQuietly(stream, stereo.Path()), S_OK);
    stream.GetBuffer();
    stream.GetBuffer();
    ASSERT_EQ(LoadQuietly(stream, mono.Path()), S_OK);
    EXPECT_EQ(stream.GetFormat()->nChannels, 1);
    EXPECT_EQ(stream.GetFormat()->nSamplesPerSec, 16000u);
    EXPECT_EQ(stream.bufferSize, 6400u); // a tenth of a second of mono float
    EXPECT_EQ(stream.GetPosition(), 0.0);
    EXPECT_EQ(stream.GetLength(), 2.0);
    EXPECT_EQ(Drain(stream).samples, mono.Reference());
}

TEST(WmaStream, ASecondLoadReleasesTheFirstReaderAndComStaysBalanced)
{
    Script script = AudioScript(PcmFormat(1, 8000, 16));
    ScopedFakeReaders fakes(script);
    ASSERT_EQ(CoInitialize(nullptr), CoInitializeDepth() == 0 ? S_OK : S_FALSE);
    const int depth = CoInitializeDepth();
    {
        WmaStream neverLoaded;
    }
    EXPECT_EQ(CoInitializeDepth(), depth);
    {
        WmaStream stream;
        ASSERT_EQ(LoadQuietly(stream, "a.mp3"), S_OK);
        EXPECT_EQ(script.alive, 1);
        ASSERT_EQ(LoadQuietly(stream, "b.mp3"), S_OK);
        EXPECT_EQ(script.opened, 2);
        EXPECT_EQ(script.closed, 1);
        EXPECT_EQ(script.alive, 1);
        EXPECT_EQ(CoInitializeDepth(), depth + 2);
    }
    EXPECT_EQ(script.closed, 2);
    EXPECT_EQ(script.alive, 0);
    EXPECT_EQ(CoInitializeDepth(), depth);
    CoUninitialize();
}

TEST(WmaStream, FilesWithoutDurationOrHeaderInterfaceLoadWithLengthZero)
{
    Script script = AudioScript(PcmFormat(2, 44100, 16));
    ScopedFakeReaders fakes(script);
    WmaStream stream;
    std::string printed;
    ASSERT_EQ(LoadQuietly(stream, "a.wma", &printed), S_OK);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(stream.GetLength(), 0.0);

    script.durationValue = DurationBytes(2'009'000'000); // 3 min 20.9 s
    ASSERT_EQ(LoadQuietly(stream, "a.wma"), S_OK);
    EXPECT_EQ(stream.GetLength(), 200.0);

    // An attribute shorter than 64 bits is no length.
    script.durationValue = std::vector<uint8_t> {0x10, 0x20, 0x30, 0x40};
    ASSERT_EQ(LoadQuietly(stream, "a.wma"), S_OK);
    EXPECT_EQ(stream.GetLength(), 0.0);

    script.durationValue = DurationBytes(2'009'000'000);
    script.headerInterface = false;
    ASSERT_EQ(LoadQuietly(stream, "a.wma", &printed), S_OK);
    EXPECT_EQ(printed, "Could not QI for IWMHeaderInfo");
    EXPECT_EQ(stream.GetLength(), 0.0);
}

TEST(WmaStream, OutputSearchFailuresAreReportedWithTheirCodes)
{
    struct Case {
        const char* what;
        std::function<void(Script&)> arrange;
        HRESULT code;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"count", [](Script& s) { s.outputCountResult = E_FAIL; }, E_FAIL, "Could not get output count"},
        {"props", [](Script& s) { s.outputPropsResult = E_OUTOFMEMORY; }, E_OUTOFMEMORY,
            "Could not get output props"},
        {"size", [](Script& s) { s.mediaTypeSizeResult = E_POINTER; }, E_POINTER,
            "Could not query for the space needed for media type"},
        {"type", [](Script& s) { s.mediaTypeResult = E_UNEXPECTED; }, E_UNEXPECTED,
            "Could not get media type"},
        {"no audio",
            [](Script& s) {
                s.outputs = {{WMMEDIATYPE_Video, {}}};
            },
            E_UNEXPECTED, "Could not find an audio stream in the specified file"},
        {"no outputs", [](Script& s) { s.outputs.clear(); }, E_UNEXPECTED,
            "Could not find an audio stream in the specified file"},
    };
    for (const Case& c : cases) {
        Script script = AudioScript(PcmFormat(2, 44100, 16));
        c.arrange(script);
        ScopedFakeReaders fakes(script);
        WmaStream stream;
        std::string printed;
        EXPECT_EQ(LoadQuietly(stream, "a.wma", &printed), c.code) << c.what;
        char expected[200];
        std::snprintf(expected, sizeof expected, "%s (hr=%#X)File has not audio (hr=0x%08x).\n", c.message,
            static_cast<unsigned>(c.code), static_cast<unsigned>(c.code));
        EXPECT_EQ(printed, expected) << c.what;
        EXPECT_EQ(script.alive, 0) << c.what;
        EXPECT_TRUE(stream.GetBuffer().IsEnd()) << c.what;
    }
}

TEST(WmaStream, NoMemoryForTheMediaTypeIsReported)
{
    Script script = AudioScript(PcmFormat(2, 44100, 16));
    ScopedFakeReaders fakes(script);
    WmaStream stream;
    std::string printed;
    HeapFailAfter(0);
    const HRESULT result = LoadQuietly(stream, "a.wma", &printed);
    HeapFailNever();
    EXPECT_EQ(result, HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_LT(result, 0);
    EXPECT_EQ(printed, "Insufficient memory (hr=0X80070008)File has not audio (hr=0x80070008).\n");
}

TEST(WmaStream, AFormatBlockLongerThanTheRecordIsCutToItsCapacity)
{
    WAVEFORMATEX wide = PcmFormat(2, 48000, 16);
    wide.cbSize = 300;
    Script script;
    script.outputs.push_back({WMMEDIATYPE_Audio, FormatBlock(wide, 300)});
    ScopedFakeReaders fakes(script);
    WmaStream stream;
    ASSERT_EQ(LoadQuietly(stream, "a.wma"), S_OK);
    const uint32_t capacity = stream.FormatCapacity();
    ASSERT_GE(capacity, sizeof(WAVEFORMATEX));
    ASSERT_LT(capacity, sizeof(WAVEFORMATEX) + 300);
    const WAVEFORMATEX* format = stream.GetFormat();
    EXPECT_EQ(format->nSamplesPerSec, 48000u);
    // The record claims only the extra bytes it holds, and holds the block's first ones.
    EXPECT_EQ(format->cbSize, capacity - sizeof(WAVEFORMATEX));
    const auto* extra = reinterpret_cast<const uint8_t*>(format) + sizeof(WAVEFORMATEX);
    for (uint32_t i = 0; i < capacity - sizeof(WAVEFORMATEX); ++i)
        EXPECT_EQ(extra[i], 0xA0 + i);
}

TEST(WmaStream, AFormatWithoutBlockAlignDoesNotBreakBufferSizing)
{
    WAVEFORMATEX odd = PcmFormat(2, 44100, 16);
    odd.nBlockAlign = 0;
    Script script = AudioScript(odd);
    script.samples = {{0, std::vector<uint8_t>(100, 1), 1000}};
    ScopedFakeReaders fakes(script);
    WmaStream stream;
    ASSERT_EQ(LoadQuietly(stream, "a.wma"), S_OK);
    EXPECT_EQ(stream.bufferSize, 17640u);
    EXPECT_EQ(stream.GetBuffer().GetLength(), 100u);
}

TEST(WmaStream, OnlyTheAudioOutputsSamplesArePassedOnAndCounted)
{
    Script script = AudioScript(PcmFormat(1, 8000, 16));
    script.outputs.insert(script.outputs.begin(), Script::Output {WMMEDIATYPE_Video, {}});
    // Output 0 is video, output 1 audio. An empty audio sample in the middle is not the end.
    script.samples = {
        {0, std::vector<uint8_t>(500, 0xEE), 4'000'000},
        {1, std::vector<uint8_t>(1600, 1), 1'000'000},
        {0, std::vector<uint8_t>(300, 0xEE), 4'000'000},
        {1, {}, 0},
        {1, std::vector<uint8_t>(16000, 2), 10'000'000},
    };
    ScopedFakeReaders fakes(script);
    WmaStream stream;
    ASSERT_EQ(LoadQuietly(stream, "movie.wma"), S_OK);
    Drained drained = Drain(stream);
    EXPECT_EQ(drained.buffers, 2);
    ASSERT_EQ(drained.samples.size(), (1600u + 16000u) / 2);
    for (int16_t value : drained.samples)
        EXPECT_TRUE(value == 0x0101 || value == 0x0202);
    // 0.1 s + 1 s of audio; the video's 0.8 s does not count.
    EXPECT_EQ(stream.GetPosition(), 1.0);
}

TEST(WmaStream, NoMemoryForABufferIsShownAndEndsTheStream)
{
    Script script = AudioScript(PcmFormat(1, 8000, 16));
    script.samples = {{0, std::vector<uint8_t>(1600, 1), 1'000'000}};
    ScopedFakeReaders fakes(script);
    WmaStream stream;
    ASSERT_EQ(LoadQuietly(stream, "a.mp3"), S_OK);
    ScopedMessages messages;
    HeapFailAfter(0);
    AudioBufferRef buffer = stream.GetBuffer();
    HeapFailNever();
    EXPECT_TRUE(buffer.IsEnd());
    EXPECT_EQ(messages->Texts(), std::vector<std::string> {"Exception in WmaStream::GetBuffer!"});
    EXPECT_EQ(stream.GetFailure(), "decoding failed"); // an end that is a failure
}

// Damaged frames are passed over, not a failure; the stream counts the audio they held, so the
// audio delivered and the audio skipped add up to the length of the file.
TEST(WmaStream, DamagedFramesAreSkippedAndCounted)
{
    const MediaFixture mp3 = MediaFixtureNamed("mono-22050-cbr.mp3");
    TempDir dir;
    std::vector<uint8_t> bytes = ReadBytes(mp3.Path());
    const double bytesPerSecond = static_cast<double>(bytes.size()) / mp3.Seconds();
    uint32_t state = 99;
    for (size_t i = 4000; i < 11000; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<uint8_t>(state >> 24);
    }
    WriteBytes(dir.File("damaged.mp3"), bytes);
    for (const auto& [path, damaged] :
        {std::pair {mp3.Path(), 0.0}, std::pair {dir.File("damaged.mp3"), 7000.0}}) {
        WmaStream stream;
        ASSERT_EQ(LoadQuietly(stream, path), S_OK);
        const double delivered = static_cast<double>(Drain(stream).samples.size()) / mp3.rate;
        EXPECT_EQ(stream.GetFailure(), "") << path;
        EXPECT_NEAR(stream.SkippedSeconds(), damaged / bytesPerSecond, 0.15) << path;
        EXPECT_NEAR(delivered + stream.SkippedSeconds(), mp3.Seconds(), 0.15) << path;
        stream.Rewind();
        EXPECT_EQ(stream.SkippedSeconds(), 0.0);
    }
}

TEST(WmaStream, BadFilesFailToLoadOrEndEarlyWithoutCrashing)
{
    const MediaFixture mp3 = MediaFixtureNamed("mono-22050-cbr.mp3");
    TempDir dir;
    std::vector<uint8_t> noise(30000);
    uint32_t state = 777;
    for (uint8_t& byte : noise) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    WriteBytes(dir.File("noise.mp3"), noise);
    WriteBytes(dir.File("noise.wma"), noise);
    WriteBytes(dir.File("empty.wma"), {});
    WriteBytes(dir.File("tag.mp3"), {'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F, 'T', 'I', 'T', '2'});
    std::vector<uint8_t> bytes = ReadBytes(mp3.Path());
    WriteBytes(dir.File("cut.mp3"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 3000));
    std::filesystem::create_directory(dir.File("folder.mp3"));
    // A header that promises audio, and nothing after it: the ASF header object's size is in
    // bytes 16..23.
    std::vector<uint8_t> wma = ReadBytes(MediaFixtureNamed("stereo-22050-v2.wma").Path());
    const size_t header = Le32(wma, 16);
    ASSERT_LT(header, wma.size());
    WriteBytes(dir.File("header-only.wma"), std::vector<uint8_t>(wma.begin(), wma.begin() + long(header)));

    for (const char* name :
        {"noise.mp3", "noise.wma", "empty.wma", "tag.mp3", "cut.mp3", "folder.mp3", "header-only.wma"}) {
        WmaStream stream;
        std::string printed;
        const HRESULT result = LoadQuietly(stream, dir.File(name), &printed);
        if (FAILED(result)) {
            EXPECT_NE(printed.find("(hr=0x"), std::string::npos) << name;
            EXPECT_TRUE(stream.GetBuffer().IsEnd()) << name;
            continue;
        }
        // Whatever loads delivers no more than the file could hold.
        Drained drained = Drain(stream);
        EXPECT_LT(drained.samples.size(), 22050u * 3) << name;
    }
    // The truncated file keeps what it holds: the start of the full decode.
    WmaStream cut;
    ASSERT_EQ(LoadQuietly(cut, dir.File("cut.mp3")), S_OK);
    std::vector<int16_t> head = Drain(cut).samples;
    std::vector<int16_t> reference = mp3.Reference();
    ASSERT_GT(head.size(), 2000u);
    ASSERT_LT(head.size(), reference.size());
    EXPECT_EQ(MaxDifference(head.data(), reference.data(), head.size() - 1200), 0);
}

TEST(WmaStreamThreads, PositionIsReadWhileAnotherThreadReads)
{
    const MediaFixture fixture = MediaFixtureNamed("mono-8000-mpeg25.mp3");
    WmaStream stream;
    ASSERT_EQ(LoadQuietly(stream, fixture.Path()), S_OK);
    std::atomic<bool> done {false};
    std::vector<double> seen;
    std::thread timer([&] {
        while (!done.load()) {
            seen.push_back(stream.GetPosition());
            EXPECT_EQ(stream.GetLength(), 4.0);
            std::this_thread::yield();
        }
    });
    Drained drained = Drain(stream);
    done.store(true);
    timer.join();
    EXPECT_EQ(drained.samples, fixture.Reference());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(stream.GetPosition(), 4.0);
}
