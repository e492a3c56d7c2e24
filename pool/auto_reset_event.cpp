#include "pool/auto_reset_event.h"

namespace velunor {

CAutoResetEvent::CAutoResetEvent(CSignalDomain& domain, bool initiallySet)
    : domain_(domain), set_(initiallySet) {}

void CAutoResetEvent::Set() {
    std::lock_guard lock(domain_.Mutex());
    set_ = true;
    // Every waiter of the domain is woken, since they may wait for other objects too; only the
    // first to take the lock finds the event set.
    domain_.Changed().notify_all();
}

void CAutoResetEvent::Wait() {
    std::unique_lock lock(domain_.Mutex());
    domain_.Changed().wait(lock, [this] { return set_; });
    set_ = false;
}

} // namespace velunor
