#include "core/core.h"
#include "site/site.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <string>

namespace velunor {
namespace {

// What the fixture pages say, "喆" being a character that GB2312 lacks but GBK has.
constexpr char16_t kPhrase[] = u"雾港夜航·小喆";

// A page is read in the charset it declares, in browsers' order, before the rule's: a mark at
// the start beats the header, the header beats the markup, a meta far down a long head still
// counts, a name nothing knows is passed over, and the GB family reads as GB18030.
TEST(PageCharset, WhatThePageDeclaresDecidesBeforeTheRule) {
    testing::TestSite server;
    struct Case {
        const char* path;
        const char16_t* ruleCharset;
        const char* encoding;
        CharsetSource source;
    };
    const Case kCases[] = {
        {"/charset/header.html", u"GBK", "UTF-8", CharsetSource::Header},
        {"/charset/header-gbk.html", u"UTF-8", "GB18030", CharsetSource::Header},
        {"/charset/bom.html", u"GBK", "UTF-8", CharsetSource::ByteOrderMark},
        {"/charset/bom16.html", u"GBK", "UTF-16LE", CharsetSource::ByteOrderMark},
        {"/charset/meta.html", u"GBK", "UTF-8", CharsetSource::Meta},
        {"/charset/meta-equiv.html", u"GBK", "UTF-8", CharsetSource::Meta},
        {"/charset/unknown.html", u"GBK", "UTF-8", CharsetSource::Meta},
        {"/charset/gb2312.html", u"UTF-8", "GB18030", CharsetSource::Meta},
        {"/charset/none.html", u"utf-8", "UTF-8", CharsetSource::Rule},
        {"/charset/none.html", u"no-such-charset", "GB18030", CharsetSource::Rule},
    };
    for (const Case& test : kCases) {
        CSiteRule rule;
        rule.Charset = test.ruleCharset;
        SitePage page = Site(rule).FetchPage(RulePage::Info, server.Url(test.path), u"");
        ASSERT_TRUE(page.Ok()) << test.path;
        EXPECT_EQ(page.Charset.Encoding, test.encoding) << test.path;
        EXPECT_EQ(page.Charset.Source, test.source) << test.path;
        // A page read in the rule's unknown charset is code page 936 of UTF-8 bytes.
        bool readable = test.source != CharsetSource::Rule || rule.Charset == u"utf-8";
        EXPECT_EQ(page.Text.find(kPhrase) != std::u16string::npos, readable) << test.path;
        EXPECT_TRUE(page.Text.starts_with(u"<html>")) << test.path;
    }
}

// A site without a search of its own sends the key to a search engine on another host whose
// pages are UTF-8: SearchCharset encodes the key for it and reads its answer even against a
// wrong meta; without it the key goes in the site's charset and a header declaring UTF-8 is
// enough to read the answer.
TEST(PageCharset, SearchThroughAnotherHost) {
    testing::TestSite server;
    std::u16string engine = u"http://localhost:" + Utf8ToWide(std::to_string(server.Port()));
    struct Case {
        const char16_t* path;
        const char16_t* searchCharset;
        CharsetSource source;
    };
    const Case kCases[] = {
        {u"/charset/so?q={KEY}", u"UTF-8", CharsetSource::SearchCharset},
        {u"/charset/so-header?q={KEY}", u"", CharsetSource::Header},
    };
    for (const Case& test : kCases) {
        CSiteRule rule;
        rule.Charset = u"GBK";
        rule.SearchPage.SearchPageUrlFormat = engine + test.path;
        rule.SearchPage.SearchCharset = test.searchCharset;
        rule.SearchPage.SearcResultRegional = u"<ul class=\"hits\">(.*?)</ul>";
        rule.SearchPage.NovelInfoPageUrl = u"<a href=\"([^\"]+)\">";
        rule.SearchPage.NovelName = u"<a href=\"[^\"]*\">([^<]+)</a>";
        rule.SearchPage.NovelAuthor = u"<span class=\"author\">([^<]+)</span>";
        rule.SearchPage.LatestChapter = u"<span class=\"latest\">([^<]+)</span>";
        SiteSearchAnswer answer = SearchSite(Site(rule), u"雾港");
        std::string path = WideToUtf8(test.path);
        ASSERT_TRUE(answer.Page.Ok()) << path;
        EXPECT_EQ(answer.Page.Charset.Source, test.source) << path;
        ASSERT_EQ(answer.Hits.size(), 1u) << path << WideToUtf8(answer.Page.Text);
        EXPECT_EQ(answer.Hits[0].NovelName, u"雾港夜航") << path;
        EXPECT_EQ(answer.Hits[0].NovelAuthor, u"陶小喆") << path;
    }
}

} // namespace
} // namespace velunor
