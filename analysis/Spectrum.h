// A reference-counted array of doubles shared through small handles: a spectrum computed by the
// SpectrumAnalyzer, or the input samples of one analysis. Copying a handle shares the array; the
// last handle frees the record and, when the record owns it, the data. Reference counts are
// atomic, so handles may be dropped on the analysis thread and on a reader's thread.
#pragma once

#include <atomic>
#include <cstdint>

class Spectrum {
public:
    // A new array of `length` doubles from the heap, all 0. Throws std::bad_alloc when the
    // heap cannot provide it.
    static Spectrum Create(uint32_t length);
    // A view of the caller's `length` doubles at `data`, which must outlive every handle.
    static Spectrum Borrow(double* data, uint32_t length);

    Spectrum(const Spectrum& other) noexcept;
    Spectrum& operator=(const Spectrum& other) noexcept;
    ~Spectrum();

    double* Data() const { return record->data; }
    uint32_t Length() const { return record->length; }
    bool OwnsData() const { return record->ownsData; }
    int32_t RefCount() const { return record->refCount.load(std::memory_order_acquire); }
    double& operator[](uint32_t index) const { return record->data[index]; }

private:
    struct Record {
        double* data = nullptr;
        uint32_t length = 0;
        bool ownsData = false;
        std::atomic<int32_t> refCount {1};
    };

    explicit Spectrum(Record* adopted) noexcept
        : record(adopted)
    { }
    void Release() noexcept;

    Record* record;
};
