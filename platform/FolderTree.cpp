#include "platform/FolderTree.h"

#include "platform/OutputFile.h"
#include "platform/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A descriptor closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int value)
        : value(value)
    { }
    ~Descriptor()
    {
        if (value >= 0)
            ::close(value);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return value; }
    void Reset(int other)
    {
        if (value >= 0)
            ::close(value);
        value = other;
    }

private:
    int value;
};

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

} // namespace

bool FolderTree::MakeBelow(const std::string& root, const std::vector<std::string>& folders, std::string& reason)
{
    Descriptor at(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (at.Get() < 0) {
        reason = root + ": " + SystemErrorText(errno);
        return false;
    }
    std::string path;
    for (const std::string& name : folders) {
        path += (path.empty() ? "" : "/") + name;
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
            reason = path + ": not a folder name";
            return false;
        }
        if (::mkdirat(at.Get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
            reason = path + ": " + SystemErrorText(errno);
            return false;
        }
        const int next = ::openat(at.Get(), name.c_str(), kFolderFlags);
        if (next < 0) {
            const bool notFolder = errno == ELOOP || errno == ENOTDIR;
            reason = path + ": " + (notFolder ? "is a link or a file, not a folder" : SystemErrorText(errno));
            return false;
        }
        at.Reset(next);
    }
    return true;
}

bool FolderTree::CopyNew(const std::string& from, const std::string& to, std::string& reason)
{
    Descriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat facts { };
    if (in.Get() < 0 || ::fstat(in.Get(), &facts) != 0 || !S_ISREG(facts.st_mode)) {
        reason = from + ": " + (in.Get() < 0 && errno != ELOOP ? SystemErrorText(errno) : "not a regular file");
        return false;
    }
    if (OutputFile::EntryExists(to)) {
        reason = to + ": exists";
        return false;
    }
    OutputFile output;
    if (!output.Create(to, reason))
        return false;
    char block[65536];
    ssize_t got = 0;
    int64_t offset = 0;
    while ((got = ::read(in.Get(), block, sizeof block)) > 0) {
        if (::pwrite(output.Descriptor(), block, static_cast<size_t>(got), offset) != got) {
            reason = to + ": " + SystemErrorText(errno);
            return false;
        }
        offset += got;
    }
    if (got < 0) {
        reason = from + ": " + SystemErrorText(errno);
        return false;
    }
    return output.Commit(reason);
}
