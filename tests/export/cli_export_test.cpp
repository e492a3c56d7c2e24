// velunor-cli export, run as a user runs it: copied into a program folder whose bookshelf holds
// the novels, started in another folder.

#include "cli/cli_runner.h"
#include "export_fixture.h"

#include <algorithm>

#include <sys/wait.h>
#include <unistd.h>

namespace velunor::testing {
namespace {

class CliExport : public ExportFixture {
  protected:
    CliExport() {
        std::filesystem::copy_file(VELUNOR_CLI, temp_.File("velunor-cli"));
        WriteNovel(RichNovel());
        TestNovel second;
        second.name = u"后来的发展";
        second.infoUrl = u"http://127.0.0.1:8000/book/2/";
        second.chapters = {{u"第一章", u"后来的发展。"}};
        WriteNovel(second);
    }

    /// velunor-cli with `arguments`, started in the fixture's out/ folder.
    CommandResult Cli(const std::string& arguments) {
        return RunCommand("cd '" + temp_.File("out") + "' && '" + temp_.File("velunor-cli") + "' " +
                          arguments);
    }
};

TEST_F(CliExport, WritesTheNovelByItsShelfNumberWhereItWasStarted) {
    CommandResult text = Cli("export 1 --format txt");
    EXPECT_EQ(text.exitStatus, 0) << text.output;
    const std::string defaultTarget = temp_.File("out/春江夜话.txt");
    EXPECT_NE(text.output.find("[已导出“" + defaultTarget +
                               "”，共 6 章，其中 2 章未能下载、1 章尚未下载（书中已注明）。]"),
              std::string::npos)
        << text.output;
    EXPECT_TRUE(temp_.Read("out/春江夜话.txt").starts_with("\xEF\xBB\xBF春江夜话\n作者：江上客\n"));

    CommandResult gb = Cli("export 1 --format txt --encoding gb18030 --to gb.txt");
    EXPECT_EQ(gb.exitStatus, 0) << gb.output;
    EXPECT_TRUE(temp_.Read("out/gb.txt").starts_with("\xB4\xBA\xBD\xAD\xD2\xB9\xBB\xB0\n"));

    CommandResult book = Cli("export 2 --format epub --convert s2t");
    EXPECT_EQ(book.exitStatus, 0) << book.output;
    std::vector<ArchiveFile> files = ReadArchive(temp_.File("out/後來的發展.epub"));
    EXPECT_NE(ArchiveData(files, "OEBPS/text/c0001.xhtml").find("<p>後來的發展。</p>"),
              std::string::npos);
}

TEST_F(CliExport, WrongArgumentsAreUsageErrorsThatWriteNothing) {
    for (const char* arguments :
         {"export", "export 1", "export 1 --format pdf", "export 3 --format epub",
          "export x --format epub", "export 1 --format epub --encoding gb18030",
          "export 1 --format txt --convert s2x", "export 1 --format txt --to",
          "export 1 --format txt --bogus 1"}) {
        CommandResult result = Cli(arguments);
        EXPECT_EQ(result.exitStatus, 2) << arguments << "\n" << result.output;
        EXPECT_NE(result.output.find("velunor-cli: "), std::string::npos) << arguments;
    }
    EXPECT_NE(Cli("export 3 --format epub").output.find("is not a novel of the bookshelf"),
              std::string::npos);
    EXPECT_TRUE(OutFolderNames().empty());
}

TEST_F(CliExport, AnUnwritableTargetExitsWithOneAndSaysWhy) {
    CommandResult result = Cli("export 1 --format epub --to missing/book.epub");
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.output.find("[导出失败：无法写入“" + temp_.File("out/missing/book.epub") +
                                 "”：文件夹不存在。]"),
              std::string::npos)
        << result.output;
    EXPECT_TRUE(OutFolderNames().empty());
}

// A process killed while it exported leaves its hidden temporary file beside the target; the next
// export clears it, and leaves that of a process that still runs, which may be exporting now.
TEST_F(CliExport, AnExportClearsTheTemporariesThatKilledExportsLeft) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(0);
    }
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    const std::string dead = ".春江夜话.txt.tmp-" + std::to_string(child) + "-1";
    const std::string live = ".春江夜话.txt.tmp-" + std::to_string(getpid()) + "-1";
    temp_.Write("out/" + dead, "half an export");
    temp_.Write("out/" + live, "an export under way");
    CommandResult result = Cli("export 1 --format txt");
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    std::vector<std::string> names = OutFolderNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{live, "春江夜话.txt"}));
}

} // namespace
} // namespace velunor::testing
