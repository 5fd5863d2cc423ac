// Reads a reader's samples ahead on a thread of its own, so that decoding the next packets
// overlaps with whatever the caller does with the last ones (converting, encoding, writing).
//
// The producer is called on the read-ahead thread only, one call after the other, until it gives
// a result other than S_OK (the end or a failure), which is the last it is asked for. `Next` is
// called by one consumer thread; it hands the samples out in the order they were made and, after
// the last, repeats that last result. At most a few dozen samples (and a few MiB) wait at once;
// the thread sleeps while they do. The destructor stops the thread at its next sample, waits for
// it and releases whatever was not handed out, so the producer's state may be touched again once
// the object is gone.
//
// The thread is made by the consumer's thread and so keeps its scheduling class: a conversion
// that runs at idle priority also decodes at idle priority.
#pragma once

#include "platform/media/MediaReader.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class SampleReadAhead {
public:
    struct Sample {
        HRESULT result = NS_E_NO_MORE_SAMPLES;
        INSSBuffer* buffer = nullptr; // one reference, for S_OK only
        QWORD time = 0;
        QWORD duration = 0;
        DWORD flags = 0;
        DWORD output = 0;
    };
    using Producer = std::function<Sample()>;

    explicit SampleReadAhead(Producer produce);
    ~SampleReadAhead();
    SampleReadAhead(const SampleReadAhead&) = delete;
    SampleReadAhead& operator=(const SampleReadAhead&) = delete;

    // The next sample, waiting for it when none is ready; the caller owns its buffer's reference.
    Sample Next();

private:
    void Run();
    bool Full() const;

    Producer produce;
    std::mutex mutex;
    std::condition_variable ready; // a batch of samples, or the last one, waits
    std::condition_variable room; // there is room again, or the thread is to stop
    std::deque<Sample> waiting;
    size_t waitingBytes = 0;
    bool consumerWaits = false;
    bool producerWaits = false;
    bool finished = false; // the last result is in `waiting` or was handed out
    bool stopping = false;
    HRESULT last = NS_E_NO_MORE_SAMPLES;
    std::thread thread; // last: started once everything above is in place
};
