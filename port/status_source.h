#pragma once
// Which job a status line comes from. The window has one status line and several jobs may run
// at once: a search made while a novel downloads must keep its result line, and the download's
// later lines must not hide it. Each background job marks the threads that work for it with a
// number of its own; the window reads the number of the thread that sets a status line and
// decides where the line goes. Lines from unmarked threads (the window's own, the search's) have
// source 0.

#include <atomic>

namespace velunor {

/// The job number of the calling thread: 0 on a thread no job marked, else the number of the job
/// the thread works for; a job started later has a higher number. Any thread.
unsigned CurrentStatusSource();

/// Marks the calling thread as working for one job while the scope lives, then restores what it
/// was marked before (a pool worker serves many jobs in turn).
class CStatusSourceScope {
  public:
    /// Marks the thread with a new job's number, above every number given before.
    CStatusSourceScope() : CStatusSourceScope(nextSource_.fetch_add(1) + 1) {}
    /// Marks the thread with the number of a job that another thread started (CurrentStatusSource
    /// there).
    explicit CStatusSourceScope(unsigned source) : previous_(current_) {
        current_ = source;
    }
    ~CStatusSourceScope() {
        current_ = previous_;
    }
    CStatusSourceScope(const CStatusSourceScope&) = delete;
    CStatusSourceScope& operator=(const CStatusSourceScope&) = delete;

  private:
    friend unsigned CurrentStatusSource();

    static inline std::atomic<unsigned> nextSource_{0};
    static inline thread_local unsigned current_ = 0;
    unsigned previous_;
};

inline unsigned CurrentStatusSource() {
    return CStatusSourceScope::current_;
}

} // namespace velunor
