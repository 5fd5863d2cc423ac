// The window's face of a batch (Batch): it runs the batch on a thread of its own, so that the
// window stays responsive while Batch::Run waits for its jobs, and carries what happens to each
// item to the interface thread as News, through queued calls.
//
// - Progress reaches the interface at most every kProgressPeriodMs per item, gathered on the
//   batch's thread; the jobs' own buffers never post anything.
// - The overwrite question is a box on the interface thread (Yes, Yes to All, No, No to All)
//   while the batch's thread waits for the answer.
// - In the one-row mode (oneRow) a batch of one row keeps its job's messages as boxes and asks
//   Yes or No only.
// - What a job would say in a message box during the batch ("can not open source file!" and
//   the like) goes into its item's News instead (QtMessageBackend::RouteThisThread), so a broken
//   file does not halt the batch; the window shows it in the row's Status.
//
// Threads: every member is called on the interface thread, and onNews and onFinished run there.
// Stop answers within one turn of the batch (the batch's wait ends at once). The destructor stops
// a running batch and waits for it: every job ends with a complete, shorter file.
#pragma once

#include "engine/Batch.h"
#include "engine/BatchFace.h"
#include "engine/SourcePaths.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QMessageBox;
class QWidget;

class WindowBatch : public QObject, private BatchFace {
    Q_OBJECT
public:
    static constexpr int kProgressPeriodMs = 100;

    // What the window hears of one item of the plan.
    struct News {
        enum class Kind { Started, Progress, Ended };
        Kind kind = Kind::Started;
        size_t index = 0; // the item's place in the plan: the place of its source
        std::string source;
        std::string targetName;
        std::string outputPath;
        double position = 0.0; // seconds
        double length = -1.0; // seconds; not above 0 when the source cannot tell
        BatchFace::Outcome outcome = BatchFace::Outcome::NotStarted; // for Ended
        BatchFace::Failure failure = BatchFace::Failure::None; // for Ended
        // Ended: why the item failed, or what its job said on the way, in one line each.
        std::string reason;
    };

    explicit WindowBatch(BatchOptions options, QObject* parent = nullptr);
    ~WindowBatch() override;
    WindowBatch(const WindowBatch&) = delete;
    WindowBatch& operator=(const WindowBatch&) = delete;

    std::function<void(const News&)> onNews;
    std::function<void(const BatchTally&)> onFinished; // once, after the last item's news
    QWidget* questionParent = nullptr; // the window the overwrite question belongs to
    // The one row of the window's one-row mode: the job's messages are boxes, as a single
    // conversion shows them, and the overwrite question offers Yes and No only. Set before Start.
    bool oneRow = false;

    // Starts the batch of `sources` (one item each, in order, each with the folder it was found
    // under); false when one runs already.
    bool Start(std::vector<SourcePaths::Source> sources);
    // ABORT: every running job stops (its file complete, shorter) and no other starts.
    void Stop();
    // From Start until onFinished has been called.
    bool IsRunning() const { return running; }

    // The Status column's text for an item's news, and for an item that waits its turn.
    static QString StatusText(const News& news);
    static QString WaitingText();

private:
    class PendingAnswer;

    Answer AskOverwrite(const BatchItem& item) override;
    void OnEvent(const Event& event) override;
    void WaitFor(int milliseconds) override;
    void Wake() override;
    StopMode StopWanted() override { return stopWanted.load(); }
    void OnWorkerBegin(const BatchItem& item, bool overwrite) override;

    void RunOnThread(std::vector<SourcePaths::Source> sources);
    void OnStarting(const Event& event);
    void OnProgress(const Event& event);
    void OnEnded(const Event& event);
    // Routes the calling thread's messages to the item's reasons (an index past the plan: none).
    void RouteMessagesTo(size_t index, bool overwrite);
    News NewsOf(const Event& event) const;
    // Calls onNews for each, on the interface thread.
    void Post(std::vector<News> news);
    void ShowQuestion(const std::shared_ptr<PendingAnswer>& pending, const QString& outputPath);
    void Finish(const BatchTally& tally);

    BatchOptions options;
    std::thread runner;
    bool running = false;
    std::atomic<StopMode> stopWanted {StopMode::None};

    std::mutex wakeLock;
    std::condition_variable wake;
    bool woken = false;

    // Batch thread only: when each item last told its progress, and what waits to be posted.
    std::map<size_t, std::chrono::steady_clock::time_point> lastProgress;
    std::vector<News> progress;

    // What the jobs said, per item; workers add to it.
    std::mutex messagesLock;
    std::map<size_t, std::vector<std::string>> messages;
    std::map<const BatchItem*, size_t> indexOf;

    std::mutex questionLock;
    std::shared_ptr<PendingAnswer> question; // the one the batch waits for
    QPointer<QMessageBox> questionBox;
};
