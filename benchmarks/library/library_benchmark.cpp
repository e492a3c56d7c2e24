// Downloading from the local test site with velunor-cli, each figure printed next to its bound:
//
// - a 2,000-chapter novel from a site whose rule asks for no pacing, against the bound that the
//   20 ms pause after every queued chapter sets (2,000 x 20 ms), with the peak resident memory of
//   the velunor-cli process: the site's limiter must cost nothing when the rule does not use it;
// - the processor time per chapter of that download and of a 20,000-chapter one (pass
//   --long to run it: the pause makes it take about seven minutes): what writing a page costs
//   must not grow with the number of pages already in the novel's folder;
// - fetching again one chapter split over 5 pages from a site whose rule asks for 200 ms between
//   requests, against 5 x 200 ms: the pages must be fetched one after the other, each as soon as
//   the site's interval allows.
//
// - updating a 5,000-chapter novel whose site has added 10 chapters: the requests it makes (the
//   information page, the contents page and the 10 new chapters, nothing else), the time of its
//   own work (the process, the index, the contents page, the links) beyond the fetches, and the
//   peak resident memory of the velunor-cli process.
//
// velunor-cli is copied into a temporary program folder with the shipped templates, so the
// run neither reads nor changes the build folder's Config/ and Novel/.

#include "core/core.h"
#include "library/library_layout.h"
#include "library/novel_index.h"
#include "net/fetcher.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace velunor {
namespace {

constexpr int kChapters = 2000;
constexpr int kLongChapters = 20000;
constexpr double kCpuGrowthGoal = 1.3;
constexpr double kPauseSeconds = 0.020;
constexpr int kChapterPages = 5;
constexpr double kIntervalSeconds = 0.200;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// GBK text: "第" n "章" and a paragraph of about 4 KB, as a real chapter page.
std::string ChapterPage(int n) {
    std::string text;
    while (text.size() < 4000) {
        text += "\xC9\xBD\xC2\xB7\xC5\xCC\xD0\xFD\xB6\xF8\xC9\xCF\xA3\xAC\xD4\xC6\xCE\xED\xD4\xDA"
                "\xBD\xC5\xCF\xC2\xB7\xAD\xD3\xBF\xA1\xA3<br />\r\n";
    }
    return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"
           "</head><body><h2>\xB5\xDA" +
           std::to_string(n) + "\xD5\xC2</h2><div id=\"text\">" + text + "</div></body></html>\n";
}

// "第k页" in GBK: the mark that opens the text of page k of the paged chapter.
std::string PageMark(int k) {
    return "\xB5\xDA" + std::to_string(k) + "\xD2\xB3";
}

// The novel `name` of `chapters` chapters, in the site folder of the same name.
void WriteSite(const std::string& root, const std::string& name, int chapters) {
    std::string site = root + "/" + name + "/";
    WriteFile(site + "info.html", "<html><body><h1>" + name +
                                      "</h1><a id=\"list\" href=\"list.html\">x</a></body></html>");
    std::ostringstream list;
    list << "<html><body><ul id=\"chapters\">\n";
    for (int n = 1; n <= chapters; ++n) {
        list << "<li><a href=\"c" << n << ".html\">\xB5\xDA" << n << "\xD5\xC2</a></li>\n";
        WriteFile(site + "c" + std::to_string(n) + ".html", ChapterPage(n));
    }
    list << "</ul></body></html>\n";
    WriteFile(site + "list.html", list.str());
}

// A novel of one chapter whose text is spread over kChapterPages pages, each linking on to the
// next; the last one links to the contents.
void WritePagedSite(const std::string& root) {
    std::string site = root + "/paged/";
    WriteFile(site + "info.html",
              "<html><body><h1>paged</h1><a id=\"list\" href=\"list.html\">x</a></body></html>");
    WriteFile(site + "list.html", "<html><body><ul id=\"chapters\">\n<li><a href=\"c1.html\">"
                                  "\xB5\xDA"
                                  "1\xD5\xC2</a></li>\n</ul></body></html>\n");
    for (int k = 1; k <= kChapterPages; ++k) {
        std::string next =
            k < kChapterPages ? "c1_" + std::to_string(k + 1) + ".html" : "list.html";
        std::string page = ChapterPage(1);
        page.insert(page.find("<div id=\"text\">") + 15, PageMark(k));
        page.insert(page.find("</body>"), "<a id=\"next\" href=\"" + next + "\">next</a>");
        WriteFile(site + (k == 1 ? std::string("c1.html") : "c1_" + std::to_string(k) + ".html"),
                  page);
    }
}

// The rule of the site in folder `site` of the test site; `extra` is added to its Channel.
std::string RuleText(const std::string& site, const std::string& extra) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Channel>\n<SiteName>" + site +
           "</SiteName>\n<Charset>GB2312</Charset>\n" + extra +
           "<InfoPage>\n<NovelName><![CDATA[<h1>(.*?)</h1>]]></NovelName>\n"
           "<ContentsUrl><![CDATA[<a id=\"list\" href=\"(.*?)\">]]></ContentsUrl>\n</InfoPage>\n"
           "<ContentsPage>\n<ContentsRegional><![CDATA[<ul "
           "id=\"chapters\">(.*?)</ul>]]></ContentsRegional>\n"
           "<ChapterName><![CDATA[<li><a href=\"[^\"]*\">(.*?)</a>]]></ChapterName>\n"
           "<ChapterUrl><![CDATA[<li><a href=\"(.*?)\">]]></ChapterUrl>\n</ContentsPage>\n"
           "<ContentPage>\n<ChapterContent><![CDATA[<div "
           "id=\"text\">(.*?)</div>]]></ChapterContent>\n"
           "<ChapterNextPageUrl><![CDATA[<a id=\"next\" "
           "href=\"(.*?)\">]]></ChapterNextPageUrl>\n"
           "</ContentPage>\n</Channel>\n";
}

void WriteProgramFolder(const std::string& folder, const std::string& baseUrl,
                        const std::string& site, const std::string& ruleExtra) {
    std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template", folder + "/Template");
    std::filesystem::copy_file(VELUNOR_CLI, folder + "/velunor-cli");
    WriteFile(folder + "/Rule/" + site + ".xml", RuleText(site, ruleExtra));
    WriteFile(folder + "/Config/SearchResult.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SearchResult>\r\n<TargetSite>" +
                  site + "</TargetSite>\r\n<RuleFile>" + folder + "/Rule/" + site +
                  ".xml</RuleFile>\r\n<NovelName>" + site +
                  "</NovelName>\r\n<NovelAuthor>a</NovelAuthor>\r\n<LatestChapter>c</LatestChapter>"
                  "\r\n<InfoPageUrl>" +
                  baseUrl + "/" + site + "/info.html</InfoPageUrl>\r\n</SearchResult>\r\n");
}

struct CliRun {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKilobytes = 0;
};

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Runs `folder`/velunor-cli with `arguments`, its output discarded; false when it failed.
bool RunCli(const std::string& folder, std::vector<std::string> arguments, CliRun& run) {
    std::string program = folder + "/velunor-cli";
    std::vector<char*> argv{program.data()};
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        return false;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.peakKilobytes = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

int StoredChapters(const std::string& folder, const std::string& name, int chapters) {
    int stored = 0;
    for (int n = 1; n <= chapters; ++n) {
        std::string text =
            ReadFile(folder + "/Novel/" + name + "/" + name + "/" + std::to_string(n) + ".html");
        stored += text.find("id=\"down_state\">1</div>") != std::string::npos ? 1 : 0;
    }
    return stored;
}

// Downloads the novel `name` of `chapters` chapters; its processor time per chapter in
// milliseconds, or a negative number when the download failed.
double MeasureDownload(const testing::TestSite& site, const std::string& name, int chapters) {
    testing::TempFolder program;
    WriteProgramFolder(program.Path(), site.BaseUrl(), name, "");
    CliRun run;
    bool finished = RunCli(program.Path(), {"download", "1"}, run);
    int stored = StoredChapters(program.Path(), name, chapters);
    double bound = chapters * kPauseSeconds;
    double cpuPerChapter = run.cpuSeconds * 1000.0 / chapters;
    std::printf("velunor-cli download of a %d-chapter novel from the local test site\n", chapters);
    std::printf("  finished: %s, chapters stored: %d of %d\n", finished ? "yes" : "no", stored,
                chapters);
    std::printf("  wall time   %7.2f s   bound %d x 20 ms = %.2f s   ratio %.3f (goal <= 1.10)\n",
                run.seconds, chapters, bound, run.seconds / bound);
    std::printf("  CPU         %7.2f s   %.2f ms per chapter\n", run.cpuSeconds, cpuPerChapter);
    std::printf("  peak RSS    %7.1f MB  (goal < 100 MB)\n",
                static_cast<double>(run.peakKilobytes) / 1024.0);
    return finished && stored == chapters ? cpuPerChapter : -1;
}

// The processor time per chapter of the long novel against that of the short one.
bool CompareCpuPerChapter(double shortNovel, double longNovel) {
    double ratio = longNovel / shortNovel;
    std::printf(
        "CPU per chapter, %d chapters against %d: %.2f ms / %.2f ms = %.2f (goal <= %.1f)\n",
        kLongChapters, kChapters, longNovel, shortNovel, ratio, kCpuGrowthGoal);
    return longNovel >= 0;
}

bool MeasurePagedChapter(const testing::TestSite& site) {
    testing::TempFolder program;
    WriteProgramFolder(program.Path(), site.BaseUrl(), "paged",
                       "<RequestInterval>200</RequestInterval>\n");
    CliRun run;
    bool downloaded = RunCli(program.Path(), {"download", "1"}, run);
    std::string page = program.Path() + "/Novel/paged/paged/1.html";
    bool refetched = downloaded && RunCli(program.Path(), {"refetch", page}, run);
    std::string text = ReadFile(page);
    int pages = 0;
    for (int k = 1; k <= kChapterPages; ++k) {
        pages += text.find(PageMark(k)) != std::string::npos ? 1 : 0;
    }
    double bound = kChapterPages * kIntervalSeconds;
    std::printf("velunor-cli refetch of a chapter over %d pages, RequestInterval 200 ms\n",
                kChapterPages);
    std::printf("  finished: %s, pages in the chapter: %d of %d\n", refetched ? "yes" : "no", pages,
                kChapterPages);
    std::printf("  wall time   %7.3f s   bound %d x 200 ms = %.2f s   ratio %.3f (goal <= 1.10)\n",
                run.seconds, kChapterPages, bound, run.seconds / bound);
    return refetched && pages == kChapterPages;
}

constexpr int kShelvedChapters = 5000;
constexpr int kNewChapters = 10;
constexpr double kOwnWorkGoalSeconds = 0.5;

// The serialised novel's site: chapters 1 to `count` listed, each page small.
void WriteSerialSite(const std::string& root, int count) {
    std::string site = root + "/serial/";
    WriteFile(site + "info.html",
              "<html><body><h1>serial</h1><a id=\"list\" href=\"list.html\">x</a></body></html>");
    std::ostringstream list;
    list << "<html><body><ul id=\"chapters\">\n";
    for (int n = 1; n <= count; ++n) {
        list << "<li><a href=\"c" << n << ".html\">\xB5\xDA" << n << "\xD5\xC2</a></li>\n";
    }
    list << "</ul></body></html>\n";
    WriteFile(site + "list.html", list.str());
    for (int n = kShelvedChapters + 1; n <= count; ++n) {
        WriteFile(site + "c" + std::to_string(n) + ".html", ChapterPage(n));
    }
}

// The library as a finished download of the first kShelvedChapters chapters leaves it: a page
// per chapter made from the shipped template, the index and the shelf entry.
void WriteShelvedNovel(const std::string& folder, const std::string& baseUrl) {
    std::u16string program = Utf8ToWide(folder) + u"/";
    std::u16string novel = program + u"Novel/serial/serial";
    std::filesystem::create_directories(NativePath(novel) + "/images");
    std::u16string encoding(kPageEncoding);
    std::u16string pageTemplate;
    ReadPage(encoding, TemplatePath(program, u"ContentPage.html"), pageTemplate);
    NovelIndex index;
    index.RuleFile = u"serial.xml";
    index.SiteName = index.NovelName = u"serial";
    index.InfoPageUrl = Utf8ToWide(baseUrl + "/serial/info.html");
    index.ContentsUrl = Utf8ToWide(baseUrl + "/serial/list.html");
    std::u16string text(2000, u'\x6587');
    for (int n = 1; n <= kShelvedChapters; ++n) {
        IndexedChapter chapter{n,
                               u"\x7B2C" + DecimalText(n) + u"\x7AE0",
                               Utf8ToWide(baseUrl + "/serial/c" + std::to_string(n) + ".html"),
                               ChapterState::Stored,
                               {}};
        ChapterPageFields fields{index.RuleFile,
                                 chapter.Url,
                                 u"serial/serial/" + ChapterPageName(n),
                                 index.NovelName,
                                 chapter.Name,
                                 n == 1 ? u"ContentsPage.html" : ChapterPageName(n - 1),
                                 n == kShelvedChapters ? u"ContentsPage.html"
                                                       : ChapterPageName(n + 1)};
        WritePage(encoding, novel + u"/" + ChapterPageName(n),
                  ComposeChapterPage(pageTemplate, fields, kStateStored, text));
        index.Chapters.push_back(std::move(chapter));
    }
    index.NextPage = kShelvedChapters + 1;
    SaveNovelIndex(novel, index);
    WriteFile(folder + "/Config/BookShelf.xml",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n<Book>\r\n"
              "<TargetSite>serial</TargetSite>\r\n<NovelName>serial</NovelName>\r\n"
              "<ContentsPagePath>serial/serial/ContentsPage.html</ContentsPagePath>\r\n"
              "<RuleFile>serial.xml</RuleFile>\r\n<InfoPageUrl>" +
                  baseUrl + "/serial/info.html</InfoPageUrl>\r\n</Book>\r\n</BookShelf>\r\n");
}

struct LoggedRequest {
    double arrived = 0;
    double answered = 0;
    std::string target;
};

// The requests the site answered below /serial/, as its log lists them.
std::vector<LoggedRequest> SerialRequests(const testing::TestSite& site) {
    FetchResult result;
    std::istringstream lines(WideToAnsi(FetchPage(result, site.Url("/_log?prefix=%2Fserial%2F"))));
    std::vector<LoggedRequest> log;
    LoggedRequest entry;
    std::string method;
    while (lines >> entry.arrived >> entry.answered >> method >> entry.target) {
        log.push_back(entry);
    }
    return log;
}

bool MeasureUpdate(const testing::TestSite& site) {
    testing::TempFolder program;
    WriteProgramFolder(program.Path(), site.BaseUrl(), "serial", "");
    WriteShelvedNovel(program.Path(), site.BaseUrl());
    CliRun run;
    bool updated = RunCli(program.Path(), {"update", "1"}, run);
    double seconds = run.seconds;
    std::vector<LoggedRequest> requests = SerialRequests(site);
    // The information and contents pages are read one after the other; the new chapters are
    // queued 20 ms apart and fetched meanwhile. Everything else is the update's own work.
    double fetching = 0;
    size_t chapters = 0;
    for (size_t i = 0; i < requests.size() && i < 2; ++i) {
        fetching += requests[i].answered - requests[i].arrived;
    }
    if (requests.size() > 2) {
        fetching += requests.back().answered - requests[2].arrived;
        chapters = requests.size() - 2;
    }
    double ownWork = seconds - fetching / 1000.0;
    std::printf("velunor-cli update of a %d-chapter novel to which the site added %d chapters\n",
                kShelvedChapters, kNewChapters);
    std::printf("  finished: %s, requests: %zu (information, contents and %zu chapters; goal 2 + "
                "%d)\n",
                updated ? "yes" : "no", requests.size(), chapters, kNewChapters);
    std::printf("  wall time   %7.3f s   fetching %.3f s   own work %.3f s (goal <= %.1f s)\n",
                seconds, fetching / 1000.0, ownWork, kOwnWorkGoalSeconds);
    std::printf("  peak RSS    %7.1f MB  (goal < 100 MB)\n",
                static_cast<double>(run.peakKilobytes) / 1024.0);
    return updated && requests.size() == 2 + kNewChapters;
}

int Run(bool withLongNovel) {
    testing::TempFolder siteRoot;
    WriteSite(siteRoot.Path(), "bench", kChapters);
    if (withLongNovel) {
        WriteSite(siteRoot.Path(), "long", kLongChapters);
    }
    WritePagedSite(siteRoot.Path());
    WriteSerialSite(siteRoot.Path(), kShelvedChapters + kNewChapters);
    testing::TestSite site(siteRoot.Path());
    double shortNovel = MeasureDownload(site, "bench", kChapters);
    bool longNovel = !withLongNovel ||
                     CompareCpuPerChapter(shortNovel, MeasureDownload(site, "long", kLongChapters));
    bool pagedChapter = MeasurePagedChapter(site);
    bool update = MeasureUpdate(site);
    return shortNovel >= 0 && longNovel && pagedChapter && update ? 0 : 1;
}

} // namespace
} // namespace velunor

int main(int argc, char** argv) {
    // Each figure is shown as soon as it is measured: the long download takes minutes.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bool withLongNovel = argc > 1 && std::string(argv[1]) == "--long";
    return velunor::Run(withLongNovel);
}
