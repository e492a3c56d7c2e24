#pragma once

#include "pool/signal_domain.h"

namespace velunor {

/// An event that lets exactly one waiter through per Set and then clears itself; a Set with no
/// waiter is kept for the next one. Any thread may use it.
class CAutoResetEvent {
  public:
    /// The event lives in `domain`, which must outlive it.
    explicit CAutoResetEvent(CSignalDomain& domain, bool initiallySet = false);

    /// Sets the event, waking one waiter. Does not block.
    void Set();
    /// Blocks until the event is set, and clears it.
    void Wait();

  private:
    CSignalDomain& domain_;
    bool set_;
};

} // namespace velunor
