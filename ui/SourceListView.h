// The main window's list (control 1000): the rows of a SourceList in a report view with
// several selectable rows. It holds the SourceList and keeps the two together: an item is made
// for each row added, and however an item leaves the view (Delete, Clear List, taken out), its
// row leaves the SourceList, so that the source can be listed again. Two rows are the same
// source when their paths and names are equal in Unicode case folding.
//
// Columns: an empty spacer, "Source File" (a disc's track with its title beside its label),
// "Time", "Size", "Target Files" (the path a conversion reads), then "Output File" (the name each
// row converts to in a chosen format; hidden for Auto) and "Status" (each row's outcome), shown
// before "Target Files", whose long paths run past the list's edge. A click on a header sorts
// the rows in view, Time and Size by their figures; SelectedInOrder still gives the rows in the
// order they were added, which is the order they convert in.
//
// Threads: the interface thread only.
#pragma once

#include "engine/OutputFormat.h"
#include "engine/SourceList.h"

#include <QString>
#include <QTreeWidget>

#include <vector>

class SourceListView : public QTreeWidget {
    Q_OBJECT
public:
    enum Column {
        kSpacer = 0,
        kSourceFile = 1,
        kTime = 2,
        kSize = 3,
        kTargetFiles = 4,
        kOutputFile = 5,
        kStatus = 6,
    };
    // The title a row's output carries in the chosen format ("-" for none), in its "Source File"
    // cell.
    enum Role { kOutputTitleRole = Qt::UserRole + 11 };

    explicit SourceListView(QWidget* parent);
    ~SourceListView() override;

    SourceList& Rows() { return rows; }
    // Adds the item of a row just added to Rows(), named for `format`.
    void Show(const SourceList::Row& row, const OutputFormat& format);
    const SourceList::Row& RowOf(const QTreeWidgetItem* item) const;
    // "Output File" shown with every row's name for a chosen format, hidden for Auto; every row's
    // output title for `format`. Named from the rows' facts: no file or disc is read.
    void ShowTargetNames(const OutputFormat& format);
    std::vector<QTreeWidgetItem*> SelectedInOrder() const;

    // A row's Status and its tip; a converted row also keeps its output's path, for opening its
    // folder. Any other status forgets the path.
    void SetStatus(QTreeWidgetItem* item, const QString& text, const QString& tip = QString());
    void SetConverted(QTreeWidgetItem* item, const QString& text, const QString& tip, const QString& output);
    QString OutputOf(const QTreeWidgetItem* item) const;
    // The Status cells of the rows in view, with the header above them, on the screen.
    QRect StatusCells() const;

private:
    void NameRow(QTreeWidgetItem* item, const OutputFormat& format) const;

    SourceList rows;
};
