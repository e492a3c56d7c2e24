#pragma once
// The search result list: one row of five texts per hit, in the order the hits arrived. A
// double-click or Enter opens the selected row (not the row under the pointer) as a novel
// download. A click on a column header sorts the rows by that column; the columns share the
// list's width, and after a search that found nothing the list says so.

#include "port/window_port.h"

#include <QTableWidget>

#include <string>

namespace velunor {

class CListCtrlSearchResult : public QTableWidget {
    Q_OBJECT

  public:
    /// An empty list with its five columns; a double-click starts the download job of
    /// `programFolder` (ending in "/") through `window`, which must outlive the list. GUI thread.
    CListCtrlSearchResult(WindowPort& window, std::u16string programFolder,
                          QWidget* parent = nullptr);

    /// Appends `row` at the end, even after a sort, so that no row the user may be opening
    /// moves while a search still adds hits; the rows then no longer show a sort. GUI thread.
    void AppendRow(const ResultRow& row);
    /// Index of the first selected row as the list shows it (after any sort); -1 when none is
    /// selected. GUI thread.
    int FirstSelectedRow() const;
    /// The texts of `row` as the list shows it; all empty when there is no such row. GUI thread.
    ResultRow RowTexts(int row) const;
    /// Removes every row, and with them a sort and the message of an empty search. GUI thread.
    void DeleteAllRows();

    /// Opens the first selected row: the waiting page, the reading layout and the download job
    /// on a thread of its own. Nothing when no row is selected. GUI thread; returns at once.
    void OpenSelectedRow();

    /// Sorts the rows by `column`, row numbers as numbers, texts in the reader's order. GUI
    /// thread.
    void SortRows(int column, Qt::SortOrder order);

    /// Whether a search has ended: while the list then has no rows it says that nothing was
    /// found. Cleared by DeleteAllRows, which every search starts with. GUI thread.
    void ShowEmptyMessage(bool show);
    /// The text the empty list shows in its middle; empty while it shows none. GUI thread.
    QString EmptyMessage() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void FitColumnsToViewport();
    void ForgetSort();

    WindowPort& window_;
    std::u16string programFolder_;
    bool searchEnded_ = false;
};

} // namespace velunor
