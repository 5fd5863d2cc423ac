// WindowBench: the window's side of the benchmarks, run on Qt's offscreen platform by
// bench/run-window.sh. It drives MainDialog through the calls the program makes itself and
// reports times on standard output, one "name value" line each:
//
//   WindowBench add SETTINGS FILE...
//     A window reading and writing the settings file SETTINGS gets the files as the program's
//     arguments reach it (made absolute, then AddFiles), is shown, and ends once the event loop
//     has nothing left to do. Prints
//       rows      the rows listed
//       add-ms    the time AddFiles took
//       ready-ms  from the event loop's start until the shown window left it idle
//       stall-ms  the longest the event loop went without running a 5 ms timer meanwhile
//
//   WindowBench batch [--abort-after SECONDS] SETTINGS FILE...
//     The same window lists the files, and converts them as a user's clicks would: every row
//     selected, the Convert button (1003) pressed, START pressed in the Convert dialog with
//     "Convert all selected rows" checked; the closing message, if any, is answered with OK.
//     The output folder, format and number of jobs are the settings file's. With --abort-after,
//     ABORT is pressed that many seconds after START. Prints
//       rows        the rows listed
//       jobs        the files converted at once
//       converted   the rows whose Status reads "Converted"
//       stopped     the rows stopped by ABORT ("Stopped: shorter file kept")
//       messages    the message boxes shown (the closing list)
//       batch-ms    from START until the dialog closed
//       abort-ms    from ABORT until the dialog closed (when ABORT was pressed before the end)
//       stall-ms    the longest the event loop went without running a 5 ms timer meanwhile
//       ui-cpu-ms   the processor time the interface thread took meanwhile
//
// A stall is what a user feels: while the loop is held, the window neither paints nor answers.
#include "platform/Message.h"
#include "ui/ConvertDialog.h"
#include "ui/MainDialog.h"
#include "ui/QtMessageBackend.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The processor time the calling thread has taken so far.
double ThreadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

// The longest gap between two ticks of a short timer: how long the event loop was held at most.
// The first gap runs from Start, so a loop held from the start is counted too.
class StallMeter {
public:
    static constexpr std::chrono::milliseconds kPeriod {5};

    StallMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] { Tick(); });
    }

    void Start()
    {
        last = Clock::now();
        timer.start(kPeriod);
    }

    // The longest gap so far, including the one still open.
    double LongestMs()
    {
        Tick();
        return longest;
    }

private:
    void Tick()
    {
        longest = std::max(longest, MillisecondsSince(last));
        last = Clock::now();
    }

    QTimer timer;
    Clock::time_point last = Clock::now();
    double longest = 0.0;
};

void Report(const char* name, double value)
{
    std::printf("%s %.1f\n", name, value);
}

// The program makes its file arguments absolute before the window sees them.
QStringList AbsoluteFiles(const QStringList& arguments)
{
    QStringList files;
    for (const QString& argument : arguments)
        files << QDir::current().absoluteFilePath(argument);
    return files;
}

int AddRows(const QStringList& arguments)
{
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: WindowBench add SETTINGS FILE...\n");
        return 2;
    }
    const QStringList files = AbsoluteFiles(arguments.mid(1));
    MainDialog window(QFile::encodeName(arguments[0]).toStdString());
    StallMeter meter;
    double addMs = 0.0;
    Clock::time_point started;
    QTimer::singleShot(0, [&] {
        started = Clock::now();
        meter.Start();
        window.AddFiles(files);
        addMs = MillisecondsSince(started);
        window.show();
        // Runs once what showing posted (layout, painting) has been handled.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    });
    QApplication::exec();
    const double readyMs = MillisecondsSince(started);
    std::printf("rows %d\n", window.list->topLevelItemCount());
    Report("add-ms", addMs);
    Report("ready-ms", readyMs);
    Report("stall-ms", meter.LongestMs());
    window.hide();
    return 0;
}

// Presses what a user would press as the batch's windows appear: START in the Convert dialog
// (once), OK in each message box. Each press runs from the event loop once the window's showing
// has been handled, as a person's click would come.
class BatchDriver : public QObject {
public:
    explicit BatchDriver(double abortAfterSeconds)
        : abortAfterSeconds(abortAfterSeconds)
    {
        qApp->installEventFilter(this);
    }
    ~BatchDriver() override { qApp->removeEventFilter(this); }

    int messages = 0;
    double batchMs = -1.0;
    double abortMs = -1.0;
    double stallMs = 0.0;
    double cpuMs = 0.0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show)
            return false;
        if (auto* box = qobject_cast<QMessageBox*>(watched)) {
            ++messages;
            QPointer<QMessageBox> shown(box);
            QTimer::singleShot(0, box, [shown] {
                if (shown == nullptr)
                    return;
                if (QAbstractButton* ok = shown->button(QMessageBox::Ok))
                    ok->click();
                else
                    shown->close();
            });
        } else if (auto* dialog = qobject_cast<ConvertDialog*>(watched); dialog && !started) {
            started = true;
            QTimer::singleShot(0, dialog, [this, dialog] { PressStart(dialog); });
        }
        return false;
    }

private:
    void PressStart(ConvertDialog* dialog)
    {
        if (!dialog->AllRowsBox()->isChecked()) {
            // One START per row would follow, each in a dialog of its own: not what is measured.
            std::fprintf(stderr, "WindowBench: \"Convert all selected rows\" is unchecked\n");
            std::fflush(nullptr);
            std::_Exit(1);
        }
        connect(dialog, &QDialog::finished, this, [this] {
            batchMs = MillisecondsSince(start);
            if (abortPressed)
                abortMs = MillisecondsSince(aborted);
            stallMs = meter.LongestMs();
            cpuMs = ThreadCpuMs() - cpuAtStart;
        });
        if (abortAfterSeconds > 0.0) {
            QTimer::singleShot(static_cast<int>(abortAfterSeconds * 1000), dialog, [this, dialog] {
                if (batchMs >= 0.0)
                    return; // over already
                abortPressed = true;
                aborted = Clock::now();
                dialog->AbortButton()->click();
            });
        }
        start = Clock::now();
        cpuAtStart = ThreadCpuMs();
        meter.Start();
        dialog->StartButton()->click();
    }

    double abortAfterSeconds;
    bool started = false;
    StallMeter meter;
    Clock::time_point start;
    Clock::time_point aborted;
    bool abortPressed = false;
    double cpuAtStart = 0.0;
};

int CountStatus(const MainDialog& window, const QString& status)
{
    int count = 0;
    for (int row = 0; row < window.list->topLevelItemCount(); ++row)
        count += window.list->topLevelItem(row)->text(MainDialog::kStatus) == status;
    return count;
}

int ConvertRows(const QStringList& given)
{
    QStringList arguments = given;
    double abortAfter = 0.0;
    if (arguments.size() > 1 && arguments[0] == QStringLiteral("--abort-after")) {
        abortAfter = arguments[1].toDouble();
        arguments = arguments.mid(2);
    }
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: WindowBench batch [--abort-after SECONDS] SETTINGS FILE...\n");
        return 2;
    }
    // The program's own message boxes, as in the window.
    const std::shared_ptr<MessageBackend> previous = SetMessageBackend(std::make_shared<QtMessageBackend>());
    MainDialog window(QFile::encodeName(arguments[0]).toStdString());
    window.AddFiles(AbsoluteFiles(arguments.mid(1)));
    window.show();
    BatchDriver driver(abortAfter);
    QTimer::singleShot(0, [&] {
        window.list->selectAll();
        window.Button(1003)->click();
        QCoreApplication::quit();
    });
    QApplication::exec();
    SetMessageBackend(previous);
    if (driver.batchMs < 0.0) {
        std::fprintf(stderr, "WindowBench: the batch did not run\n");
        return 1;
    }
    std::printf("rows %d\n", window.list->topLevelItemCount());
    std::printf("jobs %d\n", window.settings.Jobs());
    std::printf("converted %d\n", CountStatus(window, QStringLiteral("Converted")));
    std::printf("stopped %d\n", CountStatus(window, QStringLiteral("Stopped: shorter file kept")));
    std::printf("messages %d\n", driver.messages);
    Report("batch-ms", driver.batchMs);
    if (driver.abortMs >= 0.0)
        Report("abort-ms", driver.abortMs);
    Report("stall-ms", driver.stallMs);
    Report("ui-cpu-ms", driver.cpuMs);
    window.hide();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    resources::Initialise();
    const std::map<std::string, std::function<int(const QStringList&)>> modes {
        {"add", AddRows}, {"batch", ConvertRows}};
    const QStringList arguments = application.arguments();
    const auto mode = arguments.size() > 1 ? modes.find(arguments[1].toStdString()) : modes.end();
    if (mode == modes.end()) {
        std::fprintf(stderr, "usage: WindowBench add|batch SETTINGS FILE...\n");
        return 2;
    }
    return mode->second(arguments.mid(2));
}
