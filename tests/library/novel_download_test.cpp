#include "library_fixture.h"

#include "cli/console_port.h"
#include "library/novel_index.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace velunor::testing {
namespace {

using NovelDownload = LibraryFixture;

const std::u16string kDone = u"下载完成！ ";

std::u16string Hidden(const std::u16string& page, const std::u16string& id) {
    return cli::FindElementInnerHtml(page, id);
}

TEST_F(NovelDownload, ThreeChapterNovelBecomesLinkedPagesAContentsPageAndABookshelfEntry) {
    Download(GbkHit(u"三章小说", "sanzhang.html"));
    EXPECT_EQ(port_.LastStatus(), kDone);
    std::u16string folder = NovelFolder(kGbkSite, u"三章小说");
    const char16_t* texts[] = {u"天色未明", u"山路盘旋", u"城门就在眼前"};
    const char16_t* prev[] = {u"ContentsPage.html", u"1.html", u"2.html"};
    const char16_t* next[] = {u"2.html", u"3.html", u"ContentsPage.html"};
    for (int n = 1; n <= 3; ++n) {
        std::u16string path = folder + u"/" + ChapterPageName(n);
        std::u16string page = ReadPageText(path);
        SCOPED_TRACE(n);
        EXPECT_NE(page.find(texts[n - 1]), std::u16string::npos);
        EXPECT_EQ(Hidden(page, u"down_state"), u"1");
        // Stored relative to the program folder, which can then be moved.
        EXPECT_EQ(Hidden(page, u"chapter_save_file"), u"书屋甲/三章小说/" + ChapterPageName(n));
        EXPECT_EQ(Hidden(page, u"rule_file_path"), u"novel-gbk.xml");
        // Chapter links are resolved against the contents page, which lies in list/.
        EXPECT_EQ(Hidden(page, u"chapter_url"),
                  site_.Url("/novel-gbk/book/list/s" + std::to_string(n) + ".html"));
        EXPECT_EQ(Count(page, u"<a href=\"" + std::u16string(prev[n - 1]) + u"\">上一章</a>"), 2u);
        EXPECT_EQ(Count(page, u"<a href=\"" + std::u16string(next[n - 1]) + u"\">下一章</a>"), 2u);
        for (std::u16string_view placeholder :
             {kRuleFilePathPlaceholder, kChapterUrlPlaceholder, kChapterSaveFilePlaceholder,
              kNovelNamePlaceholder, kChapterNamePlaceholder, kPrevChapterUrlPlaceholder,
              kNextChapterUrlPlaceholder, kDownStatePlaceholder, kChapterContentPlaceholder}) {
            EXPECT_EQ(page.find(placeholder), std::u16string::npos) << WideToUtf8(placeholder);
        }
    }
    EXPECT_NE(ReadPageText(folder + u"/1.html").find(u"<h1>第一章 出发 & <序></h1>"),
              std::u16string::npos);
    std::u16string contents = ReadPageText(folder + u"/ContentsPage.html");
    std::u16string rows = ContentsRow(1, ChapterPageName(1), u"第一章 出发 & <序>", false) +
                          ContentsRow(2, ChapterPageName(2), u"第二章 山路", false) +
                          ContentsRow(3, ChapterPageName(3), u"第三章 到达", false) +
                          ContentsClosingCell();
    EXPECT_NE(contents.find(rows), std::u16string::npos);
    EXPECT_NE(contents.find(u"<h1>三章小说</h1>"), std::u16string::npos);
    EXPECT_TRUE(IsDirectory(folder + u"/images"));
    std::vector<BookEntry> shelf = ReadBookShelf(program_);
    ASSERT_EQ(shelf.size(), 1u);
    EXPECT_EQ(shelf[0].TargetSite, kGbkSite);
    EXPECT_EQ(shelf[0].NovelName, u"三章小说");
    EXPECT_EQ(shelf[0].ContentsPagePath, folder + u"/ContentsPage.html");
    EXPECT_EQ(port_.BookItems(), std::vector<std::u16string>{u"书屋甲 - 三章小说"});
    EXPECT_EQ(port_.Navigations(), std::vector<std::u16string>{folder + u"/ContentsPage.html"});
    std::vector<std::u16string> statuses = port_.Statuses();
    ASSERT_GE(statuses.size(), 4u);
    EXPECT_EQ(statuses[0], u"正在提取小说信息……");
    EXPECT_EQ(statuses[1], u"正在提取小说目录，可能需要几秒钟……");
    EXPECT_EQ(statuses[2], u"正在提取小说章节，可能需要几秒钟……");
    EXPECT_EQ(statuses[3], u"小说目录提取完成！");
    int started = 0;
    for (const std::u16string& status : statuses) {
        started += status.rfind(u"正在下载 ", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(started, 3);
}

TEST_F(NovelDownload, EachChapterEndsInItsOwnStateAndFailuresAreCounted) {
    Download(GbkHit(u"混合小说", "hunhe.html"));
    EXPECT_EQ(port_.LastStatus(),
              u"下载完成！ 其中 3 章下载失败，可在书架上右键选择“重新下载失败章节”。");
    std::u16string folder = NovelFolder(kGbkSite, u"混合小说");
    std::u16string cleaned = ReadPageText(folder + u"/1.html");
    EXPECT_EQ(Hidden(cleaned, u"down_state"), u"1");
    EXPECT_NE(cleaned.find(u"正文在此。正文结束。"), std::u16string::npos);
    // A failed chapter says why, never shows the placeholder, and keeps the block the text
    // goes into.
    const std::pair<int, std::u16string> failed[] = {
        {2, u"目标站返回状态码 404"}, {3, u"未找到正文"}, {5, u"图片下载失败（无法连接目标站）"}};
    for (const auto& [n, reason] : failed) {
        std::u16string page = ReadPageText(folder + u"/" + ChapterPageName(n));
        EXPECT_EQ(Hidden(page, u"down_state"), n == 3 ? u"0" : u"-1") << n;
        EXPECT_EQ(ShownChapterText(page), u"<p class=\"notice\">本章下载失败（" + reason +
                                              u"）。请点击下方“重新下载本章”再试。</p>")
            << n;
        EXPECT_EQ(page.find(u"{ChapterContent}"), std::u16string::npos) << n;
    }
    // Relative images are stored under names of their chapter page and stand where the text
    // shows them, which keeps the part the replace rule would delete.
    std::u16string pictures = ReadPageText(folder + u"/4.html");
    EXPECT_EQ(Hidden(pictures, u"down_state"), u"1");
    std::u16string expected = u"<img src=\"images/4_1.png\"><span class=\"ad\">图中有字</span>"
                              u"<img src='images/4_2.png'>";
    EXPECT_NE(pictures.find(expected), std::u16string::npos);
    std::string images = NativePath(folder + u"/images/");
    std::string site = TestSite::DefaultRoot() + "/novel-gbk/book/list/img/";
    EXPECT_EQ(ReadFileBytes(images + "4_1.png"), ReadFileBytes(site + "a.png"));
    EXPECT_EQ(ReadFileBytes(images + "4_2.png"), ReadFileBytes(site + "b.png"));
    // A transfer that breaks off fails the chapter; the image before it stays.
    std::u16string broken = ReadPageText(folder + u"/5.html");
    EXPECT_EQ(Hidden(broken, u"down_state"), u"-1");
}

TEST_F(NovelDownload, DownloadingAgainReplacesPagesAndImages) {
    Hit hit = GbkHit(u"混合小说", "hunhe.html");
    Download(hit);
    Download(std::vector<Hit>{hit}, 0, port_);
    std::u16string folder = NovelFolder(kGbkSite, u"混合小说");
    std::string site = TestSite::DefaultRoot() + "/novel-gbk/book/list/img/";
    EXPECT_EQ(ReadFileBytes(NativePath(folder + u"/images/4_1.png")),
              ReadFileBytes(site + "a.png"));
    EXPECT_EQ(ReadFileBytes(NativePath(folder + u"/images/4_2.png")),
              ReadFileBytes(site + "b.png"));
    EXPECT_EQ(Count(ReadPageText(folder + u"/1.html"), u"正文在此"), 1u);
    EXPECT_EQ(Count(ReadPageText(folder + u"/ContentsPage.html"), u"<a href=\"1.html\">"), 1u);
    // The same novel in the same folder: one shelf entry, whose delete cannot orphan another.
    EXPECT_EQ(ReadBookShelf(program_).size(), 1u);
    EXPECT_EQ(port_.BookItems().size(), 1u);
}

TEST_F(NovelDownload, Utf8SiteGivesCorrectText) {
    Hit hit{kUtf8Site, utf8Rule_, u"星辰之书", u"佚名", site_.Url("/novel-utf8/book.html")};
    Download(hit);
    ASSERT_EQ(port_.LastStatus(), kDone);
    std::u16string folder = NovelFolder(kUtf8Site, u"星辰之书");
    EXPECT_NE(ReadPageText(folder + u"/1.html").find(u"银河倾泻，萤火如织。"),
              std::u16string::npos);
    EXPECT_NE(ReadPageText(folder + u"/2.html").find(u"生僻字𠀀与表情😀都应完好。"),
              std::u16string::npos);
    EXPECT_NE(ReadPageText(folder + u"/ContentsPage.html").find(u"第二章 𠀀字"),
              std::u16string::npos);
}

struct StopCase {
    const char* info;
    const char16_t* message;
};

TEST_F(NovelDownload, StopsLeaveNoFilesAndShowTheResultsAgain) {
    const StopCase cases[] = {
        {"missing.html", u"无法打开目标站小说信息页，下载中止!原因：目标站返回状态码 404。"},
        {"empty.html", u"在目标站目录页提取到 0 个章节，请更换目标站进行下载，下载中止！"},
        {"toomany.html", u"目录页提取到的章节超过 50000 个，请检查规则文件，下载中止！"},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.info);
        RecordingPort port;
        port.SetViewMode(ViewMode::Reading);
        Download({GbkHit(u"小说", c.info)}, 0, port);
        EXPECT_EQ(port.LastStatus(), c.message);
        EXPECT_EQ(port.GetViewMode(), ViewMode::SearchResults);
    }
    EXPECT_FALSE(Exists(temp_.File("Novel")));
    EXPECT_FALSE(Exists(temp_.File("Config/BookShelf.xml")));
}

TEST_F(NovelDownload, ContentsPageThatCannotBeFetchedStops) {
    Download(GbkHit(u"无目录", "nolist.html"));
    EXPECT_EQ(port_.LastStatus(),
              u"无法打开目标站小说目录页，下载中止！原因：目标站返回状态码 404。");
}

TEST_F(NovelDownload, RowWithoutMatchingHitStopsWithAMessage) {
    Hit listed = GbkHit(u"三章小说", "sanzhang.html");
    WriteSearchResults({listed});
    port_.AppendResultRow({u"1", kGbkSite, u"三章小说", u"别人", u""});
    port_.SelectRow(0);
    DownloadOpenedNovel(port_, program_);
    EXPECT_EQ(port_.LastStatus(), u"在搜索结果中找不到所选的小说，请重新搜索，下载中止！");
    EXPECT_EQ(port_.GetViewMode(), ViewMode::SearchResults);
    RecordingPort noSelection;
    DownloadOpenedNovel(noSelection, program_);
    EXPECT_EQ(noSelection.LastStatus(), u"在搜索结果中找不到所选的小说，请重新搜索，下载中止！");
    EXPECT_FALSE(Exists(temp_.File("Novel")));
}

// Two rows that read alike are still two hits: the row opened is the one downloaded.
TEST_F(NovelDownload, EachOfTwoEqualRowsOpensItsOwnHit) {
    Hit broken = GbkHit(u"三章小说", "missing.html");
    Hit good = GbkHit(u"三章小说", "sanzhang.html");
    Download({broken, good}, 1, port_);
    EXPECT_EQ(port_.LastStatus(), kDone);
}

TEST_F(NovelDownload, NamesFromTheSiteStayInsideTheLibrary) {
    Download(GbkHit(u"越界", "evil.html"));
    ASSERT_EQ(port_.LastStatus(), kDone);
    std::u16string folder = NovelFolder(kGbkSite, u".._.._x");
    EXPECT_EQ(Hidden(ReadPageText(folder + u"/1.html"), u"down_state"), u"1");
    EXPECT_TRUE(Exists(NativePath(folder + u"/images/1_1")));
    EXPECT_EQ(ReadBookShelf(program_)[0].NovelName, u"../../x");
    for (const auto& entry : std::filesystem::directory_iterator(temp_.Path())) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "Novel" || name == "Config" || name == "Template" || name == "Rule")
            << name;
    }
    // The one site folder, beside the library's change mark.
    EXPECT_EQ(std::count_if(std::filesystem::directory_iterator(temp_.File("Novel")),
                            std::filesystem::directory_iterator(),
                            [](const auto& entry) { return entry.is_directory(); }),
              1);
}

TEST_F(NovelDownload, NovelsWithoutANameOnTheirPageKeepTheirListedNames) {
    std::vector<Hit> hits{GbkHit(u"无名一", "noname1.html"), GbkHit(u"无名二", "noname2.html")};
    Download(hits, 0, port_);
    Download(hits, 1, port_);
    EXPECT_NE(ReadPageText(NovelFolder(kGbkSite, u"无名一") + u"/1.html").find(u"天色未明"),
              std::u16string::npos);
    EXPECT_NE(ReadPageText(NovelFolder(kGbkSite, u"无名二") + u"/1.html").find(u"山路盘旋"),
              std::u16string::npos);
    EXPECT_EQ(port_.BookItems(),
              (std::vector<std::u16string>{u"书屋甲 - 无名一", u"书屋甲 - 无名二"}));
}

// A folder that a delete cut short left behind, its entry gone: a download of the novel again
// fetches every chapter whose page is not there, whatever the index left in it says.
TEST_F(NovelDownload, DownloadOverALeftOverFolderStoresEveryChapter) {
    const std::vector<std::vector<const char*>> leftOvers = {
        {"2.html", "ContentsPage.html"},
        {"NovelIndex.xml", "1.html"},
        {"NovelIndex.xml", "2.html"},
        {"1.html", "3.html"},
    };
    const Hit hit = GbkHit(u"三章小说", "sanzhang.html");
    std::u16string folder = NovelFolder(kGbkSite, u"三章小说");
    for (const auto& removed : leftOvers) {
        SCOPED_TRACE(removed[0] + std::string(" ") + removed[1]);
        std::filesystem::remove_all(temp_.File("Novel"));
        std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
        Download(hit);
        for (const char* name : removed) {
            std::filesystem::remove(NativePath(folder) + "/" + name);
        }
        std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
        RecordingPort window;
        Download({hit}, 0, window);
        EXPECT_TRUE(window.LastStatus().ends_with(u"失败 0 章。") || window.LastStatus() == kDone)
            << WideToUtf8(window.LastStatus());
        // A chapter whose page was lost may come back under a new page number: what counts is
        // that the index lists all three and each listed page holds its chapter.
        NovelIndex index;
        ASSERT_TRUE(LoadNovelIndex(folder, index));
        ASSERT_EQ(index.Chapters.size(), 3u);
        for (const IndexedChapter& chapter : index.Chapters) {
            std::u16string page = ReadPageText(folder + u"/" + ChapterPageName(chapter.Page));
            EXPECT_EQ(Hidden(page, u"down_state"), u"1") << chapter.Page;
            EXPECT_EQ(Hidden(page, u"chapter_url"), chapter.Url) << chapter.Page;
        }
        EXPECT_EQ(ReadBookShelf(program_).size(), 1u);
    }
}

TEST_F(NovelDownload, TwoDownloadsRunAtTheSameTime) {
    Hit three = GbkHit(u"三章小说", "sanzhang.html");
    Hit mixed = GbkHit(u"混合小说", "hunhe.html");
    WriteSearchResults({three, mixed});
    RecordingPort first;
    RecordingPort second;
    for (RecordingPort* port : {&first, &second}) {
        port->AppendResultRow({u"1", kGbkSite, three.name, three.author, u""});
        port->AppendResultRow({u"2", kGbkSite, mixed.name, mixed.author, u""});
    }
    first.SelectRow(0);
    second.SelectRow(1);
    std::thread one([&] { DownloadOpenedNovel(first, program_); });
    std::thread two([&] { DownloadOpenedNovel(second, program_); });
    one.join();
    two.join();
    EXPECT_EQ(first.LastStatus(), kDone);
    EXPECT_EQ(second.LastStatus(), DownloadDone(3));
    EXPECT_EQ(ReadBookShelf(program_).size(), 2u);
    EXPECT_EQ(Hidden(ReadPageText(NovelFolder(kGbkSite, u"三章小说") + u"/3.html"), u"down_state"),
              u"1");
    EXPECT_EQ(Hidden(ReadPageText(NovelFolder(kGbkSite, u"混合小说") + u"/4.html"), u"down_state"),
              u"1");
}

TEST_F(NovelDownload, StartShowsTheWaitingPageAndRunsOnItsOwnThread) {
    WriteSearchResults({GbkHit(u"三章小说", "sanzhang.html")});
    // Never freed, and held where the leak checker sees it: the detached job may still be
    // returning from its last call on the port when the test ends.
    static auto* const port = new RecordingPort;
    port->AppendResultRow({u"1", kGbkSite, u"三章小说", u"佚名", u""});
    port->SelectRow(0);
    StartNovelDownload(*port, program_);
    EXPECT_EQ(port->WaitPages(), 1);
    EXPECT_EQ(port->GetViewMode(), ViewMode::Reading);
    ASSERT_TRUE(port->WaitForStatus(kDone));
}

} // namespace
} // namespace velunor::testing
