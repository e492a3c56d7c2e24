#pragma once
// libcurl's process-wide state: its global initialisation and the DNS cache that every transfer
// without a cookie jar shares. Only the fetcher's own files include this header.

#include "net/internal/locked_share.h"

#include <curl/curl.h>

#include <memory>

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
        return dnsShare_ == nullptr ? nullptr : dnsShare_->Handle();
    }

  private:
    CurlSession();

    bool ready_ = false;
    std::unique_ptr<CLockedShare> dnsShare_;
};

} // namespace velunor::internal
