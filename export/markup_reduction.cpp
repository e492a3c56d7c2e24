// Reducing a chapter's HTML to paragraphs and images.

#include "export/internal/markup_reduction.h"

#include "core/core.h"

namespace velunor::internal {
namespace {

constexpr char16_t kReplacementCharacter = 0xFFFD;

// A character that XML 1.0 can hold, a lone surrogate aside (handled by the caller).
bool IsXmlChar(char16_t c) {
    if (c < 0x20) {
        return c == u'\t' || c == u'\n' || c == u'\r';
    }
    return c != 0xFFFE && c != 0xFFFF;
}

} // namespace

std::vector<TextBlock> ReduceMarkup(std::u16string_view markup) {
    std::vector<TextBlock> blocks = html::ChapterBlocks(markup);
    // An image address is an attribute value, which may hold what no XML file can.
    for (TextBlock& block : blocks) {
        block.Text = XmlSafeText(block.Text);
    }
    std::erase_if(blocks, [](const TextBlock& block) { return block.Text.empty(); });
    return blocks;
}

std::u16string PlainTextOf(std::u16string_view markup) {
    std::u16string text;
    for (const TextBlock& block : ReduceMarkup(markup)) {
        if (block.BlockKind != TextBlock::Kind::Paragraph) {
            continue;
        }
        if (!text.empty()) {
            text += u' ';
        }
        text += block.Text;
    }
    return text;
}

std::u16string XmlSafeText(std::u16string_view text) {
    std::u16string safe;
    safe.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            safe.push_back(c);
            safe.push_back(text[++i]);
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            safe.push_back(kReplacementCharacter);
        } else if (IsXmlChar(c)) {
            safe.push_back(c);
        }
    }
    return safe;
}

} // namespace velunor::internal
