// A chapter's text: the block with the most text of its own once links, navigation and site
// notices are left out, and the link to the chapter's next page.

#include "finder/finder.h"
#include "finder/internal/page_reading.h"

#include "core/core.h"

#include <algorithm>
#include <array>

namespace velunor::finder {
namespace {

using internal::WeighedPage;

// Elements whose text reads as part of the paragraph around them.
bool IsTextElement(const std::string& tag) {
    return tag == "p" || tag == "span" || tag == "font" || tag == "b" || tag == "strong" ||
           tag == "em" || tag == "i" || tag == "u" || tag == "small" || tag == "big";
}

// What a site writes into its pages beside the novel: addresses, calls to bookmark, the notice
// that a chapter goes on on the next page.
constexpr std::array<std::u16string_view, 16> kNoticeMarks = {
    u"本章未完", u"点击下一页", u"请记住本", u"本站网址", u"最新网址", u"最快更新",
    u"手机阅读", u"手机版",     u"加入书签", u"一秒记住", u"百度搜索", u"请收藏",
    u"www.",     u"http",       u".com",     u"章节错误"};

// The longest a notice line is; a longer paragraph is the novel's even when it names a mark.
constexpr size_t kLongestNotice = 80;

bool IsNotice(std::u16string_view text) {
    return text.size() <= kLongestNotice &&
           std::any_of(kNoticeMarks.begin(), kNoticeMarks.end(),
                       [&](std::u16string_view mark) { return text.find(mark) != text.npos; });
}

// A line that is only captions of links between chapters, written as plain text or as links
// ChapterBlocks kept: "上一章 | 目录 | 下一章".
bool IsNavigationLine(std::u16string_view text) {
    bool any = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of(u" |｜", at);
        std::u16string_view word = text.substr(at, end == text.npos ? text.npos : end - at);
        if (!html::TrimmedCaption(word).empty()) {
            if (!html::IsNavigationText(word)) {
                return false;
            }
            any = true;
        }
        at = end == text.npos ? text.size() : end + 1;
    }
    return any;
}

// The text an element holds outside links, counted where paragraphs of a chapter stand: its
// own text and that of its paragraph-like children.
size_t OwnText(const WeighedPage& page, size_t index) {
    const html::PageElement& element = page.Tree.Elements[index];
    size_t inChildren = 0;
    size_t paragraphs = 0;
    for (size_t child : element.Children) {
        inChildren += page.TextLength[child];
        if (IsTextElement(page.Tree.Elements[child].Tag)) {
            paragraphs += page.TextLength[child] - page.LinkTextLength[child];
        }
    }
    return page.TextLength[index] - inChildren + paragraphs;
}

size_t TextBlock(const WeighedPage& page) {
    size_t best = html::kNoElement;
    size_t bestText = 0;
    for (size_t i = 0; i < page.Tree.Elements.size(); ++i) {
        const html::PageElement& element = page.Tree.Elements[i];
        if (!element.Visible || element.Tag == "a" || element.Inner.Length == 0) {
            continue;
        }
        size_t text = OwnText(page, i);
        if (text > bestText) {
            best = i;
            bestText = text;
        }
    }
    return best;
}

// True when the block's text stands in paragraph elements rather than in the block itself
// (text with line breaks).
bool HoldsParagraphs(const WeighedPage& page, size_t block) {
    size_t inParagraphs = 0;
    size_t inChildren = 0;
    for (size_t child : page.Tree.Elements[block].Children) {
        inChildren += page.TextLength[child];
        if (IsTextElement(page.Tree.Elements[child].Tag)) {
            inParagraphs += page.TextLength[child];
        }
    }
    return inParagraphs > page.TextLength[block] - inChildren;
}

// A child of the text block that belongs to the site: a heading (the chapter's name), a run
// of links, a box holding a notice, or, among paragraphs, any box with text of its own (the
// site's bars and footer beside paragraphs written straight into the page's body).
bool IsSitePart(const WeighedPage& page, size_t index, bool amongParagraphs) {
    const html::PageElement& element = page.Tree.Elements[index];
    const std::string& tag = element.Tag;
    if (tag.size() == 2 && tag[0] == 'h' && tag[1] >= '1' && tag[1] <= '6') {
        return true;
    }
    size_t text = page.TextLength[index];
    if (text > 0 && page.LinkTextLength[index] * 2 >= text) {
        return true;
    }
    if (IsTextElement(tag) || !element.Block || tag == "br") {
        return false;
    }
    return (amongParagraphs && text > 0) || IsNotice(page.Tree.TextOf(index));
}

// The children of the text block that belong to the site.
std::vector<size_t> SiteParts(const WeighedPage& page, size_t block) {
    bool amongParagraphs = HoldsParagraphs(page, block);
    std::vector<size_t> parts;
    for (size_t child : page.Tree.Elements[block].Children) {
        if (IsSitePart(page, child, amongParagraphs)) {
            parts.push_back(child);
        }
    }
    return parts;
}

// The paragraphs and images of the text block, without the site's notices and navigation,
// images at absolute addresses.
std::vector<html::ChapterBlock> ChapterTextBlocks(std::vector<html::ChapterBlock> read,
                                                  std::u16string_view url) {
    std::vector<html::ChapterBlock> blocks;
    for (html::ChapterBlock& block : read) {
        if (block.BlockKind == html::ChapterBlock::Kind::Image) {
            CompleteUrl(url, block.Text);
            if (!block.Text.empty()) {
                blocks.push_back(std::move(block));
            }
        } else if (!IsNotice(block.Text) && !IsNavigationLine(block.Text)) {
            blocks.push_back(std::move(block));
        }
    }
    return blocks;
}

// The link to the chapter's next page; kNoElement on its last page.
size_t NextChapterPage(const WeighedPage& page, std::u16string_view url,
                       const ChapterTextBounds& bounds) {
    std::u16string_view first = bounds.FirstPageUrl.empty() ? url : bounds.FirstPageUrl;
    for (size_t i = 0; i < page.Tree.Elements.size(); ++i) {
        const std::u16string& address = page.LinkAddress[i];
        if (address.empty() || address == bounds.NextChapterUrl || address == bounds.ContentsUrl ||
            !internal::IsNextPageCaption(page.Tree.TextOf(i))) {
            continue;
        }
        if (address != url && internal::IsOwnFurtherPage(first, address)) {
            return i;
        }
    }
    return html::kNoElement;
}

} // namespace

FoundChapterText FindChapterText(std::u16string_view page, std::u16string_view url,
                                 const ChapterTextBounds& bounds) {
    // The page is read once: the text block is chosen on its weighed tree, and its paragraphs
    // read from the same parse.
    WeighedPage weighed;
    size_t block = html::kNoElement;
    auto choose = [&](html::PageTree& tree) {
        weighed = internal::WeighTree(std::move(tree), url);
        html::ChapterTextChoice choice;
        block = TextBlock(weighed);
        choice.Element = block;
        if (choice.Element != html::kNoElement) {
            choice.LeftOut = SiteParts(weighed, choice.Element);
        }
        return choice;
    };
    FoundChapterText found;
    found.Blocks = ChapterTextBlocks(html::ChosenChapterBlocks(page, choose), url);
    size_t length = 0;
    bool images = false;
    for (const html::ChapterBlock& part : found.Blocks) {
        images = images || part.BlockKind == html::ChapterBlock::Kind::Image;
        length += part.BlockKind == html::ChapterBlock::Kind::Paragraph ? part.Text.size() : 0;
    }
    if (length < kMinTextLength && !images) {
        found = {};
        found.Refusal = kNoChapterTextReason;
        return found;
    }
    found.TextElement = block;
    found.NextPageElement = NextChapterPage(weighed, url, bounds);
    if (found.NextPageElement != html::kNoElement) {
        found.NextPageUrl = weighed.LinkAddress[found.NextPageElement];
    }
    size_t pageText = std::max<size_t>(weighed.TextLength.empty() ? 0 : weighed.TextLength[0], 1);
    found.Confidence =
        std::min(1.0, 2.0 * static_cast<double>(length) / static_cast<double>(pageText));
    return found;
}

} // namespace velunor::finder
