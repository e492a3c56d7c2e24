// Updating every novel of a shelf of 100 novels on three paced sites of the local test site
// (50 novels asking for 100 ms between requests, 30 for 200 ms, 20 for 300 ms), each novel having
// gained one chapter: the time it takes against the bound the sites' pacing sets when they are
// asked side by side, each one at its own pace from start to end: for each site its requests
// times its interval, the largest of the three. Printed with the ratio; the goal is 1.1 or less.

#include "core/core.h"
#include "library/library.h"
#include "net/fetcher.h"
#include "support/recording_port.h"
#include "support/serial_sites.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace velunor {
namespace {

struct BenchSite {
    int number;
    std::string folder;
    std::string name;
    int novels;
    int intervalMs;
};

const BenchSite kSites[] = {
    {0, "paced1", "甲站", 50, 100}, {1, "paced2", "乙站", 30, 200}, {2, "paced3", "丙站", 20, 300}};
constexpr double kGoal = 1.1;

// How many requests the test site has answered below "/<folder>/".
size_t RequestCount(const testing::TestSite& site, const std::string& folder) {
    FetchResult result;
    std::string log = WideToAnsi(FetchPage(result, site.Url("/_log?prefix=%2F" + folder + "%2F")));
    return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
}

std::u16string RulePath(const testing::TempFolder& program, const BenchSite& site) {
    return program.WideFile("Rule/" + site.folder + ".xml");
}

// Shelves every novel of `site`, two chapters each, from the site without pacing.
bool ShelveSite(const testing::TempFolder& program, const testing::TestSite& server,
                const std::string& root, const BenchSite& site) {
    for (int n = 1; n <= site.novels; ++n) {
        testing::WriteSerialNovel(root, site.folder, site.name, n, 2);
        testing::RecordingPort port;
        SearchHit hit{Utf8ToWide(site.name),
                      RulePath(program, site),
                      Utf8ToWide(testing::SerialNovelName(site.name, n)),
                      u"佚名",
                      {},
                      Utf8ToWide(server.BaseUrl() + "/" + site.folder + "/n" + std::to_string(n) +
                                 "/info.html")};
        if (!DownloadSearchHit(port, program.WidePath() + u"/", hit).Succeeded()) {
            return false;
        }
    }
    return true;
}

int Run() {
    testing::TempFolder root;
    for (const BenchSite& site : kSites) {
        std::filesystem::create_directories(root.File(site.folder));
    }
    // A server for each site: the program paces each host and port on its own.
    std::unique_ptr<testing::TestSite> servers[std::size(kSites)];
    for (auto& server : servers) {
        server = std::make_unique<testing::TestSite>(root.Path());
    }
    testing::TempFolder program;
    std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template", program.File("Template"));
    std::filesystem::create_directories(program.File("Config"));
    std::filesystem::create_directories(program.File("Rule"));
    for (const BenchSite& site : kSites) {
        program.Write(
            "Rule/" + site.folder + ".xml",
            testing::SerialRule(servers[site.number]->BaseUrl(), site.folder, site.name, 0));
    }
    std::vector<std::thread> shelving;
    std::vector<char> shelved(std::size(kSites), 0);
    for (size_t s = 0; s < std::size(kSites); ++s) {
        shelving.emplace_back(
            [&, s] { shelved[s] = ShelveSite(program, *servers[s], root.Path(), kSites[s]); });
    }
    for (std::thread& thread : shelving) {
        thread.join();
    }
    if (std::count(shelved.begin(), shelved.end(), 0) > 0) {
        std::fprintf(stderr, "the novels could not be shelved\n");
        return 1;
    }
    std::vector<size_t> before;
    for (const BenchSite& site : kSites) {
        program.Write("Rule/" + site.folder + ".xml",
                      testing::SerialRule(servers[site.number]->BaseUrl(), site.folder, site.name,
                                          site.intervalMs));
        for (int n = 1; n <= site.novels; ++n) {
            testing::WriteSerialNovel(root.Path(), site.folder, site.name, n, 3);
        }
        before.push_back(RequestCount(*servers[site.number], site.folder));
    }

    testing::RecordingPort port;
    auto start = std::chrono::steady_clock::now();
    UpdateAllOutcome outcome = UpdateAllNovels(port, program.WidePath() + u"/");
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    double bound = 0;
    std::printf("update all of 100 novels on 3 paced sites, one new chapter each\n");
    for (size_t s = 0; s < std::size(kSites); ++s) {
        const BenchSite& site = kSites[s];
        size_t requests = RequestCount(*servers[s], site.folder) - before[s];
        double siteBound = static_cast<double>(requests) * site.intervalMs / 1000.0;
        bound = std::max(bound, siteBound);
        std::printf("  %s: %2d novels, %3zu requests x %3d ms = %5.1f s\n", site.folder.c_str(),
                    site.novels, requests, site.intervalMs, siteBound);
    }
    std::printf("  %s\n", WideToUtf8(port.Statuses().back()).c_str());
    std::printf("update all: %.1f s, bound (largest site) %.1f s, ratio %.2f (goal <= %.1f)\n",
                seconds, bound, seconds / bound, kGoal);
    return outcome.Failed.empty() && outcome.NewChapters == 100 ? 0 : 1;
}

} // namespace
} // namespace velunor

int main() {
    return velunor::Run();
}
