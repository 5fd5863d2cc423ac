#include "audio/TagSet.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

namespace {

const std::vector<std::string>& NoValues()
{
    static const std::vector<std::string> none;
    return none;
}

} // namespace

std::string TagSet::KeyOf(std::string_view key)
{
    const size_t first = key.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return std::string();
    std::string kept(key.substr(first, key.find_last_not_of(' ') - first + 1));
    for (char& each : kept)
        each = static_cast<char>(std::toupper(static_cast<unsigned char>(each)));
    return kept;
}

const TagSet::Field* TagSet::Find(std::string_view key) const
{
    const std::string wanted = KeyOf(key);
    const auto found
        = std::find_if(fields.begin(), fields.end(), [&](const Field& field) { return field.key == wanted; });
    return found == fields.end() ? nullptr : &*found;
}

TagSet::Field* TagSet::Find(std::string_view key)
{
    return const_cast<Field*>(std::as_const(*this).Find(key));
}

const std::vector<std::string>& TagSet::Values(std::string_view key) const
{
    const Field* found = Find(key);
    return found != nullptr ? found->values : NoValues();
}

std::string TagSet::First(std::string_view key) const
{
    const std::vector<std::string>& values = Values(key);
    return values.empty() ? std::string() : values.front();
}

bool TagSet::Add(std::string_view key, std::string value)
{
    const std::string kept = KeyOf(key);
    if (kept.empty() || value.empty() || value.size() > kLargestValue)
        return false;
    if (Field* field = Find(kept)) {
        field->values.push_back(std::move(value));
        return true;
    }
    fields.push_back({kept, {std::move(value)}});
    return true;
}

void TagSet::Set(std::string_view key, std::vector<std::string> values)
{
    values.erase(std::remove_if(values.begin(), values.end(),
                     [](const std::string& value) { return value.empty() || value.size() > kLargestValue; }),
        values.end());
    const std::string kept = KeyOf(key);
    if (kept.empty())
        return;
    if (values.empty()) {
        Remove(kept);
        return;
    }
    if (Field* field = Find(kept))
        field->values = std::move(values);
    else
        fields.push_back({kept, std::move(values)});
}

void TagSet::Remove(std::string_view key)
{
    const std::string wanted = KeyOf(key);
    fields.erase(
        std::remove_if(fields.begin(), fields.end(), [&](const Field& field) { return field.key == wanted; }),
        fields.end());
}

bool TagSet::AddPicture(Picture picture)
{
    if (picture.bytes.empty() || picture.bytes.size() > kLargestPicture)
        return false;
    pictures.push_back(std::move(picture));
    return true;
}

const TagSet::Picture* TagSet::Cover() const
{
    if (pictures.empty())
        return nullptr;
    const auto front = std::find_if(
        pictures.begin(), pictures.end(), [](const Picture& picture) { return picture.type == kFrontCover; });
    return front != pictures.end() ? &*front : &pictures.front();
}

std::string TagSet::Year() const
{
    const std::string date = First("DATE");
    if (date.size() < 4 || date.find_first_not_of("0123456789") < 4)
        return {};
    return date.substr(0, 4);
}

uint32_t TagSet::Leading(std::string_view text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return 0;
    uint32_t number = 0;
    const bool read
        = std::from_chars(text.data() + first, text.data() + text.size(), number).ec == std::errc();
    return read ? number : 0;
}

uint32_t TagSet::Total(std::string_view numberKey, std::string_view totalKey) const
{
    if (const uint32_t total = Leading(First(totalKey)); total != 0)
        return total;
    const std::string number = First(numberKey);
    const size_t slash = number.find('/');
    return slash == std::string::npos ? 0 : Leading(std::string_view(number).substr(slash + 1));
}
