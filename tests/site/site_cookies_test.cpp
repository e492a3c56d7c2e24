#include "core/core.h"
#include "net/cookie_jar.h"
#include "site/site.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

namespace velunor {
namespace {

// A site that sets its session cookie on the search page and refuses every other page without
// it: the cookie set by the search goes with the information page, the contents, the chapter
// and its image, and a rule of another name on the same host has no share in it.
TEST(SiteCookies, TheSearchCookieOpensEveryPageOfThatSiteOnly) {
    testing::TestSite server;
    testing::TempFolder config;
    SetCookieFolder(config.WidePath() + u"/Cookies/");
    std::string ruleFile = config.Write(
        "rule.xml", server.RuleFile(std::string(VELUNOR_TEST_DATA) + "/rule-check/cookies.xml"));
    CSiteRule rule = LoadSiteRule(Utf8ToWide(ruleFile));
    CSiteRule stranger = rule;
    stranger.SiteName = u"生站";
    Site site(rule);
    Site other(stranger);

    SiteSearchAnswer search = SearchSite(site, u"饼干");
    ASSERT_FALSE(search.Error.Failed()) << WideToUtf8(TechnicalReason(search.Error));
    ASSERT_EQ(search.Hits.size(), 1u);
    VisitedAddresses visited;
    NovelInfoPage info = ReadInfoPage(site, search.Hits[0].InfoPageUrl, visited);
    ASSERT_TRUE(info.Page.Ok()) << WideToUtf8(TechnicalReason(info.Page.Error));
    EXPECT_EQ(info.Info.NovelName, u"饼干记");
    NovelContents contents =
        ReadContentsPages(site, FirstContentsPage(site, info, visited), visited, {});
    ASSERT_EQ(contents.Chapters.ChapterUrl.size(), 1u);
    FetchedChapter chapter = FetchChapter(site, contents.Chapters.ChapterUrl[0], {});
    ASSERT_TRUE(chapter.Ok()) << WideToUtf8(TechnicalReason(chapter.Error));
    ASSERT_EQ(chapter.Pages[0].Images.size(), 1u);
    std::u16string image = chapter.Pages[0].Images[0];
    CompleteUrl(chapter.Pages[0].Url, image);
    EXPECT_FALSE(site.FetchImage(image, chapter.Pages[0].Url, config.WideFile("pic.png")).Failed());

    SitePage refused = other.FetchPage(search.Hits[0].InfoPageUrl, u"");
    EXPECT_EQ(refused.Error.HttpStatus, 403);
    EXPECT_EQ(
        other.FetchImage(image, chapter.Pages[0].Url, config.WideFile("other.png")).HttpStatus,
        403);

    SaveCookieJars();
    EXPECT_EQ(SitesWithCookieFiles(), std::vector<std::u16string>{u"饼站"});
    SetCookieFolder({});
}

} // namespace
} // namespace velunor
