// Builds RIFF/WAVE files byte by byte for the reader tests: chunks with chosen ids, sizes and
// payloads, so that malformed layouts can be made as easily as canonical ones.
#pragma once

#include "platform/MmSystem.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

inline void PutLe16(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void PutLe32(std::vector<uint8_t>& out, uint32_t value)
{
    PutLe16(out, value & 0xFFFF);
    PutLe16(out, value >> 16);
}

// One chunk: id, size (the payload's unless given), payload and, for an odd payload, a pad byte.
inline std::vector<uint8_t> Chunk(
    const std::string& id, const std::vector<uint8_t>& payload, std::optional<uint32_t> size = std::nullopt)
{
    std::vector<uint8_t> out(id.begin(), id.end());
    out.resize(4, ' ');
    PutLe32(out, size.value_or(static_cast<uint32_t>(payload.size())));
    out.insert(out.end(), payload.begin(), payload.end());
    if (payload.size() % 2 != 0)
        out.push_back(0);
    return out;
}

// A "RIFF" (or other container) chunk with a form type around the given child chunks.
inline std::vector<uint8_t> Riff(const std::vector<std::vector<uint8_t>>& children,
    const std::string& form = "WAVE", const std::string& id = "RIFF",
    std::optional<uint32_t> size = std::nullopt)
{
    std::vector<uint8_t> body(form.begin(), form.end());
    for (const auto& child : children)
        body.insert(body.end(), child.begin(), child.end());
    std::vector<uint8_t> out(id.begin(), id.end());
    PutLe32(out, size.value_or(static_cast<uint32_t>(body.size())));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A "fmt " payload: the 16-byte record, plus cbSize and the extra bytes when there are any.
inline std::vector<uint8_t> FmtPayload(
    const WAVEFORMATEX& format, const std::vector<uint8_t>& extra = {}, bool withSize = false)
{
    std::vector<uint8_t> out;
    PutLe16(out, format.wFormatTag);
    PutLe16(out, format.nChannels);
    PutLe32(out, format.nSamplesPerSec);
    PutLe32(out, format.nAvgBytesPerSec);
    PutLe16(out, format.nBlockAlign);
    PutLe16(out, format.wBitsPerSample);
    if (withSize || !extra.empty()) {
        PutLe16(out, static_cast<uint32_t>(extra.size()));
        out.insert(out.end(), extra.begin(), extra.end());
    }
    return out;
}

// The canonical 44-byte-header file.
inline std::vector<uint8_t> CanonicalWave(const WAVEFORMATEX& format, const std::vector<uint8_t>& data)
{
    return Riff({Chunk("fmt ", FmtPayload(format)), Chunk("data", data)});
}

inline std::vector<uint8_t> Samples16(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> out;
    for (int16_t sample : samples)
        PutLe16(out, static_cast<uint16_t>(sample));
    return out;
}

inline std::vector<int16_t> AsSamples16(const char* data, size_t bytes)
{
    std::vector<int16_t> out(bytes / 2);
    if (!out.empty())
        std::memcpy(out.data(), data, out.size() * 2);
    return out;
}

} // namespace testing_support
