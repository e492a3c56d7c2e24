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
    if (ready_) {
        dnsShare_ = std::make_unique<CLockedShare>(
            std::initializer_list<curl_lock_data>{CURL_LOCK_DATA_DNS});
    }
}

} // namespace velunor::internal
