#include "core/core.h"
#include "library/book_shelf_file.h"
#include "library/book_shelf_model.h"
#include "library/library_layout.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
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
        AddBook(port_, program_, site, novel, path);
    }

    TempFolder temp_;
    std::u16string program_;
    RecordingPort port_;
};

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

TEST_F(BookShelf, EntriesWithoutSiteAreNeitherListedNorLost) {
    temp_.Write("Config/BookShelf.xml", "<BookShelf>\r\n<Book>\r\n<NovelName>孤本</NovelName>\r\n</"
                                        "Book>\r\n<Book>\r\n<TargetSite>站</TargetSite>\r\n"
                                        "<NovelName>书</NovelName>\r\n<ContentsPagePath>p</"
                                        "ContentsPagePath>\r\n</Book>\r\n</BookShelf>\r\n");
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    ASSERT_EQ(model.Items(), std::vector<std::u16string>{u"站 - 书"});
    model.DeleteBook(0);
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
    model.DeleteBook(2);
    EXPECT_EQ(model.Items(), (std::vector<std::u16string>{u"站 - 西游记", u"站点 - 西游"}));
    std::vector<BookEntry> left = ReadBookShelf(program_);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0].NovelName, u"西游记");
    EXPECT_EQ(left[1].TargetSite, u"站点");
    EXPECT_FALSE(std::filesystem::exists(temp_.File("Novel/站/西游")));
    EXPECT_TRUE(std::filesystem::exists(temp_.File("Novel/站/西游记/ContentsPage.html")));
    EXPECT_TRUE(std::filesystem::exists(temp_.File("Novel/站点/西游/ContentsPage.html")));
    model.DeleteBook(-1);
    model.DeleteBook(2);
    EXPECT_EQ(ReadBookShelf(program_).size(), 2u);
}

TEST_F(BookShelf, DuplicateEntriesOpenTwiceAndDeleteTheFirst) {
    std::u16string path = MakeNovel("站", "书");
    Add(u"站", u"书", path);
    Add(u"站", u"书", path);
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    RecordingPort window;
    model.OpenBook(1, window);
    EXPECT_EQ(window.Navigations(), (std::vector<std::u16string>{path, path}));
    EXPECT_EQ(window.GetViewMode(), ViewMode::Reading);
    RecordingPort untouched;
    model.OpenBook(-1, untouched);
    model.OpenBook(2, untouched);
    EXPECT_TRUE(untouched.Navigations().empty());
    model.DeleteBook(1);
    EXPECT_EQ(ReadBookShelf(program_).size(), 1u);
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
        model.DeleteBook(0);
    }
    EXPECT_TRUE(ReadBookShelf(program_).empty());
    EXPECT_EQ(temp_.Read("home/user/notes.txt"), "mine");
    EXPECT_EQ(temp_.Read("Novel/站/keep.txt"), "keep");
}

TEST_F(BookShelf, AddsOnDownloadThreadsAndDeletesOnTheWindowThreadKeepEachOther) {
    constexpr int kThreads = 4;
    constexpr int kAddsPerThread = 15;
    for (int i = 0; i < 10; ++i) {
        Add(u"旧站", u"旧书" + Utf8ToWide(std::to_string(i)), u"");
    }
    CBookShelfModel model(program_);
    model.LoadBookShelf();
    std::vector<std::thread> adders;
    for (int t = 0; t < kThreads; ++t) {
        adders.emplace_back([&, t] {
            RecordingPort window;
            for (int i = 0; i < kAddsPerThread; ++i) {
                AddBook(window, program_, u"新站", Utf8ToWide(std::to_string(t * 100 + i)), u"");
            }
        });
    }
    for (int i = 0; i < 10; ++i) {
        model.DeleteBook(0);
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
