#include "net/fetcher.h"

#include "core/core.h"
#include "net/internal/transfer.h"
#include "support/temp_folder.h"
#include "support/test_site.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace velunor {
namespace {

using testing::HangGuard;
using testing::TempFolder;
using testing::TestSite;

std::string ReadFixture(const std::string& name) {
    std::ifstream in(std::string(VELUNOR_TEST_DATA) + "/site/fetch/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::u16string PageText() {
    return AnsiToWide(ReadFixture("page_gb2312.html"));
}

sockaddr_in LoopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// The port the system chose when `fd` was bound to port 0.
int BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A local port that nothing listens on: bound once by the system's choice, then released.
int ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = LoopbackAddress(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int port = BoundPort(fd);
    close(fd);
    return port;
}

// A port on 127.0.0.1 whose listener never accepts: the system completes connections into its
// queue, and nobody ever reads or answers them. Once the queue is full, new connections are not
// even completed, so a client stays in its connect.
class DeafListener {
  public:
    DeafListener() {
        sockaddr_in address = LoopbackAddress(0);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        // A queue of one place.
        listen(listener_, 0);
        port_ = BoundPort(listener_);
    }
    ~DeafListener() {
        close(filler_);
        close(listener_);
    }
    DeafListener(const DeafListener&) = delete;
    DeafListener& operator=(const DeafListener&) = delete;

    std::u16string Url() const {
        return Utf8ToWide("http://127.0.0.1:" + std::to_string(port_) + "/x");
    }
    int Port() const {
        return port_;
    }
    /// Takes the queue's only place, so that later connections hang in their handshake.
    void FillQueue() const {
        sockaddr_in address = LoopbackAddress(port_);
        connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    /// True when some connection waits in the queue.
    bool HasCaller() const {
        pollfd ready{listener_, POLLIN, 0};
        return poll(&ready, 1, 0) > 0;
    }

  private:
    int listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int filler_ = socket(AF_INET, SOCK_STREAM, 0);
    int port_ = 0;
};

// Settings under which no time limit of the fetcher's own ends a request.
FetchSettings Untimed() {
    FetchSettings settings;
    settings.StallTimeout = std::chrono::hours(1);
    settings.LowSpeedLimit = 0;
    settings.TotalTimeout = std::chrono::milliseconds(0);
    return settings;
}

// A cancel test that turns true the `nth` time it is asked, and counts how often it was: the
// fetcher asks it once before it starts and all the while it waits, so a late enough `nth` falls
// while the request is under way.
class CancelAtAsk {
  public:
    explicit CancelAtAsk(int nth) : nth_(nth) {}

    FetchSettings Settings() {
        FetchSettings settings = Untimed();
        settings.Cancelled = [this] { return ++asks_ >= nth_; };
        return settings;
    }
    int Asks() const {
        return asks_.load();
    }

  private:
    int nth_;
    std::atomic<int> asks_{0};
};

// A server on 127.0.0.1 that answers `answers` requests with `body` and no Content-Length,
// ending each body by closing the connection, so that a client learns its size only as it comes.
class UnsizedServer {
  public:
    UnsizedServer(std::string body, int answers) : body_(std::move(body)) {
        sockaddr_in address = LoopbackAddress(0);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 4);
        port_ = BoundPort(listener_);
        thread_ = std::thread([this, answers] {
            for (int i = 0; i < answers && AnswerOne(); ++i) {
            }
        });
    }
    ~UnsizedServer() {
        thread_.join();
        close(listener_);
    }
    UnsizedServer(const UnsizedServer&) = delete;
    UnsizedServer& operator=(const UnsizedServer&) = delete;

    std::u16string Url() const {
        return Utf8ToWide("http://127.0.0.1:" + std::to_string(port_) + "/x");
    }

  private:
    // False when no client came within 10 s, so that a test that fails early cannot hang here.
    bool AnswerOne() {
        pollfd ready{listener_, POLLIN, 0};
        if (poll(&ready, 1, 10000) <= 0) {
            return false;
        }
        int client = accept(listener_, nullptr, nullptr);
        std::string request;
        char buffer[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            ssize_t got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            request.append(buffer, static_cast<std::size_t>(got));
        }
        std::string answer = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body_;
        send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(client);
        return true;
    }

    std::string body_;
    int listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int port_ = 0;
    std::thread thread_;
};

FetchSettings WithStallTimeout(std::chrono::milliseconds timeout) {
    FetchSettings settings;
    settings.StallTimeout = timeout;
    return settings;
}

class FetcherTest : public ::testing::Test {
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

    static TestSite* site_;
};

TestSite* FetcherTest::site_ = nullptr;

struct PageCase {
    const char* path;
    std::int32_t status;
    std::u16string text;
};

TEST_F(FetcherTest, ReturnsEveryBodyWithItsStatus) {
    const std::vector<PageCase> cases = {
        {"/fetch/page_gb2312.html", 200, PageText()},
        {"/fetch/gzip", 200, PageText()},
        {"/fetch/zlib", 200, PageText()},
        {"/fetch/deflate", 200, PageText()},
        {"/fetch/slow", 200, PageText()},
        // Sent as gzip but plain text: not inflatable, so an empty page with the real status.
        {"/fetch/garbage", 200, u""},
        // Only the text before a zero byte counts, compressed or not.
        {"/fetch/zero", 200, u"<p>before</p>"},
        {"/fetch/gzip-zero", 200, u"<p>before</p>"},
        // Error answers are pages too.
        {"/fetch/error500", 500, u"server error"},
        {"/fetch/missing-page", 404, u"no such chapter"},
        {"/fetch/no-such-file.html", 404, u"not found"},
        {"/fetch/found", 302, u"moved"},
    };
    for (const PageCase& c : cases) {
        SCOPED_TRACE(c.path);
        FetchResult result;
        EXPECT_EQ(FetchPage(result, Url(c.path)), c.text);
        EXPECT_EQ(result.StatusCode, c.status);
    }
}

TEST_F(FetcherTest, FetchBytesReturnsTheBodyBytesUndecoded) {
    const std::string gbk = ReadFixture("page_gb2312.html");
    // GBK bytes that are no UTF-8, and a NUL that FetchPage would stop at.
    ASSERT_NE(AnsiToWide(gbk), Utf8ToWide(gbk));
    const std::string zero = ReadFixture("zero_byte.html");
    ASSERT_NE(zero.find('\0'), std::string::npos);
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"/fetch/page_gb2312.html", gbk},
        {"/fetch/gzip", gbk},
        {"/fetch/zero", zero},
        {"/fetch/missing-page", "no such chapter"},
    };
    for (const auto& [path, bytes] : cases) {
        SCOPED_TRACE(path);
        FetchResult result;
        EXPECT_EQ(FetchBytes(result, Url(path)), bytes);
        EXPECT_EQ(result.Failure, FetchFailure::None);
    }
}

struct FailureCase {
    const char* name;
    std::u16string url;
    FetchSettings settings;
    FetchFailure failure;
    // libcurl's code for it, 0 when libcurl has none.
    int curlCode;
    // What FetchFailureText must hold.
    std::string text;
};

FetchSettings CancelledWhileWaiting() {
    // True from the fifth question on: the server holds the answer, and the fetcher asks every
    // 100 ms while it waits, so the cancel comes while the transfer runs.
    auto asked = std::make_shared<std::atomic<int>>(0);
    FetchSettings settings;
    settings.Cancelled = [asked] { return asked->fetch_add(1) >= 4; };
    return settings;
}

TEST_F(FetcherTest, SaysWhyEachFailedRequestFailed) {
    FetchSettings stall;
    stall.StallTimeout = std::chrono::milliseconds(300);
    FetchSettings alwaysCancelled;
    alwaysCancelled.Cancelled = [] { return true; };
    FetchSettings small;
    small.BodyLimit = 100;
    FetchSettings follow;
    follow.FollowRedirects = true;
    std::string https = "https://127.0.0.1:" + std::to_string(site_->Port());
    std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort());
    const std::vector<FailureCase> cases = {
        {"name not found",
         u"http://nohost.invalid/x",
         {},
         FetchFailure::NameNotFound,
         6,
         "nohost.invalid (curl 6)"},
        {"plain HTTP on https",
         Utf8ToWide(https + "/fetch/page_gb2312.html"),
         {},
         FetchFailure::Tls,
         35,
         "(curl 35)"},
        {"stall", Url("/fetch/stall"), stall, FetchFailure::TimedOut, 28,
         "Nothing received for 300 ms (curl 28)"},
        {"refused", Utf8ToWide(closed + "/x"), {}, FetchFailure::CouldNotConnect, 7, "(curl 7)"},
        {"cut", Url("/fetch/cut"), {}, FetchFailure::CouldNotConnect, 18, "(curl 18)"},
        {"cancelled before", Url("/fetch/page_gb2312.html"), alwaysCancelled,
         FetchFailure::Cancelled, 0, "cancelled"},
        {"cancelled while waiting", Url("/fetch/stall"), CancelledWhileWaiting(),
         FetchFailure::Cancelled, 0, "cancelled"},
        {"over the body limit", Url("/fetch/page_gb2312.html"), small, FetchFailure::TooLarge, 63,
         "(curl 63)"},
        {"gopher", u"gopher://127.0.0.1/x", {}, FetchFailure::BadAddress, 1, "gopher"},
        {"malformed", u"http://127.0.0.1:99999/x", {}, FetchFailure::BadAddress, 3, "(curl 3)"},
        {"redirect to file", Url("/fetch/redirect?to=file:///etc/passwd"), follow,
         FetchFailure::BadAddress, 1, "file"},
        {"redirect too many", Url("/fetch/chain-6"), follow, FetchFailure::TooManyRedirects, 47,
         "(curl 47)"},
        {"not inflatable",
         Url("/fetch/garbage"),
         {},
         FetchFailure::BadContent,
         0,
         "body cannot be inflated (HTTP 200)"},
        {"an error page is an answer",
         Url("/fetch/missing-page"),
         {},
         FetchFailure::None,
         0,
         "HTTP 404"},
    };
    // One result for every case, as callers reuse theirs: nothing of an earlier failure stays.
    FetchResult result;
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = FetchBytes(result, c.url, c.settings);
        EXPECT_EQ(result.Failure, c.failure);
        EXPECT_EQ(result.CurlCode, c.curlCode);
        EXPECT_EQ(result.CurlText.empty(), c.curlCode == 0) << result.CurlText;
        std::string text = FetchFailureText(result);
        EXPECT_NE(text.find(c.text), std::string::npos) << text;
        EXPECT_EQ(bytes.empty(), c.failure != FetchFailure::None);
    }
    FetchPage(result, Url("/fetch/page_gb2312.html"));
    EXPECT_EQ(result.Failure, FetchFailure::None);
    EXPECT_EQ(result.CurlCode, 0);
    EXPECT_EQ(FetchFailureText(result), "");
}

TEST_F(FetcherTest, LeavesALowerCaseContentEncodingUndecoded) {
    FetchResult result;
    std::u16string page = FetchPage(result, Url("/fetch/lowercase"));
    EXPECT_EQ(result.StatusCode, 200);
    // The gzip magic number comes through as it was sent.
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(page[0], u'\x1F');
    EXPECT_NE(page, PageText());
}

TEST_F(FetcherTest, ReadsUtf8PagesThroughTheAnsiDecoding) {
    FetchResult result;
    std::u16string page = FetchPage(result, Url("/fetch/gzip-utf8"));
    EXPECT_EQ(ReinterpretAsUtf8(page), Utf8ToWide(ReadFixture("page_utf8.html")));
}

TEST_F(FetcherTest, InflatesPagesLongerThanAMegabyteWhole) {
    FetchResult plainResult;
    std::u16string plain = FetchPage(plainResult, Url("/fetch/big-plain"));
    FetchResult gzipResult;
    std::u16string inflated = FetchPage(gzipResult, Url("/fetch/big-gzip"));
    EXPECT_GT(plain.size(), 1024000u);
    EXPECT_EQ(inflated.size(), plain.size());
    EXPECT_TRUE(inflated == plain);
}

TEST_F(FetcherTest, ReportsTheTargetOfA302Only) {
    FetchResult found;
    FetchPage(found, Url("/fetch/found"));
    EXPECT_EQ(found.StatusCode, 302);
    EXPECT_EQ(found.Location, "/fetch/page_gb2312.html");

    FetchResult gbk;
    FetchPage(gbk, Url("/fetch/found-gbk"));
    EXPECT_EQ(gbk.Location, "/book/\xB6\xB7\xC2\xDE.html");
    EXPECT_EQ(LocationText(gbk), u"/book/斗罗.html");

    for (const char* path : {"/fetch/moved", "/fetch/see-other"}) {
        SCOPED_TRACE(path);
        FetchResult other;
        other.Location = "earlier";
        FetchPage(other, Url(path));
        EXPECT_NE(other.StatusCode, 302);
        EXPECT_EQ(other.Location, "earlier");
    }
}

TEST_F(FetcherTest, ReadsTheLocationHeaderByItsName) {
    // Content-Location comes first and holds the text "Location: " too; a lower-case name is the
    // same header.
    for (const char* path : {"/fetch/found-after-content-location", "/fetch/found-lowercase"}) {
        SCOPED_TRACE(path);
        FetchResult result;
        FetchPage(result, Url(path));
        EXPECT_EQ(result.StatusCode, 302);
        EXPECT_EQ(result.Location, "/right");
    }
}

TEST_F(FetcherTest, ClearsAnEarlierLocationWhenA302HasNone) {
    FetchResult result;
    result.Location = "/stale.html";
    FetchPage(result, Url("/fetch/found-nowhere"));
    EXPECT_EQ(result.StatusCode, 302);
    EXPECT_EQ(result.Location, "");
}

TEST_F(FetcherTest, FailsFastOnAClosedPort) {
    // No time limit ends these requests: only the refused connection can.
    std::u16string url = Utf8ToWide("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x");
    TempFolder temp;
    HangGuard guard("fetching from a closed port");
    FetchResult page;
    EXPECT_EQ(FetchPage(page, url, Untimed()), u"");
    EXPECT_EQ(page.StatusCode, -1);
    FetchResult file;
    EXPECT_FALSE(FetchToFile(file, url, temp.WideFile("x.jpg"), Untimed()));
    EXPECT_EQ(file.StatusCode, -1);
    EXPECT_EQ(access(temp.File("x.jpg").c_str(), F_OK), -1);
}

TEST_F(FetcherTest, FailsWhenTheConnectionClosesMidBody) {
    FetchResult result;
    EXPECT_EQ(FetchPage(result, Url("/fetch/cut")), u"");
    EXPECT_EQ(result.StatusCode, -1);
}

TEST_F(FetcherTest, GivesUpOnAServerThatStopsSending) {
    // The server sends half the page, then holds the connection open for ten minutes: only the
    // stall time can end the request. That it is not ended by shorter silences is shown by the
    // slow but steady transfer below.
    HangGuard guard("a fetch from a stalled server");
    FetchResult result;
    EXPECT_EQ(FetchPage(result, Url("/fetch/stall"), WithStallTimeout(std::chrono::seconds(1))),
              u"");
    EXPECT_EQ(result.StatusCode, -1);
}

TEST_F(FetcherTest, KeepsASlowButSteadyTransferUnderItsOwnStallTime) {
    // Five pieces 0.4 s apart: longer in total than a second, but never silent that long. Two
    // requests run at once with different stall times, and each keeps its own.
    FetchResult shortResult;
    std::u16string shortPage;
    std::thread shortFetch([&] {
        shortPage = FetchPage(shortResult, Url("/fetch/trickle"),
                              WithStallTimeout(std::chrono::milliseconds(200)));
    });
    FetchResult steadyResult;
    std::u16string steadyPage =
        FetchPage(steadyResult, Url("/fetch/trickle"), WithStallTimeout(std::chrono::seconds(1)));
    shortFetch.join();
    EXPECT_EQ(steadyPage, PageText());
    EXPECT_EQ(steadyResult.StatusCode, 200);
    EXPECT_EQ(shortPage, u"");
    EXPECT_EQ(shortResult.StatusCode, -1);
}

struct CancelCase {
    const char* name;
    std::u16string url;
};

TEST_F(FetcherTest, CancelEndsARequestThatIsUnderWay) {
    // A site whose only page answers after ten minutes.
    TempFolder root;
    std::filesystem::create_directory(root.File("quiet"));
    root.Write("quiet/routes.json", R"({"/silent": {"body": "late", "delay_ms": 600000}})");
    TestSite quietSite(root.Path());
    DeafListener crowded;
    crowded.FillQueue();

    const std::vector<CancelCase> cases = {
        {"server never answers", quietSite.Url("/quiet/silent")},
        {"still connecting", crowded.Url()},
    };
    for (const CancelCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Neither answers nor ends by a time limit: only the cancel ends the request, once it
        // has waited through a few of the fetcher's looks. How soon after the cancel it ends is
        // a figure of the network benchmark.
        HangGuard guard(c.name);
        CancelAtAsk cancel(5);
        FetchResult result;
        EXPECT_EQ(FetchPage(result, c.url, cancel.Settings()), u"");
        EXPECT_EQ(result.StatusCode, -1);
        EXPECT_GE(cancel.Asks(), 5);
    }
}

TEST_F(FetcherTest, CancelEndsATricklingBodyAndKeepsWhatArrived) {
    // Cancelled as soon as the first piece is in the file; the whole page takes 2 s to arrive.
    TempFolder temp;
    std::string file = temp.File("part.html");
    FetchSettings settings;
    settings.Cancelled = [&file] { return access(file.c_str(), F_OK) == 0; };
    FetchResult result;
    EXPECT_FALSE(FetchToFile(result, Url("/fetch/trickle"), temp.WideFile("part.html"), settings));
    EXPECT_EQ(result.StatusCode, -1);
    std::string page = ReadFixture("page_gb2312.html");
    std::string part = temp.Read("part.html");
    EXPECT_FALSE(part.empty());
    EXPECT_LT(part.size(), page.size());
    EXPECT_EQ(page.substr(0, part.size()), part);
}

TEST_F(FetcherTest, AlreadyCancelledRequestNeverConnects) {
    DeafListener listener;
    TempFolder temp;
    FetchSettings settings;
    settings.Cancelled = [] { return true; };
    FetchResult page;
    page.StatusCode = 200;
    EXPECT_EQ(FetchPage(page, listener.Url(), settings), u"");
    EXPECT_EQ(page.StatusCode, -1);
    FetchResult file;
    EXPECT_FALSE(FetchToFile(file, listener.Url(), temp.WideFile("x.html"), settings));
    EXPECT_EQ(file.StatusCode, -1);
    EXPECT_EQ(access(temp.File("x.html").c_str(), F_OK), -1);
    EXPECT_FALSE(listener.HasCaller());
    // The listener does see a request that is not cancelled, which is then cancelled for it.
    FetchSettings untilCalled = Untimed();
    untilCalled.Cancelled = [&listener] { return listener.HasCaller(); };
    HangGuard guard("a fetch waiting to reach the listener");
    FetchResult reached;
    EXPECT_EQ(FetchPage(reached, listener.Url(), untilCalled), u"");
    EXPECT_TRUE(listener.HasCaller());
}

TEST_F(FetcherTest, RefusesSchemesOtherThanHttpWithoutConnecting) {
    // A page may carry any address; these would send its path to whatever service listens. The
    // listener never accepts, so a connection would wait in its queue with the bytes sent to it.
    TempFolder temp;
    for (const char* scheme : {"gopher", "dict", "ftp", "GOPHER"}) {
        SCOPED_TRACE(scheme);
        DeafListener listener;
        std::u16string url =
            Utf8ToWide(std::string(scheme) + "://127.0.0.1:" + std::to_string(listener.Port()) +
                       "/_SET%20pwned%201");
        FetchResult page;
        EXPECT_EQ(FetchPage(page, url, WithStallTimeout(std::chrono::seconds(1))), u"");
        EXPECT_EQ(page.StatusCode, -1);
        FetchResult file;
        EXPECT_FALSE(FetchToFile(file, url, temp.WideFile("x.bin"),
                                 WithStallTimeout(std::chrono::seconds(1))));
        EXPECT_EQ(file.StatusCode, -1);
        EXPECT_FALSE(listener.HasCaller());
    }
    EXPECT_EQ(access(temp.File("x.bin").c_str(), F_OK), -1);
    // The scheme's case does not matter for the ones that are fetched.
    std::string httpUrl = WideToUtf8(Url("/fetch/page_gb2312.html"));
    FetchResult upper;
    EXPECT_EQ(FetchPage(upper, Utf8ToWide("HTTP" + httpUrl.substr(4))), PageText());
    EXPECT_EQ(upper.StatusCode, 200);
}

TEST_F(FetcherTest, ReadsNoLocalFile) {
    TempFolder temp;
    temp.Write("secret.txt", "secret");
    for (std::u16string url : {u"file://" + temp.WideFile("secret.txt"),
                               u"FILE://localhost" + temp.WideFile("secret.txt")}) {
        SCOPED_TRACE(WideToUtf8(url));
        FetchResult page;
        EXPECT_EQ(FetchPage(page, url), u"");
        EXPECT_EQ(page.StatusCode, -1);
        FetchResult file;
        EXPECT_FALSE(FetchToFile(file, url, temp.WideFile("copy.txt")));
        EXPECT_EQ(file.StatusCode, -1);
        EXPECT_EQ(access(temp.File("copy.txt").c_str(), F_OK), -1);
    }
}

TEST_F(FetcherTest, EndsATransferSlowerThanItsLowSpeedLimit) {
    // The trickling page sends its headers at once, then 37 bytes every 0.4 s, about 90 bytes a
    // second, and is never silent long enough to stall; it is complete after 2 s.
    FetchSettings strict;
    strict.LowSpeedLimit = 1024;
    strict.LowSpeedTime = std::chrono::seconds(1);
    FetchResult slow;
    EXPECT_EQ(FetchPage(slow, Url("/fetch/trickle"), strict), u"");
    EXPECT_EQ(slow.StatusCode, -1);
    EXPECT_EQ(slow.Failure, FetchFailure::TimedOut);

    // Every second of it brings at least two pieces, 74 bytes.
    FetchSettings lenient;
    lenient.LowSpeedLimit = 50;
    lenient.LowSpeedTime = std::chrono::seconds(1);
    FetchResult steady;
    EXPECT_EQ(FetchPage(steady, Url("/fetch/trickle"), lenient), PageText());
    EXPECT_EQ(steady.StatusCode, 200);
}

TEST_F(FetcherTest, EndsATransferThatOutlastsItsTotalTime) {
    struct TotalCase {
        const char* path;
        std::chrono::milliseconds limit;
    };
    // A page that keeps coming, and one whose answer has not begun when the time is up.
    for (const TotalCase& c : {TotalCase{"/fetch/trickle", std::chrono::milliseconds(800)},
                               TotalCase{"/fetch/slow", std::chrono::milliseconds(100)}}) {
        SCOPED_TRACE(c.path);
        FetchSettings settings;
        settings.TotalTimeout = c.limit;
        FetchResult result;
        EXPECT_EQ(FetchPage(result, Url(c.path), settings), u"");
        EXPECT_EQ(result.StatusCode, -1);
    }
    FetchSettings ample;
    ample.TotalTimeout = std::chrono::seconds(10);
    FetchResult result;
    EXPECT_EQ(FetchPage(result, Url("/fetch/trickle"), ample), PageText());
}

TEST_F(FetcherTest, RefusesABodyLargerThanItsLimit) {
    // Announced by Content-Length: the 185-byte page.
    TempFolder temp;
    FetchSettings exact;
    exact.BodyLimit = 185;
    FetchResult whole;
    EXPECT_EQ(FetchPage(whole, Url("/fetch/page_gb2312.html"), exact), PageText());
    FetchSettings small;
    small.BodyLimit = 184;
    FetchResult refused;
    EXPECT_EQ(FetchPage(refused, Url("/fetch/page_gb2312.html"), small), u"");
    EXPECT_EQ(refused.StatusCode, -1);
    FetchResult file;
    EXPECT_FALSE(FetchToFile(file, Url("/fetch/page_gb2312.html"), temp.WideFile("p.html"), small));
    EXPECT_EQ(file.StatusCode, -1);
    EXPECT_EQ(access(temp.File("p.html").c_str(), F_OK), -1);

    // Known only as it arrives, in several chunks.
    std::string body(100000, 'x');
    UnsizedServer server(body, 2);
    FetchSettings enough;
    enough.BodyLimit = body.size();
    FetchResult received;
    EXPECT_TRUE(FetchToFile(received, server.Url(), temp.WideFile("whole.bin"), enough));
    EXPECT_EQ(received.StatusCode, 200);
    EXPECT_EQ(temp.Read("whole.bin"), body);
    FetchSettings tooFew;
    tooFew.BodyLimit = body.size() - 1;
    FetchResult cut;
    EXPECT_FALSE(FetchToFile(cut, server.Url(), temp.WideFile("cut.bin"), tooFew));
    EXPECT_EQ(cut.StatusCode, -1);
    EXPECT_EQ(cut.Failure, FetchFailure::TooLarge);
    EXPECT_LT(temp.Read("cut.bin").size(), body.size());
}

TEST_F(FetcherTest, FetchToFileAppendsTheBodyAsReceived) {
    TempFolder temp;
    std::u16string path = temp.WideFile("图片.png");
    FetchResult first;
    EXPECT_TRUE(FetchToFile(first, Url("/fetch/image.png"), path));
    FetchResult second;
    EXPECT_TRUE(FetchToFile(second, Url("/fetch/image.png"), path));
    EXPECT_EQ(second.StatusCode, 200);
    std::string image = ReadFixture("image.png");
    EXPECT_EQ(temp.Read("图片.png"), image + image);

    // No inflating on this path, and an error answer counts as stored.
    FetchResult gzip;
    EXPECT_TRUE(FetchToFile(gzip, Url("/fetch/gzip"), temp.WideFile("gzip.bin")));
    EXPECT_EQ(temp.Read("gzip.bin").substr(0, 2), "\x1F\x8B");
    FetchResult missing;
    EXPECT_TRUE(FetchToFile(missing, Url("/fetch/missing-page"), temp.WideFile("404.html")));
    EXPECT_EQ(missing.StatusCode, 404);
    EXPECT_EQ(temp.Read("404.html"), "no such chapter");
}

TEST_F(FetcherTest, FetchToFileFailsWhenTheFileCannotBeWritten) {
    TempFolder temp;
    FetchResult result;
    EXPECT_FALSE(FetchToFile(result, Url("/fetch/image.png"), temp.WideFile("no/such/a.png")));
    EXPECT_EQ(result.StatusCode, -1);
    EXPECT_EQ(result.Failure, FetchFailure::WriteFailed);
    EXPECT_NE(FetchFailureText(result), "");
}

TEST_F(FetcherTest, SendsSpacesAndControlsEscapedAndGbkBytesAsTheyAre) {
    FetchResult result;
    std::u16string page = FetchPage(result, Url("/fetch/echo?q=") + u"a b\tc\x7F斗罗~%41");
    EXPECT_EQ(result.StatusCode, 200);
    EXPECT_EQ(page, u"/fetch/echo?q=a%20b%09c%7F斗罗~%41");
}

TEST(EscapeControlBytes, EscapesExactlyControlsSpaceAndDelete) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all += static_cast<char>(byte);
    }
    std::string escaped = internal::EscapeControlBytes(all);
    std::string expected;
    for (int byte = 1; byte < 256; ++byte) {
        if (byte <= 0x20 || byte == 0x7F) {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", byte);
            expected += code;
        } else {
            expected += static_cast<char>(byte);
        }
    }
    EXPECT_EQ(escaped, expected);
}

TEST_F(FetcherTest, TwentyThreadsFetchAtOnce) {
    constexpr int kThreads = 20;
    constexpr int kFetchesEach = 5;
    std::latch start(kThreads);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    const std::u16string expected = PageText();
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kFetchesEach; ++i) {
                FetchResult result;
                const char* path = (t + i) % 2 == 0 ? "/fetch/gzip" : "/fetch/page_gb2312.html";
                if (FetchPage(result, Url(path)) == expected && result.StatusCode == 200) {
                    good.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(good.load(), kThreads * kFetchesEach);
}

} // namespace
} // namespace velunor
