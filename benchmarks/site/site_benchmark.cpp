// Reading a novel's contents spread over 1,000 pages from the local test site, as the download
// does: every page holds 20 chapters of its own, a block of the 12 latest chapters that the site
// repeats on every page, and a link to the next page. Printed against its bound of 3 s: the
// reading must cost about the same per page however many pages came before.

#include "core/core.h"
#include "site/site.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

namespace velunor {
namespace {

constexpr int kPages = 1000;
constexpr int kChaptersPerPage = 20;
constexpr int kLatestBlock = 12;
constexpr double kBoundSeconds = 3.0;

std::string ChapterItem(int n) {
    return "<li><a href=\"c" + std::to_string(n) + ".html\">\xB5\xDA" + std::to_string(n) +
           "\xD5\xC2</a></li>\n";
}

std::string ContentsPage(int page) {
    std::string html = "<html><body><ul id=\"chapters\">\n";
    int last = kPages * kChaptersPerPage;
    for (int n = last - kLatestBlock + 1; n <= last; ++n) {
        html += ChapterItem(n);
    }
    for (int n = (page - 1) * kChaptersPerPage + 1; n <= page * kChaptersPerPage; ++n) {
        html += ChapterItem(n);
    }
    html += "</ul>";
    if (page < kPages) {
        html += "<a id=\"next\" href=\"p" + std::to_string(page + 1) + ".html\">next</a>";
    }
    return html + "</body></html>\n";
}

CSiteRule BenchRule() {
    CSiteRule rule;
    rule.SiteName = u"bench";
    rule.Charset = u"GBK";
    rule.ContentsPage.ContentsRegional = u"<ul id=\"chapters\">(.*?)</ul>";
    rule.ContentsPage.ChapterName = u"<li><a href=\"[^\"]*\">(.*?)</a>";
    rule.ContentsPage.ChapterUrl = u"<li><a href=\"(.*?)\">";
    rule.ContentsPage.ContentsNextPageUrl = u"<a id=\"next\" href=\"(.*?)\">";
    return rule;
}

int Run() {
    testing::TempFolder root;
    std::filesystem::create_directories(root.File("bench"));
    for (int page = 1; page <= kPages; ++page) {
        root.Write("bench/p" + std::to_string(page) + ".html", ContentsPage(page));
    }
    testing::TestSite server(root.Path());
    Site site(BenchRule());
    VisitedAddresses visited;
    auto start = std::chrono::steady_clock::now();
    SitePage first = site.FetchPage(RulePage::Contents, server.Url("/bench/p1.html"), u"");
    NovelContents contents = ReadContentsPages(site, first, visited, {});
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("contents over %d pages: %d pages read, %d chapters, %.2f s (bound %.1f s)\n",
                kPages, contents.PagesRead, contents.Chapters.count, seconds, kBoundSeconds);
    bool whole =
        contents.PagesRead == kPages && contents.Chapters.count == kPages * kChaptersPerPage;
    return whole ? 0 : 1;
}

} // namespace
} // namespace velunor

int main() {
    return velunor::Run();
}
