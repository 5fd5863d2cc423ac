#include "engine/SourcePaths.h"

#include "engine/ConversionJob.h"
#include "platform/RegularFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

// A folder by its device and inode, so that a link back to a folder already walked is seen.
using FolderId = std::pair<uint64_t, uint64_t>;

bool IdOf(const fs::path& folder, FolderId& id)
{
    const std::optional<FileFacts> facts = FileFactsOf(folder.c_str(), true);
    if (!facts)
        return false;
    id = {facts->device, facts->inode};
    return true;
}

bool Converts(const std::string& name)
{
    const ConversionJob::SourceKind kind = ConversionJob::ChooseSource(name).kind;
    return kind == ConversionJob::SourceKind::Wave || kind == ConversionJob::SourceKind::Media;
}

struct Walk {
    std::vector<std::pair<std::string, std::string>> found; // path below the base, full path
    std::set<FolderId> walked;
    std::vector<std::string>& problems;

    // The folder's entries in natural order, so that of a folder and a link to it, the one
    // that comes first is walked, the same every time.
    void Folder(const fs::path& folder, const std::string& below)
    {
        std::error_code error;
        fs::directory_iterator entries(folder, error);
        std::vector<std::pair<std::string, fs::directory_entry>> named;
        for (; !error && entries != fs::directory_iterator(); entries.increment(error))
            named.emplace_back(entries->path().filename().string(), *entries);
        if (error) {
            problems.push_back(folder.string() + ": " + error.message());
            return;
        }
        std::sort(named.begin(), named.end(),
            [](const auto& left, const auto& right) { return SourcePaths::NaturalLess(left.first, right.first); });
        for (const auto& [name, entry] : named)
            Entry(name, entry, below);
    }

    // The type the folder listing gives is taken as it is (no question to the system per
    // file); a link, or an entry whose type the listing does not give, is asked about through
    // the link.
    void Entry(const std::string& name, const fs::directory_entry& entry, const std::string& below)
    {
        if (name.empty() || name.front() == '.')
            return;
        std::error_code error;
        FolderId id;
        if (entry.is_directory(error)) {
            if (IdOf(entry.path(), id) && walked.insert(id).second)
                Folder(entry.path(), below + name + "/");
        } else if (!error && Converts(name) && entry.is_regular_file(error)) {
            found.emplace_back(below + name, entry.path().string());
        }
    }
};

} // namespace

std::vector<SourcePaths::Source> SourcePaths::Expand(
    const std::vector<std::string>& paths, std::vector<std::string>& problems)
{
    std::vector<Source> sources;
    for (const std::string& path : paths) {
        std::error_code error;
        if (!fs::is_directory(fs::status(path, error))) {
            sources.push_back({path, {}});
            continue;
        }
        Walk walk {{}, {}, problems};
        FolderId id;
        if (IdOf(path, id))
            walk.walked.insert(id);
        const size_t problemsBefore = problems.size();
        walk.Folder(path, "");
        if (walk.found.empty() && problems.size() == problemsBefore)
            problems.push_back(path + ": " + kNoAudio);
        for (auto& [below, full] : walk.found)
            sources.push_back({std::move(full), path});
    }
    return sources;
}

bool SourcePaths::NaturalLess(const std::string& left, const std::string& right)
{
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    size_t i = 0, j = 0;
    while (i < left.size() && j < right.size()) {
        if (digit(left[i]) && digit(right[j])) {
            // Runs of digits by value: fewer digits once leading zeros are skipped is smaller.
            size_t endLeft = i, endRight = j;
            while (endLeft < left.size() && digit(left[endLeft]))
                ++endLeft;
            while (endRight < right.size() && digit(right[endRight]))
                ++endRight;
            size_t startLeft = i, startRight = j;
            while (startLeft + 1 < endLeft && left[startLeft] == '0')
                ++startLeft;
            while (startRight + 1 < endRight && right[startRight] == '0')
                ++startRight;
            const size_t lengthLeft = endLeft - startLeft, lengthRight = endRight - startRight;
            if (lengthLeft != lengthRight)
                return lengthLeft < lengthRight;
            const int order = left.compare(startLeft, lengthLeft, right, startRight, lengthRight);
            if (order != 0)
                return order < 0;
            i = endLeft;
            j = endRight;
            continue;
        }
        const auto a = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(left[i])));
        const auto b = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(right[j])));
        if (a != b)
            return a < b;
        ++i;
        ++j;
    }
    if (i < left.size() || j < right.size())
        return j < right.size() && i == left.size();
    return left < right;
}
