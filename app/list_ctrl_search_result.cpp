#include "app/list_ctrl_search_result.h"

#include "app/report_view.h"
#include "library/library.h"

#include <QCollator>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>

#include <algorithm>
#include <array>
#include <numeric>

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

// How narrow each column may become before the list rather scrolls sideways.
constexpr std::array<int, 5> kLeastWidths{40, 80, 120, 80, 150};

// The field of a row that each column shows.
constexpr std::array<std::u16string ResultRow::*, 5> kColumnTexts{
    &ResultRow::Number, &ResultRow::SiteName, &ResultRow::NovelName, &ResultRow::NovelAuthor,
    &ResultRow::LatestChapter};

constexpr int kNumberColumn = 0;

const QString kNothingFound = QStringLiteral("没有找到相关小说");

// Names in the order a Chinese reader looks them up (by pinyin), and "第9章" before "第10章".
const QCollator& ReaderCollator() {
    static const QCollator collator = [] {
        QCollator made(QLocale(QLocale::Chinese, QLocale::China));
        made.setNumericMode(true);
        return made;
    }();
    return collator;
}

// One cell of the list; it decides how its column sorts.
class ResultCell : public QTableWidgetItem {
  public:
    explicit ResultCell(const std::u16string& text)
        : QTableWidgetItem(QString::fromStdU16String(text)) {}

    bool operator<(const QTableWidgetItem& other) const override {
        if (column() == kNumberColumn) {
            return IsNumberLess(other);
        }
        return ReaderCollator().compare(text(), other.text()) < 0;
    }

  private:
    // Row numbers compare as numbers, so that 10 follows 9.
    bool IsNumberLess(const QTableWidgetItem& other) const {
        bool isNumber = false;
        bool otherIsNumber = false;
        const qlonglong number = text().toLongLong(&isNumber);
        const qlonglong otherNumber = other.text().toLongLong(&otherIsNumber);
        if (!isNumber || !otherIsNumber) {
            return text() < other.text();
        }
        return number < otherNumber;
    }
};

// The width of `column` when the list has `room` pixels across: the designed width when all
// designed widths fit, the least width when not even those fit, and in between a share of the
// difference, so that every column gives up width alike.
int ColumnWidth(size_t column, int room) {
    const int designed =
        std::accumulate(kColumns.begin(), kColumns.end(), 0,
                        [](int sum, const ReportColumn& c) { return sum + c.width; });
    const int least = std::accumulate(kLeastWidths.begin(), kLeastWidths.end(), 0);
    if (room >= designed) {
        return kColumns[column].width;
    }
    if (room <= least) {
        return kLeastWidths[column];
    }
    const int give = kColumns[column].width - kLeastWidths[column];
    return kLeastWidths[column] + give * (room - least) / (designed - least);
}

bool IsEnter(const QKeyEvent& key) {
    return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}

} // namespace

CListCtrlSearchResult::CListCtrlSearchResult(WindowPort& window, std::u16string programFolder,
                                             QWidget* parent)
    : QTableWidget(parent), window_(window), programFolder_(std::move(programFolder)) {
    MakeReportView(*this, kColumns);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    ForgetSort();
    // The header flips its indicator on each click: the first click on a column sorts it
    // ascending, the next one descending.
    connect(header, &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) {
                if (column >= 0) {
                    SortRows(column, order);
                }
            });
}

void CListCtrlSearchResult::AppendRow(const ResultRow& row) {
    if (horizontalHeader()->sortIndicatorSection() >= 0) {
        ForgetSort();
    }
    const int at = rowCount();
    insertRow(at);
    for (size_t column = 0; column < kColumnTexts.size(); ++column) {
        setItem(at, static_cast<int>(column), new ResultCell(row.*kColumnTexts[column]));
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
    ForgetSort();
    ShowEmptyMessage(false);
}

void CListCtrlSearchResult::OpenSelectedRow() {
    if (FirstSelectedRow() < 0) {
        return;
    }
    StartNovelDownload(window_, programFolder_);
}

void CListCtrlSearchResult::SortRows(int column, Qt::SortOrder order) {
    {
        const QSignalBlocker quiet(horizontalHeader());
        horizontalHeader()->setSortIndicator(column, order);
    }
    // The table's model moves the rows themselves, so row indices, the selection and the
    // texts the download job reads all follow the order the user sees.
    sortItems(column, order);
}

void CListCtrlSearchResult::ShowEmptyMessage(bool show) {
    searchEnded_ = show;
    viewport()->update();
}

QString CListCtrlSearchResult::EmptyMessage() const {
    if (!searchEnded_ || rowCount() > 0) {
        return {};
    }
    return kNothingFound;
}

void CListCtrlSearchResult::ForgetSort() {
    const QSignalBlocker quiet(horizontalHeader());
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
}

void CListCtrlSearchResult::FitColumnsToViewport() {
    const int room = viewport()->width();
    const size_t last = kColumns.size() - 1;
    int used = 0;
    for (size_t column = 0; column < last; ++column) {
        const int width = ColumnWidth(column, room);
        setColumnWidth(static_cast<int>(column), width);
        used += width;
    }
    // The last column takes what is left, so the columns end exactly at the right edge.
    setColumnWidth(static_cast<int>(last), std::max(kLeastWidths[last], room - used));
}

void CListCtrlSearchResult::keyPressEvent(QKeyEvent* event) {
    if (!IsEnter(*event) || FirstSelectedRow() < 0) {
        QTableWidget::keyPressEvent(event);
        return;
    }
    // One download per press, however long Enter is held.
    if (!event->isAutoRepeat()) {
        OpenSelectedRow();
    }
    event->accept();
}

void CListCtrlSearchResult::mouseDoubleClickEvent(QMouseEvent* event) {
    // The first click of the pair has already selected what it hit; the download job reads the
    // selection itself, so that is what is opened, wherever the second click landed.
    QTableWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        OpenSelectedRow();
    }
}

void CListCtrlSearchResult::paintEvent(QPaintEvent* event) {
    QTableWidget::paintEvent(event);
    const QString message = EmptyMessage();
    if (message.isEmpty()) {
        return;
    }
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect(), Qt::AlignCenter, message);
}

// A scroll area hands the resizes of its viewport to this handler, so a vertical scroll bar
// that comes or goes is seen here too.
void CListCtrlSearchResult::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    FitColumnsToViewport();
}

} // namespace velunor
