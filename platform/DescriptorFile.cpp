#include "platform/DescriptorFile.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Bytes moved at a time when the tail of a file moves.
constexpr int64_t kMoveChunk = 1 << 20;

} // namespace

bool DescriptorFile::Fail(const char* what)
{
    const int error = errno;
    if (failure.empty())
        failure = std::string(what) + " (" + SystemErrorText(error) + ")";
    return false;
}

int64_t DescriptorFile::ReadAt(int64_t offset, void* into, size_t size)
{
    auto* bytes = static_cast<char*>(into);
    size_t done = 0;
    while (done < size) {
        const ssize_t got
            = pread(descriptor, bytes + done, size - done, static_cast<off_t>(offset) + off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Fail("the file could not be read"), -1;
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool DescriptorFile::WriteAt(int64_t offset, const void* into, size_t size)
{
    const auto* bytes = static_cast<const char*>(into);
    size_t done = 0;
    while (done < size) {
        const ssize_t put
            = pwrite(descriptor, bytes + done, size - done, static_cast<off_t>(offset) + off_t(done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return Fail("the file could not be written");
        done += static_cast<size_t>(put);
    }
    return true;
}

bool DescriptorFile::Truncate(int64_t size)
{
    int result;
    do
        result = ftruncate(descriptor, static_cast<off_t>(size));
    while (result != 0 && errno == EINTR);
    return result == 0 || Fail("the file's length could not be set");
}

int64_t DescriptorFile::Size()
{
    struct stat status { };
    if (fstat(descriptor, &status) != 0)
        return Fail("the file's length could not be read"), -1;
    return static_cast<int64_t>(status.st_size);
}

bool DescriptorFile::MoveTail(int64_t from, int64_t to)
{
    const int64_t end = Size();
    if (end < 0)
        return false;
    if (from == to)
        return true;
    if (from >= end)
        return to >= end || Truncate(to);
    std::vector<char> buffer(static_cast<size_t>(std::min(kMoveChunk, end - from)));
    const int64_t shift = to - from;
    // Moving towards the end, the last chunk goes first, so that no byte is overwritten before
    // it has been moved; towards the start, the first chunk goes first.
    for (int64_t moved = 0; moved < end - from;) {
        const int64_t chunk = std::min<int64_t>(int64_t(buffer.size()), end - from - moved);
        const int64_t at = shift > 0 ? end - moved - chunk : from + moved;
        const int64_t got = ReadAt(at, buffer.data(), size_t(chunk));
        if (got >= 0 && got != chunk && failure.empty())
            failure = "the file could not be read (it became shorter while it was rewritten)";
        if (got != chunk)
            return false;
        if (!WriteAt(at + shift, buffer.data(), size_t(chunk)))
            return false;
        moved += chunk;
    }
    return shift > 0 || Truncate(end + shift);
}
