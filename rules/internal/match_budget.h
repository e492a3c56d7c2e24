#pragma once
// What the matching for one page may use, shared by every match made for that page.

#include <chrono>
#include <cstddef>

namespace velunor::internal {

/// The first limit the matching for a page ran into.
enum class MatchProblem {
    None,
    /// A capture was longer than the budget allows.
    CaptureTooLarge,
    /// The processor time of the budget was used up.
    OutOfTime,
    /// The caller found more matches than it can use (see MatchBudget::Stop).
    TooManyMatches,
};

/// The processor time and the capture size the matching for one page may use, and the first
/// limit it ran into. The matcher bounds the steps of each match attempt, but a pattern that
/// backtracks heavily at every start position stays under that bound each time; only a budget
/// that every attempt on the page draws on bounds the page. Once a limit is hit every further
/// match drawing on the budget finds nothing, so the caller drops the page's results instead of
/// keeping a part of them.
///
/// A budget belongs to one thread: the time it counts is the processor time of the thread that
/// made it, so other threads sharing the processor do not shorten it.
class MatchBudget {
  public:
    /// A budget of `time` of this thread's processor time from now, and captures of at most
    /// `maxCaptureBytes` bytes.
    MatchBudget(std::chrono::nanoseconds time, size_t maxCaptureBytes);

    /// Asked before every match attempt. False once the time is used up (or another limit was
    /// hit before).
    bool AllowAttempt();
    /// True when a capture of `bytes` bytes may be copied out; otherwise the budget ends with
    /// CaptureTooLarge.
    bool AllowCapture(size_t bytes);
    /// Ends the budget for a reason the caller found; later calls keep the first reason.
    void Stop(MatchProblem problem);

    bool Exhausted() const {
        return problem_ != MatchProblem::None;
    }
    MatchProblem Problem() const {
        return problem_;
    }

  private:
    std::chrono::nanoseconds timeStart_;
    std::chrono::nanoseconds time_;
    std::chrono::nanoseconds nextTimeCheck_;
    size_t maxCaptureBytes_;
    MatchProblem problem_ = MatchProblem::None;
};

} // namespace velunor::internal
