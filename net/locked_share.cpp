#include "net/internal/locked_share.h"

namespace velunor::internal {

CLockedShare::CLockedShare(std::initializer_list<curl_lock_data> kinds) {
    share_.reset(curl_share_init());
    if (share_ == nullptr) {
        return;
    }
    curl_share_setopt(share_.get(), CURLSHOPT_LOCKFUNC, &CLockedShare::Lock);
    curl_share_setopt(share_.get(), CURLSHOPT_UNLOCKFUNC, &CLockedShare::Unlock);
    curl_share_setopt(share_.get(), CURLSHOPT_USERDATA, this);
    for (curl_lock_data kind : kinds) {
        curl_share_setopt(share_.get(), CURLSHOPT_SHARE, kind);
    }
}

std::mutex& CLockedShare::LockFor(curl_lock_data data) {
    // libcurl names only kinds below CURL_LOCK_DATA_LAST; anything else shares the first lock.
    std::size_t index = static_cast<std::size_t>(data);
    if (index >= locks_.size()) {
        index = 0;
    }
    return locks_[index];
}

void CLockedShare::Lock(CURL*, curl_lock_data data, curl_lock_access, void* share) {
    static_cast<CLockedShare*>(share)->LockFor(data).lock();
}

void CLockedShare::Unlock(CURL*, curl_lock_data data, void* share) {
    static_cast<CLockedShare*>(share)->LockFor(data).unlock();
}

} // namespace velunor::internal
