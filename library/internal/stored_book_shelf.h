#pragma once
// The bookshelf file as it is written, for the shelf's listing: the entries with their paths as
// stored, and the stamp of the file they were read from, so that a listing can keep them and
// take them again while the file stands unchanged.

#include "library/book_shelf_file.h"

#include <map>
#include <string>
#include <vector>

namespace velunor::internal {

struct StoredBookShelf {
    /// The listed entries, paths as stored.
    std::vector<BookEntry> Entries;
    /// BookShelfStamp of the file the entries were read from.
    std::string Stamp;
};

/// The bookshelf file's device, inode, size and time of change. Every edit replaces the file,
/// and a hand edit changes its time, so a file with the stamp it had still holds the entries it
/// held. Empty when there is no file. Blocks on the disk.
std::string BookShelfStamp(const std::u16string& programFolder);

/// The entries of the bookshelf file as ReadBookShelf lists them, before their paths are
/// resolved. Blocks on the disk and on other edits of the file.
StoredBookShelf ReadStoredBookShelf(const std::u16string& programFolder);

/// Makes the stored paths of entries paths on disk, as ReadBookShelf gives them. Each rule file
/// is looked up on disk once: most entries of a long shelf name one of a few.
class CStoredEntryResolver {
  public:
    explicit CStoredEntryResolver(const std::u16string& programFolder);
    /// Blocks on the disk.
    void Resolve(BookEntry& entry);

  private:
    std::u16string programFolder_;
    std::u16string root_;
    std::map<std::u16string, std::u16string> ruleFiles_;
};

} // namespace velunor::internal
