// Base of objects that run one loop on a detached thread of their own. A derived class
// supplies the loop as Run; Start launches it, Stop asks it to end and can wait a bounded time.
// Stopping is cooperative: Run checks `state` and returns soon after it reads 1. A loop with
// nothing to do waits in Doze, which a stop request or a Nudge ends at once; Stop with wait
// returns as soon as the thread has ended (a condition variable tells it), never after a
// fixed sleep.
//
// `state` is one 32-bit word shared by the owner and the thread, read and written whole:
//   0      no thread is running;
//   1      a stop was requested and the thread has not ended yet;
//   > 1    a thread is running; the value is its identifier.
// Identifiers come from a process-wide counter (2, 3, 4, ... skipping 0 and 1 when it wraps),
// so every started thread gets its own value; they are not operating-system thread handles.
//
// The word lives in a small block shared with the thread (with the mutex and condition variable
// that announce its changes), so the thread's final "ended" store never lands in freed memory
// even if the owner stopped waiting and went away. Everything else
// Run uses belongs to the derived object: a derived class must stop its thread (with wait) in its
// own destructor, before its members go, and must not let the object be freed while Run is
// still running.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

class WorkerThread {
public:
    // With startAtOnce, the thread is started here. While this constructor runs, the object is
    // only a WorkerThread, so that thread runs this class's own Run (which ends at once); a
    // derived class that wants its loop running from construction calls Start in its own
    // constructor instead.
    explicit WorkerThread(bool startAtOnce);
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Stops a running thread with wait, or waits out a stop requested earlier (bounded).
    virtual ~WorkerThread();

    // Starts the thread. A thread that is still running is stopped first (with wait), and a
    // stop requested earlier is waited out: there is never more than one thread per object.
    // Returns false, and starts nothing, when the previous thread did not end within the wait
    // or a new thread cannot be created.
    virtual bool Start();

    // Asks the thread to stop. Without wait it returns true at once. With wait it returns true
    // as soon as no thread is running, false if the thread still runs when the wait limit
    // (polls x interval) has passed.
    virtual bool Stop(bool wait);

    // The loop. Called on the new thread; must return soon after `state` becomes 1.
    virtual void Run();

    // The current value of `state` (see above).
    uint32_t State() const { return state->load(std::memory_order_acquire); }
    bool IsRunning() const { return State() > 1; }

    // Bound of every wait of this object: polls x interval, 1000 x 10 ms unless changed.
    void SetStopWait(uint32_t polls, std::chrono::milliseconds interval);

    // Wakes a Doze of the loop (work has come); a Nudge before the Doze is not lost.
    void Nudge();

protected:
    // True once a stop has been requested: what Run checks.
    bool StopRequested() const { return State() == 1; }

    // For Run: waits until a stop is requested or Nudge is called, at most `limit`.
    void Doze(std::chrono::milliseconds limit);

    // Waits, within the wait limit, until no thread runs; true when none does.
    bool WaitUntilIdle() const;

private:
    struct Shared {
        std::atomic<uint32_t> word {0};
        std::mutex lock; // held to change `word` where a waiter may be deciding to wait
        std::condition_variable changed; // `word` changed or `nudged` was set
        bool nudged = false; // guarded by `lock`
    };

    static uint32_t NextThreadId();
    static void ThreadMain(WorkerThread* object, std::shared_ptr<Shared> shared, bool baseRunOnly);
    bool Launch(bool baseRunOnly);

    std::shared_ptr<Shared> shared;
    std::atomic<uint32_t>* state; // &shared->word
    std::atomic<uint32_t> stopPolls {1000};
    std::atomic<int64_t> pollMilliseconds {10};
};
