#include "library_fixture.h"

#include "cli/console_port.h"
#include "library/internal/chapter_fetch.h"
#include "rules/rules.h"

#include <gtest/gtest.h>

#include <fstream>

namespace velunor::testing {
namespace {

using ChapterImages = LibraryFixture;

std::u16string State(const std::u16string& page) {
    return cli::FindElementInnerHtml(page, u"down_state");
}

struct FailingImage {
    const char* name;
    const char16_t* source;
};

TEST_F(ChapterImages, OnlyAnImageAnswered2xxWithABodyIsStored) {
    std::u16string folder = program_ + u"Novel/" + kGbkSite + u"/图集";
    std::filesystem::create_directories(NativePath(folder + u"/images"));
    std::u16string pageFile = folder + u"/1.html";
    std::u16string chapterUrl = site_.Url("/novel-gbk/book/list/q1.html");
    std::string images = NativePath(folder + u"/images/");
    std::string siteImages = TestSite::DefaultRoot() + "/novel-gbk/book/list/img/";
    internal::SiteAccess site = internal::MakeSiteAccess(LoadSiteRule(gbkRule_));

    const std::vector<FailingImage> cases = {
        {"404 with its error page as body", u"img/missing.png"},
        {"200 without a body", u"img/empty.png"},
        {"301 to an image that is not there", u"img/moved-away.png"},
        {"connection closed mid-body", u"img/cut.png"},
        {"Content-Length over 20 MB", u"img/huge.png"},
    };
    for (const FailingImage& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = images + WideToUtf8(ImageFileName(c.source));
        // A copy from an earlier download is replaced, so it must not survive either.
        std::ofstream(file, std::ios::binary) << "earlier copy";
        std::filesystem::remove(images + "a.png");
        internal::FetchedChapter chapter;
        chapter.StatusCode = 200;
        chapter.Pages = {{chapterUrl, u"", {u"img/a.png", c.source}}};
        std::u16string text;
        EXPECT_FALSE(internal::ComposeChapterText(site, chapter, u"", pageFile, text, {}));
        EXPECT_FALSE(Exists(file));
        // The image before it was stored.
        EXPECT_EQ(ReadFileBytes(images + "a.png"), ReadFileBytes(siteImages + "a.png"));
    }

    internal::FetchedChapter good;
    good.StatusCode = 200;
    good.Pages = {{chapterUrl, u"正文", {u"img/a.png", u"img/b.png"}}};
    std::u16string text;
    EXPECT_TRUE(internal::ComposeChapterText(site, good, u"", pageFile, text, {}));
    EXPECT_EQ(text, u"正文" + ImageFragment(u"a.png") + ImageFragment(u"b.png"));
    EXPECT_EQ(ReadFileBytes(images + "b.png"), ReadFileBytes(siteImages + "b.png"));
}

TEST_F(ChapterImages, ChapterWhoseImageIsMissingIsFailedByTheJobAndOnDemand) {
    Download(GbkHit(u"缺图小说", "quetu.html"));
    ASSERT_EQ(port_.LastStatus(), DownloadDone(1));
    std::u16string folder = NovelFolder(kGbkSite, u"缺图小说");
    std::u16string missing = ReadPageText(folder + u"/1.html");
    EXPECT_EQ(State(missing), u"-1");
    EXPECT_EQ(ShownChapterText(missing), FailedChapterNotice(u"图片下载失败"));
    EXPECT_FALSE(Exists(NativePath(folder + u"/images/missing.png")));
    std::u16string present = ReadPageText(folder + u"/2.html");
    EXPECT_EQ(State(present), u"1");
    EXPECT_NE(present.find(ImageFragment(u"a.png")), std::u16string::npos);

    // Fetching the failed chapter again from its page fails the same way.
    RecordingPort window;
    for (const char16_t* id :
         {u"rule_file_path", u"chapter_url", u"chapter_save_file", u"down_state"}) {
        window.SetElement(id, cli::FindElementInnerHtml(missing, id));
    }
    OnDemandChapterFetch(&window, program_);
    EXPECT_EQ(State(ReadPageText(folder + u"/1.html")), u"-1");
    EXPECT_EQ(window.Statuses().back(), u"当前章节图片下载失败！");
    EXPECT_FALSE(Exists(NativePath(folder + u"/images/missing.png")));
}

// A content pattern that runs into a limit on a page gives no text, and the chapter is failed
// with that reason instead of being stored empty or cut.
TEST_F(ChapterImages, ChapterWhosePatternRunsOutOfTimeIsFailed) {
    CSiteRule rule = LoadSiteRule(gbkRule_);
    rule.ChapterContent = u"([^<]*?[^<]*?[^<]*?)</div>";
    internal::FetchedChapter chapter = internal::FetchChapter(
        internal::MakeSiteAccess(rule), site_.Url("/novel-gbk/slowtext.html"), {});
    EXPECT_EQ(chapter.StatusCode, 200);
    EXPECT_EQ(chapter.Problem, ExtractionProblem::TooSlow);
    EXPECT_FALSE(chapter.Ok());
}

} // namespace
} // namespace velunor::testing
