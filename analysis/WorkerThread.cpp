#include "analysis/WorkerThread.h"

#include "platform/Message.h"

#include <thread>

WorkerThread::WorkerThread(bool startAtOnce)
    : shared(std::make_shared<Shared>())
    , state(&shared->word)
{
    if (startAtOnce)
        Launch(true);
}

WorkerThread::~WorkerThread()
{
    // A running thread is asked to stop; a stop requested earlier is waited out. Either way
    // the wait is bounded. The state word outlives this object if the thread does.
    if (IsRunning())
        Stop(true);
    else
        WaitUntilIdle();
}

bool WorkerThread::Start()
{
    if (!Stop(true))
        return false; // the previous thread is still running: never run two loops at once
    return Launch(false);
}

bool WorkerThread::Stop(bool wait)
{
    uint32_t current = State();
    // Request the stop only on the word of a running thread: if the thread ends meanwhile and
    // writes 0, the exchange fails and the 0 is kept rather than overwritten by a stale 1.
    while (current > 1 && !state->compare_exchange_weak(current, 1, std::memory_order_acq_rel))
        ;
    if (current > 1) {
        // A Doze that has just found no stop request either waits already or has yet to take
        // the lock: taking it here makes sure the notification reaches it.
        {
            std::lock_guard<std::mutex> hold(shared->lock);
        }
        shared->changed.notify_all();
    }
    if (!wait)
        return true;
    return WaitUntilIdle();
}

void WorkerThread::Run()
{ }

void WorkerThread::SetStopWait(uint32_t polls, std::chrono::milliseconds interval)
{
    stopPolls.store(polls);
    pollMilliseconds.store(interval.count());
}

void WorkerThread::Nudge()
{
    {
        std::lock_guard<std::mutex> hold(shared->lock);
        shared->nudged = true;
    }
    shared->changed.notify_all();
}

void WorkerThread::Doze(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> hold(shared->lock);
    shared->changed.wait_for(hold, limit, [this] { return shared->nudged || StopRequested(); });
    shared->nudged = false;
}

bool WorkerThread::WaitUntilIdle() const
{
    if (State() == 0)
        return true;
    const auto limit = std::chrono::milliseconds(pollMilliseconds.load()) * int64_t {stopPolls.load()};
    std::unique_lock<std::mutex> hold(shared->lock);
    return shared->changed.wait_for(hold, limit, [this] { return State() == 0; });
}

uint32_t WorkerThread::NextThreadId()
{
    static std::atomic<uint32_t> counter {2};
    uint32_t id;
    do
        id = counter.fetch_add(1, std::memory_order_relaxed);
    while (id <= 1); // after a wrap-around, 0 and 1 keep their own meanings
    return id;
}

void WorkerThread::ThreadMain(WorkerThread* object, std::shared_ptr<Shared> shared, bool baseRunOnly)
{
    try {
        if (baseRunOnly)
            object->WorkerThread::Run();
        else
            object->Run();
    } catch (...) {
        try {
            ShowMessage("Exception in WorkerThread::Run!");
        } catch (...) { }
    }
    // The end is announced under the lock, so an owner about to wait for it cannot miss it. The
    // block is this thread's own reference: it stays valid even if the owner has gone.
    {
        std::lock_guard<std::mutex> hold(shared->lock);
        shared->word.store(0, std::memory_order_release);
    }
    shared->changed.notify_all();
}

bool WorkerThread::Launch(bool baseRunOnly)
{
    // The identifier is in place before the thread exists, so a Run that ends at once cannot
    // have its "ended" store overwritten by a late "running" one.
    state->store(NextThreadId(), std::memory_order_release);
    try {
        std::thread(ThreadMain, this, shared, baseRunOnly).detach();
    } catch (...) {
        state->store(0, std::memory_order_release);
        return false;
    }
    return true;
}
