// The matching budget of one page.

#include "rules/internal/match_budget.h"

#include <ctime>

namespace velunor::internal {
namespace {

// Reading the thread's processor time is a system call, slower than most match attempts. The
// coarse monotonic clock costs a few nanoseconds, and a thread's processor time never runs ahead
// of it, so the processor time is read only once that clock has moved on by this much: the
// budget is overrun by at most about one tick of that clock (a few milliseconds), plus the
// attempt that is running.
constexpr std::chrono::nanoseconds kTimeCheckInterval = std::chrono::milliseconds(1);

std::chrono::nanoseconds ClockTime(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

std::chrono::nanoseconds ThreadTime() {
    return ClockTime(CLOCK_THREAD_CPUTIME_ID);
}

std::chrono::nanoseconds CoarseTime() {
    return ClockTime(CLOCK_MONOTONIC_COARSE);
}

} // namespace

MatchBudget::MatchBudget(std::chrono::nanoseconds time, size_t maxCaptureBytes)
    : timeStart_(ThreadTime()), time_(time), nextTimeCheck_(CoarseTime()),
      maxCaptureBytes_(maxCaptureBytes) {}

bool MatchBudget::AllowAttempt() {
    if (Exhausted()) {
        return false;
    }
    std::chrono::nanoseconds now = CoarseTime();
    if (now < nextTimeCheck_) {
        return true;
    }
    nextTimeCheck_ = now + kTimeCheckInterval;
    if (ThreadTime() - timeStart_ < time_) {
        return true;
    }
    Stop(MatchProblem::OutOfTime);
    return false;
}

bool MatchBudget::AllowCapture(size_t bytes) {
    if (bytes <= maxCaptureBytes_) {
        return true;
    }
    Stop(MatchProblem::CaptureTooLarge);
    return false;
}

void MatchBudget::Stop(MatchProblem problem) {
    if (!Exhausted()) {
        problem_ = problem;
    }
}

} // namespace velunor::internal
