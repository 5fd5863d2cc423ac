#include "analysis/Spectrum.h"

#include "platform/Heap.h"

#include <cstring>
#include <memory>
#include <new>

Spectrum Spectrum::Create(uint32_t length)
{
    auto fresh = std::make_unique<Record>();
    const size_t bytes = static_cast<size_t>(length) * sizeof(double);
    void* block = HeapAllocate(bytes);
    if (block == nullptr && bytes != 0)
        throw std::bad_alloc();
    if (bytes != 0)
        std::memset(block, 0, bytes);
    fresh->data = static_cast<double*>(block);
    fresh->length = length;
    fresh->ownsData = true;
    return Spectrum(fresh.release());
}

Spectrum Spectrum::Borrow(double* data, uint32_t length)
{
    auto fresh = std::make_unique<Record>();
    fresh->data = data;
    fresh->length = data == nullptr ? 0 : length;
    return Spectrum(fresh.release());
}

Spectrum::Spectrum(const Spectrum& other) noexcept
    : record(other.record)
{
    record->refCount.fetch_add(1, std::memory_order_relaxed);
}

Spectrum& Spectrum::operator=(const Spectrum& other) noexcept
{
    // Take the new record before letting go of the old one: self-assignment stays safe.
    other.record->refCount.fetch_add(1, std::memory_order_relaxed);
    Release();
    record = other.record;
    return *this;
}

Spectrum::~Spectrum()
{
    Release();
}

void Spectrum::Release() noexcept
{
    if (record->refCount.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    if (record->ownsData)
        HeapRelease(record->data);
    delete record;
}
