#include "ui/FlatButton.h"

#include "ui/Look.h"

FlatButton::FlatButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
    SetStriped(Look::Striped());
}

void FlatButton::SetStriped(bool striped)
{
    if (!striped) {
        setStyleSheet(QString());
        return;
    }
    // Both the text and the face are given: a colour taken from the desktop's theme for one of
    // them could match the other.
    const QPalette colours = Look::StripedPalette();
    const auto hex = [&](QPalette::ColorGroup group, QPalette::ColorRole role) {
        return colours.color(group, role).name();
    };
    setStyleSheet(
        QStringLiteral("QPushButton { color: %1; border: 1px solid %2; background-color: %3; }"
                       "QPushButton:default { border: 2px solid %2; }"
                       "QPushButton:pressed { background-color: %4; }"
                       "QPushButton:disabled { color: %5; }"
                       "QPushButton:focus { outline: none; text-decoration: underline; }")
            .arg(hex(QPalette::Active, QPalette::ButtonText), hex(QPalette::Active, QPalette::Shadow),
                hex(QPalette::Active, QPalette::Button), hex(QPalette::Active, QPalette::Mid),
                hex(QPalette::Disabled, QPalette::ButtonText)));
}
