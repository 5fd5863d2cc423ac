// Push buttons drawn flat in the striped look: a one-pixel frame on the button face, as the
// dialogs' buttons are, text and face in the look's fixed colours. In the desktop's own look
// they are plain push buttons.
#pragma once

#include <QPushButton>

class FlatButton : public QPushButton {
    Q_OBJECT
public:
    // Drawn in the current look.
    FlatButton(const QString& text, QWidget* parent);

    void SetStriped(bool striped);
};
