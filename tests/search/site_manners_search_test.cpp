// Searches against sites that behave like the ones readers use: forms that post, pages that
// moved, exact titles answered with the novel's own page, and challenge pages.

#include "search/search.h"

#include "results/search_result_file.h"
#include "search_fixture.h"
#include "site/site.h"
#include "support/recording_port.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace velunor {
namespace {

using testing::RecordingPort;
using testing::TestSite;

struct RuleParts {
    std::string charset = "GBK";
    std::string urlFormat;
    std::string postData;
    std::string headers;
    // The search page's four lists; each must match once per hit.
    std::string link = "<tr><td><a href=\"([^\"]*)\">";
    std::string name = "<tr><td><a href=\"[^\"]*\">(.*?)</a>";
    std::string author = "</a></td><td>(.*?)</td>";
    std::string latest = "</td><td>[^<]*</td><td>(.*?)</td>";
};

std::string RuleText(const RuleParts& parts) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Channel>\r\n"
           "<SiteName>试验站</SiteName>\r\n<SiteUrl>{SITE}/search13/</SiteUrl>\r\n"
           "<Charset>" +
           parts.charset + "</Charset>\r\n<ReplaceRule></ReplaceRule>\r\n" +
           (parts.headers.empty() ? ""
                                  : "<RequestHeaders>" + parts.headers + "</RequestHeaders>\r\n") +
           "<SearchPage>\r\n<SearchPageUrlFormat><![CDATA[" + parts.urlFormat +
           "]]></SearchPageUrlFormat>\r\n" +
           (parts.postData.empty()
                ? ""
                : "<SearchPostData><![CDATA[" + parts.postData + "]]></SearchPostData>\r\n") +
           "<SearcResultRegional><![CDATA[(.*)]]></SearcResultRegional>\r\n"
           "<NovelInfoPageUrl><![CDATA[" +
           parts.link + "]]></NovelInfoPageUrl>\r\n<NovelName><![CDATA[" + parts.name +
           "]]></NovelName>\r\n<NovelAuthor><![CDATA[" + parts.author +
           "]]></NovelAuthor>\r\n<LatestChapter><![CDATA[" + parts.latest +
           "]]></LatestChapter>\r\n</SearchPage>\r\n"
           "<InfoPage>\r\n<NovelSort></NovelSort>\r\n<NovelName><![CDATA[<h1>(.*?)</h1>]]>"
           "</NovelName>\r\n<NovelAuthor><![CDATA[作者：(.*?)</p>]]></NovelAuthor>\r\n"
           "<NovelState></NovelState>\r\n<NovelIntro></NovelIntro>\r\n"
           "<LatestChapter><![CDATA[最新章节：(.*?)</p>]]></LatestChapter>\r\n"
           "<ContentsUrl></ContentsUrl>\r\n</InfoPage>\r\n"
           "</Channel>\r\n";
}

class SiteMannersSearchTest : public testing::ProgramFolderTest {
  protected:
    void TearDown() override {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (search_ && !search_->IsIdle() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ProgramFolderTest::TearDown();
    }

    // Searches the one site `parts` describes for `text` and returns the rows.
    std::vector<ResultRow> Search(const RuleParts& parts, const std::u16string& text) {
        std::string rule = RuleText(parts);
        for (size_t at = rule.find("{SITE}"); at != std::string::npos; at = rule.find("{SITE}")) {
            rule.replace(at, 6, site_.BaseUrl());
        }
        temp_.Write("Rule/site.xml", rule);
        WriteSelection("0,");
        window_.SetSearchText(text);
        if (!search_) {
            search_ = std::make_unique<SearchController>(window_, ProgramFolder());
        }
        search_->RunCommand();
        EXPECT_TRUE(window_.WaitUntil([this] { return !search_->IsRunning(); }));
        return window_.Rows();
    }

    TestSite site_;
    RecordingPort window_;
    std::unique_ptr<SearchController> search_;
};

// The request line, as the echoing route sends it back, becomes the hit's name.
RuleParts EchoRule(const std::string& charset, const std::string& urlFormat) {
    RuleParts parts;
    parts.charset = charset;
    parts.urlFormat = urlFormat;
    // No "|" in a pattern: a pattern list is split at every one.
    parts.link = "^([A-Z]+) ";
    parts.name = "^[A-Z]+ ([^ ]*) HTTP";
    parts.author = "User-Agent: ([^\\r\\n]*)";
    parts.latest = "Accept-Language: ([^\\r\\n]*)";
    return parts;
}

TEST_F(SiteMannersSearchTest, KeysArriveTrimmedAndEncodedInTheSitesCharset) {
    std::vector<ResultRow> rows =
        Search(EchoRule("GBK", "{SITE}/search13/echo?q={KEY}&page=1"), u"  西游 & #1 100%\t");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].NovelName, u"/search13/echo?q=%CE%F7%D3%CE%20%26%20%231%20100%25&page=1");
    // A current desktop browser, and the language a Chinese reader's browser asks for.
    EXPECT_NE(rows[0].NovelAuthor.find(u"Mozilla/5.0 (Windows NT 10.0"), std::u16string::npos)
        << WideToUtf8(rows[0].NovelAuthor);
    EXPECT_NE(rows[0].LatestChapter.find(u"zh-CN"), std::u16string::npos);

    rows = Search(EchoRule("utf-8", "{SITE}/search13/echo?q={KEY}"), u"西游");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].NovelName, u"/search13/echo?q=%E8%A5%BF%E6%B8%B8");
}

TEST_F(SiteMannersSearchTest, RuleHeadersReplaceTheDefaults) {
    RuleParts parts = EchoRule("GBK", "{SITE}/search13/echo?q={KEY}");
    parts.headers = "User-Agent: VelunorTest/1\r\nAccept-Language: zh-TW";
    std::vector<ResultRow> rows = Search(parts, u"西游");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].NovelAuthor, u"VelunorTest/1");
    EXPECT_EQ(rows[0].LatestChapter, u"zh-TW");
}

TEST_F(SiteMannersSearchTest, FormSearchPostsTheEncodedKey) {
    RuleParts parts = EchoRule("GBK", "{SITE}/search13/echo");
    parts.postData = "searchtype=all&searchkey={KEY}";
    parts.name = "\\r\\n\\r\\n(.*)$";
    parts.author = "^(POST [^ ]*) ";
    parts.latest = "Content-Type: ([^\\r\\n]*)";
    std::vector<ResultRow> rows = Search(parts, u"西游 记");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].NovelName, u"searchtype=all&searchkey=%CE%F7%D3%CE%20%BC%C7");
    EXPECT_EQ(rows[0].NovelAuthor, u"POST /search13/echo");
    EXPECT_EQ(rows[0].LatestChapter, u"application/x-www-form-urlencoded");
}

// A site that moved answers its old search address with a redirect: the hits are found on the
// new page, and their links are resolved against it, letter case kept.
TEST_F(SiteMannersSearchTest, MovedSearchPageStillListsItsHits) {
    RuleParts parts;
    parts.urlFormat = "{SITE}/search13/moved?q={KEY}";
    std::vector<ResultRow> rows = Search(parts, u"沈砚秋");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].NovelName, u"雾港灯语");
    std::vector<SearchHit> hits = ReadSearchHits(ProgramFolder());
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].InfoPageUrl, site_.Url("/search13/book/Ab1/"));
    EXPECT_EQ(hits[1].InfoPageUrl, site_.Url("/search13/book/Cd2/"));
}

// An exact title is answered with the novel's own page: it is the one hit, stored under the
// address it was finally found at.
TEST_F(SiteMannersSearchTest, ExactTitleAnsweredWithTheNovelPageIsTheOneHit) {
    RuleParts parts;
    parts.urlFormat = "{SITE}/search13/exact?q={KEY}";
    std::vector<ResultRow> rows = Search(parts, u"雾港灯语");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].NovelName, u"雾港灯语");
    EXPECT_EQ(rows[0].NovelAuthor, u"沈砚秋");
    EXPECT_EQ(rows[0].LatestChapter, u"第八章 归港");
    std::vector<SearchHit> hits = ReadSearchHits(ProgramFolder());
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].InfoPageUrl, site_.Url("/search13/novel/Xy9Kq.html"));
    EXPECT_TRUE(window_.WaitForStatus(u"从目标站 <试验站> 搜索完成，在该站搜索到 1 本小说。"));
    EXPECT_EQ(window_.LastStatus(), u"搜索完成，共搜索到 1 本小说。");
}

TEST_F(SiteMannersSearchTest, ChallengePageGivesNoHitsAndSaysSo) {
    RuleParts parts;
    parts.urlFormat = "{SITE}/search13/challenge?q={KEY}";
    std::vector<ResultRow> rows = Search(parts, u"雾港灯语");
    EXPECT_TRUE(rows.empty());
    EXPECT_TRUE(
        window_.WaitForStatus(u"目标站 <试验站> 拒绝了访问（访问过快或需要验证），请稍后再试。"));
}

} // namespace
} // namespace velunor
