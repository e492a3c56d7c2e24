// The search result list: its columns, its rows, and what a double-click opens.

#include "app/list_ctrl_search_result.h"
#include "controls_test.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"

#include <QHeaderView>
#include <QTest>

#include <memory>

using namespace velunor;
using velunor::testing::RecordingPort;
using velunor::testing::TempFolder;

class ListCtrlSearchResultTest : public QObject {
    Q_OBJECT

  private:
    TempFolder folder_;
    std::unique_ptr<RecordingPort> port_;
    std::unique_ptr<CListCtrlSearchResult> list_;

    void DoubleClick(const QPoint& place) {
        QTest::mouseDClick(list_->viewport(), Qt::LeftButton, {}, place);
    }

    QPoint RowCentre(int row) const {
        return list_->visualRect(list_->model()->index(row, 2)).center();
    }

    QPoint EmptySpace() const {
        return QPoint(100, list_->viewport()->height() - 10);
    }

    // The job runs on its own thread; this port has no hit for it, so it gives up and shows
    // the results again.
    void WaitForTheJob() {
        QCOMPARE(port_->WaitPages(), 1);
        QVERIFY(
            port_->WaitUntil([this] { return port_->GetViewMode() == ViewMode::SearchResults; }));
        QCOMPARE(port_->LastStatus(),
                 std::u16string(u"在搜索结果中找不到所选的小说，请重新搜索，下载中止！"));
    }

  private slots:
    void init() {
        port_ = std::make_unique<RecordingPort>();
        list_ = std::make_unique<CListCtrlSearchResult>(*port_, folder_.WidePath() + u"/");
        list_->resize(900, 400);
        list_->show();
        QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
        list_->AppendRow({u"1", u"书站甲", u"山海行记", u"云客", u"第三章"});
        list_->AppendRow({u"2", u"书站乙", u"星河旅人", u"某人", u"第九章"});
    }

    void cleanup() {
        list_.reset();
        port_.reset();
    }

    void ColumnsAndRowsLookAsDesigned() {
        const char16_t* headers[] = {u"序号", u"目标站", u"小说名称", u"小说作者", u"最新章节"};
        const int widths[] = {50, 150, 200, 150, 400};
        QCOMPARE(list_->columnCount(), 5);
        for (int column = 0; column < 5; ++column) {
            QCOMPARE(list_->horizontalHeaderItem(column)->text(),
                     QString::fromUtf16(headers[column]));
            QCOMPARE(list_->columnWidth(column), widths[column]);
        }
        QCOMPARE(list_->rowHeight(1), 24);
        QVERIFY(list_->showGrid());
        QCOMPARE(list_->selectionBehavior(), QAbstractItemView::SelectRows);
        // Each text lands in its own column and comes back in the same field.
        const QStringList shown{"2", "书站乙", "星河旅人", "某人", "第九章"};
        for (int column = 0; column < 5; ++column) {
            QCOMPARE(list_->item(1, column)->text(), shown[column]);
        }
        const ResultRow texts = list_->RowTexts(1);
        QCOMPARE(texts.Number, std::u16string(u"2"));
        QCOMPARE(texts.SiteName, std::u16string(u"书站乙"));
        QCOMPARE(texts.NovelName, std::u16string(u"星河旅人"));
        QCOMPARE(texts.NovelAuthor, std::u16string(u"某人"));
        QCOMPARE(texts.LatestChapter, std::u16string(u"第九章"));
        QVERIFY(list_->RowTexts(2).Number.empty());
        QVERIFY(list_->RowTexts(-1).NovelName.empty());
        list_->selectRow(1);
        QCOMPARE(list_->FirstSelectedRow(), 1);
        list_->DeleteAllRows();
        QCOMPARE(list_->rowCount(), 0);
        QCOMPARE(list_->FirstSelectedRow(), -1);
    }

    void DoubleClickWithoutASelectionDoesNothing() {
        DoubleClick(EmptySpace());
        QCOMPARE(list_->FirstSelectedRow(), -1);
        list_->OpenSelectedRow();
        QCOMPARE(port_->WaitPages(), 0);
        QCOMPARE(port_->GetViewMode(), ViewMode::Recommend);
    }

    void DoubleClickOnARowOpensIt() {
        DoubleClick(RowCentre(1));
        QCOMPARE(list_->FirstSelectedRow(), 1);
        WaitForTheJob();
    }

    void DoubleClickOnEmptySpaceOpensTheSelectedRow() {
        list_->selectRow(0);
        DoubleClick(EmptySpace());
        QCOMPARE(list_->FirstSelectedRow(), 0);
        WaitForTheJob();
    }
};

VELUNOR_CONTROLS_TEST(ListCtrlSearchResultTest)
#include "list_ctrl_search_result_test.moc"
