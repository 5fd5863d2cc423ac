// Converts a list of sources with up to `jobs` conversion jobs at once, each with encoders of
// its own, at normal priority. The plan (BatchPlan) is made first; an item the plan refuses
// fails without touching a file. Before a job starts, its existing output is settled by the
// overwrite policy or by the face's answer ("to all" answers settle the rest of the run). The
// face is told each item's start, progress and outcome, and the run's tally is returned.
//
// Stopping: StopMode::Now stops every running job (each finishes its file, shorter) and starts
// no more; FinishRunning lets the running jobs end and starts no more. Items never reached end
// NotStarted.
//
// Threads: Run runs on the caller's thread and returns when every job has ended; a job's worker
// only calls the face's Wake and OnWorkerBegin. The destructor stops and waits for any job left.
#pragma once

#include "engine/BatchFace.h"
#include "engine/BatchPlan.h"
#include "engine/ConversionSettings.h"
#include "engine/CoverCopier.h"
#include "engine/OutputFormat.h"
#include "engine/OutputLayout.h"
#include "engine/SourcePaths.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct BatchOverrides;

struct BatchOptions {
    enum class Overwrite { Ask, Always, Never };

    // The options of a batch from the settings, with the choices a caller makes for this run
    // only in their place: the one way both the window and the command line make them, so that
    // both convert the same settings alike. The output folder ends with its separator.
    static BatchOptions From(const ConversionSettings& settings, const BatchOverrides& overrides);

    std::string outputDir; // prefix of every output path
    double outputRate = 22050.0;
    uint16_t channels = 2; // 1 (mono) or 2 (stereo)
    Overwrite overwrite = Overwrite::Ask;
    int jobs = 1;
    const OutputFormat* format = &OutputFormat::Auto();
    const OutputFormat::Quality* quality = nullptr; // null: the format's default
    OutputLayout layout; // where each output goes below outputDir
    // A source whose output exists, is not empty and is not older than the source ends "up to
    // date" before anything else is asked, whatever the overwrite policy.
    bool skipUpToDate = false;
    bool copyCovers = false; // with a layout that makes folders: see CoverCopier
};

// What a run's caller chooses in place of the settings (the command line's options); unset:
// the setting's own.
struct BatchOverrides {
    std::optional<std::string> outputDir;
    std::optional<std::string> bitrate;
    std::optional<std::string> channels;
    const OutputFormat* format = nullptr; // with `quality` (null: its default)
    const OutputFormat::Quality* quality = nullptr;
    std::optional<int> jobs;
    BatchOptions::Overwrite overwrite = BatchOptions::Overwrite::Ask;
    std::optional<OutputLayout> layout;
    std::optional<bool> skipUpToDate;
    std::optional<bool> copyCovers;
};

// The counts of a run's outcomes.
struct BatchTally {
    int converted = 0;
    int failed = 0; // refused, not asked, could not start or could not be written
    int skipped = 0; // an existing output kept by choice
    int stopped = 0; // stopped on request: a shorter file
    int notStarted = 0; // left out after a stop
    int upToDate = 0; // an output newer than its source, left as it was
    double audioSeconds = 0.0; // audio converted (stopped files included)
    double wallSeconds = 0.0;

    // Every outcome the run had, as a person reads it: "12 converted, 1 failed, 2 stopped,
    // 1,706 not converted" (the converted count always, the others when there were any;
    // "skipped" for outputs kept by choice, "up to date" for outputs newer than their source).
    std::string OutcomeCounts() const;
};

class Batch {
public:
    Batch(BatchFace& face, BatchOptions options);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    BatchTally Run(const std::vector<SourcePaths::Source>& sources);
    // Sources given themselves (none found in a folder).
    BatchTally Run(const std::vector<std::string>& sources);

private:
    struct Running;

    // Whether the item may start; tells the face its outcome when not.
    bool Settle(size_t index, bool& overwrite);
    bool SettleExisting(size_t index, bool& overwrite);
    // Makes the item's folders and copies the covers along; false (the item told) when the
    // folders cannot be made.
    bool Prepare(size_t index);
    void StartNext(size_t index);
    // Tells, counts and removes the jobs that have ended; returns how many there were.
    int CollectFinished();
    // Counts and tells an item's outcome, for an item that never ran or could not start.
    void End(size_t index, BatchFace::Outcome outcome, BatchFace::Failure failure = BatchFace::Failure::None,
        bool answered = false);
    void Count(BatchFace::Outcome outcome);
    void TellProgress();
    // Takes up the face's stop request; true when the run must start nothing more.
    bool CheckStop();

    BatchFace& face;
    BatchOptions options;
    std::vector<BatchItem> items;
    std::vector<bool> ended; // per item: its outcome has been told
    std::vector<char> upToDate; // per item, with skipUpToDate: its output is up to date
    std::vector<std::unique_ptr<Running>> running;
    BatchTally tally;
    BatchFace::StopMode stop = BatchFace::StopMode::None;
    BatchFace::Answer toAll = BatchFace::Answer::Unasked; // YesToAll or NoToAll once given
    CoverCopier covers;
};
