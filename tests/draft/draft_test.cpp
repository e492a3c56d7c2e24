// Rules drafted for the corpus of site shapes served by the local test site: each draft passes
// its own check, and a download with it reads the list and texts the corpus expects; a search
// address gives search patterns that find the novel; pages that hold no novel give no rule.

#include "draft/draft.h"

#include "core/core.h"
#include "finder/finder.h"
#include "html/html.h"
#include "site/site.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace velunor::draft {
namespace {

const std::string kCorpus = std::string(VELUNOR_TEST_DATA) + "/site/finder";
// The address the corpus's expected texts give the site.
constexpr std::string_view kCorpusSite = "http://novel.test/";

struct Shape {
    std::string Folder;
    /// The page that holds the list, relative to the folder.
    std::string Contents;
};

const std::vector<Shape>& Shapes() {
    static const std::vector<Shape> shapes = {
        {"dl-gbk", ""},       {"ul-utf8", "list.html"},      {"table-gbk", "index.html"},
        {"volumes-utf8", ""}, {"select-utf8", ""},           {"nextlink-gbk", "index.html"},
        {"ol-utf8", ""},      {"divlinks-gbk", "mulu.html"}, {"dl-volumes-utf8", ""},
        {"repeats-utf8", ""}, {"td-gbk", "list.html"},       {"info-gbk", ""},
    };
    return shapes;
}

std::string Joined(const std::vector<std::u16string>& lines) {
    std::string text;
    for (const std::u16string& line : lines) {
        text += WideToUtf8(line) + "\n";
    }
    return text;
}

class SiteRuleDraftTest : public ::testing::Test {
  protected:
    // A line of the corpus's expected files with its addresses on the local test site.
    std::string Local(std::string line) const {
        for (size_t at = line.find(kCorpusSite); at != std::string::npos;
             at = line.find(kCorpusSite, at)) {
            line.replace(at, kCorpusSite.size(), site_.BaseUrl() + "/");
        }
        return line;
    }

    std::vector<std::string> Expected(const std::string& path) const {
        std::istringstream text(testing::ReadFileBytes(kCorpus + "/" + path));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) {
            lines.push_back(Local(line));
        }
        return lines;
    }

    // A draft that passed, saved and read back as the rule file a user keeps.
    std::shared_ptr<const Site> PassingDraft(const std::u16string& url,
                                             const std::u16string& search = {}) {
        SiteRuleDraft draft = DraftSiteRule(url, search);
        EXPECT_EQ(WideToUtf8(draft.Refusal), "");
        EXPECT_TRUE(draft.Passed) << WideToUtf8(draft.Xml) << Joined(draft.Check.Lines);
        EXPECT_EQ(WideToUtf8(draft.FileName), "127.0.0.1.xml");
        return Site::FromRuleFile(
            Utf8ToWide(temp_.Write(WideToUtf8(draft.FileName), WideToUtf8(draft.Xml))));
    }

    testing::TempFolder temp_;
    testing::TestSite site_{kCorpus};
};

// Chapter `i`'s text as a download stores it, as lines; images as "[img]" and their address.
std::vector<std::string> ChapterLines(const Site& site, const ChapterList& list, size_t i,
                                      const std::u16string& contentsUrl) {
    ChapterBounds bounds;
    bounds.ContentsUrl = contentsUrl;
    bounds.NextChapterUrl = i + 1 < list.ChapterUrl.size() ? list.ChapterUrl[i + 1] : u"";
    FetchedChapter chapter = FetchChapter(site, list.ChapterUrl[i], bounds);
    EXPECT_TRUE(chapter.Ok()) << WideToUtf8(TechnicalReason(chapter.Error));
    std::vector<std::string> lines;
    for (const ChapterPage& page : chapter.Pages) {
        for (html::ChapterBlock& block :
             html::FetchedChapterBlocks(ApplyReplaceRule(site.Rule().ReplaceRule, page.Text))) {
            if (block.BlockKind == html::ChapterBlock::Kind::Image) {
                CompleteUrl(page.Url, block.Text);
                block.Text = u"[img]" + block.Text;
            }
            lines.push_back(WideToUtf8(block.Text));
        }
    }
    return lines;
}

TEST_F(SiteRuleDraftTest, EachShapesDraftPassesAndDownloadsWhatTheCorpusExpects) {
    for (const Shape& shape : Shapes()) {
        SCOPED_TRACE(shape.Folder);
        std::u16string url = site_.Url("/" + shape.Folder + "/" + shape.Contents);
        std::shared_ptr<const Site> site = PassingDraft(url);
        std::vector<std::string> expected = Expected(shape.Folder + "/expect/list.txt");

        VisitedAddresses visited;
        NovelInfoPage info = ReadInfoPage(*site, url, visited);
        EXPECT_EQ(WideToUtf8(info.Info.NovelName), expected[5]);
        EXPECT_EQ(WideToUtf8(info.Info.NovelAuthor), expected[6]);
        SitePage first = FirstContentsPage(*site, info, visited);
        ChapterList list = ReadContentsPages(*site, first, visited, {}).Chapters;
        ASSERT_EQ(std::to_string(list.count), expected[0]);
        EXPECT_EQ(WideToUtf8(list.ChapterUrl.front()), expected[1]);
        EXPECT_EQ(WideToUtf8(list.ChapterUrl.back()), expected[2]);
        EXPECT_EQ(WideToUtf8(list.ChapterName.front()), expected[3]);
        EXPECT_EQ(WideToUtf8(list.ChapterName.back()), expected[4]);
        std::vector<std::string> volumes;
        for (const VolumeHeading& heading : list.Volumes) {
            volumes.push_back("V" + std::to_string(heading.Before) + " " +
                              WideToUtf8(heading.Name));
        }
        EXPECT_EQ(volumes, std::vector<std::string>(expected.begin() + 7, expected.end()));

        for (size_t i : {size_t{0}, list.ChapterUrl.size() / 2, list.ChapterUrl.size() - 1}) {
            std::u16string_view address = list.ChapterUrl[i];
            std::u16string name(address.substr(address.rfind(u'/') + 1));
            name.resize(name.find(u'.'));
            SCOPED_TRACE(WideToUtf8(name));
            EXPECT_EQ(ChapterLines(*site, list, i, first.Url),
                      Expected(shape.Folder + "/expect/" + WideToUtf8(name) + ".txt"));
        }
    }
}

TEST_F(SiteRuleDraftTest, ASearchAddressGivesPatternsThatFindTheNovel) {
    std::u16string url = site_.Url("/dl-gbk/");
    std::shared_ptr<const Site> site =
        PassingDraft(url, site_.Url("/search/result.html?q=") + u"{KEY}");
    SiteSearchAnswer answer = SearchSite(*site, u"青石小径");
    ASSERT_EQ(answer.Hits.size(), 3u);
    EXPECT_EQ(answer.Hits[1].InfoPageUrl, url);
    EXPECT_EQ(WideToUtf8(answer.Hits[1].NovelName), "青石小径");
    EXPECT_EQ(WideToUtf8(answer.Hits[1].NovelAuthor), "云间客");
    EXPECT_EQ(WideToUtf8(answer.Hits[2].NovelAuthor), "南窗");
}

TEST_F(SiteRuleDraftTest, PagesWithoutANovelGiveNoRuleAndTheFindersReason) {
    struct Case {
        const char* page;
        // A page only a script gets past still gives a file that says so and points at the
        // rule's UseBrowser.
        bool scriptNote;
    };
    for (const Case& test :
         {Case{"search.html", false}, Case{"forum.html", false}, Case{"home.html", false},
          Case{"empty.html", false}, Case{"challenge.html", true}}) {
        SCOPED_TRACE(test.page);
        SiteRuleDraft draft = DraftSiteRule(site_.Url(std::string("/refuse/") + test.page), {});
        EXPECT_FALSE(draft.Passed);
        EXPECT_TRUE(draft.Refusal.starts_with(finder::kNoChapterListReason))
            << WideToUtf8(draft.Refusal);
        EXPECT_EQ(draft.Xml.find(u"<UseBrowser>") != std::u16string::npos, test.scriptNote)
            << WideToUtf8(draft.Xml);
        EXPECT_EQ(draft.Xml.find(u"<ChapterContent><!") != std::u16string::npos, false);
    }
}

} // namespace
} // namespace velunor::draft
