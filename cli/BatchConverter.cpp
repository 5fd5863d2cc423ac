#include "cli/BatchConverter.h"

#include "cli/CliMessageBackend.h"
#include "engine/ConversionJob.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const char* const kOverwriteQuestion = "the output file has existed, overwrite it?";

std::string FileName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string BatchSummary::Text() const
{
    char line[256];
    std::snprintf(line, sizeof line, "%d converted, %d failed, %d skipped", converted, failed, skipped);
    std::string text = line;
    if (upToDate > 0)
        text += ", " + std::to_string(upToDate) + " up to date";
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

// The question about an existing output, on the terminal when there is one.
BatchFace::Answer BatchConverter::AskOverwrite(const BatchItem& item)
{
    const std::string question = CliMessageBackend::Line(item.source, kOverwriteQuestion);
    if (!console.InputIsTerminal()) {
        console.Error(question + " [y/N] no (no terminal to ask; -y overwrites, -n skips)");
        return Answer::Unasked;
    }
    return console.AskForAll(question);
}

void BatchConverter::AroundJobThreads(const std::function<void()>& work)
{
    InterruptWatch::Shield shield; // threads of the jobs leave the interrupt to the main loop
    work();
}

void BatchConverter::OnWorkerBegin(const BatchItem& item, bool overwrite)
{
    CliMessageBackend::NameThisThread(item.source);
    CliMessageBackend::SetThreadAnswer(overwrite);
}

void BatchConverter::OnNote(const BatchItem& item, const std::string& note)
{
    console.Note(CliMessageBackend::Line(item.source, note));
}

void BatchConverter::OnEvent(const Event& event)
{
    switch (event.kind) {
    case Event::Kind::Starting:
        CliMessageBackend::NameThisThread(event.item->source); // the messages of the start
        break;
    case Event::Kind::Started:
        CliMessageBackend::NameThisThread("");
        break;
    case Event::Kind::Progress:
        progressLines.push_back(ProgressLine(FileName(event.item->source), event.position, event.length,
            ConversionJob::ProgressFor(event.position, event.length).percentText, event.elapsed));
        break;
    case Event::Kind::Waiting:
        if (console.ShowsProgress())
            console.DrawProgress(progressLines);
        progressLines.clear();
        break;
    case Event::Kind::Ended:
        CliMessageBackend::NameThisThread("");
        OnEnded(event);
        break;
    }
}

void BatchConverter::OnEnded(const Event& event)
{
    const BatchItem& item = *event.item;
    if (event.failure == Failure::Refused)
        console.Error(CliMessageBackend::Line(item.source, event.reason));
    if (event.outcome == Outcome::Skipped && !event.answered)
        console.Note(CliMessageBackend::Line(item.source, "skipped: " + item.outputPath + " exists"));
    if (event.outcome == Outcome::Stopped)
        console.Error(CliMessageBackend::Line(item.source, "stopped; " + item.outputPath + " ends early"));
    // Damaged frames that the decoder passed over are no failure, but more than a second of them
    // is worth knowing about.
    if (event.damagedSeconds > 1.0) {
        char text[96];
        std::snprintf(text, sizeof text, "%.1f s of damaged audio could not be decoded and were skipped",
            event.damagedSeconds);
        console.Error(CliMessageBackend::Line(item.source, text));
    }
}

BatchSummary BatchConverter::Run(const std::vector<SourcePaths::Source>& sources)
{
    BatchSummary summary;
    {
        Batch batch(*this, options);
        static_cast<BatchTally&>(summary) = batch.Run(sources);
    }
    console.ClearProgress();
    summary.interrupted = interrupts.Interrupted();
    return summary;
}
