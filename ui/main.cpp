// varkonel: the audio converter's window. It takes no command-line arguments.
#include "platform/Message.h"
#include "ui/ConverterApp.h"
#include "ui/QtMessageBackend.h"
#include "ui/Resources.h"

#include <QApplication>

#include <memory>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    resources::Initialise();
    SetMessageBackend(std::make_shared<QtMessageBackend>());
    ConverterApp app;
    app.InitInstance();
    SetMessageBackend(nullptr);
    return 0;
}
