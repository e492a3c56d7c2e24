// A search over 20 fake sites of the local test site that each answer after 200 ms, once with
// one hit per site and once with 100.
//
// The tasks run on 20 workers at once, so the search should take about as long as the slowest
// site plus the 10 ms pause after queuing each task, however many hits the sites list: a hit
// costs the same whatever came before it. The driver prints the wall time of each run next to
// that bound.
//
// Then one site that lists 40,000 novels with long names on one page: the time to search and
// list them all, and the time to read the result file back up to its last row, as opening that
// row does. Both should grow in proportion to the hits.

#include "core/core.h"
#include "results/search_result_file.h"
#include "search/search.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kSites = 20;
constexpr int kRuns = 5;
constexpr double kSiteDelayMs = 200.0;
constexpr double kQueuePauseMs = 10.0;

void ReplaceFirst(std::string& text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
}

// Sites on one host share its five connections, so the 20 sites are spread over four servers,
// five on each, as 20 real sites would each have a host of their own.
constexpr int kServers = 4;

// Rule files for 20 sites whose search page is `searchPath` of the slow fake site.
void InstallSites(const velunor::testing::TempFolder& folder,
                  const std::vector<std::unique_ptr<velunor::testing::TestSite>>& servers,
                  const std::string& searchPath) {
    velunor::CreateFolderPath(folder.WideFile("Rule"));
    velunor::CreateFolderPath(folder.WideFile("Config"));
    std::string fixture = std::string(VELUNOR_TEST_DATA) + "/search/rules/e-slow.xml";
    std::string selection;
    for (int i = 0; i < kSites; ++i) {
        const velunor::testing::TestSite& site = *servers[static_cast<size_t>(i % kServers)];
        std::string text = site.RuleFile(fixture, std::to_string(i));
        ReplaceFirst(text, "/slow/search?", searchPath + "?");
        char name[32];
        std::snprintf(name, sizeof name, "Rule/slow%02d.xml", i);
        folder.Write(name, text);
        selection += std::to_string(i) + ",";
    }
    folder.Write("Config/TargetSiteSelect.xml", "<TargetSiteSelect>\r\n<Selected>" + selection +
                                                    "</Selected>\r\n</TargetSiteSelect>\r\n");
}

// Runs a search for "西游" in `programFolder` to its end; the milliseconds until it reported
// its end.
double RunSearchMs(const std::u16string& programFolder, velunor::testing::RecordingPort& window) {
    window.SetSearchText(u"西游");
    auto start = std::chrono::steady_clock::now();
    velunor::SearchController search(window, programFolder);
    search.RunCommand();
    window.WaitUntil([&] { return !search.IsRunning(); });
    auto end = std::chrono::steady_clock::now();
    // The window must outlive the search thread's last call.
    while (!search.IsIdle()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double SearchOnceMs(const std::u16string& programFolder, int hitsPerSite) {
    velunor::testing::RecordingPort window;
    double ms = RunSearchMs(programFolder, window);
    std::u16string expected =
        u"搜索完成，共搜索到 " + velunor::DecimalText(kSites * hitsPerSite) + u" 本小说。";
    if (window.LastStatus() != expected) {
        std::printf("unexpected final status: %s\n",
                    velunor::WideToUtf8(window.LastStatus()).c_str());
    }
    return ms;
}

void Measure(const std::vector<std::unique_ptr<velunor::testing::TestSite>>& servers,
             const std::string& searchPath, int hitsPerSite) {
    velunor::testing::TempFolder folder;
    InstallSites(folder, servers, searchPath);
    std::u16string programFolder = folder.WidePath() + u"/";
    double bound = kSiteDelayMs + kSites * kQueuePauseMs;
    std::printf("search over %d sites answering %d hit(s) each after %.0f ms; bound %.0f ms "
                "(slowest site + %d x %.0f ms pauses)\n",
                kSites, hitsPerSite, kSiteDelayMs, bound, kSites, kQueuePauseMs);
    double best = 1e9;
    double total = 0;
    for (int run = 0; run < kRuns; ++run) {
        double ms = SearchOnceMs(programFolder, hitsPerSite);
        best = std::min(best, ms);
        total += ms;
        std::printf("run %d: %.1f ms (%.2f x bound)\n", run + 1, ms, ms / bound);
    }
    std::printf("best %.1f ms (%.2f x bound), mean %.1f ms (%.2f x bound); goal <= 1.20 x\n\n",
                best, best / bound, total / kRuns, total / kRuns / bound);
}

constexpr int kManyHits = 40000;

// A result page of `count` rows in GB2312, each with a name of about a hundred characters, a
// long author and a long latest chapter: near 900 bytes a hit in the result file.
std::string ManyHitsPage(int count) {
    std::u16string page = u"<html><body><table class=\"grid\">\n";
    for (int n = 1; n <= count; ++n) {
        std::u16string number = velunor::DecimalText(n);
        std::u16string name;
        for (int k = 0; k < 12; ++k) {
            name += u"西游记之大闹天宫篇";
        }
        page += u"<tr><td><a href=\"book/" + number + u"/\">" + name + number +
                u"</a></td><td>吴承恩与他的弟子们合著" + number +
                u"</td><td>第一百回 径回东土 五圣成真 全书完结 后记与附录" + number +
                u"</td></tr>\n";
    }
    page += u"</table></body></html>";
    return velunor::WideToAnsi(page);
}

void MeasureManyHits() {
    velunor::testing::TempFolder siteRoot;
    velunor::CreateFolderPath(siteRoot.WideFile("many"));
    siteRoot.Write("many/search", ManyHitsPage(kManyHits));
    velunor::testing::TestSite server(siteRoot.Path());
    velunor::testing::TempFolder folder;
    velunor::CreateFolderPath(folder.WideFile("Rule"));
    velunor::CreateFolderPath(folder.WideFile("Config"));
    std::string rule =
        server.RuleFile(std::string(VELUNOR_TEST_DATA) + "/search/rules/e-slow.xml", "0");
    ReplaceFirst(rule, "/slow/search?", "/many/search?");
    folder.Write("Rule/many.xml", rule);
    folder.Write("Config/TargetSiteSelect.xml",
                 "<TargetSiteSelect>\r\n<Selected>0,</Selected>\r\n</TargetSiteSelect>\r\n");
    std::u16string programFolder = folder.WidePath() + u"/";

    velunor::testing::RecordingPort window;
    double listMs = RunSearchMs(programFolder, window);
    auto opening = std::chrono::steady_clock::now();
    std::vector<velunor::SearchHit> hits = velunor::ReadSearchHits(programFolder);
    auto readBack = std::chrono::steady_clock::now();
    bool lastRowReads =
        hits.size() == static_cast<size_t>(kManyHits) &&
        hits.back().InfoPageUrl.ends_with(u"/book/" + velunor::DecimalText(kManyHits) + u"/");
    std::printf("one site listing %d hits with long names: %d rows listed, result file %.1f MB\n",
                kManyHits, window.ResultRowCount(),
                static_cast<double>(std::filesystem::file_size(
                    velunor::NativePath(velunor::SearchResultFilePath(programFolder)))) /
                    (1024.0 * 1024.0));
    std::printf("search and list: %.0f ms; read back row %d: %.0f ms (%s)\n", listMs, kManyHits,
                std::chrono::duration<double, std::milli>(readBack - opening).count(),
                lastRowReads ? "found" : "MISSING");
    std::printf("last status: %s\n\n", velunor::WideToUtf8(window.LastStatus()).c_str());
}

} // namespace

int main() {
    std::vector<std::unique_ptr<velunor::testing::TestSite>> servers;
    for (int i = 0; i < kServers; ++i) {
        servers.push_back(std::make_unique<velunor::testing::TestSite>());
    }
    Measure(servers, "/slow/search", 1);
    Measure(servers, "/slow/search100", 100);
    MeasureManyHits();
    return 0;
}
