#pragma once
// The lock and wake-up channel that the pool's waitable objects share.

#include <condition_variable>
#include <mutex>

namespace velunor {

/// Objects built on one domain change state under its mutex and announce every change on its
/// condition variable, so that one thread can wait for whichever of them is signalled first.
/// Owned by whoever owns the objects, and outlives them.
class CSignalDomain {
  public:
    std::mutex& Mutex() {
        return mutex_;
    }
    std::condition_variable& Changed() {
        return changed_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

} // namespace velunor
