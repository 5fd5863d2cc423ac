// varkonel-convert's face of a batch (Batch): it asks the overwrite question on the terminal,
// prints one progress line per running job, names each job's messages after its source, tells
// the refusals, stops and damaged files in the tool's words, and leaves an interrupt to stop the
// run: every running job is stopped (its file finished, shorter) and no further job starts.
#pragma once

#include "cli/Console.h"
#include "cli/InterruptWatch.h"
#include "engine/Batch.h"
#include "engine/BatchFace.h"

#include <chrono>
#include <string>
#include <vector>

struct BatchSummary : BatchTally {
    bool interrupted = false; // the run was cut short by Ctrl-C

    // 0 when nothing went wrong (skips by choice included), else 1.
    int ExitStatus() const { return !interrupted && failed + stopped + notStarted == 0 ? 0 : 1; }
    std::string Text() const;
};

class BatchConverter : private BatchFace {
public:
    BatchConverter(Console& console, InterruptWatch& interrupts, BatchOptions options);

    BatchSummary Run(const std::vector<SourcePaths::Source>& sources);

    // "m:ss" for a number of seconds (minutes not capped).
    static std::string Clock(double seconds);
    // One progress line: name, bar, percentage, elapsed time and speed in times realtime.
    static std::string ProgressLine(
        const std::string& name, double position, double length, const std::string& percent, double elapsed);

private:
    Answer AskOverwrite(const BatchItem& item) override;
    void OnEvent(const Event& event) override;
    void WaitFor(int milliseconds) override { interrupts.WaitFor(milliseconds); }
    void Wake() override { interrupts.Wake(); }
    StopMode StopWanted() override { return interrupts.Interrupted() ? StopMode::Now : StopMode::None; }
    void AroundJobThreads(const std::function<void()>& work) override;
    void OnWorkerBegin(const BatchItem& item, bool overwrite) override;
    void OnNote(const BatchItem& item, const std::string& note) override;
    void OnEnded(const Event& event);

    Console& console;
    InterruptWatch& interrupts;
    BatchOptions options;
    std::vector<std::string> progressLines; // of the running jobs, drawn when the batch waits
};
