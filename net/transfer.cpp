#include "net/internal/transfer.h"

#include "core/core.h"
#include "net/internal/cookie_jar_access.h"
#include "net/internal/curl_session.h"
#include "net/internal/site_limiter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace velunor::internal {

// The headers of a current desktop browser, which sites expect; a rule may replace any of them.
constexpr std::string_view kDefaultHeaders[] = {
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36",
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
    "Accept-Language: zh-CN,zh;q=0.9",
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kFormContentType = "Content-Type: application/x-www-form-urlencoded";
// Headers that describe how the bytes travel, which the fetcher sets itself: a rule's value
// would break the framing of the request or ask for an encoding the fetcher cannot undo.
constexpr std::string_view kFetcherOwnedHeaders[] = {"Content-Length", "Transfer-Encoding",
                                                     "Accept-Encoding"};
constexpr long kDnsCacheSeconds = 300;
constexpr long kConnectTimeoutMs = 10000;
constexpr long kHttpRedirectFound = 302;
constexpr long kHttpSeeOther = 303;
// The only schemes a request or a redirect may use, in libcurl's spelling.
constexpr char kFetchableSchemes[] = "http,https";
// The longest the transfer loop waits for its sockets before it looks at the cancel test, the
// stall guard and the low-speed check again.
constexpr int kPollIntervalMs = 100;

struct EasyDeleter {
    void operator()(CURL* easy) const {
        curl_easy_cleanup(easy);
    }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const {
        curl_multi_cleanup(multi);
    }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const {
        curl_slist_free_all(list);
    }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, HeaderListDeleter>;

// Keeps an easy handle in a multi handle for as long as it lives. libcurl wants the easy handle
// taken out before either handle is cleaned up, so this is declared after both owners.
class Attachment {
  public:
    Attachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        attached_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    }
    ~Attachment() {
        if (attached_) {
            curl_multi_remove_handle(multi_, easy_);
        }
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

    bool Attached() const {
        return attached_;
    }

  private:
    CURLM* multi_;
    CURL* easy_;
    bool attached_ = false;
};

// What the callbacks of one transfer share; lives on the calling thread's stack.
struct TransferState {
    CURL* easy;
    BodySink sink;
    void* sinkData;
    std::string* headers;
    Clock::time_point lastReceived;
    std::uint64_t bodyLimit = 0;
    std::uint64_t bodyBytes = 0;
    // The span over which the low-speed check counts bytes; it opens with the first byte, so
    // that waiting for an answer is left to the stall guard.
    bool receivedAny = false;
    Clock::time_point spanStart{};
    std::uint64_t spanBytes = 0;
    // Set when some answer of the transfer set a cookie.
    bool setCookie = false;
    // Set when the answer is a redirect that will be followed: its body is nobody's.
    bool followRedirects = false;
    bool discardBody = false;
    // Set when the fetcher itself ended the transfer, with its words for why; libcurl then only
    // knows that a callback or the transfer loop gave up.
    FetchFailure stoppedFor = FetchFailure::None;
    std::string stopText{};
    // libcurl's words for a failure, filled by libcurl itself.
    char errorBuffer[CURL_ERROR_SIZE] = {};
};

void NoteStop(TransferState& state, FetchFailure kind, std::string text) {
    state.stoppedFor = kind;
    state.stopText = std::move(text);
}

std::string Milliseconds(std::chrono::milliseconds span) {
    return std::to_string(span.count()) + " ms";
}

void NoteReceived(TransferState& state, size_t bytes) {
    state.lastReceived = Clock::now();
    if (!state.receivedAny) {
        state.receivedAny = true;
        state.spanStart = state.lastReceived;
    }
    state.spanBytes += bytes;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TransferState*>(user);
    size_t bytes = size * count;
    NoteReceived(*state, bytes);
    if (state->discardBody) {
        return bytes;
    }
    state->bodyBytes += bytes;
    // A body without a Content-Length, or one that sends more than it announced, is stopped
    // here rather than by libcurl's size check, which looks only at the announcement.
    if (state->bodyLimit != 0 && state->bodyBytes > state->bodyLimit) {
        NoteStop(*state, FetchFailure::TooLarge,
                 "Body larger than the limit of " + std::to_string(state->bodyLimit) + " bytes");
        return 0;
    }
    if (!state->sink(std::string_view(data, bytes), state->sinkData)) {
        NoteStop(*state, FetchFailure::WriteFailed, "Could not write the body to its file");
        return 0;
    }
    return bytes;
}

// The value of the answer's first header `name`, looked up by name as libcurl parsed it, so
// that neither the name's case nor a header such as Content-Location can mislead; empty when
// there is none. libcurl leaves the line's CR in an empty value, so line ends are trimmed too.
std::string HeaderValue(CURL* easy, const char* name) {
    curl_header* header = nullptr;
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return {};
    }
    std::string_view value = header->value;
    std::size_t first = value.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(value.substr(first, value.find_last_not_of(" \t\r\n") + 1 - first));
}

std::string FindLocation(CURL* easy) {
    return HeaderValue(easy, "Location");
}

bool IsRedirect(long code) {
    return code == 301 || code == kHttpRedirectFound || code == kHttpSeeOther || code == 307 ||
           code == 308;
}

bool IsSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimSpace(std::string_view text) {
    while (!text.empty() && IsSpaceOrTab(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSpaceOrTab(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The name of a cleaned header line: what comes before its ":".
std::string_view HeaderName(std::string_view line) {
    return TrimSpace(line.substr(0, line.find(':')));
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
               return lower(x) == lower(y);
           });
}

// True for a Set-Cookie header line, whatever the case of its name.
bool IsSetCookie(std::string_view line) {
    return line.find(':') != std::string_view::npos && SameName(HeaderName(line), "Set-Cookie");
}

// Keeps the headers of the latest answer only: an interim "100 Continue" has its own, and so
// does a redirect. Once an answer's headers are complete, a redirect that will be followed has
// its body thrown away.
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TransferState*>(user);
    size_t bytes = size * count;
    std::string_view line(data, bytes);
    NoteReceived(*state, bytes);
    if (line.starts_with("HTTP/")) {
        state->headers->clear();
        state->discardBody = false;
    }
    state->headers->append(line);
    if (IsSetCookie(line)) {
        state->setCookie = true;
    }
    if (state->followRedirects && (line == "\r\n" || line == "\n")) {
        long code = 0;
        curl_easy_getinfo(state->easy, CURLINFO_RESPONSE_CODE, &code);
        state->discardBody = IsRedirect(code) && !FindLocation(state->easy).empty();
    }
    return bytes;
}

bool NamesAny(const std::vector<std::string>& lines, std::string_view name) {
    return std::any_of(lines.begin(), lines.end(), [name](const std::string& line) {
        return SameName(HeaderName(line), name);
    });
}

// The header lines of one request: the caller's own, and the defaults, the Referer and the form
// type that they do not name. A GET that a redirect made of a POST sends no Content-Type.
std::vector<std::string> RequestHeaders(const FetchSettings& settings, bool post) {
    std::vector<std::string> own;
    for (const std::string& line : settings.Headers) {
        std::string clean = CleanHeaderLine(line);
        std::string_view name = HeaderName(clean);
        bool owned = std::any_of(std::begin(kFetcherOwnedHeaders), std::end(kFetcherOwnedHeaders),
                                 [name](std::string_view other) { return SameName(name, other); });
        // Cookie lines go with the jar's cookies (see OwnCookies).
        if (clean.empty() || owned || SameName(name, "Cookie") ||
            (!post && SameName(name, "Content-Type"))) {
            continue;
        }
        own.push_back(std::move(clean));
    }
    std::vector<std::string> lines;
    for (std::string_view line : kDefaultHeaders) {
        if (!NamesAny(own, HeaderName(line))) {
            lines.emplace_back(line);
        }
    }
    std::string referer = CleanHeaderLine("Referer: " + settings.Referer);
    if (!settings.Referer.empty() && !referer.empty() && !NamesAny(own, "Referer")) {
        lines.push_back(std::move(referer));
    }
    if (post && !NamesAny(own, "Content-Type")) {
        lines.emplace_back(kFormContentType);
    }
    // libcurl would hold back a larger body until the server agrees to take it, which costs a
    // second with servers that never answer "100 Continue"; browsers send the body at once.
    if (!NamesAny(own, "Expect")) {
        lines.emplace_back("Expect:");
    }
    lines.insert(lines.end(), std::make_move_iterator(own.begin()),
                 std::make_move_iterator(own.end()));
    return lines;
}

// The values of the caller's Cookie lines, joined as one Cookie line joins them. libcurl sends
// them after the jar's cookies in the one Cookie line a request may carry; as a header line of
// their own they would make a second one, which servers read in different ways.
std::string OwnCookies(const FetchSettings& settings) {
    std::string cookies;
    for (const std::string& line : settings.Headers) {
        std::string clean = CleanHeaderLine(line);
        if (clean.empty() || !SameName(HeaderName(clean), "Cookie")) {
            continue;
        }
        std::string_view value = TrimSpace(std::string_view(clean).substr(clean.find(':') + 1));
        if (value.empty()) {
            continue;
        }
        if (!cookies.empty()) {
            cookies += "; ";
        }
        cookies += value;
    }
    return cookies;
}

HeaderList BuildHeaderList(const std::vector<std::string>& lines) {
    HeaderList list;
    for (const std::string& line : lines) {
        curl_slist* extended = curl_slist_append(list.get(), line.c_str());
        if (extended == nullptr) {
            return nullptr;
        }
        list.release();
        list.reset(extended);
    }
    return list;
}

// Keeps libcurl to http and https, for the first request and for any redirect, whatever the
// address says. False when libcurl refuses the restriction: then nothing may be fetched.
bool RestrictSchemes(CURL* easy) {
#if LIBCURL_VERSION_NUM >= 0x075500
    return curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, kFetchableSchemes) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, kFetchableSchemes) == CURLE_OK;
#else
    long schemes = CURLPROTO_HTTP | CURLPROTO_HTTPS;
    return curl_easy_setopt(easy, CURLOPT_PROTOCOLS, schemes) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS, schemes) == CURLE_OK;
#endif
}

// CURLE_OK when `url` is one that libcurl would fetch over http or https; otherwise the code
// libcurl gives such an address, with the reason in `why`. It is parsed as libcurl parses a
// request's address, guessing the scheme of an address without one as libcurl does, so that
// the answer holds for the address that libcurl is then given.
CURLcode CheckScheme(const std::string& url, std::string& why) {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (parsed == nullptr) {
        return CURLE_OUT_OF_MEMORY;
    }
    CURLUcode parse = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(),
                                   CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME);
    if (parse != CURLUE_OK) {
        why = curl_url_strerror(parse);
        return CURLE_URL_MALFORMAT;
    }
    char* scheme = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        return CURLE_URL_MALFORMAT;
    }
    bool fetchable = curl_strequal(scheme, "http") != 0 || curl_strequal(scheme, "https") != 0;
    if (!fetchable) {
        why = std::string("Protocol \"") + scheme + "\" refused: only http and https are fetched";
    }
    curl_free(scheme);
    return fetchable ? CURLE_OK : CURLE_UNSUPPORTED_PROTOCOL;
}

void SetLimits(CURL* easy, const FetchSettings& settings) {
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(settings.TotalTimeout.count()));
    // Refuses an answer whose Content-Length is over the limit before its body is read.
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(settings.BodyLimit));
}

void SetOptions(CURL* easy, curl_slist* headerList, const std::string& url, TransferState& state) {
    curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, kDnsCacheSeconds);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    // Advertise gzip but hand the body over still encoded: FetchPage inflates it itself.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip");
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    // HTTP/2 would deliver header names in lower case, and the header tests are case-sensitive.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_HEADER, 0L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, state.errorBuffer);
    // The fetcher may run on threads that must not be interrupted by libcurl's alarm signals.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A transfer cancelled while its name is still being resolved would otherwise wait for the
    // resolver thread to finish; this leaves that thread to end on its own.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
#endif
}

// Sends the cookies of the request's jar and those of its Cookie lines, and keeps the answer's
// cookies in the jar. A transfer without a jar shares the process's DNS cache instead: an easy
// handle takes one share only, and each jar's share caches its site's names itself.
void SetCookies(CURL* easy, const FetchSettings& settings) {
    CURLSH* share = CurlSession::Instance().DnsShare();
    CURLSH* jarShare = nullptr;
    if (settings.Cookies != nullptr) {
        jarShare = CookieJarAccess::Share(*settings.Cookies);
    }
    if (jarShare != nullptr) {
        share = jarShare;
        // The shared jar is only read and written once the handle's cookie engine is on.
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    }
    curl_easy_setopt(easy, CURLOPT_SHARE, share);
    std::string own = OwnCookies(settings);
    if (!own.empty()) {
        curl_easy_setopt(easy, CURLOPT_COOKIE, own.c_str());
    }
}

bool IsCancelled(const FetchSettings& settings) {
    return settings.Cancelled && settings.Cancelled();
}

// The result libcurl recorded for `easy` once it finished; an error when it reported none.
CURLcode FinishedResult(CURLM* multi, CURL* easy) {
    int waiting = 0;
    CURLMsg* message = curl_multi_info_read(multi, &waiting);
    while (message != nullptr) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            return message->data.result;
        }
        message = curl_multi_info_read(multi, &waiting);
    }
    return CURLE_RECV_ERROR;
}

// True once a whole LowSpeedTime since the span opened brought fewer bytes than LowSpeedLimit a
// second asks for. A span that brought enough closes and the next one opens, so a transfer is
// judged on its recent speed, not on an average that a fast start keeps high.
bool TooSlow(const FetchSettings& settings, TransferState& state, Clock::time_point now) {
    if (settings.LowSpeedLimit == 0 || settings.LowSpeedTime.count() <= 0 || !state.receivedAny) {
        return false;
    }
    if (now - state.spanStart < settings.LowSpeedTime) {
        return false;
    }
    auto spanMs = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - state.spanStart).count());
    if (state.spanBytes * 1000 < settings.LowSpeedLimit * spanMs) {
        return true;
    }
    state.spanStart = now;
    state.spanBytes = 0;
    return false;
}

// Drives the transfer in its own multi handle rather than with curl_easy_perform, which looks at
// its progress callback only about once a second while nothing arrives: here the cancel test, the
// stall guard and the low-speed check run after every wait of at most kPollIntervalMs, so a job
// can end a transfer promptly even while it is connecting or its server is silent.
CURLcode Perform(CURL* easy, const FetchSettings& settings, TransferState& state) {
    MultiHandle multi(curl_multi_init());
    if (multi == nullptr) {
        return CURLE_OUT_OF_MEMORY;
    }
    Attachment attachment(multi.get(), easy);
    if (!attachment.Attached()) {
        return CURLE_FAILED_INIT;
    }
    while (true) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            return CURLE_RECV_ERROR;
        }
        if (running == 0) {
            return FinishedResult(multi.get(), easy);
        }
        if (IsCancelled(settings)) {
            NoteStop(state, FetchFailure::Cancelled, {});
            return CURLE_ABORTED_BY_CALLBACK;
        }
        Clock::time_point now = Clock::now();
        if (now - state.lastReceived > settings.StallTimeout) {
            NoteStop(state, FetchFailure::TimedOut,
                     "Nothing received for " + Milliseconds(settings.StallTimeout));
            return CURLE_OPERATION_TIMEDOUT;
        }
        if (TooSlow(settings, state, now)) {
            NoteStop(state, FetchFailure::TimedOut,
                     "Operation too slow: less than " + std::to_string(settings.LowSpeedLimit) +
                         " bytes/sec over " + Milliseconds(settings.LowSpeedTime));
            return CURLE_OPERATION_TIMEDOUT;
        }
        if (curl_multi_poll(multi.get(), nullptr, 0, kPollIntervalMs, nullptr) != CURLM_OK) {
            return CURLE_RECV_ERROR;
        }
    }
}

std::optional<std::chrono::seconds> FindRetryAfter(CURL* easy) {
    curl_header* header = nullptr;
    if (curl_easy_header(easy, "Retry-After", 0, CURLH_HEADER, -1, &header) != CURLHE_OK) {
        return std::nullopt;
    }
    return RetryAfterWait(header->value, std::time(nullptr));
}

// Whether sending a request that failed with `code` again may succeed: not when the caller
// ended it or it ran into a limit of its own, since the same would happen again.
bool WorthRetrying(CURLcode code) {
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_OUT_OF_MEMORY:
    case CURLE_FAILED_INIT:
        return false;
    default:
        return true;
    }
}

// The kind of failure a transfer that ended with `code` had, when the fetcher did not stop it
// itself. Whatever libcurl reports beyond these is taken for a connection that went wrong.
FetchFailure FailureOf(CURLcode code) {
    switch (code) {
    case CURLE_OK:
        return FetchFailure::None;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FetchFailure::NameNotFound;
    case CURLE_OPERATION_TIMEDOUT:
        return FetchFailure::TimedOut;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
        return FetchFailure::Tls;
    case CURLE_FILESIZE_EXCEEDED:
        return FetchFailure::TooLarge;
    case CURLE_ABORTED_BY_CALLBACK:
        return FetchFailure::Cancelled;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return FetchFailure::BadAddress;
    case CURLE_TOO_MANY_REDIRECTS:
        return FetchFailure::TooManyRedirects;
    case CURLE_WRITE_ERROR:
        return FetchFailure::WriteFailed;
    case CURLE_BAD_CONTENT_ENCODING:
        return FetchFailure::BadContent;
    default:
        return FetchFailure::CouldNotConnect;
    }
}

// Records a failure in `result`, leaving its status alone: libcurl's `code` and `text`, or its
// standard words for the code when `text` is empty. A cancel is the caller's own doing and
// carries no code.
void NoteFailure(FetchResult& result, FetchFailure kind, CURLcode code, std::string text) {
    result.Failure = kind;
    if (kind == FetchFailure::Cancelled) {
        code = CURLE_OK;
    }
    result.CurlCode = static_cast<int>(code);
    if (code == CURLE_OK) {
        result.CurlText.clear();
    } else if (text.empty()) {
        result.CurlText = curl_easy_strerror(code);
    } else {
        result.CurlText = std::move(text);
    }
}

// A request that fails before or during its transfer has no status of its own.
void Fail(FetchResult& result, FetchFailure kind, CURLcode code = CURLE_OK, std::string text = {}) {
    result.StatusCode = -1;
    NoteFailure(result, kind, code, std::move(text));
}

void NoteNotStarted(FetchResult& result) {
    NoteFailure(result, FetchFailure::CouldNotConnect, CURLE_FAILED_INIT, {});
}

// A transfer that `code` ended: the fetcher's own reason when it stopped it, libcurl's otherwise.
void FailTransfer(FetchResult& result, const TransferState& state, CURLcode code) {
    if (state.stoppedFor != FetchFailure::None) {
        Fail(result, state.stoppedFor, code, state.stopText);
    } else {
        Fail(result, FailureOf(code), code, state.errorBuffer);
    }
}

// What one hop of a request brought back.
struct HopAnswer {
    long code = 0;
    // True for a redirect that is to be followed.
    bool follow = false;
    // True when the answer, or an interim one before it, set a cookie.
    bool setCookie = false;
    // The answer's Location, read for a redirect that is followed and for a 302.
    std::string location;
    // The answer's Content-Type, read for the final answer.
    std::string contentType;
};

// One hop of a request: sends it to `address` once the site limiter gives it a turn, and holds
// that turn until the transfer ends. Records in `result` why it failed or could not start.
TransferOutcome RunHop(FetchResult& result, const std::string& address, bool post,
                       const FetchSettings& settings, BodySink sink, void* sinkData,
                       TransferAnswer& answer, HopAnswer& hop) {
    EasyHandle easy(curl_easy_init());
    if (easy == nullptr) {
        NoteNotStarted(result);
        return TransferOutcome::NotStarted;
    }
    HeaderList headerList = BuildHeaderList(RequestHeaders(settings, post));
    if (headerList == nullptr || !RestrictSchemes(easy.get())) {
        NoteNotStarted(result);
        return TransferOutcome::NotStarted;
    }
    TransferState state{easy.get(), sink, sinkData, &answer.headers, Clock::now()};
    state.bodyLimit = settings.BodyLimit;
    state.followRedirects = settings.FollowRedirects;
    SetOptions(easy.get(), headerList.get(), address, state);
    SetCookies(easy.get(), settings);
    SetLimits(easy.get(), settings);
    if (post) {
        const std::string& body = *settings.PostBody;
        curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, body.data());
    }
    answer.headers.clear();
    CSiteLimiter::Slot turn = ProcessSiteLimiter().Acquire(
        SiteHostOf(address), SiteLimits{settings.RequestInterval, settings.MaxConnections},
        settings.Cancelled);
    if (!turn) {
        Fail(result, FetchFailure::Cancelled);
        return TransferOutcome::Failed;
    }
    // The stall guard counts from the start of the transfer, not from the wait for a turn.
    state.lastReceived = Clock::now();
    CURLcode code = Perform(easy.get(), settings, state);
    hop.setCookie = state.setCookie;
    if (code != CURLE_OK) {
        answer.retryable = WorthRetrying(code);
        FailTransfer(result, state, code);
        return TransferOutcome::Failed;
    }
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &hop.code);
    hop.follow = state.discardBody;
    if (hop.follow || hop.code == kHttpRedirectFound) {
        hop.location = FindLocation(easy.get());
    }
    if (!hop.follow) {
        answer.retryAfter = FindRetryAfter(easy.get());
        hop.contentType = HeaderValue(easy.get(), "Content-Type");
    }
    return TransferOutcome::Completed;
}

// The absolute address a redirect from `base` to `location` leads to, resolved as browsers
// resolve a Location; empty when it cannot be made one.
std::string ResolveLocation(const std::string& base, const std::string& location) {
    std::u16string resolved = ResolveReference(AnsiToWide(base), AnsiToWide(location));
    return EscapeControlBytes(WideToAnsi(resolved));
}

} // namespace

// Redirects are followed here rather than by libcurl, so that every hop takes its own turn at
// the site it goes to, and the method a hop keeps is the one browsers keep.
TransferOutcome RunTransfer(FetchResult& result, std::u16string_view url,
                            const FetchSettings& settings, BodySink sink, void* sinkData,
                            TransferAnswer& answer) {
    answer.retryable = false;
    answer.retryAfter.reset();
    result.ContentType.clear();
    if (IsCancelled(settings)) {
        Fail(result, FetchFailure::Cancelled);
        return TransferOutcome::Failed;
    }
    if (!CurlSession::Instance().Ready()) {
        NoteNotStarted(result);
        return TransferOutcome::NotStarted;
    }
    std::string address = EscapeControlBytes(WideToAnsi(url));
    bool post = settings.PostBody.has_value();
    for (int redirects = 0;; ++redirects) {
        // Another scheme is refused before libcurl is given the address at all; the scheme
        // restriction of each handle stays as the guard for an address libcurl would read
        // otherwise.
        std::string why;
        CURLcode refused = CheckScheme(address, why);
        if (refused != CURLE_OK) {
            Fail(result, FailureOf(refused), refused, std::move(why));
            return TransferOutcome::Failed;
        }
        HopAnswer hop;
        TransferOutcome outcome =
            RunHop(result, address, post, settings, sink, sinkData, answer, hop);
        // Once the hop has given back its turn at the site.
        if (settings.Cookies != nullptr) {
            CookieJarAccess::AfterTransfer(*settings.Cookies, hop.setCookie);
        }
        if (outcome == TransferOutcome::NotStarted && redirects == 0) {
            return outcome;
        }
        if (outcome != TransferOutcome::Completed) {
            result.StatusCode = -1;
            return TransferOutcome::Failed;
        }
        if (!hop.follow) {
            result.StatusCode = static_cast<std::int32_t>(hop.code);
            result.ContentType = std::move(hop.contentType);
            if (hop.code == kHttpRedirectFound) {
                result.Location = std::move(hop.location);
            }
            return TransferOutcome::Completed;
        }
        if (redirects == kMaxRedirects) {
            Fail(result, FetchFailure::TooManyRedirects, CURLE_TOO_MANY_REDIRECTS,
                 "Maximum (" + std::to_string(kMaxRedirects) + ") redirects followed");
            return TransferOutcome::Failed;
        }
        std::string next = ResolveLocation(address, hop.location);
        if (next.empty()) {
            Fail(result, FetchFailure::BadAddress, CURLE_URL_MALFORMAT,
                 "Redirect target cannot be made an address");
            return TransferOutcome::Failed;
        }
        if (hop.code == 301 || hop.code == kHttpRedirectFound || hop.code == kHttpSeeOther) {
            post = false;
        }
        address = std::move(next);
        result.RedirectCount = redirects + 1;
        result.EffectiveUrl = AnsiToWide(address);
    }
}

std::string EscapeControlBytes(std::string_view url) {
    std::string escaped;
    escaped.reserve(url.size());
    for (char c : url) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", byte);
            escaped += code;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string CleanHeaderLine(std::string_view line) {
    std::string clean;
    clean.reserve(line.size());
    for (char c : line) {
        if (c != '\r' && c != '\n' && c != '\0') {
            clean += c;
        }
    }
    std::string_view trimmed = TrimSpace(clean);
    std::size_t colon = trimmed.find(':');
    if (colon == std::string_view::npos) {
        return {};
    }
    std::string_view name = TrimSpace(trimmed.substr(0, colon));
    bool validName = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7F;
    });
    return validName ? std::string(trimmed) : std::string();
}

std::optional<std::chrono::seconds> RetryAfterWait(std::string_view value, std::time_t now) {
    value = TrimSpace(value);
    if (value.empty()) {
        return std::nullopt;
    }
    const auto most = static_cast<long long>(kMaxRetryWait.count());
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        long long seconds = 0;
        for (char c : value) {
            seconds = std::min(most, seconds * 10 + (c - '0'));
        }
        return std::chrono::seconds(seconds);
    }
    std::time_t when = curl_getdate(std::string(value).c_str(), nullptr);
    if (when == -1) {
        return std::nullopt;
    }
    long long seconds =
        std::clamp(static_cast<long long>(when) - static_cast<long long>(now), 0LL, most);
    return std::chrono::seconds(seconds);
}

} // namespace velunor::internal

namespace velunor {

std::string_view DefaultUserAgentLine() {
    return internal::kDefaultHeaders[0];
}

} // namespace velunor
