#pragma once
// One request with the fetcher's browser-like headers and limits, shared by FetchPage and
// FetchToFile: the redirects it follows, each taking its turn in the site limiter. Free of
// libcurl's header, so tests may include it.

#include "net/fetcher.h"

#include <chrono>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace velunor::internal {

/// Takes one chunk of the body as it arrives; false stops the transfer, which then fails.
using BodySink = bool (*)(std::string_view chunk, void* sinkData);

enum class TransferOutcome { NotStarted, Failed, Completed };

/// What one request learned beyond what FetchResult holds.
struct TransferAnswer {
    /// The raw header lines of the final answer, its status line first.
    std::string headers;
    /// For a failed request: true when sending it again may succeed (no connection, a time-out,
    /// a connection lost); false when it was cancelled, refused for its address or its redirects,
    /// or stopped by its body limit or its sink.
    bool retryable = false;
    /// What the final answer's Retry-After header asks for, when it has one that can be read.
    std::optional<std::chrono::seconds> retryAfter;
};

/// Sends the request for `url` under `settings` and follows its redirects when they are to be
/// followed, each hop waiting for its turn at its site first. Hands the final answer's body to
/// `sink` (the bodies of redirects that are followed go nowhere). Sets result.StatusCode (-1 on
/// failure, stall, a limit of `settings`, cancel or a redirect too many), result.ContentType
/// (empty unless a final answer came), for a final 302 answer result.Location, and, once a redirect
/// was followed, result.RedirectCount and result.EffectiveUrl. A failure sets result.Failure,
/// CurlCode and CurlText and leaves them alone otherwise; a transfer that cannot be set up records
/// only those. A request already cancelled when it is called, or whose address is not http or
/// https, fails without connecting. Blocks; any thread.
TransferOutcome RunTransfer(FetchResult& result, std::u16string_view url,
                            const FetchSettings& settings, BodySink sink, void* sinkData,
                            TransferAnswer& answer);

/// The URL bytes as libcurl accepts them: every byte from 0x00 to 0x20 and 0x7F percent-encoded,
/// every other byte (GBK ones included) as it is.
std::string EscapeControlBytes(std::string_view url);

/// `line` as a header line that may be sent: CR, LF and NUL dropped and the white space at both
/// ends trimmed. Empty when it has no ":" or its name (before ":", trimmed) is empty or holds a
/// byte that no header name may hold (a space, a control, a byte above 0x7E).
std::string CleanHeaderLine(std::string_view line);

/// The wait a Retry-After header value asks for, at `now`: delta-seconds or an HTTP date, never
/// below zero nor above kMaxRetryWait; nothing when the value is neither.
std::optional<std::chrono::seconds> RetryAfterWait(std::string_view value, std::time_t now);

} // namespace velunor::internal
