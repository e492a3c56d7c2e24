// Pages only a browser can read, loaded through velunor-cli's renderer program: a chapter behind
// a script challenge that sets a cookie, a search that only the page's script submits, and the
// ways a browser load ends without a page.

#include "cli/child_page_renderer.h"
#include "core/core.h"
#include "site/site.h"
#include "support/renderer_program.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

namespace velunor {
namespace {

class BrowserPagesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // One renderer program for the whole suite, as velunor-cli keeps one for its run.
        InstallPageRenderer(std::make_shared<cli::CChildPageRenderer>(testing::RendererProgram()));
    }
    static void TearDownTestSuite() {
        InstallPageRenderer(nullptr);
    }

    // The scripted site's rule under a name of its own, so that each test starts with an
    // empty cookie jar.
    CSiteRule Rule(std::u16string_view siteName) {
        std::string file =
            folder_.Write("scripted.xml", site_.RuleFile(std::string(VELUNOR_TEST_DATA) +
                                                         "/rule-check/scripted.xml"));
        CSiteRule rule = LoadSiteRule(Utf8ToWide(file));
        rule.SiteName = siteName;
        return rule;
    }

    testing::TestSite site_;
    testing::TempFolder folder_;
};

// A plain request meets the challenge and is refused; with UseBrowser 2 the browser runs the
// challenge's script and gets the chapter, and the cookie it was given lets the next chapter
// through a plain request; with UseBrowser 1 every page goes to the browser.
TEST_F(BrowserPagesTest, AChallengedChapterPassesInTheBrowserAndItsCookieOpensTheNext) {
    CSiteRule plainRule = Rule(u"脚本站甲");
    plainRule.ContentPageUseBrowser = u"0";
    FetchedChapter refused = FetchChapter(Site(plainRule), site_.Url("/scripted/c1.html"), {});
    EXPECT_EQ(refused.Error.Kind, SiteErrorKind::Refused)
        << WideToUtf8(TechnicalReason(refused.Error));

    Site site(Rule(u"脚本站乙"));
    FetchedChapter first = FetchChapter(site, site_.Url("/scripted/c1.html"), {});
    ASSERT_TRUE(first.Ok()) << WideToUtf8(TechnicalReason(first.Error));
    EXPECT_TRUE(first.ThroughBrowser);
    EXPECT_NE(first.Challenge.find(u"正在检查您的浏览器"), std::u16string::npos);
    EXPECT_NE(first.Pages[0].Text.find(u"第一章 起锚的正文"), std::u16string::npos);
    FetchedChapter second = FetchChapter(site, site_.Url("/scripted/c2.html"), {});
    ASSERT_TRUE(second.Ok()) << WideToUtf8(TechnicalReason(second.Error));
    EXPECT_FALSE(second.ThroughBrowser) << "the browser's cookie went into the site's jar";

    CSiteRule always = Rule(u"脚本站丙");
    always.UseBrowser = u"1";
    always.ContentPageUseBrowser.clear();
    FetchedChapter third = FetchChapter(Site(always), site_.Url("/scripted/c3.html"), {});
    ASSERT_TRUE(third.Ok()) << WideToUtf8(TechnicalReason(third.Error));
    EXPECT_TRUE(third.ThroughBrowser);
}

// The rule's script fills in the page's search box and calls the page's own function; the page
// it leads to is read as the result list. A quote in the key stays part of the key.
TEST_F(BrowserPagesTest, AScriptBuiltSearchReadsThePageItLeadsTo) {
    Site site(Rule(u"脚本站丁"));
    SiteSearchAnswer answer = SearchSite(site, u" 夜航\"船 ");
    ASSERT_FALSE(answer.Error.Failed()) << WideToUtf8(TechnicalReason(answer.Error));
    EXPECT_TRUE(answer.Page.ThroughBrowser);
    EXPECT_NE(answer.Page.Url.find(u"results.html?q=%E5%A4%9C%E8%88%AA%22%E8%88%B9&by=script"),
              std::u16string::npos)
        << WideToUtf8(answer.Page.Url);
    ASSERT_EQ(answer.Hits.size(), 1u);
    EXPECT_EQ(answer.Hits[0].NovelName, u"夜航船");
    EXPECT_EQ(answer.Hits[0].InfoPageUrl, site_.Url("/scripted/book.html"));
}

// Each way a browser load ends without a page keeps its reason.
TEST_F(BrowserPagesTest, ALoadThatGivesNoPageSaysWhy) {
    struct Case {
        const char* what;
        const char* path;
        std::shared_ptr<PageRenderer> renderer;
        bool cancel;
        SiteErrorKind kind;
        std::u16string_view reason;
    };
    auto installed = InstalledPageRenderer();
    const Case cases[] = {
        {"a challenge that never lets the browser through", "/scripted/never.html", installed,
         false, SiteErrorKind::Refused, u"目标站拒绝访问"},
        {"a page that never finishes loading", "/scripted/stall.html", installed, false,
         SiteErrorKind::TimedOut, u"连接超时"},
        {"a stop while the page loads", "/scripted/stall.html", installed, true,
         SiteErrorKind::Cancelled, u"已取消"},
        {"no browser in the program", "/scripted/book.html", nullptr, false,
         SiteErrorKind::NoBrowser, u"需要浏览器的页面无法读取：本程序没有可用的浏览器"},
        {"no renderer program beside velunor-cli", "/scripted/book.html",
         std::make_shared<cli::CChildPageRenderer>(folder_.File("velunor-renderer")), false,
         SiteErrorKind::NoBrowser, u"需要浏览器的页面无法读取：找不到浏览器渲染程序"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallPageRenderer(c.renderer);
        CSiteRule rule = Rule(u"脚本站戊");
        rule.BrowserTimeout = u"2";
        rule.RetryCount = u"0";
        std::atomic<int> asked{0};
        // Stops once the load has surely begun: the renderer asks every 50 ms or so.
        CancelTest stop = [&] { return c.cancel && ++asked > 10; };
        Site site(rule);
        SitePage page = site.RenderPage(site_.Url(c.path), site.RequestSettings(u"", stop));
        EXPECT_EQ(page.Error.Kind, c.kind) << WideToUtf8(TechnicalReason(page.Error));
        EXPECT_TRUE(ReaderReason(page.Error).starts_with(c.reason))
            << WideToUtf8(ReaderReason(page.Error));
    }
    InstallPageRenderer(installed);
}

// A page's scripts cannot leave the web: a window they open is refused, a file address is not
// read, and a download they start is dropped; the page itself is read as usual.
TEST_F(BrowserPagesTest, APageGetsNothingBeyondTheWeb) {
    Site site(Rule(u"脚本站己"));
    SitePage page = site.RenderPage(site_.Url("/scripted/escape.html"), site.RequestSettings(u""));
    ASSERT_TRUE(page.Ok()) << WideToUtf8(TechnicalReason(page.Error));
    EXPECT_EQ(page.Url, site_.Url("/scripted/escape.html"));
    EXPECT_NE(page.Text.find(u"data-popup=\"refused\""), std::u16string::npos);
    EXPECT_NE(page.Text.find(u"data-file=\"refused\""), std::u16string::npos);
    EXPECT_NE(page.Text.find(u"正文在此"), std::u16string::npos);
}

} // namespace
} // namespace velunor
