#include "platform/media/MediaReader.h"
#include "platform/media/MediaFile.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

using namespace testing_support;

namespace {

constexpr QWORD kUnits = 10'000'000;

struct Sample {
    QWORD time = 0;
    QWORD duration = 0;
    DWORD flags = 0;
    DWORD output = 0;
    std::vector<uint8_t> bytes;
};

WAVEFORMATEX AudioFormatOf(IWMSyncReader& reader, DWORD output);

class OpenReader {
public:
    explicit OpenReader(const std::string& path)
    {
        EXPECT_EQ(WMCreateSyncReader(nullptr, 0, reader.Receive()), S_OK);
        opened = reader->Open(path.c_str());
        if (SUCCEEDED(opened))
            format = AudioFormatOf(*reader.Get(), 0);
    }
    ~OpenReader()
    {
        if (reader)
            reader->Close();
    }
    // The next sample of `output`, or none at the end (the result is kept in `last`).
    bool NextOf(DWORD output, Sample& sample)
    {
        while (Next(sample)) {
            if (sample.output == output)
                return true;
        }
        return false;
    }
    // The next sample, or none at the end (the result is kept in `last`).
    bool Next(Sample& sample)
    {
        MediaRef<INSSBuffer> buffer;
        last = reader->GetNextSample(
            0, buffer.Receive(), &sample.time, &sample.duration, &sample.flags, &sample.output, nullptr);
        if (FAILED(last))
            return false;
        BYTE* bytes = nullptr;
        DWORD length = 0;
        EXPECT_EQ(buffer->GetBufferAndLength(&bytes, &length), S_OK);
        sample.bytes.assign(bytes, bytes + length);
        return true;
    }
    // The audio of output 0 as 16-bit samples.
    std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) const
    {
        return Pcm16Samples(format, bytes.data(), bytes.size());
    }
    // The bytes of every remaining sample of `output`, joined.
    std::vector<uint8_t> ReadAllBytes(DWORD output = 0)
    {
        std::vector<uint8_t> joined;
        Sample sample;
        while (Next(sample)) {
            if (sample.output == output)
                joined.insert(joined.end(), sample.bytes.begin(), sample.bytes.end());
        }
        return joined;
    }
    // Every remaining sample of `output` (an audio output in `format`) as 16-bit samples.
    std::vector<int16_t> ReadAll(DWORD output = 0) { return Samples(ReadAllBytes(output)); }

    MediaRef<IWMSyncReader> reader;
    WAVEFORMATEX format {}; // of output 0
    HRESULT opened = E_FAIL;
    HRESULT last = S_OK;
};

WAVEFORMATEX AudioFormatOf(IWMSyncReader& reader, DWORD output)
{
    MediaRef<IWMOutputMediaProps> props;
    EXPECT_EQ(reader.GetOutputProps(output, props.Receive()), S_OK);
    DWORD size = 0;
    EXPECT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    std::vector<uint8_t> block(size);
    auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(block.data());
    EXPECT_EQ(props->GetMediaType(type, &size), S_OK);
    EXPECT_TRUE(type->majortype == WMMEDIATYPE_Audio);
    EXPECT_TRUE(type->formattype == WMFORMAT_WaveFormatEx);
    EXPECT_EQ(type->cbFormat, sizeof(WAVEFORMATEX));
    WAVEFORMATEX format {};
    std::memcpy(&format, type->pbFormat, sizeof format);
    return format;
}

// The frame length of the codec in a fixture: the tolerance for files that do not state their
// delay and padding.
uint64_t CodecFrame(const MediaFixture& fixture)
{
    if (fixture.name.find(".mp3") != std::string::npos)
        return fixture.rate >= 32000 ? 1152 : 576;
    return 2048;
}

class EveryFixture : public ::testing::TestWithParam<MediaFixture> { };

} // namespace

TEST(MediaFixtureSet, CoversMonoStereoSeveralRatesAndBothFamilies)
{
    std::vector<MediaFixture> fixtures = MediaFixtures();
    ASSERT_GE(fixtures.size(), 6u);
    int mono = 0, stereo = 0, mp3 = 0, wma = 0;
    std::set<uint32_t> rates;
    for (const MediaFixture& fixture : fixtures) {
        (fixture.channels == 1 ? mono : stereo)++;
        (fixture.name.find(".mp3") != std::string::npos ? mp3 : wma)++;
        rates.insert(fixture.rate);
    }
    EXPECT_GT(mono, 0);
    EXPECT_GT(stereo, 0);
    EXPECT_GT(mp3, 0);
    EXPECT_GT(wma, 0);
    EXPECT_GE(rates.size(), 4u);
}

TEST_P(EveryFixture, DecodesToTheReferenceInTheFilesOwnFormatWithTheStatedLength)
{
    const MediaFixture& fixture = GetParam();
    DecodedAudio decoded;
    ASSERT_EQ(DecodeMediaFile(fixture.Path().c_str(), decoded), S_OK);
    EXPECT_EQ(decoded.format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(decoded.format.nChannels, fixture.channels);
    EXPECT_EQ(decoded.format.nSamplesPerSec, fixture.rate);
    EXPECT_EQ(decoded.format.wBitsPerSample, 16);
    EXPECT_EQ(decoded.format.nBlockAlign, fixture.BlockAlign());
    EXPECT_EQ(decoded.format.nAvgBytesPerSec, fixture.rate * fixture.BlockAlign());

    std::vector<int16_t> reference = fixture.Reference();
    std::vector<int16_t> samples = AsSamples(decoded.pcm);
    ASSERT_EQ(samples.size(), reference.size());
    EXPECT_LE(MaxDifference(samples.data(), reference.data(), samples.size()), 1);

    const uint64_t frames = decoded.pcm.size() / fixture.BlockAlign();
    const double frameSeconds = double(CodecFrame(fixture)) / fixture.rate;
    const double stated = double(decoded.statedDuration) / kUnits;
    EXPECT_NEAR(stated, double(frames) / fixture.rate, frameSeconds);
    if (fixture.exactLength) {
        // The encoder's delay and padding are stated in the file and removed.
        EXPECT_EQ(frames, fixture.sourceFrames);
        EXPECT_NEAR(stated, fixture.Seconds(), frameSeconds);
    } else if (fixture.name.find(".mp3") == std::string::npos) {
        EXPECT_NEAR(double(frames), double(fixture.sourceFrames), double(CodecFrame(fixture)));
    } else {
        // Without a header the delay and padding stay in, but never more than two frames' worth.
        EXPECT_GE(frames, fixture.sourceFrames);
        EXPECT_LE(frames, fixture.sourceFrames + 2 * CodecFrame(fixture) + 576);
    }
}

TEST_P(EveryFixture, SampleTimesAreContiguousAndDurationsAddUpToTheAudio)
{
    const MediaFixture& fixture = GetParam();
    OpenReader open(fixture.Path());
    ASSERT_EQ(open.opened, S_OK);
    // These decoders work in floating point: the reader hands their samples on unrounded.
    EXPECT_EQ(open.format.wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_EQ(open.format.wBitsPerSample, 32);
    EXPECT_EQ(open.format.nChannels, fixture.channels);
    EXPECT_EQ(open.format.nSamplesPerSec, fixture.rate);
    const uint32_t blockAlign = 4u * fixture.channels;
    EXPECT_EQ(open.format.nBlockAlign, blockAlign);
    EXPECT_EQ(open.format.nAvgBytesPerSec, fixture.rate * blockAlign);
    Sample sample;
    QWORD expectedTime = 0;
    uint64_t frames = 0;
    int count = 0;
    while (open.Next(sample)) {
        if (sample.output != 0)
            continue;
        EXPECT_EQ(sample.time, expectedTime);
        EXPECT_GT(sample.bytes.size(), 0u);
        EXPECT_EQ(sample.bytes.size() % blockAlign, 0u);
        EXPECT_EQ((sample.flags & WM_SF_DISCONTINUITY) != 0, count == 0);
        expectedTime += sample.duration;
        frames += sample.bytes.size() / blockAlign;
        ++count;
    }
    EXPECT_EQ(open.last, NS_E_NO_MORE_SAMPLES);
    EXPECT_GT(count, 1);
    EXPECT_NEAR(double(expectedTime), double(frames) * kUnits / fixture.rate, 1.0);
}

TEST_P(EveryFixture, SetRangeLandsOnTheTargetSample)
{
    const MediaFixture& fixture = GetParam();
    const std::vector<int16_t> reference = fixture.Reference();
    const double referenceSeconds = double(reference.size() / fixture.channels) / fixture.rate;
    OpenReader open(fixture.Path());
    ASSERT_EQ(open.opened, S_OK);
    for (double target : {referenceSeconds * 0.6, referenceSeconds * 0.25}) {
        const QWORD start = static_cast<QWORD>(target * kUnits);
        ASSERT_EQ(open.reader->SetRange(start, 0), S_OK);
        Sample sample;
        ASSERT_TRUE(open.NextOf(0, sample));
        EXPECT_EQ(sample.time, start);
        EXPECT_NE(sample.flags & WM_SF_DISCONTINUITY, 0u);
        std::vector<int16_t> rest = open.Samples(sample.bytes);
        std::vector<int16_t> more = open.ReadAll();
        rest.insert(rest.end(), more.begin(), more.end());

        const long expected = long(double(start) * fixture.rate / kUnits);
        const size_t span = std::min<size_t>(rest.size() / fixture.channels, fixture.rate / 10);
        const long radius = long(fixture.rate / 10);
        const long offset = BestOffset(reference, rest, fixture.channels, expected, radius, span);
        EXPECT_LE(std::abs(offset), long(fixture.rate * 0.030)) << "at " << target << " s";
        // The audio after the target is the audio of a decode from the start. WMA decoders fill
        // some bands with generated noise whose sequence depends on where decoding began, so
        // there the samples agree only closely.
        const size_t from = size_t(expected + offset) * fixture.channels;
        ASSERT_LE(from, reference.size());
        const size_t common = std::min(rest.size(), reference.size() - from);
        EXPECT_GT(common, 0u);
        const int tolerance = fixture.name.find(".mp3") != std::string::npos ? 1 : 256;
        EXPECT_LE(MaxDifference(rest.data(), reference.data() + from, common), tolerance)
            << "at " << target << " s";
    }
}

// The reader hands on the decoder's float samples as they are, bit for bit what ffmpeg decodes:
// nothing rounds them to 16 bits on the way.
TEST_P(EveryFixture, FloatSamplesAreTheDecodersOwn)
{
    const MediaFixture& fixture = GetParam();
    TempDir dir;
    const std::string peer = dir.File("peer.f32");
    const std::string command
        = "ffmpeg -nostdin -v error -y -i '" + fixture.Path() + "' -map 0:a:0 -f f32le '" + peer + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::vector<uint8_t> expected = ReadBytes(peer);
    OpenReader open(fixture.Path());
    ASSERT_EQ(open.opened, S_OK);
    ASSERT_EQ(open.format.wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    const std::vector<uint8_t> floats = open.ReadAllBytes();
    ASSERT_EQ(floats.size(), expected.size());
    EXPECT_TRUE(floats == expected);
}

INSTANTIATE_TEST_SUITE_P(
    MediaReader, EveryFixture, ::testing::ValuesIn(MediaFixtures()), MediaFixtureTestName);

TEST(MediaReader, CoverArtIsAVideoOutputOfItsOwnAndNeverAudio)
{
    const MediaFixture fixture = MediaFixtureNamed("stereo-44100-vbr-id3.mp3");
    OpenReader open(fixture.Path());
    ASSERT_EQ(open.opened, S_OK);
    DWORD outputs = 0;
    ASSERT_EQ(open.reader->GetOutputCount(&outputs), S_OK);
    ASSERT_EQ(outputs, 2u);
    MediaRef<IWMOutputMediaProps> picture;
    ASSERT_EQ(open.reader->GetOutputProps(1, picture.Receive()), S_OK);
    GUID major {};
    ASSERT_EQ(picture->GetType(&major), S_OK);
    EXPECT_TRUE(major == WMMEDIATYPE_Video);

    Sample sample;
    int pictures = 0;
    std::vector<uint8_t> audio;
    while (open.Next(sample)) {
        if (sample.output == 1) {
            ++pictures;
            ASSERT_GE(sample.bytes.size(), 8u);
            EXPECT_EQ(std::memcmp(sample.bytes.data(), "\x89PNG", 4), 0);
        } else {
            audio.insert(audio.end(), sample.bytes.begin(), sample.bytes.end());
        }
    }
    EXPECT_EQ(pictures, 1);
    EXPECT_EQ(open.Samples(audio), fixture.Reference());
}

TEST(MediaReader, DurationAttributeAnswersSizeFirstThenValue)
{
    const MediaFixture fixture = MediaFixtureNamed("mono-8000-mpeg25.mp3");
    OpenReader open(fixture.Path());
    ASSERT_EQ(open.opened, S_OK);
    MediaRef<IWMHeaderInfo> header;
    ASSERT_EQ(open.reader->QueryInterface(IID_IWMHeaderInfo, header.ReceiveVoid()), S_OK);
    WORD stream = 0;
    WMT_ATTR_DATATYPE type {};
    WORD length = 0;
    ASSERT_EQ(header->GetAttributeByName(&stream, "Duration", &type, nullptr, &length), S_OK);
    EXPECT_EQ(type, WMT_TYPE_QWORD);
    ASSERT_EQ(length, 8);
    WORD tooShort = 4;
    BYTE small[4];
    EXPECT_LT(header->GetAttributeByName(&stream, "Duration", &type, small, &tooShort), 0);
    QWORD value = 0;
    ASSERT_EQ(
        header->GetAttributeByName(&stream, "Duration", &type, reinterpret_cast<BYTE*>(&value), &length),
        S_OK);
    EXPECT_NEAR(double(value) / kUnits, fixture.Seconds(), 0.15);
    EXPECT_EQ(header->GetAttributeByName(&stream, "Title", &type, nullptr, &length), ASF_E_NOTFOUND);
    MediaRef<IUnknown> other;
    EXPECT_EQ(open.reader->QueryInterface(GUID {1, 2, 3, {4}}, reinterpret_cast<void**>(other.Receive())),
        E_NOINTERFACE);
}

TEST(MediaReader, NamesWithSpacesNonAsciiLettersAndGreatLengthOpen)
{
    const MediaFixture fixture = MediaFixtureNamed("mono-22050-cbr.mp3");
    TempDir dir;
    std::filesystem::path deep = dir.Path();
    // Well past 260 characters in all.
    for (int i = 0; i < 6; ++i)
        deep /= "a folder with a rather long name " + std::to_string(i);
    std::filesystem::create_directories(deep);
    const std::filesystem::path target = deep / "Grüße aus Köln – Übung.MP3";
    std::filesystem::copy_file(fixture.Path(), target);
    ASSERT_GT(target.string().size(), 260u);
    DecodedAudio decoded;
    ASSERT_EQ(DecodeMediaFile(target.c_str(), decoded), S_OK);
    EXPECT_EQ(AsSamples(decoded.pcm), fixture.Reference());
}

TEST(MediaReader, MissingFilesDirectoriesAndPipesFailWithoutBlocking)
{
    TempDir dir;
    DecodedAudio decoded;
    EXPECT_EQ(DecodeMediaFile(dir.File("absent.mp3").c_str(), decoded), NS_E_FILE_NOT_FOUND);
    EXPECT_LT(DecodeMediaFile(dir.Path().c_str(), decoded), 0);
    const std::string fifo = dir.File("pipe.mp3");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_LT(DecodeMediaFile(fifo.c_str(), decoded), 0);
    EXPECT_EQ(DecodeMediaFile("", decoded), E_INVALIDARG);
}

TEST(MediaReader, PlaylistsCannotMakeTheReaderOpenOtherFiles)
{
    const MediaFixture fixture = MediaFixtureNamed("mono-22050-cbr.mp3");
    TempDir dir;
    const std::string concat = dir.File("list.mp3");
    std::ofstream(concat) << "ffconcat version 1.0\nfile '" << fixture.Path() << "'\n";
    const std::string playlist = dir.File("list.m3u8");
    std::ofstream(playlist) << "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:2.0,\n"
                            << fixture.Path() << "\n#EXT-X-ENDLIST\n";
    for (const std::string& list : {concat, playlist}) {
        DecodedAudio decoded;
        const HRESULT result = DecodeMediaFile(list.c_str(), decoded);
        EXPECT_TRUE(FAILED(result) || decoded.pcm.empty()) << list;
    }
}

TEST(MediaReader, ReaderRefusesWorkWithoutAnOpenFile)
{
    MediaRef<IWMSyncReader> reader;
    ASSERT_EQ(WMCreateSyncReader(nullptr, 0, reader.Receive()), S_OK);
    DWORD count = 0;
    EXPECT_LT(reader->GetOutputCount(&count), 0);
    EXPECT_LT(reader->SetRange(0, 0), 0);
    MediaRef<INSSBuffer> sample;
    QWORD time = 0, duration = 0;
    DWORD flags = 0, output = 0;
    EXPECT_LT(reader->GetNextSample(0, sample.Receive(), &time, &duration, &flags, &output, nullptr), 0);
    MediaRef<IWMHeaderInfo> header;
    EXPECT_EQ(reader->QueryInterface(IID_IWMHeaderInfo, header.ReceiveVoid()), E_NOINTERFACE);
    EXPECT_EQ(reader->Open(MediaFixtureNamed("mono-22050-cbr.mp3").Path().c_str()), S_OK);
    EXPECT_EQ(reader->Open(MediaFixtureNamed("mono-22050-cbr.mp3").Path().c_str()), NS_E_INVALID_REQUEST);
    EXPECT_EQ(reader->SetRange(0, 5), E_INVALIDARG);
    EXPECT_EQ(reader->Close(), S_OK);
}

// Going back to the start opens the file again without analysing its streams a second time.
// Some containers (MPEG program and transport streams) make their streams only as their packets
// appear: those must still be read after the reopening, and give the same audio.
// Opening a file reads it until every audio stream has given its first frame, and hands out what
// it read first; going back to the start opens the file again. Both readings give the same audio,
// also for containers that make their streams while they are read (MPEG program and transport
// streams) and for a stream that starts so late that what comes before it is read again.
TEST(MediaReader, FilesReadTheSameFromOpeningAndAfterARestart)
{
    TempDir dir;
    const std::string tone = " -f lavfi -i sine=frequency=500:duration=";
    const struct {
        const char* name;
        std::string input;
        const char* format;
        double seconds;
    } files[] = {
        {"mpeg.mp3", tone + "3 -c:a mp2", "mpeg", 3},
        {"mpegts.mp3", tone + "3 -c:a mp2", "mpegts", 3},
        {"late.mka", tone + "46 -itsoffset 45" + tone + "1 -map 0 -map 1 -c:a pcm_s16le", "matroska", 46},
    };
    for (const auto& file : files) {
        const std::string path = dir.File(file.name);
        ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y" + file.input + " -ac 2 -ar 48000 -f "
                      + file.format + " '" + path + "'")
                                  .c_str()),
            0);
        OpenReader open(path);
        ASSERT_EQ(open.opened, S_OK) << file.name;
        const std::vector<uint8_t> first = open.ReadAllBytes();
        EXPECT_NEAR(static_cast<double>(first.size()) / open.format.nAvgBytesPerSec, file.seconds, 0.05)
            << file.name;
        ASSERT_EQ(open.reader->SetRange(0, 0), S_OK);
        EXPECT_EQ(open.ReadAllBytes(), first) << file.name;
    }
}

// Whatever the decoder's sample layout (planar or packed, float or 16-bit, two channels or more),
// the reader's interleaved samples are ffmpeg's decode of the file, bit for bit.
TEST(MediaReader, EverySampleLayoutReadsAsFfmpegDecodesIt)
{
    TempDir dir;
    const std::string tones = "aevalsrc=sin(2*PI*500*t)|0.5*sin(2*PI*700*t)|0.25*sin(2*PI*900*t)"
                              "|0.125*sin(2*PI*1100*t)|0.3*sin(2*PI*300*t)|0.2*sin(2*PI*200*t):s=44100:d=2";
    const struct {
        const char* name;
        const char* codec;
        int channels;
    } files[] = {
        {"four.flac", "flac", 4}, // 16-bit
        {"four.m4a", "aac", 4}, // planar float
        {"two.ogg", "libvorbis", 2}, // planar float, the two-channel path
        {"three.mka", "pcm_s16le", 3}, // packed 16-bit
        {"six.mka", "pcm_f32le", 6}, // packed float
    };
    for (const auto& file : files) {
        const std::string path = dir.File(file.name);
        ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i '" + tones + "' -ac "
                      + std::to_string(file.channels) + " -c:a " + file.codec + " '" + path + "'")
                                  .c_str()),
            0)
            << file.name;
        OpenReader open(path);
        ASSERT_EQ(open.opened, S_OK) << file.name;
        ASSERT_EQ(open.format.nChannels, file.channels) << file.name;
        const bool floating = open.format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
        const std::string peer = dir.File("peer.raw");
        ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -i '" + path + "' -map 0:a:0 -f "
                      + (floating ? "f32le" : "s16le") + " '" + peer + "'")
                                  .c_str()),
            0);
        const std::vector<uint8_t> expected = ReadBytes(peer);
        EXPECT_TRUE(open.ReadAllBytes() == expected) << file.name;
    }
}

// Past its first samples the reader decodes ahead on a thread of its own. Whatever the caller
// does while that thread runs (go back to the start, close, let go of the reader), the samples it gets are
// those of a reading from start to end, in order, and the end stays the end.
TEST(MediaReaderThreads, ReadingAheadKeepsOrderThroughRestartsAndStopsWhenTold)
{
    TempDir dir;
    for (const char* name : {"long.mp3", "long.wma"}) {
        const std::string path = dir.File(name);
        ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=12 -ac 2 "
                               "-ar 44100 -b:a 64k '"
                      + path + "'")
                                  .c_str()),
            0);
        OpenReader whole(path);
        ASSERT_EQ(whole.opened, S_OK) << name;
        std::vector<Sample> expected;
        for (Sample sample; whole.Next(sample);)
            expected.push_back(sample);
        ASSERT_GT(expected.size(), 200u) << name;
        EXPECT_EQ(whole.last, NS_E_NO_MORE_SAMPLES) << name;
        Sample sample;
        EXPECT_FALSE(whole.Next(sample)) << name;
        EXPECT_EQ(whole.last, NS_E_NO_MORE_SAMPLES) << name;

        // Back to the start before and after the thread started.
        std::vector<uint8_t> all;
        for (const Sample& want : expected)
            all.insert(all.end(), want.bytes.begin(), want.bytes.end());
        for (int before : {1, 70, 150}) {
            OpenReader restarted(path);
            for (int i = 0; i < before; ++i)
                ASSERT_TRUE(restarted.Next(sample)) << name;
            ASSERT_EQ(restarted.reader->SetRange(0, 0), S_OK);
            EXPECT_EQ(restarted.ReadAllBytes(), all) << name << " after " << before;
        }
        OpenReader closed(path);
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(closed.Next(sample));
        EXPECT_EQ(closed.reader->Close(), S_OK);
        EXPECT_EQ(closed.reader->Open(path.c_str()), S_OK);
        for (const Sample& want : expected) {
            ASSERT_TRUE(closed.Next(sample)) << name;
            EXPECT_EQ(sample.time, want.time);
            EXPECT_EQ(sample.bytes, want.bytes);
        }

        OpenReader released(path); // let go of while its thread reads ahead
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(released.Next(sample));
        released.reader.Reset();
    }
}
