// A 200-chapter novel read from the local test site three ways, as a download reads it (two
// chapters at a time, 100 ms between the starts of two requests, as the demo rules ask):
//   plain      the site guards nothing;
//   first      every chapter answers a script challenge until the request carries the cookie
//              the challenge's script sets; the rule lets the browser pass it when challenged
//              (UseBrowser 2), so only the first chapter goes to the browser and its cookie
//              opens the rest to plain requests;
//   browser    the same site with every chapter loaded by the browser (UseBrowser 1).
// Prints the time of each, "first" against "plain" (the aim: at most 1.2 times), the chapters
// per second of "browser", and the peak memory of the renderer program and its browser
// processes. Needs velunor-renderer beside it.

#include "cli/child_page_renderer.h"
#include "core/core.h"
#include "site/site.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace velunor {
namespace {

constexpr int kChapters = 200;
constexpr int kAtOnce = 2;
constexpr double kAimRatio = 1.2;

const char kChallenge[] =
    "<html><head><title>wait</title></head><body><p>\xE8\xAF\xB7\xE7\xA8\x8D\xE5\x80\x99</p>"
    "<script>document.cookie=\"pass=\"+(6*7)+\"; path=/\";location.reload();</script>"
    "</body></html>\n";

void WriteSite(const testing::TempFolder& root, const std::string& name, bool guarded) {
    std::filesystem::create_directories(root.File(name));
    std::string routes = "{\n";
    for (int n = 1; n <= kChapters; ++n) {
        std::string file = "c" + std::to_string(n) + ".html";
        root.Write(name + "/" + file,
                   "<html><head><meta charset=\"utf-8\"></head><body><div id=\"text\"><p>"
                   "\xE7\xAC\xAC " +
                       std::to_string(n) + " \xE7\xAB\xA0</p></div></body></html>\n");
        if (guarded) {
            routes += std::string(n > 1 ? ",\n" : "") + "\"/" + file + "\": {\"file\": \"" + file +
                      "\", \"needs_cookie\": \"pass=42\", \"refused_file\": \"challenge.html\"," +
                      " \"refused_status\": 503}";
        }
    }
    root.Write(name + "/routes.json", routes + "\n}\n");
    root.Write(name + "/challenge.html", kChallenge);
}

CSiteRule Rule(const testing::TestSite& site, const std::string& name, const char16_t* use) {
    CSiteRule rule;
    rule.SiteName = Utf8ToWide(name);
    rule.SiteUrl = site.Url("/" + name + "/");
    rule.Charset = u"UTF-8";
    rule.ChapterContent = u"<div id=\"text\">(.*?)</div>";
    rule.RequestInterval = u"100";
    rule.MaxConnections = u"2";
    rule.ContentPageUseBrowser = use;
    return rule;
}

// Reads every chapter, two at a time; the seconds it took, or -1 when a chapter failed.
double ReadAll(const testing::TestSite& server, const CSiteRule& rule, const std::string& name) {
    Site site(rule);
    std::atomic<int> next{1};
    std::atomic<bool> failed{false};
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> readers;
    for (int i = 0; i < kAtOnce; ++i) {
        readers.emplace_back([&] {
            for (int n = next++; n <= kChapters; n = next++) {
                FetchedChapter chapter = FetchChapter(
                    site, server.Url("/" + name + "/c" + std::to_string(n) + ".html"), {});
                if (!chapter.Ok()) {
                    std::fprintf(stderr, "chapter %d: %s\n", n,
                                 WideToUtf8(TechnicalReason(chapter.Error)).c_str());
                    failed = true;
                }
            }
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return failed ? -1.0 : took.count();
}

// The peak resident memory, in MB, of every process below this one (the renderer program and
// the browser's own processes), each at its own peak.
double DescendantsPeakMegabytes() {
    std::map<int, int> parents;
    std::map<int, long> peaks;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string pid = entry.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream status(entry.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.starts_with("PPid:")) {
                parents[std::stoi(pid)] = std::stoi(line.substr(5));
            } else if (line.starts_with("VmHWM:")) {
                peaks[std::stoi(pid)] = std::stol(line.substr(6));
            }
        }
    }
    long total = 0;
    for (const auto& [pid, kilobytes] : peaks) {
        for (int up = pid; up > 1; up = parents.count(up) ? parents[up] : 0) {
            if (parents.count(up) && parents[up] == getpid()) {
                total += kilobytes;
                break;
            }
        }
    }
    return static_cast<double>(total) / 1024.0;
}

int Run(const char* renderer) {
    InstallPageRenderer(std::make_shared<cli::CChildPageRenderer>(renderer));
    testing::TempFolder root;
    WriteSite(root, "plain", false);
    WriteSite(root, "first", true);
    WriteSite(root, "browser", true);
    testing::TestSite server(root.Path());

    double plain = ReadAll(server, Rule(server, "plain", u"0"), "plain");
    double first = ReadAll(server, Rule(server, "first", u"2"), "first");
    double browser = ReadAll(server, Rule(server, "browser", u"1"), "browser");
    double memory = DescendantsPeakMegabytes();
    if (plain < 0 || first < 0 || browser < 0) {
        std::printf("a chapter could not be read\n");
        return 1;
    }
    std::printf("%d chapters, %d at a time, 100 ms between requests\n", kChapters, kAtOnce);
    std::printf("plain site:                       %.2f s\n", plain);
    std::printf("challenged, browser for the first: %.2f s  (%.2f times plain, aim at most %.1f)\n",
                first, first / plain, kAimRatio);
    std::printf("every chapter through the browser: %.2f s  (%.1f chapters a second)\n", browser,
                kChapters / browser);
    std::printf("renderer and browser processes, peak resident memory: %.0f MB\n", memory);
    InstallPageRenderer(nullptr);
    return first / plain <= kAimRatio ? 0 : 1;
}

} // namespace
} // namespace velunor

int main() {
    return velunor::Run(VELUNOR_RENDERER);
}
