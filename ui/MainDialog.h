// The main window: a list of source files under a row of command buttons. From here files are
// added, the list cleared, the settings edited, the selected rows converted (all at once with
// one START, or one after the other), and the About box opened. Closing the window, by any way
// there is, saves the settings, as does OK in the Setting dialog. The rows can be sorted for
// view by a click on a column's header; the selected rows convert in the order they were added.
#pragma once

#include "engine/ConversionSettings.h"
#include "engine/SettingsFile.h"
#include "engine/SourceFacts.h"
#include "ui/SkinnedDialog.h"
#include "ui/WindowBatch.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QMetaType>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ConvertDialog;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// A row's facts travel in its item's data.
Q_DECLARE_METATYPE(SourceFacts)

class MainDialog : public SkinnedDialog {
    Q_OBJECT
public:
    // "Target Files" holds each row's source path, which Convert reads. With a chosen output
    // format (not Auto) the column "Output File" shows the name each row converts to; for Auto it
    // is hidden. "Status" tells each row's outcome in the last batch ("Converted", "Failed: ...").
    // Both stand before "Target Files" on the screen, whose long paths run past the list's edge.
    enum Column {
        kSpacer = 0,
        kSourceFile = 1,
        kTime = 2,
        kSize = 3,
        kTargetFiles = 4,
        kOutputFile = 5,
        kStatus = 6,
    };
    // Each row carries, in its "Source File" cell, what its source is (SourceFacts: kind, play
    // time, size, a track's number on its disc and its title) and the title its output carries
    // in the chosen format ("-" for none), so that a change of format re-names the rows without
    // reading their files or discs again.
    enum Role { kFactsRole = Qt::UserRole + 10, kOutputTitleRole = Qt::UserRole + 11 };

    // settingsPath: the settings file read now and written when the window closes.
    explicit MainDialog(const std::string& settingsPath, QWidget* parent = nullptr);

    QTreeWidget* list = nullptr; // 1000
    ConversionSettings settings;
    double outputRate = 0.0;
    QIcon icon;

    // The open-file dialog: full paths of the chosen files, none when cancelled. Tests replace it.
    std::function<QStringList(QWidget* owner)> chooseFiles;
    // Opens a folder in the desktop's file manager (a double click on a converted row); false
    // when nothing could open it, which the line under the list then says. Tests replace it.
    std::function<bool(const QUrl& folder)> openUrl;
    // The open-file dialog's filters: "Audio Files" with every type, then one per family of
    // types (WAV, MP3, WMA, FLAC, Ogg and Opus, ..., CD images).
    static QString FileFilter();

    void AddAudioFiles();
    // Adds each file as "Add Audio File" does; a folder adds the files of the listed types
    // directly in it (not those in its subfolders), sorted by name. Files and folders dropped on
    // the list come here, as do the program's arguments.
    void AddFiles(const QStringList& paths);
    // Appends a row unless one with the same path and name (ignoring case) is listed already.
    // Rows are added only here, so that the check can look them up instead of reading every row.
    // `path` is the source a conversion reads; `facts` fill the Time and Size columns and name
    // the output.
    bool AddListRow(const QString& name, const SourceFacts& facts, const QString& path);
    // A row of the given play time and size, for a source known by its path alone.
    bool AddListRow(const QString& name, int64_t seconds, int64_t bytes, const QString& path);
    // The facts a row carries.
    static SourceFacts FactsOf(const QTreeWidgetItem* item);
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
    // The line under the list: "Output folder: /home/me/Music/converted — Format: FLAC level 5".
    // A click on it opens the Setting dialog.
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
    // that, the size that keeps every button in view (About beside Setting) and half the list.
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
    // The frame assumed before the window manager has drawn one, in device pixels.
    static constexpr int kGuessedTitleBar = 40;
    static constexpr int kGuessedEdge = 6;
    // For so long after the window is shown, a frame the window manager gives it is moved into
    // the screen.
    static constexpr int kPlacingMs = 2000;
    // The places tried for the Convert dialog lie this many pixels apart.
    static constexpr int kPlaceStep = 8;

    // The list and About at the window's present size.
    void LayOutControls();
    // Keeps the window no larger than the screen's available area: the laid-out size shrinks to
    // fit a small screen.
    void FitIntoScreen();
    // The frame's edges around the window: as the window manager drew them, or before it has,
    // room for a generous title bar and edges (none on the offscreen platform, which has none).
    QMargins FrameMargins() const;
    // Once shown: the window, frame and title bar included, sized and moved into the screen's
    // free area.
    void KeepFrameOnScreen();

    // One row for a file of a listed type that is a regular file (a link to one counts); a
    // FIFO, a device or a folder is passed over at once, never opened in a way that waits. A
    // disc image or a CD drive's device node gives its tracks instead.
    void AddAudioFile(const QString& path);
    // One row per audio track of a disc image (.cue, .toc) or CD drive: named Track-NN (NN from
    // 00 among the audio tracks), with the track's play time and size (frames x 2352 bytes), and
    // the path DISC/Track-NN that a conversion reads the track by. A disc that cannot be read
    // gives a message and no row.
    void AddDiscTracks(const QString& path);
    // A row's output title, and its output name when the "Output File" column is shown, for the
    // chosen format, from the facts the row carries.
    void NameRow(QTreeWidgetItem* item) const;

    // What AddListRow compares of a row: its path and name, case-folded.
    static QString RowKey(const QString& name, const QString& path);
    void ShowOutputLine();
    void SelectAllRows();

    // Where the Convert dialog of `dialogSize` opens: within the screen, clear of the listed rows'
    // Status cells and the output line where the screen has room for that, then covering as little of
    // the window as it can (beside or below it when there is room), near it.
    QPoint ConvertDialogPlace(const QSize& dialogSize) const;
    // The Status cells of the listed rows in view, with the header above them, on the screen.
    QRect StatusCells() const;
    // Shows the Convert dialog until it ends: modal, or beside a list kept in reach.
    void RunConvertDialog(ConvertDialog& dialog, bool listInReach);
    // Runs the batch of `rows` from the Convert dialog's START; `oneRow` for the one row of the
    // one-row mode, whose messages are boxes.
    bool StartBatch(ConvertDialog& dialog, const std::vector<QTreeWidgetItem*>& rows, bool oneRow = false);
    // Why the engine's plan refuses a file row's conversion (its output would be its own
    // source); empty when it does not, and for a disc's track, whose disc is not read here.
    std::string RefusalOf(const QTreeWidgetItem* row) const;
    void OnBatchNews(const WindowBatch::News& news);
    // Puts the title back and, unless every row was converted, shows the closing message.
    void EndBatch(const BatchTally& tally);
    // Closing while the Convert dialog is open: stops its batch and quits when the user agrees.
    void AskToStopAndQuit();
    void SetStatus(QTreeWidgetItem* row, const QString& text, const QString& tip = QString());
    void OpenOutputFolder(QTreeWidgetItem* row);

    SettingsFile settingsFile;
    QLabel* outputLine = nullptr;
    QSet<QString> listedRows; // RowKey of every row
    bool settingsFailureShown = false;
    bool convertDialogOpen = false; // beside the list: the window's commands wait
    ConvertDialog* openConvertDialog = nullptr; // that dialog, while it is open
    bool quitWhenOver = false; // closed during a batch: the window goes when the batch is over
    QElapsedTimer shownAt; // since the window was last shown
    qint64 nextRowNumber = 0; // the number the next row added gets: the order of conversion
    std::vector<QTreeWidgetItem*> batchRows; // of the running batch, in the order of its items
    int batchDone = 0;
    bool batchOfOneRow = false; // the running batch is the one row of the one-row mode
    std::vector<QString> batchTrouble; // per row of the batch: "name: status" when it failed or stopped
};
