#pragma once
// An EPUB 3 book made from an exported novel: the package document, a navigation document, an
// NCX for readers that know only EPUB 2, a title page, one XHTML document per chapter and the
// images the chapters show, each file as it goes into the archive.

#include "export/internal/exported_book.h"
#include "export/internal/zip_archive.h"

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace velunor::internal {

/// The kind of an image file, as its first bytes tell.
struct ImageKind {
    /// The EPUB media type; nullptr for a kind that EPUB readers need not show.
    const char* MediaType = nullptr;
    /// The file name extension that goes with it, without the dot.
    const char* Extension = nullptr;
};

/// JPEG, PNG or GIF by their signatures; an unknown kind (MediaType nullptr) for anything else.
ImageKind SniffImageKind(std::string_view bytes);

/// "urn:uuid:" and a UUID (version 8) made from a hash of the novel's information page address,
/// or of its site and novel folder when the index has none: the same novel gets the same
/// identifier in every export.
std::u16string BookIdentifier(const ExportedBook& book);

/// `when` as dcterms:modified writes it: "2024-05-01T08:30:00Z".
std::u16string ModifiedTimestamp(std::time_t when);

/// The files of the book in archive order, "mimetype" first and stored. Images are read from
/// the novel folder's images/; `imagesLeftOut` receives how many different images the text
/// names that could not be taken in. Blocks on the disk.
std::vector<ArchiveEntry> EpubEntries(const ExportedBook& book, std::u16string_view modified,
                                      int& imagesLeftOut);

/// The path inside the archive of chapter `position` (from 0): "OEBPS/text/c0001.xhtml".
std::string ChapterEntryName(size_t position);

} // namespace velunor::internal
