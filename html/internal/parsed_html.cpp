// Parsing with gumbo, and the walk over its tree.

#include "html/internal/parsed_html.h"

#include "core/core.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace velunor::html::internal {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Control characters other than white space, and noncharacters: gumbo would turn them into
// U+FFFD, but no page means them as text and a reader sees nothing of them, so they are left out.
bool IsLeftOut(char32_t c) {
    bool space = c == u'\t' || c == u'\n' || c == u'\f' || c == u'\r';
    bool control = (c < 0x20 && !space) || (c >= 0x7F && c <= 0x9F);
    return control || (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

// The code point that starts at `at`, and how many units it takes.
std::pair<char32_t, size_t> CodePointAt(std::u16string_view text, size_t at) {
    char16_t unit = text[at];
    if (IsHighSurrogate(unit) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
        char32_t c =
            0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[at + 1]) - 0xDC00);
        return {c, 2};
    }
    if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
        return {kReplacementCharacter, 1};
    }
    return {unit, 1};
}

bool IsTagNamed(const GumboElement& element, std::initializer_list<GumboTag> tags) {
    return std::find(tags.begin(), tags.end(), element.tag) != tags.end();
}

// The style value with ASCII letters lowered and white space left out.
std::string CompactStyle(const char* style) {
    std::string compact;
    for (const char* c = style; *c != '\0'; ++c) {
        if (*c == ' ' || *c == '\t' || *c == '\n' || *c == '\r' || *c == '\f') {
            continue;
        }
        compact.push_back(*c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c);
    }
    return compact;
}

} // namespace

ParsedHtml::ParsedHtml(std::u16string_view text, std::string_view ending) {
    bytes_.reserve(text.size() * 3 + ending.size());
    offsets_.reserve(bytes_.capacity() + 1);
    size_t at = 0;
    while (at < text.size()) {
        auto [c, units] = CodePointAt(text, at);
        if (!IsLeftOut(c)) {
            AppendUtf8(c, bytes_);
            offsets_.resize(bytes_.size(), static_cast<std::uint32_t>(at));
        }
        at += units;
    }
    textBytes_ = bytes_.size();
    bytes_ += ending;
    offsets_.resize(bytes_.size() + 1, static_cast<std::uint32_t>(text.size()));
    // Gumbo keeps a copy of the open elements with every parse error it records, which on a page
    // of thousands of unclosed elements takes gigabytes; nothing here reads the errors.
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    output_.reset(gumbo_parse_with_options(&options, bytes_.data(), bytes_.size()));
}

void ParsedHtml::OutputDeleter::operator()(GumboOutput* output) const {
    gumbo_destroy_output(&kGumboDefaultOptions, output);
}

const GumboNode* ParsedHtml::Document() const {
    return output_->document;
}

size_t ParsedHtml::TextOffset(size_t offset) const {
    return offsets_[std::min(offset, offsets_.size() - 1)];
}

size_t ParsedHtml::TextOffset(const char* at) const {
    return TextOffset(static_cast<size_t>(at - bytes_.data()));
}

size_t ParsedHtml::TextBytes() const {
    return textBytes_;
}

const GumboElement* ElementOf(const GumboNode* node) {
    if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
        return &node->v.element;
    }
    return nullptr;
}

const GumboAttribute* FindAttribute(const GumboElement& element, const char* name) {
    return gumbo_get_attribute(&element.attributes, name);
}

std::u16string Wide(const char* text) {
    return Utf8ToWide(std::string_view(text, std::strlen(text)));
}

void VisitTree(const GumboNode* root, const TreeVisitor& visitor) {
    struct Level {
        const GumboNode* node;
        size_t next;
    };
    std::vector<Level> path;
    auto children = [](const GumboNode* node) -> const GumboVector& {
        return node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children
                                                 : node->v.element.children;
    };
    auto visit = [&](const GumboNode* node) {
        if (node->type == GUMBO_NODE_DOCUMENT || ElementOf(node) != nullptr) {
            if (node->type == GUMBO_NODE_DOCUMENT || visitor.enter(*node)) {
                path.push_back({node, 0});
            }
        } else if (node->type != GUMBO_NODE_COMMENT && visitor.text) {
            visitor.text(*node);
        }
    };
    visit(root);
    while (!path.empty()) {
        Level& level = path.back();
        const GumboVector& list = children(level.node);
        if (level.next < list.length) {
            visit(static_cast<const GumboNode*>(list.data[level.next++]));
            continue;
        }
        const GumboNode* done = level.node;
        path.pop_back();
        if (done->type != GUMBO_NODE_DOCUMENT && visitor.leave) {
            visitor.leave(*done);
        }
    }
}

bool IsVisible(const GumboElement& element) {
    if (IsTagNamed(element, {GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_NOSCRIPT,
                             GUMBO_TAG_TEMPLATE, GUMBO_TAG_HEAD, GUMBO_TAG_TITLE, GUMBO_TAG_IFRAME,
                             GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES})) {
        return false;
    }
    if (FindAttribute(element, "hidden") != nullptr) {
        return false;
    }
    const GumboAttribute* style = FindAttribute(element, "style");
    if (style == nullptr) {
        return true;
    }
    std::string compact = CompactStyle(style->value);
    return compact.find("display:none") == std::string::npos &&
           compact.find("visibility:hidden") == std::string::npos;
}

bool IsBlock(const GumboElement& element) {
    return IsTagNamed(
        element, {GUMBO_TAG_P,       GUMBO_TAG_DIV,        GUMBO_TAG_BR,      GUMBO_TAG_H1,
                  GUMBO_TAG_H2,      GUMBO_TAG_H3,         GUMBO_TAG_H4,      GUMBO_TAG_H5,
                  GUMBO_TAG_H6,      GUMBO_TAG_LI,         GUMBO_TAG_UL,      GUMBO_TAG_OL,
                  GUMBO_TAG_DL,      GUMBO_TAG_DT,         GUMBO_TAG_DD,      GUMBO_TAG_TABLE,
                  GUMBO_TAG_TR,      GUMBO_TAG_TD,         GUMBO_TAG_TH,      GUMBO_TAG_TBODY,
                  GUMBO_TAG_THEAD,   GUMBO_TAG_TFOOT,      GUMBO_TAG_CAPTION, GUMBO_TAG_BLOCKQUOTE,
                  GUMBO_TAG_SECTION, GUMBO_TAG_ARTICLE,    GUMBO_TAG_HEADER,  GUMBO_TAG_FOOTER,
                  GUMBO_TAG_PRE,     GUMBO_TAG_HR,         GUMBO_TAG_CENTER,  GUMBO_TAG_ADDRESS,
                  GUMBO_TAG_FIGURE,  GUMBO_TAG_FIGCAPTION, GUMBO_TAG_MAIN,    GUMBO_TAG_ASIDE,
                  GUMBO_TAG_NAV,     GUMBO_TAG_BODY});
}

} // namespace velunor::html::internal
