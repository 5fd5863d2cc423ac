#include "engine/BatchPlan.h"

#include "audio/TagReader.h"
#include "engine/ConversionJob.h"
#include "engine/EachAtOnce.h"
#include "engine/SourceFacts.h"
#include "engine/TrackLabel.h"
#include "platform/FolderFileSystem.h"
#include "platform/FolderPath.h"
#include "platform/RegularFile.h"

#include <cctype>
#include <filesystem>
#include <map>
#include <mutex>
#include <unordered_map>
#include <optional>
#include <system_error>

namespace {

const char* const kReplacesSource = "the output would replace its source";

using Keys = std::unordered_map<std::string, std::string>; // same-file key -> source as given

// An item while it is planned: what its place is worked out from.
struct Planned {
    BatchItem item;
    std::string outputKey; // its output path's same-file key
    std::string base; // the folder it was found under; empty for a source given itself
    std::optional<SourceFacts> track; // a disc's track: its number and title, for names from tags
};

// A path in a form two names of the same file share, as far as the system can tell.
std::string SamePathKey(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::absolute(path, error).lexically_normal().string() : canonical.string();
}

// Same-file keys of many paths, each folder resolved once (a library's thousands of files sit
// in a few hundred folders). A path that is itself a link is resolved whole: a source through a
// link is the file it names, and so is an output name that a link already takes. Asked from
// several threads at once.
class PathKeys {
public:
    std::string Of(const std::string& path)
    {
        const std::filesystem::path whole(path);
        const Resolved folder = Folder(whole.parent_path().string());
        // Nothing, a link included, has a name in a folder that does not exist yet.
        std::error_code error;
        if (folder.exists && std::filesystem::is_symlink(std::filesystem::symlink_status(path, error)))
            return SamePathKey(path);
        return folder.key + (folder.key.empty() || folder.key.back() != '/' ? "/" : "") + whole.filename().string();
    }

    struct Resolved {
        std::string key;
        bool exists = false;
    };
    Resolved Folder(const std::string& folder)
    {
        {
            const std::lock_guard<std::mutex> hold(lock);
            if (const auto found = folders.find(folder); found != folders.end())
                return found->second;
        }
        const std::string asked = folder.empty() ? "." : folder;
        const std::optional<FileFacts> facts = FileFactsOf(asked.c_str(), true);
        Resolved resolved {SamePathKey(asked), facts && facts->folder};
        const std::lock_guard<std::mutex> hold(lock);
        return folders.try_emplace(folder, std::move(resolved)).first->second;
    }

private:
    std::mutex lock;
    std::map<std::string, Resolved> folders;
};

// A disc image stands for all its audio tracks, converted as --cd-device IMAGE with Track-00
// Track-01 ... would be: the same output names (a chosen format names a titled track after its
// title), and the same refusal of a name taken twice, within a disc or across discs.
void PlanDisc(const std::string& disc, const OutputFormat& format, std::vector<Planned>& planned)
{
    for (const SourceFacts& track : SourceFacts::OfDisc(disc)) {
        Planned entry;
        BatchItem& item = entry.item;
        item.source = track.source;
        if (!track.Convertible()) {
            item.refusal = track.problem + "; not converted";
        } else {
            item.jobSource = track.source;
            item.targetName = track.OutputName(format);
            item.sourceFile = disc;
            entry.track = track;
        }
        planned.push_back(std::move(entry));
    }
}

Planned PlanSource(const SourcePaths::Source& given, const OutputFormat& format)
{
    using TrackForm = BatchPlan::TrackSource::Form;
    const std::string& source = given.path;
    Planned entry;
    entry.base = given.base;
    BatchItem& item = entry.item;
    item.source = source;
    const BatchPlan::TrackSource track = BatchPlan::ReadTrackSource(source);
    // A track reaches the engine, and names its output, under its two-digit label whatever
    // the spelling given ("track-2" converts to Track-02.mp3).
    item.jobSource = track.form == TrackForm::Track ? track.label : source;
    item.targetName = ConversionJob::OutputNameOf(item.jobSource, format);
    if (track.form == TrackForm::Malformed)
        item.refusal = std::string(BatchPlan::kTrackHint) + "; not converted";
    else if (track.form == TrackForm::NotATrack)
        item.sourceFile = source;
    return entry;
}

// Where an item's output goes: its folder and, from tags, its name.
class Placer {
public:
    Placer(const std::string& outputDir, const OutputLayout& layout)
        : outputDir(outputDir)
        , layout(layout)
        , system(layout.MakesFolders() && FolderFileSystem::RefusesWindowsCharacters(outputDir)
                  ? SafeName::System::Windows
                  : SafeName::System::Posix)
    { }

    SafeName::System System() const { return system; }

    // `fields`: the source's tags for the tags layout (read beforehand, many at once).
    void Place(Planned& entry, const TagSet& fields) const
    {
        BatchItem& item = entry.item;
        item.outputDir = outputDir;
        if (item.targetName.empty())
            return;
        switch (layout.Which()) {
        case OutputLayout::Kind::Flat:
            break;
        case OutputLayout::Kind::Mirror:
            item.folders = OutputLayout::MirroredFolders(item.jobSource, entry.base, system);
            break;
        case OutputLayout::Kind::Beside:
            // A drive's track has no folder of its own: it stays in the output folder.
            if (!item.sourceFile.empty()) {
                const std::string folder = std::filesystem::path(item.sourceFile).parent_path().string();
                item.outputDir = folder.empty() ? "./" : WithTrailingSeparator(folder);
            }
            break;
        case OutputLayout::Kind::Tags:
            PlaceByTags(entry, fields);
            break;
        }
        for (const std::string& folder : item.folders)
            item.outputDir += folder + "/";
    }

private:
    void PlaceByTags(Planned& entry, const TagSet& fields) const
    {
        BatchItem& item = entry.item;
        const std::string extension = std::filesystem::path(item.targetName).extension().string();
        std::vector<std::string> names;
        if (entry.track) {
            // A track's tags are what its disc states; its "file" is its label beside the image.
            TagSet tags;
            tags.Add("TITLE", entry.track->statedTitle);
            if (entry.track->discNumber > 0)
                tags.Add("TRACKNUMBER", std::to_string(entry.track->discNumber));
            const std::string folder = std::filesystem::path(item.sourceFile).parent_path().string();
            names = layout.Named(tags, (folder.empty() ? "" : folder + "/") + entry.track->name, extension, system);
        } else {
            names = layout.Named(fields, item.jobSource, extension, system);
        }
        item.targetName = names.back();
        names.pop_back();
        item.folders = std::move(names);
    }

    std::string outputDir;
    const OutputLayout& layout;
    SafeName::System system;
};

// Claims each item's output path, refusing one that is one of the run's sources, one already
// taken by an earlier item, and one that would land outside the output folder.
class Claims {
public:
    // `root`: the output folder's key.
    Claims(std::string root, bool foldCase, bool keepInside)
        : root(std::move(root))
        , foldCase(foldCase)
        , keepInside(keepInside)
    {
        if (this->root.empty() || this->root.back() != '/')
            this->root += '/';
    }

    void AddSource(const std::string& key, const std::string& source) { sources.emplace(Folded(key), source); }

    // `resolved`: the key of the item's output path.
    void Claim(BatchItem& item, const std::string& resolved)
    {
        if (!item.refusal.empty())
            return;
        const std::string key = Folded(resolved);
        if (keepInside && resolved.compare(0, root.size(), root) != 0) {
            item.refusal = "the output " + item.outputPath + " would land outside the output folder "
                + root + " (through a link); not converted";
        } else if (auto found = sources.find(key); found != sources.end()) {
            item.refusal = std::string(kReplacesSource) + ": " + item.outputPath + " is the source "
                + found->second + " of this run; not converted";
        } else if (auto earlier = outputs.find(key); earlier != outputs.end()) {
            item.refusal = "the output " + item.outputPath + " is also the output of " + earlier->second
                + "; not converted";
        } else {
            outputs.emplace(key, item.source);
        }
    }

private:
    // A key as a file system that ignores letter case compares it.
    std::string Folded(std::string key) const
    {
        if (foldCase) {
            for (char& c : key)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return key;
    }

    std::string root;
    bool foldCase;
    bool keepInside;
    Keys sources;
    Keys outputs;
};

} // namespace

BatchPlan::TrackSource BatchPlan::ReadTrackSource(const std::string& source)
{
    TrackSource track;
    // A file of a type the engine converts (track-01.flac) is a file, whatever its name.
    const ConversionJob::SourceKind kind = ConversionJob::ChooseSource(source).kind;
    if (!TrackLabel::LooksLikeLabel(source) || kind == ConversionJob::SourceKind::Wave
        || kind == ConversionJob::SourceKind::Media)
        return track;
    const std::optional<int32_t> number = TrackLabel::Parse(source);
    if (!number) {
        track.form = TrackSource::Form::Malformed;
        return track;
    }
    track.form = TrackSource::Form::Track;
    track.number = *number;
    track.label = TrackLabel::Format(*number);
    return track;
}

bool BatchPlan::IsDiscSource(const std::string& source)
{
    return ConversionJob::ChooseSource(source).kind == ConversionJob::SourceKind::Unknown
        && ConversionJob::NamesDisc(source);
}

std::vector<BatchItem> BatchPlan::Make(const std::vector<SourcePaths::Source>& sources,
    const std::string& outputDir, const OutputFormat& format, const OutputLayout& layout, const KnownFields& known)
{
    const Placer placer(outputDir, layout);
    PathKeys keys;
    Claims claims(keys.Folder(WithoutTrailingSeparators(outputDir)).key, placer.System() == SafeName::System::Windows,
        layout.MakesFolders());
    std::vector<std::string> sourceKeys(sources.size());
    EachAtOnce(sources.size(), [&sources, &sourceKeys, &keys](size_t i) {
        if (ReadTrackSource(sources[i].path).form == TrackSource::Form::NotATrack)
            sourceKeys[i] = keys.Of(sources[i].path);
    });
    for (size_t i = 0; i < sources.size(); ++i) {
        if (!sourceKeys[i].empty())
            claims.AddSource(sourceKeys[i], sources[i].path);
    }
    std::vector<Planned> planned;
    for (const SourcePaths::Source& source : sources) {
        if (IsDiscSource(source.path))
            PlanDisc(source.path, format, planned);
        else
            planned.push_back(PlanSource(source, format));
    }
    // Each item is placed on its own (names from tags read the file's head), many at once; the
    // outputs are then claimed in order.
    EachAtOnce(planned.size(), [&planned, &placer, &layout, &known, &keys](size_t i) {
        Planned& entry = planned[i];
        BatchItem& item = entry.item;
        TagSet read;
        const TagSet* fields = &read;
        if (layout.UsesTags() && !entry.track && !item.targetName.empty()) {
            const auto found = known.find(item.jobSource);
            if (found != known.end())
                fields = &found->second;
            else
                read = TagReader::ReadFields(item.jobSource);
        }
        placer.Place(entry, *fields);
        if (!item.targetName.empty()) {
            item.outputPath = item.outputDir + item.targetName;
            if (item.refusal.empty())
                entry.outputKey = keys.Of(item.outputPath);
        }
    });
    std::vector<BatchItem> items;
    items.reserve(planned.size());
    for (Planned& entry : planned) {
        if (!entry.item.targetName.empty())
            claims.Claim(entry.item, entry.outputKey);
        items.push_back(std::move(entry.item));
    }
    return items;
}

std::vector<BatchItem> BatchPlan::Make(
    const std::vector<std::string>& sources, const std::string& outputDir, const OutputFormat& format)
{
    std::vector<SourcePaths::Source> given;
    for (const std::string& source : sources)
        given.push_back({source, std::string()});
    return Make(given, outputDir, format, OutputLayout());
}
