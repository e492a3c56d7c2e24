// Small edits and comparisons of wide text shared by every module.

#include "core/core.h"

#include <string>

namespace velunor {

std::u16string DecimalText(long long value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

bool ParseDecimal(std::u16string_view text, long long& value) {
    constexpr long long kMost = 1'000'000'000'000'000'000LL;
    value = 0;
    for (char16_t unit : text) {
        if (unit < u'0' || unit > u'9' || value >= kMost) {
            return false;
        }
        value = value * 10 + (unit - u'0');
    }
    return !text.empty();
}

void ReplaceAll(std::u16string& text, std::u16string_view from, std::u16string_view to) {
    if (from.empty()) {
        return;
    }
    size_t position = text.find(from);
    while (position != std::u16string::npos) {
        text.replace(position, from.size(), to);
        position = text.find(from, position + to.size());
    }
}

std::u16string AsciiLowered(std::u16string_view text) {
    std::u16string lower(text);
    for (char16_t& c : lower) {
        c = AsciiLower(c);
    }
    return lower;
}

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

std::u16string XmlSafeText(std::u16string_view text) {
    constexpr char16_t kReplacementCharacter = 0xFFFD;
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

} // namespace velunor
