#include "core/internal/double_byte_table.h"

#include <iconv.h>

namespace velunor::internal {
namespace {

// Decodes one pair with iconv; 0 unless it is exactly one character of the Basic Multilingual
// Plane outside the surrogates.
char16_t DecodePair(iconv_t decoder, unsigned char lead, unsigned char trail) {
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    wchar_t out[2] = {0, 0};
    char* inPointer = in;
    size_t inLeft = sizeof in;
    char* outPointer = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    iconv(decoder, nullptr, nullptr, nullptr, nullptr);
    size_t result = iconv(decoder, &inPointer, &inLeft, &outPointer, &outLeft);
    bool oneCharacter =
        result != static_cast<size_t>(-1) && inLeft == 0 && outLeft == sizeof(wchar_t);
    if (!oneCharacter || out[0] <= 0x7F || out[0] > 0xFFFF ||
        (out[0] >= 0xD800 && out[0] <= 0xDFFF)) {
        return 0;
    }
    return static_cast<char16_t>(out[0]);
}

} // namespace

const DoubleByteTable& DoubleByteTable::Instance() {
    static const DoubleByteTable table;
    return table;
}

DoubleByteTable::DoubleByteTable() : toWide_(65536, 0), toBytes_(65536, 0) {
    iconv_t decoder = iconv_open("WCHAR_T", "GB18030");
    if (decoder == reinterpret_cast<iconv_t>(-1)) {
        return;
    }
    std::vector<bool> shared(65536, false);
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            char16_t character = DecodePair(decoder, static_cast<unsigned char>(lead),
                                            static_cast<unsigned char>(trail));
            if (character == 0) {
                continue;
            }
            uint16_t pair = static_cast<uint16_t>(lead << 8 | trail);
            if (toBytes_[character] != 0) {
                shared[character] = true;
            }
            toWide_[pair] = character;
            toBytes_[character] = pair;
        }
    }
    iconv_close(decoder);
    // A character that two pairs decode to cannot go back to both: leave both pairs and the
    // character to iconv, which then decides exactly as it would without the table.
    for (size_t pair = 0; pair < toWide_.size(); ++pair) {
        if (toWide_[pair] != 0 && shared[toWide_[pair]]) {
            toBytes_[toWide_[pair]] = 0;
            toWide_[pair] = 0;
        }
    }
}

} // namespace velunor::internal
