#include "ui/ConvertDialog.h"

#include "platform/Message.h"
#include "ui/FlatButton.h"
#include "ui/Resources.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>

namespace {

// A command posted to a dialog, as a menu or button command with notification code 0.
class CommandEvent : public QEvent {
public:
    static QEvent::Type Kind()
    {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    explicit CommandEvent(int id)
        : QEvent(Kind())
        , id(id)
    { }
    const int id;
};

std::string Local(const QString& text)
{
    return text.toLocal8Bit().toStdString();
}

// The overall bar counts in thousandths of the batch.
constexpr int kOverallRange = 1000;

// The part of a file done, 0 to 1; 0 while its length is unknown.
double ShareOf(double position, double length)
{
    if (!(length > 0.0) || !std::isfinite(length) || !std::isfinite(position))
        return 0.0;
    return std::clamp(position / length, 0.0, 1.0);
}

} // namespace

ConvertDialog::ConvertDialog(QWidget* parent, double outputRate, EncoderSet& encoders, uint16_t channels)
    : SkinnedDialog(parent)
    , job(outputRate, encoders, channels)
{
    setObjectName(QStringLiteral("137"));
    setWindowTitle(QStringLiteral("Convert"));
    // A modal frame without a system menu, so without a close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    // One line taller than the template: the whole batch's progress below the buttons.
    setFixedSize(units.ToPixels(347, 144));

    // Controls in tab order.
    abortButton = new FlatButton(QStringLiteral("ABORT"), this);
    units.Place(abortButton, 3, 221, 97, 50, 20);
    abortButton->setAutoDefault(true);

    progress = new QProgressBar(this);
    units.Place(progress, 1014, 18, 71, 309, 17);
    progress->setTextVisible(false);
    progress->setRange(0, 100);
    progress->setValue(0);

    arrow = new QLabel(this);
    const QPixmap arrowPicture = resources::Bitmap(resources::kBitmapArrow);
    arrow->setPixmap(arrowPicture);
    arrow->setGeometry(units.X(155), units.Y(30), arrowPicture.width(), arrowPicture.height());

    sourceEdit = new QLineEdit(this);
    units.Place(sourceEdit, 1017, 15, 28, 120, 16);
    sourceEdit->setReadOnly(true);

    targetEdit = new QLineEdit(this);
    units.Place(targetEdit, 1018, 211, 28, 120, 17);
    targetEdit->setReadOnly(true);

    startButton = new FlatButton(QStringLiteral("START"), this);
    units.Place(startButton, 1019, 78, 97, 50, 20);
    startButton->setDefault(true);

    percentLabel = new QLabel(QStringLiteral("0%"), this);
    units.Place(percentLabel, 1020, 155, 100, 44, 14);
    percentLabel->setAlignment(Qt::AlignCenter);
    percentLabel->setAutoFillBackground(true);

    // Above the source box, where the template leaves room.
    allRows = new QCheckBox(QStringLiteral("Convert all selected rows"), this);
    units.Place(allRows, 1021, 15, 9, 150, 12);

    overall = new QProgressBar(this);
    units.Place(overall, 1022, 18, 123, 120, 12);
    overall->setTextVisible(false);
    overall->setRange(0, kOverallRange);
    overall->setValue(0);

    overallLabel = new QLabel(this);
    units.Place(overallLabel, 1023, 142, 123, 185, 12);
    overallLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    overallLabel->setAutoFillBackground(true);

    setTabOrder(abortButton, sourceEdit);
    setTabOrder(sourceEdit, targetEdit);
    setTabOrder(targetEdit, startButton);
    setTabOrder(startButton, allRows);

    connect(startButton, &QPushButton::clicked, this, &ConvertDialog::OnStart);
    connect(abortButton, &QPushButton::clicked, this, &ConvertDialog::OnAbort);
}

ConvertDialog::~ConvertDialog()
{
    // A batch still running is stopped and waited for; its files end complete, shorter.
    batch.reset();
    // The worker reads from this dialog's Mixer and posts to it: it must be over first.
    job.Wait();
}

void ConvertDialog::BindToControls()
{
    targetEdit->setText(targetName);
    sourceEdit->setText(sourceName);
    percentLabel->setText(percentText);
}

void ConvertDialog::BindFromControls()
{
    targetName = targetEdit->text();
    sourceName = sourceEdit->text();
    percentText = percentLabel->text();
}

void ConvertDialog::showEvent(QShowEvent* event)
{
    // The same dialog object serves one row after another: every showing starts as the first
    // one does, with an empty bar and no percentage, whatever the previous row's job reached.
    progress->setRange(0, 100);
    progress->setValue(0);
    percentText.clear();
    BindToControls();
    overall->setValue(0);
    overallLabel->clear();
    startButton->setEnabled(true);
    abortButton->setEnabled(true);
    allRows->setEnabled(true);
    startButton->setFocus();
    SkinnedDialog::showEvent(event);
}

void ConvertDialog::OnStart()
{
    if (IsRunning())
        return;
    if (allRows->isChecked() && startAll) {
        startAll();
        return;
    }
    if (startOne) {
        startOne();
        return;
    }
    job.sourceName = Local(sourceName);
    job.targetName = Local(targetName);
    job.outputDir = Local(outputDir);
    const ConversionJob::StartResult result = job.Start([this] { PostEncodeOver(); });
    switch (result) {
    case ConversionJob::StartResult::Started:
        break;
    case ConversionJob::StartResult::SourceNotOpened:
        reject();
        return;
    default:
        return; // the job said why; the dialog stays open
    }
    running = true;
    const ConversionJob::Progress figures = job.StartProgress();
    progress->setRange(0, figures.range);
    progress->setValue(0);
    percentText = QStringLiteral("0%");
    progressTimer.start(kProgressPeriodMs, this);
    startButton->setEnabled(false);
    abortButton->setEnabled(true);
    ParkFocus();
    BindToControls();
}

void ConvertDialog::OnAbort()
{
    if (batch && batch->IsRunning()) {
        batch->Stop();
        return;
    }
    if (IsRunning()) {
        job.Abort();
        return;
    }
    if (!job.Abort())
        reject(); // no job has run yet in this program: ABORT cancels
}

bool ConvertDialog::RunBatch(
    const BatchOptions& options, std::vector<SourcePaths::Source> sources, bool oneRow)
{
    if (IsRunning())
        return false;
    batch.reset(); // the previous batch is over; its thread has been joined
    batch = std::make_unique<WindowBatch>(options);
    batch->questionParent = this;
    batch->oneRow = oneRow;
    batch->onNews = [this](const WindowBatch::News& news) { OnBatchNews(news); };
    batch->onFinished = [this](const BatchTally& tally) {
        lastTally = tally;
        OnBatchFinished();
    };
    batchTotal = static_cast<int>(sources.size());
    lastTally = BatchTally();
    batchDone = 0;
    batchFailed = 0;
    runningShares.clear();
    batchClock.start();
    lastBatchShow.invalidate();
    shownStarted = false;
    shownPosition = 0.0;
    shownLength = -1.0;
    shownConverted = false;
    if (!batch->Start(std::move(sources)))
        return false;
    percentText = QStringLiteral("0%");
    progress->setRange(0, 100);
    progress->setValue(0);
    ShowOverall();
    startButton->setEnabled(false);
    allRows->setEnabled(false);
    abortButton->setEnabled(true);
    ParkFocus();
    BindToControls();
    return true;
}

void ConvertDialog::OnBatchNews(const WindowBatch::News& news)
{
    switch (news.kind) {
    case WindowBatch::News::Kind::Started:
        shownItem = news.index;
        sourceName = QString::fromLocal8Bit(news.source.c_str());
        targetName = QString::fromLocal8Bit(news.targetName.c_str());
        runningShares[news.index] = 0.0;
        shownStarted = true;
        shownPosition = 0.0;
        shownLength = news.length;
        shownConverted = false;
        break;
    case WindowBatch::News::Kind::Progress:
        runningShares[news.index] = ShareOf(news.position, news.length);
        if (news.index == shownItem) {
            shownPosition = news.position;
            shownLength = news.length;
        }
        break;
    case WindowBatch::News::Kind::Ended:
        runningShares.erase(news.index);
        ++batchDone;
        if (news.index == shownItem && news.outcome == BatchFace::Outcome::Converted)
            shownConverted = true;
        if (news.outcome == BatchFace::Outcome::Failed)
            ++batchFailed;
        break;
    }
    ShowBatchSoon();
    if (onBatchNews)
        onBatchNews(news);
}

void ConvertDialog::ShowBatchSoon()
{
    if (!lastBatchShow.isValid() || lastBatchShow.elapsed() >= kBatchShowPeriodMs) {
        ShowBatch();
        return;
    }
    if (!batchShowTimer.isActive())
        batchShowTimer.start(static_cast<int>(kBatchShowPeriodMs - lastBatchShow.elapsed()), this);
}

void ConvertDialog::ShowBatch()
{
    batchShowTimer.stop();
    lastBatchShow.start();
    if (shownStarted)
        ShowFileProgress(shownPosition, shownLength);
    if (shownConverted) {
        progress->setValue(progress->maximum());
        if (!percentText.isEmpty())
            percentText = QStringLiteral("100%");
    }
    ShowOverall();
    BindToControls();
}

void ConvertDialog::ShowFileProgress(double position, double length)
{
    const ConversionJob::Progress figures = ConversionJob::ProgressFor(position, length);
    progress->setRange(0, figures.range);
    if (figures.position <= progress->maximum())
        progress->setValue(figures.position);
    percentText = QString::fromStdString(figures.percentText);
}

void ConvertDialog::ShowOverall()
{
    double done = batchDone;
    for (const auto& share : runningShares)
        done += share.second;
    const double part = batchTotal > 0 ? std::clamp(done / batchTotal, 0.0, 1.0) : 1.0;
    overall->setValue(static_cast<int>(part * kOverallRange));
    // The time left follows the pace so far, once there is a pace to go by.
    const double elapsed = batchClock.isValid() ? batchClock.elapsed() / 1000.0 : 0.0;
    double left = -1.0;
    if (part > 0.0 && elapsed >= 1.0 && batchDone < batchTotal)
        left = elapsed * (1.0 - part) / part;
    overallLabel->setText(OverallText(batchDone, batchTotal, batchFailed, left));
}

QString ConvertDialog::OverallText(int done, int total, int failed, double secondsLeft)
{
    QString text = QStringLiteral("%1 of %2 done").arg(done).arg(total);
    if (failed > 0)
        text += QStringLiteral(" \u00b7 %1 failed").arg(failed);
    if (secondsLeft >= 0.0 && std::isfinite(secondsLeft)) {
        const long seconds = static_cast<long>(std::ceil(secondsLeft));
        text += QStringLiteral(" \u00b7 %1:%2 left")
                    .arg(seconds / 60)
                    .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    return text;
}

void ConvertDialog::OnBatchFinished()
{
    runningShares.clear();
    ShowBatch();
    BindFromControls();
    done(Accepted);
}

void ConvertDialog::PostEncodeOver()
{
    // Runs on the worker thread: the dialog outlives the worker (its destructor waits), so the
    // posted event always finds it.
    QCoreApplication::postEvent(this, new CommandEvent(kEncodeOverCommand));
}

void ConvertDialog::OnEncodeOver()
{
    progressTimer.stop();
    job.Wait();
    running = false;
    BindFromControls();
    done(Accepted);
}

bool ConvertDialog::event(QEvent* event)
{
    if (event->type() == CommandEvent::Kind()) {
        if (static_cast<CommandEvent*>(event)->id == kEncodeOverCommand)
            OnEncodeOver();
        return true;
    }
    return SkinnedDialog::event(event);
}

void ConvertDialog::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == progressTimer.timerId())
        OnProgressTimer();
    if (event->timerId() == batchShowTimer.timerId())
        ShowBatch();
    BindToControls();
    SkinnedDialog::timerEvent(event);
}

void ConvertDialog::OnProgressTimer()
{
    const ConversionJob::Progress figures = job.PollProgress();
    if (figures.position <= progress->maximum())
        progress->setValue(figures.position);
    percentText = QString::fromStdString(figures.percentText);
}

void ConvertDialog::closeEvent(QCloseEvent* event)
{
    // While a conversion runs, closing is Escape: it asks first for a batch, and stops what runs
    // once the user agrees; the dialog ends with OK once every running file is closed.
    if (IsRunning()) {
        event->ignore();
        AskAndAbort();
        return;
    }
    SkinnedDialog::closeEvent(event);
}

void ConvertDialog::AskAndAbort()
{
    // A batch's remaining files are lost to one stray key only after a question.
    if (batch && batch->IsRunning() && batchTotal > 1 && !AskYesNo(kStopAllQuestion, ApplicationTitle()))
        return;
    // The batch may have ended while the question was open: nothing is left to stop then.
    if (IsRunning())
        OnAbort();
}

void ConvertDialog::ParkFocus()
{
    // Not on ABORT: a second Enter, pressed from habit after the one that started, would stop
    // the conversion and leave a shorter file. The bar takes no key, and Enter finds no enabled
    // default button.
    progress->setFocus(Qt::OtherFocusReason);
}

void ConvertDialog::keyPressEvent(QKeyEvent* event)
{
    // Alt+A is ABORT's key, as its click is: before START it cancels.
    if (event->key() == Qt::Key_A && event->modifiers() == Qt::AltModifier) {
        event->accept();
        if (abortButton->isEnabled())
            abortButton->click();
        return;
    }
    if (IsRunning() && event->key() == Qt::Key_Escape) {
        event->accept();
        AskAndAbort();
        return;
    }
    SkinnedDialog::keyPressEvent(event);
}

void ConvertDialog::done(int result)
{
    if (IsRunning())
        return; // the worker still reads from this dialog's Mixer
    SkinnedDialog::done(result);
}
