#pragma once
// A check that a file the program wrote is XML a strict reader accepts: it decodes whole in the
// encoding it declares, holds only characters XML 1.0 allows, and parses as one document.

#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace velunor::testing {

/// Success when the file at `path` is well-formed XML 1.0; otherwise says what is wrong. A byte
/// that does not decode shows up as an unpaired surrogate, and so fails the check as well.
inline ::testing::AssertionResult IsWellFormedXmlFile(const std::u16string& path) {
    std::u16string text;
    std::u16string encoding;
    if (!CXmlDocument::ReadTextAsWide(&encoding, path, text, nullptr, nullptr)) {
        return ::testing::AssertionFailure() << "cannot read " << NativePath(path);
    }
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            ++i;
            continue;
        }
        bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                       (c >= 0xE000 && c <= 0xFFFD);
        if (!allowed) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            return ::testing::AssertionFailure() << NativePath(path) << " holds " << code;
        }
    }
    CXmlDocument document;
    if (!document.SetDocumentText(text)) {
        return ::testing::AssertionFailure()
               << NativePath(path) << " does not parse: " << WideToUtf8(document.ResultLog());
    }
    return ::testing::AssertionSuccess();
}

} // namespace velunor::testing
