#include "audio/CueSheet.h"

#include "platform/RegularFile.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <utility>

namespace fs = std::filesystem;

namespace {

// Why a sheet is refused, and on which line (0: the sheet as a whole).
struct Refusal {
    size_t line;
    std::string why;
};

[[noreturn]] void Refuse(size_t line, std::string why)
{
    throw Refusal {line, std::move(why)};
}

std::string Upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    return out;
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The number written with 1 to 3 digits; nothing for anything else.
std::optional<uint32_t> Number(std::string_view word)
{
    if (word.empty() || word.size() > 3
        || !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    uint32_t value = 0;
    for (const char c : word)
        value = value * 10 + static_cast<uint32_t>(c - '0');
    return value;
}

// mm:ss:ff in frames. Minutes may pass 99 (long images); seconds stay below 60, frames below 75.
std::optional<uint32_t> Time(std::string_view word)
{
    uint32_t parts[3] = {};
    for (int i = 0; i < 3; ++i) {
        const size_t colon = i < 2 ? word.find(':') : word.size();
        if (colon == std::string_view::npos)
            return std::nullopt;
        const std::string_view digits = word.substr(0, colon);
        const std::optional<uint32_t> value
            = digits.size() <= (i == 0 ? 3u : 2u) ? Number(digits) : std::nullopt;
        if (!value)
            return std::nullopt;
        parts[i] = *value;
        word.remove_prefix(std::min(word.size(), colon + 1));
    }
    if (parts[1] >= 60 || parts[2] >= CueSheet::kFramesPerSecond)
        return std::nullopt;
    return (parts[0] * 60 + parts[1]) * CueSheet::kFramesPerSecond + parts[2];
}

// One line of the sheet, read from left to right.
class Line {
public:
    Line(std::string_view text, size_t number)
        : number(number)
        , rest(text)
    { }

    // The next run of characters that are not blanks; empty at the end of the line.
    std::string_view Word()
    {
        rest = Trimmed(rest);
        const auto end = std::find_if(rest.begin(), rest.end(), IsBlank);
        const std::string_view word = rest.substr(0, static_cast<size_t>(end - rest.begin()));
        rest.remove_prefix(word.size());
        return word;
    }

    // All that is left, blanks at its ends taken off.
    std::string_view Rest() { return Trimmed(std::exchange(rest, std::string_view())); }

    bool Quoted() const { return Trimmed(rest).starts_with('"'); }

    // A text argument: between the first and the last double quote of what is left (a title may
    // hold quotes of its own), else all that is left. What follows the closing quote stays.
    std::string Text()
    {
        if (!Quoted())
            return std::string(Rest());
        rest = Trimmed(rest);
        const size_t close = rest.rfind('"');
        if (close == 0)
            Refuse(number, "a quote is not closed");
        const std::string text(rest.substr(1, close - 1));
        rest.remove_prefix(close + 1);
        return text;
    }

    bool AtEnd() const { return Trimmed(rest).empty(); }

    const size_t number;

private:
    std::string_view rest;
};

// What the sheet has placed in a FILE so far.
struct FileState {
    bool used = false; // an INDEX lies in it
    uint32_t last = 0; // the position of its last INDEX
    std::optional<uint32_t> lastStart; // of its last INDEX 01
    uint32_t lastStartTrack = 0;
};

class Parser {
public:
    CueSheet sheet;

    void Read(Line line)
    {
        const std::string command = Upper(line.Word());
        if (command == "REM")
            Remark(line);
        else if (command == "TITLE")
            Field().title = line.Text();
        else if (command == "PERFORMER")
            Field().performer = line.Text();
        else if (command == "SONGWRITER")
            Field().songwriter = line.Text();
        else if (command == "CATALOG")
            sheet.catalog = line.Text();
        else if (command == "FILE")
            File(line);
        else if (command == "TRACK")
            Track(line);
        else if (command == "INDEX")
            Index(line);
        else if (command == "PREGAP")
            TrackOf(line, command).pregap = TimeOf(line, command);
        else if (command == "POSTGAP")
            TrackOf(line, command).postgap = TimeOf(line, command);
        else if (command == "ISRC")
            TrackOf(line, command).isrc = line.Text();
        else if (command == "FLAGS")
            Flags(line);
    }

    void Finish()
    {
        if (sheet.tracks.empty())
            Refuse(0, "the sheet holds no TRACK");
        CheckStarted();
        CheckUsed();
    }

private:
    // TITLE, PERFORMER and SONGWRITER are the disc's before the first TRACK, a track's after it.
    struct Texts {
        std::string& title;
        std::string& performer;
        std::string& songwriter;
    };

    Texts Field()
    {
        if (sheet.tracks.empty())
            return {sheet.title, sheet.performer, sheet.songwriter};
        CueSheet::Track& track = sheet.tracks.back();
        return {track.title, track.performer, track.songwriter};
    }

    void Remark(Line& line)
    {
        const std::string key = Upper(line.Word());
        if (key.empty())
            return;
        std::vector<CueSheet::Remark>& remarks
            = sheet.tracks.empty() ? sheet.remarks : sheet.tracks.back().remarks;
        remarks.push_back({key, line.Text()});
    }

    CueSheet::Track& TrackOf(const Line& line, const std::string& command)
    {
        if (sheet.tracks.empty())
            Refuse(line.number, command + " without a TRACK");
        return sheet.tracks.back();
    }

    static uint32_t TimeOf(Line& line, const std::string& command)
    {
        const std::optional<uint32_t> time = Time(line.Word());
        if (!time || !line.AtEnd())
            Refuse(line.number, command + " needs a time (mm:ss:ff)");
        return *time;
    }

    void File(Line& line)
    {
        CheckUsed();
        CueSheet::File file;
        file.line = line.number;
        if (line.Quoted()) {
            file.name = line.Text();
            file.type = Upper(line.Word());
        } else {
            // An unquoted name may hold blanks: the type is the last word.
            const std::string_view rest = line.Rest();
            const size_t blank = rest.find_last_of(" \t");
            if (blank != std::string_view::npos) {
                file.name = Trimmed(rest.substr(0, blank));
                file.type = Upper(rest.substr(blank + 1));
            }
        }
        if (file.name.empty() || file.type.empty() || !line.AtEnd())
            Refuse(line.number, "FILE needs a name and a type");
        sheet.files.push_back(std::move(file));
        files.emplace_back();
    }

    void Track(Line& line)
    {
        if (sheet.files.empty())
            Refuse(line.number, "TRACK before any FILE");
        const std::optional<uint32_t> number = Number(line.Word());
        const std::string type = Upper(line.Word());
        if (!number || *number < 1 || *number > 99 || type.empty() || !line.AtEnd())
            Refuse(line.number, "TRACK needs a number (1 to 99) and a type");
        if (!sheet.tracks.empty()) {
            CheckStarted();
            if (*number <= sheet.tracks.back().number)
                Refuse(line.number,
                    "TRACK " + Two(*number) + " after TRACK " + Two(sheet.tracks.back().number)
                        + ": track numbers must rise");
        }
        CueSheet::Track track;
        track.number = *number;
        track.type = type;
        track.line = line.number;
        sheet.tracks.push_back(std::move(track));
    }

    void Index(Line& line)
    {
        CueSheet::Track& track = TrackOf(line, "INDEX");
        const std::optional<uint32_t> number = Number(line.Word());
        const std::optional<uint32_t> time = Time(line.Word());
        if (!number || *number > 99 || !time || !line.AtEnd())
            Refuse(line.number, "INDEX needs a number (0 to 99) and a time (mm:ss:ff)");
        if (!track.indexes.empty() && *number <= track.indexes.back().number)
            Refuse(line.number,
                "INDEX " + Two(*number) + " after INDEX " + Two(track.indexes.back().number)
                    + ": index numbers must rise");
        const size_t file = sheet.files.size() - 1;
        FileState& state = files[file];
        if (state.used && *time < state.last)
            Refuse(line.number,
                "INDEX " + Two(*number) + " at " + CueSheet::TimeText(*time) + " comes before "
                    + CueSheet::TimeText(state.last) + ", stated earlier in the same FILE");
        if (*number == 1) {
            if (state.lastStart == *time)
                Refuse(line.number,
                    "TRACK " + Two(track.number) + " starts where TRACK " + Two(state.lastStartTrack)
                        + " starts (" + CueSheet::TimeText(*time) + ")");
            state.lastStart = *time;
            state.lastStartTrack = track.number;
        }
        state.used = true;
        state.last = *time;
        track.indexes.push_back({*number, file, *time});
    }

    void Flags(Line& line)
    {
        CueSheet::Track& track = TrackOf(line, "FLAGS");
        track.flags.clear();
        for (std::string_view word = line.Word(); !word.empty(); word = line.Word())
            track.flags.push_back(Upper(word));
    }

    // The track before a new TRACK, or the last one, has its start.
    void CheckStarted() const
    {
        const CueSheet::Track& track = sheet.tracks.back();
        if (std::none_of(track.indexes.begin(), track.indexes.end(),
                [](const CueSheet::Index& index) { return index.number == 1; }))
            Refuse(track.line, "TRACK " + Two(track.number) + " has no INDEX 01");
    }

    // The FILE before a new FILE, or the last one, holds an INDEX.
    void CheckUsed() const
    {
        if (!files.empty() && !files.back().used)
            Refuse(sheet.files.back().line, "FILE \"" + sheet.files.back().name + "\" holds no INDEX");
    }

    static std::string Two(uint32_t number) { return (number < 10 ? "0" : "") + std::to_string(number); }

    std::vector<FileState> files;
};

// The sheet's text in UTF-8.
std::string Decoded(const std::string& bytes)
{
    if (bytes.size() > CueSheet::kLargestSheet)
        Refuse(0, "over 1 MiB, too large for a CUE sheet");
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF"))
        Refuse(0, "UTF-16 text, which is not read: save the sheet as UTF-8");
    std::string text = bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
    return Utf8::IsValid(text) ? text : Utf8::FromWindows1252(text);
}

// The names a FILE entry may stand for, the literal one first: as written; with '\' as the
// folder separator (a sheet written on Windows); a Windows drive's name by its last part alone,
// which can only be in the sheet's own folder.
std::vector<std::string> Spellings(const std::string& name)
{
    std::vector<std::string> spellings {name};
    std::string slashed = name;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    if (slashed != name)
        spellings.push_back(slashed);
    const bool drive = slashed.size() > 2 && std::isalpha(static_cast<unsigned char>(slashed[0])) != 0
        && slashed[1] == ':' && slashed[2] == '/';
    if (drive)
        spellings.push_back(slashed.substr(slashed.rfind('/') + 1));
    return spellings;
}

// A name without its extension ("Album.wav": "Album").
std::string_view Stem(std::string_view name)
{
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

// Which of `names` (a folder's files) stands for `wanted`: itself; else the one name that
// differs from it only in letter case; else the one of its base name, in any letter case, with
// an audio extension. Nothing when none does, or when several do: `rivals` then gets them.
std::optional<std::string> Choose(
    const std::string& wanted, const std::vector<std::string>& names, std::vector<std::string>& rivals)
{
    if (std::find(names.begin(), names.end(), wanted) != names.end())
        return wanted;
    const std::string folded = Lower(wanted);
    const std::string stem = Lower(Stem(wanted));
    const auto isAudio = [](std::string_view extension) {
        const auto& known = CueSheet::kAudioExtensions;
        return std::find(known.begin(), known.end(), extension) != known.end();
    };
    for (const bool caseOnly : {true, false}) {
        std::vector<std::string> found;
        for (const std::string& name : names) {
            const std::string lower = Lower(name);
            const std::string_view lowerStem = Stem(lower);
            if (caseOnly ? lower == folded : lowerStem == stem && isAudio(lower.substr(lowerStem.size())))
                found.push_back(name);
        }
        if (found.size() == 1)
            return found.front();
        if (found.size() > 1) {
            std::sort(found.begin(), found.end());
            rivals = std::move(found);
            return std::nullopt;
        }
    }
    return std::nullopt;
}

} // namespace

const CueSheet::Index& CueSheet::Track::Start() const
{
    return *std::find_if(
        indexes.begin(), indexes.end(), [](const Index& index) { return index.number == 1; });
}

const CueSheet::Index* CueSheet::Track::Gap() const
{
    return !indexes.empty() && indexes.front().number == 0 ? &indexes.front() : nullptr;
}

std::string CueSheet::ValueOf(const std::vector<Remark>& remarks, std::string_view key)
{
    const std::string wanted = Upper(key);
    const auto found = std::find_if(
        remarks.begin(), remarks.end(), [&](const Remark& remark) { return remark.key == wanted; });
    return found == remarks.end() ? std::string() : found->value;
}

std::string CueSheet::TimeText(uint32_t frames)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / kFramesPerSecond / 60,
        frames / kFramesPerSecond % 60, frames % kFramesPerSecond);
    return text;
}

std::optional<CueSheet> CueSheet::Parse(const std::string& bytes, std::string& error)
{
    try {
        const std::string text = Decoded(bytes);
        Parser parser;
        size_t number = 1;
        for (size_t at = 0; at < text.size(); ++number) {
            // Lines end with LF, CR LF or CR alone.
            const size_t end = std::min(text.find_first_of("\r\n", at), text.size());
            const std::string_view line(text.data() + at, end - at);
            if (line.find('\0') != std::string_view::npos)
                Refuse(number, "a zero byte: the sheet is not text");
            parser.Read(Line(line, number));
            at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        }
        parser.Finish();
        return std::move(parser.sheet);
    } catch (const Refusal& refusal) {
        error = refusal.line == 0 ? refusal.why : "line " + std::to_string(refusal.line) + ": " + refusal.why;
        return std::nullopt;
    }
}

std::vector<std::string> CueSheet::FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error); !error && entry != fs::directory_iterator();
         entry.increment(error)) {
        std::error_code typeError;
        if (entry->is_regular_file(typeError))
            names.push_back(entry->path().filename().string());
    }
    return names;
}

bool CueSheet::ResolveFiles(const std::string& sheetFolder, const FolderListing& filesIn, std::string& error)
{
    std::map<std::string, std::vector<std::string>> listings; // each folder is asked once
    for (File& file : files) {
        file.path.clear();
        std::vector<std::string> rivals;
        std::string looked; // the folder the name was first looked for in
        for (const std::string& spelling : Spellings(file.name)) {
            const fs::path full
                = fs::path(spelling).is_absolute() ? fs::path(spelling) : fs::path(sheetFolder) / spelling;
            const fs::path folder = full.parent_path();
            const std::string key = folder.empty() ? "." : folder.string();
            if (looked.empty())
                looked = folder.empty() ? "the sheet's folder" : key;
            auto [listing, fresh] = listings.try_emplace(key);
            if (fresh)
                listing->second = filesIn(key);
            if (const std::optional<std::string> chosen
                = Choose(full.filename().string(), listing->second, rivals)) {
                file.path = (folder / *chosen).string();
                break;
            }
            if (!rivals.empty())
                break;
        }
        if (!file.path.empty())
            continue;
        error = "line " + std::to_string(file.line) + ": FILE \"" + file.name + "\" ";
        if (rivals.empty())
            error += "is not in " + looked + " (nor in other letter case or with another audio extension)";
        else
            error
                += "is missing, and both \"" + rivals[0] + "\" and \"" + rivals[1] + "\" could stand for it";
        return false;
    }
    return true;
}

std::optional<CueSheet> CueSheet::Read(const std::string& path, std::string& error)
{
    std::FILE* stream = OpenRegularFile(path.c_str(), &error);
    if (stream == nullptr)
        return std::nullopt;
    // One byte past the limit is enough to refuse it.
    std::string bytes;
    while (bytes.size() <= kLargestSheet && !std::feof(stream) && !std::ferror(stream)) {
        const size_t had = bytes.size();
        bytes.resize(had + (64u << 10));
        bytes.resize(had + std::fread(bytes.data() + had, 1, bytes.size() - had, stream));
    }
    const int readError = std::ferror(stream) != 0 ? errno : 0;
    std::fclose(stream);
    if (readError != 0) {
        error = SystemErrorText(readError);
        return std::nullopt;
    }
    std::optional<CueSheet> sheet = Parse(bytes, error);
    if (sheet && !sheet->ResolveFiles(fs::path(path).parent_path().string(), FilesIn, error))
        return std::nullopt;
    return sheet;
}
