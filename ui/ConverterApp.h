// The application: start-up runs the main window as the program's one top-level window; when
// it ends, the program ends.
#pragma once

#include "ui/Look.h"

#include <QStringList>

#include <optional>
#include <string>

class ConverterApp {
public:
    // Runs the program's window to its end. Returns false in every case, as there is no message
    // loop to run after the main window.
    // files: listed at start-up as "Add Audio File" lists them.
    bool InitInstance(const QStringList& files = {});

    // Empty when the window can be shown with this environment (DISPLAY, WAYLAND_DISPLAY,
    // QT_QPA_PLATFORM, each empty when unset); otherwise the one line that says what is missing.
    // A platform that draws without a display (offscreen, minimal, vnc, ...) needs neither.
    static std::string MissingDisplay(
        const std::string& display, const std::string& waylandDisplay, const std::string& platform);

    // Takes "--look NAME" and "--look=NAME" (NAME "striped" or "system", any letter case) out of
    // the program's arguments, the last one given counting; an argument after "--" is a file,
    // and the "--" goes. False, with the line to print in `problem`, for any other name or none.
    static bool TakeLookSwitch(QStringList& arguments, std::optional<Look::Kind>& look, QString& problem);

    // The settings file of this program: beside the executable, named after it with "ini".
    static std::string SettingsPath();

private:
    // The sockets library the program starts with on some systems; nothing to start here.
    static bool StartSockets() { return true; }
};
