#include "ui/SourceListView.h"

#include "ui/HotTrackDelegate.h"

#include <QFile>
#include <QHeaderView>

#include <algorithm>

namespace {

// As wide as the "Source File" column: the output's name is the source's with a new extension.
constexpr int kOutputFileWidth = 150;
constexpr int kStatusWidth = 150;

// The data of a Status cell that holds a converted row's output path.
constexpr int kOutputPathRole = Qt::UserRole;
// The data of a row's first cell that holds its row's number in the SourceList, which is the
// order of its adding; and of the Time and Size cells, their figures to sort by.
constexpr int kNumberRole = Qt::UserRole + 21;
constexpr int kFigureRole = Qt::UserRole + 22;

QString Text(const std::string& text)
{
    return QString::fromLocal8Bit(text);
}

// Letter case as the list compares sources and names: Unicode case folding of a text in the
// system's encoding; a text that is not valid in it is compared as its bytes.
std::string Folded(const std::string& text)
{
    const QString decoded = Text(text);
    if (decoded.toLocal8Bit().toStdString() != text)
        return text;
    return decoded.toCaseFolded().toLocal8Bit().toStdString();
}

uint64_t NumberOf(const QTreeWidgetItem* item)
{
    return item->data(SourceListView::kSpacer, kNumberRole).toULongLong();
}

// A row of the list: sorted by its play time and size as numbers, by its other columns as text
// without regard to letter case, then in the order of adding.
class ListRow : public QTreeWidgetItem {
public:
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
        if (column == SourceListView::kTime || column == SourceListView::kSize) {
            const qlonglong mine = data(column, kFigureRole).toLongLong();
            const qlonglong theirs = other.data(column, kFigureRole).toLongLong();
            if (mine != theirs)
                return mine < theirs;
        }
        const int order = text(column).compare(other.text(column), Qt::CaseInsensitive);
        if (order != 0)
            return order < 0;
        return NumberOf(this) < NumberOf(&other);
    }
};

} // namespace

SourceListView::SourceListView(QWidget* parent)
    : QTreeWidget(parent)
    , rows(Folded)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setItemDelegate(new HotTrackDelegate(this));
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover, true);
    // A click on a header sorts the rows in view by that column, and another click the other
    // way; the conversion still takes the rows in the order they were added.
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    connect(header(), &QHeaderView::sortIndicatorChanged, this,
        [this](int column, Qt::SortOrder order) { sortItems(column, order); });
    // The last column on screen (the source's full path) takes the room a wider window gives.
    header()->setStretchLastSection(true);
    header()->setMinimumSectionSize(1);
    // The selection stays as visible when the list has lost the focus.
    QPalette colours = palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    setPalette(colours);

    setHeaderLabels({QString(), QStringLiteral("Source File"), QStringLiteral("Time"), QStringLiteral("Size"),
        QStringLiteral("Target Files"), QStringLiteral("Output File"), QStringLiteral("Status")});
    const int widths[] = {5, 150, 60, 80, 350, kOutputFileWidth, kStatusWidth};
    for (int column = 0; column <= kStatus; ++column) {
        setColumnWidth(column, widths[column]);
        headerItem()->setTextAlignment(column, Qt::AlignLeft | Qt::AlignVCenter);
    }
    // "Output File" and "Status" come before the long source paths, so that they are in view
    // without scrolling.
    header()->moveSection(header()->visualIndex(kOutputFile), kTargetFiles);
    header()->moveSection(header()->visualIndex(kStatus), kTargetFiles + 1);

    connect(model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this](const QModelIndex& parent, int first, int last) {
            for (int row = first; row <= last && !parent.isValid(); ++row)
                rows.Remove(NumberOf(topLevelItem(row)));
        });
    connect(model(), &QAbstractItemModel::modelAboutToBeReset, this, [this] { rows.Clear(); });
}

SourceListView::~SourceListView()
{
    // The items go after the rows, with the base class: nothing is left to keep together.
    model()->disconnect(this);
}

void SourceListView::Show(const SourceList::Row& row, const OutputFormat& format)
{
    const SourceFacts& facts = row.facts;
    auto* item = new ListRow();
    item->setData(kSpacer, kNumberRole, qulonglong(row.number));
    // A disc's track shows the title its CUE sheet or CD-Text gives beside its label.
    const QString name = Text(row.name);
    const bool titledTrack = facts.kind == SourceFacts::Kind::CdTrack && !facts.statedTitle.empty();
    item->setText(
        kSourceFile, titledTrack ? name + QStringLiteral(" \u2014 ") + Text(facts.statedTitle) : name);
    item->setText(kTime, Text(SourceFacts::TimeText(facts.seconds)));
    item->setData(kTime, kFigureRole, qlonglong(facts.seconds));
    item->setText(kSize, Text(SourceFacts::SizeText(facts.bytes)));
    item->setData(kSize, kFigureRole, qlonglong(facts.bytes));
    item->setText(kTargetFiles, QFile::decodeName(row.source.path.c_str()));
    // A file whose audio could not be opened is listed, so that the user sees it, with the reason.
    if (!facts.readFailure.empty()) {
        const QString status = QStringLiteral("Cannot be read: ") + Text(facts.readFailure);
        SetStatus(item, status, status);
    }
    addTopLevelItem(item);
    NameRow(item, format);
}

const SourceList::Row& SourceListView::RowOf(const QTreeWidgetItem* item) const
{
    static const SourceList::Row none;
    const SourceList::Row* row = rows.Find(NumberOf(item));
    return row != nullptr ? *row : none;
}

void SourceListView::NameRow(QTreeWidgetItem* item, const OutputFormat& format) const
{
    const SourceFacts& facts = RowOf(item).facts;
    item->setData(kSourceFile, kOutputTitleRole, Text(facts.OutputTitle(format)));
    if (!isColumnHidden(kOutputFile))
        item->setText(kOutputFile, Text(facts.OutputName(format)));
}

void SourceListView::ShowTargetNames(const OutputFormat& format)
{
    setColumnHidden(kOutputFile, format.IsAuto());
    // A hidden column loses its width; it comes back as wide as it was made.
    if (!format.IsAuto())
        setColumnWidth(kOutputFile, kOutputFileWidth);
    for (int row = 0; row < topLevelItemCount(); ++row)
        NameRow(topLevelItem(row), format);
}

std::vector<QTreeWidgetItem*> SourceListView::SelectedInOrder() const
{
    std::vector<QTreeWidgetItem*> selected;
    for (int row = 0; row < topLevelItemCount(); ++row) {
        if (topLevelItem(row)->isSelected())
            selected.push_back(topLevelItem(row));
    }
    std::sort(selected.begin(), selected.end(),
        [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) { return NumberOf(a) < NumberOf(b); });
    return selected;
}

void SourceListView::SetStatus(QTreeWidgetItem* item, const QString& text, const QString& tip)
{
    item->setText(kStatus, text);
    item->setToolTip(kStatus, tip);
    item->setData(kStatus, kOutputPathRole, QVariant());
}

void SourceListView::SetConverted(
    QTreeWidgetItem* item, const QString& text, const QString& tip, const QString& output)
{
    SetStatus(item, text, tip);
    item->setData(kStatus, kOutputPathRole, output);
}

QString SourceListView::OutputOf(const QTreeWidgetItem* item) const
{
    return item->data(kStatus, kOutputPathRole).toString();
}

QRect SourceListView::StatusCells() const
{
    const int count = topLevelItemCount();
    const int rowsEnd = count == 0 ? 0 : visualItemRect(topLevelItem(count - 1)).bottom() + 1;
    const int end = std::clamp(rowsEnd, 0, viewport()->height());
    const QPoint top = viewport()->mapToGlobal(QPoint(header()->sectionViewportPosition(kStatus), 0));
    return QRect(QPoint(top.x(), mapToGlobal(QPoint(0, 0)).y()),
        QPoint(top.x() + header()->sectionSize(kStatus) - 1, top.y() + end - 1));
}
