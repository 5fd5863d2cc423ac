#include "analysis/WorkerThread.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Polls every millisecond until the condition holds or the time is up; true if it held.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms)
{
    const auto until = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::chrono::milliseconds Since(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// What a loop reports about itself, kept outside the worker so it can outlive it.
struct Probe {
    std::atomic<int> runs {0};
    std::atomic<int> ended {0};
    std::atomic<int> active {0};
    std::atomic<int> maxActive {0};
    std::atomic<bool> entered {false};
    std::atomic<bool> holdOn {false}; // keep running even after a stop request
    std::atomic<int> endDelayMilliseconds {0}; // time between seeing the stop and returning
    std::atomic<uint32_t> lastId {0};
    std::atomic<bool> objectGone {false};
    std::thread::id runThread;
};

// A cooperative loop; it stops its own thread in its destructor, as a derived class must.
class TestWorker : public WorkerThread {
public:
    TestWorker()
        : WorkerThread(false)
    { }
    ~TestWorker() override { Stop(true); }

    void Run() override
    {
        probe.runs++;
        const int now = ++probe.active;
        int seen = probe.maxActive.load();
        while (seen < now && !probe.maxActive.compare_exchange_weak(seen, now)) { }
        probe.lastId = State();
        probe.runThread = std::this_thread::get_id();
        probe.entered = true;
        while (!StopRequested() || probe.holdOn)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(probe.endDelayMilliseconds.load()));
        --probe.active;
        probe.ended++;
    }

    Probe probe;
};

// A loop that only touches a probe it shares with the test and never its own object, so the
// object may go while it runs. It leaves stopping to the base destructor.
class DetachedLoopWorker : public WorkerThread {
public:
    explicit DetachedLoopWorker(std::shared_ptr<Probe> probe)
        : WorkerThread(false)
        , probe(std::move(probe))
    { }

    void Run() override
    {
        std::shared_ptr<Probe> p = probe;
        const WorkerThread* self = this;
        p->entered = true;
        for (;;) {
            if (p->objectGone)
                break; // never read a freed object
            if (!p->holdOn && self->State() == 1)
                break;
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(p->endDelayMilliseconds.load()));
        p->ended++;
    }

    std::shared_ptr<Probe> probe;
};

TEST(WorkerThreadThreads, StopOnIdleObjectReturnsTrueAtOnce)
{
    TestWorker worker;
    const auto start = Clock::now();
    EXPECT_TRUE(worker.Stop(true));
    EXPECT_TRUE(worker.Stop(false));
    EXPECT_EQ(worker.State(), 0u);
    EXPECT_LT(Since(start), 100ms);
    EXPECT_EQ(worker.probe.runs, 0);
}

TEST(WorkerThreadThreads, StartRunsTheLoopOnANewThreadWithAUniqueId)
{
    TestWorker first;
    TestWorker second;
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    ASSERT_TRUE(WaitFor([&] { return first.probe.entered && second.probe.entered; }));
    const uint32_t firstId = first.State();
    EXPECT_GT(firstId, 1u);
    EXPECT_EQ(first.probe.lastId, firstId);
    EXPECT_NE(second.State(), firstId);
    EXPECT_NE(first.probe.runThread, std::this_thread::get_id());

    EXPECT_TRUE(first.Stop(true));
    EXPECT_EQ(first.State(), 0u);
    EXPECT_EQ(first.probe.ended, 1);
    ASSERT_TRUE(first.Start());
    EXPECT_GT(first.State(), 1u);
    EXPECT_NE(first.State(), firstId); // every started thread gets its own id
}

TEST(WorkerThreadThreads, StopWithoutWaitOnlyRequestsTheStop)
{
    TestWorker worker;
    worker.probe.holdOn = true;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.probe.entered.load(); }));
    const auto start = Clock::now();
    EXPECT_TRUE(worker.Stop(false));
    EXPECT_LT(Since(start), 100ms);
    EXPECT_EQ(worker.State(), 1u);
    EXPECT_EQ(worker.probe.ended, 0);
    worker.probe.holdOn = false;
    EXPECT_TRUE(WaitFor([&] { return worker.State() == 0; }));
    EXPECT_EQ(worker.probe.ended, 1);
}

TEST(WorkerThreadThreads, StopWithWaitReturnsWhenTheLoopHasEnded)
{
    TestWorker worker;
    worker.probe.endDelayMilliseconds = 50;
    ASSERT_TRUE(worker.Start());
    const auto start = Clock::now();
    EXPECT_TRUE(worker.Stop(true));
    EXPECT_GE(Since(start), 50ms);
    EXPECT_LT(Since(start), 2000ms);
    EXPECT_EQ(worker.probe.ended, 1);
    EXPECT_EQ(worker.State(), 0u);
}

TEST(WorkerThreadThreads, StopWithWaitGivesUpOnALoopThatIgnoresIt)
{
    TestWorker worker;
    worker.SetStopWait(5, 10ms);
    worker.probe.holdOn = true;
    ASSERT_TRUE(worker.Start());
    const auto start = Clock::now();
    EXPECT_FALSE(worker.Stop(true));
    EXPECT_GE(Since(start), 50ms);
    EXPECT_EQ(worker.State(), 1u); // still asked to stop, still running
    EXPECT_EQ(worker.probe.ended, 0);
    worker.probe.holdOn = false;
    EXPECT_TRUE(WaitFor([&] { return worker.State() == 0; }));
}

TEST(WorkerThreadThreads, StopCountsALoopThatEndsByTheLastPoll)
{
    TestWorker worker;
    worker.SetStopWait(1, 400ms); // a single poll: the loop ends long before it
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Stop(true));
    EXPECT_EQ(worker.probe.ended, 1);
}

TEST(WorkerThreadThreads, StartOnARunningObjectStopsTheOldThreadFirst)
{
    TestWorker worker;
    worker.probe.endDelayMilliseconds = 20;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.probe.entered.load(); }));
    const uint32_t oldId = worker.State();
    ASSERT_TRUE(worker.Start());
    EXPECT_EQ(worker.probe.ended, 1); // the old loop had ended before the new one began
    EXPECT_NE(worker.State(), oldId);
    ASSERT_TRUE(WaitFor([&] { return worker.probe.runs == 2; }));
    EXPECT_EQ(worker.probe.maxActive, 1);
}

TEST(WorkerThreadThreads, StartAfterAnUnwaitedStopWaitsForTheOldThread)
{
    TestWorker worker;
    worker.probe.endDelayMilliseconds = 30;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.probe.entered.load(); }));
    worker.Stop(false);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.probe.runs == 2; }));
    EXPECT_EQ(worker.probe.maxActive, 1); // never two loops on one object
    EXPECT_GT(worker.State(), 1u);
}

TEST(WorkerThreadThreads, StartRefusesWhileTheOldThreadWillNotEnd)
{
    TestWorker worker;
    worker.SetStopWait(3, 5ms);
    worker.probe.holdOn = true;
    ASSERT_TRUE(worker.Start());
    EXPECT_FALSE(worker.Start());
    EXPECT_EQ(worker.probe.runs, 1);
    EXPECT_EQ(worker.State(), 1u);
    worker.probe.holdOn = false;
    EXPECT_TRUE(WaitFor([&] { return worker.State() == 0; }));
}

TEST(WorkerThreadThreads, DestructorWaitsForARequestedStop)
{
    auto probe = std::make_shared<Probe>();
    probe->endDelayMilliseconds = 50;
    auto worker = std::make_unique<DetachedLoopWorker>(probe);
    ASSERT_TRUE(worker->Start());
    ASSERT_TRUE(WaitFor([&] { return probe->entered.load(); }));
    worker->Stop(false);
    const auto start = Clock::now();
    worker.reset();
    EXPECT_GE(Since(start), 40ms);
    EXPECT_EQ(probe->ended, 1);
}

TEST(WorkerThreadThreads, AThreadThatOutlivesItsObjectEndsCleanly)
{
    auto probe = std::make_shared<Probe>();
    probe->holdOn = true;
    auto worker = std::make_unique<DetachedLoopWorker>(probe);
    worker->SetStopWait(3, 5ms);
    ASSERT_TRUE(worker->Start());
    ASSERT_TRUE(WaitFor([&] { return probe->entered.load(); }));
    worker.reset(); // gives up after its bounded wait; the loop still runs
    EXPECT_EQ(probe->ended, 0);
    // Let the loop end without reading its object any more; the thread then marks the state
    // word idle, which must not land in the freed object (the sanitizer build checks this).
    probe->objectGone = true;
    ASSERT_TRUE(WaitFor([&] { return probe->ended == 1; }));
    std::this_thread::sleep_for(20ms);
}

class EagerWorker : public WorkerThread {
public:
    EagerWorker()
        : WorkerThread(true)
    { }
    ~EagerWorker() override { Stop(true); }
    void Run() override { derivedRan = true; }
    std::atomic<bool> derivedRan {false};
};

TEST(WorkerThreadThreads, StartAtConstructionRunsTheBaseLoopOnly)
{
    WorkerThread plain(true);
    EXPECT_TRUE(WaitFor([&] { return plain.State() == 0; })); // the empty loop ends, state is idle

    EagerWorker eager;
    EXPECT_TRUE(WaitFor([&] { return eager.State() == 0; }));
    EXPECT_FALSE(eager.derivedRan);
    ASSERT_TRUE(eager.Start());
    EXPECT_TRUE(WaitFor([&] { return eager.derivedRan.load(); }));
}

class ThrowingWorker : public WorkerThread {
public:
    ThrowingWorker()
        : WorkerThread(false)
    { }
    ~ThrowingWorker() override { Stop(true); }
    void Run() override { throw std::runtime_error("loop failed"); }
};

TEST(WorkerThreadThreads, ALoopThatThrowsIsReportedAndEnds)
{
    testing_support::ScopedMessages messages;
    ThrowingWorker worker;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.State() == 0; }));
    EXPECT_EQ(messages->Texts(), std::vector<std::string> {"Exception in WorkerThread::Run!"});
}

} // namespace
