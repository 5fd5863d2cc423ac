#include "platform/OutputFile.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kReplacedMeanwhile
    = "another program wrote the file while this conversion ran; its file was kept";

std::atomic<OutputFile::BeforeNamingHook> beforeNaming {nullptr};
std::atomic<bool> renameFlagsRefused {false};

// renameat2 with RENAME_NOREPLACE or RENAME_EXCHANGE.
int RenameWithFlags(const std::string& from, const std::string& to, unsigned flags)
{
    if (renameFlagsRefused.load()) {
        errno = EINVAL;
        return -1;
    }
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags);
}

// What a kernel or file system without renameat2's flags answers (FAT, some network ones).
bool LacksRenameFlags(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

struct Split {
    std::string folder;
    std::string name;
};

Split SplitPath(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool IsSpecial(mode_t mode)
{
    return S_ISCHR(mode) || S_ISBLK(mode) || S_ISFIFO(mode) || S_ISSOCK(mode);
}

std::string RandomSuffix()
{
    static thread_local std::mt19937_64 generator {std::random_device {}()};
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(8, 'x');
    for (char& c : suffix)
        c = digits[generator() % (sizeof digits - 1)];
    return suffix;
}

// A hidden name beside the target that says the file is not complete.
std::string PartName(const std::string& folder, const std::string& name)
{
    return folder + "/." + name + "." + RandomSuffix() + ".part";
}

// The writer's stream: plain writes on a descriptor, which start the kernel writing the file out
// after every few MiB. Commit must wait until the data is on the disk; started early, that
// writing goes on while the conversion still runs, and Commit waits only for the last part.
struct WritebackStream {
    static constexpr off64_t kStep = off64_t {8} << 20;
    static const cookie_io_functions_t kFunctions;

    explicit WritebackStream(int descriptor)
        : descriptor(descriptor)
    { }

    // Everything or an error: the stream counts a short write as failed.
    static ssize_t Write(void* cookie, const char* data, size_t size)
    {
        auto* file = static_cast<WritebackStream*>(cookie);
        size_t done = 0;
        while (done < size) {
            const ssize_t wrote = ::write(file->descriptor, data + done, size - done);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                return static_cast<ssize_t>(done);
            done += static_cast<size_t>(wrote);
        }
        file->position += static_cast<off64_t>(done);
        if (file->position - file->started >= kStep) {
            // Only a start: nothing waits here, and a file that cannot do it (a pipe) is fine.
            ::sync_file_range(
                file->descriptor, file->started, file->position - file->started, SYNC_FILE_RANGE_WRITE);
            file->started = file->position;
        }
        return static_cast<ssize_t>(done);
    }

    static int Seek(void* cookie, off64_t* offset, int whence)
    {
        auto* file = static_cast<WritebackStream*>(cookie);
        const off64_t at = ::lseek64(file->descriptor, *offset, whence);
        if (at < 0)
            return -1;
        *offset = file->position = at;
        file->started = std::min(file->started, at);
        return 0;
    }

    static int Close(void* cookie)
    {
        std::unique_ptr<WritebackStream> file(static_cast<WritebackStream*>(cookie));
        return ::close(file->descriptor);
    }

    int descriptor;
    off64_t position = 0;
    off64_t started = 0; // writing out was started for everything before this
};

const cookie_io_functions_t WritebackStream::kFunctions
    = {nullptr, &WritebackStream::Write, &WritebackStream::Seek, &WritebackStream::Close};

} // namespace

OutputFile::~OutputFile()
{
    Discard();
}

bool OutputFile::EntryExists(const std::string& path)
{
    struct stat status { };
    return ::lstat(path.c_str(), &status) == 0;
}

bool OutputFile::IsDirectory(const std::string& path)
{
    struct stat status { };
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool OutputFile::Create(const std::string& path, std::string& reason)
{
    Discard();
    target = path;
    direct = false;
    struct stat status { };
    existed = ::lstat(path.c_str(), &status) == 0;
    existedDevice = existed ? status.st_dev : 0;
    existedInode = existed ? status.st_ino : 0;
    if (existed && S_ISDIR(status.st_mode)) {
        reason = SystemErrorText(EISDIR);
        return false;
    }
    if (existed && IsSpecial(status.st_mode))
        return OpenDirect(reason);
    const Split split = SplitPath(path);
    if (split.name.empty()) {
        reason = SystemErrorText(EISDIR);
        return false;
    }
    if (!CreateUnnamed(split.folder) && !CreateNamed(split.folder, split.name, reason))
        return false;
    // A replaced file keeps its permissions; a new one gets the usual ones (umask applied).
    if (existed && S_ISREG(status.st_mode))
        ::fchmod(descriptor, status.st_mode & 07777);
    return OpenStream(reason);
}

// The stream for the writer, on a descriptor of its own: closing it leaves ours open.
bool OutputFile::OpenStream(std::string& reason)
{
    const int own = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (own >= 0) {
        auto file = std::make_unique<WritebackStream>(own);
        stream = ::fopencookie(file.get(), "w", WritebackStream::kFunctions);
        if (stream != nullptr) {
            file.release(); // the stream's own now: its close deletes it
            return true;
        }
        const int error = errno;
        ::close(own);
        errno = error;
    }
    reason = SystemErrorText(errno);
    Discard();
    return false;
}

// An unnamed file (O_TMPFILE): nothing is left behind if the program dies before Commit.
bool OutputFile::CreateUnnamed(const std::string& folder)
{
    descriptor = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    return descriptor >= 0;
}

bool OutputFile::CreateNamed(const std::string& folder, const std::string& name, std::string& reason)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        partPath = PartName(folder, name);
        descriptor = ::open(partPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (descriptor >= 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    reason = SystemErrorText(errno);
    partPath.clear();
    return false;
}

bool OutputFile::OpenDirect(std::string& reason)
{
    // Non-blocking, so that a FIFO without a reader fails instead of waiting for ever.
    descriptor = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        reason = SystemErrorText(errno);
        return false;
    }
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags >= 0)
        ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
    direct = true;
    return OpenStream(reason);
}

std::FILE* OutputFile::TakeStream()
{
    std::FILE* taken = stream;
    stream = nullptr;
    return taken;
}

// Names the unnamed file through its /proc link (no privilege needed, unlike AT_EMPTY_PATH).
bool OutputFile::LinkAt(const std::string& path)
{
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool OutputFile::TargetUnchanged() const
{
    struct stat status { };
    const bool exists = ::lstat(target.c_str(), &status) == 0;
    if (exists != existed)
        return false;
    return !exists || (status.st_dev == existedDevice && status.st_ino == existedInode);
}

bool OutputFile::Commit(std::string& reason)
{
    if (stream != nullptr) {
        std::fclose(stream); // not taken: written through the descriptor only
        stream = nullptr;
    }
    if (descriptor < 0) {
        reason = SystemErrorText(EBADF);
        return false;
    }
    if (direct) {
        CloseDescriptor();
        return true;
    }
    // The data reaches the disk before the name does: after a crash the name never holds less
    // than a complete file.
    if (::fdatasync(descriptor) != 0 && errno != EINVAL && errno != EROFS) {
        reason = SystemErrorText(errno);
        Discard();
        return false;
    }
    if (!TargetUnchanged()) {
        reason = kReplacedMeanwhile;
        Discard();
        return false;
    }
    if (const BeforeNamingHook hook = beforeNaming.load())
        hook(target);
    const Split split = SplitPath(target);
    if (partPath.empty()) {
        // Nothing had the name: linking fails, and leaves the other file, if one came meanwhile.
        if (!existed && LinkAt(target)) {
            CloseDescriptor();
            return true;
        }
        if (!existed && errno == EEXIST) {
            reason = kReplacedMeanwhile;
            Discard();
            return false;
        }
        // Replacing: the file gets a hidden name first, then takes the target's in one step.
        for (int attempt = 0; attempt < 100 && partPath.empty(); ++attempt) {
            const std::string candidate = PartName(split.folder, split.name);
            if (LinkAt(candidate))
                partPath = candidate;
            else if (errno != EEXIST)
                break;
        }
        if (partPath.empty()) {
            reason = SystemErrorText(errno);
            Discard();
            return false;
        }
    }
    if (!(existed ? ReplaceExisting(reason) : NameNew(reason))) {
        Discard();
        return false;
    }
    CloseDescriptor();
    return true;
}

// The hidden file takes the free name, and only while it is free: a file that came under the
// name meanwhile is kept, and the commit fails.
bool OutputFile::NameNew(std::string& reason)
{
    if (RenameWithFlags(partPath, target, RENAME_NOREPLACE) == 0) {
        partPath.clear();
        return true;
    }
    // Without the flag, a second link fails on an existing name just the same.
    if (LacksRenameFlags(errno) && ::link(partPath.c_str(), target.c_str()) == 0) {
        ::unlink(partPath.c_str());
        partPath.clear();
        return true;
    }
    reason = errno == EEXIST ? kReplacedMeanwhile : SystemErrorText(errno);
    return false;
}

// The hidden file and the entry under the target's name swap names in one step; what was swapped
// out is then checked against the entry seen at Create. Any other (a file another program put
// there since the check) gets its name back, and the commit fails.
bool OutputFile::ReplaceExisting(std::string& reason)
{
    if (RenameWithFlags(partPath, target, RENAME_EXCHANGE) != 0) {
        if (!LacksRenameFlags(errno)) {
            reason = SystemErrorText(errno);
            return false;
        }
        // A file system without the exchange: the check is made again just before the rename,
        // which leaves only the moment between the two.
        if (!TargetUnchanged()) {
            reason = kReplacedMeanwhile;
            return false;
        }
        if (::rename(partPath.c_str(), target.c_str()) != 0) {
            reason = SystemErrorText(errno);
            return false;
        }
        partPath.clear();
        return true;
    }
    struct stat status { };
    const bool checked = ::lstat(partPath.c_str(), &status) == 0 && status.st_dev == existedDevice
        && status.st_ino == existedInode;
    if (checked) {
        ::unlink(partPath.c_str()); // the file this one replaces
        partPath.clear();
        return true;
    }
    reason = kReplacedMeanwhile;
    // Swapping back gives the other file its name again and leaves ours under the hidden one,
    // which Discard removes. Should that fail, the other file is moved back over ours.
    if (RenameWithFlags(partPath, target, RENAME_EXCHANGE) == 0)
        return false;
    if (::rename(partPath.c_str(), target.c_str()) != 0)
        reason += " (as " + partPath + ")";
    partPath.clear(); // names the other file, or nothing: not ours to remove
    return false;
}

void OutputFile::Discard()
{
    if (stream != nullptr) {
        std::fclose(stream);
        stream = nullptr;
    }
    if (!partPath.empty()) {
        ::unlink(partPath.c_str());
        partPath.clear();
    }
    CloseDescriptor();
}

void OutputFile::SetBeforeNamingHook(BeforeNamingHook hook)
{
    beforeNaming.store(hook);
}

void OutputFile::SetRenameFlagsRefused(bool refused)
{
    renameFlagsRefused.store(refused);
}

void OutputFile::CloseDescriptor()
{
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
}
