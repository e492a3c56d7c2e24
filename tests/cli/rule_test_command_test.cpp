#include "cli_runner.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using velunor::testing::CommandResult;

CommandResult RunCli(const std::string& arguments) {
    return velunor::testing::RunCommand(std::string(VELUNOR_CLI) + " " + arguments);
}

std::string Fixture(const std::string& name) {
    return std::string(VELUNOR_TEST_DATA) + "/cli/" + name;
}

std::string RuleTest(const std::string& kind, const std::string& page,
                     const std::string& url = "") {
    std::string arguments = "rule-test " + Fixture("rule.xml") + " " + kind + " " + Fixture(page);
    if (!url.empty()) {
        arguments += " --url " + url;
    }
    return arguments;
}

TEST(RuleTestCommand, PrintsHitsWithAbsoluteLinks) {
    CommandResult result = RunCli(RuleTest("search", "search.html", "http://127.0.0.1/search?q=x"));
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("site: 测试书屋 (GB2312)"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("2 hits"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("1. 西游记 | 吴承恩 | 第一百回\n   http://127.0.0.1/book/1/"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("2. 水浒传 | 施耐庵 | 第七十回\n   http://127.0.0.1/book/2/"),
              std::string::npos)
        << result.output;
}

TEST(RuleTestCommand, SaysWhichListsDisagree) {
    CommandResult result = RunCli(RuleTest("search", "uneven.html"));
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("NovelInfoPageUrl 2 NovelName 2 NovelAuthor 1 LatestChapter 2"),
              std::string::npos)
        << result.output;
}

TEST(RuleTestCommand, PrintsChapterTextBeforeAndAfterTheReplaceRule) {
    CommandResult result =
        RunCli(RuleTest("chapter", "chapter.html", "http://127.0.0.1/book/1/1.html"));
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("<script>ad()</script>"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("--- after ReplaceRule\n　　话说天下大势，分久必合。<img "
                                 "src=\"/pic/1.jpg\" />合久必分。"),
              std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("--- 1 images\nhttp://127.0.0.1/pic/1.jpg"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("--- ChapterNextPageUrl: not in the rule"), std::string::npos)
        << result.output;
}

TEST(RuleTestCommand, UnreadableInputEndsWithAClearMessage) {
    CommandResult missingRule =
        RunCli("rule-test /nonexistent/rule.xml search " + Fixture("search.html"));
    EXPECT_EQ(missingRule.exitStatus, 1);
    EXPECT_NE(missingRule.output.find("cannot read the rule file /nonexistent/rule.xml"),
              std::string::npos)
        << missingRule.output;

    CommandResult notARule =
        RunCli("rule-test " + Fixture("search.html") + " search " + Fixture("search.html"));
    EXPECT_EQ(notARule.exitStatus, 1);
    EXPECT_NE(notARule.output.find("holds no Channel element"), std::string::npos)
        << notARule.output;

    CommandResult missingPage =
        RunCli("rule-test " + Fixture("rule.xml") + " info /nonexistent/page.html");
    EXPECT_EQ(missingPage.exitStatus, 1);
    EXPECT_NE(missingPage.output.find("cannot read the page file"), std::string::npos)
        << missingPage.output;

    CommandResult badKind =
        RunCli("rule-test " + Fixture("rule.xml") + " menu " + Fixture("search.html"));
    EXPECT_EQ(badKind.exitStatus, 2);
    EXPECT_NE(badKind.output.find("unknown page kind"), std::string::npos) << badKind.output;
}

// A rule file with only a chapter list and a chapter text pattern.
std::string ListAndTextRule(const std::string& listPattern, const std::string& textPattern) {
    return "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<Channel>\n<SiteName>test</SiteName>\n"
           "<ContentsPage>\n<ChapterName><![CDATA[" +
           listPattern + "]]></ChapterName>\n<ChapterUrl><![CDATA[" + listPattern +
           "]]></ChapterUrl>\n</ContentsPage>\n<ContentPage>\n<ChapterContent><![CDATA[" +
           textPattern + "]]></ChapterContent>\n</ContentPage>\n</Channel>\n";
}

TEST(RuleTestCommand, SaysWhenAPageRanIntoALimit) {
    velunor::testing::TempFolder folder;
    std::string rule =
        folder.Write("rule.xml", ListAndTextRule("()", "([^<]*?[^<]*?[^<]*?)</div>"));

    // "()" makes an entry before every byte of the page.
    std::string contentsPage = folder.Write("contents.html", std::string(60000, 'x'));
    CommandResult contents = RunCli("rule-test " + rule + " contents " + contentsPage);
    EXPECT_EQ(contents.exitStatus, 0);
    EXPECT_NE(
        contents.output.find("0 chapters because a list pattern found more than 50000 entries"),
        std::string::npos)
        << contents.output.substr(0, 2000);

    // The three lazy repeats try every split of a paragraph at every byte of it.
    std::string text;
    while (text.size() < 20000) {
        text += std::string(128, 'x') + "<br />";
    }
    std::string chapterPage = folder.Write("chapter.html", text + "end</div>");
    CommandResult chapter = RunCli("rule-test " + rule + " chapter " + chapterPage);
    EXPECT_EQ(chapter.exitStatus, 0);
    EXPECT_NE(
        chapter.output.find("--- no ChapterContent because the patterns used up the matching time"),
        std::string::npos)
        << chapter.output.substr(0, 2000);
}

// A rule for saved pages of a site that splits lists and chapters over pages and has its own
// page for refusing access. The file itself is UTF-8; `charset` is what it says of the site.
std::string PagedRule(const std::string& charset) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Channel>\n<SiteName>分页书屋</SiteName>\n"
           "<Charset>" +
           charset +
           "</Charset>\n"
           "<BlockedPagePattern><![CDATA[(访问过于频繁)]]></BlockedPagePattern>\n"
           "<ContentsPage>\n"
           "<ChapterName><![CDATA[<li><a href=\"[^\"]*\">([^<]*)</a>]]></ChapterName>\n"
           "<ChapterUrl><![CDATA[<li><a href=\"([^\"]*)\">]]></ChapterUrl>\n"
           "<ContentsNextPageUrl><![CDATA[<a class=\"next\" href=\"([^\"]+)\">]]>"
           "</ContentsNextPageUrl>\n"
           "<VolumeName><![CDATA[<li class=\"volume\">([^<]*)</li>]]></VolumeName>\n"
           "</ContentsPage>\n<ContentPage>\n"
           "<ChapterContent><![CDATA[<div id=\"text\">(.*?)</div>]]></ChapterContent>\n"
           "<ChapterNextPageUrl><![CDATA[<a class=\"next\" href=\"([^\"]+)\">]]>"
           "</ChapterNextPageUrl>\n</ContentPage>\n</Channel>\n";
}

bool Has(const CommandResult& result, const std::string& text) {
    return result.output.find(text) != std::string::npos;
}

TEST(RuleTestCommand, ContentsAndChapterPagesShowTheNextPage) {
    velunor::testing::TempFolder folder;
    std::string rule = folder.Write("rule.xml", PagedRule("UTF-8"));
    std::string contents = folder.Write(
        "contents.html", "<ul><li><a href=\"1.html\">第一章</a></li><li><a href=\"2.html\">第二章"
                         "</a></li></ul><a class=\"next\" href=\"index_2.html\">下一页</a>");
    std::string firstPart =
        folder.Write("part1.html",
                     "<div id=\"text\">雾起。</div><a class=\"next\" href=\"3_2.html\">下一页</a>");
    std::string lastPart = folder.Write("part2.html", "<div id=\"text\">雾散。</div>");

    CommandResult listed =
        RunCli("rule-test " + rule + " contents " + contents + " --url http://127.0.0.1/book/12/");
    EXPECT_EQ(listed.exitStatus, 0) << listed.output;
    EXPECT_TRUE(Has(listed, "blocked page: no\n2 chapters\n1. 第一章 | "
                            "http://127.0.0.1/book/12/1.html\n"))
        << listed.output;
    EXPECT_TRUE(Has(listed, "ContentsNextPageUrl: http://127.0.0.1/book/12/index_2.html\n"))
        << listed.output;
    // Without an address the link is shown as the page has it.
    CommandResult bare = RunCli("rule-test " + rule + " contents " + contents);
    EXPECT_TRUE(Has(bare, "ContentsNextPageUrl: index_2.html\n")) << bare.output;

    CommandResult first = RunCli("rule-test " + rule + " chapter " + firstPart +
                                 " --url http://127.0.0.1/book/12/3.html");
    EXPECT_TRUE(Has(first, "雾起。")) << first.output;
    EXPECT_TRUE(Has(first, "--- ChapterNextPageUrl: http://127.0.0.1/book/12/3_2.html\n"))
        << first.output;
    CommandResult last = RunCli("rule-test " + rule + " chapter " + lastPart);
    EXPECT_TRUE(Has(last, "--- ChapterNextPageUrl: none found\n")) << last.output;
}

// The list as a download keeps it: a chapter listed twice at its last place and under the volume
// it has there; the heading of a block of such repeats, a heading without a name and a heading
// repeated right after itself make no volume; a heading below the last chapter is one.
TEST(RuleTestCommand, ContentsListVolumeHeadingsAboveTheirChaptersAsTheDownloadKeepsThem) {
    velunor::testing::TempFolder folder;
    std::string rule = folder.Write("rule.xml", PagedRule("UTF-8"));
    std::string contents = folder.Write(
        "contents.html",
        "<ul><li class=\"volume\">最新章节</li><li><a href=\"12.html\">第十二章</a></li>"
        "<li><a href=\"11.html\">第十一章</a></li><li class=\"volume\">第一卷 雾起</li>"
        "<li><a href=\"1.html\">第一章</a></li><li class=\"volume\"></li>"
        "<li class=\"volume\">第一卷 雾起</li><li><a href=\"2.html\">第二章</a></li>"
        "<li class=\"volume\">第二卷 灯语</li><li><a href=\"11.html\">第十一章</a></li>"
        "<li><a href=\"12.html\">第十二章</a></li><li class=\"volume\">番外</li></ul>");
    CommandResult listed =
        RunCli("rule-test " + rule + " contents " + contents + " --url http://127.0.0.1/b/");
    EXPECT_EQ(listed.exitStatus, 0) << listed.output;
    EXPECT_TRUE(Has(listed, "4 chapters in 3 volumes\n== 第一卷 雾起\n"
                            "1. 第一章 | http://127.0.0.1/b/1.html\n"
                            "2. 第二章 | http://127.0.0.1/b/2.html\n== 第二卷 灯语\n"
                            "3. 第十一章 | http://127.0.0.1/b/11.html\n"
                            "4. 第十二章 | http://127.0.0.1/b/12.html\n== 番外\n"))
        << listed.output;
}

TEST(RuleTestCommand, SaysWhenAPageIsTheSiteRefusingAccess) {
    velunor::testing::TempFolder folder;
    std::string rule = folder.Write("rule.xml", PagedRule("UTF-8"));
    std::string refusal =
        folder.Write("busy.html", "<html><body><p>您的访问过于频繁，请稍后再试</p></body></html>");
    std::string check = folder.Write(
        "check.html", "<html><head><title>Just a moment...</title></head><body></body></html>");

    CommandResult byPattern = RunCli("rule-test " + rule + " contents " + refusal);
    EXPECT_EQ(byPattern.exitStatus, 0) << byPattern.output;
    EXPECT_TRUE(Has(byPattern, "blocked page: yes")) << byPattern.output;
    // A challenge page is known without any pattern in the rule.
    CommandResult challenge = RunCli("rule-test " + Fixture("rule.xml") + " chapter " + check);
    EXPECT_TRUE(Has(challenge, "blocked page: yes")) << challenge.output;
    CommandResult content = RunCli(RuleTest("chapter", "chapter.html"));
    EXPECT_TRUE(Has(content, "blocked page: no")) << content.output;
}

// A page is read in the charset it declares, else in the rule's, and the tool says which and why.
TEST(RuleTestCommand, ReadsPagesInTheirDeclaredCharsetElseTheRules) {
    velunor::testing::TempFolder folder;
    // "書卷" in Big5, "雾港" in UTF-8 and in GBK.
    std::string big5 = folder.Write("big5.html", "<div id=\"text\">\xAE\xD1\xA8\xF7</div>");
    std::string utf8 = folder.Write("utf8.html", "<div id=\"text\">\xE9\x9B\xBE\xE6\xB8\xAF</div>");
    std::string gbk = folder.Write("gbk.html", "<div id=\"text\">\xCE\xED\xB8\xDB</div>");

    CommandResult traditional =
        RunCli("rule-test " + folder.Write("big5.xml", PagedRule("Big5")) + " chapter " + big5);
    EXPECT_TRUE(Has(traditional, "--- ChapterContent (2 characters)\n書卷\n"))
        << traditional.output;
    EXPECT_TRUE(Has(traditional, "charset: BIG5-HKSCS (the page declares none: the rule's "
                                 "Charset)\n"))
        << traditional.output;
    std::string declared = folder.Write(
        "declared.html", "<head><meta charset=\"utf-8\"></head><div id=\"text\">\xE9\x9B\xBE"
                         "\xE6\xB8\xAF</div>");
    CommandResult meta =
        RunCli("rule-test " + folder.Write("big5-declared.xml", PagedRule("Big5")) + " chapter " +
               declared);
    EXPECT_TRUE(Has(meta, "charset: UTF-8 (declared by a meta in the page's head)\n"))
        << meta.output;
    EXPECT_TRUE(Has(meta, "\n雾港\n")) << meta.output;
    // Any spelling of a charset counts, not only "UTF-8".
    CommandResult lowerCase =
        RunCli("rule-test " + folder.Write("utf8.xml", PagedRule("utf8")) + " chapter " + utf8);
    EXPECT_TRUE(Has(lowerCase, "--- ChapterContent (2 characters)\n雾港\n")) << lowerCase.output;
    EXPECT_FALSE(Has(lowerCase, "is not known")) << lowerCase.output;

    CommandResult unknown = RunCli(
        "rule-test " + folder.Write("odd.xml", PagedRule("x-no-such-charset")) + " chapter " + gbk);
    EXPECT_EQ(unknown.exitStatus, 0) << unknown.output;
    EXPECT_TRUE(Has(unknown, "Charset \"x-no-such-charset\" is not known; pages are read as "
                             "GB18030\n"))
        << unknown.output;
    EXPECT_TRUE(Has(unknown, "\n雾港\n")) << unknown.output;
}

} // namespace
