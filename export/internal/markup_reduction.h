#pragma once
// The site's markup of a chapter text reduced to what a book holds: paragraphs of plain text and
// the images between them. Stateless; any thread.

#include "html/html.h"

#include <string>
#include <string_view>
#include <vector>

namespace velunor::internal {

/// One block of a reduced text: a paragraph's plain text or an image's address, as
/// html::ChapterBlocks reads them; in a reduced text never empty and never with a character XML
/// cannot hold.
using TextBlock = html::ChapterBlock;

/// The blocks of the HTML fragment `markup` in order, as html::ChapterBlocks reads them: what a
/// reader sees of the novel's text, a line a paragraph, with its images between the paragraphs.
std::vector<TextBlock> ReduceMarkup(std::u16string_view markup);

/// The paragraphs of `markup` joined by a space, images left out: a name or a title as plain
/// text.
std::u16string PlainTextOf(std::u16string_view markup);

} // namespace velunor::internal
