#include "search/search.h"

#include "results/search_result_file.h"
#include "search_fixture.h"
#include "support/recording_port.h"
#include "support/test_site.h"
#include "support/wait.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

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
        InstallRule("g-silent.xml", "g-silent.xml", site_);
        window_.SetSearchText(u"西游");
        search_ = std::make_unique<SearchController>(window_, ProgramFolder());
    }

    // No search thread may outlive the window port it reports to.
    void TearDown() override {
        EXPECT_TRUE(WaitForIdle(std::chrono::seconds(10)));
        ProgramFolderTest::TearDown();
    }

    bool WaitForIdle(std::chrono::milliseconds limit) {
        return testing::WaitUntil([this] { return search_->IsIdle(); }, limit);
    }

    // The stop command as if the search had run for four seconds, past the refusal.
    void StopAsIfLate() {
        search_->Stop();
    }

    void RunToEnd() {
        search_->RunCommand();
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
    std::unique_ptr<SearchController> search_;
};

TEST_F(SearchJobTest, HitsOfEverySelectedSiteBecomeRowsAndElementsInOneOrder) {
    WriteSelection("0,1,2,");
    RunToEnd();
    // The broken site answers with an error: the final line names it.
    EXPECT_EQ(window_.LastStatus(), u"搜索完成，共搜索到 5 本小说。（1 个站点无法访问：故障站）");
    EXPECT_EQ(window_.GetViewMode(), ViewMode::SearchResults);
    std::vector<ResultRow> rows = window_.Rows();
    std::vector<StoredHit> hits = StoredHits();
    ASSERT_EQ(rows.size(), 5u);
    ASSERT_EQ(hits.size(), 5u);
    int listed = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].Number, Utf8ToWide(std::to_string(i + 1)));
        EXPECT_EQ(rows[i].SiteName, hits[i].site);
        EXPECT_EQ(rows[i].NovelName, hits[i].name);
        EXPECT_EQ(rows[i].NovelAuthor, hits[i].author);
        EXPECT_EQ(rows[i].LatestChapter, hits[i].latest);
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
        names.push_back(row.NovelName);
        latest.push_back(row.LatestChapter);
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
    search_->RunCommand();
    ASSERT_EQ(window_.Messages().size(), 1u);
    EXPECT_EQ(window_.Messages()[0].text, u"请在文本框中输入要搜索的小说名称或作者名称！");
    EXPECT_EQ(window_.Messages()[0].icon, MessageIcon::Information);
    EXPECT_EQ(window_.SearchButtonCaption(), u"搜索");
    EXPECT_TRUE(window_.Statuses().empty());
    EXPECT_EQ(window_.GetViewMode(), ViewMode::Recommend);
}

// With no site selected nothing starts: the last results stay, and the status line says what to
// do. A search that asks sites starts from an empty list and file.
TEST_F(SearchJobTest, NewSearchStartsFromAnEmptyListAndFileOnlyWhenItAsksSites) {
    const std::string old = "<SearchResult><NovelName>old</NovelName></SearchResult>";
    temp_.Write("Config/SearchResult.xml", old);
    window_.AppendResultRow({u"1", u"old", u"old", u"old", u"old"});
    WriteSelection("");
    search_->RunCommand();
    EXPECT_EQ(window_.LastStatus(), kNoSiteSelectedStatus);
    EXPECT_EQ(window_.SearchButtonCaption(), u"搜索");
    EXPECT_EQ(window_.Rows().size(), 1u);
    EXPECT_EQ(temp_.Read("Config/SearchResult.xml"), old);
    EXPECT_TRUE(search_->IsIdle());

    WriteSelection("2,");
    RunToEnd();
    EXPECT_EQ(window_.LastStatus(), u"搜索完成，共搜索到 0 本小说。（1 个站点无法访问：故障站）");
    EXPECT_TRUE(window_.Rows().empty());
    EXPECT_EQ(temp_.Read("Config/SearchResult.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
}

TEST_F(SearchJobTest, StopRefusesWithinThreeSecondsThenCancels) {
    WriteSelection("0,4,");
    search_->RunCommand();
    // Pressed again at once: refused, and the search goes on.
    search_->RunCommand();
    ASSERT_EQ(window_.Messages().size(), 1u);
    EXPECT_EQ(window_.Messages()[0].text,
              u"搜索任务的启动与终止间隔时间太短（小于3秒），请合理进行操作！");
    EXPECT_EQ(window_.Messages()[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(window_.SearchButtonCaption(), u"停止搜索");
    StopAsIfLate();
    EXPECT_EQ(window_.SearchButtonCaption(), u"搜索");
    ASSERT_TRUE(window_.WaitForStatus(u"搜索任务被终止！"));
    EXPECT_EQ(window_.SearchButtonCaption(), u"搜索");
}

// A result file that cannot be written would leave hits that cannot be opened, or let the
// download open a hit of an earlier search: such a search asks no site and says why.
TEST_F(SearchJobTest, UnwritableResultFileStopsTheSearchBeforeAnySiteIsAsked) {
    ASSERT_TRUE(CreateFolderPath(temp_.WideFile("Config/SearchResult.xml/in-the-way")));
    WriteSelection("0,");
    search_->RunCommand();
    ASSERT_TRUE(WaitForIdle(std::chrono::seconds(10)));
    EXPECT_EQ(window_.LastStatus(), kNoResultFileStatus);
    EXPECT_TRUE(window_.Rows().empty());
    EXPECT_TRUE(ReadSearchHits(ProgramFolder()).empty());
    EXPECT_EQ(window_.SearchButtonCaption(), u"搜索");
    EXPECT_FALSE(search_->IsRunning());
}

// The stop command returns while the site still waits for its answer; the site goes on for the
// three-second pause, and then its transfer, which would otherwise wait ten minutes for the
// answer, ends.
TEST_F(SearchJobTest, StopNeverBlocksTheCallerAndEndsASiteThatNeverAnswers) {
    WriteSelection("5,");
    search_->RunCommand();
    ASSERT_TRUE(search_->IsRunning());
    auto stopped = std::chrono::steady_clock::now();
    StopAsIfLate();
    EXPECT_FALSE(search_->IsIdle());
    EXPECT_FALSE(search_->IsRunning());
    EXPECT_EQ(window_.SearchButtonCaption(), u"搜索");

    ASSERT_TRUE(WaitForIdle(testing::kHangLimit));
    // Not cut short: the cancel came no sooner than the pause allows.
    EXPECT_GE(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(3000));
    EXPECT_EQ(window_.LastStatus(), u"搜索任务被终止！");
}

// A search stopped and then overtaken by a new one during the pause: its late hits, its end and
// its cancel all belong to it alone. The slow site answers 4 s after each search asked it, so
// the old search's answer would arrive while the new one still waits for its own.
TEST_F(SearchJobTest, OvertakenSearchLeavesTheNewOneAlone) {
    constexpr int kSlowSiteHits = 1;
    WriteSelection("4,");
    search_->RunCommand();
    StopAsIfLate();
    WriteSelection("0,4,");
    search_->RunCommand();
    ASSERT_TRUE(search_->IsRunning());

    // The old search ends first; the new one must still be running afterwards.
    auto oldEnded = [this] { return search_->LiveSearches() <= 1; };
    ASSERT_TRUE(testing::WaitUntil(oldEnded));
    EXPECT_TRUE(search_->IsRunning());
    EXPECT_EQ(window_.SearchButtonCaption(), u"停止搜索");
    // The old search's pause ends while the new one still waits for the slow site: were its
    // cancel to land on the new search, the new one would end stopped, without the slow hits.
    ASSERT_TRUE(WaitForIdle(testing::kHangLimit));
    std::vector<ResultRow> rows = window_.Rows();
    std::vector<StoredHit> hits = StoredHits();
    ASSERT_EQ(rows.size(), hits.size());
    std::u16string total = Utf8ToWide(std::to_string(rows.size()));
    EXPECT_EQ(window_.LastStatus(), u"搜索完成，共搜索到 " + total + u" 本小说。");
    int slowHits = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].Number, Utf8ToWide(std::to_string(i + 1)));
        EXPECT_EQ(rows[i].NovelName, hits[i].name);
        slowHits += hits[i].site == u"古典书屋" ? 0 : 1;
    }
    // The slow site's hits once, from the new search, never twice.
    EXPECT_EQ(rows.size() - static_cast<size_t>(slowHits), 4u);
    EXPECT_EQ(slowHits, kSlowSiteHits);
}

// A hit in the list is in the file by the time anyone reads the file, while the search still
// runs.
TEST_F(SearchJobTest, ReadersSeeEveryListedHitWhileTheSearchRuns) {
    WriteSelection("0,4,");
    search_->RunCommand();
    ASSERT_TRUE(window_.WaitUntil([&] { return window_.Rows().size() == 4; }));
    std::vector<ResultRow> rows = window_.Rows();
    std::vector<SearchHit> hits = ReadSearchHits(ProgramFolder());
    ASSERT_GE(hits.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(hits[i].NovelName, rows[i].NovelName);
        EXPECT_EQ(hits[i].InfoPageUrl, Url("/shuwu/book/" + std::to_string(i + 1) + "/"));
    }
    EXPECT_TRUE(search_->IsRunning());
}

// A site listing more than the result file can hold: the rows stop where the file does, every
// listed row reads back, and the last status line says how many hits were left out. Each name of
// a thousand "&" takes five times its size in the file, so a 15 MB page overfills it.
TEST_F(SearchJobTest, HitsBeyondTheResultFileLimitAreCountedNotListed) {
    std::string rule =
        site_.RuleFile(std::string(VELUNOR_TEST_DATA) + "/search/rules/e-slow.xml", "0");
    rule.replace(rule.find("/slow/search?"), 13, "/slow/flood?");
    temp_.Write("Rule/h-flood.xml", rule);
    WriteSelection("6,");
    RunToEnd();
    size_t listed = window_.Rows().size();
    ASSERT_GT(listed, 0u);
    ASSERT_LT(listed, 14000u);
    std::vector<SearchHit> hits = ReadSearchHits(ProgramFolder());
    ASSERT_EQ(hits.size(), listed);
    EXPECT_EQ(hits.back().NovelName, std::u16string(1000, u'&'));
    EXPECT_EQ(search_->LastOutcome().Unlisted, 14000u - listed);
    EXPECT_EQ(window_.LastStatus(),
              u"搜索完成，共搜索到 " + DecimalText(static_cast<long long>(listed)) +
                  u" 本小说。（另有 " + DecimalText(static_cast<long long>(14000 - listed)) +
                  u" 本小说因结果过多未列出，请换用更确切的名称搜索）");
}

} // namespace
} // namespace velunor
