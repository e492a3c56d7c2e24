// Small edits of wide text shared by the jobs and the page writers.

#include "core/core.h"

#include <string>

namespace velunor {

std::u16string DecimalText(long long value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
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

} // namespace velunor
