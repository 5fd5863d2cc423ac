#include "ui/ProgramInfo.h"

#ifndef VARKONEL_VERSION
#define VARKONEL_VERSION "0"
#endif

QString ProgramInfo::Version()
{
    return QStringLiteral(VARKONEL_VERSION);
}

QString ProgramInfo::AboutVersionLine()
{
    return QStringLiteral("Varkonel Version ") + Version();
}

std::optional<std::string> ProgramInfo::CommandLineAnswer(const QStringList& arguments)
{
    // Only the first argument: a file that happens to be named --version later in the list
    // stays a file.
    if (arguments.isEmpty())
        return std::nullopt;
    const QString& first = arguments.first();
    if (first == QStringLiteral("--version"))
        return "varkonel " + Version().toStdString() + "\n";
    if (first == QStringLiteral("--help") || first == QStringLiteral("-h"))
        return "Usage: varkonel [--look LOOK] [FILE]...\n"
               "Open the Varkonel window, listing each FILE as \"Add Audio File\" lists it.\n"
               "\n"
               "  -h, --help       show this help and exit\n"
               "      --version    show the version and exit\n"
               "      --look LOOK  the window's look for this run, not saved: striped (the\n"
               "                   default) or system (the desktop's own style)\n"
               "\n"
               "varkonel-convert converts from the command line; see varkonel-convert(1).\n";
    return std::nullopt;
}
