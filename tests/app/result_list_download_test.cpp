// Opening a hit of the result list downloads that novel from the local test site, also after the
// rows were sorted: the job finds the hit by the texts of the row the user picked.

#include "app/list_ctrl_search_result.h"
#include "controls_test.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <QHeaderView>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

using namespace velunor;
using velunor::testing::RecordingPort;
using velunor::testing::TempFolder;
using velunor::testing::TestSite;

namespace {

const std::u16string kDone = u"下载完成！ ";

// A recording port that asks the real list for the selected row and its texts on the GUI
// thread, as the main window does, so the job reads what the user sees.
class ListPort : public RecordingPort {
    // Defined first: the members below deduce their result types from it. The job calls
    // from its own thread and waits, as it waits for the main window.
    template <typename F> auto OnGuiThread(F work) {
        decltype(work()) result{};
        QMetaObject::invokeMethod(
            list_, [&result, &work] { result = work(); }, Qt::BlockingQueuedConnection);
        return result;
    }

  public:
    void Attach(CListCtrlSearchResult* list) {
        list_ = list;
    }
    int FirstSelectedResultRow() override {
        return OnGuiThread([this] { return list_->FirstSelectedRow(); });
    }
    ResultRow ResultRowTexts(int row) override {
        return OnGuiThread([this, row] { return list_->RowTexts(row); });
    }

  private:
    CListCtrlSearchResult* list_ = nullptr;
};

std::string SearchResult(const std::string& name, const std::string& ruleFile,
                         const std::string& infoPageUrl) {
    return "<SearchResult>\r\n<TargetSite>书屋甲</TargetSite>\r\n<RuleFile>" + ruleFile +
           "</RuleFile>\r\n<NovelName>" + name +
           "</NovelName>\r\n<NovelAuthor>佚名</NovelAuthor>\r\n<LatestChapter>最新一章"
           "</LatestChapter>\r\n<InfoPageUrl>" +
           infoPageUrl + "</InfoPageUrl>\r\n</SearchResult>\r\n";
}

} // namespace

class ResultListDownloadTest : public QObject {
    Q_OBJECT

  private:
    TestSite site_;
    TempFolder folder_;
    std::unique_ptr<CListCtrlSearchResult> list_;

    QPoint RowCentre(int row) const {
        return list_->visualRect(list_->model()->index(row, 2)).center();
    }

    static int FinishedDownloads(ListPort& port) {
        const std::vector<std::u16string> statuses = port.Statuses();
        return static_cast<int>(std::count(statuses.begin(), statuses.end(), kDone));
    }

    // Waits, serving the job's questions to the list meanwhile, until `count` downloads have
    // ended; the one just ended stored `name`.
    void ExpectDownloaded(ListPort& port, int count, const std::string& name) {
        QTRY_COMPARE_WITH_TIMEOUT(FinishedDownloads(port), count, 30000);
        QVERIFY(std::filesystem::exists(folder_.File("Novel/书屋甲/" + name + "/1.html")));
    }

  private slots:
    void OpeningASortedRowDownloadsTheNovelTheUserPicked() {
        std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template",
                              folder_.File("Template"));
        std::filesystem::create_directories(folder_.File("Config"));
        std::filesystem::create_directories(folder_.File("Rule"));
        const std::string rule =
            folder_.Write("Rule/novel-gbk.xml", site_.RuleFile(std::string(VELUNOR_TEST_DATA) +
                                                               "/library/rules/novel-gbk.xml"));
        // Two hits whose pages have no name of their own, so each novel's folder is named after
        // the row it was opened from; listed in the order the search found them.
        folder_.Write(
            "Config/SearchResult.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" +
                SearchResult("无名一", rule, site_.BaseUrl() + "/novel-gbk/book/noname1.html") +
                SearchResult("无名二", rule, site_.BaseUrl() + "/novel-gbk/book/noname2.html"));
        // Never freed, and held where the leak checker sees it: the detached jobs may still be
        // returning from their last call on the port when the test ends.
        static auto* const port = new ListPort;
        list_ = std::make_unique<CListCtrlSearchResult>(*port, folder_.WidePath() + u"/");
        port->Attach(list_.get());
        list_->resize(900, 300);
        list_->show();
        QVERIFY(QTest::qWaitForWindowExposed(list_.get()));
        list_->AppendRow({u"1", u"书屋甲", u"无名一", u"佚名", u"最新一章"});
        list_->AppendRow({u"2", u"书屋甲", u"无名二", u"佚名", u"最新一章"});

        // Two clicks on the number header: descending, the second hit on top.
        QHeaderView* header = list_->horizontalHeader();
        const QPoint number(header->sectionSize(0) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, number);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, number);
        QCOMPARE(list_->item(0, 2)->text(), QStringLiteral("无名二"));

        QTest::mouseDClick(list_->viewport(), Qt::LeftButton, {}, RowCentre(0));
        ExpectDownloaded(*port, 1, "无名二");
        QVERIFY(!std::filesystem::exists(folder_.File("Novel/书屋甲/无名一")));

        QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, RowCentre(1));
        QTest::keyClick(list_.get(), Qt::Key_Return);
        ExpectDownloaded(*port, 2, "无名一");
        QCOMPARE(port->WaitPages(), 2);
        QCOMPARE(port->BookItems(),
                 (std::vector<std::u16string>{u"书屋甲 - 无名二", u"书屋甲 - 无名一"}));
    }
};

VELUNOR_CONTROLS_TEST(ResultListDownloadTest)
#include "result_list_download_test.moc"
