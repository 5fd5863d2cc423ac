#include "platform/media/SampleReadAhead.h"

#include <utility>

namespace {

// How many samples, and how many bytes of them, may wait at most. An MP3 frame is 1,152 sample
// frames (4.6 KiB of stereo float), a FLAC frame up to 4,608; 32 of them are a fraction of a
// second of audio.
constexpr size_t kMaxWaiting = 32;
constexpr size_t kMaxWaitingBytes = 4u << 20;
// A consumer that waits is woken once this many samples are ready (or the last one), not for
// each: every wake-up costs both threads a system call.
constexpr size_t kWakeBatch = 16;
// A producer that waits for room is woken once the queue is down to this.
constexpr size_t kRoomMark = kMaxWaiting / 2;

size_t LengthOf(INSSBuffer* buffer)
{
    DWORD length = 0;
    if (buffer != nullptr)
        buffer->GetLength(&length);
    return length;
}

} // namespace

SampleReadAhead::SampleReadAhead(Producer produce)
    : produce(std::move(produce))
    , thread(&SampleReadAhead::Run, this)
{ }

SampleReadAhead::~SampleReadAhead()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    room.notify_one();
    thread.join();
    for (Sample& sample : waiting) {
        if (sample.buffer != nullptr)
            sample.buffer->Release();
    }
}

bool SampleReadAhead::Full() const
{
    return waiting.size() >= kMaxWaiting || waitingBytes >= kMaxWaitingBytes;
}

void SampleReadAhead::Run()
{
    for (;;) {
        Sample sample = produce();
        const size_t bytes = LengthOf(sample.buffer);
        std::unique_lock lock(mutex);
        if (stopping) {
            if (sample.buffer != nullptr)
                sample.buffer->Release();
            return;
        }
        const bool isLast = sample.result != S_OK;
        waiting.push_back(sample);
        waitingBytes += bytes;
        if (isLast) {
            finished = true;
            last = sample.result;
        }
        if (consumerWaits && (isLast || waiting.size() >= kWakeBatch || Full())) {
            consumerWaits = false;
            ready.notify_one();
        }
        if (isLast)
            return;
        while (Full() && !stopping) {
            producerWaits = true;
            room.wait(lock);
        }
        producerWaits = false;
        if (stopping)
            return;
    }
}

SampleReadAhead::Sample SampleReadAhead::Next()
{
    std::unique_lock lock(mutex);
    while (waiting.empty()) {
        if (finished) {
            Sample repeated;
            repeated.result = last;
            return repeated;
        }
        consumerWaits = true;
        ready.wait(lock);
    }
    Sample sample = waiting.front();
    waiting.pop_front();
    waitingBytes -= LengthOf(sample.buffer);
    if (producerWaits && waiting.size() <= kRoomMark) {
        producerWaits = false;
        room.notify_one();
    }
    return sample;
}
