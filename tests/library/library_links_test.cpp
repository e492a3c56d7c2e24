#include "library_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace velunor::testing {
namespace {

using LibraryLinks = LibraryFixture;

// Everything in a folder outside the library, as names and bytes, to tell that nothing changed.
std::vector<std::pair<std::string, std::string>> Contents(const std::string& folder) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        files.emplace_back(entry.path().string(),
                           entry.is_regular_file() ? ReadFileBytes(entry.path().string()) : "");
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A link in the place of any file or folder the program writes below Novel/ or Config/ is
// replaced, never written through: a download, the reader's place and the reading settings
// leave what it points to as it was, and the novel is stored whole in the library.
TEST_F(LibraryLinks, NoWriteGoesThroughALinkInTheLibrary) {
    struct Case {
        const char* link;   // below the program folder
        const char* target; // below outside/
    };
    const std::string novel = "Novel/书屋甲/缺图小说";
    const Case cases[] = {
        {"Novel/书屋甲/缺图小说/NovelIndex.xml", "file.xml"},
        {"Novel/书屋甲/缺图小说/ContentsPage.html", "file.xml"},
        {"Novel/书屋甲/缺图小说/2.html", "file.xml"},
        {"Novel/书屋甲/缺图小说/Reading.xml", "file.xml"},
        {"Novel/书屋甲/缺图小说/images", "folder"},
        {"Novel/书屋甲/缺图小说", "folder"},
        {"Novel/书屋甲", "folder"},
        {"Config/BookShelf.xml", "file.xml"},
        {"Config/ReadingSettings.xml", "file.xml"},
        // A link to nothing yet: opening through it would create the file.
        {"Config/BookShelf.xml.lock", "new.lock"},
    };
    const Hit hit = GbkHit(u"缺图小说", "quetu.html");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        std::filesystem::remove_all(temp_.File("Novel"));
        std::filesystem::remove_all(temp_.File("outside"));
        std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
        std::filesystem::remove(temp_.File("Config/ReadingSettings.xml"));
        std::filesystem::create_directories(temp_.File("outside/folder"));
        temp_.Write("outside/file.xml", "<?xml version=\"1.0\"?><mine/>");
        temp_.Write("outside/folder/mine.txt", "mine");
        std::filesystem::create_directories(temp_.File(novel));
        std::filesystem::remove_all(temp_.File(c.link));
        std::filesystem::create_symlink(temp_.File("outside/" + std::string(c.target)),
                                        temp_.File(c.link));
        const auto before = Contents(temp_.File("outside"));

        RecordingPort window;
        Download({hit}, 0, window);
        EXPECT_EQ(window.LastStatus(), DownloadDone(1));
        ReadingSettings settings;
        settings.FontSize = 20;
        EXPECT_TRUE(SaveReadingSettings(program_, settings));
        CBookShelfModel model(program_);
        model.LoadBookShelf();
        EXPECT_TRUE(model.NoteOpenedPage(temp_.WideFile(novel + "/2.html")));

        EXPECT_EQ(Contents(temp_.File("outside")), before);
        EXPECT_FALSE(std::filesystem::is_symlink(temp_.File(c.link)));
        ASSERT_EQ(ReadBookShelf(program_).size(), 1u);
        EXPECT_EQ(LoadReadingSettings(program_).FontSize, 20);
        EXPECT_TRUE(Exists(temp_.File(novel + "/images/2_1.png")));
        EXPECT_NE(ReadPageText(temp_.WideFile(novel + "/2.html")).find(u"images/2_1.png"),
                  std::u16string::npos);
    }
}

} // namespace
} // namespace velunor::testing
