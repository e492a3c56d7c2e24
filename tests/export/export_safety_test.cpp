// An export replaces its target only once it is whole, leaves nothing behind when it fails, and
// reports on the status line as it goes.

#include "core/core.h"
#include "export/export.h"
#include "export_fixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <regex>

namespace velunor::testing {
namespace {

bool Exists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

class ExportSafety : public ExportFixture {
  protected:
    ExportSafety() {
        TestNovel novel;
        for (int n = 1; n <= 30; ++n) {
            novel.chapters.push_back({u"第" + DecimalText(n) + u"章", u"正文" + DecimalText(n)});
        }
        folder_ = WriteNovel(novel);
    }

    ExportResult Export(const std::u16string& target, ExportFormat format = ExportFormat::Epub) {
        ExportOptions options;
        options.Format = format;
        return ExportNovel(folder_, target, options);
    }

    std::u16string folder_;
};

TEST_F(ExportSafety, AnUnwritableTargetFailsClearlyAndLeavesNothing) {
    temp_.Write("out/plain-file", "x");
    std::filesystem::create_directories(temp_.File("out/a-folder"));
    struct Case {
        std::string target;
        std::u16string why;
    };
    const Case cases[] = {
        {"out/no-such-folder/book.epub", u"文件夹不存在"},
        {"out/plain-file/book.epub", u"路径中有一部分不是文件夹"},
        {"out/a-folder", u"同名的文件夹已存在"},
        {"out/", u"同名的文件夹已存在"},
    };
    for (const Case& c : cases) {
        const std::u16string target = temp_.WideFile(c.target);
        ExportResult result = Export(target);
        EXPECT_FALSE(result.Ok) << c.target;
        EXPECT_EQ(result.Error, u"无法写入“" + target + u"”：" + c.why + u"。") << c.target;
        EXPECT_EQ(ExportSummary(result, target), u"导出失败：" + result.Error);
    }
    std::vector<std::string> names = OutFolderNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a-folder", "plain-file"}));
    EXPECT_TRUE(std::filesystem::is_empty(temp_.File("out/a-folder")));
    EXPECT_EQ(temp_.Read("out/plain-file"), "x");
}

TEST_F(ExportSafety, AFailedExportKeepsTheOldFileAndASuccessfulOneReplacesIt) {
    temp_.Write("out/book.txt", "old book");
    chmod(temp_.File("out/book.txt").c_str(), 0640);

    ExportOptions options;
    options.Format = ExportFormat::Txt;
    ExportResult failed = ExportNovel(folder_ + u"-gone", OutFile("book.txt"), options);
    EXPECT_FALSE(failed.Ok);
    EXPECT_EQ(failed.Error, u"找不到小说文件夹“" + folder_ + u"-gone”。");
    EXPECT_EQ(temp_.Read("out/book.txt"), "old book");
    EXPECT_EQ(OutFolderNames(), std::vector<std::string>{"book.txt"});

    ASSERT_TRUE(Export(OutFile("book.txt"), ExportFormat::Txt).Ok);
    EXPECT_TRUE(temp_.Read("out/book.txt").starts_with("\xEF\xBB\xBF春江夜话\n"));
    EXPECT_EQ(OutFolderNames(), std::vector<std::string>{"book.txt"});
    struct stat status;
    ASSERT_EQ(stat(temp_.File("out/book.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u) << "the replaced file keeps its permissions";
}

TEST_F(ExportSafety, ARenameThatFailsAtTheEndTakesTheTemporaryFileAway) {
    CReplacingFile file;
    ASSERT_TRUE(file.Open(temp_.File("out/late.epub")));
    const std::string temporary = file.TemporaryPath();
    EXPECT_TRUE(Exists(temporary));
    EXPECT_EQ(temporary.substr(0, temp_.File("out/").size()), temp_.File("out/"))
        << "written beside the target, so that the rename cannot cross file systems";
    ASSERT_TRUE(file.Write("data"));
    // Something takes the target's name meanwhile: a folder that is not empty.
    std::filesystem::create_directories(temp_.File("out/late.epub/inner"));
    EXPECT_FALSE(file.Commit());
    EXPECT_FALSE(Exists(temporary));
    EXPECT_EQ(OutFolderNames(), std::vector<std::string>{"late.epub"});
}

TEST_F(ExportSafety, TheStatusLineFollowsTheExportAndEndsWithItsSummary) {
    const std::u16string target = OutFile("status.epub");
    ExportOptions options;
    ExportResult result = RunExportJob(port_, folder_, target, options);
    ASSERT_TRUE(result.Ok);
    std::vector<std::u16string> statuses = port_.Statuses();
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses.front(), u"正在导出到“" + target + u"”……");
    EXPECT_EQ(statuses.back(), u"已导出“" + target + u"”，共 30 章。");
    // Between the first and the last, at most one line per tenth of the chapters, counting up.
    EXPECT_LE(statuses.size(), 11u);
    int shown = 0;
    for (size_t i = 1; i + 1 < statuses.size(); ++i) {
        std::smatch match;
        std::string line = WideToUtf8(statuses[i]);
        ASSERT_TRUE(std::regex_match(line, match, std::regex("正在导出：已读取 (\\d+)/30 章……")))
            << line;
        EXPECT_GT(std::stoi(match[1]), shown);
        shown = std::stoi(match[1]);
    }
}

TEST(ExportSummary, NamesWhatIsMissingFromTheBook) {
    ExportResult result;
    result.Ok = true;
    result.Chapters = 120;
    result.Failed = 2;
    result.Pending = 1;
    result.ImagesLeftOut = 3;
    EXPECT_EQ(ExportSummary(result, u"/tmp/书.epub"),
              u"已导出“/tmp/书.epub”，共 120 章，其中 2 章未能下载、1 章尚未下载（书中已注明），"
              u"3 幅图片未能收入。");
    result.Failed = 0;
    result.ImagesLeftOut = 0;
    EXPECT_EQ(ExportSummary(result, u"b.txt"),
              u"已导出“b.txt”，共 120 章，其中 1 章尚未下载（书中已注明）。");
}

} // namespace
} // namespace velunor::testing
