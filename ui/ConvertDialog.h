// The "Convert" dialog: one source item into one output file. The main window fills in the
// source, the target name and the output folder and shows it once per selected row; START runs
// the conversion job on its worker, a 200 ms timer shows its progress, ABORT stops it early, and
// the job's end (the posted command 32771) closes the dialog with OK.
//
// While a job runs, the dialog does not end by Enter, Escape or the window manager's close:
// its Mixer is in use by the worker. Closing it then counts as ABORT; the dialog ends with OK
// once the worker has finished the (shorter) file.
#pragma once

#include "engine/ConversionJob.h"
#include "ui/SkinnedDialog.h"

#include <QBasicTimer>
#include <QString>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class ConvertDialog : public SkinnedDialog {
    Q_OBJECT
public:
    static constexpr int kEncodeOverCommand = 32771; // ID_ENCODE_OVER
    static constexpr int kProgressPeriodMs = 200;

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

    void OnStart();
    void OnAbort();
    void OnEncodeOver();

    bool IsRunning() const { return job.IsRunning() || running; }
    QPushButton* StartButton() const { return startButton; }
    QPushButton* AbortButton() const { return abortButton; }

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
    void PostEncodeOver();

    QPushButton* abortButton = nullptr;
    QLabel* arrow = nullptr;
    QLineEdit* sourceEdit = nullptr;
    QLineEdit* targetEdit = nullptr;
    QPushButton* startButton = nullptr;
    QLabel* percentLabel = nullptr;
    QBasicTimer progressTimer;
    bool running = false; // from START until the end command was handled
};
