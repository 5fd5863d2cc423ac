#include "platform/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* KindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "not a regular file (a directory)";
    if (S_ISFIFO(mode))
        return "not a regular file (a FIFO)";
    if (S_ISSOCK(mode))
        return "not a regular file (a socket)";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "not a regular file (a device)";
    return "not a regular file";
}

} // namespace

std::string SystemErrorText(int errorNumber)
{
    char text[256] = {};
    // The GNU form returns the text, which may or may not be the buffer.
    return strerror_r(errorNumber, text, sizeof text);
}

std::FILE* OpenRegularFile(const char* path, std::string* reason)
{
    std::string ignored;
    std::string& why = reason != nullptr ? *reason : ignored;
    if (path == nullptr || *path == '\0') {
        why = SystemErrorText(ENOENT);
        return nullptr;
    }
    // Non-blocking, so that a FIFO is seen by fstat instead of waiting for a writer.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        why = SystemErrorText(errno);
        return nullptr;
    }
    struct stat status { };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        why = ::fstat(fd, &status) != 0 ? SystemErrorText(errno) : KindOf(status.st_mode);
        ::close(fd);
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* stream = ::fdopen(fd, "rb");
    if (stream == nullptr) {
        why = SystemErrorText(errno);
        ::close(fd);
    }
    return stream;
}

std::string RegularFileProblem(const char* path)
{
    std::string reason;
    std::FILE* stream = OpenRegularFile(path, &reason);
    if (stream != nullptr)
        std::fclose(stream);
    return reason;
}

bool IsRegularFile(const char* path)
{
    struct stat status { };
    return path != nullptr && ::stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool IsDeviceNode(const char* path)
{
    struct stat status { };
    return path != nullptr && ::stat(path, &status) == 0
        && (S_ISBLK(status.st_mode) || S_ISCHR(status.st_mode));
}

std::optional<FileFacts> FileFactsOf(const char* path, bool followLink)
{
    struct stat facts { };
    if ((followLink ? ::stat(path, &facts) : ::lstat(path, &facts)) != 0)
        return std::nullopt;
    FileFacts out;
    out.regular = S_ISREG(facts.st_mode);
    out.folder = S_ISDIR(facts.st_mode);
    out.device = static_cast<uint64_t>(facts.st_dev);
    out.inode = static_cast<uint64_t>(facts.st_ino);
    out.size = static_cast<uint64_t>(facts.st_size);
    out.modified = static_cast<int64_t>(facts.st_mtim.tv_sec) * 1000000000 + facts.st_mtim.tv_nsec;
    return out;
}
