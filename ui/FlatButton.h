// Push buttons drawn flat: a one-pixel frame on the button face, as the dialogs' buttons are.
#pragma once

#include <QPushButton>

class FlatButton : public QPushButton {
    Q_OBJECT
public:
    FlatButton(const QString& text, QWidget* parent);
};
