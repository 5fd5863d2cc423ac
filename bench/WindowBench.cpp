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
// A stall is what a user feels: while the loop is held, the window neither paints nor answers.
#include "ui/MainDialog.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
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

int AddRows(const QStringList& arguments)
{
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: WindowBench add SETTINGS FILE...\n");
        return 2;
    }
    // The program makes its file arguments absolute before the window sees them.
    QStringList files;
    for (const QString& argument : arguments.mid(1))
        files << QDir::current().absoluteFilePath(argument);
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

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    resources::Initialise();
    const std::map<std::string, std::function<int(const QStringList&)>> modes {{"add", AddRows}};
    const QStringList arguments = application.arguments();
    const auto mode = arguments.size() > 1 ? modes.find(arguments[1].toStdString()) : modes.end();
    if (mode == modes.end()) {
        std::fprintf(stderr, "usage: WindowBench add SETTINGS FILE...\n");
        return 2;
    }
    return mode->second(arguments.mid(2));
}
