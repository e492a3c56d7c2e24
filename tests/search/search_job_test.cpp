#include "search/search.h"

#include "search_fixture.h"
#include "support/recording_port.h"
#include "support/test_site.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

namespace velunor {
namespace {

using testing::RecordingPort;
using testing::TestSite;

struct StoredHit {
    std::u16string site;
    std::u16string name;
    std::u16string author;
    std::u16string latest;
    std::u16string infoPageUrl;
};

class SearchJobTest : public testing::ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        InstallRule("a-shuwu.xml", "a-shuwu.xml", site_);
        InstallRule("b-redirect.xml", "b-redirect.xml", site_);
        InstallRule("c-broken.xml", "c-broken.xml", site_);
        InstallRule("d-utf8list.xml", "d-utf8list.xml", site_);
        InstallRule("f-crawl.xml", "e-crawl.xml", site_);
        window_.SetSearchText(u"西游");
    }

    void RunToEnd() {
        RunSearchCommand(window_, ProgramFolder());
        ASSERT_EQ(window_.SearchButtonCaption(), u"停止搜索");
        ASSERT_TRUE(window_.WaitUntil([&] { return window_.SearchButtonCaption() == u"搜索"; }));
    }

    std::vector<StoredHit> StoredHits() {
        CXmlDocument document;
        document.LoadFile(ProgramFolder() + u"Config/SearchResult.xml");
        std::vector<StoredHit> hits;
        while (document.FindElement(u"SearchResult")) {
            document.EnterElement();
            StoredHit hit;
            for (auto [name, field] : {std::pair{u"TargetSite", &hit.site},
                                       {u"NovelName", &hit.name},
                                       {u"NovelAuthor", &hit.author},
                                       {u"LatestChapter", &hit.latest},
                                       {u"InfoPageUrl", &hit.infoPageUrl}}) {
                if (document.FindElement(name)) {
                    *field = document.GetElementText();
                }
            }
            document.LeaveElement();
            hits.push_back(hit);
        }
        return hits;
    }

    std::u16string Url(const std::string& path) {
        return site_.Url(path);
    }

    TestSite site_;
    RecordingPort window_;
};

TEST_F(SearchJobTest, HitsOfEverySelectedSiteBecomeRowsAndElementsInOneOrder) {
    WriteSelection("0,1,2,");
    RunToEnd();
    EXPECT_EQ(window_.LastStatus(), u"搜索完成，共搜索到 5 本小说。");
    EXPECT_EQ(window_.GetViewMode(), ViewMode::SearchResults);
    std::vector<ResultRow> rows = window_.Rows();
    std::vector<StoredHit> hits = StoredHits();
    ASSERT_EQ(rows.size(), 5u);
    ASSERT_EQ(hits.size(), 5u);
    int listed = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], Utf8ToWide(std::to_string(i + 1)));
        EXPECT_EQ(rows[i][1], hits[i].site);
        EXPECT_EQ(rows[i][2], hits[i].name);
        EXPECT_EQ(rows[i][3], hits[i].author);
        EXPECT_EQ(rows[i][4], hits[i].latest);
        if (hits[i].site == u"古典书屋") {
            ++listed;
            // Relative links of the result page are stored absolute, resolved against the
            // search address.
            std::string number = std::to_string(listed);
            EXPECT_EQ(hits[i].infoPageUrl, Url("/shuwu/book/" + number + "/"));
        } else {
            EXPECT_EQ(hits[i].site, u"跳转书城");
            EXPECT_EQ(hits[i].name, u"西游记");
            // A relative redirect target is made absolute before it is fetched and stored.
            EXPECT_EQ(hits[i].infoPageUrl, Url("/redirect/novel7.html"));
        }
    }
    EXPECT_EQ(listed, 4);
}

TEST_F(SearchJobTest, ResultFileHasTheDeclarationAndOneLinePerElement) {
    WriteSelection("0,");
    RunToEnd();
    std::string file = temp_.Read("Config/SearchResult.xml");
    std::string expectedStart =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SearchResult>\r\n<TargetSite>";
    EXPECT_EQ(file.substr(0, expectedStart.size()), expectedStart);
    EXPECT_NE(file.find("</TargetSite>\r\n<RuleFile>" + temp_.Path() +
                        "/Rule/a-shuwu.xml</RuleFile>\r\n<NovelName>"),
              std::string::npos)
        << file;
    EXPECT_NE(file.find("</InfoPageUrl>\r\n</SearchResult>\r\n"), std::string::npos) << file;
}

TEST_F(SearchJobTest, Utf8AndGb2312SitesGiveTheSameChineseNames) {
    WriteSelection("0,1,3,");
    RunToEnd();
    std::vector<std::u16string> names;
    std::vector<std::u16string> latest;
    for (const ResultRow& row : window_.Rows()) {
        names.push_back(row[2]);
        latest.push_back(row[4]);
    }
    EXPECT_EQ(window_.LastStatus(), u"搜索完成，共搜索到 7 本小说。");
    for (const std::u16string& expected :
         {std::u16string(u"西游记𠀀"), std::u16string(u"西游记（校注本）"),
          std::u16string(u"后西游记")}) {
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end())
            << WideToUtf8(expected);
    }
    EXPECT_NE(std::find(latest.begin(), latest.end(), u"第一百回 𠀀"), latest.end());
}

TEST_F(SearchJobTest, EmptyBoxStartsNothing) {
    window_.SetSearchText(u"");
    WriteSelection("0,");
    RunSearchCommand(window_, ProgramFolder());
    ASSERT_EQ(window_.Messages().size(), 1u);
    EXPECT_EQ(window_.Messages()[0].text, u"请在文本框中输入要搜索的小说名称或作者名称！");
    EXPECT_EQ(window_.Messages()[0].icon, MessageIcon::Information);
    EXPECT_EQ(window_.SearchButtonCaption(), u"搜索");
    EXPECT_TRUE(window_.Statuses().empty());
    EXPECT_EQ(window_.GetViewMode(), ViewMode::Recommend);
}

TEST_F(SearchJobTest, NewSearchStartsFromAnEmptyListAndFile) {
    temp_.Write("Config/SearchResult.xml",
                "<SearchResult><NovelName>old</NovelName></SearchResult>");
    window_.AppendResultRow({u"1", u"old", u"old", u"old", u"old"});
    WriteSelection("");
    RunToEnd();
    EXPECT_EQ(window_.LastStatus(), u"搜索完成，共搜索到 0 本小说。");
    EXPECT_TRUE(window_.Rows().empty());
    EXPECT_EQ(temp_.Read("Config/SearchResult.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
}

TEST_F(SearchJobTest, StopRefusesWithinThreeSecondsThenCancels) {
    WriteSelection("0,4,");
    RunSearchCommand(window_, ProgramFolder());
    // Pressed again at once: refused, and the search goes on.
    RunSearchCommand(window_, ProgramFolder());
    ASSERT_EQ(window_.Messages().size(), 1u);
    EXPECT_EQ(window_.Messages()[0].text,
              u"搜索任务的启动与终止间隔时间太短（小于3秒），请合理进行操作！");
    EXPECT_EQ(window_.Messages()[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(window_.SearchButtonCaption(), u"停止搜索");
    // As if the search had run for four seconds.
    ProcessSearchState().SearchStartTick = CurrentTick() - 4000;
    RunSearchCommand(window_, ProgramFolder());
    EXPECT_EQ(window_.SearchButtonCaption(), u"搜索");
    ASSERT_TRUE(window_.WaitForStatus(u"搜索任务被终止！"));
    EXPECT_EQ(window_.SearchButtonCaption(), u"搜索");
}

} // namespace
} // namespace velunor
