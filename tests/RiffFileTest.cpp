#include "sources/RiffFile.h"
#include "support/TestSupport.h"
#include "support/WavBytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace testing_support;

namespace {

class RiffWalk : public ::testing::Test {
protected:
    bool Open(const std::vector<uint8_t>& bytes)
    {
        WriteBytes(path, bytes);
        return riff.Open(path.c_str());
    }
    int64_t Position() { return riff.Tell(); }

    ScopedMessages messages;
    TempDir dir;
    std::string path = dir.File("file.wav");
    RiffFile riff;
};

TEST_F(RiffWalk, CanonicalFileFindsFmtThenData)
{
    ASSERT_TRUE(Open(CanonicalWave(PcmFormat(2, 44100, 16), std::vector<uint8_t>(100, 7))));
    EXPECT_STREQ(riff.GetChunkId(), "RIFF");
    EXPECT_STREQ(riff.GetChunkForm(), "WAVE");
    EXPECT_EQ(riff.GetFileSize(), 144);
    EXPECT_EQ(riff.GetRiffSize(), 136 - 4);
    ASSERT_TRUE(riff.Descend("fmt "));
    EXPECT_EQ(riff.GetChunkSize(), 16);
    EXPECT_EQ(riff.GetChunkForm(), nullptr);
    EXPECT_EQ(Position(), 20);
    ASSERT_TRUE(riff.Ascend());
    ASSERT_TRUE(riff.Descend("data"));
    EXPECT_EQ(Position(), 44);
    EXPECT_EQ(riff.GetChunkSize(), 100);
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(RiffWalk, OddChunkIsFollowedByAPadByte)
{
    // "odd " at 12 with 17 bytes ends at 37, so its sibling starts at 38.
    ASSERT_TRUE(Open(Riff({Chunk("odd ", std::vector<uint8_t>(17, 1)), Chunk("next", {1, 2, 3, 4})})));
    ASSERT_TRUE(riff.Descend(nullptr));
    EXPECT_STREQ(riff.GetChunkId(), "odd ");
    ASSERT_TRUE(riff.Ascend());
    EXPECT_EQ(Position(), 38);
    ASSERT_TRUE(riff.Descend(nullptr));
    EXPECT_STREQ(riff.GetChunkId(), "next");
    EXPECT_EQ(Position(), 46);
}

TEST_F(RiffWalk, ListChunkIsSkippedAsAWholeAndCanBeEntered)
{
    const auto list = Riff({Chunk("data", {9, 9}), Chunk("INAM", {'x', 0})}, "INFO", "LIST");
    ASSERT_TRUE(
        Open(Riff({Chunk("fmt ", FmtPayload(PcmFormat(1, 8000, 8))), list, Chunk("data", {1, 2, 3})})));
    ASSERT_TRUE(riff.Descend("data"));
    EXPECT_EQ(riff.GetChunkSize(), 3); // the top-level one, not the one inside the list
    ASSERT_TRUE(riff.Ascend());
    ASSERT_TRUE(riff.Descend("LIST"));
    EXPECT_STREQ(riff.GetChunkForm(), "INFO");
    EXPECT_EQ(riff.GetChunkSize(), static_cast<int64_t>(list.size()) - 12);
    ASSERT_TRUE(riff.Descend("INAM"));
    EXPECT_EQ(riff.GetChunkSize(), 2);
}

TEST_F(RiffWalk, IdsMatchExactlyIncludingTheBlankAndLetterCase)
{
    ASSERT_TRUE(Open(CanonicalWave(PcmFormat(1, 8000, 8), {1, 2})));
    EXPECT_FALSE(riff.Descend("fmt"));
    EXPECT_FALSE(riff.Descend("FMT "));
    // A failed search leaves the stack and puts the stream back at the first child.
    EXPECT_STREQ(riff.GetChunkId(), "RIFF");
    EXPECT_EQ(Position(), 12);
    EXPECT_TRUE(riff.Descend("fmt "));
}

TEST_F(RiffWalk, AscendNeverLeavesTheOuterChunk)
{
    ASSERT_TRUE(Open(CanonicalWave(PcmFormat(1, 8000, 8), {1, 2})));
    EXPECT_FALSE(riff.Ascend());
    EXPECT_STREQ(riff.GetChunkId(), "RIFF");
}

TEST_F(RiffWalk, FilesThatAreNotRiffFailToOpenAndSayWhy)
{
    auto lower = CanonicalWave(PcmFormat(1, 8000, 8), {1, 2});
    std::memcpy(lower.data(), "riff", 4);
    const std::vector<std::vector<uint8_t>> bad = {{}, {'R', 'I', 'F', 'F', 4, 0, 0, 0},
        {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V'}, lower, Riff({}, "WAVE", "RIFX")};
    for (const auto& bytes : bad) {
        EXPECT_FALSE(Open(bytes)) << bytes.size() << " bytes";
        EXPECT_EQ(riff.Stream(), nullptr);
        EXPECT_EQ(riff.GetChunkId(), nullptr);
        EXPECT_EQ(riff.OpenFailure(), RiffFile::kNotRiff);
    }
    EXPECT_FALSE(riff.Open(nullptr));
    EXPECT_FALSE(riff.Open(dir.File("missing.wav").c_str()));
    EXPECT_EQ(riff.OpenFailure(), "No such file or directory");
    EXPECT_FALSE(riff.Open(dir.Path().c_str()));
    EXPECT_EQ(riff.OpenFailure(), "not a regular file (a directory)");
    EXPECT_TRUE(Open(CanonicalWave(PcmFormat(1, 8000, 8), {1, 2})));
    EXPECT_EQ(riff.OpenFailure(), "");
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(RiffWalk, ChunkSizePastTheEndStopsTheSearch)
{
    auto bytes = Riff({Chunk("fmt ", FmtPayload(PcmFormat(1, 8000, 8))), Chunk("junk", {1, 2}, 1000000),
        Chunk("data", {1, 2})});
    ASSERT_TRUE(Open(bytes));
    EXPECT_TRUE(riff.Descend("fmt "));
    EXPECT_TRUE(riff.Ascend());
    EXPECT_FALSE(riff.Descend("data"));
    EXPECT_EQ(Position(), 12);
    EXPECT_TRUE(riff.Descend("junk")); // the search works again after meeting the end
}

TEST_F(RiffWalk, HugeSizeFieldsAreUnsignedAndDoNotLoop)
{
    // 0xFFFFFFFF sizes on the RIFF chunk and on a child: the walk runs to the end of the file.
    auto bytes = Riff({Chunk("fmt ", FmtPayload(PcmFormat(1, 8000, 8))), Chunk("data", {1, 2}, 0xFFFFFFFF)},
        "WAVE", "RIFF", 0xFFFFFFFF);
    ASSERT_TRUE(Open(bytes));
    EXPECT_EQ(riff.GetRiffSize(), 0xFFFFFFFFll - 4);
    ASSERT_TRUE(riff.Descend("data"));
    EXPECT_EQ(riff.GetChunkSize(), 0xFFFFFFFFll);
    EXPECT_TRUE(riff.Ascend());
    EXPECT_FALSE(riff.Descend("none"));
    // Container chunks with sizes below their form type count as empty.
    ASSERT_TRUE(Open(Riff({Chunk("data", {1, 2})}, "WAVE", "RIFF", 0)));
    EXPECT_EQ(riff.GetChunkSize(), 0);
    EXPECT_FALSE(riff.Descend("data"));
}

TEST_F(RiffWalk, ReopeningClosesThePreviousFile)
{
    ASSERT_TRUE(Open(CanonicalWave(PcmFormat(1, 8000, 8), {1, 2})));
    ASSERT_TRUE(riff.Descend("data"));
    ASSERT_TRUE(Open(Riff({Chunk("abcd", {1})}, "TEST")));
    EXPECT_STREQ(riff.GetChunkForm(), "TEST");
    EXPECT_FALSE(riff.Ascend());
    EXPECT_TRUE(riff.Descend("abcd"));
    EXPECT_TRUE(riff.Rewind());
    EXPECT_STREQ(riff.GetChunkId(), "RIFF");
}

TEST_F(RiffWalk, PositionsBeyond4GiBAreReached)
{
    // A sparse file of over 4 GiB whose RIFF size is the largest the field holds: the data chunk
    // sits after a 4 GiB chunk, beyond what the RIFF size can reach, and is still found.
    auto head = Riff({Chunk("fmt ", FmtPayload(PcmFormat(1, 8000, 8)))}, "WAVE", "RIFF", 0xFFFFFFFF);
    std::vector<uint8_t> big = {'b', 'i', 'g', ' '};
    PutLe32(big, 0xFFFFFFF0u);
    head.insert(head.end(), big.begin(), big.end());
    WriteBytes(path, head);
    const uint64_t dataAt = head.size() + 0xFFFFFFF0ull;
    std::filesystem::resize_file(path, dataAt);
    {
        FILE* file = std::fopen(path.c_str(), "ab");
        ASSERT_NE(file, nullptr);
        const auto data = Chunk("data", {5, 6, 7, 8});
        std::fwrite(data.data(), 1, data.size(), file);
        std::fclose(file);
    }
    ASSERT_TRUE(riff.Open(path.c_str()));
    EXPECT_EQ(riff.GetFileSize(), static_cast<int64_t>(dataAt + 12));
    ASSERT_TRUE(riff.Descend("data"));
    EXPECT_EQ(Position(), static_cast<int64_t>(dataAt + 8));
    uint8_t first = 0;
    ASSERT_EQ(std::fread(&first, 1, 1, riff.Stream()), 1u);
    EXPECT_EQ(first, 5);
}

} // namespace
