#include "xml/internal/attribute_scanner.h"

#include "xml/internal/xml_chars.h"

namespace velunor::internal {

std::u16string_view AttributeSpan::Value(std::u16string_view tag) const {
    if (quoted) {
        // An unterminated quote runs to the end of the tag; only a closing quote is cut off.
        size_t inner = valueLength - 1;
        if (inner > 0 && tag[valueStart + valueLength - 1] == tag[valueStart]) {
            --inner;
        }
        return tag.substr(valueStart + 1, inner);
    }
    return tag.substr(valueStart, valueLength);
}

AttributeScanner::AttributeScanner(std::u16string_view tag) : tag_(tag) {
    // Skip "<" or "<?" and the tag name.
    size_t nameFrom = tag.size() > 1 && tag[1] == u'?' ? 2 : 1;
    NameSpan name = ReadName(tag, nameFrom);
    offset_ = name.start + name.length;
    lastEnd_ = offset_;
}

bool AttributeScanner::AtClosing(size_t at) const {
    std::u16string_view rest = tag_.substr(at);
    return rest.empty() || rest == u">" || rest == u"/>" || rest == u"?>";
}

bool AttributeScanner::Next(AttributeSpan& attribute) {
    while (true) {
        while (offset_ < tag_.size() && IsXmlWhitespace(tag_[offset_])) {
            ++offset_;
        }
        if (AtClosing(offset_)) {
            return false;
        }
        if (!IsNameEnd(tag_[offset_])) {
            break;
        }
        if (tag_[offset_] == u'=') {
            // A value without a name still holds its quotes, as it did for the tokenizer.
            AttributeSpan stray;
            ReadValue(stray, offset_ + 1);
            offset_ = stray.end;
            lastEnd_ = stray.end;
            continue;
        }
        // A stray quote or "/" names no attribute; step over it.
        ++offset_;
    }
    NameSpan name = ReadName(tag_, offset_);
    attribute = AttributeSpan{};
    attribute.nameStart = name.start;
    attribute.nameLength = name.length;
    size_t at = name.start + name.length;
    while (at < tag_.size() && IsXmlWhitespace(tag_[at])) {
        ++at;
    }
    if (at < tag_.size() && tag_[at] == u'=') {
        ReadValue(attribute, at + 1);
    } else {
        attribute.valueStart = name.start + name.length;
        attribute.end = attribute.valueStart;
    }
    offset_ = attribute.end;
    lastEnd_ = attribute.end;
    return true;
}

void AttributeScanner::ReadValue(AttributeSpan& attribute, size_t at) {
    while (at < tag_.size() && IsXmlWhitespace(tag_[at])) {
        ++at;
    }
    attribute.valueStart = at;
    size_t end = at;
    if (at < tag_.size() && (tag_[at] == u'"' || tag_[at] == u'\'')) {
        attribute.quoted = true;
        size_t closing = tag_.find(tag_[at], at + 1);
        end = closing == std::u16string_view::npos ? tag_.size() : closing + 1;
    } else {
        // The final ">" ends an unquoted value; a "/" before it belongs to the value.
        while (end < tag_.size() && !IsXmlWhitespace(tag_[end]) &&
               !(tag_[end] == u'>' && end + 1 == tag_.size())) {
            ++end;
        }
    }
    attribute.valueLength = end - at;
    attribute.end = end;
}

std::optional<std::u16string_view> FindAttributeValue(std::u16string_view tag,
                                                      std::u16string_view name, bool ignoreCase) {
    AttributeScanner scanner(tag);
    AttributeSpan attribute;
    while (scanner.Next(attribute)) {
        std::u16string_view found = tag.substr(attribute.nameStart, attribute.nameLength);
        bool same = ignoreCase ? EqualsIgnoringAsciiCase(found, name) : found == name;
        if (same) {
            return attribute.Value(tag);
        }
    }
    return std::nullopt;
}

} // namespace velunor::internal
