#include "rules/rules.h"

#include "core/core.h"
#include "support/temp_folder.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace velunor {
namespace {

using testing::TempFolder;

// A complete rule file in GB2312 with unrelated elements between the ones the loader reads.
const std::string kFullRule =
    WideToAnsi(u"<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n"
               u"<Channel>\r\n"
               u"<Comment>测试站点</Comment>\r\n"
               u"<SiteName>笔趣阁</SiteName>\r\n"
               u"<SiteUrl>http://www.site.com</SiteUrl>\r\n"
               u"<Version>2</Version>\r\n"
               u"<Charset>GB2312</Charset>\r\n"
               u"<ReplaceRule><![CDATA[<script>.*?</script>|&nbsp;]]></ReplaceRule>\r\n"
               u"<SearchPage>\r\n"
               u"<SearchPageUrlFormat>http://www.site.com/s.php?q={KEY}</SearchPageUrlFormat>\r\n"
               u"<SearcResultRegional>&lt;table&gt;(.*?)&lt;/table&gt;</SearcResultRegional>\r\n"
               u"<Note>skipped</Note>\r\n"
               u"<NovelInfoPageUrl>href=\"(.*?)\"</NovelInfoPageUrl>\r\n"
               u"<NovelName>name(.*?)</NovelName>\r\n"
               u"<NovelAuthor>author(.*?)</NovelAuthor>\r\n"
               u"<LatestChapter>latest(.*?)</LatestChapter>\r\n"
               u"</SearchPage>\r\n"
               u"<InfoPage>\r\n"
               u"<NovelSort>sort</NovelSort>\r\n"
               u"<NovelName>name</NovelName>\r\n"
               u"<NovelAuthor>author</NovelAuthor>\r\n"
               u"<NovelState>state</NovelState>\r\n"
               u"<NovelIntro>intro</NovelIntro>\r\n"
               u"<LatestChapter>latest</LatestChapter>\r\n"
               u"<ContentsUrl>contents</ContentsUrl>\r\n"
               u"</InfoPage>\r\n"
               u"<ContentsPage>\r\n"
               u"<ContentsRegional>region</ContentsRegional>\r\n"
               u"<ChapterName>chapter name</ChapterName>\r\n"
               u"<ChapterUrl>chapter url</ChapterUrl>\r\n"
               u"</ContentsPage>\r\n"
               u"<ContentPage>\r\n"
               u"<ChapterContent><![CDATA[<div id=\"content\">(.*?)</div>]]></ChapterContent>\r\n"
               u"</ContentPage>\r\n"
               u"</Channel>\r\n");

TEST(LoadSiteRule, ReadsEveryFieldInFileOrderSkippingOtherElements) {
    TempFolder temp;
    temp.Write("site.xml", kFullRule);
    CSiteRule rule = LoadSiteRule(temp.WideFile("site.xml"));
    EXPECT_EQ(rule.SiteName, u"笔趣阁");
    EXPECT_EQ(rule.SiteUrl, u"http://www.site.com");
    EXPECT_EQ(rule.Charset, u"GB2312");
    EXPECT_EQ(rule.ReplaceRule, u"<script>.*?</script>|&nbsp;");
    EXPECT_EQ(rule.SearchPage.SearchPageUrlFormat, u"http://www.site.com/s.php?q={KEY}");
    EXPECT_EQ(rule.SearchPage.SearcResultRegional, u"<table>(.*?)</table>");
    EXPECT_EQ(rule.SearchPage.NovelInfoPageUrl, u"href=\"(.*?)\"");
    EXPECT_EQ(rule.SearchPage.NovelName, u"name(.*?)");
    EXPECT_EQ(rule.SearchPage.NovelAuthor, u"author(.*?)");
    EXPECT_EQ(rule.SearchPage.LatestChapter, u"latest(.*?)");
    EXPECT_EQ(rule.InfoPage.NovelSort, u"sort");
    EXPECT_EQ(rule.InfoPage.NovelState, u"state");
    EXPECT_EQ(rule.InfoPage.NovelIntro, u"intro");
    EXPECT_EQ(rule.InfoPage.NovelName, u"name");
    EXPECT_EQ(rule.InfoPage.NovelAuthor, u"author");
    EXPECT_EQ(rule.InfoPage.LatestChapter, u"latest");
    EXPECT_EQ(rule.InfoPage.ContentsUrl, u"contents");
    EXPECT_EQ(rule.ContentsPage.ContentsRegional, u"region");
    EXPECT_EQ(rule.ContentsPage.ChapterName, u"chapter name");
    EXPECT_EQ(rule.ContentsPage.ChapterUrl, u"chapter url");
    EXPECT_EQ(rule.ChapterContent, u"<div id=\"content\">(.*?)</div>");
    EXPECT_FALSE(IsUtf8Site(rule));
}

TEST(LoadSiteRule, MissingOrMisnamedElementsGiveEmptyFields) {
    TempFolder temp;
    temp.Write("site.xml",
               "<Channel><SiteName>A</SiteName><Charset>utf-8</Charset>"
               "<SearchPage><SearchPageUrlFormat>u</SearchPageUrlFormat>"
               "<SearchResultRegional>misspelt the other way</SearchResultRegional>"
               "<NovelName>n</NovelName></SearchPage>"
               "<InfoPage><NovelName>x</NovelName></InfoPage>"
               "<ContentPage><ChapterContent>c</ChapterContent></ContentPage></Channel>");
    CSiteRule rule = LoadSiteRule(temp.WideFile("site.xml"));
    EXPECT_EQ(rule.SiteName, u"A");
    EXPECT_EQ(rule.SiteUrl, u"");
    // A Charset spelt in lower case is UTF-8 all the same.
    EXPECT_TRUE(IsUtf8Site(rule));
    EXPECT_EQ(rule.SearchPage.SearchPageUrlFormat, u"u");
    EXPECT_EQ(rule.SearchPage.SearcResultRegional, u"");
    EXPECT_EQ(rule.SearchPage.NovelInfoPageUrl, u"");
    EXPECT_EQ(rule.SearchPage.NovelName, u"n");
    EXPECT_EQ(rule.InfoPage.NovelSort, u"");
    EXPECT_EQ(rule.InfoPage.NovelName, u"x");
    EXPECT_EQ(rule.InfoPage.ContentsUrl, u"");
    EXPECT_EQ(rule.ContentsPage.ChapterName, u"");
    EXPECT_EQ(rule.ChapterContent, u"c");
}

TEST(LoadSiteRule, UnreadableFilesGiveAnEmptyRule) {
    TempFolder temp;
    temp.Write("other-root.xml", "<Site><SiteName>A</SiteName></Site>");
    temp.Write("garbage.xml", "\x01\x02 not xml at all");
    for (const char* name : {"missing.xml", "other-root.xml", "garbage.xml"}) {
        CSiteRule rule = LoadSiteRule(temp.WideFile(name));
        EXPECT_EQ(rule.SiteName, u"") << name;
        EXPECT_EQ(rule.SearchPage.SearchPageUrlFormat, u"") << name;
    }
}

TEST(LoadSiteRule, SpecialAndOversizedFilesGiveAnEmptyRuleAtOnce) {
    TempFolder temp;
    // A FIFO that no one writes, and a rule beyond the rule-file limit whose content is valid.
    ASSERT_EQ(::mkfifo(temp.File("fifo.xml").c_str(), 0600), 0);
    std::string large = kFullRule;
    large.insert(large.find("<SiteName>"), kRuleFileLimit, ' ');
    temp.Write("large.xml", large);
    for (const std::string& path :
         {temp.File("fifo.xml"), std::string("/dev/zero"), temp.File("large.xml")}) {
        CSiteRule rule = LoadSiteRule(Utf8ToWide(path));
        EXPECT_EQ(rule.SiteName, u"") << path;
    }
}

TEST(LoadSiteRule, Utf8RuleFileWithUtf8Charset) {
    TempFolder temp;
    temp.Write(
        "site.xml",
        "\xEF\xBB\xBF<Channel><SiteName>\xE7\xAB\x99</SiteName><Charset>UTF-8</Charset></Channel>");
    CSiteRule rule = LoadSiteRule(temp.WideFile("site.xml"));
    EXPECT_EQ(rule.SiteName, u"站");
    EXPECT_TRUE(IsUtf8Site(rule));
}

class EnumerateRuleFilesTest : public ::testing::Test {
  protected:
    std::u16string ProgramFolder() const {
        return temp_.WidePath() + u"/";
    }
    std::u16string RulePath(const std::string& name) const {
        return ProgramFolder() + u"Rule/" + Utf8ToWide(name);
    }

    TempFolder temp_;
};

TEST_F(EnumerateRuleFilesTest, ListsXmlFilesSortedByNameInAnyLetterCase) {
    ASSERT_TRUE(CreateFolderPath(temp_.WideFile("Rule/folder.xml")));
    temp_.Write("Rule/b-site.xml", "<Channel/>");
    temp_.Write("Rule/A-site.XML", "<Channel/>");
    temp_.Write("Rule/c-site.Xml", "<Channel/>");
    temp_.Write("Rule/notes.txt", "x");
    temp_.Write("Rule/.xml", "x");
    temp_.Write("Rule/站点.xml", "<Channel/>");
    std::vector<std::u16string> expected;
    for (const char* name : {".xml", "A-site.XML", "b-site.xml", "c-site.Xml", "站点.xml"}) {
        expected.push_back(RulePath(name));
    }
    EXPECT_EQ(EnumerateRuleFiles(ProgramFolder()), expected);
}

TEST_F(EnumerateRuleFilesTest, LinksCountAsWhatTheyPointTo) {
    ASSERT_TRUE(CreateFolderPath(temp_.WideFile("Rule")));
    ASSERT_TRUE(CreateFolderPath(temp_.WideFile("elsewhere/folder.xml")));
    temp_.Write("elsewhere/kept.xml", "<Channel/>");
    ASSERT_EQ(symlink(temp_.File("elsewhere/kept.xml").c_str(), temp_.File("Rule/a.xml").c_str()),
              0);
    ASSERT_EQ(symlink(temp_.File("elsewhere/folder.xml").c_str(), temp_.File("Rule/b.xml").c_str()),
              0);
    ASSERT_EQ(symlink(temp_.File("elsewhere/gone.xml").c_str(), temp_.File("Rule/c.xml").c_str()),
              0);
    EXPECT_EQ(EnumerateRuleFiles(ProgramFolder()), std::vector<std::u16string>{RulePath("a.xml")});
}

TEST_F(EnumerateRuleFilesTest, TheCurrentDirectoryPlaysNoPart) {
    TempFolder other;
    ASSERT_TRUE(CreateFolderPath(other.WideFile("Rule")));
    other.Write("Rule/other.xml", "<Channel/>");
    testing::ScopedCurrentDirectory inside(other.Path());
    ASSERT_TRUE(CreateFolderPath(temp_.WideFile("Rule")));
    temp_.Write("Rule/mine.xml", "<Channel/>");
    EXPECT_EQ(EnumerateRuleFiles(ProgramFolder()),
              std::vector<std::u16string>{RulePath("mine.xml")});
    // Without a program folder nothing is read, not even the Rule folder right here.
    EXPECT_TRUE(EnumerateRuleFiles(u"").empty());
}

TEST_F(EnumerateRuleFilesTest, MissingFolderGivesNothing) {
    EXPECT_TRUE(EnumerateRuleFiles(ProgramFolder()).empty());
    ASSERT_TRUE(CreateFolderPath(temp_.WideFile("Rule")));
    EXPECT_TRUE(EnumerateRuleFiles(ProgramFolder()).empty());
}

} // namespace
} // namespace velunor
