#include "cli_runner.h"

#include "../search/search_fixture.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace velunor {
namespace {

// velunor-cli copied into a temporary program folder, so that its Rule/ and Config/ are the
// test's own.
class SearchCommandsTest : public testing::ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        std::filesystem::copy_file(VELUNOR_CLI, temp_.File("velunor-cli"));
        InstallRule("a-shuwu.xml", "a-shuwu.xml", site_);
        InstallRule("b-redirect.xml", "b-redirect.xml", site_);
        InstallRule("c-broken.xml", "c-broken.xml", site_);
        WriteSelection("");
    }

    testing::CommandResult Cli(const std::string& arguments) {
        return testing::RunCommand(temp_.File("velunor-cli") + " " + arguments);
    }

    testing::TestSite site_;
};

TEST_F(SearchCommandsTest, SelectStoresTheChoiceAndSitesShowsIt) {
    testing::CommandResult selected = Cli("select 0,2");
    EXPECT_EQ(selected.exitStatus, 0) << selected.output;
    EXPECT_NE(selected.output.find("0  [x]  古典书屋  " + site_.BaseUrl() + "/shuwu/"),
              std::string::npos)
        << selected.output;
    EXPECT_NE(selected.output.find("1  [ ]  跳转书城"), std::string::npos) << selected.output;
    EXPECT_NE(selected.output.find("2  [x]  故障站"), std::string::npos) << selected.output;
    EXPECT_NE(temp_.Read("Config/TargetSiteSelect.xml").find("<Selected>0,2,</Selected>"),
              std::string::npos);

    EXPECT_NE(Cli("select all").output.find("1  [x]"), std::string::npos);
    EXPECT_NE(Cli("select none").output.find("0  [ ]"), std::string::npos);
    testing::CommandResult wrong = Cli("select 0,7");
    EXPECT_EQ(wrong.exitStatus, 2);
    EXPECT_NE(wrong.output.find("is not a list of site indices from 0 to 2"), std::string::npos)
        << wrong.output;
}

TEST_F(SearchCommandsTest, SearchPrintsRowsAndStatusesAndLeavesTheResultFile) {
    ASSERT_EQ(Cli("select 0,1,2").exitStatus, 0);
    testing::CommandResult result = Cli("search 西游");
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("[搜索任务已启动……]"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("[正从目标站 <古典书屋> 进行搜索……]"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find(". 西游补 | 董说 | 第十六回 | 古典书屋"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("5. "), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("[搜索完成，共搜索到 5 本小说。]"), std::string::npos)
        << result.output;
    std::string file = temp_.Read("Config/SearchResult.xml");
    size_t elements = 0;
    for (size_t at = file.find("<SearchResult>"); at != std::string::npos;
         at = file.find("<SearchResult>", at + 1)) {
        ++elements;
    }
    EXPECT_EQ(elements, 5u);
}

TEST_F(SearchCommandsTest, SearchWithAnEmptyNameSaysSo) {
    testing::CommandResult result = Cli("search ''");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("请在文本框中输入要搜索的小说名称或作者名称！"), std::string::npos)
        << result.output;
}

} // namespace
} // namespace velunor
