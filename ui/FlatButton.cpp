#include "ui/FlatButton.h"

FlatButton::FlatButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent)
{
    setStyleSheet(
        QStringLiteral("QPushButton { border: 1px solid palette(shadow); background-color: palette(button); }"
                       "QPushButton:default { border: 2px solid palette(shadow); }"
                       "QPushButton:pressed { background-color: palette(mid); }"
                       "QPushButton:disabled { color: palette(mid); }"
                       "QPushButton:focus { outline: none; text-decoration: underline; }"));
}
