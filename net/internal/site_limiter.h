#pragma once
// The manners every request to a site keeps, across the whole process: at most so many requests
// in flight at once, and a least time between the starts of two requests. A search, two
// downloads and a reader's click all go through the one limiter, keyed by the site's host, so
// together they never ask a site faster than its rule allows. With a shared pacing folder the
// interval is kept with the other processes that use the folder as well (shared_pacing.h).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace velunor::internal {

/// The limits of one site, as its rule file gives them.
struct SiteLimits {
    /// The least time between the starts of two requests.
    std::chrono::milliseconds RequestInterval{0};
    /// The most requests in flight at once; 0 or less counts as 1.
    int MaxConnections = 5;
};

class CSiteLimiter {
  public:
    /// A request's place among the site's requests in flight; given back when destroyed.
    class Slot {
      public:
        Slot() = default;
        Slot(Slot&& other) noexcept;
        Slot& operator=(Slot&& other) noexcept;
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        ~Slot();
        /// False when the wait was cancelled and the request must not start.
        explicit operator bool() const {
            return limiter_ != nullptr;
        }

      private:
        friend class CSiteLimiter;
        Slot(CSiteLimiter* limiter, std::string host) : limiter_(limiter), host_(std::move(host)) {}
        CSiteLimiter* limiter_ = nullptr;
        std::string host_;
    };

    /// Waits until a request to `host` may start under `limits`, and takes its place. Checks
    /// `cancelled` (when given) at least every 100 ms; an empty Slot when it turned true.
    /// Blocks; any thread.
    Slot Acquire(const std::string& host, const SiteLimits& limits,
                 const std::function<bool()>& cancelled);

    /// The folder (ending in "/") whose pacing files a paced request also waits on from now
    /// on; empty: the interval is kept within the process only. Any thread.
    void SetSharedFolder(std::u16string folder);
    std::u16string SharedFolder();

  private:
    struct HostState {
        int inFlight = 0;
        std::chrono::steady_clock::time_point nextStart{};
    };

    Slot AcquireInProcess(const std::string& host, const SiteLimits& limits,
                          const std::function<bool()>& cancelled);
    void Release(const std::string& host);
    /// Moves the next start of `host` to `interval` after now when it is sooner.
    void NoteStart(const std::string& host, std::chrono::milliseconds interval);

    std::u16string sharedFolder_;
    std::mutex lock_;
    std::condition_variable released_;
    std::map<std::string, HostState> hosts_;
};

/// The limiter every request of the process goes through. Never destroyed, since detached job
/// threads may still be fetching while the process ends.
CSiteLimiter& ProcessSiteLimiter();

/// The part of `url` that names the site: its host and port, lower-cased; empty when `url` has
/// no "scheme://".
std::string SiteHostOf(std::string_view url);

} // namespace velunor::internal
