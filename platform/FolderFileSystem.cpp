#include "platform/FolderFileSystem.h"

#include <atomic>
#include <sys/vfs.h>

namespace {

// statfs's f_type of the file systems that take Windows' names only.
constexpr long kMsdos = 0x4d44; // msdos and vfat
constexpr long kExfat = 0x2011BAB0;
constexpr long kNtfs = 0x5346544e; // the old ntfs driver
constexpr long kNtfs3 = 0x7366746e;
constexpr long kFuse = 0x65735546; // FUSE: ntfs-3g and exfat-fuse among others

// The test control's answer: -1 none, else 0 or 1.
std::atomic<int> answerForTests {-1};

} // namespace

void FolderFileSystem::SetAnswerForTests(std::optional<bool> refuses)
{
    answerForTests.store(refuses ? (*refuses ? 1 : 0) : -1);
}

bool FolderFileSystem::RefusesWindowsCharacters(const std::string& folder)
{
    if (const int answer = answerForTests.load(); answer >= 0)
        return answer == 1;
    struct statfs facts { };
    if (::statfs(folder.c_str(), &facts) != 0)
        return false;
    const long type = static_cast<long>(facts.f_type);
    return type == kMsdos || type == kExfat || type == kNtfs || type == kNtfs3 || type == kFuse;
}
