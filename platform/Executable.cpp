#include "platform/Executable.h"

#include "platform/FolderPath.h"

#include <filesystem>
#include <system_error>

std::string ExecutablePath()
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::string TempDirectory()
{
    std::error_code error;
    std::string folder = std::filesystem::temp_directory_path(error).string();
    if (error || folder.empty())
        return "/tmp";
    return WithoutTrailingSeparators(folder);
}
