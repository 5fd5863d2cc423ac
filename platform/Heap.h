// The general-purpose heap that audio blocks come from. A thin layer over malloc/free with one
// addition: tests can make allocations fail on purpose, to prove that a failed allocation is
// reported rather than ignored.
#pragma once

#include <cstddef>

// Returns a block of at least `size` bytes, or null when the heap cannot provide it.
// A request for 0 bytes returns null without failing.
void* HeapAllocate(size_t size);

// Frees a block from HeapAllocate; null is ignored.
void HeapRelease(void* block);

// Test control: after `successes` more successful allocations every allocation fails, until
// HeapFailNever() is called. Thread-safe.
void HeapFailAfter(long successes);
void HeapFailNever();
