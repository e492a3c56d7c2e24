#include "core/core.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <map>

#include <sys/stat.h>
#include <unistd.h>

namespace velunor {
namespace {

using testing::TempFolder;

bool Exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

TEST(Folders, IsDirectoryTellsFoldersFromFiles) {
    TempFolder temp;
    temp.Write("file.txt", "x");
    EXPECT_TRUE(IsDirectory(temp.WidePath()));
    EXPECT_FALSE(IsDirectory(temp.WideFile("file.txt")));
    EXPECT_FALSE(IsDirectory(temp.WideFile("missing")));
    EXPECT_FALSE(IsDirectory(u""));
}

TEST(Folders, CreateFolderPathCreatesEveryMissingParent) {
    TempFolder temp;
    EXPECT_TRUE(CreateFolderPath(temp.WideFile("Novel/站点/小说")));
    EXPECT_TRUE(IsDirectory(temp.WideFile("Novel/站点/小说")));
    // With a trailing slash, and once it exists, the same folder counts as created.
    EXPECT_TRUE(CreateFolderPath(temp.WideFile("Novel/站点/小说/")));
    EXPECT_TRUE(CreateFolderPath(temp.WideFile("Novel/other/")));
    EXPECT_TRUE(IsDirectory(temp.WideFile("Novel/other")));
    EXPECT_TRUE(CreateFolderPath(u"/"));
}

TEST(Folders, CreateFolderPathFailsWhereItCannot) {
    TempFolder temp;
    temp.Write("file", "x");
    EXPECT_FALSE(CreateFolderPath(temp.WideFile("file/sub")));
    EXPECT_FALSE(CreateFolderPath(u""));
    EXPECT_FALSE(CreateFolderPath(u"relative-folder-that-does-not-exist"));
}

TEST(Folders, DeleteFolderTreeRemovesNestedAndReadOnlyEntries) {
    TempFolder temp;
    ASSERT_TRUE(CreateFolderPath(temp.WideFile("book/images/deep")));
    temp.Write("book/1.html", "one");
    temp.Write("book/images/deep/a.jpg", "img");
    temp.Write("book/readonly.html", "ro");
    chmod(temp.File("book/readonly.html").c_str(), 0444);
    chmod(temp.File("book/images/deep").c_str(), 0555);
    DeleteFolderTree(temp.WideFile("book"));
    EXPECT_FALSE(Exists(temp.File("book")));
}

TEST(Folders, DeleteFolderTreeRemovesLinksWithoutFollowingThem) {
    TempFolder temp;
    ASSERT_TRUE(CreateFolderPath(temp.WideFile("keep")));
    temp.Write("keep/precious.txt", "data");
    ASSERT_TRUE(CreateFolderPath(temp.WideFile("book")));
    ASSERT_EQ(symlink(temp.File("keep").c_str(), temp.File("book/link").c_str()), 0);
    DeleteFolderTree(temp.WideFile("book/"));
    EXPECT_FALSE(Exists(temp.File("book")));
    EXPECT_EQ(temp.Read("keep/precious.txt"), "data");
}

TEST(Folders, DeleteFolderTreeOfALinkedFolderRemovesOnlyTheLink) {
    TempFolder temp;
    ASSERT_TRUE(CreateFolderPath(temp.WideFile("outside/sub")));
    temp.Write("outside/top.txt", "top");
    temp.Write("outside/sub/deep.txt", "deep");
    ASSERT_TRUE(CreateFolderPath(temp.WideFile("Novel/站甲")));
    for (const char* name : {"链接书", "斜杠书"}) {
        std::string link = temp.File("Novel/站甲/") + name;
        ASSERT_EQ(symlink(temp.File("outside").c_str(), link.c_str()), 0);
    }
    // A trailing "/" makes the system calls follow the link; the delete must not.
    DeleteFolderTree(temp.WideFile("Novel/站甲/链接书"));
    DeleteFolderTree(temp.WideFile("Novel/站甲/斜杠书/"));
    EXPECT_FALSE(Exists(temp.File("Novel/站甲/链接书")));
    EXPECT_FALSE(Exists(temp.File("Novel/站甲/斜杠书")));
    EXPECT_EQ(temp.Read("outside/top.txt"), "top");
    EXPECT_EQ(temp.Read("outside/sub/deep.txt"), "deep");
}

TEST(Folders, ListFolderNamesEveryEntryWithoutFollowingLinks) {
    TempFolder temp;
    ASSERT_TRUE(CreateFolderPath(temp.WideFile("list/sub")));
    temp.Write("list/file.txt", "x");
    // A name that is not UTF-8 comes back with its bytes, so it can still be opened or deleted.
    temp.Write("list/caf\xE9", "x");
    ASSERT_EQ(symlink(temp.File("list/sub").c_str(), temp.File("list/to-folder").c_str()), 0);
    ASSERT_EQ(symlink(temp.File("list/missing").c_str(), temp.File("list/dangling").c_str()), 0);
    std::map<std::string, EntryKind> kinds;
    for (const DirectoryEntry& entry : ListFolder(temp.File("list"))) {
        EXPECT_TRUE(kinds.emplace(entry.Name, entry.Kind).second) << entry.Name;
    }
    std::map<std::string, EntryKind> expected{{"sub", EntryKind::Folder},
                                              {"file.txt", EntryKind::File},
                                              {"caf\xE9", EntryKind::File},
                                              {"to-folder", EntryKind::Link},
                                              {"dangling", EntryKind::Link}};
    EXPECT_EQ(kinds, expected);
    EXPECT_TRUE(ListFolder(temp.File("list/sub")).empty());
    EXPECT_TRUE(ListFolder(temp.File("list/missing")).empty());
    EXPECT_TRUE(ListFolder(temp.File("list/file.txt")).empty());
}

TEST(Folders, DeleteFolderTreeRemovesNamesThatAreNotUtf8) {
    TempFolder temp;
    ASSERT_TRUE(CreateFolderPath(temp.WideFile("book")));
    ASSERT_EQ(mkdir(temp.File("book/\xB0\xA1").c_str(), 0777), 0);
    temp.Write("book/\xB0\xA1/\xFF.html", "x");
    DeleteFolderTree(temp.WideFile("book"));
    EXPECT_FALSE(Exists(temp.File("book")));
}

TEST(Folders, ProgramFolderIsTheExecutablesFolder) {
    std::u16string folder = GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), u'/');
    EXPECT_TRUE(IsDirectory(folder));
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    ASSERT_GT(length, 0);
    std::string executable(buffer, static_cast<size_t>(length));
    EXPECT_EQ(WideToUtf8(folder), executable.substr(0, executable.rfind('/') + 1));
}

} // namespace
} // namespace velunor
