#pragma once
// The hits of the last search: SearchResult.xml in the cache folder (portable: Config/).
//
// The search writes the file and the download job reads it back to find the hit the user
// opened; this module is the only place that knows the file's path and layout. A search
// appends each hit to the file before its row is listed, so a hit costs the same however many
// came before it, and a hit that is in the result list is always in the file a reader sees.
// The file grows to at most kSearchResultFileLimit, which the reader reads whole, so that every
// listed row can be opened.

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

/// SearchResult.xml in the cache folder of the layout of `programFolder` (ending in "/";
/// portable: its Config/).
std::u16string SearchResultFilePath(const std::u16string& programFolder);

/// The most bytes the result file grows to: as much as ReadSearchHits reads back, so that every
/// hit in the file can be opened.
inline constexpr std::uint64_t kSearchResultFileLimit = 64u * 1024u * 1024u;

/// What became of a hit given to CSearchResultFile::Append.
enum class ResultAppend {
    /// It is in the file, after every hit before it.
    Written,
    /// It would take the file past kSearchResultFileLimit: it is not in the file, and from now
    /// on no hit of this search is.
    Full,
    /// It could not be written, and from now on no hit of this search is.
    Failed,
};

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
    /// Appends `hit` after every hit before it, unless the file is full or broken. Blocks on
    /// the disk.
    ResultAppend Append(const SearchHit& hit);
    /// True when every hit since the last Reset was written or refused as one too many.
    bool Intact();

  private:
    std::mutex lock_;
    std::u16string path_;
    bool intact_ = false;
    bool full_ = false;
    // The bytes in the file.
    std::uint64_t size_ = 0;
};

/// The hits of the last search below `programFolder`, in file order; empty when the file is
/// missing, holds none or is larger than kSearchResultFileLimit. Takes time in proportion to
/// the file's size. Blocks on the disk.
std::vector<SearchHit> ReadSearchHits(const std::u16string& programFolder);

} // namespace velunor
