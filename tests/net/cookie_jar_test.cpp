#include "net/cookie_jar.h"

#include "core/core.h"
#include "net/fetcher.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <latch>
#include <set>
#include <thread>

namespace velunor {
namespace {

using Pairs = std::set<std::string>;

class CookieJarTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        site_ = new testing::TestSite();
    }
    static void TearDownTestSuite() {
        delete site_;
        site_ = nullptr;
    }

    // The body of `path` on the test site reached as `host`, fetched with `settings`.
    static std::string Fetch(const std::string& host, const std::string& path,
                             const FetchSettings& settings) {
        std::string url = "http://" + host + ":" + std::to_string(site_->Port()) + path;
        FetchResult result;
        std::string body = FetchBytes(result, Utf8ToWide(url), settings);
        EXPECT_EQ(result.StatusCode, 200) << url;
        return body;
    }

    // The cookie pairs of the echoed request's Cookie lines; fails unless there is at most one.
    static Pairs SentCookies(const std::string& host, const FetchSettings& settings) {
        std::string request = Fetch(host, "/cookies/echo", settings);
        Pairs pairs;
        int lines = 0;
        for (std::size_t at = request.find("\r\nCookie: "); at != std::string::npos;
             at = request.find("\r\nCookie: ", at + 2)) {
            ++lines;
            std::size_t start = at + 10;
            std::string value = request.substr(start, request.find("\r\n", start) - start);
            for (std::size_t begin = 0; begin <= value.size();) {
                std::size_t end = value.find("; ", begin);
                pairs.insert(value.substr(begin, end - begin));
                begin = end == std::string::npos ? value.size() + 1 : end + 2;
            }
        }
        EXPECT_LE(lines, 1) << request;
        return pairs;
    }

    static std::set<std::string> Names(const CCookieJar& jar) {
        std::set<std::string> names;
        for (const CookieEntry& cookie : jar.Cookies()) {
            names.insert(cookie.Name);
        }
        return names;
    }

    static testing::TestSite* site_;
};

testing::TestSite* CookieJarTest::site_ = nullptr;

// A jar sends its cookies only to the host that set them (127.0.0.1 and localhost are two hosts
// of one server) and only through the settings that hold it; a rule's own Cookie line is added
// after the jar's cookies in the same line, wherever the request goes.
TEST_F(CookieJarTest, CookiesGoOnlyToTheirHostAndJarWithTheRulesOwnAdded) {
    FetchSettings owner;
    owner.Cookies = std::make_shared<CCookieJar>();
    Fetch("127.0.0.1", "/cookies/login", owner);
    FetchSettings withRuleCookie = owner;
    withRuleCookie.Headers = {"Cookie: extra=1", "X-Other: 2"};
    FetchSettings otherSite;
    otherSite.Cookies = std::make_shared<CCookieJar>();

    struct Case {
        const char* what;
        std::string host;
        const FetchSettings& settings;
        Pairs sent;
    } cases[] = {
        {"the jar's host", "127.0.0.1", owner, {"sid=s1", "keep=1"}},
        {"another host", "localhost", owner, {}},
        {"another site's jar", "127.0.0.1", otherSite, {}},
        {"the rule's line added", "127.0.0.1", withRuleCookie, {"sid=s1", "keep=1", "extra=1"}},
        {"the rule's line alone elsewhere", "localhost", withRuleCookie, {"extra=1"}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        EXPECT_EQ(SentCookies(each.host, each.settings), each.sent);
    }
    std::string request = Fetch("127.0.0.1", "/cookies/echo", withRuleCookie);
    EXPECT_NE(request.find("; extra=1\r\n"), std::string::npos) << request;
}

// A jar with a file writes what a page set into it at once, readable by the user alone in a
// folder only the user may enter; a fresh jar on the file has the cookies back and sends them,
// and a cookie the site expires is gone from the jar and the file.
TEST_F(CookieJarTest, KeptInAPrivateFileForTheNextRun) {
    testing::TempFolder folder;
    std::u16string path = folder.WideFile("Cookies/site.txt");
    FetchSettings first;
    first.Cookies = std::make_shared<CCookieJar>(path);
    Fetch("127.0.0.1", "/cookies/login", first);
    struct stat file {};
    struct stat jars {};
    ASSERT_EQ(::stat(NativePath(path).c_str(), &file), 0);
    ASSERT_EQ(::stat(folder.File("Cookies").c_str(), &jars), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(jars.st_mode & 0777, 0700u);

    FetchSettings next;
    next.Cookies = std::make_shared<CCookieJar>(path);
    EXPECT_EQ(Names(*next.Cookies), (std::set<std::string>{"sid", "keep"}));
    EXPECT_EQ(SentCookies("127.0.0.1", next), (Pairs{"sid=s1", "keep=1"}));

    Fetch("127.0.0.1", "/cookies/logout", next);
    EXPECT_EQ(Names(*next.Cookies), std::set<std::string>{"keep"});
    EXPECT_EQ(Names(CCookieJar(path)), std::set<std::string>{"keep"});
    EXPECT_EQ(::stat(NativePath(path).c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
}

// A file that holds expired cookies and damaged lines still gives its good cookies, as they
// were (HttpOnly, expiry, session); the next save leaves the rest out.
TEST_F(CookieJarTest, ExpiredAndDamagedLinesAreDropped) {
    testing::TempFolder folder;
    std::string file =
        folder.Write("site.txt", "# Netscape HTTP Cookie File\n"
                                 "127.0.0.1\tFALSE\t/\tFALSE\t0\tsess\tv1\r\n"
                                 "127.0.0.1\tFALSE\t/\tFALSE\t946684800\told\tv2\n"
                                 "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t4102444800\thid\tv3\n"
                                 "not a cookie line\n\x01\x02\xff\n"
                                 "127.0.0.1\tFALSE\t/\tFALSE\tsoon\tbad\tv4\n");
    FetchSettings settings;
    settings.Cookies = std::make_shared<CCookieJar>(Utf8ToWide(file));
    std::vector<CookieEntry> cookies = settings.Cookies->Cookies();
    ASSERT_EQ(cookies.size(), 2u);
    for (const CookieEntry& cookie : cookies) {
        SCOPED_TRACE(cookie.Name);
        EXPECT_EQ(cookie.Domain, "127.0.0.1");
        EXPECT_EQ(cookie.HttpOnly, cookie.Name == "hid");
        EXPECT_EQ(cookie.Expires, cookie.Name == "hid" ? 4102444800 : 0);
    }
    EXPECT_EQ(SentCookies("127.0.0.1", settings), (Pairs{"sess=v1", "hid=v3"}));
    ASSERT_TRUE(settings.Cookies->Save());
    std::string saved = testing::ReadFileBytes(file);
    EXPECT_NE(saved.find("\tsess\tv1\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("#HttpOnly_127.0.0.1\t"), std::string::npos) << saved;
    for (const char* gone : {"old", "not a cookie", "bad"}) {
        EXPECT_EQ(saved.find(gone), std::string::npos) << gone;
    }
}

// Many transfers store into and send from one jar at once while it is listed and saved.
TEST_F(CookieJarTest, ThreadsShareOneJar) {
    testing::TempFolder folder;
    FetchSettings settings;
    settings.Cookies = std::make_shared<CCookieJar>(folder.WideFile("site.txt"));
    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<Pairs> sent(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            Fetch("127.0.0.1", "/cookies/login", settings);
            sent[i] = SentCookies("127.0.0.1", settings);
            settings.Cookies->Cookies();
            settings.Cookies->Save();
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const Pairs& pairs : sent) {
        EXPECT_EQ(pairs, (Pairs{"sid=s1", "keep=1"}));
    }
    EXPECT_EQ(Names(CCookieJar(folder.WideFile("site.txt"))),
              (std::set<std::string>{"sid", "keep"}));
}

} // namespace
} // namespace velunor
