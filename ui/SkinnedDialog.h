// A dialog whose background is its DialogSkin (bitmap 134), loaded each time it is shown.
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

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    DialogSkin skin;
    DialogUnits units;
};
