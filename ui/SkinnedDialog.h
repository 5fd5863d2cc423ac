// A dialog whose background is its DialogSkin (bitmap 134), loaded each time it is shown, when
// the look is striped; in the desktop's own look it has the desktop's plain background. It takes
// the current look each time it is shown.
#pragma once

#include "ui/DialogSkin.h"
#include "ui/DialogUnits.h"

#include <QDialog>

class SkinnedDialog : public QDialog {
    Q_OBJECT
public:
    explicit SkinnedDialog(QWidget* parent = nullptr);

    const DialogSkin& Skin() const { return skin; }
    const DialogUnits& Units() const { return units; }

    // The current look onto this dialog and its controls (a change of look while it is open).
    void ApplyLook();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    DialogSkin skin;
    DialogUnits units;
};
