#include "audio/FlacHead.h"

#include "platform/ReadOnlyFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t kStreamInfo = 0;
constexpr uint8_t kVorbisComment = 4;
constexpr uint8_t kInvalid = 127;
constexpr size_t kStreamInfoLength = 34;
// A file's first read: the mark, STREAMINFO and, as taggers lay files out, the comment block.
constexpr size_t kFirstRead = 4096;
// A file with more blocks than this is not what a tagger writes; it is read the slow way.
constexpr int kMostBlocks = 1024;

uint32_t BigEndian(const uint8_t* bytes, size_t count)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

bool ReadStreamInfo(const uint8_t* info, FlacHead& head)
{
    // Bytes 10-17: sample rate (20 bits), channels - 1 (3), bits per sample - 1 (5), total
    // samples (36).
    head.sampleRate = BigEndian(info + 10, 3) >> 4;
    head.channels = static_cast<uint8_t>(((info[12] >> 1) & 0x07) + 1);
    head.bitsPerSample = static_cast<uint8_t>((((info[12] & 0x01) << 4) | (info[13] >> 4)) + 1);
    head.totalSamples = (static_cast<uint64_t>(info[13] & 0x0F) << 32) | BigEndian(info + 14, 4);
    return head.sampleRate != 0;
}

// Reads exactly `size` bytes at `offset`, from `first` when it holds them.
bool Take(const FlacHead::ReadAt& readAt, const std::vector<uint8_t>& first, int64_t offset, size_t size,
    std::string& into)
{
    into.resize(size);
    if (offset >= 0 && static_cast<size_t>(offset) + size <= first.size()) {
        std::memcpy(into.data(), first.data() + offset, size);
        return true;
    }
    return size == 0 || readAt(offset, into.data(), size) == static_cast<int64_t>(size);
}

} // namespace

std::optional<FlacHead> FlacHead::Read(const ReadAt& readAt)
{
    std::vector<uint8_t> first(kFirstRead, 0);
    const int64_t got = readAt(0, first.data(), first.size());
    if (got < static_cast<int64_t>(4 + 4 + kStreamInfoLength) || std::memcmp(first.data(), "fLaC", 4) != 0)
        return std::nullopt;
    first.resize(static_cast<size_t>(got));
    FlacHead head;
    int64_t at = 4;
    std::string header;
    for (int block = 0; block < kMostBlocks; ++block) {
        if (!Take(readAt, first, at, 4, header))
            return std::nullopt;
        const auto* bytes = reinterpret_cast<const uint8_t*>(header.data());
        const bool last = (bytes[0] & 0x80) != 0;
        const uint8_t type = bytes[0] & 0x7F;
        const uint32_t length = BigEndian(bytes + 1, 3);
        const int64_t body = at + 4;
        if (type == kInvalid || (block == 0) != (type == kStreamInfo))
            return std::nullopt;
        if (type == kStreamInfo) {
            std::string info;
            if (length != kStreamInfoLength || !Take(readAt, first, body, length, info)
                || !ReadStreamInfo(reinterpret_cast<const uint8_t*>(info.data()), head))
                return std::nullopt;
        } else if (type == kVorbisComment && !head.hasComment) {
            if (!Take(readAt, first, body, length, head.comment))
                return std::nullopt;
            head.hasComment = true;
        }
        at = body + length;
        if (last || head.hasComment)
            return head;
    }
    return std::nullopt;
}

std::optional<FlacHead> FlacHead::ReadFile(const std::string& path, uint64_t* fileSize)
{
    const ReadOnlyFile file(path);
    if (!file.IsOpen())
        return std::nullopt;
    if (fileSize != nullptr)
        *fileSize = file.Size();
    return Read([&file](int64_t offset, void* into, size_t size) { return file.ReadAt(offset, into, size); });
}

std::optional<FlacHead> FlacHead::ReadBytes(const uint8_t* data, size_t size)
{
    return Read([data, size](int64_t offset, void* into, size_t count) -> int64_t {
        if (offset < 0 || static_cast<uint64_t>(offset) > size)
            return -1;
        const size_t available = std::min(count, size - static_cast<size_t>(offset));
        if (available > 0)
            std::memcpy(into, data + offset, available);
        return static_cast<int64_t>(available);
    });
}
