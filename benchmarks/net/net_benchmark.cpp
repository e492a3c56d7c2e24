// Figures for the fetcher, printed side by side with their yardsticks:
// - InflateBody on a 1 MB gzip page against zlib's one-call inflate of the same bytes, after a
//   check that InflateBody gives exactly what a one-byte-at-a-time inflate loop gives;
// - 2,000 FetchPage calls of a 30 KB gzip page from a local server on 5 and 20 threads
//   against the curl tool fetching the same addresses in parallel, a new connection per page;
//   the site's connection limit is raised to the thread count, and the 20-thread run is
//   repeated under the default limit of 5;
// - the cost of a turn in the site limiter when nothing waits, next to a fetch's;
// - how soon a request ends after its cancel, its stall time, its low-speed span or its total
//   time runs out (the cancel is looked at every 100 ms), and the intervals a site's requests
//   are answered at under a least interval, from the local test site.

#include "net/fetcher.h"
#include "net/internal/site_limiter.h"
#include "page_server.h"
#include "support/compressed_body.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <zlib.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace velunor {
namespace {

using Clock = std::chrono::steady_clock;
using testing::Compress;

constexpr int kFetches = 2000;
constexpr int kInflateRounds = 40;

// CPU seconds used so far by this process (`who` RUSAGE_SELF) or by its ended children.
double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A novel page: Chinese text with numbers, so that it compresses like a real one.
std::string NovelPage(std::size_t size) {
    std::mt19937 random(11);
    std::string page = "<html><body>";
    while (page.size() < size) {
        page += "<p>\xB5\xDA" + std::to_string(random() % 5000) + "\xD5\xC2 \xC9\xD9\xC4\xEA " +
                std::to_string(random()) + "</p>\r\n";
    }
    return page;
}

enum class Pass { Inflated, Rejected, Failed };

// The one-byte-at-a-time loop: one byte of input and one byte of output room per call.
Pass ByteLoopPass(int windowBits, const std::string& input, std::string& out, std::size_t limit) {
    z_stream stream{};
    inflateInit2(&stream, windowBits);
    std::size_t position = 0;
    Pass pass = Pass::Failed;
    for (;;) {
        Bytef byte = 0;
        bool inputLeft = position < input.size();
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + position));
        stream.avail_in = inputLeft ? 1 : 0;
        stream.next_out = &byte;
        stream.avail_out = 1;
        int status = inflate(&stream, Z_NO_FLUSH);
        position += inputLeft ? 1 - stream.avail_in : 0;
        bool produced = stream.avail_out == 0;
        if (produced) {
            out.push_back(static_cast<char>(byte));
        }
        if (out.size() > limit) {
            break;
        }
        if (status == Z_STREAM_END || (!inputLeft && !produced)) {
            pass = Pass::Inflated;
            break;
        }
        if (status == Z_DATA_ERROR && stream.total_out == 0) {
            pass = Pass::Rejected;
            break;
        }
        if (status != Z_OK && status != Z_BUF_ERROR) {
            break;
        }
    }
    inflateEnd(&stream);
    return pass;
}

int ByteLoopInflate(const std::string& body, std::string& out, std::size_t limit) {
    out.clear();
    Pass pass = ByteLoopPass(15 + 32, body, out, limit);
    if (pass == Pass::Rejected) {
        out.clear();
        pass = ByteLoopPass(15, std::string("\x78\x01", 2) + body, out, limit);
    }
    if (pass != Pass::Inflated) {
        out.clear();
        return -1;
    }
    return 0;
}

// zlib's one-call inflate into a buffer of the known size: the fastest way zlib offers.
bool OneCallInflate(const std::string& body, std::string& out) {
    z_stream stream{};
    inflateInit2(&stream, 15 + 32);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    stream.avail_in = static_cast<uInt>(body.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int status = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

bool CheckAgainstByteLoop(const std::string& page) {
    std::string gzip = Compress(page, testing::kGzipBits);
    std::string damaged = gzip;
    damaged[gzip.size() / 2] = static_cast<char>(~damaged[gzip.size() / 2]);
    const std::vector<std::pair<const char*, std::string>> bodies = {
        {"gzip", gzip},
        {"zlib", Compress(page, testing::kZlibBits)},
        {"raw deflate", Compress(page, testing::kRawDeflateBits)},
        {"gzip cut in half", gzip.substr(0, gzip.size() / 2)},
        {"gzip damaged", damaged},
        {"plain text", page.substr(0, 4000)},
        {"empty", ""},
        {"gzip with a zero byte", Compress(std::string("before\0after", 12), testing::kGzipBits)},
    };
    bool allSame = true;
    for (const auto& [name, body] : bodies) {
        for (std::size_t limit : {kInflateLimit, page.size() / 3}) {
            std::string fast;
            std::string slow;
            int fastResult = InflateBody(body, fast, limit);
            int slowResult = ByteLoopInflate(body, slow, limit);
            bool same = fastResult == slowResult && fast == slow;
            allSame = allSame && same;
            std::printf("  %-22s limit %9zu: result %2d, %8zu bytes  %s\n", name, limit, fastResult,
                        fast.size(), same ? "same as byte loop" : "DIFFERENT FROM BYTE LOOP");
        }
    }
    return allSame;
}

void InflateFigures() {
    std::string page = NovelPage(1024 * 1024);
    std::string gzip = Compress(page, testing::kGzipBits);
    std::printf("InflateBody on a %zu-byte page sent as %zu gzip bytes\n", page.size(),
                gzip.size());
    bool same = CheckAgainstByteLoop(page);

    std::string out;
    auto start = Clock::now();
    for (int i = 0; i < kInflateRounds; ++i) {
        InflateBody(gzip, out);
    }
    double ours = SecondsSince(start) / kInflateRounds;
    std::string buffer(page.size(), '\0');
    start = Clock::now();
    for (int i = 0; i < kInflateRounds; ++i) {
        OneCallInflate(gzip, buffer);
    }
    double zlib = SecondsSince(start) / kInflateRounds;
    std::printf("  InflateBody %.3f ms, zlib one call %.3f ms: %.2f times; output %s\n",
                ours * 1000, zlib * 1000, ours / zlib, same ? "identical" : "NOT IDENTICAL");
}

double FetchPagesPerSecond(const std::u16string& url, int threads, const FetchSettings& settings,
                           int& good, double& cpu) {
    double cpuBefore = CpuSeconds(RUSAGE_SELF);
    std::atomic<int> next{0};
    std::atomic<int> ok{0};
    std::vector<std::thread> workers;
    auto start = Clock::now();
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            while (next.fetch_add(1) < kFetches) {
                FetchResult result;
                if (!FetchPage(result, url, settings).empty() && result.StatusCode == 200) {
                    ok.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    double seconds = SecondsSince(start);
    cpu = CpuSeconds(RUSAGE_SELF) - cpuBefore;
    good = ok.load();
    return kFetches / seconds;
}

double CurlPagesPerSecond(const std::string& url, int parallel, const testing::TempFolder& temp,
                          double& cpu) {
    std::string config;
    for (int i = 0; i < kFetches; ++i) {
        config += "url = \"" + url + "\"\noutput = \"/dev/null\"\n";
    }
    std::string configPath = temp.Write("curl.cfg", config);
    std::string command = std::string(VELUNOR_CURL_TOOL) +
                          " --silent --no-progress-meter --compressed --parallel --parallel-max " +
                          std::to_string(parallel) + " -H 'Connection: close' --max-time 120 -K " +
                          configPath;
    double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    auto start = Clock::now();
    int status = std::system(command.c_str());
    double seconds = SecondsSince(start);
    cpu = CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    if (status != 0) {
        std::printf("  curl exited with %d\n", status);
    }
    return kFetches / seconds;
}

// The 30 KB gzip page of the test site's /fetch/bench-30k route, as one prepared response.
std::string BenchmarkResponse() {
    std::ifstream in(std::string(VELUNOR_TEST_DATA) + "/site/fetch/page_gb2312.html",
                     std::ios::binary);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string body;
    for (int i = 0; i < 160; ++i) {
        body += page;
    }
    std::string gzip = Compress(body, testing::kGzipBits);
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: "
           "gzip\r\nContent-Length: " +
           std::to_string(gzip.size()) + "\r\nConnection: close\r\n\r\n" + gzip;
}

void FetchFigures() {
    benchmarks::PageServer server(BenchmarkResponse(), 8);
    testing::TempFolder temp;
    std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/fetch/bench-30k";
    std::u16string wideUrl(url.begin(), url.end());
    std::printf("%d fetches of %s (30 KB page, gzip), local C++ server answering on 8 threads\n",
                kFetches, url.c_str());
    for (int threads : {5, 20}) {
        int good = 0;
        double ourCpu = 0;
        double curlCpu = 0;
        FetchSettings settings;
        settings.MaxConnections = threads;
        double ours = FetchPagesPerSecond(wideUrl, threads, settings, good, ourCpu);
        double curl = CurlPagesPerSecond(url, threads, temp, curlCpu);
        std::printf("  %2d at once: FetchPage %6.0f pages/s (%d good, %.2f CPU s), curl tool %6.0f "
                    "pages/s (%.2f CPU s): %.2f times curl's rate\n",
                    threads, ours, good, ourCpu, curl, curlCpu, ours / curl);
    }
    int good = 0;
    double cpu = 0;
    double limited = FetchPagesPerSecond(wideUrl, 20, FetchSettings{}, good, cpu);
    std::printf("  20 threads, default limit of 5 in flight: FetchPage %6.0f pages/s (%d good, "
                "%.2f CPU s)\n",
                limited, good, cpu);
}

// A turn taken and given back a million times on one thread, and by 5 threads at once under
// the default limit of 5, so that none of them ever waits.
void LimiterFigures() {
    constexpr int kTurns = 1000000;
    internal::CSiteLimiter& limiter = internal::ProcessSiteLimiter();
    const internal::SiteLimits defaults;
    const std::string host = internal::SiteHostOf("http://bench.test:8080/");
    auto start = Clock::now();
    for (int i = 0; i < kTurns; ++i) {
        internal::CSiteLimiter::Slot slot = limiter.Acquire(host, defaults, {});
    }
    double alone = SecondsSince(start) / kTurns;
    std::vector<std::thread> workers;
    start = Clock::now();
    for (int t = 0; t < 5; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < kTurns / 5; ++i) {
                internal::CSiteLimiter::Slot slot = limiter.Acquire(host, defaults, {});
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    double shared = SecondsSince(start) / kTurns;
    std::printf("Site limiter turn with nothing waiting: %.0f ns alone, %.0f ns a turn with 5 "
                "threads taking turns\n",
                alone * 1e9, shared * 1e9);
}

// How long after the cancel flag was set the fetch of `url` returned, the flag set 250 ms in.
double CancelLatency(const std::u16string& url) {
    std::atomic<bool> cancelled{false};
    FetchSettings settings;
    settings.Cancelled = [&cancelled] { return cancelled.load(); };
    Clock::time_point cancelledAt;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        cancelledAt = Clock::now();
        cancelled = true;
    });
    FetchResult result;
    FetchPage(result, url, settings);
    Clock::time_point ended = Clock::now();
    canceller.join();
    return std::chrono::duration<double>(ended - cancelledAt).count();
}

void PrintEnd(const char* what, const std::u16string& url, const FetchSettings& settings) {
    auto start = Clock::now();
    FetchResult result;
    FetchPage(result, url, settings);
    std::printf("  %-58s ended after %.3f s, status %d\n", what, SecondsSince(start),
                result.StatusCode);
}

void TimeLimitFigures() {
    testing::TestSite site;
    std::printf("Time limits, against the local test site\n");
    std::printf("  cancel of a request whose answer never comes: ended %.3f s after the cancel\n",
                CancelLatency(site.Url("/slow/silent")));
    FetchSettings stall;
    stall.StallTimeout = std::chrono::seconds(1);
    PrintEnd("stall time 1 s, half a page sent, then silence", site.Url("/fetch/stall"), stall);
    FetchSettings lowSpeed;
    lowSpeed.LowSpeedLimit = 1024;
    lowSpeed.LowSpeedTime = std::chrono::seconds(1);
    PrintEnd("1024 B/s over 1 s, page sent at 90 B/s over 2 s", site.Url("/fetch/trickle"),
             lowSpeed);
    FetchSettings total;
    total.TotalTimeout = std::chrono::milliseconds(800);
    PrintEnd("total time 0.8 s, page sent over 2 s", site.Url("/fetch/trickle"), total);
    total.TotalTimeout = std::chrono::milliseconds(100);
    PrintEnd("total time 0.1 s, answer begun after 0.3 s", site.Url("/fetch/slow"), total);

    // Five requests at once under a least interval of 300 ms: when each had its answer.
    FetchSettings paced;
    paced.RequestInterval = std::chrono::milliseconds(300);
    std::vector<std::thread> threads;
    std::vector<Clock::time_point> starts(5);
    auto asked = Clock::now();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        threads.emplace_back([&, i] {
            FetchResult result;
            FetchPage(result, site.Url("/fetch/page_gb2312.html?paced=" + std::to_string(i)),
                      paced);
            starts[i] = Clock::now();
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::sort(starts.begin(), starts.end());
    std::printf("  5 requests at once, least interval 0.3 s: answered after");
    for (Clock::time_point start : starts) {
        std::printf(" %.3f", std::chrono::duration<double>(start - asked).count());
    }
    std::printf(" s\n");
}

} // namespace
} // namespace velunor

int main() {
    velunor::InflateFigures();
    velunor::FetchFigures();
    velunor::LimiterFigures();
    velunor::TimeLimitFigures();
    return 0;
}
