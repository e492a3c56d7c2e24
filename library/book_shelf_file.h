#pragma once
// The bookshelf file Config/BookShelf.xml: one Book element per downloaded novel under the
// BookShelf root, each holding TargetSite, NovelName and ContentsPagePath. Every read and
// every load-edit-save of the file takes one process-wide lock, so an add on a download thread
// and a delete on the window's thread never undo each other.

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

/// The entries that have a TargetSite, in file order; empty when the file is missing or holds
/// none. Blocks on the disk and the bookshelf lock.
std::vector<BookEntry> ReadBookShelf(const std::u16string& programFolder);

/// Appends a Book entry to the file (creating the file with an empty BookShelf root when it
/// is missing) and then the item to the window's bookshelf tree. Any thread; blocks on the
/// disk, the bookshelf lock and the window.
void AddBook(WindowPort& window, const std::u16string& programFolder, const std::u16string& site,
             const std::u16string& novel, const std::u16string& contentsPagePath);

/// Removes the first entry whose item text is exactly `itemText`, deleting its novel folder
/// with everything in it when that folder lies inside the program's Novel/ folder. Returns
/// false when no entry matched. Blocks on the disk and the bookshelf lock.
bool RemoveBook(const std::u16string& programFolder, const std::u16string& itemText);

} // namespace velunor
