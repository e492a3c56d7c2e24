#include "cli_runner.h"

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

} // namespace
