#include "analysis/WorkerThread.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

bool WaitFor(const std::function<bool()>& condition)
{
    const auto until = Clock::now() + 5s;
    while (!condition()) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

auto Since(Clock::time_point start)
{
    return Clock::now() - start;
}

// What a loop reports about itself, kept outside the worker so that it can outlive it.
struct Probe {
    std::atomic<int> runs {0}, ended {0}, active {0}, maxActive {0};
    std::atomic<bool> entered {false};
    std::atomic<bool> holdOn {false}; // keep running after a stop request
    std::atomic<bool> objectGone {false}; // end without reading the (freed) object
    std::atomic<int> endDelayMs {0}; // time between seeing the stop and returning
    std::atomic<bool> onOwnThread {false};
};

class TestWorker : public WorkerThread {
public:
    explicit TestWorker(bool stopInDestructor = true)
        : WorkerThread(false)
        , stopInDestructor(stopInDestructor)
    { }
    ~TestWorker() override
    {
        if (stopInDestructor)
            Stop(true); // what a derived class must do; the others test the base's own wait
    }

    void Run() override
    {
        std::shared_ptr<Probe> p = probe;
        const WorkerThread* self = this;
        p->runs++;
        const int now = ++p->active;
        for (int seen = p->maxActive; seen < now && !p->maxActive.compare_exchange_weak(seen, now);) { }
        p->onOwnThread = std::this_thread::get_id() != mainThread;
        p->entered = true;
        while (!p->objectGone && (p->holdOn || self->State() != 1))
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(std::chrono::milliseconds(p->endDelayMs.load()));
        --p->active;
        p->ended++;
    }

    std::shared_ptr<Probe> probe = std::make_shared<Probe>();
    const bool stopInDestructor;
    const std::thread::id mainThread = std::this_thread::get_id();
};

TEST(WorkerThreadThreads, StopWithAndWithoutWait)
{
    TestWorker worker;
    auto start = Clock::now();
    EXPECT_TRUE(worker.Stop(true)); // idle: at once
    EXPECT_EQ(worker.State(), 0u);
    EXPECT_LT(Since(start), 100ms);

    worker.probe->holdOn = true;
    worker.probe->endDelayMs = 50;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.probe->entered.load(); }));
    EXPECT_GT(worker.State(), 1u);
    EXPECT_TRUE(worker.probe->onOwnThread);
    start = Clock::now();
    EXPECT_TRUE(worker.Stop(false));
    EXPECT_LT(Since(start), 100ms);
    EXPECT_EQ(worker.State(), 1u);
    EXPECT_EQ(worker.probe->ended, 0);

    worker.probe->holdOn = false;
    start = Clock::now();
    EXPECT_TRUE(worker.Stop(true)); // a stop requested earlier is waited out as well
    EXPECT_GE(Since(start), 40ms);
    EXPECT_EQ(worker.probe->ended, 1);
    EXPECT_EQ(worker.State(), 0u);
}

TEST(WorkerThreadThreads, StopWaitsBoundedAndCountsTheLastPoll)
{
    TestWorker worker;
    worker.SetStopWait(5, 10ms);
    worker.probe->holdOn = true;
    ASSERT_TRUE(worker.Start());
    const auto start = Clock::now();
    EXPECT_FALSE(worker.Stop(true));
    EXPECT_GE(Since(start), 50ms);
    EXPECT_EQ(worker.State(), 1u); // still asked to stop, still running
    worker.probe->holdOn = false;
    ASSERT_TRUE(WaitFor([&] { return worker.State() == 0; }));

    // A long bound is only a bound: the wait ends when the loop does, not when a poll comes.
    worker.SetStopWait(1, 5s);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.probe->runs == 2; }));
    const auto stopping = Clock::now();
    EXPECT_TRUE(worker.Stop(true));
    EXPECT_LT(Since(stopping), 2s);
}

TEST(WorkerThreadThreads, StartOnARunningObjectReplacesItsThread)
{
    TestWorker worker;
    worker.probe->endDelayMs = 20;
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.probe->entered.load(); }));
    const uint32_t firstId = worker.State();
    ASSERT_TRUE(worker.Start());
    EXPECT_EQ(worker.probe->ended, 1); // the old loop had ended before the new one began
    EXPECT_GT(worker.State(), 1u);
    EXPECT_NE(worker.State(), firstId); // every started thread has its own id

    worker.Stop(false); // a pending stop is waited out too
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(WaitFor([&] { return worker.probe->runs == 3; }));
    EXPECT_EQ(worker.probe->maxActive, 1); // never two loops on one object

    worker.SetStopWait(3, 5ms);
    worker.probe->holdOn = true;
    EXPECT_FALSE(worker.Start()); // the old loop will not end: nothing new is started
    EXPECT_EQ(worker.probe->runs, 3);
    worker.probe->holdOn = false;
}

TEST(WorkerThreadThreads, DestructorWaitsAndNeverWritesIntoAFreedObject)
{
    auto waited = std::make_unique<TestWorker>(false);
    auto probe = waited->probe;
    probe->endDelayMs = 50;
    ASSERT_TRUE(waited->Start());
    ASSERT_TRUE(WaitFor([&] { return probe->entered.load(); }));
    waited->Stop(false);
    const auto start = Clock::now();
    waited.reset();
    EXPECT_GE(Since(start), 40ms);
    EXPECT_EQ(probe->ended, 1);

    // A loop that ignores the stop: the destructor gives up after its bound and the thread
    // outlives the object. Its final "ended" store must not land in freed memory (the
    // sanitizer build checks that).
    auto abandoned = std::make_unique<TestWorker>(false);
    probe = abandoned->probe;
    probe->holdOn = true;
    abandoned->SetStopWait(3, 5ms);
    ASSERT_TRUE(abandoned->Start());
    ASSERT_TRUE(WaitFor([&] { return probe->entered.load(); }));
    abandoned.reset();
    EXPECT_EQ(probe->ended, 0);
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
    EXPECT_TRUE(WaitFor([&] { return plain.State() == 0; })); // its empty loop ended
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
