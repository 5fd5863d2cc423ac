// The About box: the program icon, its name and version, and an OK button.
#pragma once

#include "ui/DialogUnits.h"

#include <QDialog>

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

private:
    DialogUnits units;
};
