#include "cli/Listing.h"

#include "audio/CoverImage.h"
#include "audio/TagReader.h"
#include "cd/CdTrackStream.h"
#include "cli/CliMessageBackend.h"
#include "engine/ConversionJob.h"
#include "engine/EachAtOnce.h"
#include "engine/SourceFacts.h"
#include "engine/TrackLabel.h"

#include <filesystem>
#include <map>
#include <unordered_map>
#include <system_error>

namespace {

// The title on one line: the columns are separated by tabs and the rows by line ends.
std::string OneLine(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    return text;
}

// A value on one line: line ends and backslashes escaped, so that a reader can undo it.
std::string Escaped(const std::string& value)
{
    std::string escaped;
    for (const char c : value) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return escaped;
}

TagSet TagsOf(const SourceFacts& facts)
{
    if (facts.kind != SourceFacts::Kind::CdTrack)
        return TagReader::Read(facts.source);
    TagSet tags;
    tags.Add("TITLE", facts.statedTitle);
    if (facts.discNumber > 0)
        tags.Add("TRACKNUMBER", std::to_string(facts.discNumber));
    return tags;
}

void PrintTags(const TagSet& tags, std::FILE* out)
{
    for (const TagSet::Field& field : tags.Fields()) {
        for (const std::string& value : field.values)
            std::fprintf(out, "%s=%s\n", field.key.c_str(), Escaped(value).c_str());
    }
    for (const TagSet::Picture& picture : tags.Pictures()) {
        const CoverImage image = CoverImage::Of(picture.mime, picture.bytes);
        std::fprintf(out, "PICTURE %u %s %ux%u %zu\n", unsigned {picture.type},
            picture.mime.empty() ? "-" : OneLine(picture.mime).c_str(), image.width, image.height,
            picture.bytes.size());
    }
}

// Where an entry's audio is: a track's disc (`device` for a track of the first drive, "-"
// without one); a file's absolute path.
std::string PlaceOf(const SourceFacts& facts, const std::string& device)
{
    if (facts.kind == SourceFacts::Kind::CdTrack)
        return !facts.disc.empty() ? facts.disc : device.empty() ? "-" : device;
    // The current folder is asked for once, not once a row.
    static const std::filesystem::path current = [] {
        std::error_code error;
        return std::filesystem::current_path(error);
    }();
    const std::filesystem::path source(facts.source);
    return (source.is_absolute() ? source : current / source).lexically_normal().string();
}

// One row; for a chosen format the output's file name (or `placed`, its planned path) follows as
// a sixth column.
void PrintRow(std::FILE* out, const SourceFacts& facts, const std::string& device, const OutputFormat& format,
    const std::string& placed)
{
    std::fprintf(out, "%s\t%s\t%s\t%s\t%s", facts.name.c_str(), SourceFacts::TimeText(facts.seconds).c_str(),
        SourceFacts::SizeText(facts.bytes).c_str(), PlaceOf(facts, device).c_str(),
        OneLine(facts.OutputTitle(format)).c_str());
    if (!placed.empty())
        std::fprintf(out, "\t%s", placed.c_str());
    else if (!format.IsAuto())
        std::fprintf(out, "\t%s", facts.OutputName(format).c_str());
    std::fputc('\n', out);
}

// An entry's row, or the reason it has none. A file whose play time is unknown is listed all
// the same, as the window lists it, but without a made-up time, and makes the result false.
bool List(const SourceFacts& facts, const std::string& device, const OutputFormat& format,
    const std::string& placed, std::FILE* out, Console& console)
{
    if (!facts.Convertible()) {
        const bool notAudio = facts.problem == SourceFacts::kNotAudio;
        console.Error(
            CliMessageBackend::Line(facts.source, facts.problem + (notAudio ? " (see --help)" : "")));
        return false;
    }
    if (!facts.problem.empty())
        console.Error(CliMessageBackend::Line(facts.source, facts.problem));
    PrintRow(out, facts, device, format, placed);
    return facts.problem.empty();
}

} // namespace

std::string Listing::TimeText(int64_t seconds)
{
    return SourceFacts::TimeText(seconds);
}

std::string Listing::SizeText(uint64_t bytes)
{
    return SourceFacts::SizeText(bytes);
}

bool Listing::Probe(const std::vector<SourcePaths::Source>& sources, const std::string& device,
    const BatchOptions& batch, std::FILE* out, Console& console)
{
    // The files' facts are read many at once; discs and tracks one by one, in order.
    std::vector<std::vector<SourceFacts>> entries(sources.size());
    std::vector<size_t> files;
    for (size_t i = 0; i < sources.size(); ++i) {
        const ConversionJob::SourceKind kind = ConversionJob::ChooseSource(sources[i].path).kind;
        if (kind == ConversionJob::SourceKind::Wave || kind == ConversionJob::SourceKind::Media)
            files.push_back(i);
    }
    EachAtOnce(files.size(), [&](size_t k) { entries[files[k]] = SourceFacts::Of(sources[files[k]].path); });
    // With a layout, the outputs' paths are the plan's, which names every output at once (from
    // the tags the facts hold), and what the plan would refuse (two sources on one path) is told
    // as a run would tell it.
    std::vector<BatchItem> items;
    std::unordered_map<std::string, const BatchItem*> planned; // a source as the engine reads it -> its item
    if (batch.layout.Which() != OutputLayout::Kind::Flat) {
        BatchPlan::KnownFields known;
        for (std::vector<SourceFacts>& entry : entries) {
            for (SourceFacts& facts : entry) {
                if (facts.tagsRead)
                    known.emplace(facts.source, std::move(facts.fields)); // not printed
            }
        }
        items = BatchPlan::Make(sources, batch.outputDir, *batch.format, batch.layout, known);
        for (const BatchItem& item : items) {
            if (!item.jobSource.empty())
                planned.emplace(item.jobSource, &item);
        }
    }
    bool allListed = true;
    for (size_t i = 0; i < sources.size(); ++i) {
        const SourcePaths::Source& source = sources[i];
        CliMessageBackend::NameThisThread(source.path);
        if (entries[i].empty())
            entries[i] = SourceFacts::Of(source.path);
        for (const SourceFacts& facts : entries[i]) {
            const auto found = planned.find(facts.source);
            const BatchItem* item = found != planned.end() ? found->second : nullptr;
            if (item != nullptr && !item->refusal.empty() && facts.Convertible()) {
                console.Error(CliMessageBackend::Line(item->source, item->refusal));
                allListed = false;
            }
            allListed = List(facts, device, *batch.format, item != nullptr ? item->outputPath : std::string(),
                            out, console)
                && allListed;
        }
    }
    CliMessageBackend::NameThisThread("");
    std::fflush(out);
    return allListed;
}

bool Listing::Tags(const std::vector<std::string>& sources, std::FILE* out, Console& console)
{
    bool allListed = true;
    for (const std::string& source : sources) {
        for (const SourceFacts& facts : SourceFacts::Of(source)) {
            if (facts.kind == SourceFacts::Kind::NotConvertible || !facts.readFailure.empty()) {
                console.Error(
                    facts.source + ": " + (facts.problem.empty() ? facts.readFailure : facts.problem));
                allListed = false;
                continue;
            }
            std::fprintf(out, "# %s\n", OneLine(facts.source).c_str());
            PrintTags(TagsOf(facts), out);
        }
    }
    std::fflush(out);
    return allListed;
}

bool Listing::Tracks(std::FILE* out, Console& console)
{
    CdTrackStream stream;
    if (!stream.LoadDisc()) {
        console.Error("no audio CD: no drive, no readable table of contents, or no audio track");
        return false;
    }
    for (size_t i = 0; i < stream.tracks.size(); ++i) {
        const CdTrack& track = stream.tracks[i];
        std::fprintf(out, "%s\t%u\t%u\t%u\n", TrackLabel::Format(static_cast<int64_t>(i)).c_str(),
            track.start.load(), track.length.load(), track.seconds);
    }
    std::fflush(out);
    return true;
}
