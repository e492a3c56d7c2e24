#include "net/fetcher.h"

#include "core/core.h"
#include "net/internal/inflate_body.h"
#include "net/internal/transfer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace velunor {
namespace {

using Clock = std::chrono::steady_clock;
using internal::RunTransfer;
using internal::TransferAnswer;
using internal::TransferOutcome;

constexpr std::string_view kGzipField = "Content-Encoding: gzip";
// How often a wait before a retry looks at the cancel test.
constexpr auto kCancelCheck = std::chrono::milliseconds(100);
// The most of a file's body that is kept for IsBlocked (1 MB, as the settings say); a larger
// body is no page of refusal.
constexpr std::size_t kBlockedSampleLimit = 1024 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const {
        std::fclose(file);
    }
};

// The file that FetchToFile appends to, opened when the first chunk arrives so that an empty
// body creates no file.
struct FileSink {
    std::string path;
    std::unique_ptr<std::FILE, FileCloser> file;
    // The file's size before the fetch, -1 when there was none: what a retry or a refused body
    // puts it back to.
    off_t sizeBefore = -1;
    // The body as it arrives, for IsBlocked, while it is no larger than a page of refusal.
    bool keepSample = false;
    std::string sample;
};

// Puts the file back as it was before the fetch: removed, or cut to its former size.
void RestoreFile(FileSink& sink) {
    sink.file.reset();
    if (sink.sizeBefore < 0) {
        unlink(sink.path.c_str());
    } else {
        truncate(sink.path.c_str(), sink.sizeBefore);
    }
}

bool AppendToBuffer(std::string_view chunk, void* buffer) {
    static_cast<std::string*>(buffer)->append(chunk);
    return true;
}

// A chunk that cannot be written stops the transfer, so a file with a hole in it is never
// reported as stored.
bool AppendToFile(std::string_view chunk, void* sinkData) {
    auto* sink = static_cast<FileSink*>(sinkData);
    if (sink->file == nullptr) {
        sink->file.reset(std::fopen(sink->path.c_str(), "ab"));
    }
    if (sink->file == nullptr) {
        return false;
    }
    if (sink->keepSample) {
        sink->keepSample = sink->sample.size() + chunk.size() <= kBlockedSampleLimit;
        if (sink->keepSample) {
            sink->sample.append(chunk);
        } else {
            sink->sample.clear();
        }
    }
    bool written = std::fwrite(chunk.data(), 1, chunk.size(), sink->file.get()) == chunk.size();
    return written && std::fflush(sink->file.get()) == 0;
}

// Puts the page's bytes in `page`: the body itself, or its inflated form when the server says
// it is gzip. When it cannot be inflated, `page` is empty and the failure says why. An inflated
// body is held to the settings' BodyLimit too: a small body may inflate to far more.
FetchFailure PageBytes(std::string body, std::string_view headers, const FetchSettings& settings,
                       std::string& page) {
    if (headers.find(kGzipField) == std::string_view::npos) {
        page = std::move(body);
        return FetchFailure::None;
    }
    std::size_t limit = kInflateLimit;
    if (settings.BodyLimit != 0 && settings.BodyLimit < limit) {
        limit = static_cast<std::size_t>(settings.BodyLimit);
    }
    switch (internal::InflateWithin(body, page, limit)) {
    case internal::InflateOutcome::Inflated:
        return FetchFailure::None;
    case internal::InflateOutcome::OverLimit:
        return FetchFailure::TooLarge;
    case internal::InflateOutcome::Unreadable:
        break;
    }
    return FetchFailure::BadContent;
}

// Asks the settings' IsBlocked about a page that arrived whole.
void CheckBlocked(FetchResult& result, const FetchSettings& settings, std::string_view page) {
    result.Blocked = settings.IsBlocked && settings.IsBlocked(page);
    if (result.Blocked) {
        result.Failure = FetchFailure::Blocked;
    }
}

void ClearFailure(FetchResult& result) {
    result.Blocked = false;
    result.Failure = FetchFailure::None;
    result.CurlCode = 0;
    result.CurlText.clear();
}

bool IsCancelled(const FetchSettings& settings) {
    return settings.Cancelled && settings.Cancelled();
}

// The words for a failure that libcurl has none for: one found after the transfer completed.
std::string FailureName(FetchFailure failure) {
    switch (failure) {
    case FetchFailure::None:
        return {};
    case FetchFailure::CouldNotConnect:
        return "could not connect";
    case FetchFailure::NameNotFound:
        return "host name not found";
    case FetchFailure::TimedOut:
        return "timed out";
    case FetchFailure::Tls:
        return "TLS failed";
    case FetchFailure::TooLarge:
        return "body too large";
    case FetchFailure::Cancelled:
        return "cancelled";
    case FetchFailure::BadAddress:
        return "address refused";
    case FetchFailure::TooManyRedirects:
        return "too many redirects";
    case FetchFailure::WriteFailed:
        return "file could not be written";
    case FetchFailure::BadContent:
        return "body cannot be inflated";
    case FetchFailure::Blocked:
        return "blocked by the site";
    }
    return {};
}

// Whether an attempt that ended so calls for another one.
bool CallsForRetry(TransferOutcome outcome, const TransferAnswer& answer,
                   const FetchResult& result) {
    if (outcome == TransferOutcome::Failed) {
        return answer.retryable;
    }
    if (outcome != TransferOutcome::Completed) {
        return false;
    }
    switch (result.StatusCode) {
    case 429: // too many requests
    case 500:
    case 502:
    case 503:
    case 504:
        return true;
    default:
        return result.Blocked;
    }
}

// The base delay doubled for every retry before retry `retry` (from 1); never more than
// kMaxRetryWait.
Clock::duration BackOff(const FetchSettings& settings, int retry) {
    Clock::duration wait = std::max(settings.RetryBaseDelay, std::chrono::milliseconds(0));
    for (int i = 1; i < retry && wait < kMaxRetryWait; ++i) {
        wait *= 2;
    }
    return std::min<Clock::duration>(wait, kMaxRetryWait);
}

// The wait before retry `retry` (from 1): what the answer's Retry-After asks for, or the back-off.
Clock::duration RetryWait(const FetchSettings& settings, int retry, const TransferAnswer& answer) {
    if (answer.retryAfter) {
        return std::min<Clock::duration>(*answer.retryAfter, kMaxRetryWait);
    }
    return BackOff(settings, retry);
}

// Sleeps for `wait`, looking at the cancel test every kCancelCheck; false when it turned true.
bool WaitUnlessCancelled(const FetchSettings& settings, Clock::duration wait) {
    Clock::time_point until = Clock::now() + wait;
    for (;;) {
        if (IsCancelled(settings)) {
            return false;
        }
        Clock::time_point now = Clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(until - now, kCancelCheck));
    }
}

// Runs `attempt(answer, number)` (number from 1), which sends the request once and sets
// result.Blocked, until one needs no retry or the retries of `settings` are used up; returns
// the last attempt's outcome.
template <typename Attempt>
TransferOutcome RunAttempts(FetchResult& result, std::u16string_view url,
                            const FetchSettings& settings, Attempt attempt) {
    int retries = std::max(0, settings.RetryCount);
    result.Attempts = 0;
    for (int number = 1;; ++number) {
        result.EffectiveUrl.assign(url);
        result.RedirectCount = 0;
        ClearFailure(result);
        ++result.Attempts;
        TransferAnswer answer;
        TransferOutcome outcome = attempt(answer, number);
        if (number > retries || !CallsForRetry(outcome, answer, result)) {
            return outcome;
        }
        if (!WaitUnlessCancelled(settings, RetryWait(settings, number, answer))) {
            ClearFailure(result);
            result.StatusCode = -1;
            result.Failure = FetchFailure::Cancelled;
            return TransferOutcome::Failed;
        }
    }
}

} // namespace

bool WaitBeforeRetry(const FetchSettings& settings, int retry) {
    return WaitUnlessCancelled(settings, BackOff(settings, retry));
}

std::string FetchBytes(FetchResult& result, std::u16string_view url,
                       const FetchSettings& settings) {
    std::string page;
    TransferOutcome outcome =
        RunAttempts(result, url, settings, [&](TransferAnswer& answer, int /*number*/) {
            std::string body;
            TransferOutcome sent =
                RunTransfer(result, url, settings, &AppendToBuffer, &body, answer);
            if (sent == TransferOutcome::Completed) {
                result.Failure = PageBytes(std::move(body), answer.headers, settings, page);
            }
            if (sent == TransferOutcome::Completed && result.Failure == FetchFailure::None) {
                CheckBlocked(result, settings, page);
            }
            return sent;
        });
    if (outcome != TransferOutcome::Completed || result.Failure != FetchFailure::None) {
        return {};
    }
    return page;
}

std::u16string FetchPage(FetchResult& result, std::u16string_view url,
                         const FetchSettings& settings) {
    return AnsiToWide(FetchBytes(result, url, settings));
}

bool FetchToFile(FetchResult& result, std::u16string_view url, std::u16string_view path,
                 const FetchSettings& settings) {
    FileSink sink;
    sink.path = NativePath(path);
    struct stat before {};
    if (stat(sink.path.c_str(), &before) == 0) {
        sink.sizeBefore = before.st_size;
    }
    TransferOutcome outcome =
        RunAttempts(result, url, settings, [&](TransferAnswer& answer, int number) {
            if (number > 1) {
                RestoreFile(sink);
            }
            sink.keepSample = static_cast<bool>(settings.IsBlocked);
            sink.sample.clear();
            TransferOutcome sent = RunTransfer(result, url, settings, &AppendToFile, &sink, answer);
            sink.file.reset();
            if (sent == TransferOutcome::Completed && sink.keepSample) {
                // A sample that cannot be inflated is asked about as an empty page.
                std::string page;
                PageBytes(std::move(sink.sample), answer.headers, settings, page);
                CheckBlocked(result, settings, page);
            }
            return sent;
        });
    if (result.Blocked) {
        RestoreFile(sink);
        return false;
    }
    return outcome == TransferOutcome::Completed;
}

std::string FetchFailureText(const FetchResult& result) {
    if (result.Failure == FetchFailure::None) {
        return result.StatusCode >= 400 ? "HTTP " + std::to_string(result.StatusCode) : "";
    }
    if (result.Failure == FetchFailure::Cancelled) {
        return "cancelled";
    }
    if (!result.CurlText.empty()) {
        return result.CurlText + " (curl " + std::to_string(result.CurlCode) + ")";
    }
    std::string text = FailureName(result.Failure);
    if (result.StatusCode > 0) {
        text += " (HTTP " + std::to_string(result.StatusCode) + ")";
    }
    return text;
}

std::u16string LocationText(const FetchResult& result) {
    return AnsiToWide(result.Location);
}

std::vector<std::string> RequestHeaderLines(std::u16string_view ruleText) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < ruleText.size()) {
        std::size_t end = std::min(ruleText.find(u'\n', start), ruleText.size());
        std::string line =
            internal::CleanHeaderLine(WideToUtf8(ruleText.substr(start, end - start)));
        if (!line.empty()) {
            lines.push_back(std::move(line));
        }
        start = end + 1;
    }
    return lines;
}

} // namespace velunor
