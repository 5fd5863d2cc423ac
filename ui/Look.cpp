#include "ui/Look.h"

#include "engine/ConversionSettings.h"
#include "ui/FlatButton.h"

#include <QWidget>

namespace {

Look::Kind stored = Look::Kind::Striped;
std::optional<Look::Kind> thisRun;

QString Hex(const QPalette& colours, QPalette::ColorGroup group, QPalette::ColorRole role)
{
    return colours.color(group, role).name();
}

} // namespace

Look::Kind Look::Current()
{
    return thisRun.value_or(stored);
}

void Look::SetStored(Kind kind)
{
    stored = kind;
}

void Look::SetForThisRun(std::optional<Kind> kind)
{
    thisRun = kind;
}

QString Look::Name(Kind kind)
{
    return QString::fromLatin1(
        kind == Kind::System ? ConversionSettings::kSystemLook : ConversionSettings::kStripedLook);
}

std::optional<Look::Kind> Look::FromName(const QString& name)
{
    for (Kind kind : {Kind::Striped, Kind::System}) {
        if (name.compare(Name(kind), Qt::CaseInsensitive) == 0)
            return kind;
    }
    return std::nullopt;
}

QPalette Look::StripedPalette()
{
    // Derived from the button face: black texts, white fields, a dark blue selection.
    return QPalette(QColor(192, 192, 192));
}

QString Look::StripedStyleSheet()
{
    const QPalette colours = StripedPalette();
    const auto active = [&](QPalette::ColorRole role) { return Hex(colours, QPalette::Active, role); };
    const QString disabled = Hex(colours, QPalette::Disabled, QPalette::WindowText);
    return QStringLiteral(
        "QLabel, QGroupBox, QCheckBox { color: %1; background-color: %2; }"
        "QLineEdit, QComboBox, QSpinBox, QAbstractItemView { color: %3; background-color: %4;"
        " selection-color: %5; selection-background-color: %6; }"
        "QLabel:disabled, QCheckBox:disabled, QLineEdit:disabled, QComboBox:disabled, QSpinBox:disabled"
        " { color: %7; }"
        "QHeaderView::section { color: %8; background-color: %9; border: 0px;"
        " border-right: 1px solid %10; border-bottom: 1px solid %10; padding-left: 4px; }"
        "QProgressBar { background-color: %4; border: 1px solid %10; }"
        "QProgressBar::chunk { background-color: %6; }")
        .arg(active(QPalette::WindowText), active(QPalette::Window), active(QPalette::Text),
            active(QPalette::Base), active(QPalette::HighlightedText), active(QPalette::Highlight), disabled,
            active(QPalette::ButtonText), active(QPalette::Button))
        .arg(active(QPalette::Dark));
}

void Look::Apply(QWidget* dialog)
{
    const bool striped = Striped();
    dialog->setPalette(striped ? StripedPalette() : QPalette());
    // The sheet goes on each control rather than on the dialog: a sheet cascades into child
    // windows too, and the About box, a question or the folder browser opened from the dialog
    // keep their own colours.
    const QString sheet = striped ? StripedStyleSheet() : QString();
    for (QWidget* control : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (auto* button = qobject_cast<FlatButton*>(control))
            button->SetStriped(striped);
        else if (!control->isWindow() && control->styleSheet() != sheet)
            control->setStyleSheet(sheet); // a sheet set anew polishes the control anew
    }
    dialog->update();
}
