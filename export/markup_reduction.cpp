// Reducing a chapter's HTML to paragraphs and images.

#include "export/internal/markup_reduction.h"

#include "xml/xml_document.h"

#include <algorithm>
#include <array>

namespace velunor::internal {
namespace {

constexpr char16_t kNoBreakSpace = 0x00A0;
constexpr char16_t kIdeographicSpace = 0x3000;
constexpr char16_t kReplacementCharacter = 0xFFFD;

// Elements whose content is not text a reader sees, skipped up to their end tag unparsed.
constexpr std::array<std::u16string_view, 10> kRawTextElements = {
    u"script",   u"style",    u"textarea", u"title",   u"xmp",
    u"noscript", u"template", u"iframe",   u"noembed", u"noframes"};

// Elements dropped with everything inside them.
constexpr std::array<std::u16string_view, 6> kDroppedElements = {u"nav",    u"head",   u"select",
                                                                 u"button", u"object", u"svg"};

// Elements that stand on lines of their own: their start and end close a paragraph.
constexpr std::array<std::u16string_view, 36> kBlockElements = {
    u"p",       u"div",        u"br",     u"h1",     u"h2",    u"h3",    u"h4",      u"h5",
    u"h6",      u"li",         u"ul",     u"ol",     u"dl",    u"dt",    u"dd",      u"table",
    u"tr",      u"td",         u"th",     u"tbody",  u"thead", u"tfoot", u"caption", u"blockquote",
    u"section", u"article",    u"header", u"footer", u"pre",   u"hr",    u"center",  u"address",
    u"figure",  u"figcaption", u"main",   u"aside"};

// Elements that never have content, so that their start tag opens nothing to skip.
constexpr std::array<std::u16string_view, 12> kVoidElements = {
    u"br",  u"img",   u"input", u"hr",   u"meta",   u"link",
    u"col", u"embed", u"wbr",   u"area", u"source", u"param"};

// Captions of links between chapters or to the contents, in both forms of characters.
constexpr std::array<std::u16string_view, 34> kNavigationCaptions = {
    u"上一章",   u"下一章",   u"上一页",   u"下一页",   u"上一頁",   u"下一頁",   u"上一节",
    u"下一节",   u"上一節",   u"下一節",   u"目录",     u"目錄",     u"章节目录", u"章節目錄",
    u"返回目录", u"返回目錄", u"回目录",   u"回目錄",   u"返回书页", u"返回書頁", u"返回列表",
    u"返回首页", u"返回首頁", u"首页",     u"首頁",     u"加入书签", u"加入書籤", u"书签",
    u"書籤",     u"投推荐票", u"投推薦票", u"返回书架", u"返回書架", u"章节列表"};

template <size_t N>
bool IsOneOf(const std::array<std::u16string_view, N>& names, std::u16string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool IsAsciiSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

bool IsNameChar(char16_t c) {
    return IsAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u':' || c == u'_';
}

std::u16string Lowered(std::u16string_view text) {
    std::u16string lowered(text);
    for (char16_t& c : lowered) {
        c = Lower(c);
    }
    return lowered;
}

// True when `text` holds `part` at `at`, ASCII case ignored.
bool HasAt(std::u16string_view text, size_t at, std::u16string_view part) {
    if (text.size() - std::min(at, text.size()) < part.size()) {
        return false;
    }
    for (size_t i = 0; i < part.size(); ++i) {
        if (Lower(text[at + i]) != part[i]) {
            return false;
        }
    }
    return true;
}

// A character that XML 1.0 can hold, a lone surrogate aside (handled by the caller).
bool IsXmlChar(char16_t c) {
    if (c < 0x20) {
        return c == u'\t' || c == u'\n' || c == u'\r';
    }
    return c != 0xFFFE && c != 0xFFFF;
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

struct Attribute {
    std::u16string Name;  // lower case
    std::u16string Value; // references decoded
};

struct Tag {
    std::u16string Name; // lower case
    bool Closing = false;
    bool SelfClosing = false;
    std::vector<Attribute> Attributes;

    const std::u16string* Find(std::u16string_view name) const {
        for (const Attribute& attribute : Attributes) {
            if (attribute.Name == name) {
                return &attribute.Value;
            }
        }
        return nullptr;
    }
};

// Reads the attributes of a tag from `at` (just after its name) up to its ">", which `at` is
// left past. Quotes are honoured, so a ">" inside a value does not end the tag.
void ReadAttributes(std::u16string_view html, size_t& at, Tag& tag) {
    while (at < html.size()) {
        char16_t c = html[at];
        if (c == u'>') {
            ++at;
            return;
        }
        if (c == u'/' && at + 1 < html.size() && html[at + 1] == u'>') {
            tag.SelfClosing = true;
            at += 2;
            return;
        }
        if (IsAsciiSpace(c) || c == u'/' || c == u'"' || c == u'\'' || c == u'=') {
            ++at;
            continue;
        }
        size_t nameStart = at;
        while (at < html.size() && !IsAsciiSpace(html[at]) && html[at] != u'=' &&
               html[at] != u'>' && html[at] != u'/') {
            ++at;
        }
        Attribute attribute{Lowered(html.substr(nameStart, at - nameStart)), {}};
        while (at < html.size() && IsAsciiSpace(html[at])) {
            ++at;
        }
        if (at < html.size() && html[at] == u'=') {
            ++at;
            while (at < html.size() && IsAsciiSpace(html[at])) {
                ++at;
            }
            size_t valueStart = at;
            size_t valueEnd = at;
            if (at < html.size() && (html[at] == u'"' || html[at] == u'\'')) {
                char16_t quote = html[at];
                valueStart = at + 1;
                valueEnd = html.find(quote, valueStart);
                valueEnd = valueEnd == std::u16string_view::npos ? html.size() : valueEnd;
                at = std::min(valueEnd + 1, html.size());
            } else {
                while (at < html.size() && !IsAsciiSpace(html[at]) && html[at] != u'>') {
                    ++at;
                }
                valueEnd = at;
            }
            attribute.Value =
                CXmlDocument::DecodeEntities(html.substr(valueStart, valueEnd - valueStart));
        }
        tag.Attributes.push_back(std::move(attribute));
    }
}

// Reads the tag that the "<" at `at` opens and moves `at` past it; false, leaving `at`, when
// the "<" opens no tag (a "<" in the text, as a browser shows it).
bool ReadTag(std::u16string_view html, size_t& at, Tag& tag) {
    size_t nameStart = at + 1;
    bool closing = nameStart < html.size() && html[nameStart] == u'/';
    if (closing) {
        ++nameStart;
    }
    if (nameStart >= html.size() || !IsAsciiLetter(html[nameStart])) {
        return false;
    }
    size_t nameEnd = nameStart;
    while (nameEnd < html.size() && IsNameChar(html[nameEnd])) {
        ++nameEnd;
    }
    tag = Tag{Lowered(html.substr(nameStart, nameEnd - nameStart)), closing, false, {}};
    at = nameEnd;
    ReadAttributes(html, at, tag);
    return true;
}

// The words of a class or id value: runs of letters and digits, in lower case.
bool HasNavigationWord(std::u16string_view value) {
    std::u16string lowered = Lowered(value);
    size_t at = 0;
    while (at < lowered.size()) {
        while (at < lowered.size() && !IsNameChar(lowered[at])) {
            ++at;
        }
        size_t start = at;
        while (at < lowered.size() && IsAsciiLetter(lowered[at])) {
            ++at;
        }
        std::u16string_view word = std::u16string_view(lowered).substr(start, at - start);
        // "nav", "navbar", "navigation", "topnav", "chapternav".
        if (word.starts_with(u"nav") || word.ends_with(u"nav")) {
            return true;
        }
        while (at < lowered.size() && IsNameChar(lowered[at]) && !IsAsciiLetter(lowered[at])) {
            ++at;
        }
    }
    return false;
}

enum class Dropping {
    No,
    Hidden,     ///< not shown at all, so it breaks no line either
    Navigation, ///< shown by the site, but no part of the text
};

// Whether the element that `tag` opens is dropped with what it holds, and why.
Dropping DroppingOf(const Tag& tag) {
    if (tag.Find(u"hidden") != nullptr) {
        return Dropping::Hidden;
    }
    if (const std::u16string* style = tag.Find(u"style")) {
        std::u16string compact;
        for (char16_t c : Lowered(*style)) {
            if (!IsAsciiSpace(c)) {
                compact.push_back(c);
            }
        }
        if (compact.find(u"display:none") != std::u16string::npos ||
            compact.find(u"visibility:hidden") != std::u16string::npos) {
            return Dropping::Hidden;
        }
    }
    if (IsOneOf(kDroppedElements, tag.Name)) {
        return Dropping::Navigation;
    }
    for (std::u16string_view name : {u"class", u"id"}) {
        const std::u16string* value = tag.Find(name);
        if (value != nullptr && HasNavigationWord(*value)) {
            return Dropping::Navigation;
        }
    }
    return Dropping::No;
}

// Collects paragraphs from decoded text, collapsing white space as a browser does.
class ParagraphCollector {
  public:
    struct Mark {
        size_t Blocks = 0;
        size_t Length = 0;
    };

    void Text(std::u16string_view text) {
        for (size_t i = 0; i < text.size(); ++i) {
            char16_t c = text[i];
            if (IsAsciiSpace(c)) {
                ++spaceRun_;
                continue;
            }
            if (c == kNoBreakSpace || c == kIdeographicSpace) {
                ++indentRun_;
                indentChar_ = c;
                continue;
            }
            if (!IsXmlChar(c)) {
                continue;
            }
            if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
                Put(c);
                paragraph_.push_back(text[++i]);
                continue;
            }
            Put(IsHighSurrogate(c) || IsLowSurrogate(c) ? kReplacementCharacter : c);
        }
    }

    void Break() {
        if (!paragraph_.empty()) {
            blocks_.push_back({TextBlock::Kind::Paragraph, std::move(paragraph_)});
            paragraph_.clear();
        }
        spaceRun_ = 0;
        indentRun_ = 0;
    }

    void Image(std::u16string source) {
        Break();
        blocks_.push_back({TextBlock::Kind::Image, std::move(source)});
    }

    Mark Here() const {
        return {blocks_.size(), paragraph_.size()};
    }

    /// Drops the text added since `mark` when it is a navigation caption and no block ended
    /// since.
    void DropNavigationSince(const Mark& mark) {
        if (blocks_.size() != mark.Blocks || paragraph_.size() < mark.Length) {
            return;
        }
        std::u16string_view added = std::u16string_view(paragraph_).substr(mark.Length);
        if (!IsNavigationText(added)) {
            return;
        }
        // The space between the text and the link stays, for whatever text comes after it.
        bool spaced =
            !added.empty() && (added.front() == u' ' || added.front() == kIdeographicSpace);
        paragraph_.resize(mark.Length);
        if (spaced) {
            spaceRun_ = std::max(spaceRun_, 1);
        }
    }

    std::vector<TextBlock> Take() {
        Break();
        return std::move(blocks_);
    }

  private:
    void Put(char16_t c) {
        // Two or more no-break or ideographic spaces inside a line are the indent of a new
        // paragraph on a site that writes no line breaks.
        if (indentRun_ >= 2) {
            Break();
        } else if (spaceRun_ + indentRun_ > 0 && !paragraph_.empty()) {
            // A lone ideographic space is a character of the text ("第一章　归来"); any other
            // run of white space shows as one space.
            bool ideographic = spaceRun_ == 0 && indentChar_ == kIdeographicSpace;
            paragraph_.push_back(ideographic ? kIdeographicSpace : u' ');
        }
        spaceRun_ = 0;
        indentRun_ = 0;
        paragraph_.push_back(c);
    }

    std::vector<TextBlock> blocks_;
    std::u16string paragraph_;
    int spaceRun_ = 0;
    int indentRun_ = 0;
    char16_t indentChar_ = 0;
};

// Moves `at` past the end tag of the raw text element `name`, or to the end.
void SkipRawText(std::u16string_view html, size_t& at, std::u16string_view name) {
    while (true) {
        size_t open = html.find(u"</", at);
        if (open == std::u16string_view::npos) {
            at = html.size();
            return;
        }
        if (HasAt(html, open + 2, name) &&
            (open + 2 + name.size() >= html.size() || !IsNameChar(html[open + 2 + name.size()]))) {
            size_t close = html.find(u'>', open);
            at = close == std::u16string_view::npos ? html.size() : close + 1;
            return;
        }
        at = open + 2;
    }
}

// Moves `at` past the end tag that closes the element `name` whose start tag it follows,
// counting elements of the same name nested inside; to the end when it is never closed.
void SkipElement(std::u16string_view html, size_t& at, std::u16string_view name) {
    int depth = 1;
    while (at < html.size()) {
        size_t open = html.find(u'<', at);
        if (open == std::u16string_view::npos) {
            break;
        }
        at = open;
        Tag tag;
        if (HasAt(html, at, u"<!--")) {
            size_t end = html.find(u"-->", at + 4);
            at = end == std::u16string_view::npos ? html.size() : end + 3;
            continue;
        }
        if (!ReadTag(html, at, tag)) {
            ++at;
            continue;
        }
        if (tag.Name != name) {
            if (!tag.Closing && IsOneOf(kRawTextElements, tag.Name)) {
                SkipRawText(html, at, tag.Name);
            }
            continue;
        }
        if (tag.Closing) {
            --depth;
        } else if (!tag.SelfClosing) {
            ++depth;
        }
        if (depth == 0) {
            return;
        }
    }
    at = html.size();
}

// Moves `at` past a comment, a declaration or a processing instruction that starts there;
// false when none does.
bool SkipMarkupDeclaration(std::u16string_view html, size_t& at) {
    if (HasAt(html, at, u"<!--")) {
        size_t end = html.find(u"-->", at + 4);
        at = end == std::u16string_view::npos ? html.size() : end + 3;
        return true;
    }
    if (HasAt(html, at, u"<!") || HasAt(html, at, u"<?")) {
        size_t end = html.find(u'>', at);
        at = end == std::u16string_view::npos ? html.size() : end + 1;
        return true;
    }
    return false;
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

} // namespace

bool IsNavigationText(std::u16string_view text) {
    std::u16string_view caption = TrimmedCaption(text);
    return !caption.empty() && IsOneOf(kNavigationCaptions, caption);
}

std::vector<TextBlock> ReduceMarkup(std::u16string_view html) {
    ParagraphCollector collector;
    ParagraphCollector::Mark linkStart;
    size_t at = 0;
    while (at < html.size()) {
        size_t open = html.find(u'<', at);
        size_t textEnd = open == std::u16string_view::npos ? html.size() : open;
        if (textEnd > at) {
            collector.Text(CXmlDocument::DecodeEntities(html.substr(at, textEnd - at)));
        }
        at = textEnd;
        if (at >= html.size() || SkipMarkupDeclaration(html, at)) {
            continue;
        }
        Tag tag;
        if (!ReadTag(html, at, tag)) {
            collector.Text(u"<");
            ++at;
            continue;
        }
        if (tag.Closing) {
            if (tag.Name == u"a") {
                collector.DropNavigationSince(linkStart);
            } else if (IsOneOf(kBlockElements, tag.Name)) {
                collector.Break();
            }
            continue;
        }
        if (IsOneOf(kRawTextElements, tag.Name)) {
            if (!tag.SelfClosing) {
                SkipRawText(html, at, tag.Name);
            }
            continue;
        }
        Dropping dropping = DroppingOf(tag);
        if (dropping != Dropping::No) {
            // A navigation block the site shows stood on lines of its own.
            if (dropping == Dropping::Navigation &&
                (IsOneOf(kBlockElements, tag.Name) || tag.Name == u"nav")) {
                collector.Break();
            }
            if (!tag.SelfClosing && !IsOneOf(kVoidElements, tag.Name)) {
                SkipElement(html, at, tag.Name);
            }
            continue;
        }
        if (tag.Name == u"img") {
            const std::u16string* source = tag.Find(u"src");
            if (source != nullptr && !source->empty()) {
                collector.Image(*source);
            }
        } else if (tag.Name == u"a") {
            linkStart = collector.Here();
        } else if (IsOneOf(kBlockElements, tag.Name)) {
            collector.Break();
        }
    }
    return collector.Take();
}

std::u16string PlainTextOf(std::u16string_view html) {
    std::u16string text;
    for (const TextBlock& block : ReduceMarkup(html)) {
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
