#include "engine/SettingsFile.h"

#include "engine/OutputFormat.h"

#include "platform/Environment.h"
#include "platform/Executable.h"
#include "platform/OutputFile.h"
#include "platform/RegularFile.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Reads little-endian numbers and byte runs from memory; every read checks what is left.
class Cursor {
public:
    Cursor(const uint8_t* data, size_t size)
        : data(data)
        , size(size)
    { }

    std::optional<uint32_t> Number(size_t bytes)
    {
        if (size - at < bytes)
            return std::nullopt;
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i)
            value |= static_cast<uint32_t>(data[at + i]) << (8 * i);
        at += bytes;
        return value;
    }

    const uint8_t* Take(size_t bytes)
    {
        if (size - at < bytes)
            return nullptr;
        const uint8_t* run = data + at;
        at += bytes;
        return run;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

constexpr uint32_t kWideMark = 0xFFFE;
// The element that holds the number of jobs.
constexpr size_t kJobsElement = 5;
// The element that holds the window's look.
constexpr size_t kLookElement = 6;
// The elements of library runs: the layout's key, the naming pattern, and the two choices, each
// "1" when made.
constexpr size_t kLayoutElement = 7;
constexpr size_t kPatternElement = 8;
constexpr size_t kSkipElement = 9;
constexpr size_t kCoversElement = 10;
constexpr const char* kChosen = "1";

// A length prefix. `wide` is set when the prefix marks a text of 16-bit characters; that mark
// is followed by a second, plain prefix.
std::optional<uint32_t> ReadLength(Cursor& in, bool& wide)
{
    wide = false;
    for (int prefix = 0; prefix < 2; ++prefix) {
        const auto first = in.Number(1);
        if (!first)
            return std::nullopt;
        if (*first < 0xFF)
            return *first;
        const auto second = in.Number(2);
        if (!second)
            return std::nullopt;
        if (*second == kWideMark) {
            if (wide)
                return std::nullopt; // a mark after a mark is not a length
            wide = true;
            continue;
        }
        if (*second < 0xFFFF)
            return *second;
        return in.Number(4);
    }
    return std::nullopt;
}

// UTF-16 (little-endian) to this system's 8-bit texts, UTF-8. A surrogate without its partner
// becomes U+FFFD.
std::string FromUtf16(const uint8_t* units, size_t count)
{
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t unit = units[2 * i] | (units[2 * i + 1] << 8);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count) {
            const uint32_t next = units[2 * i + 2] | (units[2 * i + 3] << 8);
            if (next >= 0xDC00 && next < 0xE000) {
                Utf8::Append(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        Utf8::Append(out, (unit >= 0xD800 && unit < 0xE000) ? 0xFFFD : unit);
    }
    return out;
}

void PutNumber(std::vector<uint8_t>& out, uint32_t value, size_t bytes)
{
    for (size_t i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

} // namespace

SettingsFile::SettingsFile(std::string path, std::string startingPath)
    : path(std::move(path))
    , startingPath(std::move(startingPath))
{ }

SettingsFile::Place SettingsFile::Choose(const std::string& besidePath, bool besideExists,
    bool besideFolderWritable, const std::string& configHome, const std::string& home)
{
    if (besideExists && besideFolderWritable)
        return {besidePath, std::string()};
    std::filesystem::path folder;
    if (!configHome.empty() && configHome.front() == '/')
        folder = configHome;
    else if (!home.empty())
        folder = std::filesystem::path(home) / ".config";
    else
        return {besidePath, std::string()};
    return {(folder / "varkonel" / "varkonel.ini").string(), besideExists ? besidePath : std::string()};
}

SettingsFile SettingsFile::At(const std::string& besidePath)
{
    const std::string folder = std::filesystem::path(besidePath).parent_path().string();
    const Place place = Choose(besidePath, OutputFile::EntryExists(besidePath),
        IsWritableFolder(folder.empty() ? "." : folder), EnvironmentValue("XDG_CONFIG_HOME"),
        EnvironmentValue("HOME"));
    return SettingsFile(place.path, place.startingPath);
}

std::string SettingsFile::PathFor(const std::string& executablePath)
{
    std::filesystem::path file(executablePath);
    if (file.has_extension())
        return file.replace_extension("ini").string();
    return executablePath + ".ini";
}

SettingsFile SettingsFile::OfThisProgram()
{
    return At(PathFor(ExecutablePath()));
}

SettingsFile SettingsFile::OfProgramBeside(const std::string& programName)
{
    const std::filesystem::path own(ExecutablePath());
    return At(PathFor((own.parent_path() / programName).string()));
}

std::vector<std::string> SettingsFile::Decode(const uint8_t* data, size_t size, size_t limit)
{
    std::vector<std::string> texts;
    if (data == nullptr)
        return texts;
    Cursor in(data, size);
    std::optional<uint32_t> count = in.Number(2);
    if (count && *count == 0xFFFF)
        count = in.Number(4);
    if (!count)
        return texts;
    while (texts.size() < *count && texts.size() < limit) {
        bool wide = false;
        const std::optional<uint32_t> length = ReadLength(in, wide);
        if (!length)
            break;
        const size_t bytes = wide ? size_t {*length} * 2 : size_t {*length};
        const uint8_t* run = in.Take(bytes);
        if (run == nullptr)
            break;
        texts.push_back(
            wide ? FromUtf16(run, *length) : std::string(reinterpret_cast<const char*>(run), bytes));
    }
    return texts;
}

std::vector<uint8_t> SettingsFile::Encode(const std::vector<std::string>& texts)
{
    std::vector<uint8_t> out;
    if (texts.size() < 0xFFFF) {
        PutNumber(out, static_cast<uint32_t>(texts.size()), 2);
    } else {
        PutNumber(out, 0xFFFF, 2);
        PutNumber(out, static_cast<uint32_t>(texts.size()), 4);
    }
    for (const std::string& text : texts) {
        const size_t length = text.size();
        if (length < 0xFF) {
            PutNumber(out, static_cast<uint32_t>(length), 1);
        } else if (length < 0xFFFE) {
            PutNumber(out, 0xFF, 1);
            PutNumber(out, static_cast<uint32_t>(length), 2);
        } else {
            PutNumber(out, 0xFF, 1);
            PutNumber(out, 0xFFFF, 2);
            PutNumber(out, static_cast<uint32_t>(length), 4);
        }
        out.insert(out.end(), text.begin(), text.end());
    }
    return out;
}

bool SettingsFile::Read(ConversionSettings& settings) const
{
    // A FIFO, a directory or a device in the file's place is refused at once, as a missing file:
    // opening a FIFO without a writer would wait for ever.
    File file(OpenRegularFile(path.c_str()));
    if (!file && !startingPath.empty() && !OutputFile::EntryExists(path))
        file.reset(OpenRegularFile(startingPath.c_str()));
    if (!file)
        return false;
    std::vector<uint8_t> bytes;
    uint8_t block[4096];
    size_t got = 0;
    while (bytes.size() < kLargestFile && (got = std::fread(block, 1, sizeof block, file.get())) > 0)
        bytes.insert(bytes.end(), block, block + got);
    const std::vector<std::string> texts = Decode(bytes.data(), bytes.size());
    std::string* fields[] = {&settings.outputDirectory, &settings.bitrate, &settings.channelMode,
        &settings.format, &settings.quality};
    for (size_t i = 0; i < texts.size() && i < std::size(fields); ++i)
        *fields[i] = texts[i];
    KeepKnownFormat(settings);
    settings.jobs = texts.size() > kJobsElement ? JobsOf(texts[kJobsElement]) : 0;
    settings.systemLook = texts.size() > kLookElement && IsSystemLook(texts[kLookElement]);
    const auto element = [&texts](size_t index) { return index < texts.size() ? texts[index] : std::string(); };
    const OutputLayout::Row* layout = OutputLayout::Find(element(kLayoutElement));
    settings.layout = layout != nullptr && layout->kind != OutputLayout::Kind::Flat ? layout->key : "";
    settings.namePattern = element(kPatternElement);
    settings.skipUpToDate = element(kSkipElement) == kChosen;
    settings.copyCovers = element(kCoversElement) == kChosen;
    return true;
}

bool SettingsFile::IsSystemLook(const std::string& text)
{
    const std::string name = ConversionSettings::kSystemLook;
    return std::equal(text.begin(), text.end(), name.begin(), name.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

int SettingsFile::JobsOf(const std::string& text)
{
    int count = 0;
    const char* end = text.data() + text.size();
    const auto [stop, problem] = std::from_chars(text.data(), end, count);
    if (text.empty() || problem != std::errc() || stop != end)
        return 0;
    return ConversionSettings::IsJobCount(count) ? count : 0;
}

void SettingsFile::KeepKnownFormat(ConversionSettings& settings)
{
    const OutputFormat* format = OutputFormat::Find(settings.format);
    if (format == nullptr || format->IsAuto()) {
        settings.format.clear();
        settings.quality.clear();
        return;
    }
    settings.format = format->key;
    const OutputFormat::Quality* quality = format->FindQuality(settings.quality);
    settings.quality = quality != nullptr ? quality->key : std::string();
}

bool SettingsFile::Write(const ConversionSettings& settings, std::string& reason) const
{
    const OutputLayout::Row* layout = OutputLayout::Find(settings.layout);
    std::vector<std::string> texts {settings.outputDirectory, settings.bitrate, settings.channelMode,
        settings.format, settings.quality,
        ConversionSettings::IsJobCount(settings.jobs) ? std::to_string(settings.jobs) : "",
        settings.systemLook ? ConversionSettings::kSystemLook : "",
        layout != nullptr && layout->kind != OutputLayout::Kind::Flat ? layout->key : "",
        settings.namePattern == NamePattern::kDefault ? "" : settings.namePattern,
        settings.skipUpToDate ? kChosen : "", settings.copyCovers ? kChosen : ""};
    // Elements after the fifth only up to the last that differs from its default, so the
    // default file is the same five elements as ever.
    while (texts.size() > 5 && texts.back().empty())
        texts.pop_back();
    const std::vector<uint8_t> bytes = Encode(texts);
    // The new file replaces the old one only once it is complete, and a FIFO or device in the
    // file's place is never waited on.
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
        std::filesystem::create_directories(folder, error);
        if (error) {
            reason = error.message();
            return false;
        }
    }
    OutputFile output;
    if (!output.Create(path, reason))
        return false;
    File file(output.TakeStream());
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    int failure = written ? 0 : errno;
    if (std::fclose(file.release()) != 0 && failure == 0)
        failure = errno;
    if (!written || failure != 0) {
        reason = std::strerror(failure != 0 ? failure : EIO);
        return false;
    }
    return output.Commit(reason);
}
