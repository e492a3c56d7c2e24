#pragma once
// The HTTP fetcher: the only way Velunor reaches the network.
//
// FetchPage and FetchToFile each send a request on a fresh libcurl easy handle, with a
// browser-like set of headers that a site's rule may extend or replace, and a DNS cache shared by
// every transfer of the process. A request is a GET, or a form POST when the caller gives a body.
// By default no redirect is followed: a 302 answer comes back to the caller with its Location
// target, and the caller decides whether to fetch it; a caller may instead have redirects followed
// here. Only http and https addresses are fetched, first or redirected to: an address taken from
// a page may name any scheme, and libcurl would otherwise speak gopher, dict, ftp or file to
// whatever it names. Gzip and zlib bodies are inflated here, not by libcurl.
//
// Each request carries its own settings: how long it may go without receiving anything, how slow
// and how long it may be, how large its body may grow, a test that lets the job which started it
// end it early, and the site's manners. Every request to a site, from whichever job, takes its
// turn in one process-wide limiter of requests per host, which keeps the site's least interval
// between the starts of two requests and its most requests in flight; the interval is kept
// across processes too once the program names a pacing folder. A request that fails, is
// refused for being too busy or meets a page that blocks access is tried again when its settings
// allow it. Every function may be called from any thread at the same time.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velunor {

class CCookieJar;

/// Why a request failed, as far as the fetcher can tell; None when the transfer completed
/// (the HTTP status then says the rest).
enum class FetchFailure {
    None,
    /// Refused, unreachable, reset, connection lost, empty reply.
    CouldNotConnect,
    /// The host name could not be resolved.
    NameNotFound,
    /// Stall, low speed, total time or connect time ran out.
    TimedOut,
    /// The TLS handshake or the certificate failed.
    Tls,
    /// The body went over BodyLimit, or would inflate to more than BodyLimit or kInflateLimit.
    TooLarge,
    /// The settings' Cancelled test ended the request.
    Cancelled,
    /// A refused scheme or a malformed address, first or redirected to.
    BadAddress,
    /// More than kMaxRedirects redirects.
    TooManyRedirects,
    /// FetchToFile could not write the file.
    WriteFailed,
    /// The body is labelled gzip but cannot be inflated.
    BadContent,
    /// IsBlocked refused the page.
    Blocked
};

/// What one fetch learned about its answer; owned and reused by the caller. With retries, every
/// field describes the last attempt.
struct FetchResult {
    /// The HTTP response code, or -1 when the transfer itself failed.
    std::int32_t StatusCode = 0;
    /// The bytes of the answer's Location header, found by name whatever its case, without the
    /// white space around them; set only by a 302 answer (empty when it had none).
    std::string Location;
    /// The address of the final answer: the one asked for when nothing was redirected, otherwise
    /// the last redirect target, decoded from the ANSI code page.
    std::u16string EffectiveUrl;
    /// How many redirects were followed on the way to the final answer.
    int RedirectCount = 0;
    /// The bytes of the final answer's Content-Type header ("text/html; charset=gbk"), without
    /// the white space around them; empty when it had none or no answer came.
    std::string ContentType;
    /// How many times the request was sent: one, and one more for every retry.
    int Attempts = 0;
    /// True when the settings' IsBlocked took the final answer for the site refusing access.
    bool Blocked = false;
    /// Why the request failed; None when it completed, whatever its status.
    FetchFailure Failure = FetchFailure::None;
    /// libcurl's code for a failed transfer (CURLcode as int), 0 when none. A stall or a speed
    /// below the low-speed limit, which the fetcher detects itself, counts as libcurl's time-out
    /// (28); a cancel, a blocked page and a body that cannot be inflated carry none.
    int CurlCode = 0;
    /// libcurl's own words for it (the error buffer, or curl_easy_strerror when that is empty);
    /// for a stop the fetcher makes itself (stall, low speed, body limit, file write, refused
    /// scheme, redirect limit), its own words in the same style. Empty when CurlCode is 0.
    std::string CurlText;
};

/// How one request is run; the defaults suit pages.
struct FetchSettings {
    /// How long a transfer may receive nothing before it fails.
    std::chrono::milliseconds StallTimeout{60000};
    /// From its first received byte on, a transfer fails when a span of LowSpeedTime brings
    /// fewer than LowSpeedLimit bytes a second, so that a site sending a byte now and then cannot
    /// hold it for as long as TotalTimeout allows. Zero in either turns the check off.
    std::uint64_t LowSpeedLimit = 1024;
    std::chrono::milliseconds LowSpeedTime{30000};
    /// The longest a transfer may take in all, connecting included; zero: no limit. Every
    /// redirect followed and every retry is a transfer of its own.
    std::chrono::milliseconds TotalTimeout{300000};
    /// The most body bytes a transfer may receive: an answer whose Content-Length says more fails
    /// before its body arrives, one that sends more fails as soon as it has. A compressed page
    /// may also inflate to no more than this. Zero: no limit but kInflateLimit's.
    std::uint64_t BodyLimit = 0;
    /// Asked at least every 100 ms while the transfer runs, from the fetching thread; true ends
    /// the transfer at once as failed (StatusCode -1). Also asked while the request waits for
    /// its turn at the site and between retries. Empty: never cancelled.
    std::function<bool()> Cancelled;

    /// Extra request header lines "Name: value" (bytes, as RequestHeaderLines makes them from a
    /// rule). A line replaces the default header of the same name, whatever the name's case; CR,
    /// LF and NUL inside a line are dropped, a line without a name before ":" is ignored, and so
    /// are Content-Length, Transfer-Encoding and Accept-Encoding, which the fetcher itself sets.
    /// The values of Cookie lines are sent after the cookies of the jar, in its one Cookie line.
    std::vector<std::string> Headers;
    /// Sent as the Referer header unless Headers names one; empty: none.
    std::string Referer;
    /// When set, the request is a POST of exactly these bytes, sent as
    /// application/x-www-form-urlencoded unless Headers names a Content-Type. The caller encodes.
    std::optional<std::string> PostBody;
    /// False: a redirect answer is the answer (a 302 reports its Location). True: 301, 302, 303,
    /// 307 and 308 answers with a Location are followed, at most kMaxRedirects of them, to http
    /// and https addresses only; a POST turns into a GET on 301, 302 and 303, as browsers do, and
    /// stays a POST on 307 and 308.
    bool FollowRedirects = false;
    /// The jar the request sends cookies from and keeps the cookies of its answers in, every
    /// redirect's included, as libcurl's cookie engine rules (net/cookie_jar.h); shared by every
    /// request to the site. Empty: no cookie is sent but those of Headers, and none is kept.
    std::shared_ptr<CCookieJar> Cookies;

    /// The site's manners, kept across the process for every request to the same host: the least
    /// time between the starts of two requests, and the most requests in flight at once (0 or
    /// less counts as 1).
    std::chrono::milliseconds RequestInterval{0};
    int MaxConnections = 5;
    /// How many more times a request is sent after a transfer failure or time-out, a 429, 500,
    /// 502, 503 or 504 answer, or a page that IsBlocked refuses. Before retry n (from 1) the
    /// fetcher waits RetryBaseDelay times 2 to the power n - 1, or the seconds of the answer's
    /// Retry-After header when it has one; never more than kMaxRetryWait. A cancelled request, a
    /// refused scheme, an over-long body or a file that cannot be written is never retried.
    int RetryCount = 0;
    std::chrono::milliseconds RetryBaseDelay{1000};
    /// Given the bytes of the final answer's body, inflated, true when the page is the site
    /// refusing access rather than content. Empty: no page is taken for one. FetchToFile asks it
    /// only about bodies of at most 1 MB: a larger one is taken for what was asked for.
    std::function<bool(std::string_view body)> IsBlocked;
};

/// The most redirects one request follows; the next one fails the request.
inline constexpr int kMaxRedirects = 5;
/// The longest wait before a retry, whatever the delays or Retry-After say.
inline constexpr std::chrono::seconds kMaxRetryWait{60};

/// Output cap of InflateBody: a body that inflates to more is treated as a decompression bomb.
inline constexpr std::size_t kInflateLimit = 256u * 1024u * 1024u;

/// Fetches `url` and returns its body bytes as received, inflated when the answer says gzip, not
/// decoded (NUL bytes included). Empty on failure, with result.Failure, CurlCode and CurlText
/// saying why: when the transfer failed, stalled, ran over a limit of `settings`, was cancelled,
/// was refused for its scheme or met too many redirects (StatusCode -1 in all these cases), when
/// a gzip body cannot be inflated or IsBlocked refused the page (StatusCode is the real one;
/// Blocked tells the second), or when no transfer could be set up (StatusCode untouched). With
/// retries, these describe the last attempt. Blocks until the answer is complete or the request
/// ends early.
std::string FetchBytes(FetchResult& result, std::u16string_view url,
                       const FetchSettings& settings = {});

/// FetchBytes, decoded from the ANSI code page up to the body's first NUL; the same failures.
/// Blocks.
std::u16string FetchPage(FetchResult& result, std::u16string_view url,
                         const FetchSettings& settings = {});

/// Fetches `url` and appends its body bytes, as received, to the file at `path` (created when
/// the first byte arrives). True when the transfer completed, whatever its status; false when it
/// failed, stalled, ran over a limit of `settings`, was cancelled, was refused for its scheme,
/// met too many redirects or the file could not be written (StatusCode -1 in all these cases;
/// what arrived before stays in the file), when IsBlocked refused the body (StatusCode is the
/// real one and the file is as it was before the call), or when no transfer could be set up;
/// result.Failure, CurlCode and CurlText say which. Before a retry, the file is put back as it
/// was before the call. Blocks.
bool FetchToFile(FetchResult& result, std::u16string_view url, std::u16string_view path,
                 const FetchSettings& settings = {});

/// Waits as the fetcher waits before retry `retry` (from 1) of a request with `settings` that
/// the site gave no Retry-After: RetryBaseDelay doubled for every retry before it, never more
/// than kMaxRetryWait, asking settings.Cancelled at least every 100 ms. False when it turned
/// true. Blocks; any thread.
bool WaitBeforeRetry(const FetchSettings& settings, int retry);

/// A request's turn at its site, for a request that the fetcher does not send itself (a page a
/// browser loads): it began no sooner than the site's RequestInterval after the request before,
/// and while it is held it counts among the site's MaxConnections, for the whole process.
class CSiteTurn {
  public:
    CSiteTurn();
    ~CSiteTurn();
    CSiteTurn(CSiteTurn&&) noexcept;
    CSiteTurn& operator=(CSiteTurn&&) noexcept;
    /// False when the wait for it was cancelled: the request must not start.
    explicit operator bool() const;

  private:
    friend CSiteTurn WaitForSiteTurn(std::u16string_view url, const FetchSettings& settings);
    struct Held;
    std::unique_ptr<Held> held_;
};

/// Where the processes of the program keep each paced site's last request start from now on:
/// one small file per site (by host and port) in the folder `folder` (a path ending in "/",
/// made when first needed), so that two processes together keep a site's RequestInterval.
/// Empty: each process paces on its own, which is how it starts. Any thread.
void SetPacingFolder(std::u16string folder);

/// The folder SetPacingFolder named last; empty when none.
std::u16string PacingFolder();

/// Waits for a turn of a request to `url` under the manners of `settings` (RequestInterval,
/// MaxConnections), asking settings.Cancelled at least every 100 ms. Blocks; any thread.
CSiteTurn WaitForSiteTurn(std::u16string_view url, const FetchSettings& settings);

/// The header line "User-Agent: ..." the fetcher sends unless a request's Headers name one.
std::string_view DefaultUserAgentLine();

/// A short English line for logs and the terminal saying how `result` went wrong: libcurl's words
/// and code ("Could not resolve host: nohost.invalid (curl 6)"), "HTTP 403" for a completed
/// answer of status 400 or more, "cancelled", or the failure's name and status for a page that
/// was blocked or could not be inflated. Empty for a success.
std::string FetchFailureText(const FetchResult& result);

/// The Location of a 302 answer as wide text, decoded from the ANSI code page.
std::u16string LocationText(const FetchResult& result);

/// The header lines of a rule's RequestHeaders text, for FetchSettings::Headers: one line per
/// line of `ruleText` (split at LF, CR dropped), encoded as UTF-8, without the white space at
/// either end; blank lines and lines without a header name before ":" are left out.
std::vector<std::string> RequestHeaderLines(std::u16string_view ruleText);

/// Inflates a gzip, zlib or raw-deflate `body` into `output` (replaced). 0 on success; -1, with
/// `output` empty, when the body is none of these or would inflate to more than `outputLimit`.
/// A body that ends early yields what it held. Does not block.
int InflateBody(std::string_view body, std::string& output,
                std::size_t outputLimit = kInflateLimit);

} // namespace velunor
