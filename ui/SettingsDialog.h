// The "SETTING" dialog: the output folder, the MP3 bitrate and the channel text. It edits its
// own copies of the three texts; the main window takes them over when it ends with OK.
#pragma once

#include "ui/SkinnedDialog.h"

#include <QString>
#include <QStringList>

#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;

class SettingsDialog : public SkinnedDialog {
    Q_OBJECT
public:
    static const QStringList& BitrateEntries(); // "32KB" ... "160KB" (not "192KB")
    static const QStringList& ChannelEntries(); // "mono", "stereo"

    explicit SettingsDialog(QWidget* parent = nullptr);

    QComboBox* channelBox = nullptr; // 1027
    QComboBox* bitrateBox = nullptr; // 1026
    QString outputDirectory;
    QString channelMode;
    QString bitrate;

    // The folder browser; an empty result means cancelled. Tests replace it.
    std::function<QString(QWidget* owner)> chooseFolder;

    void BrowseOutputDirectory();
    // Texts into the controls: the edit box takes its text; a drop-down selects the first entry
    // that begins with its text (ignoring case) or, when none does, shows the text as typed.
    void BindToControls();
    // The controls' texts, typed or selected, back into the texts, unchecked.
    void BindFromControls();

    QLineEdit* DirectoryEdit() const { return directoryEdit; }
    QPushButton* OkButton() const { return okButton; }
    QPushButton* CancelButton() const { return cancelButton; }

protected:
    void showEvent(QShowEvent* event) override;
    void accept() override;

private:
    static void FillAndSelect(QComboBox* box, const QStringList& entries, const QString& text);

    QPushButton* browseButton = nullptr;
    QLineEdit* directoryEdit = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};
