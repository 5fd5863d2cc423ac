#include "engine/Batch.h"

#include "engine/ConversionJob.h"
#include "engine/EachAtOnce.h"
#include "platform/FolderPath.h"
#include "platform/FolderTree.h"
#include "platform/RegularFile.h"
#include "sources/WmaStream.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
using Outcome = BatchFace::Outcome;
using Failure = BatchFace::Failure;
using Answer = BatchFace::Answer;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Anything under the name counts, a link that points nowhere included: it is replaced (the
// link, never what it points to) only when the user agrees. A folder of that name is left to
// fail when the job opens it, with its own message.
bool OutputExists(const std::string& path)
{
    std::error_code error;
    const auto entry = std::filesystem::symlink_status(path, error);
    return !error && entry.type() != std::filesystem::file_type::not_found
        && !std::filesystem::is_directory(path, error);
}

// Damaged frames that the decoder passed over are no failure, but the output is that much
// shorter than the source.
double DamagedSeconds(const ConversionJob& job)
{
    const auto* media = dynamic_cast<const WmaStream*>(job.source);
    return media != nullptr ? media->SkippedSeconds() : 0.0;
}

// Whether the item's output is there, not empty and not older than its source: a regular file
// (not a link) of its own. A drive's track has no file to compare with and is never up to date.
bool IsUpToDate(const BatchItem& item)
{
    if (item.sourceFile.empty())
        return false;
    const std::optional<FileFacts> output = FileFactsOf(item.outputPath.c_str(), false);
    if (!output || !output->regular || output->size == 0)
        return false;
    const std::optional<FileFacts> source = FileFactsOf(item.sourceFile.c_str(), true);
    return source && output->modified >= source->modified;
}

// A count with a comma between each group of three digits: 1706 -> "1,706".
std::string Grouped(int count)
{
    std::string digits = std::to_string(count < 0 ? 0 : count);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

} // namespace

std::string BatchTally::OutcomeCounts() const
{
    std::string text = Grouped(converted) + " converted";
    const std::pair<int, const char*> others[]
        = {{failed, "failed"}, {skipped, "skipped"}, {upToDate, "up to date"}, {stopped, "stopped"},
            {notStarted, "not converted"}};
    for (const auto& [count, what] : others) {
        if (count > 0)
            text += ", " + Grouped(count) + " " + what;
    }
    return text;
}

BatchOptions BatchOptions::From(const ConversionSettings& settings, const BatchOverrides& overrides)
{
    BatchOptions options;
    options.outputDir = WithTrailingSeparator(overrides.outputDir.value_or(settings.outputDirectory));
    options.outputRate = ConversionSettings::OutputRateFor(overrides.bitrate.value_or(settings.bitrate));
    options.channels = ConversionSettings::ChannelsFor(overrides.channels.value_or(settings.channelMode));
    options.overwrite = overrides.overwrite;
    options.jobs = overrides.jobs.value_or(settings.Jobs());
    options.format = overrides.format != nullptr ? overrides.format : &settings.ChosenFormat();
    options.quality = overrides.format != nullptr ? overrides.quality : settings.ChosenQuality();
    options.layout = overrides.layout ? *overrides.layout : settings.ChosenLayout();
    options.skipUpToDate = overrides.skipUpToDate.value_or(settings.skipUpToDate);
    options.copyCovers = overrides.copyCovers.value_or(settings.copyCovers);
    return options;
}

struct Batch::Running {
    size_t index = 0;
    EncoderSet encoders;
    std::unique_ptr<ConversionJob> job;
    Clock::time_point started;
};

Batch::Batch(BatchFace& face, BatchOptions options)
    : face(face)
    , options(std::move(options))
{ }

Batch::~Batch()
{
    for (auto& slot : running)
        slot->job->Abort();
    face.AroundJobThreads([this] { running.clear(); }); // each job waits for its worker
}

void Batch::End(size_t index, Outcome outcome, Failure failure, bool answered)
{
    BatchFace::Event event;
    event.kind = BatchFace::Event::Kind::Ended;
    event.item = &items[index];
    event.index = index;
    event.outcome = outcome;
    event.failure = failure;
    event.answered = answered;
    if (failure == Failure::Refused)
        event.reason = items[index].refusal;
    Count(outcome);
    ended[index] = true;
    face.OnEvent(event);
}

void Batch::Count(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Converted:
        ++tally.converted;
        break;
    case Outcome::Failed:
        ++tally.failed;
        break;
    case Outcome::Skipped:
        ++tally.skipped;
        break;
    case Outcome::Stopped:
        ++tally.stopped;
        break;
    case Outcome::NotStarted:
        ++tally.notStarted;
        break;
    case Outcome::UpToDate:
        ++tally.upToDate;
        break;
    }
}

// Decides what happens to an existing output before the job starts. False: the job does not
// run (its outcome has been told, unless a stop cut the question short: then it never started).
bool Batch::SettleExisting(size_t index, bool& overwrite)
{
    overwrite = false;
    if (!OutputExists(items[index].outputPath))
        return true;
    Answer answer = toAll;
    if (options.overwrite == BatchOptions::Overwrite::Always)
        answer = Answer::YesToAll;
    else if (options.overwrite == BatchOptions::Overwrite::Never)
        answer = Answer::NoToAll;
    const bool asked = answer == Answer::Unasked;
    if (asked) {
        answer = face.AskOverwrite(items[index]);
        if (answer == Answer::YesToAll || answer == Answer::NoToAll)
            toAll = answer;
    }
    if (answer == Answer::Yes || answer == Answer::YesToAll) {
        overwrite = true;
        return true;
    }
    if (answer == Answer::Unasked) {
        End(index, Outcome::Failed, Failure::NotAsked);
    } else if (face.StopWanted() == BatchFace::StopMode::None) {
        End(index, Outcome::Skipped, Failure::None, asked);
    }
    return false;
}

bool Batch::Prepare(size_t index)
{
    BatchItem& item = items[index];
    if (!item.folders.empty()) {
        std::string reason;
        if (!FolderTree::MakeBelow(WithoutTrailingSeparators(options.outputDir), item.folders, reason)) {
            item.refusal = "the output's folder cannot be made: " + reason + "; not converted";
            End(index, Outcome::Failed, Failure::Refused);
            return false;
        }
    }
    if (options.copyCovers && options.layout.MakesFolders() && !item.sourceFile.empty()) {
        const std::string folder = std::filesystem::path(item.sourceFile).parent_path().string();
        for (const std::string& note : covers.Copy(folder.empty() ? "" : folder + "/", item.outputDir))
            face.OnNote(item, note);
    }
    return true;
}

bool Batch::Settle(size_t index, bool& overwrite)
{
    if (!items[index].refusal.empty()) {
        End(index, Outcome::Failed, Failure::Refused);
        return false;
    }
    if (!upToDate.empty() && upToDate[index] != 0) {
        End(index, Outcome::UpToDate);
        return false;
    }
    return SettleExisting(index, overwrite) && face.StopWanted() == BatchFace::StopMode::None && Prepare(index);
}

void Batch::StartNext(size_t index)
{
    bool overwrite = false;
    if (!Settle(index, overwrite))
        return;
    const BatchItem& item = items[index];
    auto slot = std::make_unique<Running>();
    slot->index = index;
    BatchFace::Event event;
    event.kind = BatchFace::Event::Kind::Starting;
    event.item = &item;
    event.index = index;
    face.OnEvent(event);
    ConversionJob::StartResult result = ConversionJob::StartResult::WorkerNotStarted;
    face.AroundJobThreads([&] {
        slot->job = std::make_unique<ConversionJob>(options.outputRate, slot->encoders, options.channels);
        ConversionJob& job = *slot->job;
        job.ChooseFormat(*options.format, options.quality);
        job.sourceName = item.jobSource;
        job.targetName = item.targetName;
        job.outputDir = item.outputDir;
        // The question about an existing file was settled above: the worker gives that answer
        // (No for a file that appeared since, which is then kept).
        job.onWorkerBegin = [this, &item, overwrite] { face.OnWorkerBegin(item, overwrite); };
        result = job.Start([this] { face.Wake(); }, false);
    });
    if (result != ConversionJob::StartResult::Started) {
        End(index, Outcome::Failed, Failure::NotStarted);
        return;
    }
    slot->started = Clock::now();
    event.kind = BatchFace::Event::Kind::Started;
    face.OnEvent(event);
    running.push_back(std::move(slot));
}

int Batch::CollectFinished()
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
                tally.audioSeconds += position;
        }
        BatchFace::Event event;
        event.kind = BatchFace::Event::Kind::Ended;
        event.item = &items[slot.index];
        event.index = slot.index;
        // What the job did decides, not whether a stop was asked: a job that had encoded the
        // last of its source when ABORT came is converted.
        event.outcome = !succeeded             ? Outcome::Failed
            : slot.job->ConvertedWholeSource() ? Outcome::Converted
                                               : Outcome::Stopped;
        event.failure = succeeded ? Failure::None : Failure::NotWritten;
        event.damagedSeconds = DamagedSeconds(*slot.job);
        Count(event.outcome);
        ended[slot.index] = true;
        face.OnEvent(event);
        face.AroundJobThreads([&] { at = running.erase(at); });
        ++collected;
    }
    return collected;
}

void Batch::TellProgress()
{
    for (const auto& slot : running) {
        BatchFace::Event event;
        event.kind = BatchFace::Event::Kind::Progress;
        event.item = &items[slot->index];
        event.index = slot->index;
        const ConversionJob& job = *slot->job;
        if (job.source != nullptr) {
            event.position = job.source->GetPosition();
            event.length = job.source->GetLength();
        }
        event.elapsed = SecondsSince(slot->started);
        face.OnEvent(event);
    }
    BatchFace::Event waiting;
    waiting.kind = BatchFace::Event::Kind::Waiting;
    face.OnEvent(waiting);
}

bool Batch::CheckStop()
{
    const BatchFace::StopMode wanted = face.StopWanted();
    if (wanted > stop) {
        stop = wanted;
        if (stop == BatchFace::StopMode::Now) {
            for (auto& slot : running)
                slot->job->Abort();
        }
    }
    return stop != BatchFace::StopMode::None;
}

BatchTally Batch::Run(const std::vector<std::string>& sources)
{
    std::vector<SourcePaths::Source> given;
    for (const std::string& source : sources)
        given.push_back({source, std::string()});
    return Run(given);
}

BatchTally Batch::Run(const std::vector<SourcePaths::Source>& sources)
{
    const Clock::time_point start = Clock::now();
    items = BatchPlan::Make(sources, options.outputDir, *options.format, options.layout);
    ended.assign(items.size(), false);
    // Which outputs are up to date is asked of the file system for every item at once, before
    // any starts (a re-run over a library asks it of thousands).
    upToDate.assign(options.skipUpToDate ? items.size() : 0, 0);
    EachAtOnce(upToDate.size(), [this](size_t i) { upToDate[i] = IsUpToDate(items[i]) ? 1 : 0; });
    size_t next = 0;
    const size_t jobs = static_cast<size_t>(std::max(options.jobs, 1));
    for (;;) {
        bool stopping = CheckStop();
        while (!stopping && face.StopWanted() == BatchFace::StopMode::None && next < items.size()
            && running.size() < jobs)
            StartNext(next++);
        if (face.StopWanted() > stop)
            continue; // a stop came while starting: stop what runs first
        stopping = stop != BatchFace::StopMode::None;
        const bool freed = CollectFinished() > 0;
        if (running.empty() && (stopping || next >= items.size()))
            break;
        if (freed)
            continue; // the next source starts at once, not after a wait for progress
        TellProgress();
        // A job's end ends the wait early: it clears its running state before it wakes us.
        face.WaitFor(200);
    }
    // What has no outcome yet never ran: left out after a stop (including a source whose
    // question the stop cut short).
    for (size_t index = 0; index < items.size(); ++index) {
        if (!ended[index])
            End(index, Outcome::NotStarted);
    }
    tally.wallSeconds = SecondsSince(start);
    return tally;
}
