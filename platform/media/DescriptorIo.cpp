#include "platform/media/DescriptorIo.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kBufferBytes = 64 * 1024;

} // namespace

DescriptorIo::~DescriptorIo()
{
    if (context != nullptr)
        av_freep(&context->buffer);
    avio_context_free(&context);
}

bool DescriptorIo::Open(int file)
{
    descriptor = file;
    start = lseek(descriptor, 0, SEEK_CUR);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (buffer == nullptr)
        return false;
    context = avio_alloc_context(buffer, kBufferBytes, 1, this, Read, Write, Seekable() ? Seek : nullptr);
    if (context == nullptr)
        av_free(buffer);
    return context != nullptr;
}

int DescriptorIo::Fail(const char* what)
{
    const int error = errno;
    if (failure.empty())
        failure = std::string(what) + " (" + std::strerror(error) + ")";
    return AVERROR(error);
}

int DescriptorIo::Read(void* opaque, uint8_t* buffer, int size)
{
    auto& io = *static_cast<DescriptorIo*>(opaque);
    ssize_t got;
    do
        got = read(io.descriptor, buffer, static_cast<size_t>(size));
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return io.Fail("the new file could not be read back");
    return got == 0 ? AVERROR_EOF : static_cast<int>(got);
}

int DescriptorIo::Write(void* opaque, uint8_t* buffer, int size)
{
    auto& io = *static_cast<DescriptorIo*>(opaque);
    // A short write is not a failure: the rest follows, until the system refuses.
    int done = 0;
    while (done < size) {
        const ssize_t wrote = write(io.descriptor, buffer + done, static_cast<size_t>(size - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            if (wrote == 0)
                errno = EIO;
            return io.Fail("the file could not be written");
        }
        done += static_cast<int>(wrote);
    }
    return done;
}

int64_t DescriptorIo::Seek(void* opaque, int64_t offset, int whence)
{
    auto& io = *static_cast<DescriptorIo*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status { };
        if (fstat(io.descriptor, &status) != 0)
            return io.Fail("the new file's size could not be read");
        return static_cast<int64_t>(status.st_size) - io.start;
    }
    whence &= ~AVSEEK_FORCE;
    off_t target;
    if (whence == SEEK_SET)
        target = lseek(io.descriptor, io.start + offset, SEEK_SET);
    else
        target = lseek(io.descriptor, offset, whence);
    if (target < 0)
        return io.Fail("the new file could not be repositioned");
    return static_cast<int64_t>(target) - io.start;
}
