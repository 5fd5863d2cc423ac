#include "platform/ReadOnlyFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

ReadOnlyFile::ReadOnlyFile(const std::string& path)
{
    // Non-blocking, so that a FIFO is seen by fstat instead of waiting for a writer; a regular
    // file reads the same either way.
    const int opened = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (opened < 0)
        return;
    struct stat status { };
    if (::fstat(opened, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(opened);
        return;
    }
    descriptor = opened;
    size = static_cast<uint64_t>(status.st_size);
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (descriptor >= 0)
        ::close(descriptor);
}

int64_t ReadOnlyFile::ReadAt(int64_t offset, void* into, size_t size) const
{
    if (descriptor < 0 || offset < 0)
        return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(descriptor, static_cast<char*>(into) + done, size - done, offset + static_cast<int64_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}
