// The search result list: its columns, its rows, what a double-click or Enter opens, how a
// header click sorts, and what the list says after a search that found nothing.

#include "app/list_ctrl_search_result.h"
#include "controls_test.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"

#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <cstdlib>
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

    void ClickHeader(int column) {
        QHeaderView* header = list_->horizontalHeader();
        const QPoint centre(header->sectionViewportPosition(column) +
                                header->sectionSize(column) / 2,
                            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
    }

    QStringList Column(int column) const {
        QStringList texts;
        for (int row = 0; row < list_->rowCount(); ++row) {
            texts.append(list_->item(row, column)->text());
        }
        return texts;
    }

    int ColumnsWidth() const {
        int sum = 0;
        for (int column = 0; column < list_->columnCount(); ++column) {
            sum += list_->columnWidth(column);
        }
        return sum;
    }

    void ResizeAndSettle(int width, int height = 400) {
        list_->resize(width, height);
        QCoreApplication::processEvents();
    }

    // The job runs on its own thread; this port has no hit for it, so it gives up and shows
    // the results again.
    void WaitForTheJob(int opened = 1) {
        QCOMPARE(port_->WaitPages(), opened);
        QVERIFY(port_->WaitUntil([this, opened] {
            return port_->GetViewMode() == ViewMode::SearchResults &&
                   port_->Statuses().size() == static_cast<size_t>(opened);
        }));
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
        // Room for more than the designed widths: the last column takes the rest.
        ResizeAndSettle(1100);
        QCOMPARE(list_->columnCount(), 5);
        for (int column = 0; column < 5; ++column) {
            QCOMPARE(list_->horizontalHeaderItem(column)->text(),
                     QString::fromUtf16(headers[column]));
            if (column < 4) {
                QCOMPARE(list_->columnWidth(column), widths[column]);
            }
        }
        QVERIFY(list_->columnWidth(4) > widths[4]);
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

    void EnterAndReturnOpenTheSelectedRowOncePerPress() {
        list_->setFocus();
        QTest::keyClick(list_.get(), Qt::Key_Return);
        QCOMPARE(port_->WaitPages(), 0);
        list_->selectRow(1);
        QTest::keyClick(list_.get(), Qt::Key_Return);
        WaitForTheJob(1);
        QTest::keyClick(list_.get(), Qt::Key_Enter, Qt::KeypadModifier);
        WaitForTheJob(2);
        // A held key sends repeated presses: they open nothing more.
        QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(list_.get(), &repeated);
        QCOMPARE(port_->WaitPages(), 2);
    }

    void HeaderClicksSortAndTurnTheOrderOver() {
        list_->DeleteAllRows();
        // Twelve rows: as texts, 10 to 12 would come before 2.
        QStringList numbers;
        for (int n = 1; n <= 12; ++n) {
            numbers.append(QString::number(n));
            list_->AppendRow({numbers.last().toStdU16String(), u"书站", u"书", u"某人", u""});
        }
        ClickHeader(0);
        QCOMPARE(Column(0), numbers);
        QCOMPARE(list_->horizontalHeader()->sortIndicatorSection(), 0);
        QCOMPARE(list_->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
        ClickHeader(0);
        std::reverse(numbers.begin(), numbers.end());
        QCOMPARE(Column(0), numbers);
        QCOMPARE(list_->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

        // Names sort by pinyin, the reverse of their code points here; chapter numbers as
        // numbers. A new column starts ascending.
        list_->DeleteAllRows();
        list_->AppendRow({u"1", u"书站", u"中原逐鹿", u"某人", u"第100章"});
        list_->AppendRow({u"2", u"书站", u"阿房宫赋", u"某人", u"第9章"});
        list_->AppendRow({u"3", u"书站", u"星河旅人", u"某人", u"第10章"});
        list_->AppendRow({u"4", u"书站", u"白鹿原", u"某人", u"第1章"});
        list_->AppendRow({u"5", u"书站", u"山海行记", u"某人", u"第11章"});
        ClickHeader(2);
        QCOMPARE(Column(2),
                 QStringList({"阿房宫赋", "白鹿原", "山海行记", "星河旅人", "中原逐鹿"}));
        ClickHeader(4);
        QCOMPARE(Column(4), QStringList({"第1章", "第9章", "第10章", "第11章", "第100章"}));
        // Each row's cells travel together.
        QCOMPARE(Column(2),
                 QStringList({"白鹿原", "阿房宫赋", "星河旅人", "山海行记", "中原逐鹿"}));
        QCOMPARE(Column(0), QStringList({"4", "2", "3", "5", "1"}));
    }

    // The download job asks the window for the first selected row and then for that row's
    // texts; both must describe the row the user picked in the sorted list.
    void AfterSortingTheJobReadsTheRowTheUserPicked() {
        ClickHeader(0);
        ClickHeader(0);
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, RowCentre(0));
        QCOMPARE(list_->FirstSelectedRow(), 0);
        QCOMPARE(list_->RowTexts(0).NovelName, std::u16string(u"星河旅人"));
        // A hit that arrives meanwhile goes to the end, so the row being opened stays put;
        // the list no longer claims to be sorted.
        list_->AppendRow({u"3", u"书站丙", u"云中记", u"某甲", u"第一章"});
        QCOMPARE(list_->FirstSelectedRow(), 0);
        QCOMPARE(list_->RowTexts(0).NovelName, std::u16string(u"星河旅人"));
        QCOMPARE(list_->RowTexts(2).NovelName, std::u16string(u"云中记"));
        QCOMPARE(list_->horizontalHeader()->sortIndicatorSection(), -1);
        ClickHeader(0);
        QCOMPARE(Column(0), QStringList({"1", "2", "3"}));
        QCOMPARE(list_->RowTexts(list_->FirstSelectedRow()).NovelName, std::u16string(u"星河旅人"));
    }

    void ColumnsFillTheWidthAndScrollSidewaysOnlyWhenTooNarrow() {
        for (int width : {1100, 700, 560}) {
            ResizeAndSettle(width);
            QCOMPARE(ColumnsWidth(), list_->viewport()->width());
            QVERIFY(!list_->horizontalScrollBar()->isVisible());
        }
        // A vertical scroll bar takes width from the columns, not a second bar.
        for (int n = 3; n <= 40; ++n) {
            list_->AppendRow({QString::number(n).toStdU16String(), u"书站", u"书", u"某人", u""});
        }
        ResizeAndSettle(700);
        QVERIFY(list_->verticalScrollBar()->isVisible());
        QCOMPARE(ColumnsWidth(), list_->viewport()->width());
        QVERIFY(!list_->horizontalScrollBar()->isVisible());
        // Too narrow for readable columns: they keep their width and the list scrolls.
        ResizeAndSettle(300);
        QVERIFY(ColumnsWidth() > list_->viewport()->width());
        QVERIFY(list_->horizontalScrollBar()->isVisible());
        ResizeAndSettle(900);
        QVERIFY(!list_->horizontalScrollBar()->isVisible());
    }

    void SaysNothingWasFoundOnlyAfterASearchEndedWithoutHits() {
        const QString nothing = QStringLiteral("没有找到相关小说");
        QVERIFY(list_->EmptyMessage().isEmpty());
        // A search starts: the rows go, and no message while it runs.
        list_->DeleteAllRows();
        QVERIFY(list_->EmptyMessage().isEmpty());
        const QImage running = list_->viewport()->grab().toImage();
        list_->ShowEmptyMessage(true);
        QCOMPARE(list_->EmptyMessage(), nothing);
        const QImage ended = list_->viewport()->grab().toImage();
        // The message stands in the middle of the empty area.
        QRect drawn;
        for (int y = 0; y < ended.height(); ++y) {
            for (int x = 0; x < ended.width(); ++x) {
                if (ended.pixel(x, y) != running.pixel(x, y)) {
                    drawn |= QRect(x, y, 1, 1);
                }
            }
        }
        QVERIFY(!drawn.isEmpty());
        QVERIFY(std::abs(drawn.center().x() - ended.width() / 2) <= 2);
        QVERIFY(std::abs(drawn.center().y() - ended.height() / 2) <= 4);
        // The next search takes it away at once; hits keep it away.
        list_->DeleteAllRows();
        QVERIFY(list_->EmptyMessage().isEmpty());
        list_->AppendRow({u"1", u"书站甲", u"山海行记", u"云客", u"第三章"});
        list_->ShowEmptyMessage(true);
        QVERIFY(list_->EmptyMessage().isEmpty());
        const int belowRow = list_->rowViewportPosition(0) + list_->rowHeight(0) + 1;
        const QRect below(0, belowRow, running.width(), running.height() - belowRow);
        QCOMPARE(list_->viewport()->grab().toImage().copy(below), running.copy(below));
    }
};

VELUNOR_CONTROLS_TEST(ListCtrlSearchResultTest)
#include "list_ctrl_search_result_test.moc"
