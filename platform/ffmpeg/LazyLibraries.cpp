#include "platform/ffmpeg/LazyLibraries.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void CannotBind(const char* what, const char* name)
{
    const char* reason = dlerror();
    std::fprintf(stderr, "cannot load %s %s, which reading compressed audio needs: %s\n", what, name,
        reason != nullptr ? reason : "not found");
    std::abort();
}

} // namespace

void BindLazyTable(const LazyTable& table)
{
    // The handles are kept: the functions stay bound until the process ends.
    std::vector<void*> handles(table.libraryCount, nullptr);
    for (std::size_t k = 0; k < table.libraryCount; ++k) {
        handles[k] = dlopen(table.libraries[k], RTLD_NOW | RTLD_LOCAL);
        if (handles[k] == nullptr)
            CannotBind("the library", table.libraries[k]);
    }
    for (std::size_t k = 0; k < table.symbolCount; ++k) {
        const LazySymbol& symbol = table.symbols[k];
        void* address = dlsym(handles[symbol.library], symbol.name);
        if (address == nullptr)
            CannotBind("the function", symbol.name);
        // The stand-ins read the slots without a lock: each slot is one aligned word.
        __atomic_store_n(&table.slots[k], address, __ATOMIC_RELEASE);
    }
}
