#pragma once
// A novel of the library as an export holds it: its names and introduction as plain text, and
// its chapters in the site's order under their volume headings, each reduced to paragraphs and
// images, a chapter that is not stored holding the one paragraph that says so.

#include "export/export.h"
#include "export/internal/markup_reduction.h"
#include "library/novel_index.h"

#include <string>
#include <vector>

namespace velunor::internal {

struct ExportedChapter {
    /// Plain text, never empty: a chapter without a name is called by its position.
    std::u16string Name;
    std::vector<TextBlock> Blocks;
    ChapterState State = ChapterState::Stored;
};

struct ExportedBook {
    /// The novel folder, where the images of the text lie (images/ below it).
    std::u16string Folder;
    /// Plain text, never empty.
    std::u16string Title;
    std::u16string Author;
    std::u16string Site;
    std::u16string InfoPageUrl;
    /// Paragraphs only; empty when the novel has no introduction.
    std::vector<TextBlock> Intro;
    std::vector<ExportedChapter> Chapters;
    /// The volume headings among the chapters, as plain text, never empty.
    VolumeHeadings Volumes;
    /// Captions of the export's own, converted with the text.
    std::u16string ContentsCaption = u"目录";
    std::u16string AuthorCaption = u"作者：";
};

/// What a chapter that is not stored says instead of its text: that it could not be fetched
/// and why (`reason`, left out when empty), or, pending, that it was not fetched yet.
std::u16string MissingChapterNotice(ChapterState state, std::u16string_view reason);

/// Reads the novel of `folder` (no "/" at the end) from its chapter index, or, without one,
/// from its chapter pages; the chapters' pages are read on up to two threads, and `progress`
/// (when set) hears how many are read, from the calling thread. False, with `error` saying
/// why, when the folder holds no chapter. Blocks on the disk.
bool ReadExportedBook(const std::u16string& folder, ExportedBook& book,
                      const ExportProgress& progress, std::u16string& error);

/// Converts every name and text of `book` with `converter`.
class CChineseConverter;
void ConvertBook(const CChineseConverter& converter, ExportedBook& book);

} // namespace velunor::internal
