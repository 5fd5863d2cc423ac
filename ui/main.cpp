// varkonel: the audio converter's window. The arguments are files to list at start-up, added as
// "Add Audio File" adds them; "--look striped" or "--look system" sets the window's look for this
// run without changing the stored one. --version and --help are answered without a display.
#include "platform/Message.h"
#include "ui/ConverterApp.h"
#include "ui/ProgramInfo.h"
#include "ui/QtMessageBackend.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <memory>
#include <optional>

int main(int argc, char** argv)
{
    QStringList given;
    for (int i = 1; i < argc; ++i)
        given << QString::fromLocal8Bit(argv[i]);
    if (const auto answer = ProgramInfo::CommandLineAnswer(given)) {
        std::fputs(answer->c_str(), stdout);
        return 0;
    }
    // Without a display Qt ends the program with an abort; say what is missing instead.
    const std::string missing = ConverterApp::MissingDisplay(qgetenv("DISPLAY").toStdString(),
        qgetenv("WAYLAND_DISPLAY").toStdString(), qgetenv("QT_QPA_PLATFORM").toStdString());
    if (!missing.empty()) {
        std::fprintf(stderr, "%s\n", missing.c_str());
        return 1;
    }
    QApplication application(argc, argv);
    // Wayland docks and task switchers match the window to varkonel.desktop, and so to its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("varkonel"));
    resources::Initialise();
    SetMessageBackend(std::make_shared<QtMessageBackend>());
    QStringList arguments = application.arguments().mid(1);
    std::optional<Look::Kind> look;
    QString problem;
    if (!ConverterApp::TakeLookSwitch(arguments, look, problem)) {
        std::fprintf(stderr, "%s\n", problem.toLocal8Bit().constData());
        return 2;
    }
    Look::SetForThisRun(look);
    QStringList files;
    for (const QString& argument : arguments)
        files << QDir::current().absoluteFilePath(argument);
    ConverterApp app;
    app.InitInstance(files);
    SetMessageBackend(nullptr);
    return 0;
}
