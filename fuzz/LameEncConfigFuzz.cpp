// The encoder library with arbitrary configuration records and audio: the first 331 bytes are
// the record, the rest 16-bit samples. Whatever the record says, a stream either opens and
// encodes within the output size it announced, or is refused; nothing crashes or overruns.
#include "platform/lame_enc/LameEnc.h"
#include "platform/loader/DynamicLibrary.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Calls {
    DynamicLibrary library = DynamicLibrary::Load(kLameEncLibraryName);
    BEINITSTREAM init = reinterpret_cast<BEINITSTREAM>(library.Symbol(TEXT_BEINITSTREAM));
    BEENCODECHUNK encode = reinterpret_cast<BEENCODECHUNK>(library.Symbol(TEXT_BEENCODECHUNK));
    BEDEINITSTREAM deinit = reinterpret_cast<BEDEINITSTREAM>(library.Symbol(TEXT_BEDEINITSTREAM));
    BECLOSESTREAM close = reinterpret_cast<BECLOSESTREAM>(library.Symbol(TEXT_BECLOSESTREAM));
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Calls calls;
    if (!calls.init || !calls.encode || !calls.deinit || !calls.close)
        std::abort(); // the library must be installed beside the program
    BE_CONFIG config {};
    std::memcpy(&config, data, std::min(size, sizeof(config)));
    DWORD chunk = 0;
    DWORD bufferSize = 0;
    HBE_STREAM stream = 0;
    if (calls.init(&config, &chunk, &bufferSize, &stream) != BE_ERR_SUCCESSFUL)
        return 0;
    std::vector<int16_t> pcm(chunk);
    const size_t audioBytes = size > sizeof(config) ? size - sizeof(config) : 0;
    std::memcpy(pcm.data(), data + std::min(size, sizeof(config)), std::min(audioBytes, pcm.size() * 2));
    // Guard bytes after the announced size catch a library that writes beyond it.
    std::vector<uint8_t> output(bufferSize + 64, 0xA5);
    DWORD produced = 0;
    for (int i = 0; i < 8; ++i) {
        if (calls.encode(stream, chunk, pcm.data(), output.data(), &produced) != BE_ERR_SUCCESSFUL)
            break;
        if (produced > bufferSize)
            std::abort();
    }
    if (calls.deinit(stream, output.data(), &produced) == BE_ERR_SUCCESSFUL && produced > bufferSize)
        std::abort();
    for (size_t i = bufferSize; i < output.size(); ++i) {
        if (output[i] != 0xA5)
            std::abort();
    }
    calls.close(stream);
    return 0;
}
