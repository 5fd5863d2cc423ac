#include "engine/CoverCopier.h"

#include "platform/FolderTree.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

std::string Lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsCoverName(const std::string& name)
{
    const std::string lowered = Lowered(name);
    for (const char* stem : {"cover", "folder", "front"}) {
        for (const char* extension : {".jpg", ".jpeg", ".png"}) {
            if (lowered == std::string(stem) + extension)
                return true;
        }
    }
    return false;
}

// The whole of a regular file (not through a link); nothing when it cannot be read.
bool ReadWhole(const std::string& path, std::string& bytes)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error)))
        return false;
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool SameContent(const std::string& left, const std::string& right)
{
    std::error_code error;
    if (std::filesystem::file_size(left, error) != std::filesystem::file_size(right, error) || error)
        return false;
    std::string a, b;
    return ReadWhole(left, a) && ReadWhole(right, b) && a == b;
}

} // namespace

std::vector<std::string> CoverCopier::CoversIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder.empty() ? "." : folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (IsCoverName(name) && entries->is_regular_file(error) && !entries->is_symlink(error))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> CoverCopier::Copy(const std::string& sourceFolder, const std::string& outputFolder)
{
    std::vector<std::string> notes;
    if (!done.emplace(sourceFolder, outputFolder).second)
        return notes;
    for (const std::string& name : CoversIn(sourceFolder)) {
        const std::string from = sourceFolder + name;
        const std::string to = outputFolder + name;
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::symlink_status(to, error))) {
            if (!SameContent(from, to))
                notes.push_back("the cover " + from + " is not copied: " + to + " is a different file");
            continue;
        }
        std::string reason;
        if (!FolderTree::CopyNew(from, to, reason))
            notes.push_back("the cover " + from + " is not copied: " + reason);
    }
    return notes;
}
