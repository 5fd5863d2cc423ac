// For the fuzz targets whose inputs reach the media module (MediaModule.h): it holds every
// decoder, so without it each input would fail at once and nothing would be fuzzed. A build that
// cannot load it stops at the first input, saying why, instead of passing.
#pragma once

#include "platform/media/MediaModule.h"

#include <cstdio>
#include <cstdlib>

inline void RequireMediaModule()
{
    static const bool loaded = MediaModule::Process().Table() != nullptr;
    if (!loaded) {
        std::fprintf(stderr, "%s\n", MediaModule::Process().Problem().c_str());
        std::abort();
    }
}
