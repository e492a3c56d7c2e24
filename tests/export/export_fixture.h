#pragma once
// A program folder in a temporary folder with the shipped templates, and novels written into
// its library the way the download job writes them: chapter pages made from the shipped chapter
// template, the chapter index, the images of the text and a bookshelf entry. Also what the
// export tests need to look inside the files they get: the entries of a zip archive, and
// epubcheck.

#include "core/core.h"
#include "library/library.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velunor::testing {

struct TestChapter {
    TestChapter(std::u16string chapterName, std::u16string chapterContent,
                ChapterState chapterState = ChapterState::Stored, std::u16string why = {})
        : name(std::move(chapterName)), content(std::move(chapterContent)), state(chapterState),
          reason(std::move(why)) {}

    std::u16string name;
    /// What the page's chapter text block holds for a stored chapter: the site's markup.
    std::u16string content;
    ChapterState state = ChapterState::Stored;
    std::u16string reason;
};

struct TestNovel {
    std::u16string site = u"演示书库";
    std::u16string name = u"春江夜话";
    std::u16string author = u"江上客";
    std::u16string intro;
    std::u16string infoUrl = u"http://127.0.0.1:8000/book/1/";
    std::vector<TestChapter> chapters;
    /// The volume headings among the chapters, as the index keeps them.
    VolumeHeadings volumes;
    /// Files of the novel's images/ folder: name and bytes.
    std::map<std::string, std::string> images;
};

/// The bytes of the fixture file `name` of tests/data/export/.
inline std::string FixtureBytes(const std::string& name) {
    return ReadFileBytes(std::string(VELUNOR_TEST_DATA) + "/export/" + name);
}

/// A novel with everything an export must carry through: characters outside GBK, "&", "<" and
/// references in text and names, scripts, hidden text and navigation links to drop, images of
/// each kind EPUB readers show (one shown twice) and some they need not show, chapters that
/// failed, found no text or were never fetched, and volumes: two that hold chapters, one before
/// the first chapter and one after the last that hold none.
inline TestNovel RichNovel() {
    TestNovel novel;
    novel.intro =
        u"江南春夜，&lt;一段&gt;往事。<br><br>&nbsp;&nbsp;&nbsp;&nbsp;第二段简介 &amp; 更多。";
    novel.chapters = {
        {u"第一章　𠮷日",
         u"　　𠮷野家的老板笑了😀。<br /><br />　　A & B < C，&amp;、&lt;签&gt;、&copy;、&#x1F600;。"
         u"<script>var s = \"<p>脚本</p>\";</script><div style=\"display:none\">隐藏文字</div>"
         u"<br/>&nbsp;&nbsp;&nbsp;&nbsp;第三段<a href=\"2.html\">下一章</a>"},
        {u"第二章 图",
         u"图前文字<br><img src=\"images/2_1.png\" alt=\"\"><br>图中<img src='images/2_2.jpg'>"
         u"<img src=\"images/2_3.gif\"><br>图后<img src=\"images/2_4.webp\">"
         u"<img src=\"images/missing.png\"><img src=\"http://example.com/x.png\">"},
        {u"第三章 失败", u"", ChapterState::Failed, u"目标站返回状态码 404"},
        {u"第四章 A&amp;B <终>", u"又见<img src=\"images/2_1.png\">。"},
        {u"第五章 未完", u"", ChapterState::Pending, u""},
        {u"第六章 空章", u"", ChapterState::Empty, u"未找到正文"},
    };
    novel.volumes = {
        {0, u"作品相关"}, {0, u"第一卷 春&amp;夜"}, {3, u"第二卷 江上"}, {6, u"后记（待续）"}};
    novel.images = {{"2_1.png", FixtureBytes("picture.png")},
                    {"2_2.jpg", FixtureBytes("picture.jpg")},
                    {"2_3.gif", FixtureBytes("picture.gif")},
                    {"2_4.webp", FixtureBytes("picture.webp")}};
    return novel;
}

/// One file of a zip archive as libzip reads it.
struct ArchiveFile {
    std::string name;
    std::string data;
    uint16_t method = 0;
};

/// The files of the zip archive at `path`, in the archive's order; empty when it cannot be read.
inline std::vector<ArchiveFile> ReadArchive(const std::string& path) {
    std::vector<ArchiveFile> files;
    int error = 0;
    std::unique_ptr<zip_t, decltype(&zip_discard)> archive(
        zip_open(path.c_str(), ZIP_RDONLY, &error), &zip_discard);
    if (!archive) {
        return files;
    }
    zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &stat);
        ArchiveFile file{stat.name, std::string(stat.size, '\0'), stat.comp_method};
        std::unique_ptr<zip_file_t, decltype(&zip_fclose)> entry(
            zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(i), 0), &zip_fclose);
        if (entry) {
            zip_fread(entry.get(), file.data.data(), stat.size);
        }
        files.push_back(std::move(file));
    }
    return files;
}

/// The data of the file `name` of `files`; "(missing)" when there is none.
inline std::string ArchiveData(const std::vector<ArchiveFile>& files, const std::string& name) {
    for (const ArchiveFile& file : files) {
        if (file.name == name) {
            return file.data;
        }
    }
    return "(missing)";
}

/// What epubcheck says of the book at `path`, standard error included, and whether it found
/// nothing to report.
struct EpubCheckReport {
    std::string output;
    bool clean = false;
};

inline EpubCheckReport RunEpubCheck(const std::string& path) {
    EpubCheckReport report;
    std::string command = std::string("'") + VELUNOR_JAVA + "' -jar '" + VELUNOR_EPUBCHECK_JAR +
                          "' '" + path + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return report;
    }
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        report.output.append(buffer, count);
    }
    int status = pclose(pipe);
    report.clean = status == 0 &&
                   report.output.find("No errors or warnings detected") != std::string::npos &&
                   report.output.find("WARNING") == std::string::npos &&
                   report.output.find("ERROR") == std::string::npos;
    return report;
}

/// How many times `part` occurs in `text`.
inline size_t Occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class ExportFixture : public ::testing::Test {
  protected:
    ExportFixture() {
        program_ = temp_.WidePath() + u"/";
        std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template",
                              temp_.File("Template"));
        std::filesystem::create_directories(temp_.File("Config"));
        std::filesystem::create_directories(temp_.File("out"));
    }

    /// Writes `novel` into the library and onto the bookshelf; returns its folder.
    std::u16string WriteNovel(const TestNovel& novel) {
        const std::u16string folder = NovelFolderPath(program_, novel.site, novel.name);
        EXPECT_TRUE(CreateFolderPath(folder + u"/images"));
        std::u16string encoding(kPageEncoding);
        std::u16string pageTemplate;
        EXPECT_TRUE(ReadPage(encoding, TemplatePath(program_, u"ContentPage.html"), pageTemplate));
        NovelIndex index;
        index.RuleFile = u"novel.xml";
        index.SiteName = novel.site;
        index.NovelName = novel.name;
        index.NovelAuthor = novel.author;
        index.NovelIntro = novel.intro;
        index.InfoPageUrl = novel.infoUrl;
        index.ContentsUrl = novel.infoUrl + u"list.html";
        const int count = static_cast<int>(novel.chapters.size());
        for (int n = 1; n <= count; ++n) {
            const TestChapter& chapter = novel.chapters[static_cast<size_t>(n - 1)];
            const std::u16string pageFile = folder + u"/" + ChapterPageName(n);
            ChapterPageFields fields{
                u"novel.xml",
                novel.infoUrl + DecimalText(n) + u".html",
                StoredLibraryPath(program_, pageFile),
                novel.name,
                chapter.name,
                n > 1 ? ChapterPageName(n - 1) : std::u16string(kContentsPageName),
                n < count ? ChapterPageName(n + 1) : std::u16string(kContentsPageName)};
            std::u16string content = chapter.content;
            if (chapter.state == ChapterState::Pending) {
                content = PendingChapterNotice();
            } else if (chapter.state != ChapterState::Stored) {
                content = FailedChapterNotice(chapter.reason);
            }
            std::u16string page =
                ComposeChapterPage(pageTemplate, fields, PageStateOf(chapter.state), content);
            EXPECT_TRUE(WritePage(encoding, pageFile, page));
            index.Chapters.push_back(
                {n, chapter.name, fields.ChapterUrl, chapter.state, chapter.reason});
        }
        index.Volumes = novel.volumes;
        index.NextPage = count + 1;
        EXPECT_TRUE(SaveNovelIndex(folder, index));
        for (const auto& [name, bytes] : novel.images) {
            temp_.Write(NativePath(folder).substr(temp_.Path().size() + 1) + "/images/" + name,
                        bytes);
        }
        const std::u16string contents = folder + u"/" + std::u16string(kContentsPageName);
        temp_.Write(NativePath(contents).substr(temp_.Path().size() + 1),
                    "<html><body>contents</body></html>");
        EXPECT_TRUE(AddBook(
            port_, program_,
            {novel.site, novel.name, contents, program_ + u"Rule/novel.xml", novel.infoUrl}));
        return folder;
    }

    /// A path in the fixture's out/ folder, as wide text.
    std::u16string OutFile(const std::string& name) const {
        return temp_.WideFile("out/" + name);
    }

    /// The names in the fixture's out/ folder.
    std::vector<std::string> OutFolderNames() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(temp_.File("out"))) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    TempFolder temp_;
    std::u16string program_;
    RecordingPort port_;
};

} // namespace velunor::testing
