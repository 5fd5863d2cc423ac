// The window's look. Striped: the dialogs' striped skin, their controls drawn in fixed light
// dialog colours (black text on light grey, white edit fields) whatever the desktop's palette or
// style sheet, so every text keeps its contrast with the face it is drawn on. System: the
// desktop's own style, palette and style sheet, without stripes.
//
// The look is chosen in the settings, and can be replaced for one run (varkonel --look); the
// skinned dialogs take the current one each time they are shown. User-interface thread only.
#pragma once

#include <QPalette>
#include <QString>

#include <optional>

class QWidget;

class Look {
public:
    enum class Kind { Striped, System };

    // The look of this run when one was given for it, else the stored one.
    static Kind Current();
    static bool Striped() { return Current() == Kind::Striped; }
    // The look of the settings.
    static void SetStored(Kind kind);
    // A look for this run only, replacing the stored one; none: the stored one again.
    static void SetForThisRun(std::optional<Kind> kind);

    // The look a settings file's flag names (ConversionSettings::systemLook).
    static Kind OfSetting(bool systemLook) { return systemLook ? Kind::System : Kind::Striped; }
    // "Striped" and "System", as the settings file keeps them.
    static QString Name(Kind kind);
    // A look by its name, in any letter case; none for anything else.
    static std::optional<Kind> FromName(const QString& name);

    // The current look onto a skinned dialog and its controls.
    static void Apply(QWidget* dialog);

    // The striped look's colours: the classic light-grey dialog colours.
    static QPalette StripedPalette();
    // The style sheet that keeps those colours on every kind of control the dialogs hold, over
    // any style sheet of the desktop's (a dialog's own sheet wins over the application's).
    static QString StripedStyleSheet();
};
