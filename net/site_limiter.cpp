// The process-wide limiter of requests per site.

#include "net/internal/site_limiter.h"

#include "core/core.h"
#include "net/fetcher.h"
#include "net/internal/shared_pacing.h"

#include <algorithm>

namespace velunor::internal {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kCancelCheck = std::chrono::milliseconds(100);

} // namespace

CSiteLimiter::Slot::Slot(Slot&& other) noexcept
    : limiter_(other.limiter_), host_(std::move(other.host_)) {
    other.limiter_ = nullptr;
}

CSiteLimiter::Slot& CSiteLimiter::Slot::operator=(Slot&& other) noexcept {
    if (this != &other) {
        if (limiter_ != nullptr) {
            limiter_->Release(host_);
        }
        limiter_ = other.limiter_;
        host_ = std::move(other.host_);
        other.limiter_ = nullptr;
    }
    return *this;
}

CSiteLimiter::Slot::~Slot() {
    if (limiter_ != nullptr) {
        limiter_->Release(host_);
    }
}

CSiteLimiter::Slot CSiteLimiter::Acquire(const std::string& host, const SiteLimits& limits,
                                         const std::function<bool()>& cancelled) {
    Slot slot = AcquireInProcess(host, limits, cancelled);
    if (!slot || limits.RequestInterval <= std::chrono::milliseconds::zero()) {
        return slot;
    }
    std::u16string folder = SharedFolder();
    if (folder.empty()) {
        return slot;
    }
    // The slot stays held while other processes' requests go first, so this process's own
    // requests keep their order and their count in flight.
    if (!WaitForSharedTurn(folder, host, limits.RequestInterval, cancelled)) {
        return {};
    }
    NoteStart(host, limits.RequestInterval);
    return slot;
}

CSiteLimiter::Slot CSiteLimiter::AcquireInProcess(const std::string& host, const SiteLimits& limits,
                                                  const std::function<bool()>& cancelled) {
    int most = std::max(1, limits.MaxConnections);
    std::unique_lock guard(lock_);
    for (;;) {
        if (cancelled && cancelled()) {
            return {};
        }
        HostState& state = hosts_[host];
        Clock::time_point now = Clock::now();
        if (state.inFlight < most && now >= state.nextStart) {
            ++state.inFlight;
            state.nextStart = now + limits.RequestInterval;
            return Slot(this, host);
        }
        Clock::time_point wakeUp = now + kCancelCheck;
        if (state.inFlight < most) {
            wakeUp = std::min(wakeUp, state.nextStart);
        }
        released_.wait_until(guard, wakeUp);
    }
}

void CSiteLimiter::NoteStart(const std::string& host, std::chrono::milliseconds interval) {
    std::lock_guard guard(lock_);
    HostState& state = hosts_[host];
    state.nextStart = std::max(state.nextStart, Clock::now() + interval);
}

void CSiteLimiter::SetSharedFolder(std::u16string folder) {
    std::lock_guard guard(lock_);
    sharedFolder_ = std::move(folder);
}

std::u16string CSiteLimiter::SharedFolder() {
    std::lock_guard guard(lock_);
    return sharedFolder_;
}

void CSiteLimiter::Release(const std::string& host) {
    {
        std::lock_guard guard(lock_);
        HostState& state = hosts_[host];
        --state.inFlight;
    }
    released_.notify_all();
}

CSiteLimiter& ProcessSiteLimiter() {
    static auto* limiter = new CSiteLimiter;
    return *limiter;
}

std::string SiteHostOf(std::string_view url) {
    size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return {};
    }
    std::string_view rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    // Credentials before "@" are not part of the site's name.
    size_t at = rest.rfind('@');
    if (at != std::string_view::npos) {
        rest = rest.substr(at + 1);
    }
    std::string host(rest);
    std::transform(host.begin(), host.end(), host.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return host;
}

} // namespace velunor::internal

namespace velunor {

struct CSiteTurn::Held {
    internal::CSiteLimiter::Slot slot;
};

CSiteTurn::CSiteTurn() = default;
CSiteTurn::~CSiteTurn() = default;
CSiteTurn::CSiteTurn(CSiteTurn&&) noexcept = default;
CSiteTurn& CSiteTurn::operator=(CSiteTurn&&) noexcept = default;

CSiteTurn::operator bool() const {
    return held_ != nullptr && static_cast<bool>(held_->slot);
}

void SetPacingFolder(std::u16string folder) {
    internal::ProcessSiteLimiter().SetSharedFolder(std::move(folder));
}

std::u16string PacingFolder() {
    return internal::ProcessSiteLimiter().SharedFolder();
}

CSiteTurn WaitForSiteTurn(std::u16string_view url, const FetchSettings& settings) {
    CSiteTurn turn;
    internal::CSiteLimiter::Slot slot = internal::ProcessSiteLimiter().Acquire(
        internal::SiteHostOf(WideToAnsi(url)),
        internal::SiteLimits{settings.RequestInterval, settings.MaxConnections},
        settings.Cancelled);
    if (slot) {
        turn.held_ = std::make_unique<CSiteTurn::Held>(CSiteTurn::Held{std::move(slot)});
    }
    return turn;
}

} // namespace velunor
