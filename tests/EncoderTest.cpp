#include "audio/ToneStream.h"
#include "encoders/WaveEncoder.h"
#include "platform/Heap.h"
#include "platform/Message.h"
#include "platform/MessageBackend.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace testing_support;

namespace {

const char* const kOverwritePrompt = "the output file has existed, overwrite it?";
const char* const kOpenFailed = "open out file failed,\nplease check directory exists!";

// Writes the pending bytes as they come, with no header, and records what the loop did.
class RawEncoder : public Encoder {
public:
    bool Begin() override
    {
        ++begins;
        return beginResult;
    }
    bool EncodeBuffer(AudioBufferRef& pendingBytes, std::optional<AudioBufferRef>& out) override
    {
        const int call = encodeCalls++;
        if (call >= failEncodeFrom && call <= failEncodeTo)
            return false;
        out = AudioBufferRef::FromData(pendingBytes.GetData(), pendingBytes.GetLength(), true);
        pendingBytes.Clear();
        if (call == stopAt)
            Stop(); // ABORT pressed while this buffer is being encoded
        if (call == giveUpAt)
            FailEarly("the encoder gave up");
        return true;
    }
    bool Finish() override
    {
        ++finishes;
        return finishResult;
    }
    uint32_t PendingBytes() const { return pending.GetLength(); }

    bool beginResult = true;
    bool finishResult = true;
    int failEncodeFrom = -1; // EncodeBuffer calls from this one to failEncodeTo fail
    int failEncodeTo = -1;
    int giveUpAt = -1; // this EncodeBuffer call ends the job as failed
    int stopAt = -1; // a stop comes during this EncodeBuffer call
    int begins = 0;
    int encodeCalls = 0;
    int finishes = 0;
};

class EncoderLoop : public ::testing::Test {
protected:
    ScopedMessages messages {true};
    TempDir dir;
    std::string out = dir.File("out.raw");
    std::vector<std::vector<uint8_t>> blocks = CountingBlocks(4, 100);
    ScriptedStream stream {PcmFormat(2, 44100, 16), blocks};
    RawEncoder encoder;

    void SetUp() override
    {
        encoder.SetSource(&stream);
        encoder.SetOutputPath(out.c_str());
    }
};

TEST_F(EncoderLoop, FullRunWritesEveryBufferAndFinishes)
{
    EXPECT_TRUE(encoder.Encode());
    EXPECT_EQ(ReadBytes(out), Joined(blocks, 4));
    EXPECT_EQ(stream.reads.load(), 5); // four blocks and the end buffer
    EXPECT_EQ(encoder.begins, 1);
    EXPECT_EQ(encoder.finishes, 1);
    EXPECT_FALSE(encoder.IsRunning());
    EXPECT_TRUE(messages->Entries().empty());
}

TEST_F(EncoderLoop, SourceThatEndsAtOnceGivesAFinishedFileWithNoAudio)
{
    ScriptedStream nothing {PcmFormat(1, 8000, 16)};
    encoder.SetSource(&nothing);
    EXPECT_TRUE(encoder.Encode());
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(std::filesystem::file_size(out), 0u);
    EXPECT_EQ(encoder.finishes, 1);
    EXPECT_EQ(encoder.encodeCalls, 0);
}

TEST_F(EncoderLoop, StopMidwayKeepsWhatWasWrittenAndFinishes)
{
    stream.beforeEachRead = [&](int call) {
        if (call == 2)
            encoder.Stop();
    };
    EXPECT_TRUE(encoder.Encode());
    // The buffer of the pass in progress reaches pending but is not encoded.
    EXPECT_EQ(ReadBytes(out), Joined(blocks, 2));
    EXPECT_EQ(stream.reads.load(), 3);
    EXPECT_EQ(encoder.PendingBytes(), 100u);
    EXPECT_EQ(encoder.finishes, 1);
    EXPECT_FALSE(encoder.EncodedWholeSource());
}

// ABORT while a buffer is being encoded: the file keeps the buffers encoded so far, and holds
// the whole source when that buffer was the last one (the end is then written as usual).
TEST_F(EncoderLoop, StopDuringABufferEndsTheFileThereUnlessItWasTheLast)
{
    for (int stopAt : {0, 2, 3}) {
        RawEncoder stopped;
        ScriptedStream source {PcmFormat(2, 44100, 16), blocks};
        stopped.SetSource(&source);
        stopped.SetOutputPath(out.c_str());
        stopped.stopAt = stopAt;
        EXPECT_TRUE(stopped.Encode()) << stopAt;
        const bool last = stopAt == 3;
        EXPECT_EQ(stopped.EncodedWholeSource(), last) << stopAt;
        EXPECT_EQ(ReadBytes(out), Joined(blocks, stopAt + 1)) << stopAt;
        EXPECT_EQ(source.reads.load(), stopAt + 2) << stopAt; // one more read tells whether it was the last
    }
    EXPECT_TRUE(encoder.Encode());
    EXPECT_TRUE(encoder.EncodedWholeSource());
}

// A backend whose question arrives while the user presses ABORT.
class StopWhileAsking : public MessageBackend {
public:
    explicit StopWhileAsking(Encoder& encoder)
        : encoder(encoder)
    { }
    void Show(const std::string&, const std::string&) override { }
    bool AskYesNo(const std::string&, const std::string&) override
    {
        encoder.Stop();
        return true;
    }
    Encoder& encoder;
};

TEST_F(EncoderLoop, StopDuringTheOverwritePromptKeepsTheOldFile)
{
    WriteBytes(out, {1, 2, 3});
    auto previous = SetMessageBackend(std::make_shared<StopWhileAsking>(encoder));
    const bool result = encoder.Encode();
    SetMessageBackend(previous);
    EXPECT_FALSE(result);
    EXPECT_EQ(stream.reads.load(), 0); // nothing was converted
    EXPECT_EQ(ReadBytes(out), (std::vector<uint8_t> {1, 2, 3}));
    EXPECT_EQ(encoder.begins, 0);
}

// A source that fails in the middle: the file keeps what came before, as after a stop, and
// the job says it failed instead of reporting success.
TEST_F(EncoderLoop, SourceThatFailsMidwayKeepsTheShorterFileAndFails)
{
    ScriptedStream failing {PcmFormat(2, 44100, 16), {blocks[0], blocks[1]}};
    failing.failure = "the codec failed";
    encoder.SetSource(&failing);
    EXPECT_FALSE(encoder.Encode());
    EXPECT_EQ(ReadBytes(out), Joined(blocks, 2));
    EXPECT_EQ(encoder.finishes, 1);
    const auto texts = messages->Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("The conversion failed: the codec failed.", 0), 0u) << texts[0];
}

// Whatever had the output's name, the new file replaces the entry, never what it points to:
// a link's target, another name of a file (a hard link) and the link itself stay as they were.
TEST_F(EncoderLoop, ReplacingAnOutputNeverWritesThroughALink)
{
    namespace fs = std::filesystem;
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    const std::string victim = dir.File("victim.wav");
    const std::string elsewhere = dir.File("elsewhere/new.raw");
    const struct {
        const char* what;
        std::function<void()> make;
    } cases[] = {
        {"a file", [&] { WriteBytes(out, old); }},
        {"a symbolic link", [&] { fs::create_symlink(victim, out); }},
        {"a dangling link", [&] { fs::create_symlink(elsewhere, out); }},
        {"a hard link", [&] { fs::create_hard_link(victim, out); }},
    };
    fs::create_directory(dir.File("elsewhere"));
    for (const auto& c : cases) {
        fs::remove(out);
        WriteBytes(victim, old);
        c.make();
        messages->ScriptAnswers({true});
        EXPECT_TRUE(encoder.Encode()) << c.what;
        encoder.SetSource(&stream);
        stream.reads = 0;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out))) << c.what;
        EXPECT_EQ(ReadBytes(out), Joined(blocks, 4)) << c.what;
        EXPECT_EQ(ReadBytes(victim), old) << c.what;
        EXPECT_FALSE(fs::exists(elsewhere)) << c.what;
        // Nothing is left beside the output.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 3) << c.what;
    }
}

TEST_F(EncoderLoop, StopAfterSetupButBeforeEncodeIsHonoured)
{
    encoder.Stop(); // ABORT between START and the worker's first step
    EXPECT_TRUE(encoder.Encode());
    EXPECT_EQ(stream.reads.load(), 0);
    EXPECT_EQ(encoder.finishes, 1);
}

TEST_F(EncoderLoop, StopFromAnEarlierJobDoesNotCarryOver)
{
    encoder.Stop();
    encoder.SetSource(&stream); // the next job is set up
    EXPECT_TRUE(encoder.Encode());
    EXPECT_EQ(ReadBytes(out), Joined(blocks, 4));
}

TEST_F(EncoderLoop, DeclinedOverwriteLeavesTheFileByteForByte)
{
    const std::vector<uint8_t> original = {9, 8, 7, 6, 5};
    WriteBytes(out, original);
    messages->ScriptAnswers({false});
    EXPECT_FALSE(encoder.Encode());
    EXPECT_EQ(ReadBytes(out), original);
    EXPECT_EQ(stream.reads.load(), 0);
    EXPECT_EQ(encoder.begins, 0);
    auto entries = messages->Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].question);
    EXPECT_EQ(entries[0].text, kOverwritePrompt);
    EXPECT_EQ(entries[0].caption, "Attention");
}

TEST_F(EncoderLoop, AcceptedOverwriteTruncatesTheOldFile)
{
    WriteBytes(out, std::vector<uint8_t>(1000, 0xEE));
    messages->ScriptAnswers({true});
    EXPECT_TRUE(encoder.Encode());
    EXPECT_EQ(ReadBytes(out), Joined(blocks, 4));
}

TEST_F(EncoderLoop, OutputThatCannotBeCreatedIsReportedAndNothingIsRead)
{
    const std::string missing = dir.File("no-such-folder/out.raw");
    encoder.SetOutputPath(missing.c_str());
    EXPECT_FALSE(encoder.Encode());
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(stream.reads.load(), 0);
    EXPECT_EQ(messages->Texts(),
        std::vector<std::string> {kOpenFailed + ("\n" + missing + ": No such file or directory")});
    EXPECT_EQ(messages->Entries()[0].caption, ApplicationTitle());

    // A folder given as the output is not "overwritten": no question, the same failure.
    messages->Clear();
    encoder.SetOutputPath(dir.Path().c_str());
    EXPECT_FALSE(encoder.Encode());
    EXPECT_EQ(messages->Texts(),
        std::vector<std::string> {kOpenFailed + ("\n" + dir.Path().string() + ": Is a directory")});
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path()));
}

TEST_F(EncoderLoop, MissingSourceOrPathFailsQuietly)
{
    encoder.SetOutputPath("");
    EXPECT_FALSE(encoder.Encode());
    encoder.SetOutputPath(nullptr);
    EXPECT_FALSE(encoder.Encode());
    RawEncoder unset;
    unset.SetOutputPath(out.c_str());
    EXPECT_FALSE(unset.Encode());
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_TRUE(messages->Entries().empty());
}

TEST_F(EncoderLoop, BeginFailureClosesTheFileWithoutReading)
{
    encoder.beginResult = false;
    EXPECT_FALSE(encoder.Encode());
    EXPECT_EQ(stream.reads.load(), 0);
    EXPECT_EQ(encoder.finishes, 0);
    EXPECT_FALSE(std::filesystem::exists(out)); // no empty file in place of a conversion
    EXPECT_FALSE(encoder.IsRunning());
}

// An encoder that fails on the audio to the end, one that gives up, and a Finish that fails:
// the file is finished with what was encoded and kept, as after a source that fails midway,
// and the job fails with a message instead of being reported as done. A single failure the
// encoder recovers from on the next buffer is no failure of the job.
TEST_F(EncoderLoop, EncoderFailuresKeepTheShorterFileAndFailTheJob)
{
    const struct {
        const char* name;
        int failEncodeFrom; // the first EncodeBuffer call that fails; -1: none
        int failEncodeTo; // the last one
        int giveUpAt; // the EncodeBuffer call that ends the job (FailEarly); -1: none
        bool finishResult;
        size_t written; // blocks in the file
        const char* reason; // nullptr: the job succeeds
    } rows[] = {
        {"fails to the end", 0, 99, -1, true, 0, "the encoder failed on the last of the audio"},
        {"fails from the last block on", 3, 99, -1, true, 3, "the encoder failed on the last of the audio"},
        {"gives up", -1, -1, 2, true, 3, "the encoder gave up"},
        {"cannot finish", -1, -1, -1, false, 4, "the encoder could not finish the file"},
        // A failed call keeps its bytes pending, and the next call writes them.
        {"recovers", 1, 1, -1, true, 4, nullptr},
    };
    for (const auto& row : rows) {
        messages->Clear();
        std::filesystem::remove(out);
        ScriptedStream source {PcmFormat(2, 44100, 16), blocks};
        RawEncoder failing;
        failing.SetSource(&source);
        failing.SetOutputPath(out.c_str());
        failing.failEncodeFrom = row.failEncodeFrom;
        failing.failEncodeTo = row.failEncodeTo;
        failing.giveUpAt = row.giveUpAt;
        failing.finishResult = row.finishResult;
        EXPECT_EQ(failing.Encode(), row.reason == nullptr) << row.name;
        EXPECT_EQ(failing.finishes, 1) << row.name;
        EXPECT_EQ(ReadBytes(out), Joined(blocks, row.written)) << row.name;
        if (row.reason == nullptr) {
            EXPECT_TRUE(messages->Entries().empty()) << row.name;
            continue;
        }
        EXPECT_EQ(messages->Texts(),
            (std::vector<std::string> {std::string("The conversion failed: ") + row.reason
                + ".\nThe output file " + out + " was finished and holds the audio up to there."}))
            << row.name;
    }
}

TEST_F(EncoderLoop, FailedAllocationEndsTheJobWithAFinishedFile)
{
    stream.beforeEachRead = [](int call) {
        if (call == 2)
            HeapFailAfter(0);
    };
    const bool result = encoder.Encode();
    HeapFailNever();
    EXPECT_FALSE(result);
    EXPECT_EQ(ReadBytes(out), Joined(blocks, 2));
    EXPECT_EQ(encoder.finishes, 1);
    ASSERT_EQ(messages->Texts().size(), 1u);
    EXPECT_NE(messages->Texts()[0].find("Out of memory"), std::string::npos);
}

TEST_F(EncoderLoop, SecondJobStartsWithNothingLeftFromTheFirst)
{
    stream.beforeEachRead = [&](int call) {
        if (call == 1)
            encoder.Stop();
    };
    EXPECT_TRUE(encoder.Encode());
    EXPECT_EQ(encoder.PendingBytes(), 100u); // left over by the stop

    ScriptedStream next {PcmFormat(2, 44100, 16), CountingBlocks(1, 10, 200)};
    const std::string second = dir.File("second.raw");
    encoder.SetSource(&next);
    encoder.SetOutputPath(second.c_str());
    EXPECT_TRUE(encoder.Encode());
    EXPECT_EQ(ReadBytes(second), CountingBlocks(1, 10, 200)[0]);
}

TEST(EncoderThreads, StopFromAnotherThreadEndsALongJob)
{
    ScopedMessages messages {true};
    TempDir dir;
    const std::string out = dir.File("long.wav");
    ToneStream tone(44100, 2, 440.0, 3600.0); // an hour: far longer than the test waits
    WaveEncoder encoder;
    encoder.SetSource(&tone);
    encoder.SetOutputPath(out.c_str());
    EXPECT_TRUE(EncodeAndStopAfter(encoder, tone, 0.5));
    const auto bytes = ReadBytes(out);
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(Le32(bytes, 40), bytes.size() - 44);
    EXPECT_LT(tone.GetPosition(), 3600.0);
}

} // namespace

namespace {

// A disk that fills up mid-job: the job ends at once, says so and is not reported as done.
TEST(EncoderWriteFailure, FullDiskEndsTheJobWithAMessage)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    ScopedMessages messages {true}; // yes to "overwrite" the device
    ToneStream tone(44100, 2, 440.0, 60.0);
    WaveEncoder encoder;
    encoder.SetSource(&tone);
    encoder.SetOutputPath("/dev/full");
    EXPECT_FALSE(encoder.Encode());
    EXPECT_LT(tone.GetPosition(), 1.0); // it stopped reading at the first failed write
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
    const auto texts = messages->Texts();
    ASSERT_EQ(texts.size(), 2u); // the overwrite question, then the failure
    EXPECT_NE(texts[1].find("writing the output file failed"), std::string::npos);
}

// The same on a real file that cannot grow past a size limit: the broken file is dropped and
// the file that had the name keeps its contents.
TEST(EncoderWriteFailure, FailedWriteKeepsTheOldFile)
{
    ScopedMessages messages {true};
    TempDir dir;
    const std::string out = dir.File("limited.wav");
    const std::vector<uint8_t> old(1000, 0x55);
    WriteBytes(out, old);
    ToneStream tone(44100, 2, 440.0, 10.0);
    WaveEncoder encoder;
    encoder.SetSource(&tone);
    encoder.SetOutputPath(out.c_str());
    bool result = true;
    {
        ScopedFileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(limit.Applied());
        result = encoder.Encode();
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(ReadBytes(out), old);
    EXPECT_LT(tone.GetPosition(), 1.0);
    const auto texts = messages->Texts();
    ASSERT_EQ(texts.size(), 2u); // the overwrite question, then the failure with its reason
    EXPECT_NE(texts[1].find("File too large"), std::string::npos) << texts[1];
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()),
        1);
}

// Two writers of one output, each finishing in turn: the first puts its file in place, the
// second finds that the name changed under it and keeps the first's file whole.
TEST(OutputReplacement, TheSecondOfTwoWritersKeepsTheFirstsFile)
{
    TempDir dir;
    const std::string target = dir.File("out.mp3");
    for (const bool existedBefore : {false, true}) {
        if (existedBefore)
            WriteBytes(target, {'o', 'l', 'd'});
        else
            std::filesystem::remove(target);
        OutputFile first, second;
        std::string reason;
        ASSERT_TRUE(first.Create(target, reason)) << reason;
        ASSERT_TRUE(second.Create(target, reason)) << reason;
        for (const auto& [file, text] : {std::pair<OutputFile*, const char*> {&first, "first"},
                 std::pair<OutputFile*, const char*> {&second, "second"}}) {
            std::FILE* stream = file->TakeStream();
            std::fputs(text, stream);
            std::fclose(stream);
        }
        EXPECT_TRUE(first.Commit(reason)) << reason;
        EXPECT_FALSE(second.Commit(reason));
        EXPECT_NE(reason.find("another program wrote the file"), std::string::npos) << reason;
        EXPECT_EQ(ReadBytes(target), (std::vector<uint8_t> {'f', 'i', 'r', 's', 't'}));
        EXPECT_EQ(std::distance(
                      std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()),
            1);
    }
}

} // namespace
