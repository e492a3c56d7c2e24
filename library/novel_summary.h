#pragma once
// The few facts the bookshelf shows of a novel, kept beside its chapter index in
// NovelSummary.xml: how many chapters it lists, how many are not stored and how many of those
// were never fetched, from which page number on its chapters count as new, and the order of its
// page files (as runs, "1-300,305,301-304"), from which the chapters after the last one read are
// counted. Listing the shelf reads this small file instead of the index, whose size grows with
// the novel, so the shelf costs the same per novel however long the novels are. Every write of
// the index writes the summary after it, stamped with the index file it was counted from; a
// summary whose stamp does not match the index on disk (a novel written before summaries, an
// index written by an older version since, a write cut short) is counted again from the index,
// once.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velunor {

struct NovelIndex;

/// The summary file's name in a novel folder.
inline constexpr std::u16string_view kNovelSummaryName = u"NovelSummary.xml";

struct NovelSummary {
    /// Chapters the index lists.
    int Chapters = 0;
    /// Chapters not stored: failed, empty or pending.
    int Unfinished = 0;
    /// Chapters never fetched: queued by a job that was cut short, or by one still running.
    int Pending = 0;
    /// Chapters on pages numbered from this one on came after the novel's first download.
    int NewFrom = 0;
    /// The chapters' page numbers in the index's order, as runs of consecutive numbers.
    std::vector<std::pair<int, int>> PageRuns;

    bool operator==(const NovelSummary&) const = default;
};

/// The summary of `index`.
NovelSummary SummaryOfIndex(const NovelIndex& index);
/// How many chapters come after the one on page `page`; all of them when the novel lists no
/// such page (none was read, or the one read is gone).
int ChaptersAfterPage(const NovelSummary& summary, int page);
/// How many chapters are on pages numbered `from` or higher.
int ChaptersFromPage(const NovelSummary& summary, int from);
/// One above the highest page number the novel lists; 1 without chapters.
int PageAfterLast(const NovelSummary& summary);
/// The runs as written in the summary file ("1-300,305"), and read back; false when `text` is
/// not such a list.
std::u16string PageRunsText(const std::vector<std::pair<int, int>>& runs);
bool ParsePageRuns(std::u16string_view text, std::vector<std::pair<int, int>>& runs);

/// The summary of the index of novel folder `folder` (no "/" at the end), from its summary file
/// when that still matches the index, otherwise counted from the index and written for the next
/// time. False, with `summary` zeroed, when the folder has no index that loads. Blocks on the
/// disk.
bool LoadNovelSummary(const std::u16string& folder, NovelSummary& summary);

/// Writes the summary of the index just written to `folder`; false when it could not be
/// written, which only costs the next reader a count from the index. Blocks on the disk.
bool SaveNovelSummary(const std::u16string& folder, const NovelSummary& summary);

} // namespace velunor
