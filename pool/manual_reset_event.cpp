#include "pool/manual_reset_event.h"

namespace velunor {

CManualResetEvent::CManualResetEvent(CSignalDomain& domain, bool initiallySet)
    : domain_(domain), set_(initiallySet) {}

void CManualResetEvent::Set() {
    std::lock_guard lock(domain_.Mutex());
    set_ = true;
    // Notified under the lock: a waiter may destroy the domain as soon as it sees the event set.
    domain_.Changed().notify_all();
}

void CManualResetEvent::Reset() {
    std::lock_guard lock(domain_.Mutex());
    set_ = false;
}

void CManualResetEvent::Wait() {
    std::unique_lock lock(domain_.Mutex());
    domain_.Changed().wait(lock, [this] { return set_; });
}

} // namespace velunor
