#include "net/internal/site_limiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace velunor::internal {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Each of `count` threads asks for a slot at once; returns, in order, when each had its slot,
// measured from before the first asked.
std::vector<Clock::duration> SlotTimes(CSiteLimiter& limiter, const std::string& host,
                                       const SiteLimits& limits, int count) {
    std::mutex mutex;
    std::vector<Clock::time_point> taken;
    std::vector<std::thread> threads;
    Clock::time_point asked = Clock::now();
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&] {
            CSiteLimiter::Slot slot = limiter.Acquire(host, limits, {});
            std::lock_guard lock(mutex);
            taken.push_back(Clock::now());
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::sort(taken.begin(), taken.end());
    std::vector<Clock::duration> times;
    for (Clock::time_point when : taken) {
        times.push_back(when - asked);
    }
    return times;
}

// Each of `count` threads takes a slot and holds it until another request has been made to wait
// for room, or until every request has had its slot; returns the most held at once. A request
// waits in the limiter only when the site is full, so the holders let go only then: a limiter
// that keeps its limit shows exactly that many at once, one that does not shows them all.
int MostInFlight(CSiteLimiter& limiter, const std::string& host, const SiteLimits& limits,
                 int count) {
    std::mutex mutex;
    std::condition_variable changed;
    int inFlight = 0;
    int most = 0;
    int taken = 0;
    int waits = 0;
    auto noteWait = [&] {
        std::lock_guard lock(mutex);
        ++waits;
        changed.notify_all();
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&] {
            // The limiter asks once before it looks for room and again every time it wakes.
            int asks = 0;
            auto countAsks = [&] {
                if (++asks > 1) {
                    noteWait();
                }
                return false;
            };
            CSiteLimiter::Slot slot = limiter.Acquire(host, limits, countAsks);
            std::unique_lock lock(mutex);
            ++taken;
            most = std::max(most, ++inFlight);
            changed.notify_all();
            int waitsBefore = waits;
            changed.wait(lock, [&] { return waits > waitsBefore || taken == count; });
            --inFlight;
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return most;
}

TEST(SiteLimiter, StartsOfRequestsToOneSiteKeepTheirInterval) {
    // Each slot was given after the one before it and the interval; the n-th slot of six asked
    // for at once is therefore had no sooner than n intervals after they were asked for.
    CSiteLimiter limiter;
    std::vector<Clock::duration> times = SlotTimes(limiter, "a.test", {milliseconds(80), 5}, 6);
    ASSERT_EQ(times.size(), 6u);
    for (size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i], milliseconds(80) * static_cast<int>(i)) << "request " << i;
    }
}

TEST(SiteLimiter, NeverMoreInFlightThanTheSiteAllows) {
    CSiteLimiter limiter;
    EXPECT_EQ(MostInFlight(limiter, "a.test", {milliseconds(0), 2}, 8), 2);
    EXPECT_EQ(MostInFlight(limiter, "b.test", {milliseconds(0), 0}, 4), 1)
        << "no connection limit below one";
}

// The limiter asks a request's cancel test before every look for room: asked a second time,
// the request had to wait.
TEST(SiteLimiter, SitesDoNotWaitForEachOther) {
    CSiteLimiter limiter;
    SiteLimits slow{milliseconds(10000), 1};
    CSiteLimiter::Slot first = limiter.Acquire("slow.test", slow, {});
    ASSERT_TRUE(first);
    int asks = 0;
    auto cancelOnceWaiting = [&asks] { return ++asks > 1; };
    EXPECT_TRUE(limiter.Acquire("other.test", slow, cancelOnceWaiting));
    EXPECT_EQ(asks, 1);
    asks = 0;
    EXPECT_FALSE(limiter.Acquire("slow.test", slow, cancelOnceWaiting)) << "the full site waits";
    EXPECT_EQ(asks, 2);
}

TEST(SiteLimiter, ACancelledWaitEndsWithoutASlot) {
    CSiteLimiter limiter;
    SiteLimits one{milliseconds(0), 1};
    CSiteLimiter::Slot held = limiter.Acquire("a.test", one, {});
    // Cancelled while it waits for the held slot: it ends at the next look.
    int asks = 0;
    CSiteLimiter::Slot waited = limiter.Acquire("a.test", one, [&asks] { return ++asks == 3; });
    EXPECT_FALSE(waited);
    EXPECT_EQ(asks, 3);
    // The cancelled wait took nothing: once the holder is done, the next request goes at once.
    held = CSiteLimiter::Slot();
    asks = 0;
    EXPECT_TRUE(limiter.Acquire("a.test", one, [&asks] { return ++asks > 1; }));
}

TEST(SiteLimiter, TheSiteIsItsHostAndPortInAnyCase) {
    EXPECT_EQ(SiteHostOf("http://WWW.Site.com/Book/1.html"), "www.site.com");
    EXPECT_EQ(SiteHostOf("https://a.test:8443?q=1"), "a.test:8443");
    EXPECT_EQ(SiteHostOf("http://user:pw@a.test/x"), "a.test");
    EXPECT_EQ(SiteHostOf("no scheme"), "");
}

} // namespace
} // namespace velunor::internal
