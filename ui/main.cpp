// varkonel: the audio converter's window. The arguments are files to list at start-up, added as
// "Add Audio File" adds them; --version and --help are answered without a display.
#include "platform/Message.h"
#include "ui/ConverterApp.h"
#include "ui/ProgramInfo.h"
#include "ui/QtMessageBackend.h"
#include "ui/Resources.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const auto answer = ProgramInfo::CommandLineAnswer(arguments)) {
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
    QStringList files;
    for (const QString& argument : application.arguments().mid(1))
        files << QDir::current().absoluteFilePath(argument);
    ConverterApp app;
    app.InitInstance(files);
    SetMessageBackend(nullptr);
    return 0;
}
