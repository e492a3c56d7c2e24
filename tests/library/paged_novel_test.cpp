// Novels whose sites split them over pages: a contents list over several pages that repeat a
// block of the latest chapters, chapters over several pages, contents on the information page,
// and a site written in Big5.

#include "library_fixture.h"

#include "cli/console_port.h"

#include <gtest/gtest.h>

#include <functional>

#include <algorithm>
#include <chrono>
#include <thread>

namespace velunor::testing {
namespace {

const std::u16string kDone = u"下载完成！ ";
const std::u16string kSite = u"笔墨";

const char16_t* const kNames[] = {u"",
                                  u"第一章 初入江湖",
                                  u"第二章 山门",
                                  u"第三章 夜雨",
                                  u"第四章 故人",
                                  u"第五章 断桥",
                                  u"第六章 孤城",
                                  u"第七章 风起",
                                  u"第八章 长夜",
                                  u"第九章 渡口",
                                  u"第十章 旧梦",
                                  u"第十一章 决战",
                                  u"第十二章 归来"};

std::u16string State(const std::u16string& page) {
    return cli::FindElementInnerHtml(page, u"down_state");
}

// "第n章第k页：" and the page's text, as the site's chapter page k of chapter n holds it.
std::u16string PageText(int n, int k) {
    return u"第" + DecimalText(n) + u"章第" + DecimalText(k) +
           u"页：山风猎猎，少年握紧了手中的木剑。";
}

// The text a stored chapter of `pages` pages holds, cleaned by the rule.
std::u16string ChapterText(int n, int pages) {
    std::u16string text;
    for (int k = 1; k <= pages; ++k) {
        text += PageText(n, k) + u"<br /><br />";
    }
    return text;
}

// A copy of the paged site that a test may change while the server runs.
struct CopiedPagedSite {
    CopiedPagedSite() {
        std::filesystem::copy(TestSite::DefaultRoot() + "/novel-paged", root.File("novel-paged"),
                              std::filesystem::copy_options::recursive);
    }
    TempFolder root;
};

class PagedNovel : public CopiedPagedSite, public LibraryFixture {
  protected:
    PagedNovel() : LibraryFixture(root.Path()) {
        rule_ = InstallRule("novel-paged");
    }

    void DownloadBook(const std::string& book, const std::u16string& name) {
        Download({kSite, rule_, name, u"墨白", site_.Url("/novel-paged/book/" + book + ".html")});
    }

    std::u16string Page(const std::u16string& novel, int n) {
        return NovelFolder(kSite, novel) + u"/" + ChapterPageName(n);
    }

    std::u16string rule_;
};

// Until its task runs, a chapter page tells the reader it is on its way; the job counts every
// finished chapter, stored or not. Chapters run five at a time in list order, so while the
// first finished chapter is being counted (the tasks wait for that), chapter 12 has not started.
TEST_F(PagedNovel, PendingChaptersSayWhatTheyWaitForAndTheTallyCountsEveryChapter) {
    WriteSearchResults(
        {{kSite, rule_, u"剑影", u"墨白", site_.Url("/novel-paged/book/1234.html")}});
    // Told of every finished chapter on the worker that finished it; the first one holds its
    // worker until chapter 12's page shows what it waits for.
    struct WatchingPort : RecordingPort {
        std::function<void(int)> finished;
        void ShowDownloadProgress(int done, int total, int failed) override {
            RecordingPort::ShowDownloadProgress(done, total, failed);
            if (done > 0) {
                finished(done);
            }
        }
    } port;
    port.AppendResultRow({u"1", kSite, u"剑影", u"墨白", u""});
    port.SelectRow(0);
    std::u16string pending;
    port.finished = [&](int done) {
        for (int wait = 0; done == 1 && wait < 500; ++wait) {
            pending = ReadPageText(Page(u"剑影", 12));
            if (pending.find(kChapterTextEnd) != std::u16string::npos) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    DownloadOpenedNovel(port, program_);
    EXPECT_EQ(State(pending), kStatePending);
    EXPECT_EQ(ShownChapterText(pending),
              u"<p class=\"notice\">本章尚未下载，可点击下方“重新下载本章”。</p>");
    EXPECT_EQ(pending.find(kChapterContentPlaceholder), std::u16string::npos);
    std::vector<DownloadProgress> tallies = port.Progress();
    // The job shows the empty bar first, then every finished chapter.
    ASSERT_EQ(tallies.size(), 13u);
    for (size_t i = 0; i < tallies.size(); ++i) {
        EXPECT_EQ(tallies[i].total, 12);
        EXPECT_EQ(tallies[i].done, static_cast<int>(i));
    }
    EXPECT_EQ(tallies.back().failed, 1);
    EXPECT_EQ(port.LastStatus(), DownloadDone(1));
}

// The pages list the chapters under volume headings; a page that starts inside a volume repeats
// its heading, and the last one ends with a volume that has no chapter yet.
TEST_F(PagedNovel, ContentsOverFourPagesListEveryChapterOnceInOrderUnderItsVolume) {
    DownloadBook("1234", u"剑影");
    const VolumeHeadings volumes = {
        {0, u"第一卷 初入江湖"}, {4, u"第二卷 孤城"}, {10, u"第三卷 决战"}, {12, u"尾声（待续）"}};
    std::u16string rows;
    size_t next = 0;
    int inRow = 0;
    for (int n = 1; n <= 13; ++n) {
        for (; next < volumes.size() && volumes[next].Before == static_cast<size_t>(n - 1);
             ++next) {
            rows += inRow % 2 == 1 ? ContentsClosingCell() : u"";
            rows += ContentsVolumeRow(volumes[next].Name);
            inRow = 0;
        }
        // Chapter 5 lacks a page, and the contents page marks it once the job is over.
        if (n <= 12) {
            rows += ContentsRow(++inRow, ChapterPageName(n), kNames[n], n == 5);
        }
    }
    std::u16string folder = NovelFolder(kSite, u"剑影");
    std::u16string contents = ReadPageText(folder + u"/ContentsPage.html");
    EXPECT_NE(contents.find(rows), std::u16string::npos) << WideToUtf8(contents);
    EXPECT_EQ(Count(contents, u".html\">第"), 12u);
    NovelIndex index;
    ASSERT_TRUE(LoadNovelIndex(folder, index));
    EXPECT_EQ(index.Volumes, volumes);
    ASSERT_EQ(index.Chapters.size(), 12u);
    EXPECT_EQ(index.Chapters[10].Name, kNames[11]);
    // Each contents page is read once; the chapters' links back to the contents are not
    // followed.
    EXPECT_EQ(RequestCount("/novel-paged/1234/"), 1u);
    for (int page = 2; page <= 4; ++page) {
        EXPECT_EQ(RequestCount("/novel-paged/1234/index_" + std::to_string(page) + ".html"), 1u);
    }
    std::vector<std::u16string> statuses = port_.Statuses();
    for (const char16_t* status : {u"正在读取目录第 2 页……", u"正在读取目录第 4 页……"}) {
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), status), statuses.end());
    }
}

TEST_F(PagedNovel, ChapterOverSeveralPagesIsStoredOnlyWhole) {
    DownloadBook("1234", u"剑影");
    ASSERT_EQ(port_.LastStatus(), DownloadDone(1));
    // Chapter 1 has three pages, the last linking on to chapter 2; chapter 12 has two, the last
    // linking back to the contents.
    const std::pair<int, int> chapters[] = {{1, 3}, {2, 1}, {11, 1}, {12, 2}};
    for (const auto& [n, pages] : chapters) {
        SCOPED_TRACE(n);
        std::u16string page = ReadPageText(Page(u"剑影", n));
        EXPECT_EQ(State(page), u"1");
        EXPECT_NE(page.find(ChapterText(n, pages)), std::u16string::npos);
        EXPECT_EQ(page.find(PageText(n, pages + 1)), std::u16string::npos);
        EXPECT_EQ(page.find(u"本章未完"), std::u16string::npos);
        EXPECT_EQ(page.find(u"第" + DecimalText(n + 1) + u"章第1页"), std::u16string::npos);
    }
    EXPECT_EQ(RequestCount("/novel-paged/1234/2.html"), 1u);
    // Chapter 5 lacks its second page: none of it is stored.
    std::u16string broken = ReadPageText(Page(u"剑影", 5));
    EXPECT_EQ(State(broken), u"-1");
    EXPECT_EQ(ShownChapterText(broken), FailedChapterNotice(u"目标站返回状态码 404"));
    EXPECT_EQ(broken.find(PageText(5, 1)), std::u16string::npos);
}

TEST_F(PagedNovel, OnDemandFetchReadsEveryPageUpToTheNextChapter) {
    std::string missing = "novel-paged/1234/12_2.html";
    std::string lastPage = root.Read(missing);
    std::filesystem::remove(root.File(missing));
    DownloadBook("1234", u"剑影");
    ASSERT_EQ(State(ReadPageText(Page(u"剑影", 12))), u"-1");
    // Chapter 12's last page appears on the site, as does chapter 5's second page, which the
    // site answers only when asked again.
    root.Write(missing, lastPage);
    const std::pair<int, int> chapters[] = {{5, 3}, {12, 2}};
    for (const auto& [n, pages] : chapters) {
        SCOPED_TRACE(n);
        std::u16string path = Page(u"剑影", n);
        std::u16string placeholder = ReadPageText(path);
        RecordingPort window;
        for (const char16_t* id :
             {u"rule_file_path", u"chapter_url", u"chapter_save_file", u"down_state"}) {
            window.SetElement(id, cli::FindElementInnerHtml(placeholder, id));
        }
        OnDemandChapterFetch(&window, program_);
        std::u16string page = ReadPageText(path);
        EXPECT_EQ(State(page), u"1");
        EXPECT_EQ(window.LastStatus(), u"成功下载本章节！");
        // Stored as the site sent it: the note of the unfinished page stays.
        EXPECT_NE(page.find(PageText(n, 1)), std::u16string::npos);
        EXPECT_NE(page.find(PageText(n, pages)), std::u16string::npos);
        EXPECT_NE(page.find(u"本章未完"), std::u16string::npos);
        EXPECT_EQ(page.find(u"第" + DecimalText(n + 1) + u"章第1页"), std::u16string::npos);
    }
    // Chapter 5's next chapter is known from the page of chapter 6; chapter 12 ends at its
    // folder, where the contents are.
    EXPECT_EQ(RequestCount("/novel-paged/1234/6.html"), 1u);
    EXPECT_EQ(RequestCount("/novel-paged/1234/"), 1u);
}

TEST_F(PagedNovel, OnDemandFetchStopsAtTheChapterThatTheNextPageRecords) {
    // The chapters are "read.php?p=31" and "read.php?p=32": by its address alone, the second
    // could be a further page of the first.
    DownloadBook("3100", u"剑影问答");
    ASSERT_EQ(port_.LastStatus(), kDone);
    std::u16string path = Page(u"剑影问答", 1);
    std::u16string page = ReadPageText(path);
    EXPECT_NE(page.find(ChapterText(1, 2)), std::u16string::npos);
    EXPECT_EQ(page.find(PageText(2, 1)), std::u16string::npos);
    const std::string next = "/novel-paged/3100/read.php?p=32";
    ASSERT_EQ(RequestCount(next), 1u);
    RecordingPort window;
    for (const char16_t* id :
         {u"rule_file_path", u"chapter_url", u"chapter_save_file", u"down_state"}) {
        window.SetElement(id, cli::FindElementInnerHtml(page, id));
    }
    OnDemandChapterFetch(&window, program_);
    EXPECT_EQ(window.LastStatus(), u"成功下载本章节！");
    EXPECT_EQ(RequestCount("/novel-paged/3100/read.php?p=31-2"), 2u);
    EXPECT_EQ(RequestCount(next), 1u);
}

TEST_F(PagedNovel, ContentsPageThatCannotBeReadEndsTheList) {
    DownloadBook("5678", u"剑影残卷");
    const std::u16string cut =
        u"目录第 3 页无法打开，只读取了前 2 页目录。原因：目标站返回状态码 404。";
    EXPECT_EQ(port_.LastStatus(), kDone + cut);
    std::vector<std::u16string> statuses = port_.Statuses();
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), cut), statuses.end());
    std::u16string contents = ReadPageText(NovelFolder(kSite, u"剑影残卷") + u"/ContentsPage.html");
    EXPECT_NE(contents.find(kNames[6]), std::u16string::npos);
    EXPECT_EQ(contents.find(kNames[7]), std::u16string::npos);
    EXPECT_EQ(State(ReadPageText(Page(u"剑影残卷", 6))), u"1");
}

TEST_F(PagedNovel, ContentsPageLinkingToAPageAlreadyReadEndsTheList) {
    // Its second page marks the first one as the current page, so it names itself as the next.
    DownloadBook("9999", u"剑影外传");
    ASSERT_EQ(port_.LastStatus(), kDone);
    EXPECT_EQ(RequestCount("/novel-paged/9999/index_2.html"), 1u);
    std::u16string contents = ReadPageText(NovelFolder(kSite, u"剑影外传") + u"/ContentsPage.html");
    EXPECT_EQ(Count(contents, u".html\">第"), 6u);
}

using Big5Novel = LibraryFixture;

TEST_F(Big5Novel, ChaptersListedOnTheInformationPageComeOutInTheirCharacters) {
    std::u16string rule = InstallRule("novel-big5");
    // Reached through a redirect: the chapters' links are relative to the final address.
    Download({u"書閣", rule, u"劍影江湖", u"佚名",
              site_.Url("/novel-big5/go?status=301&to=/novel-big5/b/88/")});
    ASSERT_EQ(port_.LastStatus(), kDone);
    std::u16string folder = NovelFolder(u"書閣", u"劍影江湖");
    const char16_t* texts[] = {u"風起於青萍之末，劍客獨立於城頭。",
                               u"劍鳴三聲，群山回響，鳥獸驚散。", u"後來的發展，誰也沒有料到。"};
    for (int n = 1; n <= 3; ++n) {
        std::u16string page = ReadPageText(folder + u"/" + ChapterPageName(n));
        EXPECT_EQ(State(page), u"1") << n;
        EXPECT_NE(page.find(texts[n - 1]), std::u16string::npos) << n;
        EXPECT_EQ(cli::FindElementInnerHtml(page, u"chapter_url"),
                  site_.Url("/novel-big5/b/88/" + std::to_string(n) + ".html"));
    }
    EXPECT_NE(ReadPageText(folder + u"/ContentsPage.html").find(u"第三章 後來"),
              std::u16string::npos);
    // The information page is the contents page: it is asked for once.
    EXPECT_EQ(RequestCount("/novel-big5/b/88/"), 1u);
    EXPECT_EQ(Requests("/novel-big5/").size(), 5u);
}

} // namespace
} // namespace velunor::testing
