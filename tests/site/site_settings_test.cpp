#include "site/site.h"

#include "core/core.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

namespace velunor {
namespace {

// What a rule file says of its site's manners, read as leniently as rule authors write it:
// anything that is not a plain number keeps the default, and no rule can ask for endless retries.
TEST(SiteFetchSettings, RuleMannersWithTheirDefaultsAndLimits) {
    CSiteRule rule;
    FetchSettings defaults = SiteFetchSettings(rule);
    EXPECT_TRUE(defaults.FollowRedirects);
    EXPECT_EQ(defaults.RequestInterval.count(), 0);
    EXPECT_EQ(defaults.MaxConnections, 5);
    EXPECT_EQ(defaults.RetryCount, 0);
    EXPECT_TRUE(defaults.Headers.empty());

    rule.RequestInterval = u" 250 ";
    rule.MaxConnections = u"2";
    rule.RetryCount = u"1000";
    rule.RequestHeaders = u"User-Agent: x\r\nCookie: a=1\r\n";
    FetchSettings given = SiteFetchSettings(rule);
    EXPECT_EQ(given.RequestInterval.count(), 250);
    EXPECT_EQ(given.MaxConnections, 2);
    EXPECT_EQ(given.RetryCount, 10);
    EXPECT_EQ(given.Headers, (std::vector<std::string>{"User-Agent: x", "Cookie: a=1"}));

    for (const char16_t* bad : {u"-3", u"2s", u"abc", u"99999999999999999999"}) {
        rule.RequestInterval = bad;
        rule.MaxConnections = bad;
        FetchSettings fallback = SiteFetchSettings(rule);
        EXPECT_EQ(fallback.RequestInterval.count(), 0) << WideToUtf8(bad);
        EXPECT_EQ(fallback.MaxConnections, 5) << WideToUtf8(bad);
    }
}

// The blocked-page test reads the body in the site's own charset before the rule's patterns
// look at it.
TEST(SiteFetchSettings, BlockedPagesAreReadInTheSitesCharset) {
    CSiteRule rule;
    rule.Charset = u"UTF-8";
    rule.BlockedPagePattern = u"访问太频繁";
    FetchSettings settings = SiteFetchSettings(rule);
    ASSERT_TRUE(settings.IsBlocked);
    EXPECT_TRUE(settings.IsBlocked(WideToUtf8(u"<p>访问太频繁，请稍后再试</p>")));
    EXPECT_FALSE(settings.IsBlocked(WideToUtf8(u"<p>第一章 正文</p>")));
    EXPECT_EQ(Site(rule).BlockedMessage(),
              u"目标站 <> 拒绝了访问（访问过快或需要验证），请稍后再试。");
}

// A page that never ends, or a compressed one that inflates past the page limit, fails that page
// as too large, whether it is a chapter or a search page, and never holds more than the limit.
TEST(SitePages, LargerThanThePageLimitFailAsTooLarge) {
    testing::TestSite server;
    CSiteRule rule;
    rule.Charset = u"UTF-8";
    rule.SearchPage.SearchPageUrlFormat = server.Url("/fetch/endless?q={KEY}");
    Site site(rule);
    std::vector<SiteError> errors;
    for (const char* path : {"/fetch/endless", "/fetch/gzip-bomb"}) {
        errors.push_back(FetchChapter(site, server.Url(path), {}).Error);
    }
    errors.push_back(SearchSite(site, u"西游").Error);
    for (const SiteError& error : errors) {
        SCOPED_TRACE(WideToUtf8(error.Url));
        EXPECT_EQ(error.Kind, SiteErrorKind::Limit);
        EXPECT_TRUE(error.TooLarge);
        EXPECT_EQ(ReaderReason(error), u"网页过大（超过 64 MB）");
    }
}

} // namespace
} // namespace velunor
