#include "pool/auto_reset_event.h"
#include "pool/counting_semaphore.h"
#include "pool/manual_reset_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

namespace velunor {
namespace {

TEST(CountingSemaphore, KeepsItsCountWithinTheMaximum) {
    CSignalDomain domain;
    CCountingSemaphore semaphore(domain, 0, 2);
    EXPECT_TRUE(semaphore.Release(2));
    EXPECT_FALSE(semaphore.Release(1));
    semaphore.Acquire();
    semaphore.Acquire();
    EXPECT_TRUE(semaphore.Release(1));
    EXPECT_FALSE(semaphore.Release(0));
}

TEST(CountingSemaphore, PrefersAUnitToASetEvent) {
    CSignalDomain domain;
    CCountingSemaphore semaphore(domain, 1, 10);
    CManualResetEvent event(domain, true);
    EXPECT_TRUE(semaphore.AcquireOrEvent(event));
    EXPECT_FALSE(semaphore.AcquireOrEvent(event));
    EXPECT_FALSE(semaphore.AcquireOrEvent(event));
}

TEST(CountingSemaphore, WakesAWaiterForEachUnit) {
    CSignalDomain domain;
    CCountingSemaphore semaphore(domain, 0, 100);
    CManualResetEvent stop(domain);
    std::atomic<int> taken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            while (semaphore.AcquireOrEvent(stop)) {
                taken.fetch_add(1);
            }
        });
    }
    semaphore.Release(30);
    for (int i = 0; i < 10; ++i) {
        semaphore.Release(1);
    }
    // Units still count after the event is set: the waiters take all of them before stopping.
    stop.Set();
    for (std::thread& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(taken.load(), 40);
}

TEST(ManualResetEvent, ReleasesEveryWaiterUntilReset) {
    CSignalDomain domain;
    CManualResetEvent event(domain);
    std::latch started(3);
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            started.count_down();
            event.Wait();
        });
    }
    started.wait();
    event.Set();
    for (std::thread& waiter : waiters) {
        waiter.join();
    }
    event.Wait();
    // Once reset, a waiter for "a unit or the event" waits for the unit.
    event.Reset();
    CCountingSemaphore semaphore(domain, 0, 1);
    bool gotUnit = false;
    std::thread waiter([&] { gotUnit = semaphore.AcquireOrEvent(event); });
    semaphore.Release(1);
    waiter.join();
    EXPECT_TRUE(gotUnit);
}

TEST(AutoResetEvent, LetsOneWaiterThroughPerSet) {
    CSignalDomain domain;
    CAutoResetEvent event(domain);
    std::atomic<int> passed{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            event.Wait();
            passed.fetch_add(1);
            // Each waiter that gets through lets the next one go.
            event.Set();
        });
    }
    event.Set();
    for (std::thread& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(passed.load(), 3);
    // The last waiter's Set is kept for the next Wait, which then returns at once.
    event.Wait();
}

} // namespace
} // namespace velunor
