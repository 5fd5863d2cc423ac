#include "engine/Batch.h"
#include "engine/BatchPlan.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

using Answer = BatchFace::Answer;
using Outcome = BatchFace::Outcome;
using Kind = BatchFace::Event::Kind;
using StopMode = BatchFace::StopMode;

// A face that answers from a script, records every event, and asks for a stop once the first
// job has started when told to.
class ScriptedFace : public BatchFace {
public:
    std::deque<Answer> answers;
    StopMode stopAfterFirstStart = StopMode::None;
    bool stopWhenAJobEnds = false; // ABORT pressed as the first job ends, before it is collected
    int questions = 0;
    std::vector<Event> events;

    Answer AskOverwrite(const BatchItem&) override
    {
        ++questions;
        if (answers.empty())
            return Answer::No;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void OnEvent(const Event& event) override
    {
        events.push_back(event);
        if (event.kind == Kind::Started && stopAfterFirstStart != StopMode::None)
            stop = stopAfterFirstStart;
    }
    void WaitFor(int milliseconds) override
    {
        std::unique_lock<std::mutex> hold(lock);
        woken.wait_for(hold, std::chrono::milliseconds(milliseconds), [this] { return wake; });
        wake = false;
    }
    void Wake() override
    {
        if (stopWhenAJobEnds)
            stop = StopMode::Now;
        std::lock_guard<std::mutex> hold(lock);
        wake = true;
        woken.notify_all();
    }
    StopMode StopWanted() override { return stop.load(); }

    std::vector<Outcome> Outcomes() const
    {
        std::map<size_t, Outcome> byIndex;
        for (const Event& event : events) {
            if (event.kind == Kind::Ended)
                byIndex[event.index] = event.outcome;
        }
        std::vector<Outcome> outcomes;
        for (const auto& [index, outcome] : byIndex)
            outcomes.push_back(outcome);
        return outcomes;
    }

private:
    std::atomic<StopMode> stop {StopMode::None};
    std::mutex lock;
    std::condition_variable woken;
    bool wake = false;
};

// Every item's events come in the order Starting, Started, Progress..., Ended, or Ended alone
// for an item that never ran; each item ends exactly once, and the tally counts the endings.
void ExpectOrderedEvents(const ScriptedFace& face, const BatchTally& tally, size_t items)
{
    std::map<size_t, std::vector<Kind>> byItem;
    for (const BatchFace::Event& event : face.events) {
        if (event.kind != Kind::Waiting)
            byItem[event.index].push_back(event.kind);
    }
    ASSERT_EQ(byItem.size(), items);
    for (const auto& [index, kinds] : byItem) {
        ASSERT_EQ(kinds.back(), Kind::Ended) << index;
        if (kinds.size() > 1) {
            EXPECT_EQ(kinds[0], Kind::Starting) << index;
            EXPECT_EQ(kinds[1], Kind::Started) << index;
            for (size_t at = 2; at + 1 < kinds.size(); ++at)
                EXPECT_EQ(kinds[at], Kind::Progress) << index;
        }
    }
    std::map<Outcome, int> counts;
    for (Outcome outcome : face.Outcomes())
        ++counts[outcome];
    EXPECT_EQ(counts[Outcome::Converted], tally.converted);
    EXPECT_EQ(counts[Outcome::Failed], tally.failed);
    EXPECT_EQ(counts[Outcome::Skipped], tally.skipped);
    EXPECT_EQ(counts[Outcome::Stopped], tally.stopped);
    EXPECT_EQ(counts[Outcome::NotStarted], tally.notStarted);
}

class BatchRun : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(out()); }
    fs::path out() const { return dir.Path() / "out"; }
    std::string outDir() const { return out().string() + "/"; }

    TempDir dir;
    ScopedMessages messages {true}; // a job's own question about its output: settled already
};

} // namespace

// The plan refuses an output that two sources would write and an output that is itself one of
// the sources, each with its reason, and lets the first claim of a name run.
TEST_F(BatchRun, PlanRefusesCollisionsAndOutputsThatAreSources)
{
    const std::string a = dir.File("a.wav");
    const std::string aAgain = (dir.Path() / "sub" / ".." / "a.wav").string();
    const std::string b = dir.File("b.wav");
    const std::string bOut = outDir() + "b.mp3";
    struct Case {
        std::vector<std::string> sources;
        std::vector<std::string> refusals; // per item; empty: it runs
    };
    const std::vector<Case> cases {
        {{a, b}, {"", ""}},
        {{a, aAgain},
            {"", "the output " + outDir() + "a.mp3 is also the output of " + a + "; not converted"}},
        {{b, bOut},
            {"the output would replace its source: " + bOut + " is the source " + bOut
                    + " of this run; not converted",
                ""}},
        {{"track-x", a}, {std::string(BatchPlan::kTrackHint) + "; not converted", ""}},
    };
    for (const Case& test : cases) {
        const std::vector<BatchItem> items = BatchPlan::Make(test.sources, outDir(), OutputFormat::Auto());
        ASSERT_EQ(items.size(), test.refusals.size());
        for (size_t at = 0; at < items.size(); ++at) {
            EXPECT_EQ(items[at].refusal, test.refusals[at]) << test.sources[at];
            EXPECT_EQ(items[at].source, test.sources[at]);
        }
    }
}

// The answers to the overwrite question over three existing outputs, and the policies that
// settle them without asking: a "to all" answer settles the rest of the run.
TEST_F(BatchRun, OverwriteAnswersAndPolicies)
{
    struct Case {
        BatchOptions::Overwrite policy;
        std::vector<Answer> answers;
        int questions;
        std::vector<Outcome> outcomes;
    };
    using Policy = BatchOptions::Overwrite;
    const Outcome C = Outcome::Converted;
    const Outcome S = Outcome::Skipped;
    const Outcome F = Outcome::Failed;
    const std::vector<Case> cases {
        {Policy::Ask, {Answer::YesToAll}, 1, {C, C, C}},
        {Policy::Ask, {Answer::No, Answer::NoToAll}, 2, {S, S, S}},
        {Policy::Ask, {Answer::Yes, Answer::No, Answer::Yes}, 3, {C, S, C}},
        {Policy::Ask, {Answer::Unasked, Answer::YesToAll}, 2, {F, C, C}},
        {Policy::Always, {}, 0, {C, C, C}},
        {Policy::Never, {}, 0, {S, S, S}},
    };
    std::vector<std::string> sources;
    for (const char* name : {"a", "b", "c"})
        sources.push_back(WriteToneWav(dir.Path() / (std::string(name) + ".wav"), 8000, 1, 0.2));
    for (const Case& test : cases) {
        for (const char* name : {"a", "b", "c"})
            WriteBytes(out() / (std::string(name) + ".mp3"), {1});
        ScriptedFace face;
        face.answers.assign(test.answers.begin(), test.answers.end());
        BatchOptions options;
        options.outputDir = outDir();
        options.overwrite = test.policy;
        options.jobs = 2;
        BatchTally tally;
        {
            Batch batch(face, options);
            tally = batch.Run(sources);
        }
        EXPECT_EQ(face.questions, test.questions);
        EXPECT_EQ(face.Outcomes(), test.outcomes);
        ExpectOrderedEvents(face, tally, sources.size());
        for (size_t at = 0; at < sources.size(); ++at) {
            const bool kept
                = ReadBytes(out() / (std::string(1, char('a' + at)) + ".mp3")) == std::vector<uint8_t> {1};
            EXPECT_EQ(kept, test.outcomes[at] != C) << at;
        }
    }
}

// Stopping now stops the running file, which stays complete but shorter; finishing the running
// files lets them end. Either way nothing more starts.
TEST_F(BatchRun, StopNowAndFinishRunning)
{
    std::vector<std::string> sources;
    for (const char* name : {"a", "b", "c"})
        sources.push_back(WriteSparseWav(dir.Path() / (std::string(name) + ".wav"), 600.0));
    const std::string shortOne = WriteToneWav(dir.Path() / "short.wav", 8000, 1, 0.5);
    struct Case {
        StopMode stop;
        std::vector<std::string> sources;
        std::vector<Outcome> outcomes;
    };
    const std::vector<Case> cases {
        {StopMode::Now, sources, {Outcome::Stopped, Outcome::NotStarted, Outcome::NotStarted}},
        {StopMode::FinishRunning, {shortOne, sources[1], sources[2]},
            {Outcome::Converted, Outcome::NotStarted, Outcome::NotStarted}},
        // The stop comes after the short file was written whole: it is converted, not stopped.
        {StopMode::None, {shortOne, sources[1], sources[2]},
            {Outcome::Converted, Outcome::NotStarted, Outcome::NotStarted}},
    };
    for (const Case& test : cases) {
        fs::remove_all(out());
        fs::create_directory(out());
        ScriptedFace face;
        face.stopAfterFirstStart = test.stop;
        face.stopWhenAJobEnds = test.stop == StopMode::None;
        BatchOptions options;
        options.outputDir = outDir();
        BatchTally tally;
        {
            Batch batch(face, options);
            tally = batch.Run(test.sources);
        }
        EXPECT_EQ(face.Outcomes(), test.outcomes);
        ExpectOrderedEvents(face, tally, test.sources.size());
        EXPECT_TRUE(fs::exists(out() / (fs::path(test.sources[0]).stem().string() + ".mp3")));
        EXPECT_FALSE(fs::exists(out() / "b.mp3"));
        EXPECT_LT(tally.audioSeconds, 600.0);
    }
}

// A plan places many sources at once (their tags read, their outputs' keys resolved on several
// threads): every run gives the same items in the sources' order, each on its own path.
TEST(BatchPlanThreads, ManySourcesArePlacedAlikeOnEveryRun)
{
    TempDir dir;
    std::vector<SourcePaths::Source> sources;
    for (int i = 0; i < 64; ++i) {
        const std::string folder = "album " + std::to_string(i % 5);
        std::filesystem::create_directories(dir.Path() / "music" / folder);
        sources.push_back({WriteToneWav(dir.Path() / "music" / folder / ("s" + std::to_string(i) + ".wav"), 8000, 1, 0.05),
            (dir.Path() / "music").string()});
    }
    std::string error;
    for (const auto kind : {OutputLayout::Kind::Mirror, OutputLayout::Kind::Tags}) {
        const OutputLayout layout = *OutputLayout::Make(kind, "{folder}/{title}", error);
        const std::vector<BatchItem> first = BatchPlan::Make(sources, dir.File("out") + "/", OutputFormat::Auto(), layout);
        ASSERT_EQ(first.size(), sources.size());
        for (size_t i = 0; i < first.size(); ++i) {
            EXPECT_TRUE(first[i].refusal.empty()) << first[i].refusal;
            EXPECT_EQ(first[i].source, sources[i].path);
            EXPECT_EQ(first[i].outputPath,
                dir.File("out") + "/album " + std::to_string(i % 5) + "/s" + std::to_string(i) + ".mp3");
        }
        const std::vector<BatchItem> again = BatchPlan::Make(sources, dir.File("out") + "/", OutputFormat::Auto(), layout);
        for (size_t i = 0; i < first.size(); ++i)
            EXPECT_EQ(again[i].outputPath, first[i].outputPath);
    }
}
