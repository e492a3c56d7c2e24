#pragma once
// Where Velunor keeps its files. A copy that runs from its own folder (a build folder, a copied
// folder) is portable: everything lies beside the executable, in Rule/, Config/, Template/,
// Recommend/ and Novel/. An installed copy (the executable in /usr/bin, say) reads what it ships
// from <prefix>/share/velunor/ and keeps each user's files in the XDG base directories: settings
// in $XDG_CONFIG_HOME/velunor/, the library in $XDG_DATA_HOME/velunor/, the last search in
// $XDG_CACHE_HOME/velunor/, cookies in $XDG_STATE_HOME/velunor/Cookies/, and the user's own rule
// files in $XDG_DATA_HOME/velunor/Rule/, which win over shipped files of the same name.
//
// A program decides its layout once at start and installs it for the process; the functions
// that build paths from a program folder ask FolderLayoutFor, which answers the installed
// layout for the program folder it was made for and the portable layout for any other folder.

#include <string>
#include <vector>

namespace velunor {

/// Every folder ends in "/".
struct FolderLayout {
    bool Portable = true;
    /// The folder of the executables (velunor, velunor-cli, velunor-renderer, tolvane).
    std::u16string ProgramFolder;
    /// Settings: reading settings, site selection, the library location.
    std::u16string ConfigFolder;
    /// The folder that holds Novel/.
    std::u16string LibraryFolder;
    /// The folder of BookShelf.xml and the novels' lock files.
    std::u16string ShelfFolder;
    /// Rule folders, the one whose file wins first.
    std::vector<std::u16string> RuleFolders;
    /// The folder holding Template/ and Recommend/; the current directory while the program runs.
    std::u16string ShippedFolder;
    /// Shipped settings, read where the user has none of their own yet.
    std::u16string DefaultsFolder;
    /// The last search's hits.
    std::u16string CacheFolder;
    /// The sites' cookie jars.
    std::u16string CookieFolder;
};

/// The environment an installed layout is made from; each value is used only when absolute.
struct LayoutEnvironment {
    std::u16string Home;
    std::u16string ConfigHome;
    std::u16string DataHome;
    std::u16string CacheHome;
    std::u16string StateHome;
};

/// HOME (or the password database's home folder when HOME is unset) and the XDG_*_HOME
/// variables of the process.
LayoutEnvironment ReadLayoutEnvironment();

/// True when the copy in `programFolder` runs portable: a Config/ folder or a file named
/// "portable" lies beside the executable, or no <prefix>/share/velunor/ folder belongs to it
/// (an executable copied into a folder of its own). Blocks on the disk.
bool RunsPortable(const std::u16string& programFolder);

/// The layout of a copy in `programFolder` (ending in "/"): portable or installed as
/// RunsPortable decides, with the user's folders from `environment`. `chosenLibrary`, when not
/// empty, is a library folder the user chose; it then holds Novel/ and the bookshelf. An
/// installed layout whose environment names no home has empty user folders. Creates nothing.
FolderLayout DecideFolderLayout(const std::u16string& programFolder,
                                const LayoutEnvironment& environment,
                                const std::u16string& chosenLibrary = {});

/// Makes `layout` the process's layout; any thread, usually once at start.
void InstallFolderLayout(const FolderLayout& layout);

/// The installed layout when it was made for `programFolder`, else the portable layout of
/// `programFolder`. Any thread.
FolderLayout FolderLayoutFor(const std::u16string& programFolder);

/// `path` as messages name it: relative to `programFolder` when it lies below it, as the user
/// of a portable copy knows it (Config/BookShelf.xml), otherwise in full.
std::u16string ShownPath(const std::u16string& programFolder, const std::u16string& path);

/// Creates the user's folders of an installed layout (settings, library, cache, cookies) and
/// checks that each can be written; a portable layout needs nothing. False with `problem` set
/// to a message naming the folder and the reason when one cannot be made or written.
bool PrepareUserFolders(const FolderLayout& layout, std::u16string& problem);

} // namespace velunor
