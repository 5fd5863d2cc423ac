#include "cli/BatchConverter.h"

#include "cli/CliMessageBackend.h"
#include "cli/CommandLine.h"
#include "engine/ConversionJob.h"
#include "sources/WmaStream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

const char* const kReplacesSource = "the output would replace its source";
const char* const kOverwriteQuestion = "the output file has existed, overwrite it?";

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A path in a form two names of the same file share, as far as the system can tell.
std::string SamePathKey(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::absolute(path, error).lexically_normal().string() : canonical.string();
}

std::string FileName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

struct BatchConverter::Item {
    std::string source; // as given, for the messages
    std::string jobSource; // as the engine reads it: a CD track by its label Track-NN
    std::string targetName;
    std::string outputPath;
    std::string refusal; // set when the item must not run
};

struct BatchConverter::Running {
    EncoderSet encoders;
    std::unique_ptr<ConversionJob> job;
    std::string source;
    Clock::time_point started;
    bool aborted = false;
};

std::string BatchSummary::Text() const
{
    char line[256];
    std::snprintf(line, sizeof line, "%d converted, %d failed, %d skipped", converted, failed, skipped);
    std::string text = line;
    if (stopped > 0 || notStarted > 0) {
        std::snprintf(line, sizeof line, ", %d stopped, %d not started", stopped, notStarted);
        text += line;
    }
    std::snprintf(line, sizeof line, "; %s of audio in %.1f s", BatchConverter::Clock(audioSeconds).c_str(),
        wallSeconds);
    return text + line;
}

BatchConverter::BatchConverter(Console& console, InterruptWatch& interrupts, BatchOptions options)
    : console(console)
    , interrupts(interrupts)
    , options(std::move(options))
{ }

BatchConverter::~BatchConverter()
{
    for (auto& job : running)
        job->job->Abort();
    InterruptWatch::Shield shield;
    running.clear(); // each job waits for its worker
}

std::string BatchConverter::Clock(double seconds)
{
    const long whole = seconds > 0 && std::isfinite(seconds) ? static_cast<long>(seconds) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

std::string BatchConverter::ProgressLine(
    const std::string& name, double position, double length, const std::string& percent, double elapsed)
{
    constexpr int kBar = 20;
    constexpr size_t kName = 28;
    double fraction = length > 0 && position > 0 ? position / length : 0.0;
    fraction = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
    const int filled = static_cast<int>(fraction * kBar);
    std::string shown = name.size() > kName ? "..." + name.substr(name.size() - (kName - 3)) : name;
    shown.resize(kName, ' ');
    // The speed settles after a moment; before that it is not shown.
    char speed[16] = "    --";
    if (elapsed >= 0.5 && position > 0)
        std::snprintf(speed, sizeof speed, "%6.1fx", position / elapsed);
    char line[160];
    std::snprintf(line, sizeof line, "%s [%s%s] %4s %6s %s", shown.c_str(), std::string(filled, '#').c_str(),
        std::string(kBar - filled, '-').c_str(), percent.empty() ? "--%" : percent.c_str(),
        Clock(elapsed).c_str(), speed);
    return line;
}

std::vector<BatchConverter::Item> BatchConverter::Plan(const std::vector<std::string>& sources)
{
    std::vector<Item> items;
    using TrackForm = CommandLine::TrackSource::Form;
    std::map<std::string, std::string> sourceKeys; // same-file key -> source as given
    for (const std::string& source : sources) {
        if (CommandLine::ReadTrackSource(source).form == TrackForm::NotATrack)
            sourceKeys.emplace(SamePathKey(source), source);
    }
    std::map<std::string, std::string> outputs; // same-file key -> the source writing it
    for (const std::string& source : sources) {
        if (IsDiscSource(source)) {
            PlanDisc(source, items);
            continue;
        }
        Item item;
        item.source = source;
        const CommandLine::TrackSource track = CommandLine::ReadTrackSource(source);
        // A track reaches the engine, and names its output, under its two-digit label whatever
        // the spelling given ("track-2" converts to Track-02.mp3).
        item.jobSource = track.form == TrackForm::Track ? track.label : source;
        item.targetName = ConversionJob::OutputNameOf(item.jobSource, *options.format);
        if (track.form == TrackForm::Malformed)
            item.refusal = std::string(CommandLine::kTrackHint) + "; not converted";
        items.push_back(item);
    }
    for (Item& item : items) {
        if (!item.targetName.empty())
            ClaimOutput(item, sourceKeys, outputs);
    }
    return items;
}

bool BatchConverter::IsDiscSource(const std::string& source)
{
    return ConversionJob::ChooseSource(source).kind == ConversionJob::SourceKind::Unknown
        && ConversionJob::NamesDisc(source);
}

// A disc image stands for all its audio tracks, converted as --cd-device IMAGE with Track-00
// Track-01 ... would be: the same output names (a chosen format names a titled track after its
// title), and the same refusal of a name taken twice, within a disc or across discs.
void BatchConverter::PlanDisc(const std::string& disc, std::vector<Item>& items) const
{
    std::string problem;
    const std::vector<ConversionJob::DiscTrack> tracks = ConversionJob::TracksOfDisc(disc, problem);
    if (tracks.empty()) {
        Item item;
        item.source = disc;
        item.refusal = problem + "; not converted";
        items.push_back(item);
    }
    for (const ConversionJob::DiscTrack& track : tracks) {
        Item item;
        item.source = track.source;
        item.jobSource = track.source;
        item.targetName = ConversionJob::TargetNameFor(track, *options.format);
        items.push_back(item);
    }
}

void BatchConverter::ClaimOutput(Item& item, const std::map<std::string, std::string>& sourceKeys,
    std::map<std::string, std::string>& outputs) const
{
    item.outputPath = options.outputDir + item.targetName;
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

// Decides what happens to an existing output before the job starts. False: do not run the
// job (the summary has been told why).
bool BatchConverter::SettleExisting(const Item& item, bool& overwrite)
{
    overwrite = false;
    std::error_code error;
    // Anything under the name counts, a link that points nowhere included: it is replaced (the
    // link, never what it points to) only when the user agrees.
    const auto entry = std::filesystem::symlink_status(item.outputPath, error);
    if (error || entry.type() == std::filesystem::file_type::not_found
        || std::filesystem::is_directory(item.outputPath, error))
        return true; // nothing to settle; a folder of that name fails when opened, with its message
    switch (options.overwrite) {
    case BatchOptions::Overwrite::Always:
        overwrite = true;
        return true;
    case BatchOptions::Overwrite::Never:
        console.Note(CliMessageBackend::Line(item.source, "skipped: " + item.outputPath + " exists"));
        ++summary.skipped;
        return false;
    case BatchOptions::Overwrite::Ask:
        break;
    }
    const std::string question = CliMessageBackend::Line(item.source, kOverwriteQuestion);
    if (!console.InputIsTerminal()) {
        console.Error(question + " [y/N] no (no terminal to ask; -y overwrites, -n skips)");
        ++summary.failed;
        return false;
    }
    if (!console.Ask(question)) {
        if (!interrupts.Interrupted()) // an interrupt cuts the question short: not started
            ++summary.skipped;
        return false;
    }
    overwrite = true;
    return true;
}

void BatchConverter::StartNext(Item& item)
{
    if (!item.refusal.empty()) {
        console.Error(CliMessageBackend::Line(item.source, item.refusal));
        ++summary.failed;
        return;
    }
    bool overwrite = false;
    if (!SettleExisting(item, overwrite))
        return;
    if (interrupts.Interrupted())
        return; // interrupted while asking: counted as not started at the end

    auto slot = std::make_unique<Running>();
    slot->source = item.source;
    InterruptWatch::Shield shield; // threads of the job leave the interrupt to the main loop
    slot->job = std::make_unique<ConversionJob>(options.outputRate, slot->encoders, options.channels);
    ConversionJob& job = *slot->job;
    job.ChooseFormat(*options.format, options.quality);
    job.sourceName = item.jobSource;
    job.targetName = item.targetName;
    job.outputDir = options.outputDir;
    const std::string name = item.source;
    // The question about an existing file was settled above: the worker gives that answer
    // (No for a file that appeared since, which is then kept).
    job.onWorkerBegin = [name, overwrite] {
        CliMessageBackend::NameThisThread(name);
        CliMessageBackend::SetThreadAnswer(overwrite);
    };
    CliMessageBackend::NameThisThread(name);
    const ConversionJob::StartResult result = job.Start([this] { interrupts.Wake(); }, false);
    CliMessageBackend::NameThisThread("");
    if (result != ConversionJob::StartResult::Started) {
        ++summary.failed;
        return;
    }
    slot->started = Clock::now();
    running.push_back(std::move(slot));
}

int BatchConverter::CollectFinished()
{
    int collected = 0;
    for (auto at = running.begin(); at != running.end();) {
        Running& slot = **at;
        if (slot.job->IsRunning()) {
            ++at;
            continue;
        }
        slot.job->Wait();
        const bool succeeded = slot.job->EncodeSucceeded();
        if (succeeded && slot.job->source != nullptr) {
            const double position = slot.job->source->GetPosition();
            if (position > 0 && std::isfinite(position))
                summary.audioSeconds += position;
        }
        if (!succeeded)
            ++summary.failed;
        else if (slot.aborted)
            ++summary.stopped;
        else
            ++summary.converted;
        if (succeeded && slot.aborted)
            console.Error(
                CliMessageBackend::Line(slot.source, "stopped; " + slot.job->OutputPath() + " ends early"));
        ReportSkipped(slot);
        {
            InterruptWatch::Shield shield;
            at = running.erase(at);
        }
        ++collected;
    }
    return collected;
}

// Damaged frames that the decoder passed over are no failure, but more than a second of them is
// worth knowing about: the output is that much shorter than the source.
void BatchConverter::ReportSkipped(const Running& slot)
{
    const auto* media = dynamic_cast<const WmaStream*>(slot.job->source);
    const double skipped = media != nullptr ? media->SkippedSeconds() : 0.0;
    if (skipped <= 1.0)
        return;
    char text[96];
    std::snprintf(
        text, sizeof text, "%.1f s of damaged audio could not be decoded and were skipped", skipped);
    console.Error(CliMessageBackend::Line(slot.source, text));
}

void BatchConverter::DrawProgress()
{
    if (!console.ShowsProgress())
        return;
    std::vector<std::string> lines;
    for (const auto& slot : running) {
        ConversionJob& job = *slot->job;
        double position = 0.0;
        double length = 0.0;
        if (job.source != nullptr) {
            position = job.source->GetPosition();
            length = job.source->GetLength();
        }
        lines.push_back(ProgressLine(FileName(slot->source), position, length,
            ConversionJob::ProgressFor(position, length).percentText, SecondsSince(slot->started)));
    }
    console.DrawProgress(lines);
}

BatchSummary BatchConverter::Run(const std::vector<std::string>& sources)
{
    const Clock::time_point start = Clock::now();
    std::vector<Item> items = Plan(sources);
    size_t next = 0;
    for (;;) {
        if (interrupts.Interrupted() && !stopping) {
            stopping = true;
            for (auto& slot : running) {
                slot->aborted = true;
                slot->job->Abort();
            }
        }
        while (!stopping && !interrupts.Interrupted() && next < items.size()
            && running.size() < static_cast<size_t>(options.jobs))
            StartNext(items[next++]);
        if (interrupts.Interrupted() && !stopping)
            continue; // interrupted while starting: stop what runs first
        const bool freed = CollectFinished() > 0;
        if (running.empty() && (stopping || next >= items.size()))
            break;
        if (freed)
            continue; // the next source starts at once, not after a wait for progress
        DrawProgress();
        // A job's end ends the wait early: it clears its running state before it wakes us.
        interrupts.WaitFor(200);
    }
    console.ClearProgress();
    // What was not counted otherwise never ran: left out after an interrupt (including a source
    // whose question the interrupt cut short).
    const int counted = summary.converted + summary.failed + summary.skipped + summary.stopped;
    summary.notStarted = static_cast<int>(items.size()) - counted;
    summary.interrupted = interrupts.Interrupted();
    summary.wallSeconds = SecondsSince(start);
    return summary;
}
