// Converts a list of sources with up to `jobs` conversion jobs at once, each with encoders of
// its own, at normal priority. Before a job starts its existing output is settled (-y, -n or a
// question on the terminal); an output that another source of the run also writes, or that is
// itself one of the sources, is refused. On a terminal, one progress line per running job.
// After an interrupt every running job is stopped (its file finished, shorter) and no further
// job starts.
#pragma once

#include "cli/Console.h"
#include "cli/InterruptWatch.h"
#include "engine/OutputFormat.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct BatchOptions {
    enum class Overwrite { Ask, Always, Never };

    std::string outputDir; // prefix of every output path
    double outputRate = 22050.0;
    uint16_t channels = 2; // 1 (mono) or 2 (stereo)
    Overwrite overwrite = Overwrite::Ask;
    int jobs = 1;
    const OutputFormat* format = &OutputFormat::Auto();
    const OutputFormat::Quality* quality = nullptr; // null: the format's default
};

struct BatchSummary {
    int converted = 0;
    int failed = 0; // could not start, could not be written, refused, or not asked for lack of a terminal
    int skipped = 0; // an existing output kept by choice (-n, or No on the terminal)
    int stopped = 0; // stopped by an interrupt: a shorter file
    int notStarted = 0; // left out after an interrupt
    bool interrupted = false; // the run was cut short by Ctrl-C
    double audioSeconds = 0.0;
    double wallSeconds = 0.0;

    // 0 when nothing went wrong (skips by choice included), else 1.
    int ExitStatus() const { return !interrupted && failed + stopped + notStarted == 0 ? 0 : 1; }
    std::string Text() const;
};

class BatchConverter {
public:
    BatchConverter(Console& console, InterruptWatch& interrupts, BatchOptions options);
    ~BatchConverter();

    BatchSummary Run(const std::vector<std::string>& sources);

    // Whether a source is a disc image (.cue, .toc) or a CD drive, whose audio tracks are all
    // converted (and listed by --probe).
    static bool IsDiscSource(const std::string& source);
    // "m:ss" for a number of seconds (minutes not capped).
    static std::string Clock(double seconds);
    // One progress line: name, bar, percentage, elapsed time and speed in times realtime.
    static std::string ProgressLine(
        const std::string& name, double position, double length, const std::string& percent, double elapsed);

private:
    struct Item;
    struct Running;

    std::vector<Item> Plan(const std::vector<std::string>& sources);
    // One item per audio track of the disc, or one refused item when it cannot be read.
    void PlanDisc(const std::string& disc, std::vector<Item>& items) const;
    // Sets the item's output path and refuses it when the output is one of the run's sources
    // (`sourceKeys`) or already taken by an earlier item (`outputs`, to which it is added).
    void ClaimOutput(Item& item, const std::map<std::string, std::string>& sourceKeys,
        std::map<std::string, std::string>& outputs) const;
    bool SettleExisting(const Item& item, bool& overwrite);
    void StartNext(Item& item);
    // Counts, reports and removes the jobs that have ended; returns how many there were.
    int CollectFinished();
    void ReportSkipped(const Running& slot);
    void DrawProgress();

    Console& console;
    InterruptWatch& interrupts;
    BatchOptions options;
    std::vector<std::unique_ptr<Running>> running;
    BatchSummary summary;
    bool stopping = false;
};
