#pragma once
// Waiting in tests without measuring time.
//
// WaitUntil is for conditions that no event announces (a file appears, a thread count drops, a
// child process ends): it asks the condition again and again. HangGuard is for a call that can
// only return through the behaviour under test, such as a fetch from a server that never answers
// ending because it was cancelled. Their limits only turn a hang into a failure; no test passes
// or fails by how fast the machine is.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace velunor::testing {

/// How long a test waits for something before it takes it for a hang.
inline constexpr std::chrono::seconds kHangLimit{60};

/// Asks `condition` every few milliseconds until it holds; false when it still does not hold
/// after `limit`.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = kHangLimit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

/// Ends the test program with a message naming `what` when it is not destroyed within `limit`.
class HangGuard {
  public:
    explicit HangGuard(std::string what, std::chrono::milliseconds limit = kHangLimit)
        : thread_([this, what = std::move(what), limit] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "hang: %s did not end\n", what.c_str());
                  std::abort();
              }
          }) {}
    ~HangGuard() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_one();
        thread_.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace velunor::testing
