#pragma once
// A novel on the shelf opened for a job that rewrites some of its chapter pages in place rather
// than fetching them from the novel's own site: it shares with the update and the retry the
// claim on the novel folder, the index as they read it, the page templates, and the contents
// page and index written at the end.

#include "library/library_layout.h"
#include "library/novel_index.h"
#include "port/window_port.h"

#include <cstddef>
#include <functional>
#include <string>

namespace velunor::internal {

struct ShelvedNovel {
    /// The novel folder, no "/" at the end.
    std::u16string Folder;
    /// Its index, stored pages checked and unrecorded outcomes settled; the job's changes to it
    /// are written when the job ends.
    NovelIndex Index;
    /// The chapter page template and the encoding pages are written in.
    std::u16string PageTemplate;
    std::u16string PageEncoding;
    /// The fields of the page of the chapter at a position of Index, as the novel's own site's
    /// pages have them (its rule file and the chapter's address there).
    std::function<ChapterPageFields(size_t)> Fields;
};

/// What a job does with the opened novel: writes pages, changes Index, and returns its last
/// status line. Runs on the thread of WorkOnShelvedNovel.
using ShelvedNovelWork = std::function<std::u16string(ShelvedNovel&)>;

/// Claims the novel in `novelFolder` and reads it as an update does, then runs `work` on it and
/// writes its index and its contents page; the status line ends with what `work` returned and
/// what could not be written. False, the status line saying why, when the novel is busy, off
/// the shelf, or its templates, index or rule cannot be read: `work` did not run. Blocks.
bool WorkOnShelvedNovel(WindowPort& window, const std::u16string& programFolder,
                        const std::u16string& novelFolder, const ShelvedNovelWork& work);

} // namespace velunor::internal
