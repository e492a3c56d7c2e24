#include "app/list_ctrl_search_result.h"

#include "app/report_view.h"
#include "library/library.h"

#include <QHeaderView>
#include <QMouseEvent>

#include <array>

namespace velunor {

namespace {

constexpr int kRowHeight = 24;

constexpr std::array<ReportColumn, 5> kColumns{{
    {u"序号", 50},
    {u"目标站", 150},
    {u"小说名称", 200},
    {u"小说作者", 150},
    {u"最新章节", 400},
}};

// The field of a row that each column shows.
constexpr std::array<std::u16string ResultRow::*, 5> kColumnTexts{
    &ResultRow::Number, &ResultRow::SiteName, &ResultRow::NovelName, &ResultRow::NovelAuthor,
    &ResultRow::LatestChapter};

} // namespace

CListCtrlSearchResult::CListCtrlSearchResult(WindowPort& window, std::u16string programFolder,
                                             QWidget* parent)
    : QTableWidget(parent), window_(window), programFolder_(std::move(programFolder)) {
    MakeReportView(*this, kColumns);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void CListCtrlSearchResult::AppendRow(const ResultRow& row) {
    const int at = rowCount();
    insertRow(at);
    for (size_t column = 0; column < kColumnTexts.size(); ++column) {
        setItem(at, static_cast<int>(column),
                new QTableWidgetItem(QString::fromStdU16String(row.*kColumnTexts[column])));
    }
}

int CListCtrlSearchResult::FirstSelectedRow() const {
    for (int row = 0; row < rowCount(); ++row) {
        const QTableWidgetItem* first = item(row, 0);
        if (first != nullptr && first->isSelected()) {
            return row;
        }
    }
    return -1;
}

ResultRow CListCtrlSearchResult::RowTexts(int row) const {
    ResultRow texts;
    if (row < 0 || row >= rowCount()) {
        return texts;
    }
    for (size_t column = 0; column < kColumnTexts.size(); ++column) {
        const QTableWidgetItem* cell = item(row, static_cast<int>(column));
        if (cell != nullptr) {
            texts.*kColumnTexts[column] = cell->text().toStdU16String();
        }
    }
    return texts;
}

void CListCtrlSearchResult::DeleteAllRows() {
    setRowCount(0);
}

void CListCtrlSearchResult::OpenSelectedRow() {
    if (FirstSelectedRow() < 0) {
        return;
    }
    StartNovelDownload(window_, programFolder_);
}

void CListCtrlSearchResult::mouseDoubleClickEvent(QMouseEvent* event) {
    // The first click of the pair has already selected what it hit; the download job reads the
    // selection itself, so that is what is opened, wherever the second click landed.
    QTableWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        OpenSelectedRow();
    }
}

} // namespace velunor
