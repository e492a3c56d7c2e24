#pragma once
// The few numbers the bookshelf shows of a novel, kept beside its chapter index in
// NovelSummary.xml: how many chapters it lists and how many are not stored. Listing the shelf
// reads this small file instead of the index, whose size grows with the novel, so the shelf
// costs the same per novel however long the novels are. Every write of the index writes the
// summary after it, stamped with the index file it was counted from; a summary whose stamp
// does not match the index on disk (a novel written before summaries, an index written by an
// older version since, a write cut short) is counted again from the index, once.

#include <string>
#include <string_view>

namespace velunor {

/// The summary file's name in a novel folder.
inline constexpr std::u16string_view kNovelSummaryName = u"NovelSummary.xml";

struct NovelSummary {
    /// Chapters the index lists.
    int Chapters = 0;
    /// Chapters not stored: failed, empty or pending.
    int Unfinished = 0;
};

/// The summary of the index of novel folder `folder` (no "/" at the end), from its summary file
/// when that still matches the index, otherwise counted from the index and written for the next
/// time. False, with `summary` zeroed, when the folder has no index that loads. Blocks on the
/// disk.
bool LoadNovelSummary(const std::u16string& folder, NovelSummary& summary);

/// Writes the summary of the index just written to `folder`; false when it could not be
/// written, which only costs the next reader a count from the index. Blocks on the disk.
bool SaveNovelSummary(const std::u16string& folder, const NovelSummary& summary);

} // namespace velunor
