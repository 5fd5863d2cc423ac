#include "engine/OutputLayout.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace {

bool SameLetters(const std::string& left, const char* right)
{
    const std::string other = right;
    return std::equal(left.begin(), left.end(), other.begin(), other.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

} // namespace

const std::vector<OutputLayout::Row>& OutputLayout::All()
{
    static const std::vector<Row> rows {
        {Kind::Flat, "flat", "One folder"},
        {Kind::Mirror, "mirror", "Mirror source folders"},
        {Kind::Beside, "beside", "Beside each source"},
        {Kind::Tags, "tags", "From tags"},
    };
    return rows;
}

const OutputLayout::Row* OutputLayout::Find(const std::string& key)
{
    for (const Row& row : All()) {
        if (SameLetters(key, row.key))
            return &row;
    }
    return nullptr;
}

const OutputLayout::Row& OutputLayout::Of(Kind kind)
{
    for (const Row& row : All()) {
        if (row.kind == kind)
            return row;
    }
    return All().front();
}

std::string OutputLayout::KeyList()
{
    std::string text;
    const std::vector<Row>& rows = All();
    for (size_t i = 0; i < rows.size(); ++i)
        text += (i == 0 ? "" : i + 1 == rows.size() ? " or " : ", ") + std::string(rows[i].key);
    return text;
}

std::optional<OutputLayout> OutputLayout::Make(Kind kind, const std::string& pattern, std::string& error)
{
    OutputLayout layout;
    layout.kind = kind;
    if (kind == Kind::Tags) {
        layout.patternText = pattern.empty() ? NamePattern::kDefault : pattern;
        layout.pattern = NamePattern::Parse(layout.patternText, error);
        if (!layout.pattern)
            return std::nullopt;
    }
    return layout;
}

std::vector<std::string> OutputLayout::MirroredFolders(
    const std::string& source, const std::string& base, SafeName::System system)
{
    if (base.empty())
        return {};
    const std::filesystem::path folder = std::filesystem::path(source).parent_path().lexically_normal();
    const std::filesystem::path relative = folder.lexically_relative(std::filesystem::path(base).lexically_normal());
    std::vector<std::string> folders;
    for (const std::filesystem::path& part : relative) {
        const std::string name = part.string();
        if (name.empty() || name == ".")
            continue;
        // A name the source's file system took may hold what the output's refuses; ".." never
        // comes from a source found beneath its base, and is made safe all the same.
        folders.push_back(system == SafeName::System::Windows || name == ".." ? SafeName::Folder(name, system) : name);
    }
    return folders;
}

std::vector<std::string> OutputLayout::Named(const TagSet& tags, const std::string& source,
    const std::string& extension, SafeName::System system) const
{
    if (!pattern)
        return {};
    return pattern->Fill(tags, source, extension, system);
}
