#pragma once
// What the last listing of the bookshelf read, kept in one file beside the bookshelf file
// (Config/BookShelf.xml.counts), so that listing an unchanged shelf opens that file and nothing
// else:
// - the bookshelf file's entries as stored, taken again while the bookshelf file keeps the
//   stamp it had (every edit replaces it);
// - per entry, what its novel folder's summary and Reading.xml said, with the folder's stamp
//   (its inode and the time it last changed). Every file the shelf reads in a novel folder is
//   replaced by a rename, which changes the folder's time, so a kept entry whose stamp still
//   matches still says what the folder holds. A folder that changed within the last second is
//   not kept: a second change within the same tick of the file system's clock would leave its
//   time as it was;
// - the library's change mark (library_changes.h) as the listing found it. While the mark
//   stands as it was, no novel folder was written since, and the kept counts are taken without
//   asking for any folder's stamp.

#include "library/book_shelf_model.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velunor::internal {

/// What the shelf shows of a novel folder besides its entry.
using FolderCounts = NovelShelfState;

/// The kept file of one listing of the shelf of a program folder. One thread uses an object.
class CShelfCounts {
  public:
    /// What the last listing of the shelf of `programFolder` (ending in "/") kept; nothing when
    /// the file is missing or damaged. Reads the library's change mark before anything else.
    /// Blocks on the disk.
    explicit CShelfCounts(const std::u16string& programFolder);

    /// True when the library's change mark stands as the kept listing found it: no novel
    /// folder of the library was written or deleted since.
    bool LibraryUnwritten() const;

    /// How many entries the bookshelf file lists: those kept when the file still has the stamp
    /// it had, else those read from it now. Blocks on the disk and on edits of the file.
    size_t ReadEntries();
    /// Entry `order` (below ReadEntries()), paths as stored; once each.
    BookEntry TakeEntry(size_t order);

    /// The counts of entry `order`, whose novel folder is `folder`: those kept for it when no
    /// novel folder was written since (LibraryUnwritten) or this one has not changed since,
    /// else what `read` finds now, kept for the next listing. Blocks on the disk.
    FolderCounts Counts(size_t order, const std::u16string& folder,
                        const std::function<FolderCounts()>& read);

    /// Writes what this listing read, when it differs from the file's; a failure only costs
    /// the next listing the reads. Blocks on the disk.
    void Save();

  private:
    // One entry's line of the kept file, read when it is needed.
    struct Kept {
        // The entry's stored fields as the file holds them: escaped, between tabs.
        std::string_view EntryText;
        // Empty when nothing is kept for the folder.
        std::string_view Stamp;
        // The counts' fields, between tabs.
        std::string_view CountsText;
    };

    static bool SplitKeptLine(std::string_view line, Kept& kept);
    void ReadKeptFile();
    long KeptFor(size_t order);
    bool IsLibraryNovelFolder(const std::u16string& folder) const;

    std::u16string programFolder_;
    std::u16string novelRoot_;
    std::string libraryChanges_;
    // The kept file as read, which the kept entries' views point into.
    std::string bytes_;
    std::string keptShelfStamp_;
    std::string keptLibraryChanges_;
    std::u16string keptNovelRoot_;
    std::vector<Kept> kept_;

    // This listing: the bookshelf file's stamp, and its entries' stored text when they were
    // read from the bookshelf file rather than taken from the kept file.
    std::string shelfStamp_;
    std::vector<BookEntry> readEntries_;
    std::vector<std::string> readEntryTexts_;
    bool entriesKept_ = false;
    // Made when first needed: the kept entries by their text, for entries read anew.
    std::unique_ptr<std::unordered_map<std::string_view, size_t>> keptByText_;
    // Per entry of this listing: the kept entry whose counts it took, or -1; and the stamp
    // and counts of the folders read anew.
    struct Fresh {
        std::string Stamp;
        FolderCounts Counts;
    };
    std::vector<long> taken_;
    std::unordered_map<size_t, Fresh> fresh_;
    bool changed_ = false;
};

} // namespace velunor::internal
