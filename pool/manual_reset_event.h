#pragma once

#include "pool/signal_domain.h"

namespace velunor {

/// An event that stays set, waking every waiter, until it is reset. Any thread may use it.
class CManualResetEvent {
  public:
    /// The event lives in `domain`, which must outlive it.
    explicit CManualResetEvent(CSignalDomain& domain, bool initiallySet = false);

    /// Sets the event and wakes every waiter. Does not block.
    void Set();
    /// Clears the event. Does not block.
    void Reset();
    /// Blocks until the event is set; returns at once when it already is.
    void Wait();
    /// The state, for a caller that already holds the domain's mutex.
    bool IsSetLocked() const {
        return set_;
    }

  private:
    CSignalDomain& domain_;
    bool set_;
};

} // namespace velunor
