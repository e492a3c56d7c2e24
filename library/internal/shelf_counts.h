#pragma once
// What the bookshelf read from each novel folder the last time it was listed, kept in one file
// beside the bookshelf file, so that listing an unchanged shelf costs one status query per
// novel instead of opening its files. An entry holds the folder's stamp (its inode and the time
// it last changed); every file the shelf reads in a novel folder (the index, its summary,
// Reading.xml) is replaced by a rename, which changes the folder's time, so an entry whose
// stamp still matches still says what the folder holds. A folder that changed within the last
// second is not cached: a second change within the same tick of the file system's clock would
// leave its time as it was.

#include "library/book_shelf_model.h"

#include <functional>
#include <string>
#include <unordered_map>

namespace velunor::internal {

/// What the shelf shows of a novel folder besides its entry.
using FolderCounts = NovelShelfState;

/// The counts file of one listing of the shelf. One thread uses an object.
class CShelfCounts {
  public:
    /// The counts kept in the file at `path`; none when it is missing or damaged. Blocks on the
    /// disk.
    explicit CShelfCounts(std::u16string path);

    /// The counts of `folder`: those kept for it when the folder has not changed since, else
    /// what `read` finds now, kept for the next listing. Blocks on the disk.
    FolderCounts Counts(const std::u16string& folder, const std::function<FolderCounts()>& read);

    /// Writes the counts of the folders asked for in this listing, when they differ from the
    /// file's; a failure only costs the next listing the reads. Blocks on the disk.
    void Save();

  private:
    struct Kept {
        std::string Stamp;
        FolderCounts Counts;
    };

    std::u16string path_;
    // Hashed: the folders share long prefixes, which a tree would compare over and over.
    std::unordered_map<std::u16string, Kept> kept_;
    std::unordered_map<std::u16string, Kept> asked_;
    bool changed_ = false;
};

} // namespace velunor::internal
