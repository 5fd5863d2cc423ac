#include "engine/BatchPlan.h"

#include "engine/ConversionJob.h"
#include "engine/SourceFacts.h"
#include "engine/TrackLabel.h"

#include <filesystem>
#include <map>
#include <optional>
#include <system_error>

namespace {

const char* const kReplacesSource = "the output would replace its source";

using Keys = std::map<std::string, std::string>; // same-file key -> source as given

// A path in a form two names of the same file share, as far as the system can tell.
std::string SamePathKey(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::absolute(path, error).lexically_normal().string() : canonical.string();
}

// A disc image stands for all its audio tracks, converted as --cd-device IMAGE with Track-00
// Track-01 ... would be: the same output names (a chosen format names a titled track after its
// title), and the same refusal of a name taken twice, within a disc or across discs.
void PlanDisc(const std::string& disc, const OutputFormat& format, std::vector<BatchItem>& items)
{
    for (const SourceFacts& track : SourceFacts::OfDisc(disc)) {
        BatchItem item;
        item.source = track.source;
        if (!track.Convertible()) {
            item.refusal = track.problem + "; not converted";
        } else {
            item.jobSource = track.source;
            item.targetName = track.OutputName(format);
        }
        items.push_back(item);
    }
}

BatchItem PlanSource(const std::string& source, const OutputFormat& format)
{
    using TrackForm = BatchPlan::TrackSource::Form;
    BatchItem item;
    item.source = source;
    const BatchPlan::TrackSource track = BatchPlan::ReadTrackSource(source);
    // A track reaches the engine, and names its output, under its two-digit label whatever
    // the spelling given ("track-2" converts to Track-02.mp3).
    item.jobSource = track.form == TrackForm::Track ? track.label : source;
    item.targetName = ConversionJob::OutputNameOf(item.jobSource, format);
    if (track.form == TrackForm::Malformed)
        item.refusal = std::string(BatchPlan::kTrackHint) + "; not converted";
    return item;
}

// Sets the item's output path and refuses it when the output is one of the run's sources
// (`sourceKeys`) or already taken by an earlier item (`outputs`, to which it is added).
void ClaimOutput(BatchItem& item, const std::string& outputDir, const Keys& sourceKeys, Keys& outputs)
{
    item.outputPath = outputDir + item.targetName;
    if (!item.refusal.empty())
        return;
    const std::string key = SamePathKey(item.outputPath);
    if (auto found = sourceKeys.find(key); found != sourceKeys.end()) {
        item.refusal = std::string(kReplacesSource) + ": " + item.outputPath + " is the source "
            + found->second + " of this run; not converted";
    } else if (auto earlier = outputs.find(key); earlier != outputs.end()) {
        item.refusal = "the output " + item.outputPath + " is also the output of " + earlier->second
            + "; not converted";
    } else {
        outputs.emplace(key, item.source);
    }
}

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

std::vector<BatchItem> BatchPlan::Make(
    const std::vector<std::string>& sources, const std::string& outputDir, const OutputFormat& format)
{
    Keys sourceKeys;
    for (const std::string& source : sources) {
        if (ReadTrackSource(source).form == TrackSource::Form::NotATrack)
            sourceKeys.emplace(SamePathKey(source), source);
    }
    std::vector<BatchItem> items;
    for (const std::string& source : sources) {
        if (IsDiscSource(source))
            PlanDisc(source, format, items);
        else
            items.push_back(PlanSource(source, format));
    }
    Keys outputs;
    for (BatchItem& item : items) {
        if (!item.targetName.empty())
            ClaimOutput(item, outputDir, sourceKeys, outputs);
    }
    return items;
}
