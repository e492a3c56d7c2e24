#pragma once
// The site's markup of a chapter text reduced to what a book holds: paragraphs of plain text and
// the images between them. Stateless; any thread.

#include <string>
#include <string_view>
#include <vector>

namespace velunor::internal {

/// One block of a reduced text.
struct TextBlock {
    enum class Kind { Paragraph, Image };
    Kind BlockKind = Kind::Paragraph;
    /// A paragraph's plain text (never empty, no line break, no character XML cannot hold), or an
    /// image's address as the page has it, references decoded.
    std::u16string Text;

    bool operator==(const TextBlock&) const = default;
};

/// The blocks of the HTML fragment `html` in order. `<br>` runs, block elements and runs of two
/// or more no-break or ideographic spaces (the indents of sites that write no line breaks) end a
/// paragraph; scripts, styles, hidden elements, navigation elements and links that only lead to
/// another chapter or the contents are dropped; references are decoded; white space is collapsed
/// and trimmed as a browser shows it.
std::vector<TextBlock> ReduceMarkup(std::u16string_view html);

/// The paragraphs of `html` joined by a space, images left out: a name or a title as plain text.
std::u16string PlainTextOf(std::u16string_view html);

/// True when `text` is only the caption of a link between chapters or to the contents
/// ("上一章", "【返回目录】").
bool IsNavigationText(std::u16string_view text);

/// `text` with every character that XML cannot hold dropped, and a lone surrogate (a byte no
/// encoding could read) made U+FFFD.
std::u16string XmlSafeText(std::u16string_view text);

} // namespace velunor::internal
