#pragma once
// libcurl's process-wide state: its global initialisation and the DNS cache that every transfer
// shares. Only the fetcher's own files include this header.

#include <curl/curl.h>

#include <array>
#include <memory>
#include <mutex>

namespace velunor::internal {

class CurlSession {
  public:
    /// The process's session, set up by the first caller; callers that arrive meanwhile wait for
    /// it. Never destroyed, so that no transfer still running at process exit loses it. Any thread.
    static CurlSession& Instance();

    /// True when libcurl's global initialisation succeeded.
    bool Ready() const {
        return ready_;
    }
    /// The shared DNS cache; null when it could not be created (transfers then resolve alone).
    CURLSH* DnsShare() const {
        return share_.get();
    }

  private:
    struct ShareDeleter {
        void operator()(CURLSH* share) const {
            curl_share_cleanup(share);
        }
    };

    CurlSession();
    static void Lock(CURL* easy, curl_lock_data data, curl_lock_access access, void* session);
    static void Unlock(CURL* easy, curl_lock_data data, void* session);
    std::mutex& LockFor(curl_lock_data data);

    bool ready_ = false;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
    std::unique_ptr<CURLSH, ShareDeleter> share_;
};

} // namespace velunor::internal
