#include "net/internal/transfer.h"

#include "core/core.h"
#include "net/internal/curl_session.h"

#include <chrono>
#include <cstdio>
#include <memory>

namespace velunor::internal {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kUserAgentLine[] =
    "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 5.1; zh-CN; rv:1.9.2.15) Gecko/20110303 "
    "Firefox/3.6.15";
constexpr char kAcceptLine[] =
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
constexpr std::string_view kLocationField = "Location: ";
constexpr std::string_view kLineEnd = "\r\n";
constexpr long kDnsCacheSeconds = 300;
constexpr long kConnectTimeoutMs = 10000;
constexpr long kTransferTimeoutSeconds = 10000;
constexpr long kHttpRedirectFound = 302;
// The longest the transfer loop waits for its sockets before it looks at the cancel test and the
// stall guard again.
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
    BodySink sink;
    void* sinkData;
    std::string* headers;
    Clock::time_point lastReceived;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TransferState*>(user);
    size_t bytes = size * count;
    state->lastReceived = Clock::now();
    if (!state->sink(std::string_view(data, bytes), state->sinkData)) {
        return 0;
    }
    return bytes;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TransferState*>(user);
    size_t bytes = size * count;
    state->lastReceived = Clock::now();
    state->headers->append(data, bytes);
    return bytes;
}

HeaderList BuildHeaderList() {
    HeaderList list(curl_slist_append(nullptr, kUserAgentLine));
    if (list == nullptr) {
        return nullptr;
    }
    curl_slist* extended = curl_slist_append(list.get(), kAcceptLine);
    if (extended == nullptr) {
        return nullptr;
    }
    return list;
}

void SetOptions(CURL* easy, curl_slist* headerList, const std::string& url, TransferState& state) {
    curl_easy_setopt(easy, CURLOPT_SHARE, CurlSession::Instance().DnsShare());
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
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, kTransferTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &state);
    // The fetcher may run on threads that must not be interrupted by libcurl's alarm signals.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A transfer cancelled while its name is still being resolved would otherwise wait for the
    // resolver thread to finish; this leaves that thread to end on its own.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
#endif
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

// Drives the transfer in its own multi handle rather than with curl_easy_perform, which looks at
// its progress callback only about once a second while nothing arrives: here the cancel test and
// the stall guard are checked after every wait of at most kPollIntervalMs, so a job can end a
// transfer promptly even while it is connecting or its server is silent.
CURLcode Perform(CURL* easy, const FetchSettings& settings, const TransferState& state) {
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
            return CURLE_ABORTED_BY_CALLBACK;
        }
        if (Clock::now() - state.lastReceived > settings.StallTimeout) {
            return CURLE_OPERATION_TIMEDOUT;
        }
        if (curl_multi_poll(multi.get(), nullptr, 0, kPollIntervalMs, nullptr) != CURLM_OK) {
            return CURLE_RECV_ERROR;
        }
    }
}

// The value of the first "Location: " field, up to its line end; empty when there is none.
std::string FindLocation(std::string_view headers) {
    std::size_t start = headers.find(kLocationField);
    if (start == std::string_view::npos) {
        return {};
    }
    std::string_view rest = headers.substr(start + kLocationField.size());
    return std::string(rest.substr(0, rest.find(kLineEnd)));
}

void RecordAnswer(CURL* easy, FetchResult& result, std::string_view headers) {
    long code = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
    result.StatusCode = static_cast<std::int32_t>(code);
    if (code == kHttpRedirectFound) {
        result.Location = FindLocation(headers);
    }
}

} // namespace

TransferOutcome RunTransfer(FetchResult& result, std::u16string_view url,
                            const FetchSettings& settings, BodySink sink, void* sinkData,
                            std::string& headers) {
    if (IsCancelled(settings)) {
        result.StatusCode = -1;
        return TransferOutcome::Failed;
    }
    if (!CurlSession::Instance().Ready()) {
        return TransferOutcome::NotStarted;
    }
    EasyHandle easy(curl_easy_init());
    if (easy == nullptr) {
        return TransferOutcome::NotStarted;
    }
    HeaderList headerList = BuildHeaderList();
    if (headerList == nullptr) {
        return TransferOutcome::NotStarted;
    }
    std::string address = EscapeControlBytes(WideToAnsi(url));
    TransferState state{sink, sinkData, &headers, Clock::now()};
    SetOptions(easy.get(), headerList.get(), address, state);
    if (Perform(easy.get(), settings, state) != CURLE_OK) {
        result.StatusCode = -1;
        return TransferOutcome::Failed;
    }
    RecordAnswer(easy.get(), result, headers);
    return TransferOutcome::Completed;
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

} // namespace velunor::internal
