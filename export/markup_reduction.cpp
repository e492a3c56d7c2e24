// Reducing a chapter's HTML to paragraphs and images.

#include "export/internal/markup_reduction.h"

#include "core/core.h"

namespace velunor::internal {

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

} // namespace velunor::internal
