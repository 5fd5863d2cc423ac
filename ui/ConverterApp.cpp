#include "ui/ConverterApp.h"

#include "engine/SettingsFile.h"
#include "platform/Message.h"
#include "ui/MainDialog.h"

#include <algorithm>
#include <iterator>
#include <sstream>

bool ConverterApp::InitInstance(const QStringList& files)
{
    if (!StartSockets()) {
        ShowMessage("Windows sockets initialization failed.");
        return false;
    }
    // Dialog controls draw themselves three-dimensionally on every platform Qt supports.
    MainDialog dialog(SettingsPath());
    dialog.AddFiles(files);
    dialog.exec();
    return false;
}

bool ConverterApp::TakeLookSwitch(QStringList& arguments, std::optional<Look::Kind>& look, QString& problem)
{
    const QString name = QStringLiteral("--look");
    QStringList kept;
    for (qsizetype at = 0; at < arguments.size(); ++at) {
        const QString& argument = arguments[at];
        if (argument == QStringLiteral("--")) {
            kept << arguments.mid(at + 1);
            break;
        }
        QString value;
        if (argument == name && at + 1 < arguments.size())
            value = arguments[++at];
        else if (argument.startsWith(name + QLatin1Char('=')))
            value = argument.mid(name.size() + 1);
        else if (argument != name) {
            kept << argument;
            continue;
        }
        look = Look::FromName(value);
        if (!look) {
            problem
                = QStringLiteral("varkonel: --look takes \"striped\" or \"system\", not \"%1\"").arg(value);
            return false;
        }
    }
    arguments = kept;
    return true;
}

std::string ConverterApp::SettingsPath()
{
    return SettingsFile::OfThisProgram().Path();
}

std::string ConverterApp::MissingDisplay(
    const std::string& display, const std::string& waylandDisplay, const std::string& platform)
{
    if (!display.empty() || !waylandDisplay.empty())
        return std::string();
    // QT_QPA_PLATFORM is a list of platforms to try, separated by ';', each with its options
    // after a ':'.
    static const char* const kWithoutDisplay[]
        = {"offscreen", "minimal", "minimalegl", "vnc", "linuxfb", "eglfs", "vkkhrdisplay"};
    std::istringstream choices(platform);
    std::string choice;
    while (std::getline(choices, choice, ';')) {
        const std::string name = choice.substr(0, choice.find(':'));
        if (std::find(std::begin(kWithoutDisplay), std::end(kWithoutDisplay), name)
            != std::end(kWithoutDisplay))
            return std::string();
    }
    return "varkonel: no display (DISPLAY and WAYLAND_DISPLAY are not set); the window needs one. "
           "varkonel-convert converts without a display.";
}
