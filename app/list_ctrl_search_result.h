#pragma once
// The search result list: one row of five texts per hit, in the order the hits arrived. A
// double-click opens the selected row (not the row under the pointer) as a novel download.

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

    /// Appends `row` at the end. GUI thread.
    void AppendRow(const ResultRow& row);
    /// Index of the first selected row; -1 when none is selected. GUI thread.
    int FirstSelectedRow() const;
    /// The texts of `row`; all empty when there is no such row. GUI thread.
    ResultRow RowTexts(int row) const;
    /// Removes every row. GUI thread.
    void DeleteAllRows();

    /// Opens the first selected row: the waiting page, the reading layout and the download job
    /// on a thread of its own. Nothing when no row is selected. GUI thread; returns at once.
    void OpenSelectedRow();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    WindowPort& window_;
    std::u16string programFolder_;
};

} // namespace velunor
