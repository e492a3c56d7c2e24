// How the download job, the chapter tasks and the on-demand fetch ask a site for its pages:
// redirects followed wherever they lead, addresses kept as the site wrote them, a Referer on
// every chapter and image, refusals never taken for text, and the site's pacing kept across
// jobs. Each test looks at what the local test site received.

#include "library_fixture.h"

#include "cli/console_port.h"
#include "rules/rules.h"
#include "search/search.h"
#include "site/site.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace velunor::testing {
namespace {

const std::u16string kDone = u"下载完成！ ";

std::u16string State(const std::u16string& page) {
    return cli::FindElementInnerHtml(page, u"down_state");
}

bool Has(const std::u16string& text, std::u16string_view part) {
    return text.find(part) != std::u16string::npos;
}

class SiteRequests : public LibraryFixture {
  protected:
    Hit SiteHit(const std::u16string& site, const std::u16string& rule, const std::u16string& name,
                const std::string& infoPath) {
        return {site, rule, name, u"墨白", site_.Url(infoPath)};
    }

    std::u16string ChapterPage(const std::u16string& site, const std::u16string& novel, int n) {
        return ReadPageText(NovelFolder(site, novel) + u"/" + ChapterPageName(n));
    }
};

// The settings every request of the library starts from.
TEST(SiteFetchSettings, RuleFieldsBecomeTheRequestSettings) {
    struct Case {
        const char16_t* interval;
        const char16_t* connections;
        const char16_t* retries;
        long long wantInterval;
        int wantConnections;
        int wantRetries;
    };
    const Case cases[] = {
        {u"", u"", u"", 0, 5, 0},
        {u"250", u"2", u"3", 250, 2, 3},
        {u" 250\r\n", u"\t1 ", u"\n10\n", 250, 1, 10},
        {u"abc", u"two", u"-1", 0, 5, 0},
        {u"1.5", u"2x", u"+1", 0, 5, 0},
        {u"99999999999999999999", u"1 2", u"１", 0, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(WideToUtf8(c.interval) + "|" + WideToUtf8(c.connections) + "|" +
                     WideToUtf8(c.retries));
        CSiteRule rule;
        rule.RequestInterval = c.interval;
        rule.MaxConnections = c.connections;
        rule.RetryCount = c.retries;
        FetchSettings settings = SiteFetchSettings(rule);
        EXPECT_EQ(settings.RequestInterval.count(), c.wantInterval);
        EXPECT_EQ(settings.MaxConnections, c.wantConnections);
        EXPECT_EQ(settings.RetryCount, c.wantRetries);
        EXPECT_TRUE(settings.FollowRedirects);
        EXPECT_TRUE(settings.Referer.empty());
    }
}

TEST(SiteFetchSettings, HeaderLinesAndRefusalsComeFromTheRule) {
    CSiteRule rule;
    rule.Charset = u"Big5";
    rule.RequestHeaders = u"Cookie: a=1\r\n\r\nX-Reader: 閱讀\n";
    rule.BlockedPagePattern = u"請稍候再訪問";
    FetchSettings settings = SiteFetchSettings(rule);
    EXPECT_EQ(settings.Headers, (std::vector<std::string>{"Cookie: a=1", "X-Reader: 閱讀"}));
    ASSERT_TRUE(settings.IsBlocked);
    // The body arrives as the site's bytes: the pattern must meet it in the site's charset.
    std::string big5;
    ASSERT_TRUE(EncodeCharset(u"<p>請稍候再訪問</p>", "BIG5-HKSCS", big5));
    EXPECT_TRUE(settings.IsBlocked(big5));
    std::string page;
    ASSERT_TRUE(EncodeCharset(u"<p>後來的發展</p>", "BIG5-HKSCS", page));
    EXPECT_FALSE(settings.IsBlocked(page));
    EXPECT_TRUE(settings.IsBlocked(
        "<html><head><script>window.location=\"/74_74132/?kabcja=odc5d1\"</script></head>"
        "<body></body></html>"));
    // Copies of the settings outlive the rule they were made from.
    FetchSettings copy;
    {
        CSiteRule passing = rule;
        copy = SiteFetchSettings(passing);
    }
    EXPECT_TRUE(copy.IsBlocked(big5));
}

TEST_F(SiteRequests, RedirectedMixedCaseSiteIsDownloadedWhole) {
    std::u16string rule = InstallRule("novel-moved");
    // The site's addresses are case-sensitive: their lower-case forms do not exist.
    for (const char* lower : {"/novel-moved/book/info.html", "/novel-moved/book/list/",
                              "/novel-moved/book/list/chapter_1.html"}) {
        FetchResult result;
        FetchPage(result, site_.Url(lower));
        EXPECT_EQ(result.StatusCode, 404) << lower;
    }
    const std::u16string site = u"改道站";
    const std::u16string novel = u"改道小说";
    std::string images = NativePath(NovelFolder(site, novel) + u"/images/");
    std::string pictures = TestSite::DefaultRoot() + "/novel-moved/Book/List/Img/";
    // The information page answers each redirect code in turn; the contents answer 303 or 308,
    // chapters 1 to 4 answer 301, 303, 307 and 308, and their images the same codes backwards.
    const std::pair<int, const char*> infoPages[] = {
        {301, "Info.html"},   {302, "Info_B.html"}, {303, "Info.html"},
        {307, "Info_B.html"}, {308, "Info.html"},
    };
    for (const auto& [status, page] : infoPages) {
        SCOPED_TRACE(status);
        // Each address is another novel to the library; each round starts from none.
        std::filesystem::remove_all(NativePath(NovelFolder(site, novel)));
        std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
        RecordingPort port;
        Hit hit = SiteHit(site, rule, novel,
                          "/novel-moved/Go?status=" + std::to_string(status) +
                              "&to=/novel-moved/Book/" + page);
        Download({hit}, 0, port);
        ASSERT_EQ(port.LastStatus(), kDone);
        for (int n = 1; n <= 4; ++n) {
            std::u16string text = ChapterPage(site, novel, n);
            EXPECT_EQ(State(text), u"1") << n;
            EXPECT_TRUE(Has(text, u"第" + DecimalText(n) + u"章：山风猎猎")) << n;
            // The image is named after its chapter page; its address ("Go?...") has no
            // extension of its own.
            std::string name = "Pic_" + std::to_string(n) + ".png";
            std::string stored = std::to_string(n) + "_1";
            EXPECT_TRUE(Has(text, Utf8ToWide("<img src=\"images/" + stored + "\">"))) << n;
            EXPECT_EQ(ReadFileBytes(images + stored), ReadFileBytes(pictures + name)) << n;
        }
    }
    std::u16string contents = ReadPageText(NovelFolder(site, novel) + u"/ContentsPage.html");
    EXPECT_EQ(Count(contents, u".html\">第"), 6u);
}

TEST_F(SiteRequests, ChapterAndImageRequestsNameWhereTheyWereFound) {
    std::u16string rule = InstallRule("novel-moved");
    const std::u16string site = u"改道站";
    const std::u16string novel = u"改道小说";
    Hit hit = SiteHit(site, rule, novel, "/novel-moved/Go?to=/novel-moved/Book/Info.html");
    std::string echoedImage = NativePath(NovelFolder(site, novel) + u"/images/6_1.png");

    Download(hit);
    ASSERT_EQ(port_.LastStatus(), kDone);
    // The contents address is the one the redirect led to.
    std::string contents = WideToUtf8(site_.Url("/novel-moved/Book/List/"));
    EXPECT_EQ(ShownChapterText(ChapterPage(site, novel, 5)), Utf8ToWide("Referer: " + contents));
    std::string image = ReadFileBytes(echoedImage);
    EXPECT_NE(image.find("\r\nReferer: " + contents + "Echo_Page.html\r\n"), std::string::npos)
        << image;

    // A Referer of the rule's own goes with every request instead.
    AddToRule(rule, "<RequestHeaders>Referer: http://elsewhere.example/\r\n"
                    "X-Reader: velunor</RequestHeaders>\n");
    // Downloaded afresh, not updated: an update would keep the stored chapters.
    std::filesystem::remove_all(NativePath(NovelFolder(site, novel)));
    RecordingPort again;
    Download({hit}, 0, again);
    ASSERT_EQ(again.LastStatus(), kDone);
    EXPECT_EQ(ShownChapterText(ChapterPage(site, novel, 5)), u"Referer: http://elsewhere.example/");
    image = ReadFileBytes(echoedImage);
    EXPECT_NE(image.find("\r\nReferer: http://elsewhere.example/\r\n"), std::string::npos) << image;
    EXPECT_EQ(image.find("Referer:"), image.rfind("Referer:")) << image;
    EXPECT_NE(image.find("\r\nX-Reader: velunor\r\n"), std::string::npos) << image;
}

TEST_F(SiteRequests, RefusedChapterIsNeverStoredAndIsFetchedAgainLater) {
    std::u16string rule = InstallRule("novel-guarded");
    const std::u16string site = u"守卫站";
    const std::u16string novel = u"守卫小说77";
    Download(SiteHit(site, rule, novel, "/novel-guarded/book/77.html"));
    const std::u16string refused = Site(LoadSiteRule(rule)).BlockedMessage();
    EXPECT_NE(refused.find(site), std::u16string::npos);
    EXPECT_EQ(port_.LastStatus(), DownloadDone(2) + refused);
    std::vector<std::u16string> statuses = port_.Statuses();
    EXPECT_GE(std::count(statuses.begin(), statuses.end(), refused), 2);
    // A challenge script and a page the rule names as a refusal both fail their chapter.
    for (int n : {1, 2}) {
        std::u16string page = ChapterPage(site, novel, n);
        EXPECT_EQ(State(page), u"-1") << n;
        EXPECT_EQ(ShownChapterText(page), FailedChapterNotice(u"目标站拒绝访问")) << n;
        EXPECT_FALSE(Has(page, u"kabcja")) << n;
        EXPECT_FALSE(Has(page, u"访问过于频繁")) << n;
    }
    EXPECT_EQ(State(ChapterPage(site, novel, 3)), u"1");

    // The site lets the second request through.
    std::u16string path = NovelFolder(site, novel) + u"/1.html";
    std::u16string page = ReadPageText(path);
    RecordingPort window;
    for (const char16_t* id :
         {u"rule_file_path", u"chapter_url", u"chapter_save_file", u"down_state"}) {
        window.SetElement(id, cli::FindElementInnerHtml(page, id));
    }
    OnDemandChapterFetch(&window, program_);
    page = ReadPageText(path);
    EXPECT_EQ(State(page), u"1");
    EXPECT_TRUE(Has(page, u"守卫第1章"));
    EXPECT_EQ(window.LastStatus(), u"成功下载本章节！");

    // A page the rule names as a refusal fails an on-demand fetch with the same words.
    path = NovelFolder(site, novel) + u"/2.html";
    page = ReadPageText(path);
    RecordingPort refusedWindow;
    for (const char16_t* id :
         {u"rule_file_path", u"chapter_url", u"chapter_save_file", u"down_state"}) {
        refusedWindow.SetElement(id, cli::FindElementInnerHtml(page, id));
    }
    OnDemandChapterFetch(&refusedWindow, program_);
    EXPECT_EQ(refusedWindow.LastStatus(), refused);
    ASSERT_EQ(refusedWindow.Messages().size(), 1u);
    EXPECT_EQ(refusedWindow.Messages()[0].text, refused);
    EXPECT_EQ(State(ReadPageText(path)), u"-1");
}

TEST_F(SiteRequests, RetriesPassAChallengeOnTheSecondAsk) {
    std::u16string rule = InstallRule("novel-guarded");
    AddToRule(rule, "<RetryCount>2</RetryCount>\n");
    const std::u16string site = u"守卫站";
    const std::u16string novel = u"守卫小说77";
    Download(SiteHit(site, rule, novel, "/novel-guarded/book/77.html"));
    EXPECT_EQ(State(ChapterPage(site, novel, 1)), u"1");
    EXPECT_TRUE(Has(ChapterPage(site, novel, 1), u"守卫第1章"));
    EXPECT_EQ(RequestCount("/novel-guarded/77/1.html"), 2u);
    // A site that refuses every time is asked once and twice again, and the chapter still fails.
    EXPECT_EQ(State(ChapterPage(site, novel, 2)), u"-1");
    EXPECT_EQ(RequestCount("/novel-guarded/77/2.html"), 3u);
}

TEST_F(SiteRequests, RefusedInformationOrContentsPageStopsTheJob) {
    std::u16string rule = InstallRule("novel-guarded");
    for (const char* info : {"78", "79"}) {
        SCOPED_TRACE(info);
        RecordingPort port;
        port.SetViewMode(ViewMode::Reading);
        Download({SiteHit(u"守卫站", rule, u"守卫小说",
                          "/novel-guarded/book/" + std::string(info) + ".html")},
                 0, port);
        EXPECT_EQ(port.LastStatus(), Site(LoadSiteRule(rule)).BlockedMessage());
        EXPECT_EQ(port.GetViewMode(), ViewMode::SearchResults);
    }
    EXPECT_FALSE(Exists(temp_.File("Novel")));
}

// The most requests the site was serving at one moment.
int MostAtOnce(const std::vector<LoggedRequest>& log) {
    int most = 0;
    for (const LoggedRequest& entry : log) {
        auto serving = [&](const LoggedRequest& other) {
            return other.arrived <= entry.arrived && entry.arrived < other.answered;
        };
        most = std::max(most, static_cast<int>(std::count_if(log.begin(), log.end(), serving)));
    }
    return most;
}

TEST_F(SiteRequests, AtMostMaxConnectionsRequestsAreInFlight) {
    std::u16string rule = InstallRule("novel-busy");
    AddToRule(rule, "<MaxConnections>2</MaxConnections>\n");
    Download(SiteHit(u"忙站", rule, u"忙碌小说A", "/novel-busy/a/info.html"));
    ASSERT_EQ(port_.LastStatus(), kDone);
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(State(ChapterPage(u"忙站", u"忙碌小说A", n)), u"1") << n;
    }
    std::vector<LoggedRequest> log = Requests("/novel-busy/");
    EXPECT_EQ(log.size(), 8u);
    EXPECT_LE(MostAtOnce(log), 2);
}

TEST_F(SiteRequests, RequestIntervalSpacesTheRequestsOfTwoDownloadsAndASearch) {
    constexpr double kInterval = 150;
    // The server notes a request when it has read it, a little after the client sent it.
    constexpr double kClockSlack = 35;
    std::u16string rule = InstallRule("novel-busy");
    AddToRule(rule, "<RequestInterval>150</RequestInterval>\n");
    Hit first = SiteHit(u"忙站", rule, u"忙碌小说A", "/novel-busy/a/info.html");
    Hit second = SiteHit(u"忙站", rule, u"忙碌小说B", "/novel-busy/b/info.html");
    WriteSearchResults({first, second});
    RecordingPort one;
    RecordingPort two;
    for (RecordingPort* port : {&one, &two}) {
        port->AppendResultRow({u"1", first.site, first.name, first.author, u""});
        port->AppendResultRow({u"2", second.site, second.name, second.author, u""});
    }
    one.SelectRow(0);
    two.SelectRow(1);
    // The busy site's rule sorts first in Rule/, so a search asks it alone.
    temp_.Write("Config/TargetSiteSelect.xml",
                "<TargetSiteSelect>\r\n<Selected>0,</Selected>\r\n</TargetSiteSelect>\r\n");
    RecordingPort searcher;
    searcher.SetSearchText(u"忙碌");
    std::thread a([&] { DownloadOpenedNovel(one, program_); });
    std::thread b([&] { DownloadOpenedNovel(two, program_); });
    // Once both downloads have found their hits, a new search may replace the result file.
    ASSERT_TRUE(one.WaitForStatus(u"正在提取小说信息……"));
    ASSERT_TRUE(two.WaitForStatus(u"正在提取小说信息……"));
    SearchController search(searcher, program_);
    search.RunCommand();
    a.join();
    b.join();
    ASSERT_TRUE(searcher.WaitUntil([&] { return !search.IsRunning(); }));
    while (!search.IsIdle()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(one.LastStatus(), kDone);
    ASSERT_EQ(two.LastStatus(), kDone);
    std::vector<LoggedRequest> log = Requests("/novel-busy/");
    ASSERT_EQ(log.size(), 17u);
    EXPECT_EQ(Requests("/novel-busy/search?").size(), 1u);
    for (size_t i = 1; i < log.size(); ++i) {
        EXPECT_GE(log[i].arrived - log[i - 1].arrived, kInterval - kClockSlack)
            << log[i - 1].target << " then " << log[i].target;
    }
    for (const char16_t* novel : {u"忙碌小说A", u"忙碌小说B"}) {
        for (int n = 1; n <= 6; ++n) {
            EXPECT_EQ(State(ChapterPage(u"忙站", novel, n)), u"1") << n;
        }
    }
}

} // namespace
} // namespace velunor::testing
