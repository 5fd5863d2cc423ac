#include "platform/Heap.h"

#include <atomic>
#include <cstdlib>

namespace {

// Remaining successful allocations before failures start; negative means "never fail".
std::atomic<long> allowedAllocations{-1};

bool InjectedFailure()
{
    long allowed = allowedAllocations.load(std::memory_order_relaxed);
    while (allowed >= 0) {
        if (allowed == 0)
            return true;
        if (allowedAllocations.compare_exchange_weak(allowed, allowed - 1, std::memory_order_relaxed))
            return false;
    }
    return false;
}

} // namespace

void* HeapAllocate(size_t size)
{
    if (size == 0 || InjectedFailure())
        return nullptr;
    return std::malloc(size);
}

void HeapRelease(void* block)
{
    std::free(block);
}

void HeapFailAfter(long successes)
{
    allowedAllocations.store(successes < 0 ? 0 : successes, std::memory_order_relaxed);
}

void HeapFailNever()
{
    allowedAllocations.store(-1, std::memory_order_relaxed);
}
