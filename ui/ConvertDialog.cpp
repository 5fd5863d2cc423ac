#include "ui/ConvertDialog.h"

#include "ui/FlatButton.h"
#include "ui/Resources.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimerEvent>

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

} // namespace

ConvertDialog::ConvertDialog(QWidget* parent, double outputRate, EncoderSet& encoders, uint16_t channels)
    : SkinnedDialog(parent)
    , job(outputRate, encoders, channels)
{
    setObjectName(QStringLiteral("137"));
    setWindowTitle(QStringLiteral("Convert"));
    // A modal frame without a system menu, so without a close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(units.ToPixels(347, 130));

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

    setTabOrder(abortButton, sourceEdit);
    setTabOrder(sourceEdit, targetEdit);
    setTabOrder(targetEdit, startButton);

    connect(startButton, &QPushButton::clicked, this, &ConvertDialog::OnStart);
    connect(abortButton, &QPushButton::clicked, this, &ConvertDialog::OnAbort);
}

ConvertDialog::~ConvertDialog()
{
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
    startButton->setEnabled(true);
    abortButton->setEnabled(true);
    startButton->setFocus();
    SkinnedDialog::showEvent(event);
}

void ConvertDialog::OnStart()
{
    if (IsRunning())
        return;
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
    abortButton->setFocus();
    BindToControls();
}

void ConvertDialog::OnAbort()
{
    if (IsRunning()) {
        job.Abort();
        return;
    }
    if (!job.Abort())
        reject(); // no job has run yet in this program: ABORT cancels
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
    if (IsRunning()) {
        job.Abort(); // ends with OK once the worker has closed the file
        event->ignore();
        return;
    }
    SkinnedDialog::closeEvent(event);
}

void ConvertDialog::keyPressEvent(QKeyEvent* event)
{
    if (IsRunning() && event->key() == Qt::Key_Escape) {
        event->accept();
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
