#pragma once

#include "pool/manual_reset_event.h"
#include "pool/signal_domain.h"

namespace velunor {

/// A count of available units between 0 and a maximum: Release adds, a waiter takes one. Any
/// thread may use it.
class CCountingSemaphore {
  public:
    /// The semaphore lives in `domain`, which must outlive it.
    CCountingSemaphore(CSignalDomain& domain, long initialCount, long maximumCount);

    /// Adds `count` units and wakes waiters; false, changing nothing, when the count would pass
    /// the maximum. Does not block.
    bool Release(long count = 1);
    /// Blocks until a unit is available and takes it.
    void Acquire();
    /// Blocks until a unit is available or `event` (of the same domain) is set. Takes a unit and
    /// returns true when one is available, even if the event is set too; false otherwise.
    bool AcquireOrEvent(const CManualResetEvent& event);

  private:
    CSignalDomain& domain_;
    long count_;
    long maximum_;
};

} // namespace velunor
