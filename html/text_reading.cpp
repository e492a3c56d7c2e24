// The text a reader sees of a page, and the paragraphs and images of a chapter text.

#include "core/core.h"
#include "html/html.h"
#include "html/internal/parsed_html.h"

#include <algorithm>
#include <array>
#include <unordered_set>

namespace velunor::html {
namespace {

using internal::ParsedHtml;

constexpr char16_t kNoBreakSpace = 0x00A0;
constexpr char16_t kIdeographicSpace = 0x3000;

// Captions of links between chapters or to the contents, in both forms of characters.
constexpr std::array<std::u16string_view, 34> kNavigationCaptions = {
    u"上一章",   u"下一章",   u"上一页",   u"下一页",   u"上一頁",   u"下一頁",   u"上一节",
    u"下一节",   u"上一節",   u"下一節",   u"目录",     u"目錄",     u"章节目录", u"章節目錄",
    u"返回目录", u"返回目錄", u"回目录",   u"回目錄",   u"返回书页", u"返回書頁", u"返回列表",
    u"返回首页", u"返回首頁", u"首页",     u"首頁",     u"加入书签", u"加入書籤", u"书签",
    u"書籤",     u"投推荐票", u"投推薦票", u"返回书架", u"返回書架", u"章节列表"};

// Control characters, written as references ("&#1;"), show as nothing.
bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Collects lines from decoded text, collapsing white space as a browser does.
class LineCollector {
  public:
    struct Mark {
        size_t Blocks = 0;
        size_t Length = 0;
    };

    void Text(std::u16string_view text) {
        for (char16_t c : text) {
            if (IsAsciiSpace(c)) {
                ++spaceRun_;
            } else if (c == kNoBreakSpace || c == kIdeographicSpace) {
                ++indentRun_;
                indentChar_ = c;
            } else if (!IsControl(c)) {
                Put(c);
            }
        }
    }

    void Break() {
        if (!line_.empty()) {
            blocks_.push_back({ChapterBlock::Kind::Paragraph, std::move(line_)});
            line_.clear();
        }
        spaceRun_ = 0;
        indentRun_ = 0;
    }

    void Image(std::u16string source) {
        Break();
        blocks_.push_back({ChapterBlock::Kind::Image, std::move(source)});
    }

    Mark Here() const {
        return {blocks_.size(), line_.size()};
    }

    /// Drops the text added since `mark` when it is a navigation caption and no block ended
    /// since.
    void DropNavigationSince(const Mark& mark) {
        if (blocks_.size() != mark.Blocks || line_.size() < mark.Length) {
            return;
        }
        std::u16string_view added = std::u16string_view(line_).substr(mark.Length);
        if (!IsNavigationText(added)) {
            return;
        }
        // The space between the text and the link stays, for whatever text comes after it.
        bool spaced =
            !added.empty() && (added.front() == u' ' || added.front() == kIdeographicSpace);
        line_.resize(mark.Length);
        if (spaced) {
            spaceRun_ = std::max(spaceRun_, 1);
        }
    }

    std::vector<ChapterBlock> Take() {
        Break();
        return std::move(blocks_);
    }

  private:
    void Put(char16_t c) {
        // Two or more no-break or ideographic spaces inside a line are the indent of a new
        // paragraph on a site that writes no line breaks.
        if (indentRun_ >= 2) {
            Break();
        } else if (spaceRun_ + indentRun_ > 0 && !line_.empty()) {
            // A lone ideographic space is a character of the text ("第一章　归来"); any other
            // run of white space shows as one space.
            bool ideographic = spaceRun_ == 0 && indentChar_ == kIdeographicSpace;
            line_.push_back(ideographic ? kIdeographicSpace : u' ');
        }
        spaceRun_ = 0;
        indentRun_ = 0;
        line_.push_back(c);
    }

    std::vector<ChapterBlock> blocks_;
    std::u16string line_;
    int spaceRun_ = 0;
    int indentRun_ = 0;
    char16_t indentChar_ = 0;
};

// True when a word of a class or id value (a run of letters) starts or ends with "nav":
// "nav", "navbar", "navigation", "topnav", "bottom-nav"; not "unavailable" or "canvas".
bool HasNavigationWord(std::string_view value) {
    size_t at = 0;
    while (at < value.size()) {
        while (at < value.size() && !IsAsciiLetter(value[at])) {
            ++at;
        }
        std::string word;
        while (at < value.size() && IsAsciiLetter(value[at])) {
            word.push_back(static_cast<char>(value[at] | 0x20));
            ++at;
        }
        if (word.starts_with("nav") || word.ends_with("nav")) {
            return true;
        }
    }
    return false;
}

// Elements that belong to the site rather than to the novel.
bool IsSiteElement(const GumboElement& element) {
    switch (element.tag) {
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_BUTTON:
    case GUMBO_TAG_TEXTAREA:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_SVG:
        return true;
    default:
        break;
    }
    for (const char* name : {"class", "id"}) {
        const GumboAttribute* attribute = internal::FindAttribute(element, name);
        if (attribute != nullptr && HasNavigationWord(attribute->value)) {
            return true;
        }
    }
    return false;
}

std::u16string TrimmedAsciiSpaces(std::u16string text) {
    size_t start = 0;
    while (start < text.size() && IsAsciiSpace(text[start])) {
        ++start;
    }
    size_t end = text.size();
    while (end > start && IsAsciiSpace(text[end - 1])) {
        --end;
    }
    return text.substr(start, end - start);
}

// The value of `element`'s attribute `name` without the spaces around it; empty when it has
// none.
std::u16string TrimmedAttribute(const GumboElement& element, const char* name) {
    const GumboAttribute* attribute = internal::FindAttribute(element, name);
    return attribute == nullptr ? u"" : TrimmedAsciiSpaces(internal::Wide(attribute->value));
}

// The address an image is fetched from: the real one a lazy-loading tag keeps (see
// ImageSources), else its src; empty when it has none.
std::u16string FetchedImageAddress(const GumboElement& image) {
    for (const char* name : internal::kLazyAddressAttributes) {
        std::u16string address = TrimmedAttribute(image, name);
        if (!address.empty() && !AsciiLowered(address.substr(0, 5)).starts_with(u"data:")) {
            return address;
        }
    }
    return TrimmedAttribute(image, "src");
}

// What a reading of chapter blocks takes from the page: the content of `Root` (the document,
// or an element whose own tag and class are not weighed) without the `LeftOut` elements, with
// images named by their src or by the address they are fetched from.
struct BlockReading {
    const GumboNode* Root = nullptr;
    std::unordered_set<const GumboNode*> LeftOut;
    bool FetchedAddresses = false;
};

// The lines of what a reader sees of `reading.Root`; for a chapter text also its images,
// without what belongs to the site.
std::vector<ChapterBlock> ReadBlocks(const BlockReading& reading, bool chapter) {
    LineCollector lines;
    LineCollector::Mark linkStart;
    internal::TreeVisitor visitor;
    visitor.enter = [&](const GumboNode& node) {
        const GumboElement& element = node.v.element;
        if (!internal::IsVisible(element)) {
            return false;
        }
        bool block = internal::IsBlock(element);
        if (block) {
            lines.Break();
        }
        if (!chapter || &node == reading.Root) {
            return true;
        }
        if (IsSiteElement(element) || reading.LeftOut.count(&node) > 0) {
            return false;
        }
        if (element.tag == GUMBO_TAG_IMG) {
            std::u16string address = reading.FetchedAddresses ? FetchedImageAddress(element)
                                                              : TrimmedAttribute(element, "src");
            if (!address.empty()) {
                lines.Image(std::move(address));
            }
        } else if (element.tag == GUMBO_TAG_A) {
            linkStart = lines.Here();
        }
        return true;
    };
    visitor.leave = [&](const GumboNode& node) {
        const GumboElement& element = node.v.element;
        if (internal::IsBlock(element)) {
            lines.Break();
        } else if (chapter && element.tag == GUMBO_TAG_A) {
            lines.DropNavigationSince(linkStart);
        }
    };
    visitor.text = [&](const GumboNode& node) { lines.Text(internal::Wide(node.v.text.text)); };
    internal::VisitTree(reading.Root, visitor);
    return lines.Take();
}

std::u16string JoinedLines(const std::vector<ChapterBlock>& blocks, char16_t separator) {
    std::u16string text;
    for (const ChapterBlock& block : blocks) {
        if (!text.empty()) {
            text += separator;
        }
        text += block.Text;
    }
    return text;
}

} // namespace

std::u16string VisibleText(std::u16string_view page) {
    ParsedHtml parsed(page);
    return JoinedLines(ReadBlocks({parsed.Document(), {}, false}, false), u'\n');
}

std::u16string PageTitle(std::u16string_view page) {
    ParsedHtml parsed(page);
    LineCollector title;
    bool found = false;
    internal::TreeVisitor visitor;
    visitor.enter = [&](const GumboNode& node) {
        const GumboElement& element = node.v.element;
        if (found || element.tag != GUMBO_TAG_TITLE ||
            element.tag_namespace != GUMBO_NAMESPACE_HTML) {
            return !found;
        }
        found = true;
        for (unsigned i = 0; i < element.children.length; ++i) {
            const GumboNode* child = static_cast<const GumboNode*>(element.children.data[i]);
            if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE) {
                title.Text(internal::Wide(child->v.text.text));
            }
        }
        return false;
    };
    internal::VisitTree(parsed.Document(), visitor);
    return JoinedLines(title.Take(), u' ');
}

std::vector<ChapterBlock> ChapterBlocks(std::u16string_view text) {
    ParsedHtml parsed(text);
    return ReadBlocks({parsed.Document(), {}, false}, true);
}

std::vector<ChapterBlock> FetchedChapterBlocks(std::u16string_view text) {
    ParsedHtml parsed(text);
    return ReadBlocks({parsed.Document(), {}, true}, true);
}

std::vector<ChapterBlock>
ChosenChapterBlocks(std::u16string_view page,
                    const std::function<ChapterTextChoice(PageTree&)>& choose) {
    ParsedHtml parsed(page);
    std::vector<const GumboNode*> nodes;
    PageTree tree = internal::ReadTree(parsed, nodes);
    ChapterTextChoice choice = choose(tree);
    if (choice.Element >= nodes.size()) {
        return {};
    }
    BlockReading reading{nodes[choice.Element], {}, true};
    for (size_t index : choice.LeftOut) {
        if (index < nodes.size()) {
            reading.LeftOut.insert(nodes[index]);
        }
    }
    return ReadBlocks(reading, true);
}

std::u16string_view TrimmedCaption(std::u16string_view text) {
    constexpr std::u16string_view kDecoration =
        u" \t\r\n\u00A0\u3000[]【】《》〈〉<>«»←→()（）|｜:：-—·>";
    size_t start = text.find_first_not_of(kDecoration);
    if (start == std::u16string_view::npos) {
        return {};
    }
    size_t end = text.find_last_not_of(kDecoration);
    return text.substr(start, end - start + 1);
}

bool IsNavigationText(std::u16string_view text) {
    std::u16string_view caption = TrimmedCaption(text);
    return !caption.empty() && std::find(kNavigationCaptions.begin(), kNavigationCaptions.end(),
                                         caption) != kNavigationCaptions.end();
}

} // namespace velunor::html
