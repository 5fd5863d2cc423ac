// The "Convert" dialog: one source item into one output file. The main window fills in the
// source, the target name and the output folder and shows it once per selected row; START runs
// the conversion job on its worker, a 200 ms timer shows its progress, ABORT stops it early, and
// the job's end (the posted command 32771) closes the dialog with OK.
//
// While a job runs, the dialog does not end by Enter, Escape or the window manager's close:
// its Mixer is in use by the worker. Closing it then counts as Escape, which is ABORT (for a
// batch, after the question "Stop all remaining files?"); the dialog ends with OK once the
// worker has finished the (shorter) file. After START the focus rests on the progress
// bar, so Enter stops nothing; ABORT takes a click, Alt+A or Escape (for a batch, Escape asks
// first).
//
// With "Convert all selected rows" checked, START calls `startAll` instead, through which the
// main window hands the rows to RunBatch: one batch (WindowBatch) converts them all, several at
// once. The bar and the percentage then follow the file that started last, and a line below
// them shows the whole batch: an overall bar and "4 of 12 done · 1 failed · 0:42 left". ABORT
// stops every running file and starts no other; the dialog ends with OK when the batch is over.
#pragma once

#include "engine/Batch.h"
#include "engine/ConversionJob.h"
#include "ui/SkinnedDialog.h"
#include "ui/WindowBatch.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class ConvertDialog : public SkinnedDialog {
    Q_OBJECT
public:
    static constexpr int kEncodeOverCommand = 32771; // ID_ENCODE_OVER
    static constexpr int kProgressPeriodMs = 200;
    // A batch's bars, percentage and overall line are redrawn at most this often: files that
    // end several times a second would otherwise have the dialog painted for each of them,
    // taking the processor from the jobs.
    static constexpr int kBatchShowPeriodMs = 100;
    // Escape's question while a batch runs; Yes is ABORT.
    static constexpr const char* kStopAllQuestion = "Stop all remaining files?";

    // `channels`: 1 for the "mono" setting, 2 for "stereo".
    ConvertDialog(
        QWidget* parent, double outputRate, EncoderSet& encoders = ProcessEncoders(), uint16_t channels = 1);
    ~ConvertDialog() override;

    QProgressBar* progress = nullptr;
    QString targetName;
    QString sourceName;
    QString percentText;
    ConversionJob job; // holds the Mixer and the stream it loaded
    QString outputDir;

    // START with "Convert all selected rows" checked.
    std::function<void()> startAll;
    // START with it unchecked, in the window: the dialog's row as a batch of one (RunBatch with
    // oneRow). Without it, START runs the dialog's own job.
    std::function<void()> startOne;
    // Each item's news of the batch, after the dialog has shown it.
    std::function<void(const WindowBatch::News&)> onBatchNews;

    void OnStart();
    void OnAbort();
    void OnEncodeOver();
    // Starts the batch of `sources`; false when it could not start. `oneRow`: the one row of the
    // one-row mode (see WindowBatch::oneRow).
    bool RunBatch(const BatchOptions& options, std::vector<SourcePaths::Source> sources, bool oneRow = false);

    bool IsRunning() const { return job.IsRunning() || running || (batch && batch->IsRunning()); }
    QPushButton* StartButton() const { return startButton; }
    QPushButton* AbortButton() const { return abortButton; }
    QCheckBox* AllRowsBox() const { return allRows; }
    QProgressBar* OverallBar() const { return overall; }
    QLabel* OverallLabel() const { return overallLabel; }
    // The outcomes of the last batch, once it is over.
    const BatchTally& Tally() const { return lastTally; }

    // The overall line's text: "4 of 12 done", then " · 1 failed" when any did, then
    // " · 0:42 left" when the time left is known (not below 0).
    static QString OverallText(int done, int total, int failed, double secondsLeft);

    // Puts the texts into their controls, and reads them back.
    void BindToControls();
    void BindFromControls();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    void OnProgressTimer();
    // Escape, or closing the dialog, while a conversion runs: ABORT, after a question for a batch.
    void AskAndAbort();
    // Where the focus goes once a conversion runs.
    void ParkFocus();
    void PostEncodeOver();
    void OnBatchNews(const WindowBatch::News& news);
    void OnBatchFinished();
    // The bar and the percentage for a running file's position.
    void ShowFileProgress(double position, double length);
    void ShowOverall();
    // The batch's state in the controls: at once when the last showing is a period old, else at
    // the period's end.
    void ShowBatchSoon();
    void ShowBatch();

    QPushButton* abortButton = nullptr;
    QLabel* arrow = nullptr;
    QLineEdit* sourceEdit = nullptr;
    QLineEdit* targetEdit = nullptr;
    QPushButton* startButton = nullptr;
    QLabel* percentLabel = nullptr;
    QCheckBox* allRows = nullptr;
    QProgressBar* overall = nullptr;
    QLabel* overallLabel = nullptr;
    QBasicTimer progressTimer;
    bool running = false; // from START until the end command was handled

    std::unique_ptr<WindowBatch> batch;
    BatchTally lastTally;
    int batchTotal = 0;
    int batchDone = 0;
    int batchFailed = 0;
    size_t shownItem = 0; // the file that started last
    bool shownStarted = false; // whether any file started yet
    double shownPosition = 0.0; // its progress, as last heard
    double shownLength = -1.0;
    bool shownConverted = false;
    QElapsedTimer lastBatchShow; // when the batch's state was last put into the controls
    QBasicTimer batchShowTimer;
    std::map<size_t, double> runningShares; // per running item: the part of it done, 0 to 1
    QElapsedTimer batchClock;
};
