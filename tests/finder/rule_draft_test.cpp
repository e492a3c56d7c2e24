// The pieces of a drafted rule file: literal text that stays literal when rules match pages as
// GB18030 bytes, and a written rule that the rule loader reads back whole, notes and all.

#include "finder/rule_draft.h"

#include "core/core.h"
#include "rules/rules.h"
#include "support/temp_folder.h"
#include "support/xml_well_formed.h"

#include <gtest/gtest.h>

namespace velunor::finder {
namespace {

TEST(RuleDraft, LiteralPatternsMatchTheirTextOnlyAndNeverSplitAList) {
    struct Case {
        std::u16string text;
        // A text the pattern must not match; empty for none.
        std::u16string other;
    };
    const Case cases[] = {
        // Second GB18030 bytes "|", "[", "\" and "]": each would split the list or open a class.
        {u"地東億擺嶽淺揮沒廬慮址", u""},
        {u"a|b (c) [d] {2} ^x$ .*+?\\", u""},
        {u"a.b", u"axb"},
        {u"(c)+", u"cc"},
        {u"第1章  初入\n山门", u"第1章初入山"},
        {u"作者：市井\U00020000", u""},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(WideToUtf8(test.text));
        std::u16string pattern = LiteralPattern(test.text);
        EXPECT_EQ(pattern.find(u'|'), std::u16string::npos) << WideToUtf8(pattern);
        std::u16string found = ExtractField(u"(" + pattern + u")", u"<p>" + test.text + u"</p>");
        EXPECT_EQ(WideToUtf8(found), WideToUtf8(test.text)) << WideToUtf8(pattern);
        if (!test.other.empty()) {
            EXPECT_EQ(ExtractField(u"(" + pattern + u")", test.other), u"");
        }
    }
}

TEST(RuleDraft, AWrittenRuleReadsBackWholeWithItsNotesAsComments) {
    CSiteRule rule;
    rule.SiteName = u"星河书屋";
    rule.SiteUrl = u"http://novel.test/";
    rule.Charset = u"gbk";
    rule.ReplaceRule = u"<p class=\"tip\">[^<]*</p>|一秒记住";
    rule.RequestInterval = u"100";
    rule.RetryCount = u"2";
    rule.SearchPage.SearchPageUrlFormat = u"http://novel.test/s.php?a=1&q={KEY}";
    rule.InfoPage.NovelName = u"<h1>([^<]+)</h1>";
    rule.ContentsPage.ContentsRegional = u"<dl>(.*?)</dl>";
    rule.ContentsPage.VolumeName = u"<dt>(?![^<]*最新)([^<]+)</dt>";
    // A pattern may hold what ends a CDATA section.
    rule.ChapterContent = u"<div id=\"c\">(.*?)\\]\\]></div>";
    rule.ChapterNextPageUrl = u"<a href=\"([^\"]+)\">下一页</a>";
    std::vector<DraftNote> notes = {
        {u"Channel", u"整个文件 -- 的说明"},
        {u"ContentsPage", u"目录页没有通过"},
        {u"ChapterContent", u"正文--没有通过"},
        {u"Nowhere", u"不属于任何元素"},
    };
    std::u16string xml = WriteRuleXml(rule, notes);
    testing::TempFolder temp;
    std::u16string path = Utf8ToWide(temp.Write("rule.xml", WideToUtf8(xml)));
    EXPECT_TRUE(testing::IsWellFormedXmlFile(path));

    CSiteRule loaded = LoadSiteRule(path);
    for (auto field :
         {&CSiteRule::SiteName, &CSiteRule::SiteUrl, &CSiteRule::Charset, &CSiteRule::ReplaceRule,
          &CSiteRule::ChapterContent, &CSiteRule::ChapterNextPageUrl}) {
        EXPECT_EQ(WideToUtf8(loaded.*field), WideToUtf8(rule.*field));
    }
    EXPECT_EQ(loaded.SearchPage.SearchPageUrlFormat, rule.SearchPage.SearchPageUrlFormat);
    EXPECT_EQ(loaded.InfoPage.NovelName, rule.InfoPage.NovelName);
    EXPECT_EQ(loaded.ContentsPage.ContentsRegional, rule.ContentsPage.ContentsRegional);
    EXPECT_EQ(loaded.ContentsPage.VolumeName, rule.ContentsPage.VolumeName);

    std::string text = WideToUtf8(xml);
    EXPECT_NE(text.find("<!-- 目录页没有通过 -->\n<ContentsPage>"), std::string::npos) << text;
    EXPECT_NE(text.find("<!-- 正文- -没有通过 -->\n<ChapterContent>"), std::string::npos) << text;
    EXPECT_LT(text.find("<!-- 不属于任何元素 -->"), text.find("<Channel>")) << text;
    EXPECT_LT(text.find("<!-- 整个文件 - - 的说明 -->"), text.find("<SiteName>")) << text;
}

TEST(RuleDraft, AFileNameComesFromTheHostAlone) {
    EXPECT_EQ(DraftFileName(u"http://novel.test:8080/book/1/"), u"novel.test.xml");
    EXPECT_EQ(DraftFileName(u"https://www.example.com"), u"www.example.com.xml");
    EXPECT_EQ(DraftFileName(u"book/1/"), u"site.xml");
}

} // namespace
} // namespace velunor::finder
