#pragma once
// The settings files (reading settings, shelf settings) hold one flat root element whose
// children are the fields, in any order.

#include "xml/xml_document.h"

#include <string>

namespace velunor::internal {

/// The text of the field `name` of the root element of `document`, wherever it stands among the
/// others; empty when it is missing.
inline std::u16string SettingsFieldText(CXmlDocument& document, const char16_t* name) {
    document.ResetPosition();
    if (!document.FindElement() || !document.EnterElement()) {
        return {};
    }
    return FindElementText(document, name);
}

} // namespace velunor::internal
