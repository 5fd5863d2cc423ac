#include "ui/MainDialog.h"

#include "engine/BatchPlan.h"
#include "engine/ConversionJob.h"
#include "platform/FolderPath.h"
#include "platform/Message.h"
#include "platform/RegularFile.h"
#include "ui/AboutDialog.h"
#include "ui/ConvertDialog.h"
#include "ui/FlatButton.h"
#include "ui/HotTrackDelegate.h"
#include "ui/ListTexts.h"
#include "ui/Look.h"
#include "ui/Resources.h"
#include "ui/SettingsDialog.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

namespace {

QByteArray Local(const QString& path)
{
    return QFile::encodeName(path);
}

// The kind of source a conversion takes `source` for, by its name alone.
SourceFacts::Kind KindOf(const std::string& source)
{
    switch (ConversionJob::ChooseSource(source).kind) {
    case ConversionJob::SourceKind::Wave:
        return SourceFacts::Kind::Wave;
    case ConversionJob::SourceKind::Media:
        return SourceFacts::Kind::Media;
    case ConversionJob::SourceKind::Track:
        return SourceFacts::Kind::CdTrack;
    case ConversionJob::SourceKind::Unknown:
        break;
    }
    return SourceFacts::Kind::NotConvertible;
}

// The open-file dialog's filters for files, one per family of types. An "Audio Files" filter
// with every pattern comes before them, and the filter of the disc images after them.
const char* const kFileFamilies[] = {
    "Wave Files (*.wav)",
    "Mp3 Files(*.mp3)",
    "Windows Media Files (*.wma)",
    "FLAC Files (*.flac)",
    "Ogg and Opus Files (*.ogg *.oga *.opus)",
    "AAC and M4A Files (*.m4a *.aac)",
    "AIFF and AU Files (*.aif *.aiff *.aifc *.au)",
    "Monkey's Audio and WavPack Files (*.ape *.wv)",
    "Matroska Audio Files (*.mka)",
};
const char* const kDiscImages = "CD Images (*.cue *.toc)";

// As wide as the "Source File" column: the output's name is the source's with a new extension.
constexpr int kOutputFileWidth = 150;
constexpr int kStatusWidth = 150;

// The data of a Status cell that holds a converted row's output path.
constexpr int kOutputPathRole = Qt::UserRole;
// The data of a row's first cell that holds its RowKey, and the number of its adding.
constexpr int kRowKeyRole = Qt::UserRole + 20;
constexpr int kAddedRole = Qt::UserRole + 21;

// How long a notice stays on the line under the list.
constexpr int kNoticeMs = 10000;

// A row of the list: sorted by its play time and size as numbers, by its other columns as text
// without regard to letter case.
class ListRow : public QTreeWidgetItem {
public:
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
        if (column == MainDialog::kTime || column == MainDialog::kSize) {
            const SourceFacts mine = MainDialog::FactsOf(this);
            const SourceFacts theirs = MainDialog::FactsOf(&other);
            if (column == MainDialog::kTime && mine.seconds != theirs.seconds)
                return mine.seconds < theirs.seconds;
            if (column == MainDialog::kSize && mine.bytes != theirs.bytes)
                return mine.bytes < theirs.bytes;
        }
        const int order = text(column).compare(other.text(column), Qt::CaseInsensitive);
        if (order != 0)
            return order < 0;
        return data(MainDialog::kSpacer, kAddedRole).toLongLong()
            < other.data(MainDialog::kSpacer, kAddedRole).toLongLong();
    }
};

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

// The patterns between the parentheses of a filter, e.g. "*.ogg *.oga *.opus".
QString PatternsOf(const char* filter)
{
    const QString text = QString::fromLatin1(filter);
    const qsizetype open = text.indexOf(QLatin1Char('('));
    return text.mid(open + 1, text.lastIndexOf(QLatin1Char(')')) - open - 1);
}

// Whether a filter offers files of this extension, in any letter case.
bool Offers(const char* filter, const QString& extension)
{
    return PatternsOf(filter).split(QLatin1Char(' ')).contains(QStringLiteral("*.") + extension.toLower());
}

bool IsListedExtension(const QString& extension)
{
    return std::any_of(std::begin(kFileFamilies), std::end(kFileFamilies),
        [&](const char* family) { return Offers(family, extension); });
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
        {1005, "Setting", kSettingEnd - 56, 56}, {1004, "About", kAboutX, kAboutWidth}};
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

    list = new QTreeWidget(this);
    units.Place(list, 1000, kListX, kListY, kListWidth, kListHeight);
    setTabOrder(previous, list);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSortingEnabled(false);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setAcceptDrops(true);
    list->viewport()->setAcceptDrops(true);
    list->viewport()->installEventFilter(this);
    list->installEventFilter(this);
    list->setItemDelegate(new HotTrackDelegate(list));
    list->setMouseTracking(true);
    list->viewport()->setAttribute(Qt::WA_Hover, true);
    // A click on a header sorts the rows in view by that column, and another click the other
    // way; the conversion still takes the rows in the order they were added.
    list->header()->setSectionsClickable(true);
    list->header()->setSortIndicatorShown(true);
    list->header()->setSortIndicator(-1, Qt::AscendingOrder);
    connect(list->header(), &QHeaderView::sortIndicatorChanged, this,
        [this](int column, Qt::SortOrder order) { list->sortItems(column, order); });
    // The last column on screen (the source's full path) takes the room a wider window gives.
    list->header()->setStretchLastSection(true);
    list->header()->setMinimumSectionSize(1);
    // The selection stays as visible when the list has lost the focus.
    QPalette colours = list->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    list->setPalette(colours);

    list->setHeaderLabels(
        {QString(), QStringLiteral("Source File"), QStringLiteral("Time"), QStringLiteral("Size"),
            QStringLiteral("Target Files"), QStringLiteral("Output File"), QStringLiteral("Status")});
    const int widths[] = {5, 150, 60, 80, 350, kOutputFileWidth, kStatusWidth};
    for (int column = 0; column <= kStatus; ++column) {
        list->setColumnWidth(column, widths[column]);
        list->headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    }
    // "Output File" and "Status" come before the long source paths, so that they are in view
    // without scrolling.
    list->header()->moveSection(list->header()->visualIndex(kOutputFile), kTargetFiles);
    list->header()->moveSection(list->header()->visualIndex(kStatus), kTargetFiles + 1);

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
    openUrl = [](const QUrl& folder) { return QDesktopServices::openUrl(folder); };
    connect(
        list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) { OpenOutputFolder(row); });

    connect(Button(1001), &QPushButton::clicked, this, &MainDialog::AddAudioFiles);
    connect(Button(1002), &QPushButton::clicked, this, &MainDialog::AskAndClearList);
    connect(Button(1003), &QPushButton::clicked, this, &MainDialog::ConvertSelected);
    connect(Button(1004), &QPushButton::clicked, this, &MainDialog::ShowAbout);
    connect(Button(1005), &QPushButton::clicked, this, &MainDialog::OpenSettings);

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
    const int aboutNearer = units.X(kAboutX) - units.X(kSettingEnd + kButtonGap);
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
    // window narrower: it then keeps its distance to the right edge, short of Setting.
    const QRect about = units.ToPixels(kAboutX, kButtonY, kAboutWidth, kButtonHeight);
    const int keepingEdge = about.x() - (LaidOutSize().width() - width());
    const int besideSetting = units.X(kSettingEnd + kButtonGap);
    Button(1004)->move(std::max(besideSetting, std::min(about.x(), keepingEdge)), about.y());
}

QMargins MainDialog::FrameMargins() const
{
    const QMargins known(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
        frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom());
    if (!known.isNull() || QGuiApplication::platformName() == QLatin1String("offscreen"))
        return known;
    // Not framed yet: the window manager's title bar and edges are not known before the first
    // showing, so room is left for a generous title bar; the real frame corrects it after.
    const qreal ratio = std::max<qreal>(devicePixelRatioF(), 1.0);
    const auto logical
        = [ratio](int devicePixels) { return static_cast<int>(std::ceil(devicePixels / ratio)); };
    return QMargins(
        logical(kGuessedEdge), logical(kGuessedTitleBar), logical(kGuessedEdge), logical(kGuessedEdge));
}

void MainDialog::FitIntoScreen()
{
    const QScreen* shown = screen();
    if (shown == nullptr)
        return;
    const QRect available = shown->availableGeometry();
    const QSize room = available.size().shrunkBy(FrameMargins());
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
    QStringList patterns;
    QStringList filters;
    for (const char* family : kFileFamilies) {
        patterns << PatternsOf(family);
        filters << QString::fromLatin1(family);
    }
    patterns << PatternsOf(kDiscImages);
    filters << QString::fromLatin1(kDiscImages);
    filters.prepend(QStringLiteral("Audio Files (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    return filters.join(QStringLiteral(";;"));
}

void MainDialog::AddAudioFiles()
{
    const QStringList chosen = chooseFiles ? chooseFiles(this) : QStringList();
    for (const QString& path : chosen)
        AddAudioFile(path);
}

void MainDialog::AddFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            AddAudioFile(path);
            continue;
        }
        const QDir folder(path);
        for (const QString& name : folder.entryList(QDir::Files, QDir::Name)) {
            if (IsListedExtension(listtexts::Extension(name)))
                AddAudioFile(folder.filePath(name));
        }
    }
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

void MainDialog::AddAudioFile(const QString& path)
{
    const QString name = listtexts::FileName(path);
    const QString extension = listtexts::Extension(path);
    // A drive is not opened as a file: without a disc that would fail, and it could block.
    if (ConversionJob::NamesDisc(Local(path).toStdString())) {
        AddDiscTracks(path);
        return;
    }
    if (!IsListedExtension(extension))
        return;
    // Opened as the engine opens sources: a FIFO, a device or a folder under a listed name is
    // refused at once, where a plain open would wait for a FIFO's writer with the window frozen.
    if (!RegularFileProblem(Local(path).constData()).empty())
        return;
    const SourceFacts facts = SourceFacts::OfFile(Local(path).toStdString());
    if (facts.Convertible())
        AddListRow(name, facts, path);
}

void MainDialog::AddDiscTracks(const QString& path)
{
    const std::string disc = Local(path).toStdString();
    const std::vector<SourceFacts> tracks = SourceFacts::OfDisc(disc);
    if (!tracks.front().Convertible()) {
        ShowMessage("can not open source file!\n" + disc + ": " + tracks.front().problem);
        return;
    }
    // The rows are named as the command-line tool names the tracks; their path is the disc's
    // followed by the name, which is how a conversion finds the disc again.
    for (const SourceFacts& track : tracks) {
        const QString label = QString::fromLocal8Bit(track.name);
        AddListRow(label, track, path + listtexts::kSeparator + label);
    }
}

QString MainDialog::RowKey(const QString& name, const QString& path)
{
    // A path holds no NUL, so no two pairs give one key.
    return path.toCaseFolded() + QChar(0) + name.toCaseFolded();
}

bool MainDialog::AddListRow(const QString& name, int64_t seconds, int64_t bytes, const QString& path)
{
    SourceFacts facts;
    facts.source = Local(path).toStdString();
    facts.name = Local(listtexts::FileName(path)).toStdString();
    facts.seconds = seconds < 0 ? -1 : seconds;
    facts.bytes = bytes < 0 ? 0 : static_cast<uint64_t>(bytes);
    facts.kind = KindOf(facts.source);
    return AddListRow(name, facts, path);
}

bool MainDialog::AddListRow(const QString& name, const SourceFacts& facts, const QString& path)
{
    // Rows that left the list other than through ClearList leave it with fewer rows than keys:
    // the keys are then made again from the rows.
    if (listedRows.size() != list->topLevelItemCount()) {
        listedRows.clear();
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            listedRows.insert(list->topLevelItem(row)->data(kSpacer, kRowKeyRole).toString());
    }
    const QString key = RowKey(name, path);
    if (listedRows.contains(key))
        return false;
    listedRows.insert(key);
    auto* item = new ListRow();
    item->setText(kSpacer, QString());
    item->setData(kSpacer, kRowKeyRole, key);
    item->setData(kSpacer, kAddedRole, nextRowNumber++);
    // A disc's track shows the title its CUE sheet or CD-Text gives beside its label.
    const bool titledTrack = facts.kind == SourceFacts::Kind::CdTrack && !facts.statedTitle.empty();
    item->setText(kSourceFile,
        titledTrack ? name + QStringLiteral(" \u2014 ") + QString::fromLocal8Bit(facts.statedTitle) : name);
    item->setText(kTime, listtexts::PlayTime(facts.seconds));
    item->setText(kSize, listtexts::SizeText(static_cast<int64_t>(facts.bytes)));
    item->setText(kTargetFiles, path);
    item->setData(kSourceFile, kFactsRole, QVariant::fromValue(facts));
    NameRow(item);
    // A file whose audio could not be opened is listed, so that the user sees it, with the reason.
    if (!facts.readFailure.empty()) {
        const QString status = QStringLiteral("Cannot be read: ") + QString::fromLocal8Bit(facts.readFailure);
        SetStatus(item, status, status);
    }
    list->addTopLevelItem(item);
    return true;
}

SourceFacts MainDialog::FactsOf(const QTreeWidgetItem* item)
{
    return item->data(kSourceFile, kFactsRole).value<SourceFacts>();
}

void MainDialog::NameRow(QTreeWidgetItem* item) const
{
    const SourceFacts facts = FactsOf(item);
    const OutputFormat& format = settings.ChosenFormat();
    item->setData(kSourceFile, kOutputTitleRole, QString::fromLocal8Bit(facts.OutputTitle(format)));
    if (!list->isColumnHidden(kOutputFile))
        item->setText(kOutputFile, QString::fromLocal8Bit(facts.OutputName(format)));
}

void MainDialog::ShowTargetNames()
{
    const bool chosen = !settings.ChosenFormat().IsAuto();
    list->setColumnHidden(kOutputFile, !chosen);
    // A hidden column loses its width; it comes back as wide as it was made.
    if (chosen)
        list->setColumnWidth(kOutputFile, kOutputFileWidth);
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        NameRow(list->topLevelItem(row));
}

void MainDialog::ClearList()
{
    list->clear();
    listedRows.clear();
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
    for (QTreeWidgetItem* row : list->selectedItems()) {
        listedRows.remove(row->data(kSpacer, kRowKeyRole).toString());
        const std::unique_ptr<QTreeWidgetItem> taken(list->takeTopLevelItem(list->indexOfTopLevelItem(row)));
    }
}

void MainDialog::ConvertSelected()
{
    std::vector<QTreeWidgetItem*> rows;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->isSelected())
            rows.push_back(list->topLevelItem(row));
    }
    if (rows.empty()) {
        ShowMessage("Please select an audio file firstly!");
        return;
    }
    // In the order they were added, whatever order a sort shows them in.
    std::stable_sort(rows.begin(), rows.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        return a->data(kSpacer, kAddedRole).toLongLong() < b->data(kSpacer, kAddedRole).toLongLong();
    });
    // One dialog serves every row of this command.
    ConvertDialog dialog(this, outputRate, ProcessEncoders(), settings.Channels());
    dialog.job.ChooseFormat(settings.ChosenFormat(), settings.ChosenQuality());
    dialog.AllRowsBox()->setChecked(rows.size() > 1);
    for (size_t at = 0; at < rows.size(); ++at) {
        const QString path = rows[at]->text(kTargetFiles);
        dialog.sourceName = path;
        // Named from the facts the row carries, as its Output File column: no disc is read again.
        dialog.targetName = QString::fromLocal8Bit(FactsOf(rows[at]).OutputName(settings.ChosenFormat()));
        dialog.outputDir = QString::fromLocal8Bit(settings.outputDirectory);
        dialog.percentText.clear();
        // A row the engine's plan refuses (its output would be its own source) is not offered.
        if (const std::string refusal = RefusalOf(rows[at]); !refusal.empty()) {
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
    const QMargins frame = FrameMargins();
    const QSize framed = dialogSize.grownBy(frame);
    const QRect window = frameGeometry();
    QRect best(QPoint(), framed);
    best.moveCenter(window.center());
    const QScreen* shown = screen();
    if (shown == nullptr)
        return best.topLeft() + QPoint(frame.left(), frame.top());
    const QRect available = shown->availableGeometry();
    // What the dialog must leave in view: the Status column of the listed rows and the output
    // line; after that, as much of the window as it can; after that, near the window.
    const QRect status = StatusCells();
    const QRect line(outputLine->mapToGlobal(QPoint(0, 0)), outputLine->size());
    const auto area = [](const QRect& a, const QRect& b) {
        const QRect both = a.intersected(b);
        return both.isEmpty() ? qint64(0) : qint64(both.width()) * both.height();
    };
    const auto cost = [&](const QRect& place) {
        const QPoint away = place.center() - window.center();
        return std::tuple(
            area(place, status) + area(place, line), area(place, window), away.manhattanLength());
    };
    // Every place within the screen on a grid, and the places touching the window's edges.
    std::vector<QPoint> corners {{window.right() + 1, window.top()}, {window.left(), window.bottom() + 1},
        {window.left() - framed.width(), window.top()}, {window.left(), window.top() - framed.height()}};
    const int lastX = available.right() - framed.width() + 1;
    const int lastY = available.bottom() - framed.height() + 1;
    for (int y = available.top(); y <= lastY; y += kPlaceStep) {
        for (int x = available.left(); x <= lastX; x += kPlaceStep)
            corners.emplace_back(x, y);
        corners.emplace_back(lastX, y);
    }
    for (int x = available.left(); x <= lastX; x += kPlaceStep)
        corners.emplace_back(x, lastY);
    bool found = false;
    decltype(cost(best)) bestCost {};
    for (const QPoint& corner : corners) {
        const QRect place(corner, framed);
        if (!available.contains(place))
            continue;
        const auto placeCost = cost(place);
        if (found && placeCost >= bestCost)
            continue;
        best = place;
        bestCost = placeCost;
        found = true;
    }
    if (!found) {
        // A screen smaller than the dialog: its top-left corner in view.
        best.moveLeft(std::max(available.left(), std::min(best.left(), lastX)));
        best.moveTop(std::max(available.top(), std::min(best.top(), lastY)));
    }
    return best.topLeft() + QPoint(frame.left(), frame.top());
}

QRect MainDialog::StatusCells() const
{
    const QHeaderView* header = list->header();
    const int count = list->topLevelItemCount();
    const int rowsEnd = count == 0 ? 0 : list->visualItemRect(list->topLevelItem(count - 1)).bottom() + 1;
    const int end = std::clamp(rowsEnd, 0, list->viewport()->height());
    const QPoint top = list->viewport()->mapToGlobal(QPoint(header->sectionViewportPosition(kStatus), 0));
    return QRect(QPoint(top.x(), list->mapToGlobal(QPoint(0, 0)).y()),
        QPoint(top.x() + header->sectionSize(kStatus) - 1, top.y() + end - 1));
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
        for (int id : {1001, 1002, 1003, 1004, 1005})
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
    const std::vector<BatchItem> items = BatchPlan::Make(
        {Local(row->text(kTargetFiles)).toStdString()}, settings.outputDirectory, settings.ChosenFormat());
    return items.size() == 1 ? items.front().refusal : std::string();
}

bool MainDialog::StartBatch(ConvertDialog& dialog, const std::vector<QTreeWidgetItem*>& rows, bool oneRow)
{
    const BatchOptions options = BatchOptions::From(settings, BatchOverrides());
    std::vector<std::string> sources;
    for (QTreeWidgetItem* row : rows) {
        sources.push_back(Local(row->text(kTargetFiles)).toStdString());
        SetStatus(row, WindowBatch::WaitingText());
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
        SetStatus(row, status);
        return;
    }
    const QString output = QString::fromLocal8Bit(news.outputPath.c_str());
    const QString said = QString::fromLocal8Bit(news.reason.c_str());
    if (news.outcome == BatchFace::Outcome::Converted) {
        // The tip names the output, and anything the job said on the way.
        SetStatus(row, status, said.isEmpty() ? output : output + QLatin1Char('\n') + said);
        row->setData(kStatus, kOutputPathRole, output);
    } else {
        SetStatus(row, status, status);
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

void MainDialog::SetStatus(QTreeWidgetItem* row, const QString& text, const QString& tip)
{
    row->setText(kStatus, text);
    row->setToolTip(kStatus, tip);
    row->setData(kStatus, kOutputPathRole, QVariant());
}

void MainDialog::OpenOutputFolder(QTreeWidgetItem* row)
{
    const QString output = row->data(kStatus, kOutputPathRole).toString();
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
    dialog.outputDirectory = QString::fromLocal8Bit(settings.outputDirectory);
    dialog.bitrate = QString::fromLocal8Bit(settings.bitrate);
    dialog.channelMode = QString::fromLocal8Bit(settings.channelMode);
    dialog.format = QString::fromStdString(settings.format);
    dialog.quality = QString::fromStdString(settings.quality);
    dialog.jobs = settings.jobs;
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
    settings.outputDirectory = dialog.outputDirectory.toLocal8Bit().toStdString();
    settings.bitrate = dialog.bitrate.toLocal8Bit().toStdString();
    settings.channelMode = dialog.channelMode.toLocal8Bit().toStdString();
    settings.format = dialog.format.toStdString();
    settings.quality = dialog.quality.toStdString();
    settings.jobs = dialog.jobs;
    outputRate = settings.OutputRate();
    // The output folder as the settings dialog leaves it: an emptied text becomes "/".
    settings.outputDirectory = WithTrailingSeparator(settings.outputDirectory);
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
    return QStringLiteral("Output folder: ")
        + QString::fromLocal8Bit(WithoutTrailingSeparators(WithTrailingSeparator(settings.outputDirectory)))
        + QStringLiteral(" \u2014 Format: ") + QString::fromStdString(format);
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
