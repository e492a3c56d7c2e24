#include "net/fetcher.h"

#include "net/internal/inflate_body.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace velunor {
namespace internal {
namespace {

// 15 + 32: a 32 KiB window and automatic detection of a gzip or a zlib header.
constexpr int kGzipOrZlibWindowBits = 15 + 32;
constexpr int kZlibWindowBits = 15;
// Some servers label a raw-deflate body as gzip. Behind this zlib header (deflate, 32 KiB window,
// no dictionary) the zlib decoder reads such a body; it then ends without the zlib checksum, which
// is why running out of input counts as the end of the page.
constexpr char kSubstituteZlibHeader[] = {0x78, 0x01};
constexpr std::size_t kFirstRoom = 64 * 1024;
// zlib counts in 32-bit units; a longer body is fed in slices of this size.
constexpr std::size_t kLargestSlice = 1u << 30;

enum class Outcome { Inflated, HeaderRejected, Failed, OverLimit };

struct InflaterDeleter {
    void operator()(z_stream* stream) const {
        inflateEnd(stream);
        delete stream;
    }
};
using Inflater = std::unique_ptr<z_stream, InflaterDeleter>;

Inflater OpenInflater(int windowBits) {
    auto stream = std::make_unique<z_stream>();
    if (inflateInit2(stream.get(), windowBits) != Z_OK) {
        return nullptr;
    }
    return Inflater(stream.release());
}

// Makes room behind the `produced` bytes of `output`; the buffer never exceeds limit + 1 bytes,
// so that one byte too many is enough to tell that the body inflates past the limit.
bool GrowOutput(z_stream& stream, std::string& output, std::size_t produced, std::size_t limit) {
    if (output.size() <= produced) {
        std::size_t wanted = std::max(output.size() * 2, kFirstRoom);
        std::size_t size = std::min(wanted, limit + 1);
        if (size <= produced) {
            return false;
        }
        output.resize(size);
    }
    std::size_t size = output.size();
    stream.next_out = reinterpret_cast<Bytef*>(output.data() + produced);
    stream.avail_out = static_cast<uInt>(std::min(size - produced, kLargestSlice));
    return true;
}

// Runs all of `input` through `stream`, appending to the first `produced` bytes of `output`.
Outcome Pump(z_stream& stream, std::string_view input, std::string& output, std::size_t& produced,
             std::size_t limit) {
    std::size_t fed = 0;
    for (;;) {
        if (stream.avail_in == 0 && fed < input.size()) {
            std::size_t slice = std::min(input.size() - fed, kLargestSlice);
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + fed));
            stream.avail_in = static_cast<uInt>(slice);
            fed += slice;
        }
        if (stream.avail_out == 0 && !GrowOutput(stream, output, produced, limit)) {
            return Outcome::OverLimit;
        }
        uInt roomBefore = stream.avail_out;
        int status = inflate(&stream, Z_NO_FLUSH);
        produced += roomBefore - stream.avail_out;
        if (produced > limit) {
            return Outcome::OverLimit;
        }
        if (status == Z_STREAM_END) {
            return Outcome::Inflated;
        }
        if (status == Z_DATA_ERROR && stream.total_out == 0) {
            return Outcome::HeaderRejected;
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            return Outcome::Failed;
        }
        bool inputUsedUp = stream.avail_in == 0 && fed == input.size();
        if (inputUsedUp && stream.avail_out > 0) {
            return Outcome::Inflated;
        }
    }
}

Outcome InflateWith(int windowBits, std::string_view prefix, std::string_view body,
                    std::string& output, std::size_t limit) {
    Inflater stream = OpenInflater(windowBits);
    if (stream == nullptr) {
        return Outcome::Failed;
    }
    output.clear();
    std::size_t produced = 0;
    Outcome outcome = Pump(*stream, prefix, output, produced, limit);
    if (outcome == Outcome::Inflated) {
        outcome = Pump(*stream, body, output, produced, limit);
    }
    output.resize(produced);
    return outcome;
}

} // namespace

InflateOutcome InflateWithin(std::string_view body, std::string& output, std::size_t outputLimit) {
    Outcome outcome = InflateWith(kGzipOrZlibWindowBits, {}, body, output, outputLimit);
    if (outcome == Outcome::HeaderRejected) {
        std::string_view header(kSubstituteZlibHeader, sizeof kSubstituteZlibHeader);
        outcome = InflateWith(kZlibWindowBits, header, body, output, outputLimit);
    }
    if (outcome == Outcome::Inflated) {
        return InflateOutcome::Inflated;
    }
    output.clear();
    return outcome == Outcome::OverLimit ? InflateOutcome::OverLimit : InflateOutcome::Unreadable;
}

} // namespace internal

int InflateBody(std::string_view body, std::string& output, std::size_t outputLimit) {
    return internal::InflateWithin(body, output, outputLimit) == internal::InflateOutcome::Inflated
               ? 0
               : -1;
}

} // namespace velunor
