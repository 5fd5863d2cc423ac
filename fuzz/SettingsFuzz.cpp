// The settings file reader on arbitrary bytes: it must never read outside its input, and what
// it reads must come back unchanged when written and read again.
#include "engine/SettingsFile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<std::string> texts = SettingsFile::Decode(data, size);
    if (texts.size() > SettingsFile::kElementCount)
        __builtin_trap();
    const std::vector<uint8_t> written = SettingsFile::Encode(texts);
    if (SettingsFile::Decode(written.data(), written.size()) != texts)
        __builtin_trap();
    const std::vector<std::string> all = SettingsFile::Decode(data, size, SIZE_MAX);
    if (all.size() < texts.size())
        __builtin_trap();
    return 0;
}
