#include "xml/internal/xml_chars.h"

namespace velunor::internal {

NameSpan ReadName(std::u16string_view text, size_t from) {
    size_t start = from;
    while (start < text.size() && IsXmlWhitespace(text[start])) {
        ++start;
    }
    if (start >= text.size()) {
        return {start, 0};
    }
    if (IsNameEnd(text[start])) {
        return {start, 1};
    }
    size_t end = start + 1;
    while (end < text.size() && !IsNameEnd(text[end])) {
        ++end;
    }
    return {start, end - start};
}

bool GivenNameMatches(const char16_t* given, std::u16string_view name) {
    if (given[0] == u'/') {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        // A NUL inside the document name must not carry the scan past the given name's end.
        if (given[i] == 0 || given[i] != name[i]) {
            return false;
        }
    }
    char16_t next = given[name.size()];
    return next == 0 || next == u' ' || next == u'/' || next == u'=' || next == u'[' ||
           next == u']';
}

bool IsWritableName(std::u16string_view name) {
    if (name.empty() || !CanStartTag(name[0])) {
        return false;
    }
    for (char16_t c : name) {
        if (IsNameEnd(c)) {
            return false;
        }
    }
    return true;
}

} // namespace velunor::internal
