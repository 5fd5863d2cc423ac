// The application: start-up runs the main window as the program's one top-level window; when
// it ends, the program ends.
#pragma once

#include <string>

class ConverterApp {
public:
    // Runs the program's window to its end. Returns false in every case, as there is no message
    // loop to run after the main window.
    bool InitInstance();

    // The settings file of this program: beside the executable, named after it with "ini".
    static std::string SettingsPath();

private:
    // The sockets library the program starts with on some systems; nothing to start here.
    static bool StartSockets() { return true; }
};
