// Base of objects that run one polling loop on a detached thread of their own. A derived class
// supplies the loop as Run; Start launches it, Stop asks it to end and can wait a bounded time.
// Stopping is cooperative: Run polls `state` and returns soon after it reads 1.
//
// `state` is one 32-bit word shared by the owner and the thread, read and written whole:
//   0      no thread is running;
//   1      a stop was requested and the thread has not ended yet;
//   > 1    a thread is running; the value is its identifier.
// Identifiers come from a process-wide counter (2, 3, 4, ... skipping 0 and 1 when it wraps),
// so every started thread gets its own value; they are not operating-system thread handles.
//
// The word lives in a small block shared with the thread, so the thread's final "ended" store
// never lands in freed memory even if the owner stopped waiting and went away. Everything else
// Run uses belongs to the derived object: a derived class must stop its thread (with wait) in its
// own destructor, before its members go, and must not let the object be freed while Run is
// still running.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

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

    // Asks the thread to stop. Without wait it returns true at once. With wait it polls every
    // poll interval, up to the poll limit, and returns true once no thread is running, false
    // if the thread is still running when the limit is reached.
    virtual bool Stop(bool wait);

    // The loop. Called on the new thread; must return soon after `state` becomes 1.
    virtual void Run();

    // The current value of `state` (see above).
    uint32_t State() const { return state->load(std::memory_order_acquire); }
    bool IsRunning() const { return State() > 1; }

    // Bounds of every wait of this object: 1000 polls of 10 ms unless changed.
    void SetStopWait(uint32_t polls, std::chrono::milliseconds interval);

protected:
    // True once a stop has been requested: what Run polls.
    bool StopRequested() const { return State() == 1; }

    // Waits, within the poll limit, until no thread runs; true when none does.
    bool WaitUntilIdle() const;

private:
    using StateWord = std::atomic<uint32_t>;

    static uint32_t NextThreadId();
    static void ThreadMain(WorkerThread* object, std::shared_ptr<StateWord> word, bool baseRunOnly);
    bool Launch(bool baseRunOnly);

    std::shared_ptr<StateWord> state;
    std::atomic<uint32_t> stopPolls {1000};
    std::atomic<int64_t> pollMilliseconds {10};
};
