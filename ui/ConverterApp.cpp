#include "ui/ConverterApp.h"

#include "engine/SettingsFile.h"
#include "platform/Message.h"
#include "ui/MainDialog.h"

bool ConverterApp::InitInstance()
{
    if (!StartSockets()) {
        ShowMessage("Windows sockets initialization failed.");
        return false;
    }
    // Dialog controls draw themselves three-dimensionally on every platform Qt supports.
    MainDialog dialog(SettingsPath());
    dialog.exec();
    return false;
}

std::string ConverterApp::SettingsPath()
{
    return SettingsFile::OfThisProgram().Path();
}
