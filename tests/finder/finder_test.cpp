// The page finder on pages shaped as novel sites build them: each site's chapter list found
// whole across its contents pages, chapter texts found across their pages without the site's
// navigation and notices, and pages that hold no novel refused.

#include "finder/finder.h"

#include "core/core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velunor::finder {
namespace {

// The corpus stands for one site at this address; each folder is a novel's pages.
constexpr std::u16string_view kSite = u"http://novel.test/";
const std::string kCorpus = std::string(VELUNOR_TEST_DATA) + "/site/finder/";

std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

std::vector<std::u16string> ExpectedLines(const std::string& path) {
    std::istringstream text(ReadBytes(path));
    std::vector<std::u16string> lines;
    for (std::string line; std::getline(text, line);) {
        lines.push_back(Utf8ToWide(line));
    }
    return lines;
}

struct Shape {
    std::string Folder;
    const char* Charset;
    /// The contents page, relative to the folder.
    std::u16string Contents;
    /// The novel's information page, when it is not the contents page but links to it.
    std::u16string Info = {};
};

const std::vector<Shape>& Shapes() {
    static const std::vector<Shape> shapes = {
        {"dl-gbk", "GB18030", u""},
        {"ul-utf8", "UTF-8", u"list.html"},
        {"table-gbk", "GB18030", u"index.html"},
        {"volumes-utf8", "UTF-8", u""},
        {"select-utf8", "UTF-8", u""},
        {"nextlink-gbk", "GB18030", u"index.html"},
        {"ol-utf8", "UTF-8", u""},
        {"divlinks-gbk", "GB18030", u"mulu.html"},
        {"dl-volumes-utf8", "UTF-8", u""},
        {"repeats-utf8", "UTF-8", u""},
        {"td-gbk", "GB18030", u"list.html"},
        {"info-gbk", "GB18030", u"list_1.html", u"index.html"},
    };
    return shapes;
}

// The page at `url`, decoded as its site sends it; a folder address serves its index.html.
std::u16string Page(std::u16string_view url, const char* charset) {
    std::string path = WideToUtf8(url.substr(kSite.size()));
    if (path.empty() || path.back() == '/') {
        path += "index.html";
    }
    // A file name cannot hold a query; the corpus writes "?" as "@".
    std::replace(path.begin(), path.end(), '?', '@');
    std::u16string page;
    DecodeCharset(ReadBytes(kCorpus + path), charset, page);
    return page;
}

std::u16string_view FileNameOfUrl(std::u16string_view url) {
    return url.substr(url.rfind(u'/') + 1);
}

std::u16string FolderUrl(const Shape& shape) {
    return std::u16string(kSite) + Utf8ToWide(shape.Folder) + u"/";
}

// The chapter list of `shape`, read across its contents pages; a later page may hold fewer
// chapters than a list must.
ChapterList WholeList(const Shape& shape) {
    ChapterList whole;
    std::u16string url = FolderUrl(shape) + shape.Contents;
    for (int pages = 0; !url.empty() && pages < 10; ++pages) {
        size_t minChapters = pages == 0 ? kMinChapters : 1;
        FoundChapterList found = FindChapterList(Page(url, shape.Charset), url, minChapters);
        EXPECT_TRUE(found.Refusal.empty()) << WideToUtf8(url);
        EXPECT_GT(found.Confidence, 0.5);
        for (VolumeHeading& heading : found.Chapters.Volumes) {
            heading.Before += whole.ChapterUrl.size();
            whole.Volumes.push_back(heading);
        }
        for (int32_t i = 0; i < found.Chapters.count; ++i) {
            whole.ChapterName.push_back(found.Chapters.ChapterName[i]);
            whole.ChapterUrl.push_back(found.Chapters.ChapterUrl[i]);
        }
        url = found.NextPageUrl;
    }
    whole.count = static_cast<int32_t>(whole.ChapterUrl.size());
    return whole;
}

TEST(PageFinder, FindsEachShapesNovelAndWholeChapterList) {
    for (const Shape& shape : Shapes()) {
        SCOPED_TRACE(shape.Folder);
        std::vector<std::u16string> expected =
            ExpectedLines(kCorpus + shape.Folder + "/expect/list.txt");
        ChapterList list = WholeList(shape);
        ASSERT_EQ(list.count, std::stoi(WideToUtf8(expected[0])));
        EXPECT_EQ(WideToUtf8(list.ChapterUrl.front()), WideToUtf8(expected[1]));
        EXPECT_EQ(WideToUtf8(list.ChapterUrl.back()), WideToUtf8(expected[2]));
        EXPECT_EQ(WideToUtf8(list.ChapterName.front()), WideToUtf8(expected[3]));
        EXPECT_EQ(WideToUtf8(list.ChapterName.back()), WideToUtf8(expected[4]));
        std::vector<std::u16string> volumes;
        for (const VolumeHeading& heading : list.Volumes) {
            volumes.push_back(u"V" + DecimalText(static_cast<long long>(heading.Before)) + u" " +
                              heading.Name);
        }
        EXPECT_EQ(volumes, std::vector<std::u16string>(expected.begin() + 7, expected.end()));

        // The site reads the information page first, and the contents where it leads.
        std::u16string contents = FolderUrl(shape) + shape.Contents;
        std::u16string first = shape.Info.empty() ? contents : FolderUrl(shape) + shape.Info;
        FoundNovelInfo info = FindNovelInfo(Page(first, shape.Charset), first);
        EXPECT_EQ(WideToUtf8(info.Name), WideToUtf8(expected[5]));
        EXPECT_EQ(WideToUtf8(info.Author), WideToUtf8(expected[6]));
        EXPECT_EQ(WideToUtf8(info.ContentsUrl), shape.Info.empty() ? "" : WideToUtf8(contents));
    }
}

// The text of chapter `i` of `list` as lines, images as "[img]" and their address, read across
// the chapter's pages.
std::vector<std::u16string> ChapterLines(const Shape& shape, const ChapterList& list, size_t i) {
    ChapterTextBounds bounds;
    bounds.FirstPageUrl = list.ChapterUrl[i];
    bounds.ContentsUrl = FolderUrl(shape) + shape.Contents;
    bounds.NextChapterUrl = i + 1 < list.ChapterUrl.size() ? list.ChapterUrl[i + 1] : u"";
    std::vector<std::u16string> lines;
    std::u16string url = bounds.FirstPageUrl;
    for (int pages = 0; !url.empty() && pages < 10; ++pages) {
        FoundChapterText found = FindChapterText(Page(url, shape.Charset), url, bounds);
        EXPECT_TRUE(found.Refusal.empty()) << WideToUtf8(url);
        for (const html::ChapterBlock& block : found.Blocks) {
            bool image = block.BlockKind == html::ChapterBlock::Kind::Image;
            lines.push_back(image ? u"[img]" + block.Text : block.Text);
        }
        url = found.NextPageUrl;
    }
    return lines;
}

TEST(PageFinder, FindsChapterTextsAcrossTheirPagesWithoutTheSitesParts) {
    for (const Shape& shape : Shapes()) {
        ChapterList list = WholeList(shape);
        ASSERT_GE(list.count, 3) << shape.Folder;
        for (size_t i : {size_t{0}, list.ChapterUrl.size() / 2, list.ChapterUrl.size() - 1}) {
            std::u16string_view name = FileNameOfUrl(list.ChapterUrl[i]);
            SCOPED_TRACE(shape.Folder + " " + WideToUtf8(name));
            std::string expected = kCorpus + shape.Folder + "/expect/" +
                                   WideToUtf8(name.substr(0, name.find(u'.'))) + ".txt";
            std::vector<std::string> found;
            for (const std::u16string& line : ChapterLines(shape, list, i)) {
                found.push_back(WideToUtf8(line));
            }
            std::vector<std::string> wanted;
            for (const std::u16string& line : ExpectedLines(expected)) {
                wanted.push_back(WideToUtf8(line));
            }
            EXPECT_EQ(found, wanted);
        }
    }
}

TEST(PageFinder, RefusesPagesThatHoldNoNovel) {
    for (const char* name :
         {"search.html", "forum.html", "home.html", "empty.html", "challenge.html"}) {
        SCOPED_TRACE(name);
        std::u16string url = std::u16string(kSite) + u"refuse/" + Utf8ToWide(name);
        std::u16string page = Page(url, "UTF-8");
        FoundChapterList list = FindChapterList(page, url);
        EXPECT_EQ(list.Chapters.count, 0);
        EXPECT_EQ(list.Confidence, 0);
        EXPECT_EQ(list.Refusal, kNoChapterListReason);
    }
    for (const char* name : {"empty.html", "challenge.html"}) {
        std::u16string url = std::u16string(kSite) + u"refuse/" + Utf8ToWide(name);
        FoundChapterText text = FindChapterText(Page(url, "UTF-8"), url, {});
        EXPECT_TRUE(text.Blocks.empty()) << name;
        EXPECT_EQ(text.Refusal, kNoChapterTextReason) << name;
    }
}

} // namespace
} // namespace velunor::finder
