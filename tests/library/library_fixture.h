#pragma once
// A program folder in a temporary folder, with the shipped templates, rule files for the fake
// novel sites of the local test site, and a search result file to open hits from.

#include "core/core.h"
#include "library/library.h"
#include "net/fetcher.h"
#include "search/site_selection.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"
#include "support/test_site.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace velunor::testing {

/// One SearchResult element.
struct Hit {
    std::u16string site;
    std::u16string ruleFile;
    std::u16string name;
    std::u16string author;
    std::u16string infoPageUrl;
};

/// One request as the test site logged it; times in milliseconds of the server's clock.
struct LoggedRequest {
    double arrived = 0;
    double answered = 0;
    std::string method;
    std::string target;
};

inline bool Exists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

inline size_t Count(const std::u16string& text, std::u16string_view part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::u16string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

/// The last status line of a download in which `failed` chapters failed (none: the plain one).
inline std::u16string DownloadDone(int failed) {
    std::u16string done = u"下载完成！ ";
    if (failed == 0) {
        return done;
    }
    return done + u"其中 " + DecimalText(failed) +
           u" 章下载失败，可在书架上右键选择“重新下载失败章节”。";
}

/// What a chapter page shows where its text goes; "(none)" when it has no text block.
inline std::u16string ShownChapterText(const std::u16string& page) {
    size_t start = page.find(kChapterTextStart);
    size_t end = page.rfind(kChapterTextEnd);
    if (start == std::u16string::npos || end == std::u16string::npos) {
        return u"(none)";
    }
    start += kChapterTextStart.size();
    return page.substr(start, end - start);
}

class LibraryFixture : public ::testing::Test {
  protected:
    static constexpr const char16_t* kGbkSite = u"书屋甲";
    static constexpr const char16_t* kUtf8Site = u"星站";

    explicit LibraryFixture(const std::string& siteRoot = TestSite::DefaultRoot())
        : site_(siteRoot) {
        program_ = temp_.WidePath() + u"/";
        std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template",
                              temp_.File("Template"));
        std::filesystem::create_directories(temp_.File("Config"));
        std::filesystem::create_directories(temp_.File("Rule"));
        gbkRule_ = InstallRule("novel-gbk");
        utf8Rule_ = InstallRule("novel-utf8");
    }

    std::u16string InstallRule(const std::string& name) {
        temp_.Write("Rule/" + name + ".xml", site_.RuleFile(std::string(VELUNOR_TEST_DATA) +
                                                            "/library/rules/" + name + ".xml"));
        return temp_.WideFile("Rule/" + name + ".xml");
    }

    /// Adds `elements` (optional elements of the rule's Channel) to the installed rule file.
    void AddToRule(const std::u16string& ruleFile, const std::string& elements) {
        std::string path = NativePath(ruleFile);
        std::string text = ReadFileBytes(path);
        size_t channel = text.find("<Channel>");
        ASSERT_NE(channel, std::string::npos);
        text.insert(channel + 9, "\n" + elements);
        temp_.Write(path.substr(temp_.Path().size() + 1), text);
    }

    /// The requests the site has answered whose target begins with `prefix` ("/site/..."), in
    /// order of arrival, as its log lists them.
    std::vector<LoggedRequest> Requests(const std::string& prefix) {
        return Requests(site_, prefix);
    }

    /// Requests(prefix) as `server` logged them.
    static std::vector<LoggedRequest> Requests(const TestSite& server, const std::string& prefix) {
        std::string encoded;
        for (char c : prefix) {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", static_cast<unsigned char>(c));
            encoded += code;
        }
        FetchResult result;
        std::istringstream lines(
            WideToAnsi(FetchPage(result, server.Url("/_log?prefix=" + encoded))));
        std::vector<LoggedRequest> log;
        LoggedRequest entry;
        while (lines >> entry.arrived >> entry.answered >> entry.method >> entry.target) {
            log.push_back(entry);
        }
        return log;
    }

    /// How many requests for exactly `target` the site has answered.
    size_t RequestCount(const std::string& target) {
        size_t count = 0;
        for (const LoggedRequest& request : Requests(target)) {
            count += request.target == target ? 1 : 0;
        }
        return count;
    }

    Hit GbkHit(const std::u16string& name, const std::string& infoPath) {
        return {kGbkSite, gbkRule_, name, u"佚名", site_.Url("/novel-gbk/book/" + infoPath)};
    }

    void WriteSearchResults(const std::vector<Hit>& hits) {
        CXmlDocument document;
        document.SetDocumentText(u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
        for (const Hit& hit : hits) {
            document.AddElement(u"SearchResult");
            document.EnterElement();
            document.AddElement(u"TargetSite", hit.site);
            document.AddElement(u"RuleFile", hit.ruleFile);
            document.AddElement(u"NovelName", hit.name);
            document.AddElement(u"NovelAuthor", hit.author);
            document.AddElement(u"LatestChapter", u"最新一章");
            document.AddElement(u"InfoPageUrl", hit.infoPageUrl);
            document.LeaveElement();
        }
        ASSERT_TRUE(document.SaveFile(program_ + u"Config/SearchResult.xml"));
    }

    /// Lists `hits` as result rows, opens row `row` and runs the job to its end on this thread.
    void Download(const std::vector<Hit>& hits, int row, RecordingPort& port) {
        WriteSearchResults(hits);
        for (size_t i = 0; i < hits.size(); ++i) {
            port.AppendResultRow({std::u16string(1, static_cast<char16_t>(u'1' + i)), hits[i].site,
                                  hits[i].name, hits[i].author, u"最新一章"});
        }
        port.SelectRow(row);
        DownloadOpenedNovel(port, program_);
    }

    void Download(const Hit& hit) {
        Download(std::vector<Hit>{hit}, 0, port_);
    }

    /// Installs the rules of two sites that have the same novel, selects every site for
    /// searching, and downloads the novel from the first site, which fails its chapters 2, 4
    /// and 6 of 6. Returns the novel folder.
    std::u16string ShelveNovelOfTwoSites() {
        std::u16string own = InstallRule("switch-a");
        InstallRule("switch-b");
        std::vector<std::u16string> rules = EnumerateRuleFiles(program_);
        EXPECT_TRUE(WriteSiteSelection(SiteSelectionFilePath(program_), rules,
                                       std::vector<bool>(rules.size(), true)));
        Download({u"雪站甲", own, u"雪山行", u"林木", site_.Url("/switch-a/book.html")});
        return NovelFolder(u"雪站甲", u"雪山行");
    }

    std::u16string NovelFolder(const std::u16string& site, const std::u16string& name) {
        return program_ + u"Novel/" + site + u"/" + name;
    }

    /// A page as the jobs read it back: GB18030 unless it has a UTF-16 mark.
    static std::u16string ReadPageText(const std::u16string& path) {
        std::u16string encoding(kPageEncoding);
        std::u16string text;
        ReadPage(encoding, path, text);
        return text;
    }

    TestSite site_;
    TempFolder temp_;
    std::u16string program_;
    std::u16string gbkRule_;
    std::u16string utf8Rule_;
    RecordingPort port_;
};

} // namespace velunor::testing
