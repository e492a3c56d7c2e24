// Patterns made from a page's own markup, for drafted rules. Rules match pages as GB18030 bytes,
// so what is literal here must stay literal byte by byte: a Chinese character whose second byte
// is "|", "[" or "\" would otherwise split a pattern list or open a class.

#include "finder/internal/draft_patterns.h"
#include "finder/rule_draft.h"

#include "core/core.h"
#include "rules/rules.h"

namespace velunor::finder {

namespace {

constexpr std::u16string_view kMetacharacters = u"\\^$.|?*+()[]{}";

bool IsMetacharacter(char16_t c) {
    return kMetacharacters.find(c) != std::u16string_view::npos;
}

// True when the GB18030 bytes of `character` hold an ASCII metacharacter.
bool HasMetacharacterByte(std::u16string_view character, size_t& bytes) {
    std::string encoded = EncodeInCharset(u"GB18030", character);
    bytes = encoded.size();
    for (char byte : encoded) {
        if (IsMetacharacter(static_cast<char16_t>(static_cast<unsigned char>(byte)))) {
            return true;
        }
    }
    return false;
}

void AppendAscii(char16_t c, std::u16string& pattern) {
    if (c == u'|') {
        pattern += u"\\x7C";
    } else if (IsMetacharacter(c)) {
        pattern += u'\\';
        pattern += c;
    } else {
        pattern += c;
    }
}

} // namespace

std::u16string LiteralPattern(std::u16string_view text) {
    std::u16string pattern;
    size_t i = 0;
    while (i < text.size()) {
        char16_t c = text[i];
        if (IsAsciiSpace(c)) {
            while (i < text.size() && IsAsciiSpace(text[i])) {
                ++i;
            }
            pattern += u"\\s*";
            continue;
        }
        if (c < 0x80) {
            AppendAscii(c, pattern);
            ++i;
            continue;
        }
        size_t length = IsHighSurrogate(c) && i + 1 < text.size() ? 2 : 1;
        std::u16string_view character = text.substr(i, length);
        size_t bytes = 1;
        // A byte the page could not decode stands for itself; its character has no encoding.
        bool undecoded = c >= 0xDC80 && c <= 0xDCFF;
        if (undecoded || HasMetacharacterByte(character, bytes)) {
            pattern.append(undecoded ? 1 : bytes, u'.');
        } else {
            pattern += character;
        }
        i += length;
    }
    return pattern;
}

namespace internal {
namespace {

struct TagAttribute {
    std::u16string_view Name;
    // The quote around the value as written; 0 for an unquoted value.
    char16_t Quote = 0;
    std::u16string_view Value;
};

bool NameIs(std::u16string_view name, std::string_view wanted) {
    if (name.size() != wanted.size()) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        if (AsciiLower(name[i]) != static_cast<char16_t>(wanted[i])) {
            return false;
        }
    }
    return true;
}

std::u16string_view TagName(std::u16string_view tag) {
    size_t end = tag.find_first_of(u" \t\n\f\r/>", 1);
    return tag.substr(1, end == tag.npos ? tag.npos : end - 1);
}

// The attributes of start tag `tag` as written, in order.
std::vector<TagAttribute> TagAttributes(std::u16string_view tag) {
    std::vector<TagAttribute> attributes;
    size_t at = 1 + TagName(tag).size();
    auto skipSpace = [&] {
        while (at < tag.size() && (IsAsciiSpace(tag[at]) || tag[at] == u'/')) {
            ++at;
        }
    };
    while (true) {
        skipSpace();
        if (at >= tag.size() || tag[at] == u'>') {
            return attributes;
        }
        size_t nameEnd = tag.find_first_of(u" \t\n\f\r/>=", at + 1);
        nameEnd = nameEnd == tag.npos ? tag.size() : nameEnd;
        TagAttribute attribute{tag.substr(at, nameEnd - at), 0, {}};
        at = nameEnd;
        if (at < tag.size() && tag[at] == u'=') {
            ++at;
            if (at < tag.size() && (tag[at] == u'"' || tag[at] == u'\'')) {
                attribute.Quote = tag[at];
                size_t close = tag.find(attribute.Quote, at + 1);
                close = close == tag.npos ? tag.size() : close;
                attribute.Value = tag.substr(at + 1, close - at - 1);
                at = close + 1;
            } else {
                size_t end = tag.find_first_of(u" \t\n\f\r>", at);
                end = end == tag.npos ? tag.size() : end;
                attribute.Value = tag.substr(at, end - at);
                at = end;
            }
        }
        attributes.push_back(attribute);
    }
}

std::u16string AttributePattern(const TagAttribute& attribute, bool captured) {
    std::u16string pattern = u"[^>]*?\\s" + LiteralPattern(attribute.Name) + u"=";
    if (attribute.Quote == 0) {
        return pattern + (captured ? u"([^\\s>]+)" : LiteralPattern(attribute.Value));
    }
    std::u16string quote(1, attribute.Quote);
    std::u16string value = captured ? u"([^" + quote + u"]+)" : LiteralPattern(attribute.Value);
    return pattern + quote + value + quote;
}

// Where the markup from `start` on holds `tags` tags: the end of the last of them.
size_t AfterTags(std::u16string_view text, size_t start, size_t tags) {
    size_t at = start;
    for (size_t k = 0; k < tags; ++k) {
        size_t open = text.find(u'<', at);
        size_t close = open == text.npos ? text.npos : text.find(u'>', open);
        if (close == text.npos) {
            return at;
        }
        at = close + 1;
    }
    return at;
}

// The longest the markup between an anchoring ancestor and the element may be.
constexpr size_t kLongestLeadIn = 300;

// Start patterns for element `index`, most anchored first: its own id or class, an ancestor's id
// or class and the markup from there to it, its start tag as written.
std::vector<std::u16string> HeadPatterns(const TreePage& page, size_t index) {
    std::u16string_view tag = StartTag(page, index);
    std::vector<std::u16string> heads;
    if (tag.empty()) {
        return heads;
    }
    for (std::string_view name : {"id", "class"}) {
        if (HasAttribute(tag, name)) {
            heads.push_back(TagPattern(tag, {}, {name}));
        }
    }
    const auto& elements = page.Tree.Elements;
    size_t start = elements[index].Source.Start;
    for (size_t a = elements[index].Parent; a != html::kNoElement; a = elements[a].Parent) {
        std::u16string_view ancestor = StartTag(page, a);
        size_t leadIn = elements[a].Inner.Start;
        if (ancestor.empty() || start < leadIn || start - leadIn > kLongestLeadIn) {
            continue;
        }
        for (std::string_view name : {"id", "class"}) {
            if (HasAttribute(ancestor, name)) {
                heads.push_back(TagPattern(ancestor, {}, {name}) +
                                MarkupPattern(page.Text.substr(leadIn, start - leadIn)) +
                                LiteralPattern(tag));
                break;
            }
        }
        if (heads.size() > 2) {
            break;
        }
    }
    heads.push_back(LiteralPattern(tag));
    return heads;
}

// End patterns for element `index`: its end tag, then with more and more of the markup after it.
std::vector<std::u16string> TailPatterns(const TreePage& page, size_t index) {
    const html::PageElement& element = page.Tree.Elements[index];
    std::u16string end = LiteralPattern(EndTag(page, index));
    size_t after = element.Source.Start + element.Source.Length;
    std::vector<std::u16string> tails;
    for (size_t tags = end.empty() ? 1 : 0; tags <= 3; ++tags) {
        tails.push_back(end + MarkupPattern(page.Text.substr(
                                  after, AfterTags(page.Text, after, tags) - after)));
    }
    return tails;
}

bool CutsOutEach(const std::u16string& pattern, const std::vector<RegionSample>& samples) {
    for (const RegionSample& sample : samples) {
        const html::SourceSpan& inner = sample.Page->Tree.Elements[sample.Element].Inner;
        std::u16string_view wanted = sample.Page->Text.substr(inner.Start, inner.Length);
        if (wanted.empty() || ExtractField(pattern, sample.Page->Text) != wanted) {
            return false;
        }
    }
    return true;
}

} // namespace

TreePage ReadTreePage(std::u16string_view url, std::u16string_view text) {
    return TreePage{url, text, html::ReadPageTree(text)};
}

std::u16string_view StartTag(const TreePage& page, size_t index) {
    const html::PageElement& element = page.Tree.Elements[index];
    if (element.Source.Length == 0 || element.Inner.Start <= element.Source.Start ||
        page.Text[element.Source.Start] != u'<') {
        return {};
    }
    return page.Text.substr(element.Source.Start, element.Inner.Start - element.Source.Start);
}

std::u16string_view EndTag(const TreePage& page, size_t index) {
    const html::PageElement& element = page.Tree.Elements[index];
    size_t innerEnd = element.Inner.Start + element.Inner.Length;
    size_t end = element.Source.Start + element.Source.Length;
    if (StartTag(page, index).empty() || end <= innerEnd || page.Text[innerEnd] != u'<') {
        return {};
    }
    return page.Text.substr(innerEnd, end - innerEnd);
}

std::u16string TagPattern(std::u16string_view tag, std::string_view captured,
                          std::initializer_list<std::string_view> kept) {
    std::u16string pattern = u"<" + LiteralPattern(TagName(tag));
    for (const TagAttribute& attribute : TagAttributes(tag)) {
        bool capture = !captured.empty() && NameIs(attribute.Name, captured);
        bool keep = false;
        for (std::string_view name : kept) {
            keep = keep || NameIs(attribute.Name, name);
        }
        if (capture || keep) {
            pattern += AttributePattern(attribute, capture);
        }
    }
    return pattern + u"[^>]*>";
}

bool HasAttribute(std::u16string_view tag, std::string_view name) {
    for (const TagAttribute& attribute : TagAttributes(tag)) {
        if (NameIs(attribute.Name, name)) {
            return !TrimSearchText(attribute.Value).empty();
        }
    }
    return false;
}

std::u16string MarkupPattern(std::u16string_view markup) {
    std::u16string pattern;
    size_t at = 0;
    while (at < markup.size()) {
        size_t open = markup.find(u'<', at);
        std::u16string_view text = markup.substr(at, open == markup.npos ? markup.npos : open - at);
        if (!text.empty()) {
            bool blank = TrimSearchText(text).empty();
            pattern += blank ? u"\\s*" : u"[^<]*";
        }
        if (open == markup.npos) {
            break;
        }
        size_t close = markup.find(u'>', open);
        close = close == markup.npos ? markup.size() : close + 1;
        pattern += LiteralPattern(markup.substr(open, close - open));
        at = close;
    }
    return pattern;
}

std::u16string RegionPattern(const std::vector<RegionSample>& samples) {
    if (samples.empty()) {
        return {};
    }
    const RegionSample& first = samples.front();
    for (const std::u16string& head : HeadPatterns(*first.Page, first.Element)) {
        for (const std::u16string& tail : TailPatterns(*first.Page, first.Element)) {
            std::u16string pattern = head + u"(.*?)" + tail;
            if (CutsOutEach(pattern, samples)) {
                return pattern;
            }
        }
    }
    return {};
}

bool Within(const html::PageTree& tree, size_t index, size_t ancestor) {
    for (size_t at = tree.Elements[index].Parent; at != html::kNoElement;
         at = tree.Elements[at].Parent) {
        if (at == ancestor) {
            return true;
        }
    }
    return false;
}

} // namespace internal
} // namespace velunor::finder
