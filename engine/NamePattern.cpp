#include "engine/NamePattern.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <initializer_list>
#include <string_view>
#include <utility>

namespace {

// The character (counting from 1) that the byte at `at` starts.
size_t CharacterAt(const std::string& text, size_t at)
{
    size_t characters = 1;
    for (size_t i = 0; i < at && i < text.size(); ++i)
        characters += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 ? 1 : 0;
    return characters;
}

std::string Where(const std::string& text, size_t at)
{
    return " at character " + std::to_string(CharacterAt(text, at));
}

std::string Number(uint32_t value)
{
    return value == 0 ? std::string() : std::to_string(value);
}

// The source's name without its extension, and the name of the folder holding it.
std::string FileStem(const std::string& path)
{
    return std::filesystem::path(path).stem().string();
}

std::string FolderName(const std::string& path)
{
    return std::filesystem::path(path).parent_path().filename().string();
}

} // namespace

std::optional<NamePattern> NamePattern::Parse(const std::string& text, std::string& error)
{
    static constexpr std::array<std::pair<std::string_view, Field>, 14> kFields {{
        {"albumartist", Field::AlbumArtist},
        {"artist", Field::Artist},
        {"album", Field::Album},
        {"title", Field::Title},
        {"track", Field::Track},
        {"tracktotal", Field::TrackTotal},
        {"disc", Field::Disc},
        {"disctotal", Field::DiscTotal},
        {"year", Field::Year},
        {"date", Field::Date},
        {"genre", Field::Genre},
        {"composer", Field::Composer},
        {"filename", Field::FileName},
        {"folder", Field::Folder},
    }};
    NamePattern pattern;
    std::string literal;
    size_t segment = 0, segments = 0, segmentAt = 0;
    bool componentHasContent = false;
    const auto flush = [&] {
        if (!literal.empty())
            pattern.pieces.push_back({literal, std::nullopt, 0, false, segment > 0, segment});
        literal.clear();
    };
    const auto fail = [&](const std::string& what, size_t at) {
        error = what + Where(text, at);
        return std::nullopt;
    };
    if (text.empty()) {
        error = "the pattern is empty";
        return std::nullopt;
    }
    for (size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '{') {
            const size_t close = text.find('}', at + 1);
            if (close == std::string::npos)
                return fail("a \"{\" that is not closed", at);
            const std::string inner = text.substr(at + 1, close - at - 1);
            const size_t colon = inner.find(':');
            const std::string name = inner.substr(0, colon);
            const auto found = std::find_if(
                kFields.begin(), kFields.end(), [&](const auto& entry) { return entry.first == name; });
            if (found == kFields.end())
                return fail("an unknown field \"" + name + "\"", at);
            size_t width = 0;
            if (colon != std::string::npos) {
                const std::string digits = inner.substr(colon + 1);
                if (digits.empty() || digits.size() > 2
                    || digits.find_first_not_of("0123456789") != std::string::npos)
                    return fail("a number format \":" + digits + "\" that is not two digits", at);
                width = std::stoul(digits);
            }
            flush();
            pattern.pieces.push_back({{}, found->second, width, false, segment > 0, segment});
            componentHasContent = true;
            at = close;
        } else if (c == '}') {
            return fail("a \"}\" without its \"{\"", at);
        } else if (c == '[') {
            if (segment > 0)
                return fail("a \"[\" inside a segment", at);
            flush();
            segment = ++segments;
            segmentAt = at;
        } else if (c == ']') {
            if (segment == 0)
                return fail("a \"]\" without its \"[\"", at);
            flush();
            segment = 0;
        } else if (c == '/') {
            if (!componentHasContent)
                return fail("an empty folder name", at);
            flush();
            pattern.pieces.push_back({{}, std::nullopt, 0, true, segment > 0, segment});
            componentHasContent = false;
        } else {
            literal += c;
            componentHasContent = true;
        }
    }
    if (segment > 0)
        return fail("a \"[\" that is not closed", segmentAt);
    if (!componentHasContent)
        return fail("an empty file name", text.size() - 1);
    flush();
    return pattern;
}

std::vector<std::string> NamePattern::Fill(const TagSet& tags, const std::string& sourcePath,
    const std::string& extension, SafeName::System system) const
{
    // A segment goes when one of its fields is empty.
    std::vector<std::string> values(pieces.size());
    std::vector<bool> dropped(pieces.size() + 1, false);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece& piece = pieces[i];
        if (!piece.field)
            continue;
        std::string value = SafeName::Value(ValueOf(*piece.field, tags, sourcePath), system);
        if (piece.width > value.size() && !value.empty()
            && value.find_first_not_of("0123456789") == std::string::npos)
            value.insert(0, piece.width - value.size(), '0');
        if (value.empty() && piece.optional)
            dropped[piece.segment] = true;
        values[i] = std::move(value);
    }
    std::vector<std::string> components(1);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const Piece& piece = pieces[i];
        if (piece.optional && dropped[piece.segment])
            continue;
        if (piece.separator)
            components.emplace_back();
        else
            components.back() += piece.field ? values[i] : piece.text;
    }
    for (size_t i = 0; i + 1 < components.size(); ++i)
        components[i] = SafeName::Folder(components[i], system);
    components.back() = SafeName::File(components.back(), extension, system);
    return components;
}

std::string NamePattern::ValueOf(Field field, const TagSet& tags, const std::string& sourcePath)
{
    const auto firstOf = [&](std::initializer_list<const char*> keys, const char* otherwise) {
        for (const char* key : keys) {
            if (!tags.First(key).empty())
                return tags.First(key);
        }
        return std::string(otherwise);
    };
    switch (field) {
    case Field::AlbumArtist:
        return firstOf({"ALBUMARTIST", "ARTIST"}, "Unknown Artist");
    case Field::Artist:
        return tags.First("ARTIST");
    case Field::Album:
        return firstOf({"ALBUM"}, "Unknown Album");
    case Field::Title:
        return tags.First("TITLE").empty() ? FileStem(sourcePath) : tags.First("TITLE");
    case Field::Track:
        return Number(tags.TrackNumber());
    case Field::TrackTotal:
        return Number(tags.TrackTotal());
    case Field::Disc:
        return Number(tags.DiscNumber());
    case Field::DiscTotal:
        return Number(tags.DiscTotal());
    case Field::Year:
        return tags.Year();
    case Field::Date:
        return tags.First("DATE");
    case Field::Genre:
        return tags.First("GENRE");
    case Field::Composer:
        return tags.First("COMPOSER");
    case Field::FileName:
        return FileStem(sourcePath);
    case Field::Folder:
        return FolderName(sourcePath);
    }
    return {};
}
