#pragma once
// The hits of the last search: Config/SearchResult.xml.
//
// The search writes the file and the download job reads it back to find the hit the user
// opened; this module is the only place that knows the file's path and layout. A search holds
// its hits in memory and writes the whole file at most every 100 ms and once at its end, so a
// hit costs the same however many came before it. A reader in the same process first writes
// out what the running search still holds, so a hit that is in the result list is always in
// the file the reader sees.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace velunor {

/// One SearchResult element: a hit of the last search.
struct SearchHit {
    std::u16string TargetSite;
    std::u16string RuleFile;
    std::u16string NovelName;
    std::u16string NovelAuthor;
    std::u16string LatestChapter;
    std::u16string InfoPageUrl;
};

/// Config/SearchResult.xml below `programFolder` (ending in "/").
std::u16string SearchResultFilePath(const std::u16string& programFolder);

/// The writer of the result file. Each hit is appended to the file as it comes, so a hit that
/// a row shows is on disk before the row; the file costs the same for every hit however many
/// came before. Every member may be called from any thread.
class CSearchResultFile {
  public:
    /// Starts a new search: deletes the previous file and writes one holding only the XML
    /// declaration. False when the file cannot be written; the previous file is then emptied
    /// where that is still possible, so that no earlier hit passes for one of this search.
    /// Blocks on the disk.
    bool Reset(const std::u16string& programFolder);
    /// Appends `hit` after every hit before it. False when it could not be written. Blocks on
    /// the disk.
    bool Append(const SearchHit& hit);
    /// True when every hit since the last Reset was written.
    bool Intact();

  private:
    std::mutex lock_;
    std::u16string path_;
    bool intact_ = false;
};

/// The hits of the last search below `programFolder`, in file order; empty when the file is
/// missing or holds none. Blocks on the disk.
std::vector<SearchHit> ReadSearchHits(const std::u16string& programFolder);

} // namespace velunor
