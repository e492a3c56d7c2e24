#pragma once
// A novel's contents page, made from its chapter index and the contents template: the chapters
// two to a row under their volume headings, each not stored marked once no job is fetching it,
// and a line on how the download stands. Jobs write it as they start and end; a chapter fetched
// again on its own, and a job cut short, have it written again from the index, so that it
// always says what the pages hold.

#include "library/novel_index.h"

#include <string>

namespace velunor {

/// The contents page of `index` from the contents template `contentsTemplate`: while `running`
/// a job is fetching its chapters, and the page says so instead of marking the unfinished ones.
std::u16string ComposeContentsPage(const std::u16string& contentsTemplate, const NovelIndex& index,
                                   bool running);

/// Writes the contents page of the novel folder `folder` (no "/" at the end) from its index, as
/// a finished job leaves it; the caller holds the novel. False when the index, the template or
/// the page cannot be read or written. Blocks on the disk.
bool WriteContentsPageFromIndex(const std::u16string& programFolder, const std::u16string& folder);

/// Writes the contents page of the novel folder `folder` (no "/" at the end) again from its
/// index, as a finished job leaves it, unless a job holds the novel: that one writes it when it
/// ends. False when the index, the template or the page cannot be read or written, or a job
/// holds the novel. Blocks on the disk.
bool RewriteContentsPage(const std::u16string& programFolder, const std::u16string& folder);

} // namespace velunor
