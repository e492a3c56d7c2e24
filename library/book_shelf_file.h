#pragma once
// The bookshelf file Config/BookShelf.xml: one Book element per downloaded novel under the
// BookShelf root, each holding TargetSite, NovelName and ContentsPagePath. Every read and every
// load-edit-save of the file holds a lock on Config/BookShelf.xml.lock, taken by threads and
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
    std::u16string ContentsPagePath;
};

/// The tree item text of a novel: site + " - " + novel.
std::u16string BookItemText(std::u16string_view site, std::u16string_view novel);

/// How an edit of the file ended.
enum class ShelfEditResult {
    Saved,    ///< the file holds the edit
    NotFound, ///< no entry to remove; the file is unchanged
    NotSaved, ///< the file could not be read whole or written; it is unchanged
};

/// The entries that have a TargetSite, in file order; empty when the file is missing, cannot be
/// read or holds none. From a damaged file, those of its whole Book elements. Blocks on the disk
/// and the bookshelf lock.
std::vector<BookEntry> ReadBookShelf(const std::u16string& programFolder);

/// Appends a Book entry to the file (creating Config/ and the file with an empty BookShelf root
/// when they are missing) and then the item to the window's bookshelf tree. When the entry
/// cannot be saved the status line says so, no item is added and the result is false. Any
/// thread; blocks on the disk, the bookshelf lock and the window (never while holding the lock).
bool AddBook(WindowPort& window, const std::u16string& programFolder, const std::u16string& site,
             const std::u16string& novel, const std::u16string& contentsPagePath);

/// Removes the first entry whose item text is exactly `itemText`, and once the file without it
/// is saved, deletes the novel's folder with everything in it when that folder lies inside the
/// program's Novel/ folder, links resolved; a novel folder that is a link is unlinked, never
/// emptied. When the file cannot be saved the folder stays and the status line says so. Blocks
/// on the disk, the bookshelf lock and the window (never while holding the lock).
ShelfEditResult RemoveBook(WindowPort& window, const std::u16string& programFolder,
                           const std::u16string& itemText);

} // namespace velunor
