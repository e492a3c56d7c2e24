#pragma once
// Character classes shared by the tokenizer, the parser and the editing operations.

#include "core/core.h"

#include <cstddef>
#include <string_view>

namespace velunor::internal {

/// True for exactly space, tab, CR and LF.
inline bool IsXmlWhitespace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

/// True for the characters that end a name: whitespace and ! " ' / ; < = > ? backslash.
inline bool IsNameEnd(char16_t c) {
    switch (c) {
    case u'!':
    case u'"':
    case u'\'':
    case u'/':
    case u';':
    case u'<':
    case u'=':
    case u'>':
    case u'?':
    case u'\\':
        return true;
    default:
        return IsXmlWhitespace(c);
    }
}

/// True for a character that may follow "<" to open a start tag.
inline bool CanStartTag(char16_t c) {
    return (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' || c > 0x60;
}

/// A name inside a text: where it starts and how many code units it has (0 at the text end).
struct NameSpan {
    size_t start = 0;
    size_t length = 0;
};

/// The name at `from` after skipping whitespace; a name-ending character there is a name of
/// its own. Empty (length 0) at the end of the text.
NameSpan ReadName(std::u16string_view text, size_t from);

/// True when the caller's null-terminated `given` name names the document name `name`: its
/// first name.size() characters equal it and then it ends or goes on with space / = [ ].
bool GivenNameMatches(const char16_t* given, std::u16string_view name);

/// True when `name` may be written as an element or attribute name: not empty, its first
/// character can open a start tag and none of its characters ends a name.
bool IsWritableName(std::u16string_view name);

} // namespace velunor::internal
