#include "library_fixture.h"

#include "cli/console_port.h"
#include "library/internal/chapter_fetch.h"
#include "rules/rules.h"
#include "site/site.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace velunor::testing {
namespace {

using ChapterImages = LibraryFixture;

std::u16string State(const std::u16string& page) {
    return cli::FindElementInnerHtml(page, u"down_state");
}

std::vector<std::u16string> SourcesOf(std::u16string_view text) {
    std::vector<std::u16string> sources;
    for (const ImageSourceSpan& span : FindImageSources(text)) {
        sources.emplace_back(text.substr(span.Start, span.Length));
    }
    return sources;
}

struct SourceCase {
    const char* name;
    const char16_t* text;
    std::vector<std::u16string> sources;
};

TEST(ImageSources, AreTheSrcValuesOfImageTagsAsBrowsersReadThem) {
    const std::vector<SourceCase> cases = {
        {"double, single and no quotes",
         u"<img src=\"a.jpg\">字<img src='b.png'><img src=c.gif width=3>",
         {u"a.jpg", u"b.png", u"c.gif"}},
        {"any case, spaces and lines around =",
         u"<IMG\nSRC = 'd.png' /><Img sRc=e.png>",
         {u"d.png", u"e.png"}},
        {"a > inside a quoted value", u"<img alt=\"x>y\" src=\"f.png\">", {u"f.png"}},
        {"src alone, and only the first",
         u"<img srcset=\"y.png 2x\" src=\"g.png\" src=\"h.png\">",
         {u"g.png"}},
        {"a lazy-loading tag's real address, whatever src shows",
         u"<img src=\"data:image/gif;base64,R0lG\" data-original=\"l.jpg\">"
         u"<img data-src=\"m.jpg\" src=\"p.gif\"><img data-echo=' n.jpg '>",
         {u"l.jpg", u"m.jpg", u"n.jpg"}},
        {"the first lazy attribute that holds an address",
         u"<img data-original=\"\" data-src=\"data:,x\" data-echo=\"o.jpg\" src=\"q.png\">",
         {u"o.jpg"}},
        {"a data: image is no address",
         u"<img src=\"DATA:image/png;base64,iVBO\"><img src=' data:,' data-src=\"data:,y\">"
         u"<img data-src=\"data:,z\" src=\"r.png\">",
         {u"r.png"}},
        {"no image tag", u"<script src=\"s.js\"></script><imgx src=\"x.png\"><p src=p.png>", {}},
        {"commented out",
         u"<!-- <img src=\"x.png\"> --><img src=\"i.png\"><!-- <img src=y>",
         {u"i.png"}},
        {"empty or blank src", u"<img src=\"\"><img src=' '><img src><img src src=x.png><img>", {}},
        {"spaces around the address", u"<img src=\" j.png \">", {u"j.png"}},
        {"tag cut off by the end", u"<img src=\"k.png", {u"k.png"}},
        {"cut off after src=", u"<img src=", {}},
        {"cut off after <img", u"字<img", {}},
    };
    for (const SourceCase& c : cases) {
        EXPECT_EQ(SourcesOf(c.text), c.sources) << c.name;
    }
}

TEST(ChapterImageFileName, IsThePageStemTheNumberAndAPlainExtension) {
    struct NameCase {
        const char16_t* address;
        int number;
        const char16_t* name;
    };
    const std::vector<NameCase> cases = {
        {u"http://x/a/1.JPG", 2, u"12_2.JPG"},
        {u"http://x/a/1", 2, u"12_2"},
        {u"http://x/a/photo.jpeg#top", 10, u"12_10.jpeg"},
        // The extension is the file's own, not a folder's or the query's.
        {u"http://x/a.b/show?f=1.png", 1, u"12_1"},
        // Anything else could give a name the reader's system cannot open.
        {u"http://x/a/1.longext", 1, u"12_1"},
        {u"http://x/a/1.p-g", 1, u"12_1"},
        {u"http://x/a/1.图", 1, u"12_1"},
        {u"http://x/a/1.", 1, u"12_1"},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(internal::ChapterImageFileName(u"/lib/Novel/站/书/12.html", c.number, c.address),
                  c.name)
            << WideToUtf8(c.address);
    }
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
    Site site(LoadSiteRule(gbkRule_));

    const std::vector<FailingImage> cases = {
        {"404 with its error page as body", u"img/missing.png"},
        {"200 without a body", u"img/empty.png"},
        {"301 to an image that is not there", u"img/moved-away.png"},
        {"connection closed mid-body", u"img/cut.png"},
        {"Content-Length over 20 MB", u"img/huge.png"},
    };
    for (const FailingImage& c : cases) {
        SCOPED_TRACE(c.name);
        // The second image of the chapter stored in 1.html.
        std::string file = images + "1_2.png";
        // A copy from an earlier download is replaced, so it must not survive either.
        std::ofstream(file, std::ios::binary) << "earlier copy";
        std::filesystem::remove(images + "1_1.png");
        FetchedChapter chapter;
        chapter.Pages = {{chapterUrl, u"", {u"img/a.png", c.source}}};
        std::u16string text;
        EXPECT_TRUE(internal::ComposeChapterText(site, chapter, u"", pageFile, text, {}).Failed());
        EXPECT_FALSE(Exists(file));
        // The image before it was stored.
        EXPECT_EQ(ReadFileBytes(images + "1_1.png"), ReadFileBytes(siteImages + "a.png"));
    }

    FetchedChapter good;
    good.Pages = {{chapterUrl,
                   u"正文<img src=\"img/a.png\"><img src='img/b.png'>",
                   {u"img/a.png", u"img/b.png"}}};
    std::u16string text;
    EXPECT_FALSE(internal::ComposeChapterText(site, good, u"", pageFile, text, {}).Failed());
    EXPECT_EQ(text, u"正文<img src=\"images/1_1.png\"><img src='images/1_2.png'>");
    EXPECT_EQ(ReadFileBytes(images + "1_2.png"), ReadFileBytes(siteImages + "b.png"));
}

// The offline reader shows each image where the site placed it, from its stored copy: only the
// address changes, and an image shown twice is fetched and stored once. A lazy-loading tag
// shows the copy of its real address in place of its placeholder, or in a src of its own when it
// has none; an inline data: image is neither fetched nor a failure and stays as it is.
TEST_F(ChapterImages, ImagesStandInTheTextAsLinksToTheirCopies) {
    std::u16string folder = NovelFolder(kGbkSite, u"图文");
    std::string images = NativePath(folder + u"/images/");
    std::filesystem::create_directories(images);
    std::string siteImages = TestSite::DefaultRoot() + "/novel-gbk/book/list/img/";
    CSiteRule rule = LoadSiteRule(gbkRule_);
    Site site(rule);
    FetchedChapter chapter = FetchChapter(site, site_.Url("/novel-gbk/book/list/tags.html"), {});
    ASSERT_TRUE(chapter.Ok());

    std::vector<int> announced;
    std::u16string text;
    ASSERT_FALSE(internal::ComposeChapterText(site, chapter, rule.ReplaceRule, folder + u"/7.html",
                                              text, [&](int k) { announced.push_back(k); })
                     .Failed());
    // The replace rule's <span class="ad"> stays: a page with images is kept as sent.
    EXPECT_EQ(text, u"<p>第一段</p><IMG alt=\"甲>乙\" SRC='images/7_1.png' width=30>"
                    u"<span class=\"ad\">图中有字</span><img src = images/7_2.png "
                    u"style=\"border:0\"/><!-- <img src=\"img/missing.png\"> -->"
                    u"<img src=\"images/7_2.png\" data-original=\"images/7_2.png\">"
                    u"<img src=\"images/7_1.png\" data-src=\"images/7_1.png\" class=\"lazy\">"
                    u"<img src=\"data:image/png;base64,iVBORw0KGgo=\">");
    EXPECT_EQ(announced, (std::vector<int>{1, 2}));
    EXPECT_EQ(RequestCount("/novel-gbk/book/list/img/a.png"), 1u);
    EXPECT_EQ(RequestCount("/novel-gbk/book/list/img/b.png"), 1u);
    EXPECT_EQ(RequestCount("/novel-gbk/book/list/img/missing.png"), 0u);
    std::vector<std::string> stored;
    for (const DirectoryEntry& entry : ListFolder(images)) {
        stored.push_back(entry.Name);
    }
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, (std::vector<std::string>{"7_1.png", "7_2.png"}));
    EXPECT_EQ(ReadFileBytes(images + "7_1.png"), ReadFileBytes(siteImages + "a.png"));
    EXPECT_EQ(ReadFileBytes(images + "7_2.png"), ReadFileBytes(siteImages + "b.png"));
}

// Sites name the images of every chapter alike ("1.JPG"); one novel's shared images folder
// must still hold each chapter's own, and each page of a chapter resolves its own addresses.
TEST_F(ChapterImages, ImagesOfOneNameStayApartPerChapterAndAddress) {
    std::u16string folder = NovelFolder(kGbkSite, u"同名图");
    std::string images = NativePath(folder + u"/images/");
    std::filesystem::create_directories(images);
    std::string siteImages = TestSite::DefaultRoot() + "/novel-gbk/book/list/img/";
    Site site(LoadSiteRule(gbkRule_));
    const std::u16string tag = u"<img src=\"1.JPG\">";
    const ChapterPage inFirst = {site_.Url("/novel-gbk/book/list/v1/p.html"), tag, {u"1.JPG"}};
    const ChapterPage inSecond = {site_.Url("/novel-gbk/book/list/v2/p.html"), tag, {u"1.JPG"}};
    auto compose = [&](const std::u16string& pageName, std::vector<ChapterPage> pages) {
        FetchedChapter chapter;
        chapter.Pages = std::move(pages);
        std::u16string text;
        EXPECT_FALSE(
            internal::ComposeChapterText(site, chapter, u"", folder + u"/" + pageName, text, {})
                .Failed());
        return text;
    };

    EXPECT_EQ(compose(u"1.html", {inFirst}), u"<img src=\"images/1_1.JPG\">");
    EXPECT_EQ(compose(u"2.html", {inSecond}), u"<img src=\"images/2_1.JPG\">");
    EXPECT_EQ(compose(u"3.html", {inFirst, inSecond}),
              u"<img src=\"images/3_1.JPG\"><img src=\"images/3_2.JPG\">");
    const std::pair<const char*, const char*> copies[] = {
        {"1_1.JPG", "a.png"}, {"2_1.JPG", "b.png"}, {"3_1.JPG", "a.png"}, {"3_2.JPG", "b.png"}};
    for (const auto& [name, original] : copies) {
        EXPECT_EQ(ReadFileBytes(images + name), ReadFileBytes(siteImages + original)) << name;
    }
}

TEST_F(ChapterImages, ChapterWhoseImageIsMissingIsFailedByTheJobAndOnDemand) {
    Download(GbkHit(u"缺图小说", "quetu.html"));
    ASSERT_EQ(port_.LastStatus(), DownloadDone(1));
    std::u16string folder = NovelFolder(kGbkSite, u"缺图小说");
    std::u16string missing = ReadPageText(folder + u"/1.html");
    EXPECT_EQ(State(missing), u"-1");
    const std::u16string reason = u"图片下载失败（目标站返回状态码 404）";
    EXPECT_EQ(ShownChapterText(missing), FailedChapterNotice(reason));
    EXPECT_FALSE(Exists(NativePath(folder + u"/images/1_1.png")));
    std::u16string present = ReadPageText(folder + u"/2.html");
    EXPECT_EQ(State(present), u"1");
    EXPECT_NE(present.find(u"<img src=\"images/2_1.png\">"), std::u16string::npos);

    // Fetching the failed chapter again from its page fails the same way.
    RecordingPort window;
    for (const char16_t* id :
         {u"rule_file_path", u"chapter_url", u"chapter_save_file", u"down_state"}) {
        window.SetElement(id, cli::FindElementInnerHtml(missing, id));
    }
    OnDemandChapterFetch(&window, program_);
    EXPECT_EQ(State(ReadPageText(folder + u"/1.html")), u"-1");
    EXPECT_EQ(window.Statuses().back(), u"当前章节图片下载失败！（" + reason + u"）");
    EXPECT_FALSE(Exists(NativePath(folder + u"/images/1_1.png")));
}

// A content pattern that runs into a limit on a page gives no text, and the chapter is failed
// with that reason instead of being stored empty or cut.
TEST_F(ChapterImages, ChapterWhosePatternRunsOutOfTimeIsFailed) {
    CSiteRule rule = LoadSiteRule(gbkRule_);
    rule.ChapterContent = u"([^<]*?[^<]*?[^<]*?)</div>";
    FetchedChapter chapter = FetchChapter(Site(rule), site_.Url("/novel-gbk/slowtext.html"), {});
    EXPECT_EQ(chapter.Error.Kind, SiteErrorKind::Limit);
    EXPECT_EQ(internal::ChapterFailureReason(chapter), u"正文过大或规则过慢，未能提取");
}

} // namespace
} // namespace velunor::testing
