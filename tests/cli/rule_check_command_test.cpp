#include "cli_runner.h"
#include "core/core.h"
#include "net/fetcher.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace velunor {
namespace {

using Edits = std::vector<std::pair<std::string, std::string>>;

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// velunor-cli copied into a temporary program folder, checking rules for the site "rulecheck"
// of the local test site: a GBK site whose contents list spans two pages and whose third
// chapter spans two.
class RuleCheckCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(VELUNOR_CLI, temp_.File("velunor-cli"));
    }

    // The fixture rule pointed at the test site, with each edit's first text replaced by its
    // second; returns the rule file's path.
    std::string Rule(const Edits& edits = {}) {
        std::string text =
            site_.RuleFile(std::string(VELUNOR_TEST_DATA) + "/rule-check/rulecheck.xml");
        for (const auto& [from, to] : edits) {
            size_t at = text.find(from);
            EXPECT_NE(at, std::string::npos) << from;
            if (at != std::string::npos) {
                text.replace(at, from.size(), to);
            }
        }
        return temp_.Write("rule.xml", text);
    }

    testing::CommandResult Check(const std::string& rule, const std::string& arguments) {
        return testing::RunCommand(temp_.File("velunor-cli") + " rule-check " + rule + " " +
                                   arguments);
    }

    std::string Address(const std::string& path) const {
        return site_.BaseUrl() + "/rulecheck/" + path;
    }

    testing::TempFolder temp_;
    testing::TestSite site_;
};

TEST_F(RuleCheckCommandTest, APassingRuleWalksFromTheSearchToTheLastChapter) {
    testing::CommandResult result = Check(Rule(), "雾港");
    const std::string& out = result.output;
    EXPECT_EQ(result.exitStatus, 0) << out;
    // The key is sent in the site's charset, GBK.
    EXPECT_NE(out.find("地址：GET " + Address("search.php?q=%CE%ED%B8%DB") + "\n   状态：200\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("结果：2 条\n   1. 雾港灯语 | 沈砚秋 | 第五章 雾散\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("第 1 条：" + Address("book/1/")), std::string::npos) << out;
    EXPECT_NE(out.find("书名：雾港灯语\n   作者：沈砚秋\n"), std::string::npos) << out;
    EXPECT_NE(out.find("目录地址：" + Address("book/1/list/")), std::string::npos) << out;
    // Both contents pages, and the first, the middle and the last chapter.
    EXPECT_NE(out.find("页数：2 页\n   章节：5 章\n"), std::string::npos) << out;
    EXPECT_NE(out.find("== 第 1 章（共 5 章）：第一章 雾起\n"), std::string::npos) << out;
    EXPECT_NE(out.find("== 第 3 章（共 5 章）：第三章 守灯人\n"), std::string::npos) << out;
    EXPECT_NE(out.find("== 第 5 章（共 5 章）：第五章 雾散\n"), std::string::npos) << out;
    // The middle chapter's second page is read, and the next chapter is not taken for a third.
    EXPECT_NE(out.find("页数：2 页\n     1. " + Address("book/1/list/3.html") + "\n     2. " +
                       Address("book/1/list/3_2.html") + "\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("正文：守灯人姓林，是镇上最后一个见过灯塔亮灯的人。 "
                       "他说那盏灯不是给船看的，是给雾看的。\n"),
              std::string::npos)
        << out;
    // The text is shown as stored: after the ReplaceRule.
    EXPECT_EQ(out.find("本章未完"), std::string::npos) << out;
    EXPECT_EQ(Occurrences(out, "   通过\n"), 6u) << out;
    EXPECT_EQ(out.find("失败："), std::string::npos) << out;
    EXPECT_NE(out.find("结论：通过\n"), std::string::npos) << out;
}

TEST_F(RuleCheckCommandTest, AWalkFromANovelsAddressLeavesOutTheSearch) {
    testing::CommandResult result = Check(Rule(), "--url " + Address("book/1/"));
    const std::string& out = result.output;
    EXPECT_EQ(result.exitStatus, 0) << out;
    EXPECT_EQ(out.find("== 搜索"), std::string::npos) << out;
    EXPECT_NE(out.find("== 信息页\n   地址：" + Address("book/1/") + "\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("== 第 5 章（共 5 章）：第五章 雾散\n"), std::string::npos) << out;
    EXPECT_EQ(Occurrences(out, "   通过\n"), 5u) << out;
}

TEST_F(RuleCheckCommandTest, AChapterPatternThatFindsNothingFailsEveryChapter) {
    testing::CommandResult result =
        Check(Rule({{"<div id=\"text\">(.*?)</div>", "<div id=\"chapter\">(.*?)</div>"}}), "雾港");
    EXPECT_NE(result.exitStatus, 0) << result.output;
    EXPECT_EQ(Occurrences(result.output, "   失败：ChapterContent 没有取到正文\n"), 3u)
        << result.output;
    EXPECT_NE(result.output.find("结论：3 步没有通过\n"), std::string::npos) << result.output;
}

TEST_F(RuleCheckCommandTest, APostSearchRedirectedToTheNovelTakesItsPageForTheHit) {
    testing::CommandResult result =
        Check(Rule({{"/rulecheck/search.php?q={KEY}", "/rulecheck/post-search.php"},
                    {"<SearchPostData></SearchPostData>",
                     "<SearchPostData>searchtype=all&amp;searchkey={KEY}</SearchPostData>"}}),
              "' 雾港灯语 '");
    const std::string& out = result.output;
    EXPECT_EQ(result.exitStatus, 0) << out;
    EXPECT_NE(out.find("地址：POST " + Address("post-search.php") +
                       "\n   数据：searchtype=all&searchkey=%CE%ED%B8%DB%B5%C6%D3%EF\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("状态：200，跳转到 " + Address("book/1/") + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("结果：1 条\n   1. 雾港灯语 | 沈砚秋 | 第五章 雾散\n"), std::string::npos)
        << out;
    FetchResult answer;
    std::string log =
        WideToAnsi(FetchPage(answer, site_.Url("/_log?prefix=/rulecheck/post-search.php")));
    EXPECT_NE(log.find(" POST /rulecheck/post-search.php"), std::string::npos) << log;
}

// A search that finds nothing shows the page as a reader sees it: its title and text, nothing
// of its script.
TEST_F(RuleCheckCommandTest, APageWithoutHitsIsPreviewedAsAReaderSeesIt) {
    testing::CommandResult result = Check(Rule(), "无此书");
    EXPECT_NE(result.output.find("   网页：校验书阁 搜索结果 没有找到相关小说。\n"),
              std::string::npos)
        << result.output;
}

struct FailureCase {
    const char* what;
    Edits edits;
    const char* arguments;
    const char* reason;
    // The last step the walk reaches.
    const char* lastStep;
};

TEST_F(RuleCheckCommandTest, EachFailureNamesItsCause) {
    const FailureCase cases[] = {
        {"no hits", {}, "无此书", "没有搜索结果", "== 搜索"},
        {"too few hits", {}, "雾港 --hit 3", "只有 2 条结果，没有第 3 条", "== 搜索"},
        {"search lists of different lengths",
         {{"</a></td><td>([^<]*)</td>", "<td>(沈砚秋)</td>"}},
         "雾港",
         "结果列表条数不同：NovelInfoPageUrl 2，NovelName 2，NovelAuthor 1，LatestChapter 2",
         "== 搜索"},
        {"no novel name",
         {{"<h1>([^<]+)</h1>", "<h2>([^<]+)</h2>"}},
         "雾港",
         "NovelName 没有取到书名",
         "== 第 5 章"},
        {"no contents address",
         {{"<a class=\"read\"", "<a class=\"start\""}},
         "雾港",
         "ContentsUrl 没有取到目录地址",
         "== 信息页"},
        {"chapter lists of different lengths",
         {{"<dd><a href=\"([^\"]+)\">", "<dd><a href=\"(1\\.html)\">"}},
         "雾港",
         "章节列表条数不同：ChapterName 3，ChapterUrl 1",
         "== 目录页"},
        {"a blocked chapter",
         {{"<SiteUrl>",
           "<BlockedPagePattern><![CDATA[(雾散了)]]></BlockedPagePattern>\n<SiteUrl>"}},
         "雾港",
         "站点返回了拦截页",
         "== 第 5 章"},
    };
    for (const FailureCase& failure : cases) {
        SCOPED_TRACE(failure.what);
        testing::CommandResult result = Check(Rule(failure.edits), failure.arguments);
        const std::string& out = result.output;
        EXPECT_EQ(result.exitStatus, 1) << out;
        EXPECT_NE(out.find(std::string("   失败：") + failure.reason), std::string::npos) << out;
        size_t lastStep = out.rfind("\n== ");
        ASSERT_NE(lastStep, std::string::npos) << out;
        EXPECT_EQ(out.compare(lastStep + 1, std::string(failure.lastStep).size(), failure.lastStep),
                  0)
            << out;
        EXPECT_NE(out.find("结论：1 步没有通过"), std::string::npos) << out;
    }
}

TEST_F(RuleCheckCommandTest, WrongArgumentsShowTheUsage) {
    std::string rule = Rule();
    for (const char* arguments : {"雾港 --hit 0", "雾港 --hit x", "雾港 --hit", "", "a b", "--url",
                                  "雾港 --url x", "--url x --hit 2"}) {
        SCOPED_TRACE(arguments);
        testing::CommandResult result = Check(rule, arguments);
        EXPECT_EQ(result.exitStatus, 2) << result.output;
        EXPECT_NE(result.output.find("usage: velunor-cli rule-check RULE.xml NAME [--hit N]"),
                  std::string::npos)
            << result.output;
    }
    testing::CommandResult blank = Check(rule, "'　 '");
    EXPECT_EQ(blank.exitStatus, 2) << blank.output;
    EXPECT_NE(blank.output.find("the name to search for is empty"), std::string::npos)
        << blank.output;
    testing::CommandResult missing = Check("/nonexistent/rule.xml", "雾港");
    EXPECT_EQ(missing.exitStatus, 1) << missing.output;
    EXPECT_NE(missing.output.find("cannot read the rule file /nonexistent/rule.xml"),
              std::string::npos)
        << missing.output;
}

TEST_F(RuleCheckCommandTest, AFileThatCannotBeARuleFileIsRefusedWithItsReason) {
    // A device that never ends and a file past the rule file limit are refused unread.
    std::string huge = temp_.Write("huge.xml", "");
    std::filesystem::resize_file(huge, kRuleFileLimit + 1);
    struct Case {
        std::string rule;
        std::string why;
    };
    const Case cases[] = {
        {"/dev/zero", "the rule file /dev/zero is not a regular file"},
        {temp_.Path(), "the rule file " + temp_.Path() + " is not a regular file"},
        {huge, "the rule file " + huge + " is larger than 4194304 bytes"},
    };
    for (const Case& c : cases) {
        testing::CommandResult result = Check(c.rule, "星");
        EXPECT_EQ(result.exitStatus, 1) << result.output;
        EXPECT_NE(result.output.find(c.why), std::string::npos) << result.output;
    }
}

} // namespace
} // namespace velunor
