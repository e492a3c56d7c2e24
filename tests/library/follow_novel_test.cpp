// Following a serialised novel: updates with the chapters the site adds, retries of failed
// chapters, downloads cut short and finished later, reading positions and moved libraries,
// against a novel site whose pages the tests change while it runs.

#include "library_fixture.h"

#include "cli/console_port.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <map>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace velunor::testing {
namespace {

constexpr const char16_t* kNovel = u"连载小说";

// A copy of the GB2312 site's folder in which the tests write a serialised novel: an
// information page, one contents page and a page per chapter ("serial/c<id>.html").
struct SerialSite {
    SerialSite() {
        std::filesystem::create_directories(root.File("novel-gbk/serial"));
    }
    TempFolder root;
};

class FollowNovel : public SerialSite, public LibraryFixture {
  protected:
    FollowNovel() : LibraryFixture(root.Path()) {}

    static std::string Gbk(const std::u16string& text) {
        std::string bytes;
        EncodeCharset(text, "GBK", bytes);
        return bytes;
    }

    static std::u16string ChapterName(int id) {
        return u"第" + DecimalText(id) + u"章 风起";
    }

    static std::u16string ChapterText(int id, const std::u16string& extra = {}) {
        return u"第" + DecimalText(id) + u"章的正文" + extra;
    }

    void WritePage(const std::string& name, const std::u16string& body) {
        root.Write("novel-gbk/serial/" + name,
                   Gbk(u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                       u"charset=gb2312\"><script>var ad=1;</script></head><body>" +
                       body + u"</body></html>"));
    }

    /// The site lists chapters `ids` in this order, `volumes[id]` as a heading above chapter id;
    /// the pages of `missing` answer 404.
    void WriteNovel(const std::vector<int>& ids, const std::set<int>& missing = {},
                    const std::map<int, std::u16string>& volumes = {}) {
        WritePage("info.html",
                  u"<h1>" + std::u16string(kNovel) +
                      u"</h1><p>作者：佚名</p><a id=\"list\" href=\"list.html\">目录</a>");
        std::u16string items;
        for (int id : ids) {
            auto volume = volumes.find(id);
            if (volume != volumes.end()) {
                items += u"<li class=\"volume\">" + volume->second + u"</li>\n";
            }
            items += u"<li><a href=\"c" + DecimalText(id) + u".html\">" + ChapterName(id) +
                     u"</a></li>\n";
            std::string page = "c" + std::to_string(id) + ".html";
            if (missing.count(id) > 0) {
                std::filesystem::remove(root.File("novel-gbk/serial/" + page));
            } else {
                WritePage(page, u"<div id=\"text\">" + ChapterText(id) + u"</div>");
            }
        }
        WritePage("list.html", u"<ul id=\"chapters\">\n" + items + u"</ul>");
    }

    static std::vector<int> Range(int from, int to) {
        std::vector<int> ids;
        for (int id = from; id <= to; ++id) {
            ids.push_back(id);
        }
        return ids;
    }

    Hit SerialHit() {
        return {kGbkSite, gbkRule_, kNovel, u"佚名", site_.Url("/novel-gbk/serial/info.html")};
    }

    std::u16string Folder() {
        return NovelFolder(kGbkSite, kNovel);
    }

    std::u16string PageOf(int page) {
        return ReadPageText(Folder() + u"/" + ChapterPageName(page));
    }

    size_t ChapterRequests(int id) {
        return RequestCount("/novel-gbk/serial/c" + std::to_string(id) + ".html");
    }

    NovelIndex Index() {
        NovelIndex index;
        EXPECT_TRUE(LoadNovelIndex(Folder(), index));
        return index;
    }

    /// The page files of the contents page's links, in order.
    std::vector<std::u16string> ContentsLinks() {
        std::u16string contents = ReadPageText(Folder() + u"/ContentsPage.html");
        std::vector<std::u16string> links;
        constexpr std::u16string_view kLink = u"<a href=\"";
        for (size_t at = contents.find(kLink); at != std::u16string::npos;
             at = contents.find(kLink, at + 1)) {
            size_t start = at + kLink.size();
            links.push_back(contents.substr(start, contents.find(u'"', start) - start));
        }
        return links;
    }

    std::vector<std::u16string> ShelfLabels() {
        CBookShelfModel model(program_);
        model.LoadBookShelf();
        return model.Items();
    }
};

std::u16string Hidden(const std::u16string& page, const std::u16string& id) {
    return cli::FindElementInnerHtml(page, id);
}

// The "上一章" and "下一章" links of a chapter page.
std::pair<std::u16string, std::u16string> NavLinks(const std::u16string& page) {
    auto before = [&](std::u16string_view label) {
        size_t end = page.find(u"\">" + std::u16string(label) + u"</a>");
        size_t start = page.rfind(u"href=\"", end) + 6;
        return page.substr(start, end - start);
    };
    return {before(u"上一章"), before(u"下一章")};
}

TEST_F(FollowNovel, UpdateFetchesOnlyTheNewChaptersAndLinksThemIn) {
    WriteNovel(Range(1, 5));
    Download(SerialHit());
    ASSERT_EQ(port_.LastStatus(), DownloadDone(0));
    EXPECT_EQ(NavLinks(PageOf(5)),
              std::make_pair(std::u16string(u"4.html"), std::u16string(u"ContentsPage.html")));
    WriteNovel(Range(1, 8));
    RecordingPort update;
    NovelJobOutcome outcome = UpdateNovel(update, program_, Folder());
    EXPECT_TRUE(outcome.Succeeded());
    EXPECT_EQ(update.LastStatus(), u"更新完成：新增 3 章，重新下载 0 章，失败 0 章。");
    for (int id = 1; id <= 8; ++id) {
        EXPECT_EQ(ChapterRequests(id), 1u) << id;
        EXPECT_NE(PageOf(id).find(ChapterText(id)), std::u16string::npos) << id;
    }
    // The old last chapter now leads on to the first new one, and the new last one back to the
    // contents.
    EXPECT_EQ(NavLinks(PageOf(5)),
              std::make_pair(std::u16string(u"4.html"), std::u16string(u"6.html")));
    EXPECT_EQ(NavLinks(PageOf(8)),
              std::make_pair(std::u16string(u"7.html"), std::u16string(u"ContentsPage.html")));
    EXPECT_EQ(ContentsLinks().size(), 8u);
    EXPECT_EQ(Index().Chapters.size(), 8u);
    EXPECT_EQ(Index().UnfinishedCount(), 0);
    EXPECT_EQ(ReadBookShelf(program_).size(), 1u);
    EXPECT_EQ(update.Progress().back().total, 3);

    // Opening the hit again updates the one novel: nothing new, nothing fetched again.
    RecordingPort again;
    Download({SerialHit()}, 0, again);
    EXPECT_EQ(again.LastStatus(), u"更新完成：新增 0 章，重新下载 0 章，失败 0 章。");
    // The window shows the contents page in place of the waiting page, as for a new novel.
    EXPECT_EQ(again.Navigations(), std::vector<std::u16string>{Folder() + u"/ContentsPage.html"});
    EXPECT_EQ(ChapterRequests(1), 1u);
    EXPECT_EQ(ReadBookShelf(program_).size(), 1u);
    EXPECT_EQ(ShelfLabels(), std::vector<std::u16string>{u"书屋甲 - 连载小说（新 3 章）"});
}

// The volumes of the chapters stored before and of the new ones alike are those of the contents
// as the update reads them; the contents page shows each heading on a row of its own above its
// chapters, which fill their rows two by two.
TEST_F(FollowNovel, UpdateTakesTheVolumesOfEveryChapterFromTheContentsReadAgain) {
    WriteNovel(Range(1, 3), {}, {{1, u"第一卷 起"}});
    Download(SerialHit());
    ASSERT_EQ(port_.LastStatus(), DownloadDone(0));
    EXPECT_EQ(Index().Volumes, (VolumeHeadings{{0, u"第一卷 起"}}));
    WriteNovel(Range(1, 6), {}, {{1, u"第一卷 起"}, {2, u"第二卷 承"}, {5, u"第三卷 转"}});
    RecordingPort update;
    UpdateNovel(update, program_, Folder());
    EXPECT_EQ(update.LastStatus(), u"更新完成：新增 3 章，重新下载 0 章，失败 0 章。");
    const VolumeHeadings volumes{{0, u"第一卷 起"}, {1, u"第二卷 承"}, {4, u"第三卷 转"}};
    EXPECT_EQ(Index().Volumes, volumes);
    auto row = [](int position, int id) {
        return ContentsRow(position, ChapterPageName(id), ChapterName(id), false);
    };
    std::u16string rows = ContentsVolumeRow(u"第一卷 起") + row(1, 1) + ContentsClosingCell() +
                          ContentsVolumeRow(u"第二卷 承") + row(1, 2) + row(2, 3) + row(1, 4) +
                          ContentsClosingCell() + ContentsVolumeRow(u"第三卷 转") + row(1, 5) +
                          row(2, 6) + u"\n</table>";
    std::u16string contents = ReadPageText(Folder() + u"/ContentsPage.html");
    EXPECT_NE(contents.find(rows), std::u16string::npos) << WideToUtf8(contents);
}

TEST_F(FollowNovel, ChapterInsertedInTheMiddleGetsItsOwnPageBetweenItsNeighbours) {
    WriteNovel({1, 2, 3});
    Download(SerialHit());
    ASSERT_EQ(port_.LastStatus(), DownloadDone(0));
    WriteNovel({1, 10, 2, 3});
    RecordingPort update;
    UpdateNovel(update, program_, Folder());
    EXPECT_EQ(update.LastStatus(), u"更新完成：新增 1 章，重新下载 0 章，失败 0 章。");
    // The stored pages keep their files; the new chapter takes the next free one.
    EXPECT_EQ(ContentsLinks(),
              (std::vector<std::u16string>{u"1.html", u"4.html", u"2.html", u"3.html"}));
    EXPECT_NE(PageOf(4).find(ChapterText(10)), std::u16string::npos);
    using Links = std::pair<std::u16string, std::u16string>;
    EXPECT_EQ(NavLinks(PageOf(1)), Links(u"ContentsPage.html", u"4.html"));
    EXPECT_EQ(NavLinks(PageOf(4)), Links(u"1.html", u"2.html"));
    EXPECT_EQ(NavLinks(PageOf(2)), Links(u"4.html", u"3.html"));
    // Mending the links kept the text and the state of the pages around it.
    EXPECT_NE(PageOf(2).find(ChapterText(2)), std::u16string::npos);
    EXPECT_EQ(Hidden(PageOf(2), u"down_state"), u"1");
    EXPECT_EQ(ChapterRequests(2), 1u);
}

TEST_F(FollowNovel, RetryFetchesOnlyTheFailedChaptersOnceTheSiteHasThem) {
    const std::set<int> missing{2, 4, 6, 8, 10};
    WriteNovel(Range(1, 10), missing);
    Download(SerialHit());
    EXPECT_EQ(port_.LastStatus(), DownloadDone(5));
    EXPECT_EQ(ShelfLabels(), std::vector<std::u16string>{u"书屋甲 - 连载小说（5 章未完成）"});
    NovelIndex index = Index();
    EXPECT_EQ(index.Chapters[1].State, ChapterState::Failed);
    EXPECT_EQ(index.Chapters[1].Reason, u"目标站返回状态码 404");
    // A failed chapter says so on its page and in the contents, which no longer says the
    // chapters are on their way.
    EXPECT_EQ(Hidden(PageOf(2), u"down_state"), u"-1");
    std::u16string contents = ReadPageText(Folder() + u"/ContentsPage.html");
    EXPECT_EQ(Count(contents, u"（未完成）"), 5u);
    EXPECT_NE(contents.find(u"其中 5 章未能下载"), std::u16string::npos);
    EXPECT_EQ(contents.find(u"章节正在后台下载"), std::u16string::npos);

    WriteNovel(Range(1, 10));
    RecordingPort retry;
    NovelJobOutcome outcome = RetryNovel(retry, program_, Folder());
    EXPECT_TRUE(outcome.Succeeded());
    EXPECT_EQ(retry.LastStatus(), u"重新下载完成：重新下载 5 章，失败 0 章。");
    for (int id = 1; id <= 10; ++id) {
        EXPECT_EQ(ChapterRequests(id), missing.count(id) > 0 ? 2u : 1u) << id;
        EXPECT_EQ(Hidden(PageOf(id), u"down_state"), u"1") << id;
    }
    // The retry reads no contents.
    EXPECT_EQ(RequestCount("/novel-gbk/serial/list.html"), 1u);
    EXPECT_EQ(Index().UnfinishedCount(), 0);
    EXPECT_EQ(ShelfLabels(), std::vector<std::u16string>{u"书屋甲 - 连载小说"});
    RecordingPort nothing;
    RetryNovel(nothing, program_, Folder());
    EXPECT_EQ(nothing.LastStatus(), u"本书没有未完成的章节。");
}

TEST_F(FollowNovel, ChapterFetchedOnDemandIsRecordedInTheIndexAndTheContents) {
    WriteNovel(Range(1, 3), {2});
    Download(SerialHit());
    ASSERT_EQ(Index().Chapters[1].State, ChapterState::Failed);
    WriteNovel(Range(1, 3));
    RecordingPort window;
    std::u16string page = PageOf(2);
    for (const char16_t* id :
         {u"rule_file_path", u"chapter_url", u"chapter_save_file", u"down_state"}) {
        window.SetElement(id, Hidden(page, id));
    }
    std::u16string contents = ReadPageText(Folder() + u"/ContentsPage.html");
    ASSERT_NE(contents.find(u"其中 1 章未能下载"), std::u16string::npos);
    ASSERT_EQ(Count(contents, u"（未完成）"), 1u);
    OnDemandChapterFetch(&window, program_);
    EXPECT_EQ(window.LastStatus(), kChapterRefetchedMessage);
    EXPECT_EQ(Index().Chapters[1].State, ChapterState::Stored);
    EXPECT_EQ(Index().UnfinishedCount(), 0);
    // The contents page and the shelf follow the chapter's new state.
    contents = ReadPageText(Folder() + u"/ContentsPage.html");
    EXPECT_EQ(contents.find(u"未能下载"), std::u16string::npos);
    EXPECT_EQ(Count(contents, u"（未完成）"), 0u);
    EXPECT_NE(contents.find(u"全书共 3 章，已全部下载。"), std::u16string::npos);
    EXPECT_EQ(window.EndedJobs(), std::vector<std::u16string>{Folder()});
    EXPECT_EQ(ShelfLabels(), std::vector<std::u16string>{u"书屋甲 - 连载小说"});
}

// What the shelf shows of each novel, in the window's model and in `velunor-cli shelf` alike:
// the chapters that updates added since the reader last opened the novel, those after the last
// one read (all of them before any was), and the novels with new chapters first when the setting
// asks it, the bookshelf file keeping its order. The reader's place survives a new model, as it
// does a restart.
TEST_F(FollowNovel, NewAndUnreadChaptersAreCountedAfterUpdatesAndReading) {
    // Another novel of three chapters on the same site, shelved first.
    std::filesystem::create_directories(root.File("novel-gbk/other"));
    WritePage("../other/info.html", u"<h1>三章小说</h1><p>作者：佚名</p><a id=\"list\" "
                                    u"href=\"list.html\">目录</a>");
    std::u16string items;
    for (int id = 1; id <= 3; ++id) {
        items +=
            u"<li><a href=\"c" + DecimalText(id) + u".html\">" + ChapterName(id) + u"</a></li>\n";
        WritePage("../other/c" + std::to_string(id) + ".html",
                  u"<div id=\"text\">" + ChapterText(id) + u"</div>");
    }
    WritePage("../other/list.html", u"<ul id=\"chapters\">\n" + items + u"</ul>");
    RecordingPort first;
    Download({{kGbkSite, gbkRule_, u"三章小说", u"佚名", site_.Url("/novel-gbk/other/info.html")}},
             0, first);
    WriteNovel(Range(1, 3));
    RecordingPort second;
    Download({SerialHit()}, 0, second);
    ASSERT_EQ(ReadBookShelf(program_).size(), 2u);
    std::filesystem::copy_file(VELUNOR_CLI, temp_.File("velunor-cli"));
    const std::string serial = WideToUtf8(kGbkSite) + " - 连载小说";
    const std::string other = WideToUtf8(kGbkSite) + " - 三章小说";
    auto open = [&](const std::u16string& page) {
        CBookShelfModel model(program_);
        model.LoadBookShelf();
        ASSERT_TRUE(model.NoteOpenedPage(Folder() + u"/" + page));
    };
    auto update = [&](int chapters) {
        WriteNovel(Range(1, chapters));
        RecordingPort window;
        ASSERT_TRUE(UpdateNovel(window, program_, Folder()).Succeeded());
    };
    struct Listed {
        const std::string& novel;
        int newChapters;
        int unread;
    };
    struct Step {
        const char* what;
        std::function<void()> act;
        bool newFirst;
        // The novels `velunor-cli shelf` lists after its heading, in order; none has unfinished
        // chapters.
        std::vector<Listed> listed;
    };
    auto nothing = [] {};
    const Step steps[] = {
        {"downloaded", nothing, true, {{other, 0, 3}, {serial, 0, 3}}},
        {"two added", [&] { update(5); }, true, {{serial, 2, 5}, {other, 0, 3}}},
        {"in file order", nothing, false, {{other, 0, 3}, {serial, 2, 5}}},
        {"chapter 2 read", [&] { open(u"2.html"); }, true, {{other, 0, 3}, {serial, 0, 3}}},
        {"one more added", [&] { update(6); }, true, {{serial, 1, 4}, {other, 0, 3}}},
        {"contents opened",
         [&] { open(u"ContentsPage.html"); },
         true,
         {{other, 0, 3}, {serial, 0, 4}}},
    };
    for (const Step& step : steps) {
        step.act();
        ASSERT_TRUE(SaveShelfSettings(program_, {false, step.newFirst}));
        std::string listing = temp_.File("shelf.txt");
        ASSERT_EQ(
            std::system(("'" + temp_.File("velunor-cli") + "' shelf > '" + listing + "'").c_str()),
            0);
        std::string expected = "编号  新章节  未读  未完成  小说\n";
        for (size_t i = 0; i < step.listed.size(); ++i) {
            const Listed& novel = step.listed[i];
            char counts[64];
            std::snprintf(counts, sizeof counts, "%4zu  %6d  %4d       0  ", i + 1,
                          novel.newChapters, novel.unread);
            expected += counts + novel.novel + "\n";
        }
        EXPECT_EQ(ReadFileBytes(listing), expected) << step.what;
        // The window's model, read anew as at a start, shows the same.
        CBookShelfModel model(program_);
        model.SetNewChaptersFirst(step.newFirst);
        model.LoadBookShelf();
        ASSERT_EQ(model.Items().size(), 2u);
        int at = &step.listed[0].novel == &serial ? 0 : 1;
        const ShelfItem& item = model.Item(at);
        EXPECT_EQ(item.Entry.NovelName, kNovel) << step.what;
        const Listed& listed = step.listed[static_cast<size_t>(at)];
        EXPECT_EQ(item.NewChapters, listed.newChapters) << step.what;
        EXPECT_EQ(item.Unread, listed.unread) << step.what;
        std::u16string counts =
            item.NewChapters > 0 ? u"（新 " + DecimalText(item.NewChapters) + u" 章）" : u"";
        EXPECT_EQ(ShelfItemLabel(item), Utf8ToWide(serial) + counts) << step.what;
        EXPECT_EQ(ReadBookShelf(program_)[0].NovelName, u"三章小说") << step.what;
    }
    // Going on reading opens the chapter read last, and the contents page on demand.
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    RecordingPort window;
    model.OpenBook(1, window);
    model.OpenContents(1, window);
    EXPECT_EQ(window.Navigations(), (std::vector<std::u16string>{
                                        Folder() + u"/2.html", Folder() + u"/ContentsPage.html"}));
}

// A copy of the program folder reads its own novels: the shelf, the index and the pages hold
// paths relative to it. A shelf written with absolute paths of the old folder reads too.
TEST_F(FollowNovel, CopiedProgramFolderOpensItsNovelsAndFetchesIntoItself) {
    WriteNovel(Range(1, 3), {3});
    Download(SerialHit());
    TempFolder copy;
    std::filesystem::copy(temp_.Path(), copy.File("velunor"),
                          std::filesystem::copy_options::recursive);
    std::u16string moved = copy.WideFile("velunor") + u"/";
    std::u16string movedFolder = moved + u"Novel/书屋甲/连载小说";
    std::vector<BookEntry> shelf = ReadBookShelf(moved);
    ASSERT_EQ(shelf.size(), 1u);
    EXPECT_EQ(shelf[0].ContentsPagePath, movedFolder + u"/ContentsPage.html");
    EXPECT_EQ(shelf[0].RuleFile, moved + u"Rule/novel-gbk.xml");

    WriteNovel(Range(1, 3));
    RecordingPort window;
    std::u16string page = ReadPageText(movedFolder + u"/3.html");
    for (const char16_t* id :
         {u"rule_file_path", u"chapter_url", u"chapter_save_file", u"down_state"}) {
        window.SetElement(id, Hidden(page, id));
    }
    OnDemandChapterFetch(&window, moved);
    EXPECT_EQ(window.LastStatus(), kChapterRefetchedMessage);
    EXPECT_EQ(Hidden(ReadPageText(movedFolder + u"/3.html"), u"down_state"), u"1");
    EXPECT_EQ(Hidden(PageOf(3), u"down_state"), u"-1");

    // A shelf of the old kind: absolute paths into the folder it was copied from.
    copy.Write("velunor/Config/BookShelf.xml",
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n<Book>\r\n"
               "<TargetSite>书屋甲</TargetSite>\r\n<NovelName>连载小说</NovelName>\r\n"
               "<ContentsPagePath>" +
                   WideToUtf8(Folder()) +
                   "/ContentsPage.html</ContentsPagePath>\r\n</Book>\r\n"
                   "</BookShelf>\r\n");
    ASSERT_EQ(ReadBookShelf(moved)[0].ContentsPagePath, movedFolder + u"/ContentsPage.html");
    // The next edit of the shelf writes it in the new form.
    RecordingPort shelfWindow;
    ASSERT_TRUE(AddBook(shelfWindow, moved, {u"书屋甲", u"另一本", movedFolder + u"2", {}, {}}));
    std::string written = ReadFileBytes(copy.File("velunor/Config/BookShelf.xml"));
    EXPECT_NE(written.find("<ContentsPagePath>书屋甲/连载小说/ContentsPage.html</"),
              std::string::npos)
        << written;
    EXPECT_EQ(written.find(NativePath(Folder())), std::string::npos) << written;
}

// A novel downloaded before novels had an index: opening its hit updates it in place.
TEST_F(FollowNovel, NovelWithoutAnIndexIsUpdatedInPlaceFromItsPages) {
    WriteNovel(Range(1, 3));
    Download(SerialHit());
    std::filesystem::remove(NativePath(Folder() + u"/NovelIndex.xml"));
    temp_.Write("Config/BookShelf.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n<Book>\r\n"
                "<TargetSite>书屋甲</TargetSite>\r\n<NovelName>连载小说</NovelName>\r\n"
                "<ContentsPagePath>" +
                    WideToUtf8(Folder()) +
                    "/ContentsPage.html</ContentsPagePath>\r\n</Book>\r\n</BookShelf>\r\n");
    RecordingPort update;
    UpdateNovel(update, program_, Folder());
    EXPECT_EQ(update.LastStatus(),
              u"本书由旧版本下载，没有章节索引，请重新搜索本书并打开，即可更新。");
    WriteNovel(Range(1, 4));
    RecordingPort again;
    Download({SerialHit()}, 0, again);
    EXPECT_EQ(again.LastStatus(), u"更新完成：新增 1 章，重新下载 0 章，失败 0 章。");
    EXPECT_EQ(ChapterRequests(1), 1u);
    std::vector<BookEntry> shelf = ReadBookShelf(program_);
    ASSERT_EQ(shelf.size(), 1u);
    EXPECT_EQ(shelf[0].InfoPageUrl, SerialHit().infoPageUrl);
    EXPECT_EQ(Index().Chapters.size(), 4u);
}

// The page files a novel's index lists, in its order.
std::vector<int> IndexedPages(const NovelIndex& index) {
    std::vector<int> pages;
    for (const IndexedChapter& chapter : index.Chapters) {
        pages.push_back(chapter.Page);
    }
    return pages;
}

// The names in `folder` that begin with `prefix`.
std::vector<std::string> NamesStartingWith(const std::u16string& folder,
                                           const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(NativePath(folder))) {
        std::string name = entry.path().filename().string();
        if (name.starts_with(prefix)) {
            names.push_back(name);
        }
    }
    return names;
}

// However its index file is damaged, a shelved novel is updated and retried without a new
// search: the damaged file is kept aside and the index is made again from the pages, in the
// order and with the names of the contents page.
TEST_F(FollowNovel, DamagedIndexIsKeptAsideAndRebuiltFromThePages) {
    WriteNovel({1, 2, 3}, {3});
    Download(SerialHit());
    // Chapter 10 comes in between, on page 4: the page numbers are not the site's order.
    WriteNovel({1, 10, 2, 3}, {3});
    RecordingPort inserted;
    UpdateNovel(inserted, program_, Folder());
    ASSERT_EQ(IndexedPages(Index()), (std::vector<int>{1, 4, 2, 3}));
    TempFolder kept;
    std::string novel = NativePath(Folder());
    std::filesystem::copy(novel, kept.File("novel"), std::filesystem::copy_options::recursive);
    std::string index = novel + "/NovelIndex.xml";
    std::string whole = ReadFileBytes(index);
    WriteNovel({1, 10, 2, 3, 11});

    using Damage = std::function<void()>;
    const std::pair<const char*, Damage> damages[] = {
        {"empty", [&] { temp_.Write(index.substr(temp_.Path().size() + 1), ""); }},
        {"truncated",
         [&] { temp_.Write(index.substr(temp_.Path().size() + 1), whole.substr(0, 300)); }},
        {"binary",
         [&] {
             temp_.Write(index.substr(temp_.Path().size() + 1),
                         std::string("\xFF\xFE\0<\x80\x81NovelIndex\x1A\0\xC0", 16));
         }},
        {"huge",
         [&] {
             std::filesystem::remove(index);
             temp_.Write(index.substr(temp_.Path().size() + 1), "");
             std::filesystem::resize_file(index, kPageFileLimit + 1);
         }},
        {"fifo",
         [&] {
             std::filesystem::remove(index);
             ASSERT_EQ(mkfifo(index.c_str(), 0666), 0);
         }},
        {"folder",
         [&] {
             std::filesystem::remove(index);
             std::filesystem::create_directory(index);
         }},
    };
    for (const auto& [kind, damage] : damages) {
        for (bool retry : {true, false}) {
            SCOPED_TRACE(std::string(kind) + (retry ? " retry" : " update"));
            std::filesystem::remove_all(novel);
            std::filesystem::copy(kept.File("novel"), novel,
                                  std::filesystem::copy_options::recursive);
            damage();
            std::filesystem::file_status damaged = std::filesystem::symlink_status(index);
            size_t before = ChapterRequests(1) + ChapterRequests(10) + ChapterRequests(2);
            RecordingPort window;
            NovelJobOutcome outcome = retry ? RetryNovel(window, program_, Folder())
                                            : UpdateNovel(window, program_, Folder());
            EXPECT_TRUE(outcome.Succeeded());
            EXPECT_EQ(window.LastStatus(),
                      retry ? u"重新下载完成：重新下载 1 章，失败 0 章。"
                            : u"更新完成：新增 1 章，重新下载 1 章，失败 0 章。");
            std::vector<std::string> aside = NamesStartingWith(Folder(), "NovelIndex.xml.damaged-");
            ASSERT_EQ(aside.size(), 1u);
            EXPECT_EQ(std::filesystem::symlink_status(novel + "/" + aside[0]).type(),
                      damaged.type());
            std::u16string said = u"本书的章节索引 NovelIndex.xml 已损坏，原文件已保留为 " +
                                  Utf8ToWide(aside[0]) + u"，已按章节页面重建索引。";
            std::vector<std::u16string> statuses = window.Statuses();
            EXPECT_NE(std::find(statuses.begin(), statuses.end(), said), statuses.end());
            // Nothing stored was fetched again, and the chapters keep their pages and names.
            EXPECT_EQ(ChapterRequests(1) + ChapterRequests(10) + ChapterRequests(2), before);
            NovelIndex rebuilt = Index();
            std::vector<int> pages{1, 4, 2, 3};
            if (!retry) {
                pages.push_back(5);
            }
            EXPECT_EQ(IndexedPages(rebuilt), pages);
            EXPECT_EQ(rebuilt.Chapters[1].Name, ChapterName(10));
            EXPECT_EQ(rebuilt.InfoPageUrl, SerialHit().infoPageUrl);
            EXPECT_EQ(rebuilt.UnfinishedCount(), 0);
            EXPECT_NE(PageOf(3).find(ChapterText(3)), std::u16string::npos);
        }
    }

    // A folder without an index file was written by an old version: that one needs a search.
    std::filesystem::remove_all(index);
    RecordingPort old;
    UpdateNovel(old, program_, Folder());
    EXPECT_EQ(old.LastStatus(),
              u"本书由旧版本下载，没有章节索引，请重新搜索本书并打开，即可更新。");
}

// Update and retry fetch again a chapter the index holds as stored whose page is gone, empty,
// or changed since into a page without the chapter's text.
TEST_F(FollowNovel, StoredChapterWhosePageIsLostIsFetchedAgain) {
    WriteNovel(Range(1, 5));
    Download(SerialHit());
    ASSERT_EQ(Index().UnfinishedCount(), 0);
    std::string folder = NativePath(Folder());
    std::string pending = ReadFileBytes(folder + "/5.html");
    size_t state = pending.find("id=\"down_state\">1<");
    ASSERT_NE(state, std::string::npos);
    pending.replace(state + 16, 1, "-2");
    for (bool retry : {true, false}) {
        SCOPED_TRACE(retry ? "retry" : "update");
        std::filesystem::remove(folder + "/2.html");
        std::filesystem::resize_file(folder + "/4.html", 0);
        temp_.Write(folder.substr(temp_.Path().size() + 1) + "/5.html", pending);
        // The index was written before the page changed.
        std::filesystem::last_write_time(folder + "/NovelIndex.xml",
                                         std::filesystem::last_write_time(folder + "/5.html") -
                                             std::chrono::hours(1));
        RecordingPort window;
        NovelJobOutcome outcome = retry ? RetryNovel(window, program_, Folder())
                                        : UpdateNovel(window, program_, Folder());
        EXPECT_TRUE(outcome.Succeeded());
        EXPECT_EQ(window.LastStatus(), retry ? u"重新下载完成：重新下载 3 章，失败 0 章。"
                                             : u"更新完成：新增 0 章，重新下载 3 章，失败 0 章。");
        for (int id = 1; id <= 5; ++id) {
            EXPECT_NE(PageOf(id).find(ChapterText(id)), std::u16string::npos) << id;
            EXPECT_EQ(ChapterRequests(id), id == 1 || id == 3 ? 1u : retry ? 2u : 3u) << id;
        }
        EXPECT_EQ(Index().UnfinishedCount(), 0);
    }
}

// kill -9 of a command-line download half-way leaves its unfinished chapters pending: their
// pages say so plainly, the shelf lists the novel among those to go on with, and once that is
// offered its contents page no longer says that chapters are on their way. Going on fetches
// what is left and leaves the shelf whole.
TEST_F(FollowNovel, KilledDownloadIsOfferedAndResumed) {
    constexpr int kChapters = 40;
    std::string routes = "{";
    for (int id = 1; id <= kChapters; ++id) {
        routes += std::string(id > 1 ? "," : "") + "\"/serial/c" + std::to_string(id) +
                  ".html\": {\"file\": \"serial/c" + std::to_string(id) +
                  ".html\", \"delay_ms\": 150}";
    }
    root.Write("novel-gbk/routes.json", routes + "}");
    WriteNovel(Range(1, kChapters));
    WriteSearchResults({SerialHit()});
    std::filesystem::copy_file(VELUNOR_CLI, temp_.File("velunor-cli"));
    std::string cli = temp_.File("velunor-cli");
    char* arguments[] = {cli.data(), const_cast<char*>("download"), const_cast<char*>("1"),
                         nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, cli.c_str(), &actions, nullptr, arguments, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Half-way: some chapters stored, the index written.
    auto stored = [&] {
        int count = 0;
        for (int page = 1; page <= kChapters; ++page) {
            count += Hidden(PageOf(page), u"down_state") == u"1" ? 1 : 0;
        }
        return count;
    };
    bool halfWay = WaitUntil([&] { return stored() >= 10; });
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_TRUE(halfWay);
    NovelIndex left = Index();
    ASSERT_EQ(left.Chapters.size(), static_cast<size_t>(kChapters));
    EXPECT_GT(left.UnfinishedCount(), 0);
    ASSERT_EQ(ShelfLabels().size(), 1u);
    EXPECT_NE(ShelfLabels()[0].find(u"章未完成"), std::u16string::npos);

    int pending = 0;
    for (const IndexedChapter& chapter : left.Chapters) {
        pending += chapter.State == ChapterState::Pending ? 1 : 0;
    }
    EXPECT_GT(pending, 0);
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    EXPECT_EQ(model.Item(0).Pending, pending);
    EXPECT_EQ(model.FoldersWithPendingChapters(), std::vector<std::u16string>{Folder()});
    EXPECT_NE(ReadPageText(Folder() + u"/ContentsPage.html").find(u"章节正在后台下载"),
              std::u16string::npos);
    std::vector<std::u16string> offered =
        SettleInterruptedNovels(program_, model.FoldersWithPendingChapters());
    EXPECT_EQ(offered, std::vector<std::u16string>{Folder()});
    std::u16string contents = ReadPageText(Folder() + u"/ContentsPage.html");
    EXPECT_EQ(contents.find(u"章节正在后台下载"), std::u16string::npos);
    EXPECT_NE(contents.find(u"其中 " + DecimalText(left.UnfinishedCount()) + u" 章未能下载"),
              std::u16string::npos);
    EXPECT_EQ(ResumeOffer(offered.size()), u"1 本小说有未完成的章节，点击继续下载");

    root.Write("novel-gbk/routes.json", "{}");
    RecordingPort window;
    ResumeNovels(window, program_, offered);
    EXPECT_EQ(window.LastStatus(), u"继续下载完成：1/1 本小说已下载全部章节。");
    EXPECT_EQ(window.EndedJobs(), std::vector<std::u16string>{Folder()});
    EXPECT_EQ(Index().UnfinishedCount(), 0);
    for (int page = 1; page <= kChapters; ++page) {
        EXPECT_EQ(Hidden(PageOf(page), u"down_state"), u"1") << page;
        // A chapter stored before the kill is not fetched again.
        EXPECT_LE(ChapterRequests(page), 2u) << page;
    }
    EXPECT_NE(ReadPageText(Folder() + u"/ContentsPage.html").find(u"已全部下载"),
              std::u16string::npos);
    EXPECT_EQ(ShelfLabels(), std::vector<std::u16string>{u"书屋甲 - 连载小说"});
    model.LoadBookShelf();
    EXPECT_TRUE(model.FoldersWithPendingChapters().empty());
}

} // namespace
} // namespace velunor::testing
