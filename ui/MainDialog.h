// The main window: a list of source files under a row of command buttons. From here files and
// folders are added, the list cleared, the settings edited, the selected rows converted (all at
// once with one START, or one after the other), and the About box opened. Closing the window, by
// any way there is, saves the settings, as does OK in the Setting dialog. The rows can be sorted
// for view by a click on a column's header; the selected rows convert in the order they were
// added.
#pragma once

#include "engine/ConversionSettings.h"
#include "engine/SettingsFile.h"
#include "engine/SourceFacts.h"
#include "ui/SkinnedDialog.h"
#include "ui/SourceListView.h"
#include "ui/WindowBatch.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ConvertDialog;
class QLabel;
class QPushButton;
class QTreeWidgetItem;

class MainDialog : public SkinnedDialog {
    Q_OBJECT
public:
    // The list's columns and roles (see SourceListView).
    using enum SourceListView::Column;
    using enum SourceListView::Role;

    // The Add Folder button, in the row of buttons after Setting.
    static constexpr int kAddFolderId = 1006;

    // settingsPath: the settings file read now and written when the window closes.
    explicit MainDialog(const std::string& settingsPath, QWidget* parent = nullptr);

    SourceListView* list = nullptr; // 1000
    ConversionSettings settings;
    double outputRate = 0.0;
    QIcon icon;

    // The open-file dialog: full paths of the chosen files, none when cancelled. Tests replace it.
    std::function<QStringList(QWidget* owner)> chooseFiles;
    // The folder chooser of Add Folder: the folder, empty when cancelled. Tests replace it.
    std::function<QString(QWidget* owner)> chooseFolder;
    // Opens a folder in the desktop's file manager (a double click on a converted row); false
    // when nothing could open it, which the line under the list then says. Tests replace it.
    std::function<bool(const QUrl& folder)> openUrl;
    // The open-file dialog's filters: "Audio Files" with every type, then one per family of
    // types (WAV, MP3, WMA, FLAC, Ogg and Opus, ..., CD images), from the engine's table.
    static QString FileFilter();

    // Add Audio File (Ctrl+O) and Add Folder (Ctrl+Shift+O): the chosen files, or the folder.
    void AddAudioFiles();
    void AddFolder();
    // Lists what the paths stand for (SourceList): a folder every file beneath it, each row
    // keeping the folder as its base for the mirrored layout; a disc each of its audio tracks.
    // Files and folders dropped on the list come here, as do the program's arguments and both
    // Add commands. A folder that cannot be read, or a disc, is named in a message of its own;
    // the rest is listed.
    void AddFiles(const QStringList& paths);
    // A row of the given play time and size, for a source known by its path alone, unless one
    // with the same path and name (ignoring case) is listed already.
    bool AddListRow(const QString& name, int64_t seconds, int64_t bytes, const QString& path);
    // The facts of a row's source, which fill its Time and Size columns and name its output.
    const SourceFacts& FactsOf(const QTreeWidgetItem* item) const;
    void ClearList();
    // Clear List's command: a list with rows is emptied only when the user says Yes.
    void AskAndClearList();
    // Takes the selected rows off the list (Delete). Not while a Convert dialog is open: the
    // batch it runs holds its rows.
    void RemoveSelectedRows();
    // The Convert dialog for the selected rows. Its START converts them all at once when
    // "Convert all selected rows" is checked (the default for more than one row): each row's
    // Status follows it, the title shows "Varkonel — 4 of 12", and one message at the end lists
    // the rows that failed or were stopped. Unchecked, one dialog follows the other, one START per
    // row. A row whose output would be its own source (a chosen format that keeps the extension,
    // into the source's folder; or a link there to the source) is refused with a message and not
    // converted; the next row follows. For a selection of several rows the dialog leaves the list
    // in reach while it is open (rows can be scrolled, a converted row's folder opened); the
    // window's buttons, drops and closing wait for it to end, as behind a modal dialog.
    void ConvertSelected();
    void ShowAbout();
    void OpenSettings();
    void LoadSettings();
    void SaveSettings();

    QPushButton* Button(int id) const;
    // The line under the list: "Output folder: /home/me/Music/converted — Format: FLAC level 5",
    // then the layout when it is not one folder ("— Mirror source folders"). A click on it opens
    // the Setting dialog.
    QLabel* OutputLine() const { return outputLine; }
    static QString OutputLineText(const ConversionSettings& settings);

    // Closing the window while a batch runs asks this; Yes stops every running file (each kept
    // complete and shorter), then the window closes.
    static constexpr const char* kStopAndQuitQuestion = "Stop the conversion and quit?";
    // The closing message names at most this many rows that failed or were stopped.
    static constexpr int kNamedInClosingMessage = 20;
    // The message at the end of a batch that did not convert every row: every outcome counted,
    // then the rows that failed or were stopped with their Status, at most
    // kNamedInClosingMessage of them, then "and N more".
    static QString ClosingMessage(const BatchTally& tally, const QStringList& trouble);

    // The window's size in dialog units, and the list's place in it at that size: the list grows
    // with the window, the buttons keep their places from the top-left corner.
    static constexpr int kWidth = 433;
    static constexpr int kHeight = 268;
    static constexpr int kListX = 7;
    static constexpr int kListY = 38;
    static constexpr int kListWidth = 419;
    static constexpr int kListHeight = 223;
    QSize LaidOutSize() const;
    // The smallest the window can be made: its laid-out size, or on a screen too small for
    // that, the size that keeps every button in view (About beside Add Folder) and half the list.
    QSize SmallestSize(const QSize& room) const;
    // The list's rectangle at the window's present size. A control under the list takes its
    // place from the bottom of this area.
    QRect ListArea() const;

    // The "Output File" column after a change of the output format: shown, with every row's
    // name, for a chosen format; gone for Auto. Every row's output title follows the format.
    // Named from the rows' facts: no file or disc is read.
    void ShowTargetNames();

    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void done(int result) override;
    // Drops of files and folders on the list, Enter on the list, a click on the output line.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static constexpr int kButtonY = 7;
    static constexpr int kButtonHeight = 20;
    static constexpr int kAboutX = 372;
    static constexpr int kAboutWidth = 54;
    static constexpr int kSettingEnd = 243; // Setting's right edge
    static constexpr int kButtonGap = 4;
    // Add Folder, in the row's next place after Setting; About comes no nearer than beside it.
    // A little narrower than the others, so that every button still fits on a screen 640 pixels
    // wide at the usual font (1280 x 800 at a scale of 2).
    static constexpr int kAddFolderX = kSettingEnd + kButtonGap;
    static constexpr int kAddFolderWidth = 48;
    static constexpr int kAddFolderEnd = kAddFolderX + kAddFolderWidth;
    // For so long after the window is shown, a frame the window manager gives it is moved into
    // the screen.
    static constexpr int kPlacingMs = 2000;

    // The list and About at the window's present size.
    void LayOutControls();
    // Keeps the window no larger than the screen's available area: the laid-out size shrinks to
    // fit a small screen.
    void FitIntoScreen();
    // Once shown: the window, frame and title bar included, sized and moved into the screen's
    // free area.
    void KeepFrameOnScreen();

    void ShowOutputLine();
    void SelectAllRows();

    // Where the Convert dialog of `dialogSize` opens: within the screen, clear of the listed rows'
    // Status cells and the output line where the screen has room for that, then covering as little of
    // the window as it can (beside or below it when there is room), near it.
    QPoint ConvertDialogPlace(const QSize& dialogSize) const;
    // Shows the Convert dialog until it ends: modal, or beside a list kept in reach.
    void RunConvertDialog(ConvertDialog& dialog, bool listInReach);
    // Runs the batch of `rows` from the Convert dialog's START; `oneRow` for the one row of the
    // one-row mode, whose messages are boxes.
    bool StartBatch(ConvertDialog& dialog, const std::vector<QTreeWidgetItem*>& rows, bool oneRow = false);
    // Why the engine's plan refuses a file row's conversion with the chosen layout; empty when
    // it does not, and for a disc's track, whose disc is not read here.
    std::string RefusalOf(const QTreeWidgetItem* row) const;
    void OnBatchNews(const WindowBatch::News& news);
    // Puts the title back and, unless every row was converted, shows the closing message.
    void EndBatch(const BatchTally& tally);
    // Closing while the Convert dialog is open: stops its batch and quits when the user agrees.
    void AskToStopAndQuit();
    void OpenOutputFolder(QTreeWidgetItem* row);

    SettingsFile settingsFile;
    QLabel* outputLine = nullptr;
    bool settingsFailureShown = false;
    bool convertDialogOpen = false; // beside the list: the window's commands wait
    ConvertDialog* openConvertDialog = nullptr; // that dialog, while it is open
    bool quitWhenOver = false; // closed during a batch: the window goes when the batch is over
    QElapsedTimer shownAt; // since the window was last shown
    std::vector<QTreeWidgetItem*> batchRows; // of the running batch, in the order of its items
    int batchDone = 0;
    bool batchOfOneRow = false; // the running batch is the one row of the one-row mode
    std::vector<QString> batchTrouble; // per row of the batch: "name: status" when it failed or stopped
};
