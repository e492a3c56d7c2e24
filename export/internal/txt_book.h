#pragma once
// A plain text book made from an exported novel.

#include "export/internal/exported_book.h"

#include <string>

namespace velunor::internal {

/// The title, the author's line and the introduction's paragraphs, then every chapter: two
/// blank lines, its name on a line of its own, and its paragraphs, a blank line before each.
/// Images are left out. Lines end in "\n".
std::u16string TxtText(const ExportedBook& book);

/// `text` in `encoding`: UTF-8 after a byte-order mark, or GB18030. False when the system
/// cannot encode it.
bool EncodeTxt(std::u16string_view text, TextEncoding encoding, std::string& bytes);

} // namespace velunor::internal
