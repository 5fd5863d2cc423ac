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
//
// Below them, for converting a library: Layout, where outputs go (the rows of the layout table,
// "One folder" first); Name, the naming pattern of "From tags", usable for that layout only and
// showing the default pattern while empty; "Skip files already converted"; and "Copy cover
// images", usable for the layouts that make folders. OK refuses a malformed pattern with the
// parser's message and stays open. The preview line under them shows where the window's selected
// row would go with the folder, format, layout and pattern chosen in the dialog (empty when no row
// is selected), as the batch plan places it.
#pragma once

#include "engine/OutputLayout.h"
#include "engine/SourcePaths.h"
#include "ui/SkinnedDialog.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>

struct ConversionSettings;
class QCheckBox;
class QComboBox;
class QLabel;
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
    QComboBox* layoutBox = nullptr; // 1032: the layouts' captions
    QLineEdit* nameEdit = nullptr; // 1033
    QCheckBox* skipBox = nullptr; // 1034
    QCheckBox* coversBox = nullptr; // 1035
    QLabel* previewLine = nullptr; // 1036
    QString layout; // an OutputLayout key; empty (or unknown): one folder
    QString namePattern; // empty: NamePattern::kDefault
    bool skipUpToDate = false;
    bool copyCovers = false;
    // The row the preview line shows; an empty path: none is selected.
    SourcePaths::Source previewSource;

    // The dialog's copies of the settings (all but the look, which the window settles), and the
    // settings from them after OK: the output folder as the window keeps it, with its separator.
    void Take(const ConversionSettings& settings);
    void Give(ConversionSettings& settings) const;

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
    // The layout, pattern and the two checks into their controls.
    void BindLayoutToControls();
    // The layout the controls choose; nothing, with the parser's `error`, for a malformed pattern.
    std::optional<OutputLayout> ChosenLayout(std::string& error) const;
    // The preview line for the controls' present choices.
    void ShowPreview();

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
    // Name usable for "From tags" only, the covers check for the layouts that make folders.
    void EnableLayoutControls();

    QPushButton* browseButton = nullptr;
    QLineEdit* directoryEdit = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};
