// velunor-cli rule-draft against the finder's corpus on the local test site: the draft is
// written beside where the command was started, its check printed, and no file is replaced.

#include "cli_runner.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace velunor {
namespace {

TEST(RuleDraftCommandTest, WritesAPassingDraftOnceAndNeverOverAFile) {
    testing::TempFolder temp;
    testing::TestSite site(testing::TestSite::DefaultRoot() + "/finder");
    std::filesystem::copy_file(VELUNOR_CLI, temp.File("velunor-cli"));
    std::filesystem::create_directory(temp.File("work"));
    const std::string novel = site.BaseUrl() + "/dl-gbk/";
    const std::string drafted = temp.File("work/127.0.0.1.xml");
    struct Step {
        const char* what;
        std::string arguments;
        int exitStatus;
        std::string printed;
        // The file the step leaves written, and what it holds.
        std::string file;
        std::string held;
    };
    const Step steps[] = {
        {"a novel's page", novel, 0, "结论：通过\n规则草稿：" + drafted, drafted,
         "<ContentsRegional><![CDATA[<div[^>]*?\\sid=\"list\"[^>]*>"},
        {"the same file again", novel, 1, "exists already; name another with --out", drafted,
         "<ContentsRegional>"},
        {"another file named", novel + " --out other.xml", 0,
         "规则草稿：" + temp.File("work/other.xml"), temp.File("work/other.xml"),
         "<ChapterContent>"},
        {"a page without a novel", site.BaseUrl() + "/refuse/forum.html --out forum.xml", 1,
         "no rule was drafted: 无法在此网页上找到章节目录", temp.File("work/forum.xml"), ""},
        {"no address", "", 2, "usage: velunor-cli rule-draft URL", "", ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        testing::CommandResult result = testing::RunCommand(
            "cd " + temp.File("work") + " && ../velunor-cli rule-draft " + step.arguments);
        EXPECT_EQ(result.exitStatus, step.exitStatus) << result.output;
        EXPECT_NE(result.output.find(step.printed), std::string::npos) << result.output;
        if (!step.file.empty()) {
            std::string held = testing::ReadFileBytes(step.file);
            EXPECT_EQ(step.held.empty(), held.empty()) << held;
            EXPECT_NE(held.find(step.held), std::string::npos) << held;
        }
    }
}

} // namespace
} // namespace velunor
