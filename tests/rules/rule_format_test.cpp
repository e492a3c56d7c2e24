#include "rules/rules.h"

#include "core/core.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

namespace velunor {
namespace {

using testing::TempFolder;

CSiteRule LoadRuleText(const std::u16string& text) {
    TempFolder folder;
    folder.Write("rule.xml", WideToUtf8(text));
    return LoadSiteRule(folder.WideFile("rule.xml"));
}

// The elements rule authors add for real sites may stand anywhere among their parent's
// children, before, between or after the original ones, without disturbing those.
TEST(RuleFormat, OptionalElementsAreFoundWhereverTheyStand) {
    CSiteRule rule = LoadRuleText(
        u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Channel>\r\n"
        u"<RetryCount>3</RetryCount>\r\n"
        u"<SiteName>甲站</SiteName>\r\n<SiteUrl>http://a.test/</SiteUrl>\r\n"
        u"<RequestHeaders>User-Agent: x\r\nCookie: a=1</RequestHeaders>\r\n"
        u"<Charset>GBK</Charset>\r\n<ReplaceRule>ad</ReplaceRule>\r\n"
        u"<SearchPage>\r\n<SearchPostData>searchkey={KEY}</SearchPostData>\r\n"
        u"<SearchPageUrlFormat>http://a.test/s.php</SearchPageUrlFormat>\r\n"
        u"<SearcResultRegional>(.*)</SearcResultRegional>\r\n"
        u"<NovelInfoPageUrl>u(.)</NovelInfoPageUrl>\r\n<NovelName>n(.)</NovelName>\r\n"
        u"<NovelAuthor>a(.)</NovelAuthor>\r\n<LatestChapter>l(.)</LatestChapter>\r\n"
        u"</SearchPage>\r\n"
        u"<InfoPage>\r\n<NovelName>n(.)</NovelName>\r\n</InfoPage>\r\n"
        u"<ContentsPage>\r\n<ContentsRegional>(.*)</ContentsRegional>\r\n"
        u"<ChapterName>c(.)</ChapterName>\r\n<ChapterUrl>h(.)</ChapterUrl>\r\n"
        u"<ContentsNextPageUrl><![CDATA[<a href=\"([^\"]+)\">下一页]]></ContentsNextPageUrl>\r\n"
        u"</ContentsPage>\r\n"
        u"<ContentPage>\r\n<ChapterNextPageUrl>next(.)</ChapterNextPageUrl>\r\n"
        u"<ChapterContent>t(.*)</ChapterContent>\r\n</ContentPage>\r\n"
        u"<MaxConnections>2</MaxConnections>\r\n<RequestInterval>500</RequestInterval>\r\n"
        u"<BlockedPagePattern>(访问太频繁)</BlockedPagePattern>\r\n"
        u"<RetryCount>9</RetryCount>\r\n"
        u"</Channel>\r\n");
    EXPECT_EQ(rule.SiteName, u"甲站");
    EXPECT_EQ(rule.Charset, u"GBK");
    EXPECT_EQ(rule.ReplaceRule, u"ad");
    EXPECT_EQ(rule.SearchPage.SearchPageUrlFormat, u"http://a.test/s.php");
    EXPECT_EQ(rule.SearchPage.LatestChapter, u"l(.)");
    EXPECT_EQ(rule.ContentsPage.ChapterUrl, u"h(.)");
    EXPECT_EQ(rule.ChapterContent, u"t(.*)");

    EXPECT_EQ(rule.RetryCount, u"3") << "the first of two wins";
    EXPECT_EQ(rule.RequestHeaders, u"User-Agent: x\r\nCookie: a=1");
    EXPECT_EQ(rule.MaxConnections, u"2");
    EXPECT_EQ(rule.RequestInterval, u"500");
    EXPECT_EQ(rule.BlockedPagePattern, u"(访问太频繁)");
    EXPECT_EQ(rule.SearchPage.SearchPostData, u"searchkey={KEY}");
    EXPECT_EQ(rule.ContentsPage.ContentsNextPageUrl, u"<a href=\"([^\"]+)\">下一页");
    EXPECT_EQ(rule.ChapterNextPageUrl, u"next(.)");
}

// An element only counts under its own parent, and a file without the new elements reads as
// before with every new field empty.
TEST(RuleFormat, OptionalElementsBelongToTheirParentAndDefaultToEmpty) {
    CSiteRule rule = LoadRuleText(
        u"<Channel><SiteName>乙</SiteName>"
        u"<SearchPage><RetryCount>4</RetryCount><ChapterNextPageUrl>x(.)</ChapterNextPageUrl>"
        u"</SearchPage>"
        u"<ContentPage><ChapterContent>t(.*)</ChapterContent></ContentPage>"
        u"<SearchPostData>k={KEY}</SearchPostData></Channel>");
    EXPECT_EQ(rule.SiteName, u"乙");
    EXPECT_EQ(rule.ChapterContent, u"t(.*)");
    EXPECT_EQ(rule.RetryCount, u"");
    EXPECT_EQ(rule.ChapterNextPageUrl, u"");
    EXPECT_EQ(rule.SearchPage.SearchPostData, u"");
    EXPECT_EQ(rule.RequestHeaders, u"");
    EXPECT_EQ(rule.BlockedPagePattern, u"");
    EXPECT_EQ(rule.ContentsPage.ContentsNextPageUrl, u"");
}

// Charset names as rule authors and pages write them: letter case never matters, the GB family
// (by any of its labels) is code page 936, Big5 and UTF-16 are read as browsers read them, other
// iconv names are taken as they are, and an unknown name (or one smuggling iconv options) falls
// back to code page 936.
TEST(RuleFormat, CharsetNamesAsRuleAuthorsWriteThem) {
    const std::pair<std::u16string, std::string> kNames[] = {
        {u"", "GB18030"},         {u"GB2312", "GB18030"},
        {u"gbk", "GB18030"},      {u"Gb18030", "GB18030"},
        {u"UTF-8", "UTF-8"},      {u"utf-8", "UTF-8"},
        {u"Utf8", "UTF-8"},       {u"Big5", "BIG5-HKSCS"},
        {u"big5", "BIG5-HKSCS"},  {u"Shift_JIS", "Shift_JIS"},
        {u"x-gbk", "GB18030"},    {u"CP936", "GB18030"},
        {u"utf-16", "UTF-16LE"},  {u"csBig5", "BIG5-HKSCS"},
        {u"no-such-charset", ""}, {u"UTF-8//IGNORE", ""},
    };
    for (const auto& [charset, expected] : kNames) {
        EXPECT_EQ(CharsetEncodingName(charset), expected) << WideToUtf8(charset);
        EXPECT_EQ(IsKnownCharset(charset), !expected.empty()) << WideToUtf8(charset);
    }
}

TEST(RuleFormat, PagesAreReadInTheSitesCharset) {
    const std::u16string text = u"後來的發展 𠮷";
    std::string big5;
    ASSERT_TRUE(EncodeCharset(u"後來的發展", "BIG5-HKSCS", big5));
    EXPECT_EQ(DecodeSitePage(u"Big5", big5), u"後來的發展");
    EXPECT_EQ(DecodeSitePage(u"utf-8", WideToUtf8(text)), text);
    EXPECT_EQ(DecodeSitePage(u"GBK", WideToAnsi(text)), text);
    // An unknown name reads the page as code page 936, as before.
    EXPECT_EQ(DecodeSitePage(u"no-such-charset", WideToAnsi(text)), text);
    // A NUL inside a page does not cut off the text after it.
    EXPECT_EQ(DecodeSitePage(u"GBK", std::string("ab\0cd", 5)), u"abcd");
}

// The search text reaches the site as a form of its own charset would send it: "&", "#", "%"
// and spaces cannot cut or corrupt the query, and pasted white space is not searched for.
TEST(RuleFormat, SearchKeysAreTrimmedAndPercentEncodedInTheSitesCharset) {
    CSiteRule gbk;
    gbk.Charset = u"GBK";
    CSiteRule utf8;
    utf8.Charset = u"utf-8";
    CSiteRule big5;
    big5.Charset = u"Big5";
    EXPECT_EQ(EncodeSearchKey(gbk, u"  西游 \t"), u"%CE%F7%D3%CE");
    EXPECT_EQ(EncodeSearchKey(utf8, u"西游"), u"%E8%A5%BF%E6%B8%B8");
    EXPECT_EQ(EncodeSearchKey(big5, u"後來"), u"%AB%E1%A8%D3");
    EXPECT_EQ(EncodeSearchKey(utf8, u"A&B #1 100%"), u"A%26B%20%231%20100%25");
    EXPECT_EQ(EncodeSearchKey(utf8, u"a-z_0.9~+="), u"a-z_0.9~%2B%3D");
    EXPECT_EQ(EncodeSearchKey(gbk, u"\u3000 \r\n"), u"");
    EXPECT_EQ(TrimSearchText(u"\u3000星河 渡 "), u"星河 渡");
}

// A page that is the site refusing access must never pass for content: the rule's own
// patterns (no group needed).
TEST(RuleFormat, BlockedPagesAreToldFromContent) {
    CSiteRule plain;
    CSiteRule strict;
    strict.BlockedPagePattern = u"(访问太频繁)|请输入验证码";
    const std::u16string chapter =
        u"<html><head><title>第一章</title></head><body><div id=\"content\">正文第一段。</div>"
        u"</body></html>";
    const std::u16string tooFast = u"<html><body><p>访问太频繁，请稍后再试</p></body></html>";
    const std::u16string captcha = u"<html><body>请输入验证码：<input></body></html>";

    EXPECT_FALSE(IsBlockedPage(plain, chapter));
    EXPECT_FALSE(IsBlockedPage(strict, chapter));
    EXPECT_FALSE(IsBlockedPage(plain, tooFast));
    EXPECT_TRUE(IsBlockedPage(strict, tooFast));
    EXPECT_TRUE(IsBlockedPage(strict, captcha));
}

// Without any pattern of the rule, a challenge a reader's browser passes unnoticed is told by
// what it does: it shows next to nothing and moves on by itself (a script setting the address
// or a cookie, a form sent by script, a refresh back to the site with a token). A page with
// text of its own is content, whatever its scripts do.
TEST(RuleFormat, ChallengesAreToldByWhatTheyDo) {
    CSiteRule rule;
    rule.SiteUrl = u"http://www.example.com/";
    const std::u16string text =
        u"<div id=\"content\">　　天色渐暗，他推开院门，看见院中那棵老槐树下站着一个陌生人。"
        u"那人背对着他，一动不动，像是在等什么人。风吹过树梢，落叶纷纷扬扬地飘下来。</div>";
    const std::u16string severalScripts =
        u"<script>document.cookie=\"seen=1\";</script><script>var ad=1;</script>"
        u"<script>if(ad)location.href='/m/';</script>";
    const struct {
        const char* shape;
        std::u16string page;
        bool blocked;
    } pages[] = {
        {"location script and a do-nothing script",
         u"<html><head><script>window.location=\"/74_74132/?kabcja=odc5d1\"</script>"
         u"<script>var u=2;for(;u==1;u++);</script></head><body></body></html>",
         true},
        {"a location script behind a comment mark, after a comparison",
         u"<html><head><script type=\"text/javascript\"><!--\nvar u=2;for(;u<1;u++);\n"
         u"window.location=\"/74_74132/?kabcja=odc5d1\";\n//--></script></head></html>",
         true},
        {"a cookie set, then a reload",
         u"<html><head><script>document.cookie = \"cf=8f2a; path=/\"; location.reload();"
         u"</script></head><body><p>请稍候……</p></body></html>",
         true},
        {"a form sent by script",
         u"<html><body><form id=\"f\" method=\"post\" action=\"/verify\">"
         u"<input type=\"hidden\" name=\"t\" value=\"a1b2\"></form>"
         u"<script type=\"text/javascript\">document.getElementById('f').submit();</script>"
         u"</body></html>",
         true},
        {"a padded location script",
         u"<html><head><script>top.location.replace('/b/1.html?k=9');</script>" +
             std::u16string(3000, u'\n') + u"</head><body>&nbsp;</body></html>",
         true},
        {"a refresh back with a token",
         u"<html><head><meta http-equiv=\"refresh\" content=\"0;url=/b/1.html?t=5e1f\">"
         u"</head><body>正在跳转</body></html>",
         true},
        {"a refresh with a token to the site by its full address",
         u"<html><head><meta content='1; URL=http://www.example.com/b/1.html?t=5e1f' "
         u"http-equiv='Refresh'></head></html>",
         true},
        {"a browser check",
         u"<!DOCTYPE html><html><head><title>Just a moment...</title></head>"
         u"<body>Checking your browser</body></html>",
         true},
        {"a short chapter with an advertising redirect",
         u"<html><head><script>if(mobile)location.href='/m/?from=pc';</script></head><body>" +
             text + u"</body></html>",
         false},
        {"a chapter with several scripts",
         u"<html><head>" + severalScripts + u"</head><body>" + text + u"</body></html>", false},
        {"a refresh without token to another page",
         u"<html><head><meta http-equiv=\"refresh\" content=\"0;url=/b/2.html\"></head></html>",
         false},
        {"a refresh with a token to another site",
         u"<html><head><meta http-equiv=\"refresh\" content=\"0;url=http://ads.example.net/"
         u"?t=1\"></head></html>",
         false},
        {"an empty page", u"<html><body></body></html>", false},
    };
    for (const auto& [shape, page, blocked] : pages) {
        EXPECT_EQ(IsBlockedPage(rule, page), blocked) << shape;
    }
}

} // namespace
} // namespace velunor
