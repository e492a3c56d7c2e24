#pragma once
// Sites of serialised novels for the local test site, written by a test or a benchmark into a
// site root of its own: each site folder holds novels n1, n2, ... with an information page, a
// contents page and one page per chapter, UTF-8 pages, so that the writer can add chapters
// between two updates. SerialRule gives the rule file of such a site, paced as asked. The program
// keeps the pace of each host and port apart, so sites meant to be paced apart are served by
// servers of their own (one TestSite each over the same root).

#include <filesystem>
#include <fstream>
#include <string>

namespace velunor::testing {

/// The name a serial novel is shelved under: "<site name>小说<number>".
inline std::string SerialNovelName(const std::string& siteName, int novel) {
    return siteName + "小说" + std::to_string(novel);
}

/// Writes novel `novel` of the site folder `root`/`site` named `siteName`, listing chapters 1 to
/// `chapters`; the pages of chapters listed in `missing` are left out (they answer 404).
inline void WriteSerialNovel(const std::string& root, const std::string& site,
                             const std::string& siteName, int novel, int chapters,
                             int missing = 0) {
    std::string folder = root + "/" + site + "/n" + std::to_string(novel) + "/";
    std::filesystem::create_directories(folder);
    auto write = [&](const std::string& name, const std::string& body) {
        std::ofstream(folder + name, std::ios::binary)
            << "<html><head><meta charset=\"utf-8\"></head><body>" << body << "</body></html>\n";
    };
    write("info.html", "<h1>" + SerialNovelName(siteName, novel) +
                           "</h1><p>作者：佚名</p><a id=\"list\" href=\"list.html\">目录</a>");
    std::string items;
    for (int k = 1; k <= chapters; ++k) {
        std::string page = "c" + std::to_string(k) + ".html";
        items += "<li><a href=\"" + page + "\">第" + std::to_string(k) + "章</a></li>\n";
        if (k != missing) {
            write(page, "<div id=\"text\">第" + std::to_string(k) + "章的正文</div>");
        } else {
            std::filesystem::remove(folder + page);
        }
    }
    write("list.html", "<ul id=\"chapters\">\n" + items + "</ul>");
}

/// The rule file of the serial site in folder `site` of the test site at `baseUrl`, named
/// `siteName`, asking for `intervalMs` between two requests (0: no pacing).
inline std::string SerialRule(const std::string& baseUrl, const std::string& site,
                              const std::string& siteName, int intervalMs) {
    std::string siteUrl = baseUrl + "/" + site + "/";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Channel>\n"
           "<RequestInterval>" +
           std::to_string(intervalMs) + "</RequestInterval>\n<SiteName>" + siteName +
           "</SiteName>\n<SiteUrl>" + siteUrl +
           "</SiteUrl>\n<Charset>UTF-8</Charset>\n"
           "<SearchPage>\n<SearchPageUrlFormat>" +
           siteUrl +
           "search?q={KEY}</SearchPageUrlFormat>\n<SearcResultRegional></SearcResultRegional>\n"
           "<NovelInfoPageUrl></NovelInfoPageUrl>\n<NovelName></NovelName>\n"
           "<NovelAuthor></NovelAuthor>\n<LatestChapter></LatestChapter>\n</SearchPage>\n"
           "<InfoPage>\n<NovelSort></NovelSort>\n"
           "<NovelName><![CDATA[<h1>(.*?)</h1>]]></NovelName>\n"
           "<NovelAuthor><![CDATA[<p>作者：(.*?)</p>]]></NovelAuthor>\n"
           "<NovelState></NovelState>\n<NovelIntro></NovelIntro>\n"
           "<LatestChapter></LatestChapter>\n"
           "<ContentsUrl><![CDATA[<a id=\"list\" href=\"(.*?)\">]]></ContentsUrl>\n</InfoPage>\n"
           "<ContentsPage>\n"
           "<ContentsRegional><![CDATA[<ul id=\"chapters\">(.*?)</ul>]]></ContentsRegional>\n"
           "<ChapterName><![CDATA[<li><a href=\"[^\"]*\">(.*?)</a>]]></ChapterName>\n"
           "<ChapterUrl><![CDATA[<li><a href=\"(.*?)\">]]></ChapterUrl>\n</ContentsPage>\n"
           "<ContentPage>\n<ChapterContent><![CDATA[<div id=\"text\">(.*?)</div>]]>"
           "</ChapterContent>\n</ContentPage>\n</Channel>\n";
}

} // namespace velunor::testing
