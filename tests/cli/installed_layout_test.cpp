// velunor-cli installed as a package installs it: the executable in <prefix>/usr/bin, what it
// ships in <prefix>/usr/share/velunor, each user's files in their home folder.

#include "cli_runner.h"

#include "core/core.h"
#include "library/library_location.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velunor {
namespace {

namespace fs = std::filesystem;

// Every file below `root`, with its bytes.
std::map<std::string, std::string> FilesBelow(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            files[entry.path().string()] = testing::ReadFileBytes(entry.path().string());
        }
    }
    return files;
}

bool LiesBelowOneOf(const std::string& path, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (path.starts_with(folder)) {
            return true;
        }
    }
    return false;
}

class InstalledLayoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string built = fs::path(VELUNOR_CLI).parent_path().string() + "/";
        fs::create_directories(temp_.File("usr/bin"));
        fs::copy_file(VELUNOR_CLI, temp_.File("usr/bin/velunor-cli"));
        fs::create_directories(temp_.File("usr/share/velunor/Rule"));
        fs::create_directories(temp_.File("usr/share/velunor/Config"));
        fs::copy(built + "Template", temp_.File("usr/share/velunor/Template"),
                 fs::copy_options::recursive);
        ShipRule("a-rulecheck.xml", "rule-check/rulecheck.xml");
        ShipRule("b-redirect.xml", "search/rules/b-redirect.xml");
        temp_.Write("usr/share/velunor/Config/TargetSiteSelect.xml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<TargetSiteSelect>\r\n"
                    "<Selected>0,</Selected>\r\n<SelectedRules>\r\n<Rule>a-rulecheck.xml</Rule>\r\n"
                    "</SelectedRules>\r\n</TargetSiteSelect>\r\n");
        fs::create_directories(temp_.File("home"));
    }

    void ShipRule(const std::string& name, const std::string& fixture) {
        temp_.Write("usr/share/velunor/Rule/" + name,
                    site_.RuleFile(std::string(VELUNOR_TEST_DATA) + "/" + fixture));
    }

    // Runs the installed velunor-cli with HOME and the XDG variables of `environment` only.
    testing::CommandResult Cli(const std::string& environment, const std::string& arguments) {
        return testing::RunCommand("cd / && env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u "
                                   "XDG_CACHE_HOME -u XDG_STATE_HOME " +
                                   environment + " " + temp_.File("usr/bin/velunor-cli") + " " +
                                   arguments);
    }

    std::string Home() const {
        return "HOME=" + temp_.File("home");
    }

    testing::TempFolder temp_;
    testing::TestSite site_;
};

// Whatever the environment names, a search and a download write only into the user's folders
// it decides on, the library where the user chose it, and nothing below /usr.
TEST_F(InstalledLayoutTest, SearchAndDownloadWriteOnlyIntoTheUsersFolders) {
    struct Case {
        const char* name;
        std::string environment;
        std::string chosenLibrary;
        std::string config, library, userRules, cache, state;
    };
    const std::string home = temp_.File("home") + "/";
    const std::string elsewhere = temp_.File("elsewhere") + "/";
    const std::vector<Case> cases = {
        {"defaults below HOME", Home(), "", home + ".config/velunor/",
         home + ".local/share/velunor/", home + ".local/share/velunor/Rule/",
         home + ".cache/velunor/", home + ".local/state/velunor/"},
        {"XDG variables",
         Home() + " XDG_CONFIG_HOME=" + elsewhere + "c XDG_DATA_HOME=" + elsewhere +
             "d XDG_CACHE_HOME=" + elsewhere + "k XDG_STATE_HOME=" + elsewhere + "s",
         "", elsewhere + "c/velunor/", elsewhere + "d/velunor/", elsewhere + "d/velunor/Rule/",
         elsewhere + "k/velunor/", elsewhere + "s/velunor/"},
        // A relative XDG folder means nothing; the library folder chosen in the window wins.
        {"chosen library", Home() + " XDG_DATA_HOME=relative", elsewhere + "书库/",
         home + ".config/velunor/", elsewhere + "书库/", home + ".local/share/velunor/Rule/",
         home + ".cache/velunor/", home + ".local/state/velunor/"},
    };
    const std::map<std::string, std::string> shipped = FilesBelow(temp_.File("usr"));
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        fs::remove_all(temp_.File("home"));
        fs::remove_all(temp_.File("elsewhere"));
        fs::create_directories(temp_.File("home"));
        if (!test.chosenLibrary.empty()) {
            ASSERT_TRUE(
                SaveLibraryLocation(Utf8ToWide(test.config), Utf8ToWide(test.chosenLibrary)));
        }

        testing::CommandResult paths = Cli(test.environment, "paths");
        EXPECT_NE(paths.output.find("layout:     installed\n"), std::string::npos) << paths.output;
        EXPECT_NE(paths.output.find("library:    " + test.library + "Novel/\n"), std::string::npos)
            << paths.output;
        EXPECT_NE(paths.output.find("rules:      " + test.userRules + "\n            " +
                                    temp_.File("usr/share/velunor/Rule/")),
                  std::string::npos)
            << paths.output;

        testing::CommandResult search = Cli(test.environment, "search 雾港");
        EXPECT_EQ(search.exitStatus, 0) << search.output;
        EXPECT_NE(search.output.find("1. 雾港灯语 | 沈砚秋"), std::string::npos) << search.output;
        testing::CommandResult download = Cli(test.environment, "download 1");
        EXPECT_EQ(download.exitStatus, 0) << download.output;
        testing::CommandResult shelf = Cli(test.environment, "shelf");
        EXPECT_NE(shelf.output.find("\n   1  "), std::string::npos) << shelf.output;

        EXPECT_EQ(FilesBelow(temp_.File("usr")), shipped);
        const std::vector<std::string> allowed = {test.config, test.library, test.cache,
                                                  test.state};
        size_t novelPages = 0;
        for (const auto& [path, bytes] : FilesBelow(temp_.Path())) {
            if (path.starts_with(temp_.File("usr/"))) {
                continue;
            }
            EXPECT_TRUE(LiesBelowOneOf(path, allowed)) << path;
            novelPages += path.starts_with(test.library + "Novel/") ? 1 : 0;
        }
        EXPECT_GT(novelPages, 1u);
        EXPECT_TRUE(fs::exists(test.library + "BookShelf.xml"));
        EXPECT_TRUE(fs::exists(test.cache + "SearchResult.xml"));
    }
}

// A rule file of the user's wins over the shipped file of the same name; the shipped selection
// applies until the user makes their own, and only then is a selection file written.
TEST_F(InstalledLayoutTest, UsersRuleOverridesTheShippedOneOfTheSameName) {
    std::string own = testing::ReadFileBytes(temp_.File("usr/share/velunor/Rule/b-redirect.xml"));
    own.replace(own.find("跳转书城"), std::string("跳转书城").size(), "我的书城");
    fs::create_directories(temp_.File("home/.local/share/velunor/Rule"));
    temp_.Write("home/.local/share/velunor/Rule/b-redirect.xml", own);

    testing::CommandResult sites = Cli(Home(), "sites");
    EXPECT_EQ(sites.exitStatus, 0) << sites.output;
    EXPECT_NE(sites.output.find("1  [x]  校验书阁"), std::string::npos) << sites.output;
    EXPECT_NE(sites.output.find("2  [ ]  我的书城"), std::string::npos) << sites.output;
    EXPECT_EQ(sites.output.find("跳转书城"), std::string::npos) << sites.output;
    EXPECT_EQ(sites.output.find("3  "), std::string::npos) << sites.output;
    EXPECT_FALSE(fs::exists(temp_.File("home/.config/velunor/TargetSiteSelect.xml")));

    std::string shippedSelection =
        testing::ReadFileBytes(temp_.File("usr/share/velunor/Config/TargetSiteSelect.xml"));
    EXPECT_NE(Cli(Home(), "select 2").output.find("1  [ ]  校验书阁"), std::string::npos);
    EXPECT_NE(
        temp_.Read("home/.config/velunor/TargetSiteSelect.xml").find("<Selected>1,</Selected>"),
        std::string::npos);
    EXPECT_EQ(testing::ReadFileBytes(temp_.File("usr/share/velunor/Config/TargetSiteSelect.xml")),
              shippedSelection);
}

// A home folder that cannot hold the user's folders stops the program with a message naming
// the folder and the reason, before anything is done. Root may write anywhere, so the home
// folder is a file here.
TEST_F(InstalledLayoutTest, UnwritableHomeIsReportedClearly) {
    temp_.Write("home-file", "");
    testing::CommandResult search = Cli("HOME=" + temp_.File("home-file"), "search 雾港");
    EXPECT_EQ(search.exitStatus, 1);
    EXPECT_NE(search.output.find("无法创建或写入文件夹 " + temp_.File("home-file") +
                                 "/.config/velunor/：Not a directory"),
              std::string::npos)
        << search.output;
    EXPECT_EQ(search.output.find("搜索任务已启动"), std::string::npos) << search.output;
}

} // namespace
} // namespace velunor
