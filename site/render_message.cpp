// The pipe messages between velunor-cli and its renderer program.

#include "site/render_message.h"

#include "core/core.h"

#include <cerrno>
#include <charconv>
#include <string_view>

#include <unistd.h>

namespace velunor {
namespace {

// A page may be as large as a fetched one, and the cookies and headers come on top.
constexpr std::size_t kMostFieldBytes = kPageFileLimit + 1024 * 1024;
constexpr std::size_t kMostFields = 10000;
constexpr std::size_t kMostLineBytes = 256;

constexpr char kRender[] = "render";
constexpr char kCancel[] = "cancel";
constexpr char kPage[] = "page";

bool ParseNumber(std::string_view text, std::uint64_t& number) {
    if (text.empty()) {
        return false;
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

// Splits "a b" at its last space; false when there is none.
bool SplitLast(std::string_view line, std::string_view& head, std::string_view& number) {
    const std::size_t space = line.rfind(' ');
    if (space == std::string_view::npos) {
        return false;
    }
    head = line.substr(0, space);
    number = line.substr(space + 1);
    return true;
}

void Add(RenderMessage& message, const char* name, std::string value) {
    message.Fields.emplace_back(name, std::move(value));
}

void AddWide(RenderMessage& message, const char* name, std::u16string_view value) {
    Add(message, name, WideToUtf8(value));
}

const char* FailureName(RenderFailure failure) {
    switch (failure) {
    case RenderFailure::None:
        return "none";
    case RenderFailure::Unavailable:
        return "unavailable";
    case RenderFailure::TimedOut:
        return "timed-out";
    case RenderFailure::Cancelled:
        return "cancelled";
    case RenderFailure::BadAddress:
        return "bad-address";
    case RenderFailure::LoadFailed:
        return "load-failed";
    }
    return "none";
}

RenderFailure FailureOfName(std::string_view name) {
    for (RenderFailure failure :
         {RenderFailure::Unavailable, RenderFailure::TimedOut, RenderFailure::Cancelled,
          RenderFailure::BadAddress, RenderFailure::LoadFailed}) {
        if (name == FailureName(failure)) {
            return failure;
        }
    }
    return RenderFailure::None;
}

} // namespace

std::string EncodeRenderMessage(const RenderMessage& message) {
    std::string bytes = message.Kind + ' ' + std::to_string(message.Load) + ' ' +
                        std::to_string(message.Fields.size()) + '\n';
    for (const auto& [name, value] : message.Fields) {
        bytes += name + ' ' + std::to_string(value.size()) + '\n';
        bytes += value;
        bytes += '\n';
    }
    return bytes;
}

bool CRenderMessageReader::Fill() {
    if (position_ > 0) {
        buffer_.erase(0, position_);
        position_ = 0;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t count = read(descriptor_, chunk, sizeof chunk);
        if (count > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(count));
            return true;
        }
        if (count == 0 || errno != EINTR) {
            return false;
        }
    }
}

bool CRenderMessageReader::ReadLine(std::string& line) {
    for (;;) {
        const std::size_t end = buffer_.find('\n', position_);
        if (end != std::string::npos) {
            line.assign(buffer_, position_, end - position_);
            position_ = end + 1;
            return line.size() <= kMostLineBytes;
        }
        if (buffer_.size() - position_ > kMostLineBytes || !Fill()) {
            return false;
        }
    }
}

bool CRenderMessageReader::ReadBytes(std::size_t count, std::string& bytes) {
    // The field and the line end after it.
    while (buffer_.size() - position_ < count + 1) {
        if (!Fill()) {
            return false;
        }
    }
    if (buffer_[position_ + count] != '\n') {
        return false;
    }
    bytes.assign(buffer_, position_, count);
    position_ += count + 1;
    return true;
}

bool CRenderMessageReader::Next(RenderMessage& message) {
    message = RenderMessage{};
    std::string line;
    if (!ReadLine(line)) {
        return false;
    }
    std::string_view head;
    std::string_view countText;
    std::string_view loadText;
    std::uint64_t fieldCount = 0;
    if (!SplitLast(line, head, countText) || !ParseNumber(countText, fieldCount) ||
        fieldCount > kMostFields || !SplitLast(head, head, loadText) ||
        !ParseNumber(loadText, message.Load) || head.empty()) {
        return false;
    }
    message.Kind = head;
    for (std::uint64_t i = 0; i < fieldCount; ++i) {
        std::string_view name;
        std::string_view sizeText;
        std::uint64_t size = 0;
        if (!ReadLine(line) || !SplitLast(line, name, sizeText) || !ParseNumber(sizeText, size) ||
            size > kMostFieldBytes) {
            return false;
        }
        std::pair<std::string, std::string> field{std::string(name), {}};
        if (!ReadBytes(static_cast<std::size_t>(size), field.second)) {
            return false;
        }
        message.Fields.push_back(std::move(field));
    }
    return true;
}

RenderMessage RenderRequestMessage(std::uint64_t load, const RenderRequest& request) {
    RenderMessage message{kRender, load, {}};
    AddWide(message, "url", request.Url);
    for (const std::string& header : request.Headers) {
        Add(message, "header", header);
    }
    Add(message, "referer", request.Referer);
    if (request.PostBody) {
        Add(message, "post-body", *request.PostBody);
    }
    Add(message, "timeout-ms", std::to_string(request.Timeout.count()));
    AddWide(message, "script", request.Script);
    for (const std::string& cookie : request.Cookies) {
        Add(message, "cookie", cookie);
    }
    AddWide(message, "site-url", request.SiteUrl);
    AddWide(message, "blocked-page-pattern", request.BlockedPagePattern);
    return message;
}

bool ReadRenderRequest(const RenderMessage& message, RenderRequest& request) {
    if (message.Kind != kRender) {
        return false;
    }
    request = RenderRequest{};
    for (const auto& [name, value] : message.Fields) {
        if (name == "url") {
            request.Url = Utf8ToWide(value);
        } else if (name == "header") {
            request.Headers.push_back(value);
        } else if (name == "referer") {
            request.Referer = value;
        } else if (name == "post-body") {
            request.PostBody = value;
        } else if (name == "timeout-ms") {
            std::uint64_t milliseconds = 0;
            if (ParseNumber(value, milliseconds)) {
                request.Timeout = std::chrono::milliseconds(milliseconds);
            }
        } else if (name == "script") {
            request.Script = Utf8ToWide(value);
        } else if (name == "cookie") {
            request.Cookies.push_back(value);
        } else if (name == "site-url") {
            request.SiteUrl = Utf8ToWide(value);
        } else if (name == "blocked-page-pattern") {
            request.BlockedPagePattern = Utf8ToWide(value);
        }
    }
    return !request.Url.empty();
}

RenderMessage RenderedPageMessage(std::uint64_t load, const RenderedPage& page) {
    RenderMessage message{kPage, load, {}};
    AddWide(message, "url", page.Url);
    AddWide(message, "html", page.Html);
    AddWide(message, "challenge", page.Challenge);
    for (const std::string& cookie : page.Cookies) {
        Add(message, "cookie", cookie);
    }
    Add(message, "failure", FailureName(page.Failure));
    Add(message, "detail", page.Detail);
    return message;
}

bool ReadRenderedPage(const RenderMessage& message, RenderedPage& page) {
    if (message.Kind != kPage) {
        return false;
    }
    page = RenderedPage{};
    for (const auto& [name, value] : message.Fields) {
        if (name == "url") {
            page.Url = Utf8ToWide(value);
        } else if (name == "html") {
            page.Html = Utf8ToWide(value);
        } else if (name == "challenge") {
            page.Challenge = Utf8ToWide(value);
        } else if (name == "cookie") {
            page.Cookies.push_back(value);
        } else if (name == "failure") {
            page.Failure = FailureOfName(value);
        } else if (name == "detail") {
            page.Detail = value;
        }
    }
    return true;
}

RenderMessage CancelRenderMessage(std::uint64_t load) {
    return RenderMessage{kCancel, load, {}};
}

} // namespace velunor
