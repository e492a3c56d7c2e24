// Where image addresses, element contents and charset labels stand in the source text.

#include "html/html.h"
#include "html/internal/parsed_html.h"

#include "core/core.h"

#include <algorithm>
#include <functional>
#include <strings.h>

namespace velunor::html {
namespace {

using internal::ParsedHtml;

// Added after a text whose image tags are wanted: whatever state a tag cut off by the end of
// the text is in (a name, a quoted or unquoted value, between attributes), these close its value
// and the tag, so the parser keeps it instead of dropping it as browsers do at the end of a page.
constexpr std::string_view kTagEnding = "'\">";

SourceSpan Trimmed(std::u16string_view text, SourceSpan span) {
    while (span.Length > 0 && IsAsciiSpace(text[span.Start])) {
        ++span.Start;
        --span.Length;
    }
    while (span.Length > 0 && IsAsciiSpace(text[span.Start + span.Length - 1])) {
        --span.Length;
    }
    return span;
}

// Where the value of `attribute` stands in the text, quotes left out; empty when it has none.
SourceSpan ValueSpan(const ParsedHtml& parsed, const GumboAttribute& attribute) {
    // An attribute written without a value has a raw value that is not one.
    if (attribute.value[0] == '\0') {
        return {};
    }
    const char* start = attribute.original_value.data;
    const char* end = start + attribute.original_value.length;
    if (start < end && (*start == '"' || *start == '\'')) {
        char quote = *start++;
        if (end > start && end[-1] == quote) {
            --end;
        }
    }
    size_t from = parsed.TextOffset(start);
    return {from, parsed.TextOffset(end) - from};
}

// The first element in document order that `wanted` accepts; null when there is none.
const GumboElement* FirstElement(const ParsedHtml& parsed,
                                 const std::function<bool(const GumboElement&)>& wanted) {
    const GumboElement* found = nullptr;
    internal::TreeVisitor visitor;
    visitor.enter = [&](const GumboNode& node) {
        if (found == nullptr && wanted(node.v.element)) {
            found = &node.v.element;
        }
        return found == nullptr;
    };
    internal::VisitTree(parsed.Document(), visitor);
    return found;
}

// True when `text` holds `word` (lower case) at `at`, ASCII case ignored.
bool HasWordAt(std::u16string_view text, size_t at, std::u16string_view word) {
    if (text.size() - std::min(at, text.size()) < word.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        if (AsciiLower(text[at + i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// The charset name in a Content-Type value standing at `value` of `page`, found as browsers
// find it: after "charset", spaces and "=", quoted or up to a space or ";". Empty when none.
SourceSpan CharsetInContentType(std::u16string_view page, SourceSpan value) {
    constexpr std::u16string_view kCharset = u"charset";
    std::u16string_view text = page.substr(0, value.Start + value.Length);
    size_t at = value.Start;
    while (at < text.size()) {
        if (!HasWordAt(text, at, kCharset)) {
            ++at;
            continue;
        }
        at += kCharset.size();
        while (at < text.size() && IsAsciiSpace(text[at])) {
            ++at;
        }
        if (at == text.size() || text[at] != u'=') {
            continue;
        }
        ++at;
        while (at < text.size() && IsAsciiSpace(text[at])) {
            ++at;
        }
        size_t start = at;
        std::u16string_view stops = u" \t\n\r\f;";
        if (at < text.size() && (text[at] == u'"' || text[at] == u'\'')) {
            start = at + 1;
            stops = text.substr(at, 1);
        }
        size_t end = text.find_first_of(stops, start);
        end = end == std::u16string_view::npos ? text.size() : end;
        return {start, end - start};
    }
    return {};
}

// True when the value at `span` is an address to fetch: not blank, and no data: image, which
// holds its bytes itself.
bool IsFetchable(std::u16string_view text, SourceSpan span) {
    return span.Length > 0 &&
           !HasWordAt(text.substr(0, span.Start + span.Length), span.Start, u"data:");
}

// The trimmed value of `element`'s attribute `name`; empty when it has none.
SourceSpan AttributeSpan(const ParsedHtml& parsed, std::u16string_view text,
                         const GumboElement& element, const char* name) {
    const GumboAttribute* attribute = internal::FindAttribute(element, name);
    return attribute == nullptr ? SourceSpan{} : Trimmed(text, ValueSpan(parsed, *attribute));
}

// Where a src attribute can be written into `element`'s start tag: right after the tag name, so
// that it comes before any src the tag holds (browsers take the first of two).
SourceSpan AfterTagName(const ParsedHtml& parsed, const GumboElement& element) {
    std::string_view tag(element.original_tag.data, element.original_tag.length);
    size_t end = std::min(tag.find_first_of(" \t\n\r\f/>", 1), tag.size());
    return {parsed.TextOffset(element.original_tag.data + end), 0};
}

bool IsHeadMeta(const GumboNode& node) {
    const GumboElement* parent = internal::ElementOf(node.parent);
    return node.v.element.tag == GUMBO_TAG_META && parent != nullptr &&
           parent->tag == GUMBO_TAG_HEAD;
}

bool Declares(const GumboElement& meta, const char* name, const char* value) {
    const GumboAttribute* attribute = internal::FindAttribute(meta, name);
    return attribute != nullptr && strcasecmp(attribute->value, value) == 0;
}

} // namespace

std::vector<ImageSource> ImageSources(std::u16string_view text) {
    ParsedHtml parsed(text, kTagEnding);
    std::vector<ImageSource> sources;
    internal::TreeVisitor visitor;
    visitor.enter = [&](const GumboNode& node) {
        const GumboElement& element = node.v.element;
        if (element.tag == GUMBO_TAG_IMG) {
            ImageSource image;
            image.Shown = AttributeSpan(parsed, text, element, "src");
            image.Address = image.Shown;
            for (const char* name : internal::kLazyAddressAttributes) {
                SourceSpan lazy = AttributeSpan(parsed, text, element, name);
                if (IsFetchable(text, lazy)) {
                    image.Address = lazy;
                    break;
                }
            }
            if (IsFetchable(text, image.Address)) {
                if (image.Shown.Length == 0) {
                    image.Shown = AfterTagName(parsed, element);
                }
                sources.push_back(image);
            }
        }
        // A template's content is no part of the page until a script uses it.
        return element.tag != GUMBO_TAG_TEMPLATE;
    };
    internal::VisitTree(parsed.Document(), visitor);
    // Content misplaced in a table moves in front of it; callers go through the text in order.
    std::sort(sources.begin(), sources.end(), [](const ImageSource& a, const ImageSource& b) {
        return a.Address.Start < b.Address.Start;
    });
    return sources;
}

std::u16string ElementInnerHtml(std::u16string_view page, std::u16string_view id) {
    ParsedHtml parsed(page);
    std::string wanted = WideToUtf8(id);
    const GumboElement* element = FirstElement(parsed, [&](const GumboElement& candidate) {
        const GumboAttribute* attribute = internal::FindAttribute(candidate, "id");
        return attribute != nullptr && wanted == attribute->value;
    });
    if (element == nullptr || element->original_tag.length == 0) {
        return {};
    }
    bool cutShort =
        element->original_end_tag.length == 0 && element->end_pos.offset >= parsed.TextBytes();
    if (cutShort) {
        return {};
    }
    size_t start = parsed.TextOffset(element->original_tag.data + element->original_tag.length);
    size_t end = std::max(start, parsed.TextOffset(element->end_pos.offset));
    return std::u16string(page.substr(start, end - start));
}

std::vector<SourceSpan> DeclaredCharsets(std::u16string_view page) {
    ParsedHtml parsed(page);
    std::vector<SourceSpan> names;
    internal::TreeVisitor visitor;
    visitor.enter = [&](const GumboNode& node) {
        if (!IsHeadMeta(node)) {
            return true;
        }
        const GumboElement& meta = node.v.element;
        const GumboAttribute* charset = internal::FindAttribute(meta, "charset");
        const GumboAttribute* content = internal::FindAttribute(meta, "content");
        SourceSpan name;
        if (charset != nullptr) {
            name = Trimmed(page, ValueSpan(parsed, *charset));
        } else if (content != nullptr && Declares(meta, "http-equiv", "content-type")) {
            name = CharsetInContentType(page, ValueSpan(parsed, *content));
        }
        if (name.Length > 0) {
            names.push_back(name);
        }
        return true;
    };
    internal::VisitTree(parsed.Document(), visitor);
    return names;
}

} // namespace velunor::html
