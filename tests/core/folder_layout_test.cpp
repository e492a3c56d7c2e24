#include "core/folder_layout.h"

#include "core/core.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velunor {
namespace {

using testing::TempFolder;

// Where a copy in <temp>/usr/bin/ keeps its files, by what lies beside it.
TEST(FolderLayout, PortableBesideItsOwnFilesInstalledBesideAShareFolder) {
    struct Case {
        const char* name;
        std::vector<std::string> folders;
        std::vector<std::string> files;
        bool portable;
    };
    const std::vector<Case> cases = {
        {"a folder of its own", {}, {}, true},
        {"Config/ beside it", {"usr/bin/Config", "usr/share/velunor"}, {}, true},
        {"a portable marker", {"usr/share/velunor"}, {"usr/bin/portable"}, true},
        {"a share folder of its prefix", {"usr/share/velunor"}, {}, false},
    };
    LayoutEnvironment environment{u"/home/reader", u"", u"/data", u"relative/cache", u""};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TempFolder temp;
        ASSERT_TRUE(CreateFolderPath(temp.WideFile("usr/bin")));
        for (const std::string& folder : test.folders) {
            ASSERT_TRUE(CreateFolderPath(temp.WideFile(folder)));
        }
        for (const std::string& file : test.files) {
            temp.Write(file, "");
        }
        std::u16string program = temp.WideFile("usr/bin/");
        FolderLayout layout = DecideFolderLayout(program, environment);
        EXPECT_EQ(layout.Portable, test.portable);
        if (test.portable) {
            // Everything where it always was, beside the executable.
            EXPECT_EQ(layout.ConfigFolder, program + u"Config/");
            EXPECT_EQ(layout.LibraryFolder, program);
            EXPECT_EQ(layout.ShelfFolder, program + u"Config/");
            EXPECT_EQ(layout.RuleFolders, std::vector<std::u16string>{program + u"Rule/"});
            EXPECT_EQ(layout.ShippedFolder, program);
            EXPECT_EQ(layout.CacheFolder, program + u"Config/");
            EXPECT_EQ(layout.CookieFolder, program + u"Config/Cookies/");
            continue;
        }
        std::u16string shipped = temp.WideFile("usr/share/velunor/");
        EXPECT_EQ(layout.ShippedFolder, shipped);
        EXPECT_EQ(layout.DefaultsFolder, shipped + u"Config/");
        EXPECT_EQ(layout.ConfigFolder, u"/home/reader/.config/velunor/");
        EXPECT_EQ(layout.LibraryFolder, u"/data/velunor/");
        EXPECT_EQ(layout.ShelfFolder, u"/data/velunor/");
        EXPECT_EQ(layout.RuleFolders,
                  (std::vector<std::u16string>{u"/data/velunor/Rule/", shipped + u"Rule/"}));
        EXPECT_EQ(layout.CacheFolder, u"/home/reader/.cache/velunor/");
        EXPECT_EQ(layout.CookieFolder, u"/home/reader/.local/state/velunor/Cookies/");

        // The process's layout answers for its own program folder only; a test's temporary
        // program folder stays portable.
        InstallFolderLayout(layout);
        EXPECT_EQ(FolderLayoutFor(program).ConfigFolder, layout.ConfigFolder);
        EXPECT_TRUE(FolderLayoutFor(temp.WideFile("elsewhere/")).Portable);
        InstallFolderLayout(FolderLayout{});
    }
}

} // namespace
} // namespace velunor
