#include "support/LameEncTestHooks.h"

#include "platform/lame_enc/LameEnc.h"
#include "platform/loader/DynamicLibrary.h"

#include <algorithm>
#include <mutex>

namespace {

using FailAfterCall = void (*)(long);
using TakeLogCall = DWORD (*)(DWORD*, DWORD);

std::mutex holdLock;

// The library stays loaded from the first control until LameEncResetControls, so that what
// the controls set survives the jobs that load and release it in between.
DynamicLibrary& Library()
{
    static DynamicLibrary library;
    return library;
}

DynamicLibrary& Held()
{
    if (!Library()) {
        Library() = DynamicLibrary::Load(testing_support::kLameEncTestLibraryName);
        if (Library())
            RedirectLibrary(kLameEncLibraryName, testing_support::kLameEncTestLibraryName);
    }
    return Library();
}

template <typename Call> Call Find(const char* name)
{
    return reinterpret_cast<Call>(Held().Symbol(name));
}

} // namespace

bool LameEncFailChunksAfter(long successes)
{
    std::lock_guard<std::mutex> hold(holdLock);
    auto call = Find<FailAfterCall>("lameEncTestFailChunksAfter");
    if (call == nullptr)
        return false;
    call(successes);
    return true;
}

void LameEncFailNever()
{
    std::lock_guard<std::mutex> hold(holdLock);
    if (auto call = Find<FailAfterCall>("lameEncTestFailChunksAfter"))
        call(-1);
}

bool LameEncStartChunkLog()
{
    std::lock_guard<std::mutex> hold(holdLock);
    auto call = Find<TakeLogCall>("lameEncTestTakeChunkLog");
    if (call == nullptr)
        return false;
    call(nullptr, 0);
    return true;
}

std::vector<uint32_t> LameEncTakeChunkLog()
{
    std::lock_guard<std::mutex> hold(holdLock);
    auto call = Find<TakeLogCall>("lameEncTestTakeChunkLog");
    if (call == nullptr)
        return {};
    std::vector<uint32_t> counts(1u << 16);
    const DWORD total = call(counts.data(), static_cast<DWORD>(counts.size()));
    counts.resize(std::min<size_t>(total, counts.size()));
    return counts;
}

void LameEncResetControls()
{
    std::lock_guard<std::mutex> hold(holdLock);
    if (!Library())
        return;
    if (auto fail = Find<FailAfterCall>("lameEncTestFailChunksAfter"))
        fail(-1);
    if (auto take = Find<TakeLogCall>("lameEncTestTakeChunkLog"))
        take(nullptr, 0);
    Library().Release();
    RedirectLibrary(kLameEncLibraryName, kLameEncLibraryName); // the name itself again
}
