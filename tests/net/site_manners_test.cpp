// What a site receives when a request carries its rule's manners: extra headers, a form POST,
// redirects followed, retries, refusals recognised, and the process-wide limits per site. Each
// test looks at the requests as the local test site received and logged them.

#include "net/fetcher.h"

#include "core/core.h"
#include "net/internal/site_limiter.h"
#include "net/internal/transfer.h"
#include "support/temp_folder.h"
#include "support/test_site.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>
#include <vector>

namespace velunor {
namespace {

using std::chrono::milliseconds;
using testing::TempFolder;
using testing::TestSite;

constexpr char kChromeAgent[] =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
    "Gecko) Chrome/124.0.0.0 Safari/537.36\r\n";

// One request as the test site logged it; times in milliseconds of the server's clock.
struct Logged {
    double arrived = 0;
    double answered = 0;
    std::string method;
    std::string target;
};

// The header lines of an echoed request (after its request line, up to the blank line) whose
// name is `name`, whatever its case.
std::vector<std::string> HeaderLines(const std::string& request, std::string_view name) {
    std::vector<std::string> found;
    std::size_t end = request.find("\r\n\r\n");
    std::size_t at = request.find("\r\n");
    while (at < end) {
        std::size_t next = request.find("\r\n", at + 2);
        std::string line = request.substr(at + 2, next - at - 2);
        std::string lineName = line.substr(0, line.find(':'));
        if (lineName.size() == name.size() &&
            std::equal(lineName.begin(), lineName.end(), name.begin(),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
            found.push_back(line);
        }
        at = next;
    }
    return found;
}

// The longest span of requests served at once, from the logged times.
int MostAtOnce(const std::vector<Logged>& log) {
    int most = 0;
    for (const Logged& entry : log) {
        int atOnce = static_cast<int>(std::count_if(log.begin(), log.end(), [&](const Logged& e) {
            return e.arrived <= entry.arrived && entry.arrived < e.answered;
        }));
        most = std::max(most, atOnce);
    }
    return most;
}

// A local port whose listener never accepts: a connection to it waits in its queue, seen.
class QuietPort {
  public:
    QuietPort() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, 4);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~QuietPort() {
        close(fd_);
    }
    QuietPort(const QuietPort&) = delete;
    QuietPort& operator=(const QuietPort&) = delete;
    int Port() const {
        return port_;
    }
    bool HasCaller() const {
        pollfd ready{fd_, POLLIN, 0};
        return poll(&ready, 1, 0) > 0;
    }

  private:
    int fd_ = socket(AF_INET, SOCK_STREAM, 0);
    int port_ = 0;
};

std::string PercentEncoded(std::string_view bytes) {
    std::string encoded;
    for (char c : bytes) {
        char code[4];
        std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(c));
        encoded += code;
    }
    return encoded;
}

class SiteMannersTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        site_ = new TestSite();
    }
    static void TearDownTestSuite() {
        delete site_;
        site_ = nullptr;
    }
    static std::u16string Url(std::string_view path) {
        return site_->Url(path);
    }
    // `path` with a query tag no other request of the run has, so that the server's counters
    // and log tell this test's requests apart. No tag is the start of another.
    static std::string Tagged(std::string_view path) {
        static std::atomic<int> next{0};
        return std::string(path) + "?tag=" + std::to_string(next.fetch_add(1)) + "-";
    }
    // The bytes of the page at `path` as FetchPage returns them.
    static std::string Fetch(std::string_view path, const FetchSettings& settings,
                             FetchResult& result) {
        return WideToAnsi(FetchPage(result, Url(path), settings));
    }
    // The requests whose target starts with `prefix`, in order of arrival.
    static std::vector<Logged> Log(std::string_view prefix) {
        FetchResult result;
        std::istringstream lines(
            WideToAnsi(FetchPage(result, Url("/_log?prefix=" + PercentEncoded(prefix)))));
        std::vector<Logged> log;
        Logged entry;
        while (lines >> entry.arrived >> entry.answered >> entry.method >> entry.target) {
            log.push_back(entry);
        }
        return log;
    }
    static std::string PageBytes() {
        return testing::ReadFileBytes(std::string(VELUNOR_TEST_DATA) +
                                      "/site/fetch/page_gb2312.html");
    }

    static TestSite* site_;
};

TestSite* SiteMannersTest::site_ = nullptr;

TEST_F(SiteMannersTest, SendsTheRequestLineAndBodyAsGiven) {
    // The caller encodes; "&", "#" and "%" of the key arrive still encoded, GBK bytes too.
    const std::string query = "/fetch/echo-request?q=%B6%B7%C2%DE&k=%26%23%25&page=1";
    FetchResult get;
    std::string request = Fetch(query, {}, get);
    EXPECT_EQ(get.StatusCode, 200);
    EXPECT_TRUE(request.starts_with("GET " + query + " HTTP/1.1\r\n")) << request;
    EXPECT_TRUE(request.ends_with("\r\n\r\n")) << "a GET has no body";
    EXPECT_TRUE(HeaderLines(request, "Content-Type").empty());

    for (const std::string body : {"searchkey=%B6%B7%C2%DE&type=%26%23%25", ""}) {
        SCOPED_TRACE(body);
        FetchSettings settings;
        settings.PostBody = body;
        FetchResult post;
        request = Fetch("/fetch/echo-request", settings, post);
        EXPECT_EQ(post.StatusCode, 200);
        EXPECT_TRUE(request.starts_with("POST /fetch/echo-request HTTP/1.1\r\n")) << request;
        EXPECT_TRUE(request.ends_with("\r\n\r\n" + body)) << request;
        EXPECT_EQ(HeaderLines(request, "Content-Type"),
                  std::vector<std::string>{"Content-Type: application/x-www-form-urlencoded"});
        EXPECT_EQ(HeaderLines(request, "Content-Length"),
                  std::vector<std::string>{"Content-Length: " + std::to_string(body.size())});
        EXPECT_TRUE(HeaderLines(request, "Expect").empty());
    }
}

TEST_F(SiteMannersTest, SendsBrowserHeadersThatTheRuleReplaces) {
    FetchResult plain;
    std::string request = Fetch("/fetch/echo-request", {}, plain);
    EXPECT_NE(request.find(std::string("\r\n") + kChromeAgent), std::string::npos) << request;
    EXPECT_EQ(HeaderLines(request, "Accept-Language"),
              std::vector<std::string>{"Accept-Language: zh-CN,zh;q=0.9"});
    EXPECT_TRUE(HeaderLines(request, "Referer").empty());

    FetchSettings settings;
    settings.Headers = {"user-agent: RuleAgent/1.0", "X-Site: 1", "ACCEPT-LANGUAGE: en"};
    settings.Referer = "http://example.test/list.html";
    settings.PostBody = "a=1";
    FetchResult ruled;
    request = Fetch("/fetch/echo-request", settings, ruled);
    EXPECT_EQ(HeaderLines(request, "User-Agent"),
              std::vector<std::string>{"user-agent: RuleAgent/1.0"});
    EXPECT_EQ(HeaderLines(request, "Accept-Language"),
              std::vector<std::string>{"ACCEPT-LANGUAGE: en"});
    EXPECT_EQ(HeaderLines(request, "X-Site"), std::vector<std::string>{"X-Site: 1"});
    EXPECT_EQ(HeaderLines(request, "Referer"),
              std::vector<std::string>{"Referer: http://example.test/list.html"});

    // The rule's own Referer and Content-Type win; the length of the body is the fetcher's.
    settings.Headers = {"Referer: http://rule.test/", "Content-Type: text/plain; charset=gbk",
                        "Content-Length: 999"};
    request = Fetch("/fetch/echo-request", settings, ruled);
    EXPECT_EQ(HeaderLines(request, "Referer"),
              std::vector<std::string>{"Referer: http://rule.test/"});
    EXPECT_EQ(HeaderLines(request, "Content-Type"),
              std::vector<std::string>{"Content-Type: text/plain; charset=gbk"});
    EXPECT_EQ(HeaderLines(request, "Content-Length"),
              std::vector<std::string>{"Content-Length: 3"});
    EXPECT_TRUE(request.ends_with("\r\n\r\na=1"));
}

TEST_F(SiteMannersTest, NoHeaderLineOrRefererCanAddAHeader) {
    FetchSettings settings;
    settings.Headers = {"X-A: 1\r\nX-Injected: 2", "X-B: 3\nX-Injected: 4", "X-C: 5\rX-Injected: 6",
                        "no colon", ": no name"};
    settings.Referer = "http://r.test/\r\nX-Injected: 7";
    FetchResult result;
    std::string request = Fetch("/fetch/echo-request", settings, result);
    EXPECT_EQ(result.StatusCode, 200);
    EXPECT_TRUE(HeaderLines(request, "X-Injected").empty()) << request;
    EXPECT_EQ(HeaderLines(request, "X-A"), std::vector<std::string>{"X-A: 1X-Injected: 2"});
    EXPECT_EQ(HeaderLines(request, "Referer"),
              std::vector<std::string>{"Referer: http://r.test/X-Injected: 7"});
}

TEST(RequestHeaderLines, KeepsEachNamedLineOfTheRuleAsUtf8) {
    EXPECT_EQ(RequestHeaderLines(u"User-Agent: Agent/1\r\n\r\n  Referer: http://a.test/ \n"
                                 u"not a header\n: nameless\nBad Name: x\nX-Name: 书\r\n"
                                 u"X-Cr: a\rb\nCookie: a=1; b=2"),
              (std::vector<std::string>{"User-Agent: Agent/1", "Referer: http://a.test/",
                                        "X-Name: \xE4\xB9\xA6", "X-Cr: ab", "Cookie: a=1; b=2"}));
    EXPECT_TRUE(RequestHeaderLines(u"").empty());
    EXPECT_TRUE(RequestHeaderLines(u"\r\n\n").empty());
}

TEST_F(SiteMannersTest, FollowsEveryRedirectStatusWhenAsked) {
    for (int status : {301, 302, 303, 307, 308}) {
        SCOPED_TRACE(status);
        std::string target = "/fetch/echo-request?hop=" + std::to_string(status);
        std::string path =
            "/fetch/redirect?status=" + std::to_string(status) + "&to=" + PercentEncoded(target);
        FetchSettings settings;
        settings.PostBody = "a=1";
        FetchResult unfollowed;
        EXPECT_EQ(Fetch(path, settings, unfollowed), "moved");
        EXPECT_EQ(unfollowed.StatusCode, status);
        EXPECT_EQ(unfollowed.RedirectCount, 0);
        EXPECT_EQ(unfollowed.EffectiveUrl, Url(path));

        settings.FollowRedirects = true;
        FetchResult followed;
        std::string request = Fetch(path, settings, followed);
        EXPECT_EQ(followed.StatusCode, 200);
        EXPECT_EQ(followed.RedirectCount, 1);
        EXPECT_EQ(followed.EffectiveUrl, Url(target));
        // Only 307 and 308 keep the POST, body and form type with it.
        bool keepsPost = status == 307 || status == 308;
        EXPECT_TRUE(request.starts_with((keepsPost ? "POST " : "GET ") + target + " HTTP/1.1"))
            << request;
        EXPECT_TRUE(request.ends_with(keepsPost ? "\r\n\r\na=1" : "\r\n\r\n"));
        EXPECT_EQ(HeaderLines(request, "Content-Type").size(), keepsPost ? 1u : 0u);
    }
}

TEST_F(SiteMannersTest, FollowsRelativeRedirectsFiveHopsDeepAndNoFurther) {
    FetchSettings settings;
    settings.FollowRedirects = true;
    FetchResult five;
    EXPECT_EQ(Fetch("/fetch/chain-5", settings, five), PageBytes());
    EXPECT_EQ(five.StatusCode, 200);
    EXPECT_EQ(five.RedirectCount, 5);
    EXPECT_EQ(five.EffectiveUrl, Url("/fetch/page_gb2312.html"));

    // The sixth answer, from chain-1, is a redirect too many: its target is never asked for.
    std::size_t lastHops = Log("/fetch/chain-1").size();
    std::size_t pages = Log("/fetch/page_gb2312.html").size();
    FetchResult six;
    EXPECT_EQ(Fetch("/fetch/chain-6", settings, six), "");
    EXPECT_EQ(six.StatusCode, -1);
    EXPECT_EQ(Log("/fetch/chain-1").size(), lastHops + 1);
    EXPECT_EQ(Log("/fetch/page_gb2312.html").size(), pages);
}

TEST_F(SiteMannersTest, ARedirectWithoutATargetIsTheAnswer) {
    FetchSettings settings;
    settings.FollowRedirects = true;
    // No Location header, and an empty one.
    for (const char* path : {"/fetch/found-nowhere", "/fetch/redirect?to="}) {
        SCOPED_TRACE(path);
        FetchResult result;
        result.Location = "earlier";
        Fetch(path, settings, result);
        EXPECT_EQ(result.StatusCode, 302);
        EXPECT_EQ(result.Location, "");
        EXPECT_EQ(result.RedirectCount, 0);
    }
    FetchResult moved;
    EXPECT_EQ(Fetch("/fetch/redirect?to=", settings, moved), "moved");
}

TEST_F(SiteMannersTest, FollowsNoRedirectToAnotherScheme) {
    QuietPort quiet;
    FetchSettings settings;
    settings.FollowRedirects = true;
    std::string ftp = "ftp://127.0.0.1:" + std::to_string(quiet.Port()) + "/x";
    for (const std::string& to : {ftp, std::string("file:///etc/passwd")}) {
        SCOPED_TRACE(to);
        FetchResult result;
        EXPECT_EQ(Fetch("/fetch/redirect?to=" + PercentEncoded(to), settings, result), "");
        EXPECT_EQ(result.StatusCode, -1);
    }
    EXPECT_FALSE(quiet.HasCaller());
}

TEST_F(SiteMannersTest, RetriesABusySiteAfterTheWaitItAsksFor) {
    // Answered 429 with "Retry-After: 1" first, then the page.
    std::string path = Tagged("/fetch/busy-once");
    FetchSettings settings;
    settings.RetryCount = 2;
    settings.RetryBaseDelay = milliseconds(10);
    FetchResult result;
    EXPECT_EQ(Fetch(path, settings, result), PageBytes());
    EXPECT_EQ(result.StatusCode, 200);
    EXPECT_EQ(result.Attempts, 2);
    std::vector<Logged> log = Log(path);
    ASSERT_EQ(log.size(), 2u);
    std::printf("  server: second request %.0f ms after the 429\n",
                log[1].arrived - log[0].answered);
    EXPECT_GE(log[1].arrived - log[0].answered, 999.0);

    // Without retries the 429 is the answer.
    FetchResult once;
    EXPECT_EQ(Fetch(Tagged("/fetch/busy-once"), {}, once), "busy");
    EXPECT_EQ(once.StatusCode, 429);
    EXPECT_EQ(once.Attempts, 1);
}

TEST_F(SiteMannersTest, RetriesFailuresWithDoublingWaitsAndReportsTheLastAnswer) {
    std::string path = Tagged("/fetch/error500");
    FetchSettings settings;
    settings.RetryCount = 3;
    settings.RetryBaseDelay = milliseconds(100);
    FetchResult result;
    EXPECT_EQ(Fetch(path, settings, result), "server error");
    EXPECT_EQ(result.StatusCode, 500);
    EXPECT_EQ(result.Attempts, 4);
    std::vector<Logged> log = Log(path);
    ASSERT_EQ(log.size(), 4u);
    for (std::size_t i = 1; i < log.size(); ++i) {
        double wait = log[i].arrived - log[i - 1].answered;
        std::printf("wait before retry %zu: %.0f ms\n", i, wait);
        EXPECT_GE(wait, 100.0 * (1 << (i - 1)) - 1);
        EXPECT_LT(wait, 100.0 * (1 << (i - 1)) + 500);
    }

    // 503 and 502 are passing; the third answer is the page.
    settings.RetryBaseDelay = milliseconds(10);
    FetchResult recovered;
    EXPECT_EQ(Fetch(Tagged("/fetch/unavailable-twice"), settings, recovered), PageBytes());
    EXPECT_EQ(recovered.StatusCode, 200);
    EXPECT_EQ(recovered.Attempts, 3);

    // A lost connection is tried again; a 404 is an answer.
    FetchResult cut;
    std::string cutPath = Tagged("/fetch/cut");
    EXPECT_EQ(Fetch(cutPath, settings, cut), "");
    EXPECT_EQ(cut.StatusCode, -1);
    EXPECT_EQ(Log(cutPath).size(), 4u);
    FetchResult missing;
    std::string missingPath = Tagged("/fetch/missing-page");
    Fetch(missingPath, settings, missing);
    EXPECT_EQ(missing.StatusCode, 404);
    EXPECT_EQ(Log(missingPath).size(), 1u);
}

TEST_F(SiteMannersTest, ABlockedPageIsRetriedThenReported) {
    std::vector<std::string> seen;
    FetchSettings settings;
    settings.RetryBaseDelay = milliseconds(10);
    settings.IsBlocked = [&seen](std::string_view body) {
        seen.emplace_back(body);
        return body.find("Just a moment...") != std::string_view::npos;
    };
    // Refused twice, then the page.
    settings.RetryCount = 2;
    FetchResult passed;
    EXPECT_EQ(Fetch(Tagged("/fetch/blocked-twice"), settings, passed), PageBytes());
    EXPECT_FALSE(passed.Blocked);
    EXPECT_EQ(passed.Failure, FetchFailure::None);
    EXPECT_EQ(passed.Attempts, 3);

    settings.RetryCount = 1;
    FetchResult refused;
    EXPECT_EQ(Fetch(Tagged("/fetch/blocked-twice"), settings, refused), "");
    EXPECT_TRUE(refused.Blocked);
    EXPECT_EQ(refused.Failure, FetchFailure::Blocked);
    EXPECT_EQ(FetchFailureText(refused), "blocked by the site (HTTP 200)");
    EXPECT_EQ(refused.StatusCode, 200);
    EXPECT_EQ(refused.Attempts, 2);

    // The test sees the body inflated; a refused image leaves no file behind.
    seen.clear();
    settings.RetryCount = 0;
    FetchResult gzip;
    EXPECT_EQ(Fetch("/fetch/blocked", settings, gzip), "");
    EXPECT_TRUE(gzip.Blocked);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].starts_with("<html><head><title>Just a moment"));
    TempFolder temp;
    FetchResult file;
    EXPECT_FALSE(FetchToFile(file, Url("/fetch/blocked"), temp.WideFile("x.jpg"), settings));
    EXPECT_TRUE(file.Blocked);
    EXPECT_EQ(file.Failure, FetchFailure::Blocked);
    EXPECT_EQ(file.StatusCode, 200);
    EXPECT_EQ(access(temp.File("x.jpg").c_str(), F_OK), -1);
}

TEST_F(SiteMannersTest, FetchToFileKeepsOnlyTheBodyOfTheLastAttempt) {
    TempFolder temp;
    temp.Write("page.html", "earlier ");
    FetchSettings settings;
    settings.RetryCount = 2;
    settings.RetryBaseDelay = milliseconds(10);
    FetchResult result;
    EXPECT_TRUE(FetchToFile(result, Url(Tagged("/fetch/unavailable-twice")),
                            temp.WideFile("page.html"), settings));
    EXPECT_EQ(result.Attempts, 3);
    EXPECT_EQ(temp.Read("page.html"), "earlier " + PageBytes());
    FetchResult failed;
    EXPECT_FALSE(
        FetchToFile(failed, Url(Tagged("/fetch/cut")), temp.WideFile("cut.html"), settings));
    EXPECT_EQ(failed.Attempts, 3);
    // What the last attempt brought before the connection was lost (the server sends half of
    // the page repeated 100 times), and nothing of the others.
    std::string whole;
    for (int i = 0; i < 100; ++i) {
        whole += PageBytes();
    }
    std::string part = temp.Read("cut.html");
    EXPECT_FALSE(part.empty());
    EXPECT_LE(part.size(), whole.size() / 2);
    EXPECT_TRUE(part == whole.substr(0, part.size()));
}

TEST_F(SiteMannersTest, CancelEndsTheWaitForARetryOrATurn) {
    // Cancelled once the 500 answer is in, that is while the fetcher waits to send it again; the
    // retries would otherwise take minutes.
    FetchResult retrying;
    FetchSettings settings;
    settings.Cancelled = [&retrying] { return retrying.StatusCode == 500; };
    settings.RetryCount = 3;
    settings.RetryBaseDelay = milliseconds(60000);
    {
        testing::HangGuard guard("a fetch waiting for its retry");
        EXPECT_EQ(Fetch(Tagged("/fetch/error500"), settings, retrying), "");
    }
    EXPECT_EQ(retrying.StatusCode, -1);
    EXPECT_EQ(retrying.Failure, FetchFailure::Cancelled);
    EXPECT_EQ(retrying.Attempts, 1);

    // The site's only connection is taken for the whole test: the request never gets its turn.
    // It is asked once before it waits for its turn and again at every look: cancelled at its
    // third ask, it has waited.
    internal::SiteLimits one{milliseconds(0), 1};
    std::string host = internal::SiteHostOf(site_->BaseUrl());
    internal::CSiteLimiter::Slot held = internal::ProcessSiteLimiter().Acquire(host, one, {});
    int asks = 0;
    settings.Cancelled = [&asks] { return ++asks == 3; };
    settings.MaxConnections = 1;
    std::string path = Tagged("/fetch/page_gb2312.html");
    FetchResult waiting;
    EXPECT_EQ(WideToAnsi(FetchPage(waiting, Url(path), settings)), "");
    held = internal::CSiteLimiter::Slot();
    EXPECT_EQ(waiting.StatusCode, -1);
    EXPECT_EQ(waiting.Failure, FetchFailure::Cancelled);
    EXPECT_EQ(asks, 3);
    EXPECT_TRUE(Log(path).empty());
}

// Starts `count` fetches of `path` (each with its own tag) on as many threads at once.
void FetchTogether(const std::string& path, int count, const FetchSettings& settings,
                   std::vector<FetchResult>& results) {
    results.assign(static_cast<std::size_t>(count), FetchResult());
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            std::u16string url = Utf8ToWide(path + "-" + std::to_string(i));
            FetchPage(results[static_cast<std::size_t>(i)], url, settings);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

TEST_F(SiteMannersTest, RequestsToOneSiteStartTheirIntervalApart) {
    // A request answered before the five are asked for marks, in the server's clock, a time
    // before the first of them could start. The n-th to start did so no sooner than n intervals
    // after the first, so the n-th to arrive came no sooner than n intervals after the mark,
    // however long each took on its way.
    std::string path = Tagged("/fetch/page_gb2312.html");
    FetchResult marker;
    Fetch(path + "marker", FetchSettings(), marker);
    FetchSettings settings;
    settings.RequestInterval = milliseconds(300);
    std::vector<FetchResult> results;
    FetchTogether(site_->BaseUrl() + path, 5, settings, results);
    for (const FetchResult& result : results) {
        EXPECT_EQ(result.StatusCode, 200);
    }
    std::vector<Logged> mark = Log(path + "marker");
    std::vector<Logged> log = Log(path + "-");
    ASSERT_EQ(mark.size(), 1u);
    ASSERT_EQ(log.size(), 5u);
    for (std::size_t i = 1; i < log.size(); ++i) {
        EXPECT_GE(log[i].arrived - mark[0].arrived, 300.0 * static_cast<double>(i))
            << "request " << i;
    }
}

TEST_F(SiteMannersTest, NoMoreRequestsInFlightThanTheSiteAllows) {
    // Each answer takes 300 ms. With room for all six, the count sees more than two at once.
    for (int most : {2, 6}) {
        SCOPED_TRACE(most);
        std::string path = Tagged("/fetch/slow");
        FetchSettings settings;
        settings.MaxConnections = most;
        std::vector<FetchResult> results;
        FetchTogether(site_->BaseUrl() + path, 6, settings, results);
        std::vector<Logged> log = Log(path);
        ASSERT_EQ(log.size(), 6u);
        int atOnce = MostAtOnce(log);
        std::printf("MaxConnections %d: at most %d requests served at once\n", most, atOnce);
        if (most == 2) {
            EXPECT_EQ(atOnce, 2);
        } else {
            EXPECT_GT(atOnce, 2);
        }
    }
}

TEST(RetryAfterWait, ReadsSecondsAndDatesWithinTheLongestWait) {
    using std::chrono::seconds;
    const std::time_t now = 1445412480 - 10; // ten seconds before the date below
    EXPECT_EQ(internal::RetryAfterWait("1", now), seconds(1));
    EXPECT_EQ(internal::RetryAfterWait(" 0 ", now), seconds(0));
    EXPECT_EQ(internal::RetryAfterWait("120", now), kMaxRetryWait);
    EXPECT_EQ(internal::RetryAfterWait("99999999999999999999999", now), kMaxRetryWait);
    EXPECT_EQ(internal::RetryAfterWait("Wed, 21 Oct 2015 07:28:00 GMT", now), seconds(10));
    EXPECT_EQ(internal::RetryAfterWait("Wed, 21 Oct 2015 07:28:00 GMT", now + 100), seconds(0));
    EXPECT_EQ(internal::RetryAfterWait("Wed, 21 Oct 2015 08:28:00 GMT", now), kMaxRetryWait);
    EXPECT_EQ(internal::RetryAfterWait("", now), std::nullopt);
    EXPECT_EQ(internal::RetryAfterWait("soon", now), std::nullopt);
    EXPECT_EQ(internal::RetryAfterWait("-5", now), std::nullopt);
}

} // namespace
} // namespace velunor
