// Plain text books.

#include "export/internal/txt_book.h"

#include "core/core.h"

namespace velunor::internal {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

void AppendParagraph(std::u16string& text, std::u16string_view paragraph) {
    text += u'\n';
    text += paragraph;
    text += u'\n';
}

} // namespace

std::u16string TxtText(const ExportedBook& book) {
    std::u16string text = book.Title + u"\n";
    if (!book.Author.empty()) {
        text += book.AuthorCaption + book.Author + u"\n";
    }
    for (const TextBlock& block : book.Intro) {
        AppendParagraph(text, block.Text);
    }
    // A volume heading stands on its own between the chapters, set apart by more blank lines
    // than a chapter title.
    auto heading = [&](size_t k) {
        text += u"\n\n\n";
        text += book.Volumes[k].Name;
        text += u'\n';
    };
    auto chapter = [&](size_t i) {
        const ExportedChapter& listed = book.Chapters[i];
        text += u"\n\n";
        text += listed.Name;
        text += u'\n';
        for (const TextBlock& block : listed.Blocks) {
            if (block.BlockKind == TextBlock::Kind::Paragraph) {
                AppendParagraph(text, block.Text);
            }
        }
    };
    ForEachContentsEntry(book.Volumes, book.Chapters.size(), heading, chapter);
    return text;
}

bool EncodeTxt(std::u16string_view text, TextEncoding encoding, std::string& bytes) {
    if (encoding == TextEncoding::Gb18030) {
        return EncodeCharset(text, "GB18030", bytes);
    }
    bytes = std::string(kUtf8ByteOrderMark) + WideToUtf8(text);
    return true;
}

} // namespace velunor::internal
