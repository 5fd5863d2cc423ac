// The "SETTING" dialog: the output folder, the MP3 bitrate and the channel text, then the output
// format and its quality. It edits its own copies of the texts; the main window takes them over
// when it ends with OK.
//
// The Format and Quality drop-downs list the rows of the output-format table and the chosen row's
// qualities, so a new row appears here without a change to this dialog. Quality is disabled for
// Auto, whose rate and MP3 bitrate come from the Bitrate box; Bitrate is disabled for every other
// format, whose Quality decides. OK is the default button: Return means OK unless the focus is on
// another button, which Return then presses.
//
// Jobs, beside the OK button, is how many files the window converts at once (1 to 8). It shows
// the machine's default until a number is chosen; a number left as shown keeps the stored choice,
// so the default goes on following the processors of the machine the settings are used on.
// Look, beside Jobs, is the window's look: "Striped" or "System".
#pragma once

#include "ui/SkinnedDialog.h"

#include <QString>
#include <QStringList>

#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

class SettingsDialog : public SkinnedDialog {
    Q_OBJECT
public:
    // The Bitrate box's tip while a format other than Auto is chosen, which leaves it disabled.
    static constexpr const char* kBitrateOnlyForAuto
        = "The bitrate applies to Auto only: the chosen format's Quality sets its own.";

    static const QStringList& BitrateEntries(); // "32KB" ... "160KB" (not "192KB")
    static const QStringList& ChannelEntries(); // "mono", "stereo"

    explicit SettingsDialog(QWidget* parent = nullptr);

    QComboBox* channelBox = nullptr; // 1027
    QComboBox* bitrateBox = nullptr; // 1026
    QString outputDirectory;
    QString channelMode;
    QString bitrate;
    QComboBox* formatBox = nullptr;
    QComboBox* qualityBox = nullptr;
    QString format; // a format's key; empty (or unknown): Auto
    QString quality; // a key of that format's qualities; empty (or unknown): its default
    QSpinBox* jobsBox = nullptr; // 1030
    int jobs = 0; // files converted at once, 1 to 8; anything else: the default
    QComboBox* lookBox = nullptr; // 1031: "Striped", "System"
    bool systemLook = false;

    // The folder browser, opened at `start`; an empty result means cancelled. Tests replace it.
    std::function<QString(QWidget* owner, const QString& start)> chooseFolder;

    void BrowseOutputDirectory();
    // Texts into the controls: the edit box takes its text; a drop-down selects the first entry
    // that begins with its text (ignoring case) or, when none does, shows the text as typed.
    void BindToControls();
    // The controls' texts, typed or selected, back into the texts, unchecked; the format and
    // quality as the keys of the chosen entries (both empty for Auto); the Jobs box's number
    // when it was changed.
    void BindFromControls();
    // The stored format and quality into their drop-downs. Browsing for a folder does not call
    // this: a format chosen before browsing stays chosen.
    void BindFormatToControls();
    // Whether the output folder in the texts can take the outputs: one that is not there is
    // offered for creation; one that cannot be made or written is reported with the reason.
    bool OutputFolderUsable();
    // The number of jobs into its box: the stored one, or the default when none is chosen; and
    // the look into its box.
    void BindJobsToControls();

    QLineEdit* DirectoryEdit() const { return directoryEdit; }
    QPushButton* OkButton() const { return okButton; }
    QPushButton* CancelButton() const { return cancelButton; }

protected:
    void showEvent(QShowEvent* event) override;
    void accept() override;

private:
    static void FillAndSelect(QComboBox* box, const QStringList& entries, const QString& text);
    // The qualities of the format chosen in the Format box: the stored quality when the stored
    // format is chosen and has it, else the format's default.
    void ShowQualitiesOfChosenFormat();

    QPushButton* browseButton = nullptr;
    QLineEdit* directoryEdit = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};
