#include "platform/cdrom/CdRom.h"
#include "platform/Heap.h"
#include "support/CdTestDisc.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>

#include <sys/stat.h>

using namespace testing_support;

namespace {

uint32_t Address(const CDTOCENTRY& entry)
{
    return uint32_t {entry.address[0]} << 24 | uint32_t {entry.address[1]} << 16
        | uint32_t {entry.address[2]} << 8 | entry.address[3];
}

CDHANDLEREQUEST RequestFor(const CDDRIVEENTRY& entry)
{
    return CDHANDLEREQUEST {12, 1, entry.adapter, entry.target, entry.unit, 0, 0, 0, 0};
}

struct TrackBufferFree {
    void operator()(CDTRACKBUFFER* buffer) const { FreeTrackBuf(buffer); }
};
using TrackBuffer = std::unique_ptr<CDTRACKBUFFER, TrackBufferFree>;

class CdLibrary : public ::testing::Test {
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

    // Registers the disc and opens it as the first listed drive.
    HCDROM Open(const CdTestDisc& disc)
    {
        EXPECT_TRUE(CdRegisterDrive(disc.cuePath));
        CDDRIVELIST list {};
        EXPECT_GE(GetCDList(&list), 1u);
        const CDHANDLEREQUEST request = RequestFor(list.entries[0]);
        return GetCDHandle(&request);
    }

    TempDir dir;
};

TEST(CdRecords, LayoutsMatchTheLibraryRecords)
{
    EXPECT_EQ(offsetof(CDDRIVELIST, entries), 2u);
    EXPECT_EQ(offsetof(CDDRIVEENTRY, id), 4u);
    EXPECT_EQ(offsetof(CDDRIVEENTRY, info), 69u);
    EXPECT_EQ(offsetof(CDHANDLEREQUEST, jitterCorrection), 6u);
    EXPECT_EQ(offsetof(CDHANDLEREQUEST, overlapFrames), 11u);
    EXPECT_EQ(offsetof(CDTOC, entries), 4u);
    EXPECT_EQ(offsetof(CDTOCENTRY, address), 4u);
    EXPECT_EQ(offsetof(CDTRACKBUFFER, byteCount), 12u);
    EXPECT_EQ(offsetof(CDTRACKBUFFER, frames), 24u);
}

TEST(CdRecords, NewTrackBufZeroesTheHeaderAndSetsTheCapacity)
{
    TrackBuffer buffer(NewTrackBuf(26));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->capacity, 61152u);
    EXPECT_EQ(
        buffer->startFrame + buffer->frameCount + buffer->byteCount + buffer->status + buffer->startOffset,
        0u);
    EXPECT_EQ(NewTrackBuf(0), nullptr);
    EXPECT_EQ(NewTrackBuf(0xFFFFFFFFu), nullptr);
    HeapFailAfter(0);
    EXPECT_EQ(NewTrackBuf(26), nullptr);
    HeapFailNever();
}

TEST_F(CdLibrary, RegisteredImagesAreListedFirstInOrder)
{
    CdTestDisc first(dir.Path(), {{false, 10}}, "first");
    CdTestDisc second(dir.Path(), {{false, 10}}, "second");
    ASSERT_TRUE(CdRegisterDrive(first.cuePath));
    ASSERT_TRUE(CdRegisterDrive(second.cuePath));
    ASSERT_TRUE(CdRegisterDrive(first.cuePath)); // again: keeps its place, not listed twice

    CDDRIVELIST list {};
    EXPECT_EQ(GetCDList(&list), 2u);
    ASSERT_EQ(list.count, 2);
    EXPECT_STREQ(list.entries[0].id, "IMAGE first.cue");
    EXPECT_STREQ(list.entries[1].id, "IMAGE second.cue");
    EXPECT_NE(std::memcmp(&list.entries[0], &list.entries[1], 4), 0) << "two drives share one address";

    CdListSystemDrives(true); // whatever drives this machine has come after the images
    CDDRIVELIST withSystem {};
    EXPECT_GE(GetCDList(&withSystem), 2u);
    CdListSystemDrives(false);
    EXPECT_STREQ(withSystem.entries[0].id, "IMAGE first.cue");
    EXPECT_STREQ(withSystem.entries[1].id, "IMAGE second.cue");
}

TEST_F(CdLibrary, WhatIsNotADiscIsRefused)
{
    EXPECT_FALSE(CdRegisterDrive(""));
    EXPECT_FALSE(CdRegisterDrive(dir.File("missing.cue")));
    WriteBytes(dir.File("garbage.cue"), {'n', 'o', 't', ' ', 'a', ' ', 'c', 'u', 'e', 0xFF, '\n'});
    EXPECT_FALSE(CdRegisterDrive(dir.File("garbage.cue")));
    WriteBytes(dir.File("orphan.cue"),
        std::vector<uint8_t> {'F', 'I', 'L', 'E', ' ', '"', 'x', '.', 'b', 'i', 'n', '"', ' ', 'B', 'I', 'N',
            'A', 'R', 'Y', '\n'});
    EXPECT_FALSE(CdRegisterDrive(dir.File("orphan.cue")));
    WriteBytes(dir.File("short.nrg"), {'N', 'E', 'R', '5'});
    EXPECT_FALSE(CdRegisterDrive(dir.File("short.nrg")));
    CDDRIVELIST list {};
    EXPECT_EQ(GetCDList(&list), 0u);
}

TEST_F(CdLibrary, TocListsTracksControlBitsAndLeadOut)
{
    CdTestDisc disc(dir.Path(), {{true, 40}, {false, 30}, {false, 22}, {true, 9}});
    const HCDROM handle = Open(disc);
    ASSERT_NE(handle, 0u);
    CDTOC toc;
    std::memset(&toc, 0x55, sizeof toc);
    ASSERT_EQ(ReadTOC(handle, &toc), 1u);
    EXPECT_EQ(toc.firstTrack, 1);
    EXPECT_EQ(toc.lastTrack, 4);
    const bool data[] = {true, false, false, true};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(toc.entries[k].trackNumber, k + 1);
        EXPECT_EQ((toc.entries[k].adrControl & CD_CONTROL_DATA) != 0, data[k]) << "track " << k + 1;
        EXPECT_EQ(Address(toc.entries[k]), disc.Start(static_cast<size_t>(k)));
    }
    EXPECT_EQ(toc.entries[4].trackNumber, CD_LEADOUT_TRACK);
    EXPECT_EQ(Address(toc.entries[4]), 101u);
    EXPECT_EQ(toc.entries[5].trackNumber, 0) << "the record past the lead-out stays zeroed";
    EXPECT_EQ(CloseCDHandle(handle), 1u);
    EXPECT_EQ(CloseCDHandle(handle), 0u);
    EXPECT_EQ(ReadTOC(handle, &toc), 0u) << "a closed handle still reads";
}

TEST_F(CdLibrary, ReadsDeliverTheStoredLittleEndianFrames)
{
    CdTestDisc disc(dir.Path(), {{false, 12}, {false, 9}});
    const HCDROM handle = Open(disc);
    ASSERT_NE(handle, 0u);
    TrackBuffer buffer(NewTrackBuf(26));
    buffer->startFrame = 10;
    buffer->frameCount = 5;
    ASSERT_EQ(ReadCDAudioLBA(handle, buffer.get()), 1u);
    EXPECT_EQ(buffer->byteCount, 5 * CD_FRAME_BYTES);
    std::vector<uint8_t> expected = disc.TrackBytes(0);
    const std::vector<uint8_t> second = disc.TrackBytes(1);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(std::memcmp(buffer->frames, expected.data() + 10 * CD_FRAME_BYTES, 5 * CD_FRAME_BYTES), 0);
    EXPECT_EQ(buffer->frames[2], static_cast<uint8_t>(CdTestDisc::Right(0, 10 * 588)));

    buffer->startFrame = 19; // runs past the lead-out at 21
    EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 0u);
    EXPECT_EQ(buffer->byteCount, 0u);
    buffer->startFrame = 0;
    buffer->frameCount = 27; // more than the buffer holds
    EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 0u);
    buffer->frameCount = 1;
    EXPECT_EQ(ReadCDAudioLBA(0, buffer.get()), 0u);
    EXPECT_EQ(ReadCDAudioLBA(handle, nullptr), 0u);
    CloseCDHandle(handle);
}

TEST_F(CdLibrary, InjectedFaultsFailOrShortenTheNextReads)
{
    CdTestDisc disc(dir.Path(), {{false, 12}});
    const HCDROM handle = Open(disc);
    TrackBuffer buffer(NewTrackBuf(26));
    buffer->frameCount = 3;
    CdFailNextReads(2);
    const long before = CdReadCount();
    EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 0u);
    EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 0u);
    EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 1u);
    EXPECT_EQ(CdReadCount() - before, 3);
    CdShortenNextReads(1, 100);
    EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 1u);
    EXPECT_EQ(buffer->byteCount, 100u);
    EXPECT_EQ(ReadCDAudioLBA(handle, buffer.get()), 1u);
    EXPECT_EQ(buffer->byteCount, 3 * CD_FRAME_BYTES);
    CloseCDHandle(handle);
}

TEST_F(CdLibrary, ParametersAreKeptPerHandle)
{
    CdTestDisc disc(dir.Path(), {{false, 12}});
    const HCDROM one = Open(disc);
    const HCDROM two = Open(disc);
    ASSERT_NE(one, two);
    EXPECT_EQ(ModifyCDParms(one, CDP_READMODE, 3), 1u);
    EXPECT_EQ(ModifyCDParms(one, CDP_JITTERMODE, 1), 1u);
    EXPECT_EQ(ModifyCDParms(one, 99, 1), 0u);
    EXPECT_EQ(ModifyCDParms(0, CDP_READMODE, 3), 0u);
    EXPECT_EQ(QueryCDParms(one, CDP_READMODE), 3u);
    EXPECT_EQ(QueryCDParms(one, CDP_JITTERMODE), 1u);
    EXPECT_EQ(QueryCDParms(two, CDP_READMODE), 0u);
    CloseCDHandle(one);
    CloseCDHandle(two);
}

TEST_F(CdLibrary, BadRequestsAndForgottenDrivesGiveNoHandle)
{
    CdTestDisc disc(dir.Path(), {{false, 12}});
    ASSERT_TRUE(CdRegisterDrive(disc.cuePath));
    CDDRIVELIST list {};
    ASSERT_EQ(GetCDList(&list), 1u);
    CDHANDLEREQUEST request = RequestFor(list.entries[0]);
    request.size = 11;
    EXPECT_EQ(GetCDHandle(&request), 0u);
    request = RequestFor(list.entries[0]);
    request.target = 200;
    request.adapter = 200;
    EXPECT_EQ(GetCDHandle(&request), 0u);
    EXPECT_EQ(GetCDHandle(nullptr), 0u);
    CdForgetRegisteredDrives();
    request = RequestFor(list.entries[0]);
    EXPECT_EQ(GetCDHandle(&request), 0u);
    CDTOC toc;
    EXPECT_EQ(ReadTOC(0, &toc), 0u);
    EXPECT_EQ(toc.lastTrack, 0);
}

TEST_F(CdLibrary, AnImageWhoseFilesVanishedNoLongerOpens)
{
    CdTestDisc disc(dir.Path(), {{false, 12}});
    ASSERT_TRUE(CdRegisterDrive(disc.cuePath));
    std::filesystem::remove(disc.binPath);
    std::filesystem::remove(disc.cuePath);
    CDDRIVELIST list {};
    ASSERT_EQ(GetCDList(&list), 1u);
    const CDHANDLEREQUEST request = RequestFor(list.entries[0]);
    const HCDROM handle = GetCDHandle(&request);
    CDTOC toc;
    EXPECT_EQ(ReadTOC(handle, &toc), 0u);
    CloseCDHandle(handle);
}

} // namespace

namespace {

std::string Repeat(const std::string& line, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text += line;
    return text;
}

void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST_F(CdLibrary, BigEndianImagesDeliverLittleEndianAudio)
{
    CdTestDisc disc(dir.Path(), {{false, 30}, {false, 22}});
    std::vector<uint8_t> bigEndian = ReadBytes(disc.binPath);
    for (size_t i = 0; i + 1 < bigEndian.size(); i += 2)
        std::swap(bigEndian[i], bigEndian[i + 1]);
    const std::vector<uint8_t> expected = disc.TrackBytes(1);
    TrackBuffer buffer(NewTrackBuf(26));

    // A CUE sheet can say MOTOROLA for a big-endian BIN.
    WriteBytes(dir.File("motorola.bin"), bigEndian);
    const std::string cue = dir.File("motorola.cue");
    std::string sheet = "FILE \"motorola.bin\" MOTOROLA\n";
    sheet += "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:00:30\n";
    WriteText(cue, sheet);
    ASSERT_TRUE(CdRegisterDrive(cue));
    {
        CDDRIVELIST list {};
        ASSERT_EQ(GetCDList(&list), 1u);
        const CDHANDLEREQUEST request = RequestFor(list.entries[0]);
        const HCDROM handle = GetCDHandle(&request);
        buffer->startFrame = 30;
        buffer->frameCount = 7;
        ASSERT_EQ(ReadCDAudioLBA(handle, buffer.get()), 1u);
        EXPECT_EQ(std::memcmp(buffer->frames, expected.data(), 7 * CD_FRAME_BYTES), 0);
        CloseCDHandle(handle);
    }
    CdForgetRegisteredDrives();

    // cdrdao keeps raw audio big-endian.
    const std::string bin = dir.File("disc-be.bin");
    WriteBytes(bin, bigEndian);
    const std::string toc = dir.File("disc.toc");
    WriteText(toc,
        "CD_DA\nTRACK AUDIO\nFILE \"" + bin + "\" 0 00:00:30\nTRACK AUDIO\nFILE \"" + bin
            + "\" 00:00:30 00:00:22\n");
    ASSERT_TRUE(CdRegisterDrive(toc));
    CDDRIVELIST list {};
    ASSERT_EQ(GetCDList(&list), 1u);
    const CDHANDLEREQUEST request = RequestFor(list.entries[0]);
    const HCDROM handle = GetCDHandle(&request);
    CDTOC tocRecord;
    ASSERT_EQ(ReadTOC(handle, &tocRecord), 1u);
    EXPECT_EQ(tocRecord.lastTrack, 2);
    EXPECT_EQ(Address(tocRecord.entries[1]), 30u);
    EXPECT_EQ(Address(tocRecord.entries[2]), 52u);
    buffer->startFrame = 30;
    buffer->frameCount = 7;
    ASSERT_EQ(ReadCDAudioLBA(handle, buffer.get()), 1u);
    EXPECT_EQ(std::memcmp(buffer->frames, expected.data(), 7 * CD_FRAME_BYTES), 0);
    CloseCDHandle(handle);
}

// Sheets the image reader would mis-parse into memory outside its track table.
TEST_F(CdLibrary, HostileSheetsAreRefusedCleanly)
{
    CdTestDisc disc(dir.Path(), {{false, 10}});
    for (const char* name : {"many", "long", "empty", "other", "wave", "ok"})
        std::filesystem::copy_file(disc.binPath, dir.File(std::string(name) + ".bin"));
    const auto bin = [](const std::string& name) { return "FILE \"" + name + ".bin\" BINARY\n"; };
    WriteText(dir.File("many.cue"), bin("many") + Repeat("TRACK 01 AUDIO\nINDEX 01 00:00:00\n", 150));
    EXPECT_FALSE(CdRegisterDrive(dir.File("many.cue")));
    WriteText(dir.File("long.cue"),
        bin("long") + "TRACK 01 AUDIO\nREM " + std::string(5000, 'x') + "\nINDEX 01 00:00:00\n");
    EXPECT_FALSE(CdRegisterDrive(dir.File("long.cue")));
    WriteText(dir.File("empty.cue"), "REM nothing here\n");
    EXPECT_FALSE(CdRegisterDrive(dir.File("empty.cue")));
    // The image reader takes the audio from the BIN named like the sheet, whatever it says.
    WriteText(dir.File("other.cue"), bin("disc") + "TRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    EXPECT_FALSE(CdRegisterDrive(dir.File("other.cue")));
    WriteText(dir.File("wave.cue"), "FILE \"wave.bin\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    EXPECT_FALSE(CdRegisterDrive(dir.File("wave.cue")));

    const std::string file = "FILE \"" + disc.binPath + "\" 0\n";
    WriteText(dir.File("early.toc"), "CD_DA\nISRC \"USABC0000001\"\nTRACK AUDIO\n" + file);
    EXPECT_FALSE(CdRegisterDrive(dir.File("early.toc")));
    WriteText(dir.File("many.toc"), "CD_DA\n" + Repeat("TRACK AUDIO\n" + file, 120));
    EXPECT_FALSE(CdRegisterDrive(dir.File("many.toc")));
    WriteText(dir.File("two.toc"),
        "CD_DA\nTRACK AUDIO\n" + file + "TRACK AUDIO\nFILE \"" + dir.File("other.bin") + "\" 0\n");
    EXPECT_FALSE(CdRegisterDrive(dir.File("two.toc")));
    WriteText(dir.File("wave.toc"), "CD_DA\nTRACK AUDIO\nFILE \"" + dir.File("a.wav") + "\" 0\n");
    EXPECT_FALSE(CdRegisterDrive(dir.File("wave.toc")));

    WriteText(dir.File("ok.cue"), bin("ok") + "TRACK 01 AUDIO\nINDEX 01 00:00:00\n");
    EXPECT_TRUE(CdRegisterDrive(dir.File("ok.cue"))) << "the checks refuse only what is unsafe";
}

TEST_F(CdLibrary, NinetyNineTracksFitTheTableOfContents)
{
    CdTestDisc disc(dir.Path(), std::vector<CdTestTrack>(99, CdTestTrack {false, 2}));
    const HCDROM handle = Open(disc);
    CDTOC toc;
    ASSERT_EQ(ReadTOC(handle, &toc), 1u);
    EXPECT_EQ(toc.lastTrack, 99);
    EXPECT_EQ(toc.entries[99].trackNumber, CD_LEADOUT_TRACK);
    EXPECT_EQ(Address(toc.entries[99]), 198u);
    CloseCDHandle(handle);
}

} // namespace

namespace {

// Things that could make the reader wait for ever, or that are no drive at all.
TEST_F(CdLibrary, OnlyDeviceNodesAndImagesOfRegularFilesAreTaken)
{
    CdTestDisc disc(dir.Path(), {{false, 10}}, "piped");
    std::filesystem::remove(disc.binPath);
    ASSERT_EQ(mkfifo(disc.binPath.c_str(), 0600), 0);
    EXPECT_FALSE(CdRegisterDrive(disc.cuePath));
    ASSERT_EQ(mkfifo(dir.File("drive").c_str(), 0600), 0);
    EXPECT_FALSE(CdRegisterDrive(dir.File("drive")));
    WriteText(dir.File("song.wav"), "RIFF");
    EXPECT_FALSE(CdRegisterDrive(dir.File("song.wav")));
    EXPECT_FALSE(CdRegisterDrive(dir.Path().string()));
    CDDRIVELIST list {};
    EXPECT_EQ(GetCDList(&list), 0u);
}

} // namespace

namespace {

size_t OpenFileCount()
{
    return static_cast<size_t>(std::distance(
        std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

// A long rip opens the drive for every read: nothing may pile up from one open to the next.
TEST_F(CdLibrary, OpeningAndClosingAgainAndAgainLeavesNothingOpen)
{
    CdTestDisc disc(dir.Path(), {{false, 30}, {false, 22}});
    const std::string toc = dir.File("disc.toc");
    WriteText(toc,
        "CD_DA\nTRACK AUDIO\nFILE \"" + disc.binPath + "\" 0 00:00:30\nTRACK AUDIO\nFILE \"" + disc.binPath
            + "\" 00:00:30 00:00:22\n");
    for (const std::string& sheet : {disc.cuePath, toc}) {
        CdForgetRegisteredDrives();
        ASSERT_TRUE(CdRegisterDrive(sheet));
        CDDRIVELIST list {};
        ASSERT_EQ(GetCDList(&list), 1u);
        const CDHANDLEREQUEST request = RequestFor(list.entries[0]);
        TrackBuffer buffer(NewTrackBuf(26));
        const size_t before = OpenFileCount();
        for (int i = 0; i < 1500; ++i) {
            const HCDROM handle = GetCDHandle(&request);
            CDTOC record;
            buffer->startFrame = static_cast<DWORD>(i % 45);
            buffer->frameCount = 7;
            const bool ok = ReadTOC(handle, &record) == 1 && ReadCDAudioLBA(handle, buffer.get()) == 1;
            CloseCDHandle(handle);
            ASSERT_TRUE(ok) << sheet << " failed on opening " << i;
        }
        EXPECT_EQ(OpenFileCount(), before) << sheet;
    }
}

} // namespace
