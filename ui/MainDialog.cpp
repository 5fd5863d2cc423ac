#include "ui/MainDialog.h"

#include "engine/SourceTypes.h"
#include "platform/FolderPath.h"
#include "platform/Message.h"
#include "ui/AboutDialog.h"
#include "ui/ConvertDialog.h"
#include "ui/FlatButton.h"
#include "ui/Look.h"
#include "ui/Resources.h"
#include "ui/ScreenPlace.h"
#include "ui/SettingsDialog.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

QByteArray Local(const QString& path)
{
    return QFile::encodeName(path);
}

QString Text(const std::string& text)
{
    return QString::fromLocal8Bit(text);
}

// How long a notice stays on the line under the list.
constexpr int kNoticeMs = 10000;

// The line under the list, in the band between the list and the window's bottom edge.
constexpr int kOutputLineId = 1040;
constexpr int kOutputLineY = 261;
constexpr int kOutputLineHeight = 7;

// The band under the list is a little lower than a line of the dialog's font: the line's text
// is made small enough to show whole.
void FitFontToHeight(QLabel* label)
{
    QFont font = label->font();
    while (QFontMetrics(font).height() > label->height() && font.pointSizeF() > 6.0)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
}

QString WindowTitle()
{
    return QStringLiteral("Varkonel");
}

} // namespace

MainDialog::MainDialog(const std::string& settingsPath, QWidget* parent)
    : SkinnedDialog(parent)
    , settingsFile(settingsPath)
{
    setObjectName(QStringLiteral("102"));
    setWindowTitle(WindowTitle());
    // A frame with a window menu, minimise and maximise boxes; it starts at its laid-out size,
    // which is also the smallest it can be made (see FitIntoScreen).
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setMinimumSize(LaidOutSize());
    resize(LaidOutSize());

    const struct {
        int id;
        const char* text;
        int x;
        int width;
    } buttons[] = {{1001, "Add Audio File", 7, 56}, {1002, "Clear List", 67, 56}, {1003, "Convert", 127, 56},
        {1005, "Setting", kSettingEnd - 56, 56},
        {kAddFolderId, "Add Folder...", kAddFolderX, kAddFolderWidth}, {1004, "About", kAboutX, kAboutWidth}};
    QWidget* previous = nullptr;
    for (const auto& spec : buttons) {
        auto* button = new FlatButton(QString::fromLatin1(spec.text), this);
        units.Place(button, spec.id, spec.x, kButtonY, spec.width, kButtonHeight);
        // No default button: Return presses the focused button only (see keyPressEvent).
        button->setAutoDefault(false);
        if (previous != nullptr)
            setTabOrder(previous, button);
        previous = button;
    }

    list = new SourceListView(this);
    units.Place(list, 1000, kListX, kListY, kListWidth, kListHeight);
    setTabOrder(previous, list);
    list->setAcceptDrops(true);
    list->viewport()->setAcceptDrops(true);
    list->viewport()->installEventFilter(this);
    list->installEventFilter(this);

    outputLine = new QLabel(this);
    units.Place(outputLine, kOutputLineId, kListX, kOutputLineY, kListWidth, kOutputLineHeight);
    outputLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    outputLine->setAutoFillBackground(true);
    FitFontToHeight(outputLine);
    outputLine->setCursor(Qt::PointingHandCursor);
    outputLine->installEventFilter(this);

    // The window menu cannot be extended through Qt on most desktops: the About button is the
    // way to the About box.
    icon = resources::ApplicationIcon();
    setWindowIcon(icon);

    chooseFiles = [](QWidget* owner) {
        return QFileDialog::getOpenFileNames(owner, QString(), QString(), FileFilter());
    };
    chooseFolder = [](QWidget* owner) {
        return QFileDialog::getExistingDirectory(owner, QStringLiteral("Add Folder"), QString());
    };
    openUrl = [](const QUrl& folder) { return QDesktopServices::openUrl(folder); };
    connect(
        list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) { OpenOutputFolder(row); });

    connect(Button(1001), &QPushButton::clicked, this, &MainDialog::AddAudioFiles);
    connect(Button(1002), &QPushButton::clicked, this, &MainDialog::AskAndClearList);
    connect(Button(1003), &QPushButton::clicked, this, &MainDialog::ConvertSelected);
    connect(Button(1004), &QPushButton::clicked, this, &MainDialog::ShowAbout);
    connect(Button(1005), &QPushButton::clicked, this, &MainDialog::OpenSettings);
    connect(Button(kAddFolderId), &QPushButton::clicked, this, &MainDialog::AddFolder);

    settings = ConversionSettings();
    LoadSettings();
    Look::SetStored(Look::OfSetting(settings.systemLook));
    settings.ApplyDefaults();
    outputRate = settings.OutputRate();
    ShowTargetNames();
    ShowOutputLine();
}

QSize MainDialog::LaidOutSize() const
{
    return units.ToPixels(kWidth, kHeight);
}

QSize MainDialog::SmallestSize(const QSize& room) const
{
    const QSize laidOut = LaidOutSize();
    if (room.width() >= laidOut.width() && room.height() >= laidOut.height())
        return laidOut;
    const int aboutNearer = units.X(kAboutX) - units.X(kAddFolderEnd + kButtonGap);
    const QSize compact(laidOut.width() - aboutNearer, laidOut.height() - units.Y(kListHeight / 2));
    return compact.boundedTo(room);
}

QRect MainDialog::ListArea() const
{
    // The list keeps its laid-out distances to the window's four edges.
    const QRect place = units.ToPixels(kListX, kListY, kListWidth, kListHeight);
    return QRect(place.topLeft(), place.size() + size() - LaidOutSize());
}

void MainDialog::LayOutControls()
{
    if (list == nullptr)
        return;
    list->setGeometry(ListArea());
    // The output line stays under the list, as wide as it.
    if (outputLine != nullptr) {
        const QRect line = units.ToPixels(kListX, kOutputLineY, kListWidth, kOutputLineHeight);
        const QSize grown = size() - LaidOutSize();
        outputLine->setGeometry(line.translated(0, grown.height()).adjusted(0, 0, grown.width(), 0));
    }
    // About keeps its laid-out place, unless a screen too small for the laid-out size made the
    // window narrower: it then keeps its distance to the right edge, short of Add Folder.
    const QRect about = units.ToPixels(kAboutX, kButtonY, kAboutWidth, kButtonHeight);
    const int keepingEdge = about.x() - (LaidOutSize().width() - width());
    const int besideAddFolder = units.X(kAddFolderEnd + kButtonGap);
    Button(1004)->move(std::max(besideAddFolder, std::min(about.x(), keepingEdge)), about.y());
}

void MainDialog::FitIntoScreen()
{
    const QScreen* shown = screen();
    if (shown == nullptr)
        return;
    const QRect available = shown->availableGeometry();
    const QSize room = available.size().shrunkBy(ScreenPlace::FrameOf(this));
    setMinimumSize(SmallestSize(room));
    resize(size().boundedTo(room));
    // A size that fits is all it takes: the dialog then places itself within the screen.
}

void MainDialog::KeepFrameOnScreen()
{
    const QScreen* shown = screen();
    if (shown == nullptr || !isVisible() || isMaximized() || isFullScreen())
        return;
    FitIntoScreen();
    // The whole frame, title bar included, within the screen's free area.
    const QRect available = shown->availableGeometry();
    const QRect frame = frameGeometry();
    QPoint corner = frame.topLeft();
    corner.setX(std::clamp(
        corner.x(), available.left(), std::max(available.left(), available.right() - frame.width() + 1)));
    corner.setY(std::clamp(
        corner.y(), available.top(), std::max(available.top(), available.bottom() - frame.height() + 1)));
    if (corner != frame.topLeft())
        move(corner);
}

void MainDialog::setVisible(bool visible)
{
    // Before the dialog places itself on the screen, centred, which keeps a size that fits
    // wholly within the screen's available area.
    const bool showing = visible && !isVisible();
    if (showing)
        FitIntoScreen();
    SkinnedDialog::setVisible(visible);
    // The window manager frames the window a moment after it is shown; the frame it gives is
    // then fitted too, once it is known, for the first moments of the showing only, so that a
    // window the user drags partly off the screen stays where it was put.
    if (showing) {
        shownAt.start();
        QTimer::singleShot(0, this, [this] { KeepFrameOnScreen(); });
    }
}

void MainDialog::moveEvent(QMoveEvent* event)
{
    SkinnedDialog::moveEvent(event);
    if (shownAt.isValid() && shownAt.elapsed() < kPlacingMs)
        KeepFrameOnScreen();
}

void MainDialog::resizeEvent(QResizeEvent* event)
{
    LayOutControls();
    SkinnedDialog::resizeEvent(event);
}

QPushButton* MainDialog::Button(int id) const
{
    return findChild<QPushButton*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

QString MainDialog::FileFilter()
{
    QStringList filters;
    for (const std::string& filter : SourceTypes::DialogFilters())
        filters << QString::fromStdString(filter);
    return filters.join(QStringLiteral(";;"));
}

void MainDialog::AddAudioFiles()
{
    AddFiles(chooseFiles ? chooseFiles(this) : QStringList());
}

void MainDialog::AddFolder()
{
    const QString folder = chooseFolder ? chooseFolder(this) : QString();
    if (!folder.isEmpty())
        AddFiles({folder});
}

void MainDialog::AddFiles(const QStringList& paths)
{
    std::vector<std::string> given;
    for (const QString& path : paths)
        given.push_back(Local(path).toStdString());
    std::vector<std::string> problems;
    for (const SourceList::Row* row : list->Rows().Add(given, problems))
        list->Show(*row, settings.ChosenFormat());
    for (const std::string& problem : problems)
        ShowMessage(problem);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == outputLine && event->type() == QEvent::MouseButtonRelease) {
        if (!convertDialogOpen)
            OpenSettings();
        return true;
    }
    // Enter on the list converts its selection.
    if (watched == list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        if (!convertDialogOpen)
            ConvertSelected();
        return true;
    }
    if (watched != list->viewport())
        return SkinnedDialog::eventFilter(watched, event);
    const bool drag = event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove
        || event->type() == QEvent::Drop;
    if (drag && convertDialogOpen) {
        event->ignore();
        return true;
    }
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!drag->mimeData()->hasUrls())
            return false;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        QStringList paths;
        for (const QUrl& url : drop->mimeData()->urls()) {
            if (url.isLocalFile())
                paths << url.toLocalFile();
        }
        if (paths.isEmpty())
            return false;
        drop->acceptProposedAction();
        AddFiles(paths);
        return true;
    }
    default:
        return SkinnedDialog::eventFilter(watched, event);
    }
}

bool MainDialog::AddListRow(const QString& name, int64_t seconds, int64_t bytes, const QString& path)
{
    const std::string source = Local(path).toStdString();
    const SourceList::Row* row = list->Rows().Add(
        Local(name).toStdString(), SourceList::Stated(source, seconds, bytes), {source, {}});
    if (row != nullptr)
        list->Show(*row, settings.ChosenFormat());
    return row != nullptr;
}

const SourceFacts& MainDialog::FactsOf(const QTreeWidgetItem* item) const
{
    return list->RowOf(item).facts;
}

void MainDialog::ShowTargetNames()
{
    list->ShowTargetNames(settings.ChosenFormat());
}

void MainDialog::ClearList()
{
    list->clear(); // the rows go with the items
}

void MainDialog::AskAndClearList()
{
    const int rows = list->topLevelItemCount();
    if (rows == 0)
        return;
    const QString question = rows == 1 ? QStringLiteral("Remove the file from the list?")
                                       : QStringLiteral("Remove all %1 files from the list?").arg(rows);
    if (AskYesNo(question.toLocal8Bit().toStdString(), ApplicationTitle()))
        ClearList();
}

void MainDialog::RemoveSelectedRows()
{
    if (convertDialogOpen || !batchRows.empty())
        return;
    for (QTreeWidgetItem* row : list->selectedItems())
        delete row; // its row in the SourceList goes with it
}

void MainDialog::ConvertSelected()
{
    // In the order they were added, whatever order a sort shows them in.
    const std::vector<QTreeWidgetItem*> rows = list->SelectedInOrder();
    if (rows.empty()) {
        ShowMessage("Please select an audio file firstly!");
        return;
    }
    // One dialog serves every row of this command.
    ConvertDialog dialog(this, outputRate, ProcessEncoders(), settings.Channels());
    dialog.job.ChooseFormat(settings.ChosenFormat(), settings.ChosenQuality());
    dialog.AllRowsBox()->setChecked(rows.size() > 1);
    for (size_t at = 0; at < rows.size(); ++at) {
        dialog.sourceName = rows[at]->text(kTargetFiles);
        // Named from the facts the row carries, as its Output File column: no disc is read again.
        dialog.targetName = Text(FactsOf(rows[at]).OutputName(settings.ChosenFormat()));
        dialog.outputDir = Text(settings.outputDirectory);
        dialog.percentText.clear();
        // A row the engine's plan refuses is not offered; its Status says why, as a batch's would.
        if (const std::string refusal = RefusalOf(rows[at]); !refusal.empty()) {
            WindowBatch::News refused;
            refused.kind = WindowBatch::News::Kind::Ended;
            refused.outcome = BatchFace::Outcome::Failed;
            refused.reason = refusal;
            const QString status = WindowBatch::StatusText(refused);
            list->SetStatus(rows[at], status, status);
            ShowMessage(refusal);
            continue;
        }
        // Checked, START converts this row and every selected row after it; unchecked, this row
        // alone, as a batch of one.
        bool allStarted = false;
        bool oneStarted = false;
        dialog.startAll = [&, at] {
            allStarted = StartBatch(dialog, std::vector<QTreeWidgetItem*>(rows.begin() + at, rows.end()));
        };
        dialog.startOne = [&, at] { oneStarted = StartBatch(dialog, {rows[at]}, true); };
        RunConvertDialog(dialog, rows.size() > 1);
        if ((allStarted || oneStarted) && !dialog.IsRunning())
            EndBatch(dialog.Tally());
        // The box stood for all the rows: whatever ended the dialog ended the command.
        if (allStarted || dialog.AllRowsBox()->isChecked() || quitWhenOver)
            break;
    }
    // The window was closed during the batch and the user chose to stop and quit.
    if (std::exchange(quitWhenOver, false))
        done(Rejected);
}

QPoint MainDialog::ConvertDialogPlace(const QSize& dialogSize) const
{
    const QMargins frame = ScreenPlace::FrameOf(this);
    const QPoint inside(frame.left(), frame.top());
    const QScreen* shown = screen();
    if (shown == nullptr) {
        QRect centred(QPoint(), dialogSize.grownBy(frame));
        centred.moveCenter(frameGeometry().center());
        return centred.topLeft() + inside;
    }
    // What the dialog must leave in view: the Status column of the listed rows and the output
    // line; after that, as much of the window as it can; after that, near the window.
    const QRect line(outputLine->mapToGlobal(QPoint(0, 0)), outputLine->size());
    return ScreenPlace::Beside(dialogSize.grownBy(frame), frameGeometry(), shown->availableGeometry(),
               {list->StatusCells(), line})
        + inside;
}

void MainDialog::RunConvertDialog(ConvertDialog& dialog, bool listInReach)
{
    dialog.move(ConvertDialogPlace(dialog.size()));
    if (!listInReach) {
        dialog.exec();
        return;
    }
    const auto holdCommands = [this](bool held) {
        convertDialogOpen = held;
        for (int id : {1001, 1002, 1003, 1004, 1005, kAddFolderId})
            Button(id)->setEnabled(!held);
    };
    holdCommands(true);
    openConvertDialog = &dialog;
    QEventLoop loop;
    connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.setWindowModality(Qt::NonModal);
    dialog.show();
    loop.exec();
    openConvertDialog = nullptr;
    holdCommands(false);
}

std::string MainDialog::RefusalOf(const QTreeWidgetItem* row) const
{
    // A disc's track never writes over a source; its disc is read once, by the batch.
    if (FactsOf(row).kind == SourceFacts::Kind::CdTrack)
        return std::string();
    const BatchOptions options = BatchOptions::From(settings, BatchOverrides());
    return SourceList::Plan(list->RowOf(row).source, options.outputDir, *options.format, options.layout)
        .refusal;
}

bool MainDialog::StartBatch(ConvertDialog& dialog, const std::vector<QTreeWidgetItem*>& rows, bool oneRow)
{
    const BatchOptions options = BatchOptions::From(settings, BatchOverrides());
    // Each with its base folder, from which the mirrored layout names the output's folders.
    std::vector<SourcePaths::Source> sources;
    for (QTreeWidgetItem* row : rows) {
        sources.push_back(list->RowOf(row).source);
        list->SetStatus(row, WindowBatch::WaitingText());
    }
    batchRows = rows;
    batchDone = 0;
    batchOfOneRow = oneRow;
    batchTrouble.assign(rows.size(), QString());
    dialog.onBatchNews = [this](const WindowBatch::News& news) { OnBatchNews(news); };
    if (!oneRow)
        setWindowTitle(WindowTitle() + QStringLiteral(" \u2014 0 of %1").arg(rows.size()));
    if (dialog.RunBatch(options, std::move(sources), oneRow))
        return true;
    EndBatch(BatchTally());
    return false;
}

void MainDialog::OnBatchNews(const WindowBatch::News& news)
{
    if (news.index >= batchRows.size())
        return;
    QTreeWidgetItem* row = batchRows[news.index];
    const QString status = WindowBatch::StatusText(news);
    if (news.kind != WindowBatch::News::Kind::Ended) {
        list->SetStatus(row, status);
        return;
    }
    const QString output = QString::fromLocal8Bit(news.outputPath.c_str());
    const QString said = QString::fromLocal8Bit(news.reason.c_str());
    if (news.outcome == BatchFace::Outcome::Converted) {
        // The tip names the output, and anything the job said on the way.
        list->SetConverted(row, status, said.isEmpty() ? output : output + QLatin1Char('\n') + said, output);
    } else {
        list->SetStatus(row, status, status);
    }
    if (news.outcome == BatchFace::Outcome::Failed || news.outcome == BatchFace::Outcome::Stopped)
        batchTrouble[news.index] = row->text(kSourceFile) + QStringLiteral(": ") + status;
    ++batchDone;
    // One row's messages are boxes, as a single conversion shows them; the plan's refusal too.
    if (batchOfOneRow) {
        if (news.failure == BatchFace::Failure::Refused)
            ShowMessage(news.reason);
        return;
    }
    setWindowTitle(WindowTitle() + QStringLiteral(" \u2014 %1 of %2").arg(batchDone).arg(batchRows.size()));
}

void MainDialog::EndBatch(const BatchTally& tally)
{
    setWindowTitle(WindowTitle());
    batchRows.clear();
    // In the order of the list, not of the ends.
    QStringList trouble;
    for (const QString& line : std::exchange(batchTrouble, {})) {
        if (!line.isEmpty())
            trouble << line;
    }
    // Quitting: the user has chosen to stop, and the window is going. One row has said what
    // became of it in its own messages.
    if (std::exchange(batchOfOneRow, false) || quitWhenOver
        || (tally.failed == 0 && tally.stopped == 0 && tally.notStarted == 0))
        return;
    ShowMessage(ClosingMessage(tally, trouble).toLocal8Bit().toStdString());
}

QString MainDialog::ClosingMessage(const BatchTally& tally, const QStringList& trouble)
{
    QString text = QStringLiteral("Not every file was converted: ")
        + QString::fromStdString(tally.OutcomeCounts()) + QLatin1Char('.');
    const qsizetype named = std::min<qsizetype>(trouble.size(), kNamedInClosingMessage);
    for (qsizetype at = 0; at < named; ++at)
        text += QLatin1Char('\n') + trouble[at];
    if (trouble.size() > named)
        text += QStringLiteral("\nand %1 more").arg(trouble.size() - named);
    return text;
}

void MainDialog::OpenOutputFolder(QTreeWidgetItem* row)
{
    const QString output = list->OutputOf(row);
    if (output.isEmpty() || !openUrl)
        return;
    const QString folder = QFileInfo(output).absolutePath();
    if (openUrl(QUrl::fromLocalFile(folder)))
        return;
    // No file manager took the folder: the line under the list says so for a while.
    outputLine->setText(
        QStringLiteral("The folder %1 could not be opened: no program is set up to open folders.")
            .arg(folder));
    outputLine->setToolTip(outputLine->text());
    QTimer::singleShot(kNoticeMs, this, [this] { ShowOutputLine(); });
}

void MainDialog::ShowAbout()
{
    AboutDialog about(this);
    about.exec();
}

void MainDialog::OpenSettings()
{
    SettingsDialog dialog(this);
    dialog.Take(settings);
    // The preview line shows where the first selected row goes.
    if (const std::vector<QTreeWidgetItem*> selected = list->SelectedInOrder(); !selected.empty())
        dialog.previewSource = list->RowOf(selected.front()).source;
    // The look in use, which --look may have given for this run only; it is kept in the
    // settings only when chosen here.
    const bool systemInUse = Look::Current() == Look::Kind::System;
    dialog.systemLook = systemInUse;
    if (dialog.exec() != Accepted)
        return;
    if (dialog.systemLook != systemInUse) {
        // A look chosen here replaces the one given for this run, and shows at once.
        settings.systemLook = dialog.systemLook;
        Look::SetStored(Look::OfSetting(settings.systemLook));
        Look::SetForThisRun(std::nullopt);
        ApplyLook();
    }
    dialog.Give(settings);
    outputRate = settings.OutputRate();
    ShowTargetNames();
    ShowOutputLine();
    // Kept at once: a session that ends without closing the window keeps the choices.
    SaveSettings();
}

QString MainDialog::OutputLineText(const ConversionSettings& settings)
{
    const OutputFormat::Quality* quality = settings.ChosenQuality();
    const std::string format
        = settings.ChosenFormat().name + (quality != nullptr ? " " + quality->text : std::string());
    const OutputLayout::Kind layout = settings.ChosenLayout().Which();
    return QStringLiteral("Output folder: ")
        + Text(WithoutTrailingSeparators(WithTrailingSeparator(settings.outputDirectory)))
        + QStringLiteral(" \u2014 Format: ") + QString::fromStdString(format)
        + (layout == OutputLayout::Kind::Flat
                ? QString()
                : QStringLiteral(" \u2014 ") + QString::fromLatin1(OutputLayout::Of(layout).caption));
}

void MainDialog::ShowOutputLine()
{
    const QString text = OutputLineText(settings);
    outputLine->setText(text);
    // A long folder runs past the line's end; the tip shows it whole.
    outputLine->setToolTip(text + QStringLiteral("\nClick to change the settings."));
}

void MainDialog::LoadSettings()
{
    settingsFile.Read(settings);
}

void MainDialog::SaveSettings()
{
    std::string reason;
    if (settingsFile.Write(settings, reason) || settingsFailureShown)
        return;
    // Said once: the window may close more than one way in a run.
    settingsFailureShown = true;
    ShowMessage("The settings could not be saved.\n" + settingsFile.Path() + ": " + reason);
}

void MainDialog::keyPressEvent(QKeyEvent* event)
{
    // Escape would end the program.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    // Return presses the focused button; elsewhere it does nothing, as the window has no
    // default button (on the list it converts the selection: see eventFilter).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button != nullptr && button->isEnabled())
            button->click();
        return;
    }
    const std::pair<bool, void (MainDialog::*)()> commands[] = {
        {event->matches(QKeySequence::Delete), &MainDialog::RemoveSelectedRows},
        {event->keyCombination() == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_O),
            &MainDialog::AddFolder},
        {event->matches(QKeySequence::Open), &MainDialog::AddAudioFiles},
        {event->matches(QKeySequence::SelectAll), &MainDialog::SelectAllRows},
        {event->matches(QKeySequence::HelpContents), &MainDialog::ShowAbout},
    };
    for (const auto& [pressed, command] : commands) {
        if (!pressed)
            continue;
        event->accept();
        // The Convert dialog beside the list holds the window's commands, as its buttons.
        if (!convertDialogOpen)
            (this->*command)();
        return;
    }
    SkinnedDialog::keyPressEvent(event);
}

void MainDialog::AskToStopAndQuit()
{
    if (quitWhenOver || openConvertDialog == nullptr)
        return;
    if (!openConvertDialog->IsRunning()) {
        quitWhenOver = true; // nothing runs yet: the dialog goes, then the window
        openConvertDialog->reject();
        return;
    }
    if (!AskYesNo(kStopAndQuitQuestion, ApplicationTitle()))
        return;
    quitWhenOver = true;
    // The batch may have ended while the question was open; what still runs stops, each file
    // complete and shorter, and the window closes once the batch is over.
    if (openConvertDialog != nullptr && openConvertDialog->IsRunning())
        openConvertDialog->OnAbort();
}

void MainDialog::SelectAllRows()
{
    list->selectAll();
}

void MainDialog::done(int result)
{
    // The Convert dialog beside the list holds the window open, as a modal one would; during a
    // batch, closing asks whether to stop it and quit.
    if (convertDialogOpen) {
        AskToStopAndQuit();
        return;
    }
    SaveSettings();
    SkinnedDialog::done(result);
}
