#include "pool/counting_semaphore.h"

namespace velunor {

CCountingSemaphore::CCountingSemaphore(CSignalDomain& domain, long initialCount, long maximumCount)
    : domain_(domain), count_(initialCount), maximum_(maximumCount) {}

bool CCountingSemaphore::Release(long count) {
    std::lock_guard lock(domain_.Mutex());
    if (count <= 0 || count > maximum_ - count_) {
        return false;
    }
    count_ += count;
    domain_.Changed().notify_all();
    return true;
}

void CCountingSemaphore::Acquire() {
    std::unique_lock lock(domain_.Mutex());
    domain_.Changed().wait(lock, [this] { return count_ > 0; });
    --count_;
}

bool CCountingSemaphore::AcquireOrEvent(const CManualResetEvent& event) {
    std::unique_lock lock(domain_.Mutex());
    domain_.Changed().wait(lock, [&] { return count_ > 0 || event.IsSetLocked(); });
    if (count_ == 0) {
        return false;
    }
    --count_;
    return true;
}

} // namespace velunor
