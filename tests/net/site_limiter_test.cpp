#include "net/internal/site_limiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace velunor::internal {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Each thread takes a slot, holds it for `hold`, and gives it back; returns the start times.
std::vector<Clock::time_point> RunRequests(CSiteLimiter& limiter, const std::string& host,
                                           const SiteLimits& limits, int count, milliseconds hold,
                                           int* mostInFlight) {
    std::mutex mutex;
    std::vector<Clock::time_point> starts;
    std::atomic<int> inFlight{0};
    std::atomic<int> most{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&] {
            CSiteLimiter::Slot slot = limiter.Acquire(host, limits, {});
            int now = ++inFlight;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            {
                std::lock_guard lock(mutex);
                starts.push_back(Clock::now());
            }
            std::this_thread::sleep_for(hold);
            --inFlight;
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::sort(starts.begin(), starts.end());
    if (mostInFlight != nullptr) {
        *mostInFlight = most.load();
    }
    return starts;
}

TEST(SiteLimiter, StartsOfRequestsToOneSiteKeepTheirInterval) {
    CSiteLimiter limiter;
    std::vector<Clock::time_point> starts =
        RunRequests(limiter, "a.test", {milliseconds(80), 5}, 6, milliseconds(0), nullptr);
    ASSERT_EQ(starts.size(), 6u);
    for (size_t i = 1; i < starts.size(); ++i) {
        EXPECT_GE(starts[i] - starts[i - 1], milliseconds(79)) << "request " << i;
    }
}

TEST(SiteLimiter, NeverMoreInFlightThanTheSiteAllows) {
    CSiteLimiter limiter;
    int most = 0;
    RunRequests(limiter, "a.test", {milliseconds(0), 2}, 8, milliseconds(40), &most);
    EXPECT_EQ(most, 2);
    RunRequests(limiter, "b.test", {milliseconds(0), 0}, 4, milliseconds(20), &most);
    EXPECT_EQ(most, 1) << "no connection limit below one";
}

TEST(SiteLimiter, SitesDoNotWaitForEachOther) {
    CSiteLimiter limiter;
    SiteLimits slow{milliseconds(10000), 1};
    CSiteLimiter::Slot first = limiter.Acquire("slow.test", slow, {});
    ASSERT_TRUE(first);
    auto before = Clock::now();
    CSiteLimiter::Slot other = limiter.Acquire("other.test", slow, {});
    EXPECT_TRUE(other);
    EXPECT_LT(Clock::now() - before, milliseconds(50));
}

TEST(SiteLimiter, ACancelledWaitEndsWithoutASlot) {
    CSiteLimiter limiter;
    SiteLimits one{milliseconds(0), 1};
    CSiteLimiter::Slot held = limiter.Acquire("a.test", one, {});
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(milliseconds(150));
        cancel = true;
    });
    auto before = Clock::now();
    CSiteLimiter::Slot waited = limiter.Acquire("a.test", one, [&] { return cancel.load(); });
    auto took = Clock::now() - before;
    canceller.join();
    EXPECT_FALSE(waited);
    EXPECT_LT(took, milliseconds(1000));
    // The cancelled wait took nothing: once the holder is done, the next request goes at once.
    held = CSiteLimiter::Slot();
    EXPECT_TRUE(limiter.Acquire("a.test", one, {}));
}

TEST(SiteLimiter, TheSiteIsItsHostAndPortInAnyCase) {
    EXPECT_EQ(SiteHostOf("http://WWW.Site.com/Book/1.html"), "www.site.com");
    EXPECT_EQ(SiteHostOf("https://a.test:8443?q=1"), "a.test:8443");
    EXPECT_EQ(SiteHostOf("http://user:pw@a.test/x"), "a.test");
    EXPECT_EQ(SiteHostOf("no scheme"), "");
}

} // namespace
} // namespace velunor::internal
