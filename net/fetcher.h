#pragma once
// The HTTP fetcher: the only way Velunor reaches the network.
//
// FetchPage and FetchToFile each issue one plain HTTP GET on a fresh libcurl easy handle, with a
// fixed browser-like request, a DNS cache shared by every transfer of the process, and no
// redirect following: a 302 answer comes back to the caller with its Location target, and the
// caller decides whether to fetch it. Gzip and zlib bodies are inflated here, not by libcurl.
// Nothing is retried. Each request carries its own settings: how long it may go without
// receiving anything, and a test that lets the job which started it end it early. Every function
// may be called from any thread at the same time; the calls share nothing but the DNS cache.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velunor {

/// What one fetch learned about its answer; owned and reused by the caller.
struct FetchResult {
    /// The HTTP response code, or -1 when the transfer itself failed.
    std::int32_t StatusCode = 0;
    /// The Location header's bytes as sent; set only by a 302 answer (empty when it had none).
    std::string Location;
};

/// How one request is run; the defaults suit every job.
struct FetchSettings {
    /// How long a transfer may receive nothing before it fails.
    std::chrono::milliseconds StallTimeout{60000};
    /// Asked at least every 100 ms while the transfer runs, from the fetching thread; true ends
    /// the transfer at once as failed (StatusCode -1). Empty: never cancelled.
    std::function<bool()> Cancelled;
};

/// Output cap of InflateBody: a body that inflates to more is treated as a decompression bomb.
inline constexpr std::size_t kInflateLimit = 256u * 1024u * 1024u;

/// Fetches `url` and returns its body decoded from the ANSI code page, up to its first NUL.
/// Empty when the transfer failed, stalled or was cancelled (StatusCode -1), when a gzip body
/// cannot be inflated (StatusCode is the real one), or when no transfer could be set up
/// (StatusCode untouched). Blocks until the answer is complete or the transfer ends early.
std::u16string FetchPage(FetchResult& result, std::u16string_view url,
                         const FetchSettings& settings = {});

/// Fetches `url` and appends its body bytes, as received, to the file at `path` (created when
/// the first byte arrives). True when the transfer completed, whatever its status; false when it
/// failed, stalled, was cancelled or the file could not be written (StatusCode -1 in all these
/// cases; what arrived before stays in the file), or when no transfer could be set up. Blocks.
bool FetchToFile(FetchResult& result, std::u16string_view url, std::u16string_view path,
                 const FetchSettings& settings = {});

/// The Location of a 302 answer as wide text, decoded from the ANSI code page.
std::u16string LocationText(const FetchResult& result);

/// Inflates a gzip, zlib or raw-deflate `body` into `output` (replaced). 0 on success; -1, with
/// `output` empty, when the body is none of these or would inflate to more than `outputLimit`.
/// A body that ends early yields what it held. Does not block.
int InflateBody(std::string_view body, std::string& output,
                std::size_t outputLimit = kInflateLimit);

} // namespace velunor
