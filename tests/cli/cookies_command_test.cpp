#include "cli_runner.h"

#include "support/temp_folder.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

namespace velunor {
namespace {

// velunor-cli copied into a temporary program folder, so that its Config/Cookies/ is the
// test's own.
class CookiesCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(VELUNOR_CLI, temp_.File("velunor-cli"));
        rule_ = temp_.Write(
            "rule.xml", site_.RuleFile(std::string(VELUNOR_TEST_DATA) + "/rule-check/cookies.xml"));
    }

    testing::CommandResult Cli(const std::string& arguments) {
        return testing::RunCommand(temp_.File("velunor-cli") + " " + arguments);
    }

    testing::TempFolder temp_;
    testing::TestSite site_;
    std::string rule_;
};

// The site refuses every page but its search without the cookie the search sets, so the rule
// check passes only when one run's requests share it. The cookies are then listed by name,
// never by value, from a file only the user can read, and cleared by the site's name or rule.
TEST_F(CookiesCommandTest, KeptByOneRunListedWithoutValuesAndCleared) {
    for (const std::string& named : {rule_, std::string("饼站")}) {
        SCOPED_TRACE(named);
        testing::CommandResult check = Cli("rule-check " + rule_ + " 饼干");
        EXPECT_EQ(check.exitStatus, 0) << check.output;

        testing::CommandResult listed = Cli("cookies");
        const std::string& out = listed.output;
        EXPECT_EQ(listed.exitStatus, 0) << out;
        EXPECT_TRUE(out.starts_with("饼站\n")) << out;
        EXPECT_NE(out.find("\n  sid  127.0.0.1  /  session\n"), std::string::npos) << out;
        EXPECT_NE(out.find("\n  lang  127.0.0.1  /cookies/  until 20"), std::string::npos) << out;
        EXPECT_NE(out.find("  HttpOnly\n"), std::string::npos) << out;
        for (const char* value : {"s1", "zh"}) {
            EXPECT_EQ(out.find(value), std::string::npos) << value;
        }
        struct stat file {};
        ASSERT_EQ(::stat(temp_.File("Config/Cookies/饼站.txt").c_str(), &file), 0);
        EXPECT_EQ(file.st_mode & 0777, 0600u);

        testing::CommandResult cleared = Cli("cookies clear " + named);
        EXPECT_EQ(cleared.exitStatus, 0) << cleared.output;
        EXPECT_EQ(cleared.output, "cleared the cookies of 饼站\n");
        EXPECT_EQ(Cli("cookies").output, "no site keeps cookies\n");
    }
    testing::CommandResult none = Cli("cookies clear 饼站");
    EXPECT_EQ(none.exitStatus, 1);
    EXPECT_EQ(none.output, "velunor-cli: no cookies are kept for 饼站\n");
}

} // namespace
} // namespace velunor
