// Runs work(i) for every i below `count` on a few threads at once: the machine's processors, at
// most four, and no more threads than there is work for. For reading the heads of many files,
// where each read waits on the disk as much as on the processor. `work` must be safe to run for
// different i at once and must not throw. Returns when every call has returned.
//
// Threads: called from any thread; `work` runs on the caller's thread and on the new ones.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

template <class Work> void EachAtOnce(size_t count, const Work& work)
{
    constexpr size_t kMostThreads = 4;
    constexpr size_t kLeastPerThread = 16; // fewer calls than this are not worth a thread
    const size_t processors = std::max<size_t>(std::thread::hardware_concurrency(), 1);
    const size_t threads = std::min({processors, kMostThreads, std::max<size_t>(count / kLeastPerThread, 1)});
    std::atomic<size_t> next {0};
    const auto run = [&] {
        for (size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1))
            work(i);
    };
    std::vector<std::jthread> helpers;
    for (size_t k = 1; k < threads; ++k)
        helpers.emplace_back(run);
    run();
}
