#include "cli_runner.h"

#include "../search/search_fixture.h"
#include "support/test_site.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

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
    // Sites are numbered from 1, as the target-site dialog numbers them.
    testing::CommandResult selected = Cli("select 1,3");
    EXPECT_EQ(selected.exitStatus, 0) << selected.output;
    EXPECT_NE(selected.output.find("1  [x]  古典书屋  " + site_.BaseUrl() + "/shuwu/"),
              std::string::npos)
        << selected.output;
    EXPECT_NE(selected.output.find("2  [ ]  跳转书城"), std::string::npos) << selected.output;
    EXPECT_NE(selected.output.find("3  [x]  故障站"), std::string::npos) << selected.output;
    EXPECT_NE(temp_.Read("Config/TargetSiteSelect.xml").find("<Selected>0,2,</Selected>"),
              std::string::npos);

    EXPECT_NE(Cli("select all").output.find("2  [x]"), std::string::npos);
    EXPECT_NE(Cli("select none").output.find("1  [ ]"), std::string::npos);
    // Nothing, 0, numbers past the last site and anything but digits are refused, changing
    // nothing.
    for (const char* list : {"1,7", "0", "''", ",", "+1", "' 1'", "1x", "99999999999999999999"}) {
        testing::CommandResult wrong = Cli(std::string("select ") + list);
        EXPECT_EQ(wrong.exitStatus, 2) << list;
        EXPECT_NE(wrong.output.find("is not a list of site numbers from 1 to 3"), std::string::npos)
            << wrong.output;
    }
    EXPECT_NE(Cli("sites").output.find("1  [ ]"), std::string::npos);
}

// Every way a terminal user asks for help gets it, the reader's commands first; an unknown
// command fails with the same list.
TEST_F(SearchCommandsTest, HelpAndVersionAnswerAsTerminalUsersAsk) {
    for (const char* ask : {"help", "--help", "-h"}) {
        testing::CommandResult help = Cli(ask);
        EXPECT_EQ(help.exitStatus, 0) << ask;
        EXPECT_LT(help.output.find("  search NAME"), help.output.find("  rule-test"))
            << help.output;
        EXPECT_NE(help.output.find("select 1,3 | all | none"), std::string::npos);
    }
    testing::CommandResult version = Cli("--version");
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_TRUE(version.output.starts_with("velunor-cli ")) << version.output;
    testing::CommandResult unknown = Cli("hepl");
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_NE(unknown.output.find("unknown command \"hepl\""), std::string::npos);
}

TEST_F(SearchCommandsTest, SearchPrintsRowsAndStatusesAndLeavesTheResultFile) {
    ASSERT_EQ(Cli("select 1,2,3").exitStatus, 0);
    testing::CommandResult result = Cli("search 西游");
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("[搜索任务已启动……]"), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("[正从目标站 <古典书屋> 进行搜索……]"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find(". 西游补 | 董说 | 第十六回 | 古典书屋"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("5. "), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("[搜索完成，共搜索到 5 本小说。（1 个站点无法访问：故障站）]"),
              std::string::npos)
        << result.output;
    std::string file = temp_.Read("Config/SearchResult.xml");
    size_t elements = 0;
    for (size_t at = file.find("<SearchResult>"); at != std::string::npos;
         at = file.find("<SearchResult>", at + 1)) {
        ++elements;
    }
    EXPECT_EQ(elements, 5u);
}

// A site's names, authors and chapters reach the terminal with no control character obeyed: the
// page's escapes and bells are dropped when it is decoded, and the line breaks a page may hold
// are shown, so no sequence can hide a name, clear the screen, retitle the window or write over
// the line.
TEST_F(SearchCommandsTest, SiteTextCannotSteerTheTerminal) {
    ASSERT_EQ(Cli("select 1").exitStatus, 0);
    testing::CommandResult result = Cli("search 终端");
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(
        result.output.find("1. 隐[8m藏 | ]0;改掉的标题作者 | 第一章[2J[H\\x0d清屏 | 古典书屋\n"),
        std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find_first_of("\x1b\x07\r"), std::string::npos);
}

TEST_F(SearchCommandsTest, SearchWithAnEmptyNameSaysSo) {
    testing::CommandResult result = Cli("search ''");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("请在文本框中输入要搜索的小说名称或作者名称！"), std::string::npos)
        << result.output;
}

// Ctrl-C in a terminal: the first stops the search however soon after its start (it is no
// double click of the button), and the program ends once the three-second pause is over, even
// while a site never answers; a second one ends it at once.
class SearchInterruptTest : public SearchCommandsTest {
  protected:
    ~SearchInterruptTest() override {
        if (pipe_ >= 0) {
            close(pipe_);
        }
    }

    // Starts velunor-cli search with its output into a pipe that ReadUntil reads.
    pid_t StartSearch() {
        InstallRule("g-silent.xml", "g-silent.xml", site_);
        WriteSelection("3,");
        std::string program = temp_.File("velunor-cli");
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) {
            return -1;
        }
        pid_t child = fork();
        if (child == 0) {
            dup2(pipeEnds[1], STDOUT_FILENO);
            close(pipeEnds[0]);
            close(pipeEnds[1]);
            execl(program.c_str(), program.c_str(), "search", "西游", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeEnds[1]);
        pipe_ = pipeEnds[0];
        return child;
    }

    // Reads the program's output until it holds `text`; false when the output ended first.
    bool ReadUntil(const std::string& text) {
        char buffer[512];
        while (output_.find(text) == std::string::npos) {
            ssize_t got = read(pipe_, buffer, sizeof buffer);
            if (got <= 0) {
                return false;
            }
            output_.append(buffer, static_cast<size_t>(got));
        }
        return true;
    }

    // The exit status once the process has ended; -1, with the process killed, when it still
    // runs after `limit`.
    static int WaitForExit(pid_t child,
                           std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        int status = 0;
        if (testing::WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, limit)) {
            return status;
        }
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }

    // Whether `child` has a handler for Ctrl-C: /proc lists the signals a process catches as a
    // mask in hexadecimal, signal n at bit n - 1.
    static bool CatchesCtrlC(pid_t child) {
        std::ifstream status("/proc/" + std::to_string(child) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.starts_with("SigCgt:")) {
                unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
                return ((mask >> (SIGINT - 1)) & 1) != 0;
            }
        }
        return false;
    }

    std::string output_;

  private:
    int pipe_ = -1;
};

TEST_F(SearchInterruptTest, FirstCtrlCStopsTheSearchAfterThePause) {
    pid_t child = StartSearch();
    ASSERT_GT(child, 0);
    // At once, well within the three seconds in which the stop button refuses a stop.
    ASSERT_TRUE(ReadUntil("[搜索任务已启动……]")) << output_;
    kill(child, SIGINT);
    // The site answers after ten minutes: only the stop ends the program, three seconds after
    // the Ctrl-C. A search that let the Ctrl-C pass would still run at the guard's limit.
    int status = WaitForExit(child, std::chrono::seconds(10));
    ASSERT_NE(status, -1);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(ReadUntil("[搜索任务被终止！]")) << output_;
}

TEST_F(SearchInterruptTest, SecondCtrlCEndsTheProgramAtOnce) {
    pid_t child = StartSearch();
    ASSERT_GT(child, 0);
    ASSERT_TRUE(testing::WaitUntil([&] { return CatchesCtrlC(child); }));
    kill(child, SIGINT);
    // Once the first Ctrl-C is taken, the next one meets the default action.
    ASSERT_TRUE(testing::WaitUntil([&] { return !CatchesCtrlC(child); }));
    kill(child, SIGINT);
    int status = WaitForExit(child);
    ASSERT_NE(status, -1) << "still running after a second Ctrl-C";
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGINT);
}

} // namespace
} // namespace velunor
