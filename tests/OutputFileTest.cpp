// The safe replacement of an output's name: a file that another program puts under the name
// between the check and the naming is kept, and the commit fails, whether the name was free or
// held an older file, with the rename flags or on the way taken without them.
#include "platform/OutputFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

const std::vector<uint8_t> kIntruder {'i', 'n', 't', 'r', 'u', 'd', 'e', 'r'};

// Another program's complete file, put under the name in one step (a new file, not a write into
// the old one).
void Intrude(const std::string& target)
{
    const std::string beside = target + ".other";
    WriteBytes(beside, kIntruder);
    std::filesystem::rename(beside, target);
}

// The process-wide controls back to their defaults, whatever the test's end.
struct Controls {
    explicit Controls(bool flagsRefused) { OutputFile::SetRenameFlagsRefused(flagsRefused); }
    ~Controls()
    {
        OutputFile::SetBeforeNamingHook(nullptr);
        OutputFile::SetRenameFlagsRefused(false);
    }
};

size_t Entries(const TempDir& dir)
{
    return static_cast<size_t>(std::distance(
        std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()));
}

bool WriteAndCommit(OutputFile& file, const std::string& target, std::string& reason)
{
    if (!file.Create(target, reason))
        return false;
    std::FILE* stream = file.TakeStream();
    std::fputs("new", stream);
    std::fclose(stream);
    return file.Commit(reason);
}

TEST(OutputReplacement, AFileThatComesBetweenTheCheckAndTheNamingIsKept)
{
    for (const bool flagsRefused : {false, true}) {
        for (const bool existedBefore : {false, true}) {
            SCOPED_TRACE(testing::Message()
                << "rename flags refused " << flagsRefused << ", an older file " << existedBefore);
            const Controls controls(flagsRefused);
            TempDir dir;
            const std::string target = dir.File("out.mp3");
            if (existedBefore)
                WriteBytes(target, {'o', 'l', 'd'});

            // Nobody else: the new file takes the name, the older one is gone, nothing is left.
            OutputFile alone;
            std::string reason;
            ASSERT_TRUE(WriteAndCommit(alone, target, reason)) << reason;
            EXPECT_EQ(ReadBytes(target), (std::vector<uint8_t> {'n', 'e', 'w'}));
            EXPECT_EQ(Entries(dir), 1u);

            if (!existedBefore)
                std::filesystem::remove(target);
            OutputFile late;
            OutputFile::SetBeforeNamingHook(&Intrude);
            EXPECT_FALSE(WriteAndCommit(late, target, reason));
            OutputFile::SetBeforeNamingHook(nullptr);
            EXPECT_NE(reason.find("another program wrote the file"), std::string::npos) << reason;
            EXPECT_EQ(ReadBytes(target), kIntruder);
            EXPECT_EQ(Entries(dir), 1u); // neither the new file nor the swapped-out one stays
        }
    }
}

} // namespace
