// Downloading a 2,000-chapter novel from the local test site with velunor-cli, printed next to
// the bound that the 20 ms pause after every queued chapter sets (2,000 x 20 ms), with the
// peak resident memory of the velunor-cli process.
//
// velunor-cli is copied into a temporary program folder with the shipped templates, so the
// run neither reads nor changes the build folder's Config/ and Novel/.

#include "core/core.h"
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

extern char** environ;

namespace velunor {
namespace {

constexpr int kChapters = 2000;
constexpr double kPauseSeconds = 0.020;

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

void WriteSite(const std::string& root) {
    std::string site = root + "/bench/";
    WriteFile(site + "info.html",
              "<html><body><h1>bench</h1><a id=\"list\" href=\"list.html\">x</a></body></html>");
    std::ostringstream list;
    list << "<html><body><ul id=\"chapters\">\n";
    for (int n = 1; n <= kChapters; ++n) {
        list << "<li><a href=\"c" << n << ".html\">\xB5\xDA" << n << "\xD5\xC2</a></li>\n";
        WriteFile(site + "c" + std::to_string(n) + ".html", ChapterPage(n));
    }
    list << "</ul></body></html>\n";
    WriteFile(site + "list.html", list.str());
}

void WriteProgramFolder(const std::string& folder, const std::string& baseUrl) {
    std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template", folder + "/Template");
    std::filesystem::copy_file(VELUNOR_CLI, folder + "/velunor-cli");
    WriteFile(
        folder + "/Rule/bench.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Channel>\n<SiteName>bench</SiteName>\n"
        "<Charset>GB2312</Charset>\n<InfoPage>\n<NovelName><![CDATA[<h1>(.*?)</h1>]]></NovelName>\n"
        "<ContentsUrl><![CDATA[<a id=\"list\" href=\"(.*?)\">]]></ContentsUrl>\n</InfoPage>\n"
        "<ContentsPage>\n<ContentsRegional><![CDATA[<ul "
        "id=\"chapters\">(.*?)</ul>]]></ContentsRegional>\n"
        "<ChapterName><![CDATA[<li><a href=\"[^\"]*\">(.*?)</a>]]></ChapterName>\n"
        "<ChapterUrl><![CDATA[<li><a href=\"(.*?)\">]]></ChapterUrl>\n</ContentsPage>\n"
        "<ContentPage>\n<ChapterContent><![CDATA[<div id=\"text\">(.*?)</div>]]></ChapterContent>\n"
        "</ContentPage>\n</Channel>\n");
    WriteFile(
        folder + "/Config/SearchResult.xml",
        "<?xml version=\"1.0\" "
        "encoding=\"UTF-8\"?>\r\n<SearchResult>\r\n<TargetSite>bench</TargetSite>\r\n"
        "<RuleFile>" +
            folder +
            "/Rule/bench.xml</RuleFile>\r\n<NovelName>bench</NovelName>\r\n"
            "<NovelAuthor>a</NovelAuthor>\r\n<LatestChapter>c</LatestChapter>\r\n<InfoPageUrl>" +
            baseUrl + "/bench/info.html</InfoPageUrl>\r\n</SearchResult>\r\n");
}

// Runs `folder`/velunor-cli download 1 with its output discarded; false when it failed.
bool RunDownload(const std::string& folder, double& seconds, long& peakKilobytes) {
    std::string program = folder + "/velunor-cli";
    char* argv[] = {program.data(), const_cast<char*>("download"), const_cast<char*>("1"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        return false;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peakKilobytes = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int StoredChapters(const std::string& folder) {
    int stored = 0;
    for (int n = 1; n <= kChapters; ++n) {
        std::ifstream page(folder + "/Novel/bench/bench/" + std::to_string(n) + ".html",
                           std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
        stored += text.find("id=\"down_state\">1</div>") != std::string::npos ? 1 : 0;
    }
    return stored;
}

int Run() {
    testing::TempFolder siteRoot;
    testing::TempFolder program;
    WriteSite(siteRoot.Path());
    testing::TestSite site(siteRoot.Path());
    WriteProgramFolder(program.Path(), site.BaseUrl());
    double seconds = 0;
    long peakKilobytes = 0;
    bool finished = RunDownload(program.Path(), seconds, peakKilobytes);
    int stored = StoredChapters(program.Path());
    double bound = kChapters * kPauseSeconds;
    std::printf("velunor-cli download of a %d-chapter novel from the local test site\n", kChapters);
    std::printf("  finished: %s, chapters stored: %d of %d\n", finished ? "yes" : "no", stored,
                kChapters);
    std::printf("  wall time   %7.2f s   bound %d x 20 ms = %.2f s   ratio %.3f (goal <= 1.10)\n",
                seconds, kChapters, bound, seconds / bound);
    std::printf("  peak RSS    %7.1f MB  (goal < 100 MB)\n",
                static_cast<double>(peakKilobytes) / 1024.0);
    return finished && stored == kChapters ? 0 : 1;
}

} // namespace
} // namespace velunor

int main() {
    return velunor::Run();
}
