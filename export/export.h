#pragma once
// Export: a downloaded novel of the library made into one file to read elsewhere, an EPUB 3 book
// or a plain text file. The chapters come in the site's order from the novel's chapter index,
// their text from the library's chapter pages with the site's markup reduced to paragraphs; a
// chapter that is not stored stands in the file as a chapter that says so. Names and text may be
// converted between simplified and traditional characters on the way. The file is written
// beside its target under a temporary name and takes the target's name only once it is whole,
// so a failed export changes nothing on the disk. No network; plain C++.

#include "port/window_port.h"

#include <functional>
#include <string>

namespace velunor {

enum class ExportFormat {
    Epub, ///< EPUB 3, with a navigation document and an NCX for older readers
    Txt,  ///< plain text
};

/// Conversion of names and text between the two forms of Chinese characters.
enum class ChineseConversion {
    None,
    SimplifiedToTraditional, ///< 简→繁
    TraditionalToSimplified, ///< 繁→简
};

/// The encoding of a plain text export; an EPUB is always UTF-8.
enum class TextEncoding {
    Utf8,    ///< UTF-8 with a byte-order mark
    Gb18030, ///< GB18030, which holds every character, those outside GBK too
};

struct ExportOptions {
    ExportFormat Format = ExportFormat::Epub;
    ChineseConversion Conversion = ChineseConversion::None;
    TextEncoding Encoding = TextEncoding::Utf8;
};

/// How an export ended.
struct ExportResult {
    /// True when the target holds the whole export.
    bool Ok = false;
    /// Why the export failed, as the status line says it; empty when it did not.
    std::u16string Error;
    /// The novel's name as the file holds it (converted when the text is).
    std::u16string NovelName;
    /// Chapters in the file, those that say they are missing included.
    int Chapters = 0;
    /// Chapters whose fetch failed or found no text: each stands as a chapter that says why.
    int Failed = 0;
    /// Chapters not fetched yet: each stands as a chapter that says so.
    int Pending = 0;
    /// Images of the text left out of an EPUB: missing from images/, or of a kind that EPUB
    /// readers need not show.
    int ImagesLeftOut = 0;
};

/// Called with the chapters read so far and their number, on the exporting thread.
using ExportProgress = std::function<void(int done, int total)>;

/// Exports the novel in `novelFolder` (no "/" at the end) to the file `target`, which is replaced
/// only once the new file is whole; on failure nothing is left behind and an existing target
/// is untouched. Any thread; blocks on the disk for as long as the export takes.
ExportResult ExportNovel(const std::u16string& novelFolder, const std::u16string& target,
                         const ExportOptions& options, const ExportProgress& progress = {});

/// ExportNovel reporting on `window`'s status line: that it started, how far it has come (at
/// most every tenth of the chapters) and how it ended (ExportSummary). Any thread; blocks for as
/// long as the export takes.
ExportResult RunExportJob(WindowPort& window, const std::u16string& novelFolder,
                          const std::u16string& target, const ExportOptions& options);

/// Starts RunExportJob on a detached thread and returns at once. `window` must outlive the job.
void StartExportJob(WindowPort& window, const std::u16string& novelFolder,
                    const std::u16string& target, const ExportOptions& options);

/// The last status line of an export to `target`: where it went and how many chapters it holds,
/// with those missing and the images left out when there are any; or why it failed.
std::u16string ExportSummary(const ExportResult& result, const std::u16string& target);

/// The file name an export of the novel `novelName` gets when none is chosen: the name (cleaned
/// into one path component, with `options`' conversion applied) and ".epub" or ".txt".
std::u16string DefaultExportFileName(const std::u16string& novelName, const ExportOptions& options);

/// The novel's name as its chapter index in `novelFolder` holds it, reduced to plain text; the
/// folder's own name when it has no index. Blocks on the disk.
std::u16string ExportedNovelName(const std::u16string& novelFolder);

} // namespace velunor
