#include "net/internal/curl_session.h"

namespace velunor::internal {

CurlSession& CurlSession::Instance() {
    // Deliberately leaked: job threads are detached and may still be transferring while the
    // process exits, so libcurl's global state and the cache are never torn down.
    static CurlSession* session = new CurlSession();
    return *session;
}

CurlSession::CurlSession() {
    ready_ = curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
    if (!ready_) {
        return;
    }
    share_.reset(curl_share_init());
    if (share_ == nullptr) {
        return;
    }
    curl_share_setopt(share_.get(), CURLSHOPT_LOCKFUNC, &CurlSession::Lock);
    curl_share_setopt(share_.get(), CURLSHOPT_UNLOCKFUNC, &CurlSession::Unlock);
    curl_share_setopt(share_.get(), CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

std::mutex& CurlSession::LockFor(curl_lock_data data) {
    // libcurl names only kinds below CURL_LOCK_DATA_LAST; anything else shares the first lock.
    std::size_t index = static_cast<std::size_t>(data);
    if (index >= locks_.size()) {
        index = 0;
    }
    return locks_[index];
}

void CurlSession::Lock(CURL*, curl_lock_data data, curl_lock_access, void* session) {
    static_cast<CurlSession*>(session)->LockFor(data).lock();
}

void CurlSession::Unlock(CURL*, curl_lock_data data, void* session) {
    static_cast<CurlSession*>(session)->LockFor(data).unlock();
}

} // namespace velunor::internal
