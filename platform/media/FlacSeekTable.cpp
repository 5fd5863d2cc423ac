#include "platform/media/FlacSeekTable.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint8_t kPaddingType = 1;
constexpr uint8_t kSeekTableType = 3;
constexpr uint32_t kPointBytes = 18;
constexpr uint32_t kHeaderBytes = 4;

void PutBigEndian(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

bool ReadAt(int descriptor, int64_t at, uint8_t* into, size_t size)
{
    return pread(descriptor, into, size, at) == static_cast<ssize_t>(size);
}

bool WriteAt(int descriptor, int64_t at, const std::vector<uint8_t>& bytes)
{
    return pwrite(descriptor, bytes.data(), bytes.size(), at) == static_cast<ssize_t>(bytes.size());
}

} // namespace

void FlacSeekTable::NoteFrame(int64_t firstSample, uint32_t samples, uint32_t bytes)
{
    frames.push_back({firstSample, nextOffset, samples});
    nextOffset += bytes;
}

// The SEEKTABLE block (header included) whose points fit in `room` bytes: the first frame at or
// before each multiple of the spacing, once each, in order.
std::vector<uint8_t> FlacSeekTable::Block(uint32_t rate, uint32_t room) const
{
    const int64_t total = frames.empty() ? 0 : frames.back().firstSample + frames.back().samples;
    // Points further apart until they fit; a spacing past the end leaves the one point at 0,
    // which Insert has made sure there is room for.
    int64_t spacing = std::max<int64_t>(int64_t {rate} * 10, 1);
    while (spacing < total && (total / spacing + 1) * kPointBytes > room)
        spacing *= 2;
    std::vector<uint8_t> points;
    size_t frame = 0;
    int64_t lastNoted = -1;
    for (int64_t target = 0; target < total; target += spacing) {
        while (frame + 1 < frames.size() && frames[frame + 1].firstSample <= target)
            ++frame;
        if (frames[frame].firstSample == lastNoted)
            continue;
        lastNoted = frames[frame].firstSample;
        PutBigEndian(points, static_cast<uint64_t>(frames[frame].firstSample), 8);
        PutBigEndian(points, static_cast<uint64_t>(frames[frame].offset), 8);
        PutBigEndian(points, frames[frame].samples, 2);
    }
    std::vector<uint8_t> block {kSeekTableType};
    PutBigEndian(block, points.size(), 3);
    block.insert(block.end(), points.begin(), points.end());
    return block;
}

bool FlacSeekTable::Insert(int descriptor, int64_t start, uint32_t rate, std::string& reason) const
{
    struct stat status { };
    uint8_t header[kHeaderBytes];
    errno = 0;
    if (fstat(descriptor, &status) != 0 || !ReadAt(descriptor, start, header, sizeof header)
        || std::memcmp(header, "fLaC", 4) != 0) {
        reason = std::string("the FLAC headers could not be read back (")
            + (errno != 0 ? std::strerror(errno) : "they are not where they were written") + ")";
        return false;
    }
    // Every block must lie within the file: what was read back is not trusted to end the walk.
    for (int64_t at = start + 4; at + kHeaderBytes <= status.st_size;) {
        if (!ReadAt(descriptor, at, header, sizeof header))
            break;
        const bool last = (header[0] & 0x80) != 0;
        const uint32_t length = (uint32_t {header[1]} << 16) | (uint32_t {header[2]} << 8) | header[3];
        // A padding block too small for the table's header and one point is passed over.
        if ((header[0] & 0x7f) == kPaddingType && length >= kHeaderBytes + kPointBytes) {
            std::vector<uint8_t> bytes = Block(rate, length - kHeaderBytes);
            // The padding that is left follows the table, in the same place in the chain.
            const uint32_t rest = length - static_cast<uint32_t>(bytes.size());
            bytes.push_back(static_cast<uint8_t>((last ? 0x80 : 0) | kPaddingType));
            PutBigEndian(bytes, rest, 3);
            if (WriteAt(descriptor, at, bytes))
                return true;
            reason = std::string("the FLAC seek table could not be written (") + std::strerror(errno) + ")";
            return false;
        }
        if (last)
            break;
        at += kHeaderBytes + length;
    }
    reason = "the FLAC headers leave no room for a seek table";
    return false;
}
