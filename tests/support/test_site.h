#pragma once
// The local test site: a real HTTP server on 127.0.0.1 at a port the system picks, run for as
// long as its owner lives.
//
// Each folder below the site root is one site, served under "/<folder>/": its files are its
// pages, and its routes.json adds answers a plain file cannot give (status codes, headers,
// compressed bodies, delays, stalls, cut connections, answers chosen by a query parameter).
// test_site.py describes the table.

#include <string>
#include <string_view>

#include <sys/types.h>

namespace velunor::testing {

class TestSite {
  public:
    /// The fixture sites under tests/data/site.
    static std::string DefaultRoot();

    /// Starts the server over the sites in `root` and blocks until it listens; throws
    /// std::runtime_error when it does not start within 10 s.
    explicit TestSite(const std::string& root = DefaultRoot());
    /// Stops the server and waits for it to end.
    ~TestSite();
    TestSite(const TestSite&) = delete;
    TestSite& operator=(const TestSite&) = delete;

    int Port() const {
        return port_;
    }
    /// "http://127.0.0.1:<port>", without a trailing "/".
    std::string BaseUrl() const;
    /// The address of `path` ("/fetch/page.html") on the site, as wide text; `path` is UTF-8.
    std::u16string Url(std::string_view path) const;
    /// The rule file fixture at `fixturePath` pointed at this site: every "{SITE}" becomes
    /// BaseUrl() and every "{N}" `siteNumber`.
    std::string RuleFile(const std::string& fixturePath, const std::string& siteNumber = "") const;

  private:
    void Stop();

    pid_t pid_ = -1;
    int port_ = 0;
};

} // namespace velunor::testing
