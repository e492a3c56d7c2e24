#pragma once
// Reading the text-only child elements of an entry (a search hit, a bookshelf entry).

#include "xml/xml_document.h"

#include <string>

namespace velunor {

/// The text of the next element named `name` of the document's current level, searching
/// forward from the current element; empty, with the position unchanged, when there is none.
inline std::u16string NextElementText(CXmlDocument& document, const char16_t* name) {
    if (!document.FindElement(name)) {
        return {};
    }
    return document.GetElementText();
}

} // namespace velunor
