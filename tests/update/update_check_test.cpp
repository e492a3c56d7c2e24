#include "update/update_check.h"

#include "update/internal/run_program.h"

#include "support/recording_port.h"
#include "support/temp_folder.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>

namespace velunor {
namespace {

using namespace std::chrono_literals;
using testing::RecordingPort;
using testing::TempFolder;

class UpdateCheckTest : public ::testing::Test {
  protected:
    // An updater that answers "-checkforupdates" with `exitCode` and notes every run without
    // parameters in installed.txt.
    void InstallUpdater(const std::string& checkCommand) {
        temp_.Write("tolvane", "#!/bin/sh\n"
                               "if [ \"$1\" = \"-checkforupdates\" ]; then " +
                                   checkCommand +
                                   "; fi\n"
                                   "echo installed >> \"$(dirname \"$0\")/installed.txt\"\n");
        chmod(temp_.File("tolvane").c_str(), 0755);
    }

    std::u16string ProgramFolder() const {
        return temp_.WidePath() + u"/";
    }

    // The installing run is started, not waited for: it leaves its mark when it has run.
    bool InstallRan() {
        return testing::WaitUntil([this] { return !temp_.Read("installed.txt").empty(); });
    }

    TempFolder temp_;
    RecordingPort window_;
};

TEST_F(UpdateCheckTest, ReportedUpdatesAreOfferedAndInstalledOnYes) {
    InstallUpdater("exit 3");
    window_.AnswerMessagesWith(MessageAnswer::Yes);
    EXPECT_TRUE(RunUpdateCheck(window_, ProgramFolder()));
    ASSERT_EQ(window_.Messages().size(), 1u);
    EXPECT_EQ(window_.Messages()[0].text, u"检测到程序有 3 个更新，是否立即更新？");
    EXPECT_EQ(window_.Messages()[0].icon, MessageIcon::Question);
    EXPECT_EQ(window_.Messages()[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(InstallRan());
}

TEST_F(UpdateCheckTest, NoLeavesTheUpdaterAlone) {
    InstallUpdater("exit 3");
    window_.AnswerMessagesWith(MessageAnswer::No);
    EXPECT_FALSE(RunUpdateCheck(window_, ProgramFolder()));
    EXPECT_EQ(window_.Messages().size(), 1u);
    EXPECT_EQ(temp_.Read("installed.txt"), "");
}

TEST_F(UpdateCheckTest, NothingToAskWhenThereIsNoUpdate) {
    InstallUpdater("exit 0");
    EXPECT_FALSE(RunUpdateCheck(window_, ProgramFolder()));
    EXPECT_TRUE(window_.Messages().empty());
}

TEST_F(UpdateCheckTest, AHungUpdaterCountsAsNoUpdate) {
    // Waited for to its end, the updater would report four updates and be asked about them.
    InstallUpdater("sleep 3; exit 4");
    EXPECT_FALSE(RunUpdateCheck(window_, ProgramFolder(), 300ms));
    EXPECT_TRUE(window_.Messages().empty());
}

TEST_F(UpdateCheckTest, NoUpdaterNoCheck) {
    EXPECT_FALSE(RunUpdateCheck(window_, ProgramFolder()));
    temp_.Write("tolvane", "not a program");
    EXPECT_FALSE(RunUpdateCheck(window_, ProgramFolder()));
    EXPECT_TRUE(window_.Messages().empty());
}

TEST(RunAndWait, ExitCodesAndFailures) {
    EXPECT_EQ(internal::RunAndWait(u"/bin/sh", {"-c", "exit 7"}, 10s), 7);
    EXPECT_EQ(internal::RunAndWait(u"/bin/sh", {"-c", "kill -9 $$"}, 10s), std::nullopt);
    EXPECT_EQ(internal::RunAndWait(u"/nonexistent/program", {}, 10s), std::nullopt);
}

} // namespace
} // namespace velunor
