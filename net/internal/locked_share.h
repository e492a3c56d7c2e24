#pragma once
// A libcurl share handle that transfers on many threads may use at once: libcurl takes one
// mutex per kind of shared data around every use of it. Only the fetcher's own files include
// this header.

#include <curl/curl.h>

#include <array>
#include <initializer_list>
#include <memory>
#include <mutex>

namespace velunor::internal {

class CLockedShare {
  public:
    /// A share of the data `kinds` (CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_COOKIE, ...). Handle() is
    /// null when libcurl could not make one. libcurl's global state must be set up first.
    explicit CLockedShare(std::initializer_list<curl_lock_data> kinds);
    CLockedShare(const CLockedShare&) = delete;
    CLockedShare& operator=(const CLockedShare&) = delete;

    /// The share handle; null when it could not be created. Owned by this object, which must
    /// outlive every easy handle that uses it.
    CURLSH* Handle() const {
        return share_.get();
    }

  private:
    struct ShareDeleter {
        void operator()(CURLSH* share) const {
            curl_share_cleanup(share);
        }
    };

    static void Lock(CURL* easy, curl_lock_data data, curl_lock_access access, void* share);
    static void Unlock(CURL* easy, curl_lock_data data, void* share);
    std::mutex& LockFor(curl_lock_data data);

    std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
    std::unique_ptr<CURLSH, ShareDeleter> share_;
};

} // namespace velunor::internal
