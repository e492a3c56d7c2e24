#include "library_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

namespace velunor::testing {
namespace {

struct CliRun {
    int code;
    std::string output;
};

// velunor-cli, copied into the fixture's program folder so that it works on that folder.
class CliCommands : public LibraryFixture {
  protected:
    CliCommands() {
        std::filesystem::copy_file(VELUNOR_CLI, temp_.File("velunor-cli"));
    }

    CliRun Cli(const std::string& arguments, const std::string& startFolder = {}) {
        std::string folder = startFolder.empty() ? temp_.Path() : startFolder;
        std::string command =
            "cd '" + folder + "' && '" + temp_.File("velunor-cli") + "' " + arguments + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        CliRun run{-1, {}};
        char buffer[4096];
        size_t count = 0;
        while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            run.output.append(buffer, count);
        }
        int status = pclose(pipe);
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }
};

TEST_F(CliCommands, DownloadRefetchAndBookshelfWorkFromTheTerminal) {
    WriteSearchResults({GbkHit(u"三章小说", "sanzhang.html"), GbkHit(u"混合小说", "hunhe.html")});
    CliRun download = Cli("download 2");
    EXPECT_EQ(download.code, 0) << download.output;
    EXPECT_NE(download.output.find("bookshelf: 书屋甲 - 混合小说"), std::string::npos);
    EXPECT_EQ(download.output.rfind("[下载完成！ ]\n"),
              download.output.size() - std::string("[下载完成！ ]\n").size());
    EXPECT_EQ(Cli("download 3").code, 2);

    // A page named relative to the folder velunor-cli starts in; chapter 3 has no text.
    std::string novel = NativePath(NovelFolder(kGbkSite, u"混合小说"));
    CliRun refetch = Cli("refetch 3.html", novel);
    EXPECT_EQ(refetch.code, 1);
    EXPECT_NE(refetch.output.find("Velunor: 在目标站没有提取到章节内容，请更换目标站！"),
              std::string::npos);

    EXPECT_EQ(Cli("shelf").output, "1. 书屋甲 - 混合小说\n");
    EXPECT_EQ(Cli("shelf open 1").output, "page: " + novel + "/ContentsPage.html\n");
    EXPECT_EQ(Cli("shelf delete 2").code, 2);
    CliRun removed = Cli("shelf delete 1");
    EXPECT_EQ(removed.output, "deleted: 书屋甲 - 混合小说\nthe bookshelf is empty\n");
    EXPECT_FALSE(Exists(novel));
}

} // namespace
} // namespace velunor::testing
