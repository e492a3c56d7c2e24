// Cleaning of names from sites before they become file or folder names.

#include "core/core.h"

#include <algorithm>
#include <cstddef>

namespace velunor {
namespace {

// Linux allows 255 bytes per component; the margin leaves room for the marks a user or
// a copy tool may add to a name.
constexpr std::size_t kMaxComponentBytes = 200;

std::size_t Utf8Length(char32_t codePoint) {
    if (codePoint < 0x80) {
        return 1;
    }
    if (codePoint < 0x800) {
        return 2;
    }
    if (codePoint < 0x10000) {
        return 3;
    }
    return 4;
}

// How many code units of `name` fit in the byte bound, a surrogate pair counted as one
// four-byte character.
std::size_t FittingUnits(std::u16string_view name) {
    std::size_t bytes = 0;
    std::size_t units = 0;
    while (units < name.size()) {
        bool pair = IsHighSurrogate(name[units]) && units + 1 < name.size() &&
                    IsLowSurrogate(name[units + 1]);
        // Escaped bytes and lone surrogates are written as U+FFFD, three bytes.
        std::size_t length = pair ? 4 : Utf8Length(name[units]);
        if (bytes + length > kMaxComponentBytes) {
            break;
        }
        bytes += length;
        units += pair ? 2 : 1;
    }
    return units;
}

} // namespace

std::u16string CleanPathComponent(std::u16string_view name) {
    std::u16string clean(name.substr(0, FittingUnits(name)));
    for (char16_t& unit : clean) {
        // A character XML cannot hold (NUL among them) would not survive into the files that
        // list the folder, which then could not find it again.
        if (unit == u'/' || unit == u'\\' || !IsXmlChar(unit)) {
            unit = u'_';
        }
    }
    bool onlyDots =
        std::all_of(clean.begin(), clean.end(), [](char16_t unit) { return unit == u'.'; });
    if (onlyDots) {
        std::fill(clean.begin(), clean.end(), u'_');
    }
    if (clean.empty()) {
        return std::u16string(1, u'_');
    }
    return clean;
}

} // namespace velunor
