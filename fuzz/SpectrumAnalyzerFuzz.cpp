// Feeds the spectrum analyzer arbitrary formats, buffer sizes and buffer contents: it must pass
// every buffer through unchanged and never crash, hang or read outside a buffer.
//
// Input: channels (2 bytes LE), bits per sample (1 byte), buffer size (4 bytes LE), a second
// buffer size used for a re-sizing after the first half (4 bytes LE), then blocks, each a 2-byte
// LE length followed by that many bytes (cut short at the end of the input).
#include "analysis/SpectrumAnalyzer.h"
#include "platform/Message.h"
#include "platform/RecordingMessageBackend.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

class BlockStream : public AudioStream {
public:
    WAVEFORMATEX* GetFormat() override { return &format; }
    AudioBufferRef GetBuffer() override
    {
        if (next >= blocks.size())
            return AudioBufferRef::MakeEmpty();
        const auto& block = blocks[next++];
        return AudioBufferRef::FromData(block.data(), static_cast<uint32_t>(block.size()), true);
    }

    WAVEFORMATEX format {};
    std::vector<std::vector<uint8_t>> blocks;
    size_t next = 0;
};

uint32_t Read(const uint8_t*& data, size_t& size, size_t bytes)
{
    uint32_t value = 0;
    for (size_t i = 0; i < bytes && size > 0; ++i, ++data, --size)
        value |= uint32_t {*data} << (8 * i);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto quiet = [] {
        auto recorder = std::make_shared<RecordingMessageBackend>();
        SetMessageBackend(recorder);
        return recorder;
    }();
    quiet->Clear();

    BlockStream stream;
    stream.format.wFormatTag = WAVE_FORMAT_PCM;
    stream.format.nChannels = static_cast<WORD>(Read(data, size, 2));
    stream.format.wBitsPerSample = static_cast<WORD>(Read(data, size, 1));
    stream.bufferSize = Read(data, size, 4);
    const uint32_t secondBufferSize = Read(data, size, 4);
    while (size > 0 && stream.blocks.size() < 64) {
        const size_t length = std::min<size_t>(Read(data, size, 2), size);
        stream.blocks.emplace_back(data, data + length);
        data += length;
        size -= length;
    }

    SpectrumAnalyzer analyzer;
    analyzer.SetSource(&stream);
    for (size_t i = 0; i <= stream.blocks.size(); ++i) {
        if (i == stream.blocks.size() / 2) {
            stream.bufferSize = secondBufferSize;
            analyzer.SetSource(&stream);
        }
        AudioBufferRef buffer = analyzer.GetBuffer();
        if (i == stream.blocks.size()) {
            if (!buffer.IsEnd())
                std::abort();
            break;
        }
        const auto& block = stream.blocks[i];
        if (buffer.GetLength() != block.size()
            || (!block.empty() && std::memcmp(buffer.GetData(), block.data(), block.size()) != 0))
            std::abort(); // the audio must pass through unchanged
    }
    // Let the analysis finish before the analyzer goes (its destructor drops what is queued).
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (analyzer.PendingBuffers() != 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (analyzer.PendingBuffers() != 0)
        std::abort(); // the analysis hung
    if (analyzer.GetSpectra().size() > 51)
        std::abort();
    return 0;
}
