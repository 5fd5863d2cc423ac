// What the window program says about itself: its version, taken from the build (the same number
// as varkonel-convert --version, the package and the manual pages), and its answers to --version
// and --help, which need no display.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string>

class ProgramInfo {
public:
    // The build's version, for example "0.1.0".
    static QString Version();

    // The About box's first line: "Varkonel Version " and the build's version.
    static QString AboutVersionLine();

    // The text to print and end with when the arguments (without the program's name) ask for it:
    // "varkonel VERSION" for --version, the usage for --help or -h. Empty otherwise, so every
    // other argument keeps its meaning (a file to list).
    static std::optional<std::string> CommandLineAnswer(const QStringList& arguments);
};
