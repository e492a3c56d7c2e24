#include "core/core.h"
#include "library/book_shelf_file.h"
#include "library/book_shelf_model.h"
#include "library/library_layout.h"
#include "library/novel_index.h"
#include "library/novel_summary.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velunor::testing {
namespace {

class BookShelf : public ::testing::Test {
  protected:
    BookShelf() : program_(temp_.WidePath() + u"/") {
        std::filesystem::create_directories(temp_.File("Config"));
    }

    /// A novel folder with a contents page, as a download leaves it; returns the page path.
    std::u16string MakeNovel(const std::string& site, const std::string& novel) {
        std::string folder = "Novel/" + site + "/" + novel;
        std::filesystem::create_directories(temp_.File(folder + "/images"));
        return Utf8ToWide(temp_.Write(folder + "/ContentsPage.html", "<html></html>"));
    }

    void Add(const std::u16string& site, const std::u16string& novel, const std::u16string& path) {
        AddBook(port_, program_, {site, novel, path, {}, {}});
    }

    bool Exists(const std::string& name) {
        return std::filesystem::exists(std::filesystem::symlink_status(temp_.File(name)));
    }

    std::vector<std::u16string> Names() {
        std::vector<std::u16string> names;
        for (const BookEntry& entry : ReadBookShelf(program_)) {
            names.push_back(entry.NovelName);
        }
        return names;
    }

    /// The files a damaged shelf was moved aside to.
    std::vector<std::string> DamagedCopies() {
        std::vector<std::string> copies;
        for (const auto& entry : std::filesystem::directory_iterator(temp_.File("Config"))) {
            if (entry.path().filename().string().starts_with("BookShelf.xml.damaged-")) {
                copies.push_back(entry.path().string());
            }
        }
        return copies;
    }

    TempFolder temp_;
    std::u16string program_;
    RecordingPort port_;
};

bool StartsWith(const std::u16string& text, std::u16string_view start) {
    return text.compare(0, start.size(), start) == 0;
}

TEST_F(BookShelf, FileIsWrittenOneElementALineAndReadBack) {
    temp_.Write("Config/BookShelf.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n</BookShelf>\r\n");
    Add(u"站", u"书", u"/p/Novel/站/书/ContentsPage.html");
    Add(u"站", u"", u"");
    EXPECT_EQ(temp_.Read("Config/BookShelf.xml"),
              "<?xml version=\"1.0\" "
              "encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n<Book>\r\n<TargetSite>站</TargetSite>\r\n"
              "<NovelName>书</NovelName>\r\n<ContentsPagePath>/p/Novel/站/书/ContentsPage.html</"
              "ContentsPagePath>\r\n"
              "</Book>\r\n<Book>\r\n<TargetSite>站</TargetSite>\r\n<NovelName/"
              ">\r\n<ContentsPagePath/>\r\n</Book>\r\n"
              "</BookShelf>\r\n");
    EXPECT_EQ(port_.BookItems(), (std::vector<std::u16string>{u"站 - 书", u"站 - "}));
}

TEST_F(BookShelf, AddingToAMissingFileCreatesTheShelfFirst) {
    std::filesystem::remove_all(temp_.File("Config"));
    Add(u"站", u"书", u"x");
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    EXPECT_EQ(model.Items(), std::vector<std::u16string>{u"站 - 书"});
}

TEST_F(BookShelf, AnEditRewritesOnlyTheEntriesNotInTheStoredForm) {
    // The first entry is in the stored form, written as a hand would (CDATA); the second still
    // has the absolute paths of an older shelf.
    const std::string stored = "<Book>\r\n<TargetSite>甲</TargetSite>\r\n<NovelName>书</NovelName>"
                               "\r\n<ContentsPagePath>甲/书/ContentsPage.html</ContentsPagePath>"
                               "\r\n<RuleFile><![CDATA[甲.xml]]></RuleFile>\r\n<InfoPageUrl>"
                               "http://a/1</InfoPageUrl>\r\n</Book>\r\n";
    const std::string program = WideToUtf8(program_);
    temp_.Write("Config/BookShelf.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n" + stored +
                    "<Book>\r\n<TargetSite>乙</TargetSite>\r\n<NovelName>书</NovelName>\r\n"
                    "<ContentsPagePath>" +
                    program + "Novel/乙/书/ContentsPage.html</ContentsPagePath>\r\n<RuleFile>" +
                    program +
                    "Rule/乙.xml</RuleFile>\r\n<InfoPageUrl>http://b/1</InfoPageUrl>"
                    "\r\n</Book>\r\n</BookShelf>\r\n");
    ASSERT_TRUE(AddBook(port_, program_,
                        {u"丙", u"书", program_ + u"Novel/丙/书/ContentsPage.html",
                         program_ + u"Rule/丙.xml", u"http://c/1"}));
    const std::string text = temp_.Read("Config/BookShelf.xml");
    EXPECT_NE(text.find(stored), std::string::npos) << text;
    EXPECT_EQ(text.find(program), std::string::npos) << text;
    EXPECT_NE(text.find("<ContentsPagePath>乙/书/ContentsPage.html</ContentsPagePath>\r\n"
                        "<RuleFile>乙.xml</RuleFile>"),
              std::string::npos)
        << text;
    std::vector<BookEntry> entries = ReadBookShelf(program_);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].RuleFile, program_ + u"Rule/甲.xml");
    EXPECT_EQ(entries[2].ContentsPagePath, program_ + u"Novel/丙/书/ContentsPage.html");
}

TEST_F(BookShelf, EntriesWithoutSiteAreNeitherListedNorLost) {
    temp_.Write("Config/BookShelf.xml", "<BookShelf>\r\n<Book>\r\n<NovelName>孤本</NovelName>\r\n</"
                                        "Book>\r\n<Book>\r\n<TargetSite>站</TargetSite>\r\n"
                                        "<NovelName>书</NovelName>\r\n<ContentsPagePath>p</"
                                        "ContentsPagePath>\r\n</Book>\r\n</BookShelf>\r\n");
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    ASSERT_EQ(model.Items(), std::vector<std::u16string>{u"站 - 书"});
    model.DeleteBook(0, port_);
    EXPECT_TRUE(model.Items().empty());
    EXPECT_NE(temp_.Read("Config/BookShelf.xml").find("孤本"), std::string::npos);
    EXPECT_TRUE(ReadBookShelf(program_).empty());
}

TEST_F(BookShelf, DeleteRemovesExactlyTheSelectedNovelAndItsFolder) {
    std::u16string shortName = MakeNovel("站", "西游");
    std::u16string longName = MakeNovel("站", "西游记");
    std::u16string other = MakeNovel("站点", "西游");
    Add(u"站", u"西游记", longName);
    Add(u"站点", u"西游", other);
    Add(u"站", u"西游", shortName);
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    // "站 - 西游" is part of "站 - 西游记", and "站" and "西游" are both part of "站点 - 西游".
    model.DeleteBook(2, port_);
    EXPECT_EQ(model.Items(), (std::vector<std::u16string>{u"站 - 西游记", u"站点 - 西游"}));
    std::vector<BookEntry> left = ReadBookShelf(program_);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].NovelName, u"西游记");
    EXPECT_EQ(left[1].TargetSite, u"站点");
    EXPECT_FALSE(std::filesystem::exists(temp_.File("Novel/站/西游")));
    EXPECT_TRUE(std::filesystem::exists(temp_.File("Novel/站/西游记/ContentsPage.html")));
    EXPECT_TRUE(std::filesystem::exists(temp_.File("Novel/站点/西游/ContentsPage.html")));
    model.DeleteBook(-1, port_);
    model.DeleteBook(2, port_);
    EXPECT_EQ(ReadBookShelf(program_).size(), 2u);
}

// Adding a novel that is on the shelf already keeps one entry; a shelf written earlier with two
// entries for one folder opens either, and deleting one removes both, never leaving an entry
// that opens nothing.
TEST_F(BookShelf, OneFolderHasOneEntryAndLegacyDuplicatesGoTogether) {
    std::u16string path = MakeNovel("站", "书");
    Add(u"站", u"书", path);
    Add(u"站", u"书", path);
    EXPECT_EQ(ReadBookShelf(program_).size(), 1u);
    EXPECT_EQ(port_.BookItems().size(), 1u);

    std::string entry = "<Book>\r\n<TargetSite>站</TargetSite>\r\n<NovelName>书</NovelName>\r\n"
                        "<ContentsPagePath>" +
                        WideToUtf8(path) + "</ContentsPagePath>\r\n</Book>\r\n";
    temp_.Write("Config/BookShelf.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                        "<BookShelf>\r\n" +
                                            entry + entry + "</BookShelf>\r\n");
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    RecordingPort window;
    model.OpenBook(1, window);
    EXPECT_EQ(window.Navigations(), std::vector<std::u16string>{path});
    EXPECT_EQ(window.GetViewMode(), ViewMode::Reading);
    RecordingPort untouched;
    model.OpenBook(-1, untouched);
    model.OpenBook(2, untouched);
    EXPECT_TRUE(untouched.Navigations().empty());
    EXPECT_TRUE(model.DeleteBook(1, port_));
    EXPECT_TRUE(ReadBookShelf(program_).empty());
    EXPECT_FALSE(std::filesystem::exists(temp_.File("Novel/站/书")));
}

TEST_F(BookShelf, FoldersOutsideTheLibraryAreNeverDeleted) {
    std::filesystem::create_directories(temp_.File("home/user"));
    std::filesystem::create_directories(temp_.File("Novel/站"));
    temp_.Write("home/user/notes.txt", "mine");
    temp_.Write("Novel/站/keep.txt", "keep");
    const std::u16string paths[] = {
        temp_.WideFile("home/user"),
        temp_.WideFile("home/user/ContentsPage.html"),
        temp_.WideFile("Novel/站/ContentsPage.html"),
        temp_.WideFile("Novel/站/../../home/user/ContentsPage.html"),
        program_ + u"Novel/ContentsPage.html",
    };
    for (const std::u16string& path : paths) {
        Add(u"站", u"书", path);
    }
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    while (!model.Items().empty()) {
        model.DeleteBook(0, port_);
    }
    EXPECT_TRUE(ReadBookShelf(program_).empty());
    EXPECT_EQ(temp_.Read("home/user/notes.txt"), "mine");
    EXPECT_EQ(temp_.Read("Novel/站/keep.txt"), "keep");
}

TEST_F(BookShelf, LinkedFoldersAreUnlinkedNeverEmptied) {
    std::filesystem::create_directories(temp_.File("outside/书/images"));
    temp_.Write("outside/书/ContentsPage.html", "mine");
    temp_.Write("outside/书/images/a.png", "picture");
    std::filesystem::create_directories(temp_.File("Novel/站甲"));
    std::filesystem::create_directory_symlink(temp_.File("outside/书"),
                                              temp_.File("Novel/站甲/链接书"));
    // Through a linked site folder even an ordinary novel folder lies outside the library.
    std::filesystem::create_directory_symlink(temp_.File("outside"), temp_.File("Novel/站乙"));
    Add(u"站甲", u"链接书", temp_.WideFile("Novel/站甲/链接书/ContentsPage.html"));
    Add(u"站乙", u"书", temp_.WideFile("Novel/站乙/书/ContentsPage.html"));
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    EXPECT_TRUE(model.DeleteBook(0, port_));
    EXPECT_TRUE(model.DeleteBook(0, port_));
    EXPECT_TRUE(ReadBookShelf(program_).empty());
    EXPECT_FALSE(Exists("Novel/站甲/链接书"));
    EXPECT_EQ(temp_.Read("outside/书/ContentsPage.html"), "mine");
    EXPECT_EQ(temp_.Read("outside/书/images/a.png"), "picture");

    // A library kept elsewhere behind a linked Novel/ folder is still the library.
    std::filesystem::rename(temp_.File("outside"), temp_.File("disk"));
    std::filesystem::remove_all(temp_.File("Novel"));
    std::filesystem::create_directories(temp_.File("disk/Novel/站/书"));
    std::filesystem::create_directory_symlink(temp_.File("disk/Novel"), temp_.File("Novel"));
    Add(u"站", u"书", temp_.WideFile("Novel/站/书/ContentsPage.html"));
    model.LoadBookShelf();
    EXPECT_TRUE(model.DeleteBook(0, port_));
    EXPECT_FALSE(Exists("disk/Novel/站/书"));
    EXPECT_EQ(temp_.Read("disk/书/ContentsPage.html"), "mine");
}

TEST_F(BookShelf, CutShortShelfKeepsEveryWholeBookAndIsMovedAside) {
    const std::u16string names[] = {u"甲书", u"乙书", u"丙书"};
    for (const std::u16string& name : names) {
        Add(u"站", name, u"/p/" + name);
    }
    const std::string whole = temp_.Read("Config/BookShelf.xml");
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE("cut after byte " + std::to_string(cut));
        std::string part = whole.substr(0, cut);
        temp_.Write("Config/BookShelf.xml", part);
        size_t wholeBooks = 0;
        for (size_t at = part.find("</Book>"); at != std::string::npos;
             at = part.find("</Book>", at + 1)) {
            ++wholeBooks;
        }
        bool damaged = part.find("</BookShelf>") == std::string::npos;
        std::vector<std::u16string> expected(names, names + wholeBooks);
        ASSERT_EQ(Names(), expected);
        // Saving waits for the disk, so only some of the cuts are saved over.
        if (damaged && cut % 40 != 0) {
            continue;
        }
        RecordingPort window;
        ASSERT_TRUE(AddBook(window, program_, {u"站", u"新书", u"/p/新书", {}, {}}));
        expected.push_back(u"新书");
        ASSERT_EQ(Names(), expected);
        std::vector<std::string> copies = DamagedCopies();
        ASSERT_EQ(copies.size(), damaged ? 1u : 0u);
        if (damaged) {
            EXPECT_EQ(ReadFileBytes(copies[0]), part);
            ASSERT_FALSE(window.Statuses().empty());
            EXPECT_TRUE(StartsWith(window.Statuses()[0],
                                   u"书架文件已损坏，原文件已保留为 Config/BookShelf.xml.damaged-"))
                << WideToUtf8(window.Statuses()[0]);
            std::filesystem::remove(copies[0]);
        }
    }
}

TEST_F(BookShelf, GarbageIsMovedAsideAndNeverSwallowsNewEntries) {
    const std::string book = "<Book><TargetSite>站</TargetSite><NovelName>旧书</NovelName>"
                             "<ContentsPagePath>p</ContentsPagePath></Book>";
    struct Case {
        std::string file;
        std::vector<std::u16string> kept;
    };
    const Case cases[] = {
        {"<x><y>junk", {}},
        {std::string("\x89PNG\r\n\x1a\n\0\0\xff\xfe<", 13), {}},
        {"<Other>" + book + "</Other>", {u"旧书"}},
        {"<BookShelf>" + book + "<Book><TargetSite>站</TargetSite><NovelName>半本", {u"旧书"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::filesystem::remove_all(temp_.File("Config"));
        std::filesystem::create_directories(temp_.File("Config"));
        temp_.Write("Config/BookShelf.xml", c.file);
        Add(u"站", u"新书", u"n");
        Add(u"站", u"又一本", u"m");
        std::vector<std::u16string> expected = c.kept;
        expected.insert(expected.end(), {u"新书", u"又一本"});
        EXPECT_EQ(Names(), expected);
        std::vector<std::string> copies = DamagedCopies();
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_EQ(ReadFileBytes(copies[0]), c.file);
    }

    // Far too large to be a shelf: nothing is read from it, and it is kept all the same.
    temp_.Write("Config/BookShelf.xml", std::string(kConfigFileLimit + 1, ' '));
    Add(u"站", u"新书", u"n");
    EXPECT_EQ(Names(), std::vector<std::u16string>{u"新书"});
    ASSERT_EQ(DamagedCopies().size(), 2u);

    // Deleting from a damaged shelf keeps it aside too.
    std::filesystem::remove_all(temp_.File("Config"));
    std::filesystem::create_directories(temp_.File("Config"));
    temp_.Write("Config/BookShelf.xml", "<BookShelf>" + book + "<Book><TargetSite>站");
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    ASSERT_EQ(model.Items(), std::vector<std::u16string>{u"站 - 旧书"});
    EXPECT_TRUE(model.DeleteBook(0, port_));
    EXPECT_TRUE(ReadBookShelf(program_).empty());
    EXPECT_EQ(DamagedCopies().size(), 1u);
}

TEST_F(BookShelf, ShelfThatCannotBeSavedChangesNothingAndSaysSo) {
    // What cannot be read cannot be judged, so it is neither replaced nor moved aside.
    std::filesystem::create_directories(temp_.File("Config/BookShelf.xml/sub"));
    EXPECT_FALSE(AddBook(port_, program_, {u"站", u"书", u"p", {}, {}}));
    std::filesystem::remove_all(temp_.File("Config/BookShelf.xml"));
    ASSERT_EQ(mkfifo(temp_.File("Config/BookShelf.xml").c_str(), 0666), 0);
    EXPECT_FALSE(AddBook(port_, program_, {u"站", u"书", u"p", {}, {}}));
    EXPECT_EQ(port_.LastStatus(), u"无法写入书架文件 Config/BookShelf.xml，本书未能加入书架！");
    EXPECT_TRUE(port_.BookItems().empty());
    EXPECT_EQ(std::filesystem::status(temp_.File("Config/BookShelf.xml")).type(),
              std::filesystem::file_type::fifo);
    EXPECT_TRUE(DamagedCopies().empty());
    // The superuser writes read-only files all the same; velunor-cli's tests fail the save for
    // everyone.
    if (geteuid() == 0) {
        return;
    }
    std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
    Add(u"站", u"书", MakeNovel("站", "书"));
    chmod(temp_.File("Config/BookShelf.xml").c_str(), 0444);
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    RecordingPort window;
    EXPECT_FALSE(model.DeleteBook(0, window));
    EXPECT_EQ(window.LastStatus(), u"无法写入书架文件 Config/BookShelf.xml，小说“站 - 书”未删除！");
    EXPECT_EQ(model.Items(), std::vector<std::u16string>{u"站 - 书"});
    EXPECT_EQ(ReadBookShelf(program_).size(), 1u);
    EXPECT_TRUE(Exists("Novel/站/书/ContentsPage.html"));
    EXPECT_FALSE(AddBook(window, program_, {u"站", u"又一本", u"p", {}, {}}));
}

// An index of `count` chapters, the first `stored` of them stored and the rest pending.
NovelIndex IndexOf(int count, int stored) {
    NovelIndex index;
    for (int n = 1; n <= count; ++n) {
        index.Chapters.push_back({n,
                                  u"第" + DecimalText(n) + u"章",
                                  u"http://example.com/" + DecimalText(n),
                                  n <= stored ? ChapterState::Stored : ChapterState::Pending,
                                  {}});
    }
    index.NextPage = count + 1;
    return index;
}

std::string FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The shelf counts from the small summary beside the index, never from a summary that does not
// belong to the index on disk: one an older version did not write, one of an earlier index that
// an older version rewrote without it, or one damaged or cut short all count the index again.
TEST_F(BookShelf, CountsAreThoseOfTheIndexOnDiskWhateverItsSummaryHolds) {
    struct Case {
        const char* name;
        std::function<void(const std::string& summary, const std::string& earlier)> change;
    };
    const Case cases[] = {
        {"current summary", [](const std::string&, const std::string&) {}},
        {"no summary",
         [](const std::string& summary, const std::string&) { std::filesystem::remove(summary); }},
        {"summary of the earlier index",
         [](const std::string& summary, const std::string& earlier) {
             WriteBytes(summary, earlier);
         }},
        {"damaged summary",
         [](const std::string& summary, const std::string&) { WriteBytes(summary, "<Novel"); }},
        {"summary cut short",
         [](const std::string& summary, const std::string&) {
             std::string bytes = FileBytes(summary);
             WriteBytes(summary, bytes.substr(0, bytes.find("<UnfinishedCount>")));
         }},
    };
    std::u16string contents = MakeNovel("书库", "星河旅人");
    std::u16string folder = FolderOfFile(contents);
    std::string summary = NativePath(folder + u"/" + std::u16string(kNovelSummaryName));
    Add(u"书库", u"星河旅人", contents);
    for (const Case& test : cases) {
        ASSERT_TRUE(SaveNovelIndex(folder, IndexOf(3, 2)));
        std::string earlier = FileBytes(summary);
        ASSERT_TRUE(SaveNovelIndex(folder, IndexOf(7, 3)));
        test.change(summary, earlier);
        for (int read = 0; read < 2; ++read) {
            CBookShelfModel model(program_);
            model.LoadBookShelf();
            ASSERT_EQ(model.Items().size(), 1u);
            EXPECT_EQ(model.Item(0).Chapters, 7) << test.name;
            EXPECT_EQ(model.Items()[0], u"书库 - 星河旅人（4 章未完成）") << test.name;
        }
        // Counted once, and kept for the next listing.
        EXPECT_NE(FileBytes(summary).find("<UnfinishedCount>4<"), std::string::npos) << test.name;
    }
}

// A listing keeps what it read, and the next one takes it from there without opening any novel
// folder; whatever changes since, from this process or another, is read anew: with the
// library's change mark, and without one (as in a library an older version wrote), where each
// novel folder's time tells.
TEST_F(BookShelf, KeptListingGivesWayToEveryChange) {
    struct Case {
        const char* name;
        std::function<void(const std::u16string& folder)> change;
        std::u16string label;
    };
    // As a first download of five chapters and the updates after it leave the index.
    auto indexOf = [](int chapters, int stored) {
        NovelIndex index = IndexOf(chapters, stored);
        index.NewFrom = 6;
        return index;
    };
    auto openPage = [this](const std::u16string& page) {
        CBookShelfModel other(program_);
        other.LoadBookShelf();
        ASSERT_TRUE(other.NoteOpenedPage(page));
    };
    const std::string shelfFile = temp_.File("Config/BookShelf.xml");
    const Case cases[] = {
        {"index written",
         [&](const std::u16string& folder) { ASSERT_TRUE(SaveNovelIndex(folder, indexOf(9, 8))); },
         u"书库 - 星河旅人（新 4 章，1 章未完成）"},
        {"page read", [&](const std::u16string& folder) { openPage(folder + u"/3.html"); },
         u"书库 - 星河旅人（1 章未完成）"},
        // In place and to the same length: only the file's time tells.
        {"bookshelf file edited by hand",
         [&](const std::u16string&) {
             std::string bytes = FileBytes(shelfFile);
             bytes.replace(bytes.find("星河旅人"), std::string("星河旅人").size(), "星河旅客");
             std::fstream(shelfFile, std::ios::in | std::ios::out | std::ios::binary) << bytes;
         },
         u"书库 - 星河旅客（新 2 章，1 章未完成）"},
        {"kept file cut short",
         [&](const std::u16string& folder) {
             ASSERT_TRUE(SaveNovelIndex(folder, indexOf(9, 8)));
             std::string keptFile = shelfFile + ".counts";
             std::filesystem::resize_file(keptFile, std::filesystem::file_size(keptFile) - 5);
         },
         u"书库 - 星河旅人（新 4 章，1 章未完成）"},
    };
    std::u16string contents = MakeNovel("书库", "星河旅人");
    std::u16string folder = FolderOfFile(contents);
    const auto kept = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const Case& test : cases) {
        for (bool withMark : {true, false}) {
            std::filesystem::remove(shelfFile);
            Add(u"书库", u"星河旅人", contents);
            ASSERT_TRUE(SaveNovelIndex(folder, indexOf(5, 5)));
            openPage(folder + u"/2.html");
            ASSERT_TRUE(SaveNovelIndex(folder, indexOf(7, 6)));
            std::filesystem::last_write_time(NativePath(folder), kept);
            CBookShelfModel model(program_);
            model.LoadBookShelf();
            ASSERT_EQ(model.Items(),
                      std::vector<std::u16string>{u"书库 - 星河旅人（新 2 章，1 章未完成）"});
            test.change(folder);
            if (!withMark) {
                std::filesystem::remove(temp_.File("Novel/.library-changes"));
            }
            // Settled again, so that it is not read anew for being new.
            std::filesystem::last_write_time(NativePath(folder), kept + std::chrono::minutes(30));
            model.LoadBookShelf();
            EXPECT_EQ(model.Items(), std::vector<std::u16string>{test.label})
                << test.name << (withMark ? "" : ", without the mark");
        }
    }
}

TEST_F(BookShelf, AddsOnDownloadThreadsAndDeletesOnTheWindowThreadKeepEachOther) {
    constexpr int kThreads = 4;
    constexpr int kAddsPerThread = 15;
    // Each entry its own contents page, as every novel has its own folder.
    for (int i = 0; i < 10; ++i) {
        std::u16string name = u"旧书" + Utf8ToWide(std::to_string(i));
        Add(u"旧站", name, u"old/" + name);
    }
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    std::vector<std::thread> adders;
    for (int t = 0; t < kThreads; ++t) {
        adders.emplace_back([&, t] {
            RecordingPort window;
            for (int i = 0; i < kAddsPerThread; ++i) {
                std::u16string name = Utf8ToWide(std::to_string(t * 100 + i));
                AddBook(window, program_, {u"新站", name, u"new/" + name, {}, {}});
            }
        });
    }
    for (int i = 0; i < 10; ++i) {
        model.DeleteBook(0, port_);
    }
    for (std::thread& adder : adders) {
        adder.join();
    }
    std::vector<BookEntry> entries = ReadBookShelf(program_);
    EXPECT_EQ(entries.size(), static_cast<size_t>(kThreads * kAddsPerThread));
    for (const BookEntry& entry : entries) {
        EXPECT_EQ(entry.TargetSite, u"新站");
    }
}

} // namespace
} // namespace velunor::testing
