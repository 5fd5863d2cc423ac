// What a batch needs from the face that runs it (the command-line tool, the window): answers to
// the overwrite question, the events of each item, a way to wait, and the stop the user asks
// for. The batch calls every member on the thread that runs Batch::Run, except Wake and
// OnWorkerBegin, which a job's worker thread calls.
#pragma once

#include "engine/BatchPlan.h"

#include <functional>
#include <string>

class BatchFace {
public:
    // The answers to "overwrite the existing output?". Unasked: nobody can answer (the face has
    // said so); the item fails.
    enum class Answer { Yes, YesToAll, No, NoToAll, Unasked };
    enum class StopMode { None, FinishRunning, Now };

    // An item's outcome, told once per item of the plan.
    enum class Outcome {
        Converted, // the output is complete at the item's output path
        Failed, // see Failure
        Skipped, // an existing output was kept
        Stopped, // stopped at the user's request; the output is complete but shorter
        NotStarted, // the run stopped before this item started
        UpToDate, // the output is newer than its source and was left as it was
    };
    enum class Failure {
        None,
        Refused, // the plan refused the item: `reason` says why, not told to the user yet
        NotAsked, // no one could answer the overwrite question (the face said so)
        NotStarted, // the job could not start; its message has been shown
        NotWritten, // the job ran but its output could not be written; its message has been shown
    };

    struct Event {
        enum class Kind {
            Starting, // the job of `item` is about to start (messages of the start follow)
            Started, // its worker runs
            Progress, // `position` and `length` in seconds, `elapsed` since it started
            Waiting, // every running item has told its progress; the batch waits for a change
            Ended, // `outcome`, with `failure`, `reason` and `damagedSeconds`
        };
        Kind kind = Kind::Starting;
        const BatchItem* item = nullptr; // null for Waiting
        size_t index = 0; // the item's place in the plan
        double position = 0.0;
        double length = 0.0;
        double elapsed = 0.0;
        Outcome outcome = Outcome::NotStarted;
        Failure failure = Failure::None;
        std::string reason; // for Failure::Refused
        bool answered = false; // Skipped: the user answered this item's own question
        double damagedSeconds = 0.0; // audio the decoder skipped as damaged
    };

    virtual ~BatchFace() = default;

    virtual Answer AskOverwrite(const BatchItem& item) = 0;
    virtual void OnEvent(const Event& event) = 0;
    // Waits until Wake, a stop request or the end of `milliseconds`.
    virtual void WaitFor(int milliseconds) = 0;
    // Ends a WaitFor early; called from any thread.
    virtual void Wake() = 0;
    // The stop the user asks for now (asked at every turn of the batch).
    virtual StopMode StopWanted() { return StopMode::None; }
    // Runs `work`, which starts or ends job threads (a face that keeps signals to its own thread
    // blocks them around it).
    virtual void AroundJobThreads(const std::function<void()>& work) { work(); }
    // First thing on a job's worker thread; `overwrite` is how the existing output was settled.
    // The job asks again through the message backend when its output exists as it opens it: the
    // face gives that question this answer (and No for a file that appeared since).
    virtual void OnWorkerBegin(const BatchItem& /*item*/, bool /*overwrite*/) { }
    // Something worth telling about an item that changes nothing of its outcome (a cover image
    // left out, say).
    virtual void OnNote(const BatchItem& /*item*/, const std::string& /*note*/) { }
};
