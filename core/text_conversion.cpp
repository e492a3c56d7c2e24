// Conversions between wide text, the ANSI code page and UTF-8.
//
// Code page 936 is read and written as GB18030: every GBK byte sequence keeps its meaning and
// every Unicode character can be written, so nothing from a UTF-8 site turns into "?". Bytes
// that no decoder accepts are kept as U+DC00 + byte, so bytes -> wide -> bytes is exact.

#include "core/core.h"
#include "core/internal/double_byte_table.h"

#include <cerrno>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

namespace velunor {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kReplacement = 0xFFFD;
constexpr const char* kAnsiCharset = "GB18030";

// A byte kept from undecodable input: a lone low surrogate in U+DC80..U+DCFF.
bool IsEscapedByte(char16_t unit) {
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

std::string_view UpToNul(std::string_view bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

std::u16string_view UpToNul(std::u16string_view wide) {
    return wide.substr(0, wide.find(u'\0'));
}

bool SameCharset(const char* a, const char* b) {
    return strcasecmp(a, b) == 0;
}

struct IconvCloser {
    void operator()(void* handle) const {
        iconv_close(static_cast<iconv_t>(handle));
    }
};
using IconvOwner = std::unique_ptr<void, IconvCloser>;

// glibc converts every charset to and from its own UCS-4 form; feeding it that form directly
// ("WCHAR_T") saves a second conversion step on every call.
constexpr const char* kIconvWide = "WCHAR_T";
static_assert(sizeof(wchar_t) == 4, "iconv's WCHAR_T is UCS-4 here");

struct CachedIconv {
    std::string to;
    std::string from;
    IconvOwner handle;
};

// Opening a converter costs far more than a short conversion, and captures are converted one
// by one, so each thread keeps the converters it has opened. A converter never crosses threads.
iconv_t CachedConverter(const char* to, const char* from) {
    thread_local std::vector<CachedIconv> converters;
    for (CachedIconv& cached : converters) {
        if (cached.to == to && cached.from == from) {
            iconv_t handle = static_cast<iconv_t>(cached.handle.get());
            iconv(handle, nullptr, nullptr, nullptr, nullptr);
            return handle;
        }
    }
    iconv_t handle = iconv_open(to, from);
    if (handle != reinterpret_cast<iconv_t>(-1)) {
        converters.push_back(CachedIconv{to, from, IconvOwner(handle)});
    }
    return handle;
}

bool IsOpen(iconv_t handle) {
    return handle != reinterpret_cast<iconv_t>(-1);
}

// Widens a run of code points in place: one pass over a buffer sized for the worst case, since
// appending unit by unit costs more than the decoding itself on large pages.
void AppendCodePoints(const wchar_t* codePoints, const wchar_t* end, std::u16string& wide) {
    size_t start = wide.size();
    wide.resize(start + 2 * static_cast<size_t>(end - codePoints));
    char16_t* out = wide.data() + start;
    for (; codePoints != end; ++codePoints) {
        char32_t codePoint = static_cast<char32_t>(*codePoints);
        if (codePoint < 0x10000) {
            *out++ = static_cast<char16_t>(codePoint);
            continue;
        }
        *out++ = HighSurrogateOf(codePoint);
        *out++ = LowSurrogateOf(codePoint);
    }
    wide.resize(static_cast<size_t>(out - wide.data()));
}

// Runs the iconv decoder over all of `bytes`; whatever it rejects is kept byte by byte.
void DecodeWithIconv(iconv_t decoder, std::string_view bytes, std::u16string& wide) {
    wchar_t buffer[4096];
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    wide.reserve(wide.size() + bytes.size());
    while (inLeft > 0) {
        char* out = reinterpret_cast<char*>(buffer);
        size_t outLeft = sizeof buffer;
        size_t result = iconv(decoder, &in, &inLeft, &out, &outLeft);
        int error = errno;
        AppendCodePoints(buffer, reinterpret_cast<wchar_t*>(out), wide);
        if (result != static_cast<size_t>(-1) || error == E2BIG) {
            continue;
        }
        // An invalid or cut-off sequence: keep its first byte and go on after it.
        wide.push_back(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(*in)));
        ++in;
        --inLeft;
        iconv(decoder, nullptr, nullptr, nullptr, nullptr);
    }
}

// Encodes code points; one the charset lacks becomes "?".
void EncodeCodePointsWithIconv(iconv_t encoder, const wchar_t* codePoints, size_t count,
                               std::string& bytes, bool& lossy) {
    char buffer[8192];
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(codePoints));
    size_t inLeft = count * sizeof(wchar_t);
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        size_t result = iconv(encoder, &in, &inLeft, &out, &outLeft);
        int error = errno;
        bytes.append(buffer, static_cast<size_t>(out - buffer));
        if (result != static_cast<size_t>(-1) || error == E2BIG) {
            continue;
        }
        size_t skipped = std::min(sizeof(wchar_t), inLeft);
        in += skipped;
        inLeft -= skipped;
        bytes.push_back('?');
        lossy = true;
        iconv(encoder, nullptr, nullptr, nullptr, nullptr);
    }
}

// Stateful charsets (ISO-2022, HZ) need their closing shift sequence.
void FinishIconvOutput(iconv_t encoder, std::string& bytes) {
    char buffer[64];
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    iconv(encoder, nullptr, nullptr, &out, &outLeft);
    bytes.append(buffer, static_cast<size_t>(out - buffer));
}

// Hands code points to iconv in chunks. An escaped byte goes out as that byte, any other lone
// surrogate as "?" (with `lossy` set).
void EncodeWithIconv(iconv_t encoder, std::u16string_view wide, std::string& bytes, bool& lossy) {
    bytes.reserve(bytes.size() + wide.size() * 2);
    constexpr size_t kChunk = 2048;
    wchar_t chunk[kChunk];
    size_t pending = 0;
    auto flush = [&] {
        EncodeCodePointsWithIconv(encoder, chunk, pending, bytes, lossy);
        pending = 0;
    };
    size_t i = 0;
    while (i < wide.size()) {
        char16_t unit = wide[i];
        if (IsHighSurrogate(unit) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
            chunk[pending] = static_cast<wchar_t>(CombineSurrogates(unit, wide[i + 1]));
            ++pending;
            i += 2;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            flush();
            if (IsEscapedByte(unit)) {
                bytes.push_back(static_cast<char>(unit - kEscapeBase));
            } else {
                bytes.push_back('?');
                lossy = true;
            }
            ++i;
        } else {
            chunk[pending] = static_cast<wchar_t>(unit);
            ++pending;
            ++i;
        }
        if (pending == kChunk) {
            flush();
        }
    }
    flush();
    FinishIconvOutput(encoder, bytes);
}

// Length of the UTF-8 sequence at `bytes[i]`, or 0 when it is not a valid, shortest-form
// encoding of a scalar value.
size_t ValidUtf8SequenceLength(std::string_view bytes, size_t i) {
    auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char lead = at(i);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return 0;
    }
    if (i + length > bytes.size()) {
        return 0;
    }
    if (at(i + 1) < low || at(i + 1) > high) {
        return 0;
    }
    for (size_t k = 2; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// Widens the longest run of whole 16-byte blocks that hold only ASCII and returns its length.
// Markup is mostly ASCII, and this is where decoding a large file spends its time.
size_t WidenAsciiBlocks(const unsigned char* in, size_t size, char16_t* out) {
    size_t done = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    while (done + 16 <= size) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
        if (_mm_movemask_epi8(block) != 0) {
            break;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_unpacklo_epi8(block, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done + 8),
                         _mm_unpackhi_epi8(block, zero));
        done += 16;
    }
#else
    (void)in;
    (void)size;
    (void)out;
#endif
    return done;
}

// Decodes into a buffer sized for the worst case (one unit per byte), writing through a pointer:
// appending unit by unit made decoding cost more than parsing a whole XML file.
void DecodeUtf8(std::string_view bytes, std::u16string& wide) {
    size_t start = wide.size();
    wide.resize(start + bytes.size());
    char16_t* out = wide.data() + start;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    while (i < bytes.size()) {
        size_t widened = WidenAsciiBlocks(in + i, bytes.size() - i, out);
        out += widened;
        i += widened;
        if (i == bytes.size()) {
            break;
        }
        unsigned char lead = in[i];
        if (lead < 0x80) {
            *out = lead;
            ++out;
            ++i;
            continue;
        }
        size_t length = ValidUtf8SequenceLength(bytes, i);
        if (length == 0) {
            *out = static_cast<char16_t>(kEscapeBase + lead);
            ++out;
            ++i;
            continue;
        }
        char32_t codePoint = lead & (0xFF >> (length + 1));
        for (size_t k = 1; k < length; ++k) {
            codePoint = (codePoint << 6) | (in[i + k] & 0x3F);
        }
        if (codePoint < 0x10000) {
            *out = static_cast<char16_t>(codePoint);
            ++out;
        } else {
            out[0] = HighSurrogateOf(codePoint);
            out[1] = LowSurrogateOf(codePoint);
            out += 2;
        }
        i += length;
    }
    wide.resize(static_cast<size_t>(out - wide.data()));
}

} // namespace

void AppendUtf8(char32_t codePoint, std::string& bytes) {
    if (codePoint < 0x80) {
        bytes.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        bytes.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        bytes.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        bytes.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        bytes.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        bytes.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        bytes.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        bytes.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        bytes.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        bytes.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

namespace {

void EncodeUtf8(std::u16string_view wide, std::string& bytes, bool& lossy) {
    bytes.reserve(bytes.size() + wide.size() * 3);
    size_t i = 0;
    while (i < wide.size()) {
        char16_t unit = wide[i];
        if (IsHighSurrogate(unit) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
            AppendUtf8(CombineSurrogates(unit, wide[i + 1]), bytes);
            i += 2;
            continue;
        }
        if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendUtf8(kReplacement, bytes);
            lossy = true;
        } else {
            AppendUtf8(unit, bytes);
        }
        ++i;
    }
}

// Length of the code page 936 sequence at `bytes[i]` that iconv must see as a whole: four bytes
// for a four-byte GB18030 sequence, two for a plausible pair, else one.
size_t AnsiSequenceLength(std::string_view bytes, size_t i) {
    auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    bool isLead = at(i) >= 0x81 && at(i) <= 0xFE;
    if (!isLead || i + 1 >= bytes.size()) {
        return 1;
    }
    bool fourByte = at(i + 1) >= 0x30 && at(i + 1) <= 0x39 && i + 3 < bytes.size() &&
                    at(i + 2) >= 0x81 && at(i + 2) <= 0xFE && at(i + 3) >= 0x30 &&
                    at(i + 3) <= 0x39;
    if (fourByte) {
        return 4;
    }
    return at(i + 1) >= 0x40 && at(i + 1) != 0x7F && at(i + 1) != 0xFF ? 2 : 1;
}

// ASCII and the table's pairs directly, everything else through iconv one sequence at a time.
void DecodeAnsi(iconv_t decoder, std::string_view bytes, std::u16string& wide) {
    const internal::DoubleByteTable& table = internal::DoubleByteTable::Instance();
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t size = bytes.size();
    wide.resize(size);
    char16_t* out = wide.data();
    size_t written = 0;
    size_t i = 0;
    while (i < size) {
        unsigned char lead = in[i];
        if (lead < 0x80) {
            out[written] = lead;
            ++written;
            ++i;
            continue;
        }
        char16_t character = i + 1 < size ? table.Decode(lead, in[i + 1]) : 0;
        if (character != 0) {
            out[written] = character;
            ++written;
            i += 2;
            continue;
        }
        size_t length = AnsiSequenceLength(bytes, i);
        wide.resize(written);
        DecodeWithIconv(decoder, bytes.substr(i, length), wide);
        // A rejected lead byte is kept and decoding goes on at the very next byte, as it would
        // when iconv saw the whole text.
        if (wide[written] == kEscapeBase + lead) {
            length = 1;
            wide.resize(written + 1);
        }
        written = wide.size();
        wide.resize(written + size - i);
        out = wide.data();
        i += length;
    }
    wide.resize(written);
}

// ASCII, escaped bytes and the table's characters directly, everything else through iconv.
void EncodeAnsi(iconv_t encoder, std::u16string_view wide, std::string& bytes, bool& lossy) {
    const internal::DoubleByteTable& table = internal::DoubleByteTable::Instance();
    bytes.reserve(wide.size() * 2);
    size_t i = 0;
    while (i < wide.size()) {
        char16_t unit = wide[i];
        if (unit < 0x80) {
            bytes.push_back(static_cast<char>(unit));
            ++i;
            continue;
        }
        uint16_t pair = table.Encode(unit);
        if (pair != 0) {
            bytes.push_back(static_cast<char>(pair >> 8));
            bytes.push_back(static_cast<char>(pair & 0xFF));
            ++i;
            continue;
        }
        bool surrogatePair =
            IsHighSurrogate(unit) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1]);
        size_t length = surrogatePair ? 2 : 1;
        EncodeWithIconv(encoder, wide.substr(i, length), bytes, lossy);
        i += length;
    }
}

} // namespace

bool DecodeCharset(std::string_view bytes, const char* charset, std::u16string& wide) {
    wide.clear();
    if (SameCharset(charset, "UTF-8")) {
        DecodeUtf8(bytes, wide);
        return true;
    }
    iconv_t decoder = CachedConverter(kIconvWide, charset);
    if (!IsOpen(decoder)) {
        return false;
    }
    if (SameCharset(charset, kAnsiCharset)) {
        DecodeAnsi(decoder, bytes, wide);
    } else {
        DecodeWithIconv(decoder, bytes, wide);
    }
    return true;
}

bool EncodeCharset(std::u16string_view wide, const char* charset, std::string& bytes, bool* lossy) {
    bytes.clear();
    bool lost = false;
    if (SameCharset(charset, "UTF-8")) {
        EncodeUtf8(wide, bytes, lost);
    } else {
        iconv_t encoder = CachedConverter(charset, kIconvWide);
        if (!IsOpen(encoder)) {
            return false;
        }
        if (SameCharset(charset, kAnsiCharset)) {
            EncodeAnsi(encoder, wide, bytes, lost);
        } else {
            EncodeWithIconv(encoder, wide, bytes, lost);
        }
    }
    if (lossy != nullptr) {
        *lossy = lost;
    }
    return true;
}

std::u16string AnsiToWide(std::string_view bytes) {
    std::u16string wide;
    DecodeCharset(UpToNul(bytes), kAnsiCharset, wide);
    return wide;
}

std::u16string Utf8ToWide(std::string_view bytes) {
    std::u16string wide;
    DecodeUtf8(UpToNul(bytes), wide);
    return wide;
}

std::string WideToAnsi(std::u16string_view wide) {
    std::string bytes;
    EncodeCharset(UpToNul(wide), kAnsiCharset, bytes);
    return bytes;
}

std::string WideToUtf8(std::u16string_view wide) {
    std::string bytes;
    bool lossy = false;
    EncodeUtf8(UpToNul(wide), bytes, lossy);
    return bytes;
}

std::u16string ReinterpretAsUtf8(std::u16string_view decodedAsAnsi) {
    return Utf8ToWide(WideToAnsi(decodedAsAnsi));
}

} // namespace velunor
