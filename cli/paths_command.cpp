#include "cli/paths_command.h"

#include "cli/cli_support.h"
#include "core/core.h"
#include "core/folder_layout.h"
#include "library/library.h"

#include <string>

namespace velunor::cli {
namespace {

void PrintPath(std::u16string_view label, const std::u16string& path) {
    PrintLine(std::u16string(label) + path);
}

} // namespace

int RunPaths(int, char**) {
    FolderLayout layout = FolderLayoutFor(GetProgramFolder());
    PrintPath(u"layout:     ", layout.Portable ? u"portable" : u"installed");
    PrintPath(u"programs:   ", layout.ProgramFolder);
    PrintPath(u"settings:   ", layout.ConfigFolder);
    PrintPath(u"library:    ", NovelRootFolder(layout.ProgramFolder));
    PrintPath(u"bookshelf:  ", layout.ShelfFolder + u"BookShelf.xml");
    for (size_t i = 0; i < layout.RuleFolders.size(); ++i) {
        PrintPath(i == 0 ? u"rules:      " : u"            ", layout.RuleFolders[i]);
    }
    PrintPath(u"shipped:    ", layout.ShippedFolder);
    PrintPath(u"defaults:   ", layout.DefaultsFolder);
    PrintPath(u"cache:      ", layout.CacheFolder);
    PrintPath(u"cookies:    ", layout.CookieFolder);
    return 0;
}

} // namespace velunor::cli
