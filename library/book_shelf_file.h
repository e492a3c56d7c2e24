#pragma once
// The bookshelf file BookShelf.xml (portable: Config/BookShelf.xml; installed: in the library
// folder, beside Novel/): one Book element per downloaded novel under the BookShelf root, each
// holding TargetSite, NovelName and ContentsPagePath, and RuleFile (or, for a novel of a site
// without a rule, PageFinder) and InfoPageUrl, which identify the novel. Paths are stored as the
// program folder's own (ContentsPagePath relative to Novel/, RuleFile as a name in Rule/), so a
// copied or moved program folder keeps its shelf; entries written with absolute paths still read,
// and are rewritten in that form at the next edit. Every read and every
// load-edit-save of the file holds a lock on BookShelf.xml.lock beside it, taken by threads and
// processes alike, so an add on a download thread, a delete on the window's thread and a second
// velunor-cli never undo each other. A file that does not read back whole is never overwritten:
// its whole Book elements are read, and the next edit first moves it aside as
// BookShelf.xml.damaged-<time> and says so on the status line.

#include "port/window_port.h"

#include <string>
#include <vector>

namespace velunor {

/// One Book element of the file.
struct BookEntry {
    std::u16string TargetSite;
    std::u16string NovelName;
    /// The contents page's path on disk.
    std::u16string ContentsPagePath;
    /// The rule file's path on disk; empty in an entry written before novels were identified.
    std::u16string RuleFile;
    /// The novel's information page address; empty in such an entry too.
    std::u16string InfoPageUrl;
    /// The novel comes from a site without a rule: the page finder reads it (a PageFinder
    /// element), and its information page identifies it.
    bool FoundByFinder = false;

    /// True when the entry says which novel it is: by rule file and address, or by address on a
    /// site the finder reads.
    bool Identified() const {
        return !RuleFile.empty() || FoundByFinder;
    }
};

/// The bookshelf file of `programFolder` (ending in "/"): Config/BookShelf.xml.
std::u16string BookShelfPath(const std::u16string& programFolder);

/// The novel folder of a contents page path: the path without "/ContentsPage.html".
std::u16string NovelFolderOfContentsPage(const std::u16string& path);

/// The tree item text of a novel: site + " - " + novel.
std::u16string BookItemText(std::u16string_view site, std::u16string_view novel);

/// How an edit of the file ended.
enum class ShelfEditResult {
    Saved,    ///< the file holds the edit
    NotFound, ///< no entry to remove; the file is unchanged
    NotSaved, ///< the file could not be read whole or written; it is unchanged
    Busy,     ///< a download or update of the novel is running; nothing changed
};

/// The entries that have a TargetSite, in file order; empty when the file is missing, cannot be
/// read or holds none. From a damaged file, those of its whole Book elements. Blocks on the disk
/// and the bookshelf lock.
std::vector<BookEntry> ReadBookShelf(const std::u16string& programFolder);

/// The entry of the novel read with the rule file `ruleFile` (empty: by the page finder) from the
/// information page `infoPageUrl`; for an entry written before novels were identified so, the first
/// whose site and novel name are `site` and `novel`. False when the shelf holds neither. Blocks on
/// the disk and the bookshelf lock.
bool FindShelvedNovel(const std::u16string& programFolder, const std::u16string& ruleFile,
                      const std::u16string& infoPageUrl, const std::u16string& site,
                      const std::u16string& novel, BookEntry& found);

/// Appends a Book entry to the file (creating its folder and the file with an empty BookShelf root
/// when they are missing) and then the item to the window's bookshelf tree. A novel whose folder
/// the shelf lists already keeps its one entry, which takes the rule file and information
/// address it lacked. When the entry cannot be saved the status line says so, no item is added
/// and the result is false. Any thread; blocks on the disk, the bookshelf lock and the window
/// (never while holding the lock).
bool AddBook(WindowPort& window, const std::u16string& programFolder, const BookEntry& entry);

/// Removes every entry that opens `contentsPagePath` (a shelf written before one novel had one
/// entry may list a folder twice), and once the file without them is saved, deletes the novel's
/// folder with everything in it when that folder lies inside the
/// program's Novel/ folder, links resolved; a novel folder that is a link is unlinked, never
/// emptied. When the file cannot be saved the folder stays and the status line says so. While
/// a download, update or retry of the novel runs, in this process or another, nothing changes,
/// the status line says the novel is busy and the result is Busy: the delete runs on the
/// window's thread and must not wait out a job of many minutes. The folder is first renamed
/// to a hidden trash name, so that a process killed at any point leaves the novel either on the
/// shelf and whole or gone with its folder once ClearDeletedNovels has run. Blocks on the disk,
/// the bookshelf lock and the window (never while holding the lock).
ShelfEditResult RemoveBook(WindowPort& window, const std::u16string& programFolder,
                           const std::u16string& contentsPagePath);

/// Finishes the deletes that processes which ended meanwhile left half done: a trash folder
/// whose novel the shelf still lists is renamed back, any other is removed. A delete of a live
/// process, and a novel a job works on, are left alone. Costs one read of Novel/ and of each
/// site folder when there is no trash. Any thread; blocks on the disk.
void ClearDeletedNovels(const std::u16string& programFolder);

} // namespace velunor
