#include "cd/CdTrackStream.h"
#include "encoders/WaveEncoder.h"
#include "platform/Heap.h"
#include "platform/acm/Acm.h"
#include "support/CdTestDisc.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace testing_support;

namespace {

constexpr uint32_t kFrame = CdTestDisc::kFrameBytes;

class CdTrackReading : public ::testing::Test {
protected:
    void SetUp() override
    {
        CdListSystemDrives(false);
        CdForgetRegisteredDrives();
        CdResetReadFaults();
    }
    void TearDown() override
    {
        CdForgetRegisteredDrives();
        CdResetReadFaults();
    }

    CdTestDisc& Insert(std::vector<CdTestTrack> layout, const std::string& name = "disc")
    {
        discs.push_back(std::make_unique<CdTestDisc>(dir.Path(), std::move(layout), name));
        EXPECT_TRUE(CdRegisterDrive(discs.back()->cuePath));
        return *discs.back();
    }

    // Every buffer up to the end, with the size of each.
    std::vector<uint8_t> ReadAll(CdTrackStream& stream, std::vector<uint32_t>* sizes = nullptr)
    {
        std::vector<uint8_t> bytes;
        for (int guard = 0; guard < 100000; ++guard) {
            AudioBufferRef buffer = stream.GetBuffer();
            if (buffer.IsEnd())
                return bytes;
            EXPECT_EQ(buffer.GetKind(), Output);
            if (sizes != nullptr)
                sizes->push_back(buffer.GetLength());
            bytes.insert(bytes.end(), buffer.GetData(), buffer.GetData() + buffer.GetLength());
        }
        ADD_FAILURE() << "the stream never ended";
        return bytes;
    }

    std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, uint32_t fromFrame)
    {
        return std::vector<uint8_t>(bytes.begin() + fromFrame * kFrame, bytes.end());
    }

    ScopedMessages messages;
    TempDir dir;
    std::vector<std::unique_ptr<CdTestDisc>> discs;
};

TEST_F(CdTrackReading, ConstructionSetsTheDefaultFormatWithoutTouchingADrive)
{
    const long reads = CdReadCount();
    CdTrackStream stream;
    DWORD capacity = 0;
    ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &capacity), MMSYSERR_NOERROR);
    EXPECT_EQ(stream.formatRecord.size(), capacity);
    const WAVEFORMATEX* format = stream.GetFormat();
    EXPECT_EQ(format->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format->nChannels, 2);
    EXPECT_EQ(format->nSamplesPerSec, 44100u);
    EXPECT_EQ(format->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(format->nBlockAlign, 4);
    EXPECT_EQ(format->wBitsPerSample, 16);
    EXPECT_EQ(format->cbSize, 0);
    EXPECT_FALSE(stream.discLoaded.load());
    EXPECT_TRUE(stream.drives.empty());
    EXPECT_EQ(stream.trackBuffer->capacity, 61152u);
    EXPECT_EQ(CdReadCount(), reads);
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(CdTrackReading, WithoutATrackBufferTheStreamSaysSoAndOpensNothing)
{
    Insert({{false, 20}});
    HeapFailAfter(0);
    CdTrackStream stream;
    HeapFailNever();
    ASSERT_EQ(messages->Texts(), std::vector<std::string> {"NewTrackBuf error"});
    EXPECT_FALSE(stream.OpenTrack(0));
    EXPECT_TRUE(stream.GetBuffer().IsEnd());
}

TEST_F(CdTrackReading, NoDriveNoDiscNoAudioMeansNoTrack)
{
    CdTrackStream none;
    EXPECT_FALSE(none.LoadDisc());
    EXPECT_FALSE(none.OpenTrack(0));
    EXPECT_TRUE(none.GetBuffer().IsEnd());
    EXPECT_EQ(none.GetPosition(), 0.0);
    EXPECT_EQ(none.GetLength(), 0.0);
    none.Rewind(); // nothing opened: harmless
    none.Seek(3);

    Insert({{true, 30}, {true, 20}});
    CdTrackStream dataOnly;
    EXPECT_FALSE(dataOnly.OpenTrack(0));
    EXPECT_FALSE(dataOnly.discLoaded.load());
    EXPECT_TRUE(dataOnly.tracks.empty());
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(CdTrackReading, TwelveTracksAreLabelledAndMeasuredUpToTheNextEntry)
{
    std::vector<CdTestTrack> layout;
    for (uint32_t k = 0; k < 12; ++k)
        layout.push_back({false, 20 + 7 * k});
    layout[3].frames = 224; // 2.99 s
    layout[4].frames = 225; // 3 s
    CdTestDisc& disc = Insert(layout);
    CdTrackStream stream;
    ASSERT_TRUE(stream.LoadDisc());
    ASSERT_EQ(stream.tracks.size(), 12u);
    for (size_t k = 0; k < 12; ++k) {
        const CdTrack& track = stream.tracks[k];
        EXPECT_EQ(track.number, static_cast<int32_t>(k + 1));
        EXPECT_EQ(track.label, (k < 9 ? "Track 0" : "Track ") + std::to_string(k + 1));
        EXPECT_EQ(track.start.load(), disc.Start(k));
        EXPECT_EQ(track.length.load(), disc.Frames(k));
        EXPECT_EQ(track.seconds, disc.Frames(k) / 75);
        EXPECT_EQ(track.ripFormat, (std::array<int32_t, 3> {0, 1, 1}));
    }
    EXPECT_EQ(stream.tracks[3].seconds, 2u);
    EXPECT_EQ(stream.tracks[4].seconds, 3u);
    EXPECT_EQ(stream.tracks[11].start.load() + stream.tracks[11].length.load(), disc.LeadOut());
}

TEST_F(CdTrackReading, DataTracksAreSkippedAndNotCounted)
{
    CdTestDisc& first = Insert({{true, 50}, {false, 30}, {false, 22}, {false, 15}}, "datafirst");
    CdTrackStream stream;
    ASSERT_TRUE(stream.LoadDisc());
    ASSERT_EQ(stream.tracks.size(), 3u);
    EXPECT_EQ(stream.tracks[0].label, "Track 01");
    EXPECT_EQ(stream.tracks[0].start.load(), first.Start(1));
    EXPECT_EQ(stream.tracks[2].number, 3);

    CdForgetRegisteredDrives();
    CdTestDisc& last = Insert({{false, 30}, {false, 22}, {true, 40}}, "datalast");
    CdTrackStream enhanced;
    ASSERT_TRUE(enhanced.LoadDisc());
    ASSERT_EQ(enhanced.tracks.size(), 2u);
    EXPECT_EQ(enhanced.tracks[1].length.load(), 22u)
        << "the last audio track ends where the data track starts";
    EXPECT_EQ(enhanced.tracks[1].start.load() + enhanced.tracks[1].length.load(), last.Start(2));
}

TEST_F(CdTrackReading, OpenTrackCountsFromZeroAndRefusesIndicesPastTheList)
{
    std::vector<CdTestTrack> layout(12, CdTestTrack {false, 10});
    CdTestDisc& disc = Insert(layout);
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(0));
    EXPECT_EQ(stream.currentTrack.load(), &stream.tracks[0]);
    ASSERT_TRUE(stream.OpenTrack(-3));
    EXPECT_EQ(stream.currentTrack.load(), &stream.tracks[0]);
    ASSERT_TRUE(stream.OpenTrack(7));
    EXPECT_EQ(stream.currentTrack.load()->label, "Track 08");
    EXPECT_EQ(stream.nextFrame.load(), disc.Start(7));
    EXPECT_EQ(stream.framesLeft, 10);
    EXPECT_FALSE(stream.OpenTrack(12));
    EXPECT_FALSE(stream.OpenTrack(0x7FFFFFFF));
    EXPECT_EQ(stream.currentTrack.load()->label, "Track 08") << "a refused index changes nothing";

    const WAVEFORMATEX* format = stream.GetFormat();
    EXPECT_EQ(format->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format->nChannels, 2);
    EXPECT_EQ(format->nSamplesPerSec, 44100u);
    EXPECT_EQ(format->wBitsPerSample, 16);
    EXPECT_EQ(format->nBlockAlign, 4);
    EXPECT_EQ(format->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(stream.bufferSize, 17640u);
}

TEST_F(CdTrackReading, EveryTrackDeliversItsOwnFramesInSevens)
{
    CdTestDisc& disc = Insert({{false, 30}, {false, 22}, {false, 15}});
    for (int32_t k = 0; k < 3; ++k) {
        CdTrackStream stream;
        ASSERT_TRUE(stream.OpenTrack(k));
        std::vector<uint32_t> sizes;
        const std::vector<uint8_t> bytes = ReadAll(stream, &sizes);
        EXPECT_EQ(bytes, disc.TrackBytes(static_cast<size_t>(k))) << "track " << k + 1;
        const uint32_t frames = disc.Frames(static_cast<size_t>(k));
        ASSERT_EQ(sizes.size(), (frames + 6) / 7);
        for (size_t i = 0; i + 1 < sizes.size(); ++i)
            EXPECT_EQ(sizes[i], 7 * kFrame);
        EXPECT_EQ(sizes.back(), (frames % 7 == 0 ? 7 : frames % 7) * kFrame);
        EXPECT_TRUE(stream.GetBuffer().IsEnd()) << "the end is final";
    }
}

TEST_F(CdTrackReading, AThreeMinuteTrackReadsIn1928FullBuffersAndOneOfFourFrames)
{
    CdTestDisc& disc = Insert({{false, 13500}});
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(0));
    EXPECT_EQ(stream.tracks[0].seconds, 180u);
    const long opened = CdOpenCount();
    std::vector<uint32_t> sizes;
    const std::vector<uint8_t> bytes = ReadAll(stream, &sizes);
    EXPECT_EQ(CdOpenCount() - opened, 1) << "the image is opened once for all 1929 reads";
    ASSERT_EQ(sizes.size(), 1929u);
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 16464u), 1928);
    EXPECT_EQ(sizes.back(), 9408u);
    EXPECT_TRUE(bytes == disc.TrackBytes(0));
    EXPECT_DOUBLE_EQ(stream.GetLength(), 180.0);
    EXPECT_DOUBLE_EQ(stream.GetPosition(), 180.0);
}

TEST_F(CdTrackReading, SeekAndSkipsMoveBy75FramesASecondWithinTheTrack)
{
    CdTestDisc& disc = Insert({{false, 40}, {false, 1000}, {false, 30}});
    const std::vector<uint8_t> audio = disc.TrackBytes(1);
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(1));
    const uint32_t start = disc.Start(1);

    stream.Seek(10);
    EXPECT_EQ(stream.nextFrame.load(), start + 750);
    EXPECT_EQ(stream.framesLeft, 250);
    EXPECT_DOUBLE_EQ(stream.GetPosition(), 10.0);
    EXPECT_EQ(ReadAll(stream), Slice(audio, 750));

    stream.Seek(-1);
    EXPECT_EQ(stream.framesLeft, 0) << "a negative seek is ignored";
    stream.Seek(100);
    EXPECT_EQ(stream.nextFrame.load(), start + 1000);
    EXPECT_EQ(stream.framesLeft, 0);
    EXPECT_TRUE(stream.GetBuffer().IsEnd());

    stream.Rewind();
    EXPECT_EQ(stream.nextFrame.load(), start);
    stream.SkipForward(2);
    stream.SkipForward(3);
    EXPECT_EQ(stream.nextFrame.load(), start + 375);
    EXPECT_EQ(stream.framesLeft, 625);
    stream.SkipBack(1);
    EXPECT_DOUBLE_EQ(stream.GetPosition(), 4.0);
    EXPECT_EQ(ReadAll(stream), Slice(audio, 300));

    stream.Seek(2);
    stream.SkipBack(5);
    EXPECT_EQ(stream.nextFrame.load(), start);
    EXPECT_EQ(stream.framesLeft, 1000);
    stream.SkipForward(60);
    EXPECT_EQ(stream.framesLeft, 0);
    EXPECT_EQ(stream.nextFrame.load(), start + 1000);
    EXPECT_TRUE(stream.GetBuffer().IsEnd());
    EXPECT_DOUBLE_EQ(stream.GetLength(), 1000.0 / 75);
}

TEST_F(CdTrackReading, SkipsNeverLeaveTheTrack)
{
    CdTestDisc& disc = Insert({{false, 300}, {false, 300}});
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(0)); // starts at address 0
    stream.SkipForward(1);
    stream.SkipBack(3); // more than the address itself
    EXPECT_EQ(stream.nextFrame.load(), 0u);
    EXPECT_EQ(stream.framesLeft, 300);
    stream.SkipForward(-2);
    stream.SkipBack(-2);
    EXPECT_EQ(stream.nextFrame.load(), 0u) << "negative skips are ignored";
    EXPECT_EQ(stream.framesLeft, 300);
    stream.SkipForward(0x7FFFFFFF);
    EXPECT_EQ(stream.nextFrame.load(), 300u);
    stream.SkipBack(0x7FFFFFFF);
    EXPECT_EQ(stream.nextFrame.load(), 0u);
    stream.Seek(0x7FFFFFFF);
    EXPECT_EQ(stream.framesLeft, 0);
    EXPECT_EQ(ReadAll(stream).size(), 0u) << "nothing of track 2 leaks into track 1";
    stream.Rewind();
    EXPECT_EQ(ReadAll(stream), disc.TrackBytes(0));
}

TEST_F(CdTrackReading, AReadThatFailsTwiceSucceedsOnTheThirdAttempt)
{
    CdTestDisc& disc = Insert({{false, 20}});
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(0));
    CdFailNextReads(2);
    const long before = CdReadCount();
    AudioBufferRef buffer = stream.GetBuffer();
    EXPECT_EQ(CdReadCount() - before, 3);
    ASSERT_EQ(buffer.GetLength(), 7 * kFrame);
    const std::vector<uint8_t> audio = disc.TrackBytes(0);
    EXPECT_EQ(std::memcmp(buffer.GetData(), audio.data(), 7 * kFrame), 0);
    EXPECT_TRUE(stream.discLoaded.load());
    EXPECT_EQ(stream.nextFrame.load(), 7u);
}

TEST_F(CdTrackReading, ThreeFailedAttemptsEndTheStreamEarly)
{
    CdTestDisc& disc = Insert({{false, 20}});
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(0));
    ASSERT_FALSE(stream.GetBuffer().IsEnd());
    CdFailNextReads(3);
    EXPECT_TRUE(stream.GetBuffer().IsEnd());
    EXPECT_EQ(stream.GetFailure(), "reading the disc failed at frame 7"); // not the track's end
    EXPECT_FALSE(stream.discLoaded.load());
    EXPECT_EQ(stream.GetPosition(), 0.0);
    EXPECT_EQ(stream.GetLength(), 0.0);
    EXPECT_TRUE(stream.GetBuffer().IsEnd()) << "an ended stream stays ended";

    ASSERT_TRUE(stream.OpenTrack(0)) << "opening again loads the disc again";
    EXPECT_EQ(stream.drives.size(), 1u);
    EXPECT_EQ(ReadAll(stream), disc.TrackBytes(0));
    EXPECT_EQ(stream.GetFailure(), "");
}

// The image is opened once for the whole track: its files going away after the first read
// take nothing from the stream, which delivers the rest and ends as usual. A stream opened
// after that finds no disc.
TEST_F(CdTrackReading, AnImageRemovedWhileItsTrackIsReadStillGivesTheWholeTrack)
{
    CdTestDisc& disc = Insert({{false, 30}});
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(0));
    AudioBufferRef first = stream.GetBuffer();
    ASSERT_FALSE(first.IsEnd());
    std::filesystem::remove(disc.binPath);
    std::filesystem::remove(disc.cuePath);
    std::vector<uint8_t> bytes(first.GetData(), first.GetData() + first.GetLength());
    const std::vector<uint8_t> rest = ReadAll(stream);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    EXPECT_EQ(bytes, disc.TrackBytes(0));
    EXPECT_EQ(stream.GetFailure(), "");
    CdTrackStream later;
    EXPECT_FALSE(later.OpenTrack(0));
}

TEST_F(CdTrackReading, AShortReadDeliversOnlyWhatCameAndLosesNoFrame)
{
    CdTestDisc& disc = Insert({{false, 30}});
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(0));
    CdShortenNextReads(1, 2 * kFrame + 100); // two whole frames and a piece
    AudioBufferRef first = stream.GetBuffer();
    EXPECT_EQ(first.GetLength(), 2 * kFrame);
    EXPECT_EQ(stream.nextFrame.load(), 2u);
    EXPECT_EQ(stream.framesLeft, 28);
    std::vector<uint8_t> bytes(first.GetData(), first.GetData() + first.GetLength());
    const std::vector<uint8_t> rest = ReadAll(stream);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    EXPECT_EQ(bytes, disc.TrackBytes(0));
}

TEST_F(CdTrackReading, ReadsThatBringNoWholeFrameCountAsFailures)
{
    Insert({{false, 30}});
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(0));
    CdShortenNextReads(2, 0);
    AudioBufferRef buffer = stream.GetBuffer();
    EXPECT_EQ(buffer.GetLength(), 7 * kFrame) << "the third attempt brought the frames";
    CdShortenNextReads(3, kFrame - 1);
    EXPECT_TRUE(stream.GetBuffer().IsEnd());
    EXPECT_FALSE(stream.discLoaded.load());
}

TEST_F(CdTrackReading, ReloadingDoesNotGrowTheDriveListAndReadsOnlyTheFirstDrive)
{
    Insert({{false, 10}, {false, 10}}, "first");
    Insert({{false, 10}, {false, 10}, {false, 10}, {false, 10}, {false, 10}}, "second");
    CdTrackStream stream;
    EXPECT_EQ(stream.ListDrives(), 2);
    EXPECT_EQ(stream.ListDrives(), 2);
    EXPECT_EQ(stream.drives[0].id, "IMAGE first.cue");
    ASSERT_TRUE(stream.OpenTrack(0));
    EXPECT_EQ(stream.tracks.size(), 2u);
    EXPECT_FALSE(stream.OpenTrack(4)) << "track 5 is on the second drive only";
    CdFailNextReads(3);
    EXPECT_TRUE(stream.GetBuffer().IsEnd());
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(stream.OpenTrack(1));
    EXPECT_EQ(stream.drives.size(), 2u);
    EXPECT_EQ(stream.drives[0].id, "IMAGE first.cue");
}

TEST_F(CdTrackReading, ATrackRippedToWavHoldsTheTrackBytes)
{
    CdTestDisc& disc = Insert({{false, 25}, {false, 61}, {false, 12}});
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(1));
    WaveEncoder encoder;
    const std::string out = dir.File("track02.wav");
    encoder.SetSource(&stream);
    encoder.SetOutputPath(out.c_str());
    ASSERT_TRUE(encoder.Encode());
    const std::vector<uint8_t> wav = ReadBytes(out);
    ASSERT_EQ(wav.size(), 44u + 61 * kFrame);
    EXPECT_EQ(Le16(wav, 22), 2);
    EXPECT_EQ(Le32(wav, 24), 44100u);
    EXPECT_EQ(Le16(wav, 34), 16);
    EXPECT_EQ(Le32(wav, 40), 61 * kFrame);
    EXPECT_TRUE(std::equal(wav.begin() + 44, wav.end(), disc.TrackBytes(1).begin()));
}

} // namespace

namespace {

// A BIN cut short (an interrupted copy): the disc ends where the file ends; nothing past it is
// read, and what is there still comes out right. Cut before a track's start, the table of
// contents makes no sense and no track opens.
TEST_F(CdTrackReading, ACutShortImageGivesWhatItHoldsAndNothingMore)
{
    CdTestDisc& disc = Insert({{false, 30}, {false, 40}, {false, 20}});
    std::filesystem::resize_file(disc.binPath, uint64_t {80} * kFrame + 1000);
    CdTrackStream stream;
    ASSERT_TRUE(stream.OpenTrack(2));
    EXPECT_EQ(stream.tracks[2].length.load(), 10u);
    const std::vector<uint8_t> bytes = ReadAll(stream);
    const std::vector<uint8_t> audio = disc.TrackBytes(2);
    ASSERT_EQ(bytes.size(), 10u * kFrame);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), audio.begin()));

    std::filesystem::resize_file(disc.binPath, uint64_t {50} * kFrame);
    CdTrackStream cut;
    EXPECT_FALSE(cut.OpenTrack(0));
}

} // namespace
