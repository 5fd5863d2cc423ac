#include "platform/Diagnostics.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<bool> shown {true};

} // namespace

void Diagnostics::Write(const char* text)
{
    if (text == nullptr || !shown.load())
        return;
    // One call per line: stdio's lock keeps lines of several threads apart.
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void Diagnostics::SetShown(bool value)
{
    shown.store(value);
}

bool Diagnostics::Shown()
{
    return shown.load();
}
