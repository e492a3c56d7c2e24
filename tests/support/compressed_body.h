#pragma once
// Bodies compressed the way servers send them, made with zlib's own deflater. Header only;
// whoever includes it links zlib.

#include <zlib.h>

#include <string>
#include <string_view>

namespace velunor::testing {

inline constexpr int kGzipBits = 16 + 15;
inline constexpr int kZlibBits = 15;
inline constexpr int kRawDeflateBits = -15;

/// `text` compressed as gzip, zlib or raw deflate, chosen by `windowBits` (the constants above).
inline std::string Compress(std::string_view text, int windowBits) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

} // namespace velunor::testing
