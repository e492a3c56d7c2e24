// Novels of the library exported as EPUB 3 books: what epubcheck says of them, and what they
// hold.

#include "export/export.h"
#include "export_fixture.h"

#include <algorithm>
#include <regex>

namespace velunor::testing {
namespace {

// The texts of the elements `name` of `xml`, in order, as written (references not decoded).
std::vector<std::string> ElementTexts(const std::string& xml, const std::string& name) {
    std::vector<std::string> texts;
    std::regex element("<" + name + "(?: [^>]*)?>([^<]*)</" + name + ">");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), element);
         it != std::sregex_iterator(); ++it) {
        texts.push_back((*it)[1]);
    }
    return texts;
}

// The values of the attribute `attribute` of every element `name` of `xml`, in order.
std::vector<std::string> AttributeValues(const std::string& xml, const std::string& name,
                                         const std::string& attribute) {
    std::vector<std::string> values;
    std::regex element("<" + name + " [^>]*" + attribute + "=\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), element);
         it != std::sregex_iterator(); ++it) {
        values.push_back((*it)[1]);
    }
    return values;
}

class EpubExport : public ExportFixture {
  protected:
    ExportResult Export(const std::u16string& folder, const std::string& file,
                        ChineseConversion conversion = ChineseConversion::None) {
        ExportOptions options;
        options.Format = ExportFormat::Epub;
        options.Conversion = conversion;
        return ExportNovel(folder, OutFile(file), options);
    }
};

TEST_F(EpubExport, ARichNovelPassesEpubCheckAndSaysWhatIsMissing) {
    const std::u16string folder = WriteNovel(RichNovel());
    ExportResult result = Export(folder, "rich.epub");
    ASSERT_TRUE(result.Ok) << WideToUtf8(result.Error);
    EXPECT_EQ(result.Chapters, 6);
    EXPECT_EQ(result.Failed, 2);
    EXPECT_EQ(result.Pending, 1);
    // The WebP image, the one missing from images/ and the one still on the site.
    EXPECT_EQ(result.ImagesLeftOut, 3);

    EpubCheckReport check = RunEpubCheck(temp_.File("out/rich.epub"));
    EXPECT_TRUE(check.clean) << check.output;

    std::vector<ArchiveFile> files = ReadArchive(temp_.File("out/rich.epub"));
    ASSERT_FALSE(files.empty());
    // Readers tell an EPUB by its first bytes: a stored "mimetype" entry with no extra field.
    std::string bytes = temp_.Read("out/rich.epub");
    EXPECT_EQ(bytes.substr(0, 4), "PK\x03\x04");
    EXPECT_EQ(bytes.substr(8, 2), std::string("\0\0", 2)) << "mimetype is compressed";
    EXPECT_EQ(bytes.substr(26, 4), std::string("\x08\0\0\0", 4)) << "name length, extra field";
    EXPECT_EQ(bytes.substr(30, 28), "mimetypeapplication/epub+zip");

    const std::string first = ArchiveData(files, "OEBPS/text/c0001.xhtml");
    EXPECT_EQ(ElementTexts(first, "h2"), std::vector<std::string>{"第一章　𠮷日"});
    EXPECT_EQ(ElementTexts(first, "p"),
              (std::vector<std::string>{"𠮷野家的老板笑了😀。",
                                        "A &amp; B &lt; C，&amp;、&lt;签&gt;、©、😀。", "第三段"}));
    for (const char* dropped : {"脚本", "var s", "隐藏文字", "下一章", "&nbsp;", "<br"}) {
        EXPECT_EQ(first.find(dropped), std::string::npos) << dropped;
    }
    EXPECT_EQ(ElementTexts(ArchiveData(files, "OEBPS/text/c0003.xhtml"), "p"),
              std::vector<std::string>{"本章未能下载（目标站返回状态码 404）。"});
    EXPECT_EQ(ElementTexts(ArchiveData(files, "OEBPS/text/c0004.xhtml"), "h2"),
              std::vector<std::string>{"第四章 A&amp;B &lt;终&gt;"});
    EXPECT_EQ(ElementTexts(ArchiveData(files, "OEBPS/text/c0005.xhtml"), "p"),
              std::vector<std::string>{"本章尚未下载。"});
    EXPECT_EQ(ElementTexts(ArchiveData(files, "OEBPS/text/c0006.xhtml"), "p"),
              std::vector<std::string>{"本章未能下载（未找到正文）。"});
}

// The entries of a table of contents as an outline: the label of each entry (the text of
// `label`), "[" where a nested list opens and "]" where it closes (`open` and `close`).
std::vector<std::string> Outline(const std::string& xml, const std::string& label,
                                 const std::string& open, const std::string& close) {
    std::vector<std::string> outline;
    std::regex token("<" + label + "(?: [^>]*)?>([^<]*)</" + label + ">|(" + open + ")|(" + close +
                     ")");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), token);
         it != std::sregex_iterator(); ++it) {
        outline.push_back((*it)[2].matched ? "[" : (*it)[3].matched ? "]" : (*it)[1].str());
    }
    return outline;
}

// The chapters follow the site's order, each under the volume it was listed under: a volume's
// title page opens its chapters in the reading order, and both tables of contents nest them in
// its entry; a volume without chapters is an entry of its own.
TEST_F(EpubExport, ChaptersFollowTheSitesOrderUnderTheirVolumesInSpineNavigationAndNcx) {
    ASSERT_TRUE(Export(WriteNovel(RichNovel()), "order.epub").Ok);
    std::vector<ArchiveFile> files = ReadArchive(temp_.File("out/order.epub"));
    const std::string package = ArchiveData(files, "OEBPS/content.opf");
    EXPECT_EQ(AttributeValues(package, "itemref", "idref"),
              (std::vector<std::string>{"title", "v0001", "v0002", "c0001", "c0002", "c0003",
                                        "v0003", "c0004", "c0005", "c0006", "v0004"}));
    EXPECT_EQ(ElementTexts(ArchiveData(files, "OEBPS/text/v0002.xhtml"), "h1"),
              std::vector<std::string>{"第一卷 春&amp;夜"});
    const std::vector<std::string> outline = {"作品相关",    "第一卷 春&amp;夜",
                                              "[",           "第一章　𠮷日",
                                              "第二章 图",   "第三章 失败",
                                              "]",           "第二卷 江上",
                                              "[",           "第四章 A&amp;B &lt;终&gt;",
                                              "第五章 未完", "第六章 空章",
                                              "]",           "后记（待续）"};
    const std::string navigation = ArchiveData(files, "OEBPS/nav.xhtml");
    std::vector<std::string> navigationOutline = Outline(navigation, "a", "<ol>", "</ol>");
    ASSERT_FALSE(navigationOutline.empty());
    // The list of the whole table.
    EXPECT_EQ(navigationOutline.front(), "[");
    EXPECT_EQ(navigationOutline.back(), "]");
    EXPECT_EQ(std::vector<std::string>(navigationOutline.begin() + 1, navigationOutline.end() - 1),
              outline);
    EXPECT_EQ(AttributeValues(navigation, "a", "href").front(), "text/v0001.xhtml");
    EXPECT_EQ(AttributeValues(navigation, "a", "href")[2], "text/c0001.xhtml");
    const std::string ncx = ArchiveData(files, "OEBPS/toc.ncx");
    std::string navMap = ncx.substr(ncx.find("<navMap>"));
    // A navPoint is a list of its own: it opens with its label and closes after what it holds.
    std::vector<std::string> expected;
    for (size_t i = 0; i < outline.size(); ++i) {
        bool nests = i + 1 < outline.size() && outline[i + 1] == "[";
        if (outline[i] == "[") {
            continue;
        }
        expected.push_back(outline[i] == "]" ? "]" : outline[i]);
        if (outline[i] != "]" && !nests) {
            expected.push_back("]");
        }
    }
    std::vector<std::string> ncxOutline =
        Outline(navMap, "text", "<navPoint [^>]*>", "</navPoint>");
    ncxOutline.erase(std::remove(ncxOutline.begin(), ncxOutline.end(), "["), ncxOutline.end());
    EXPECT_EQ(ncxOutline, expected);
    std::vector<std::string> orders = AttributeValues(ncx, "navPoint", "playOrder");
    ASSERT_EQ(orders.size(), 10u);
    for (size_t i = 0; i < orders.size(); ++i) {
        EXPECT_EQ(orders[i], std::to_string(i + 1));
    }
    EXPECT_NE(ncx.find("<meta name=\"dtb:depth\" content=\"2\"/>"), std::string::npos);
}

TEST_F(EpubExport, ImagesGoInOnceWithTheirMediaTypesWhereTheTextShowsThem) {
    ASSERT_TRUE(Export(WriteNovel(RichNovel()), "images.epub").Ok);
    std::vector<ArchiveFile> files = ReadArchive(temp_.File("out/images.epub"));
    const std::string package = ArchiveData(files, "OEBPS/content.opf");
    EXPECT_NE(package.find("href=\"images/0001.png\" media-type=\"image/png\""), std::string::npos);
    EXPECT_NE(package.find("href=\"images/0002.jpg\" media-type=\"image/jpeg\""),
              std::string::npos);
    EXPECT_NE(package.find("href=\"images/0003.gif\" media-type=\"image/gif\""), std::string::npos);
    EXPECT_EQ(Occurrences(package, "media-type=\"image/"), 3u);
    EXPECT_EQ(ArchiveData(files, "OEBPS/images/0001.png"), FixtureBytes("picture.png"));
    EXPECT_EQ(ArchiveData(files, "OEBPS/images/0002.jpg"), FixtureBytes("picture.jpg"));
    EXPECT_EQ(ArchiveData(files, "OEBPS/images/0003.gif"), FixtureBytes("picture.gif"));

    // Each image stands between the paragraphs it stood between in the page.
    const std::string second = ArchiveData(files, "OEBPS/text/c0002.xhtml");
    std::string body = second.substr(second.find("<h2>"));
    std::regex blocks("<p>([^<]*)</p>|<img src=\"([^\"]*)\"");
    std::vector<std::string> order;
    for (auto it = std::sregex_iterator(body.begin(), body.end(), blocks);
         it != std::sregex_iterator(); ++it) {
        order.push_back((*it)[1].matched ? (*it)[1].str() : "img " + (*it)[2].str());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"图前文字", "img ../images/0001.png", "图中",
                                               "img ../images/0002.jpg", "img ../images/0003.gif",
                                               "图后"}));
    EXPECT_NE(ArchiveData(files, "OEBPS/text/c0004.xhtml").find("<img src=\"../images/0001.png\""),
              std::string::npos);
}

TEST_F(EpubExport, MetadataNamesTheNovelItsSiteAndAStableIdentifier) {
    const std::u16string folder = WriteNovel(RichNovel());
    ASSERT_TRUE(Export(folder, "a.epub").Ok);
    ASSERT_TRUE(Export(folder, "b.epub").Ok);
    TestNovel other = RichNovel();
    other.name = u"另一本";
    other.infoUrl = u"http://127.0.0.1:8000/book/2/";
    ASSERT_TRUE(Export(WriteNovel(other), "c.epub").Ok);

    auto packageOf = [&](const std::string& name) {
        return ArchiveData(ReadArchive(temp_.File("out/" + name)), "OEBPS/content.opf");
    };
    const std::string package = packageOf("a.epub");
    EXPECT_EQ(ElementTexts(package, "dc:title"), std::vector<std::string>{"春江夜话"});
    EXPECT_EQ(ElementTexts(package, "dc:creator"), std::vector<std::string>{"江上客"});
    EXPECT_EQ(ElementTexts(package, "dc:language"), std::vector<std::string>{"zh"});
    EXPECT_EQ(ElementTexts(package, "dc:publisher"), std::vector<std::string>{"演示书库"});
    EXPECT_EQ(ElementTexts(package, "dc:description"),
              std::vector<std::string>{"江南春夜，&lt;一段&gt;往事。\n第二段简介 &amp; 更多。"});
    std::vector<std::string> modified = ElementTexts(package, "meta");
    ASSERT_EQ(modified.size(), 1u);
    EXPECT_TRUE(std::regex_match(modified[0], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
        << modified[0];

    std::vector<std::string> identifier = ElementTexts(package, "dc:identifier");
    ASSERT_EQ(identifier.size(), 1u);
    EXPECT_TRUE(std::regex_match(
        identifier[0],
        std::regex("urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-8[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << identifier[0];
    EXPECT_EQ(ElementTexts(packageOf("b.epub"), "dc:identifier"), identifier)
        << "a second export of the same novel is the same book";
    EXPECT_NE(ElementTexts(packageOf("c.epub"), "dc:identifier"), identifier);
    const std::string ncx = ArchiveData(ReadArchive(temp_.File("out/a.epub")), "OEBPS/toc.ncx");
    EXPECT_NE(ncx.find("<meta name=\"dtb:uid\" content=\"" + identifier[0] + "\"/>"),
              std::string::npos);
}

TEST_F(EpubExport, ConvertedToTraditionalCharactersItStillPassesEpubCheck) {
    TestNovel novel;
    novel.name = u"后来的发展";
    novel.author = u"无名氏";
    novel.chapters = {{u"第一章 后来的发展", u"后来的发展出乎意料。<br>这里的头发很长。"}};
    ASSERT_TRUE(
        Export(WriteNovel(novel), "s2t.epub", ChineseConversion::SimplifiedToTraditional).Ok);
    EpubCheckReport check = RunEpubCheck(temp_.File("out/s2t.epub"));
    EXPECT_TRUE(check.clean) << check.output;

    std::vector<ArchiveFile> files = ReadArchive(temp_.File("out/s2t.epub"));
    EXPECT_EQ(ElementTexts(ArchiveData(files, "OEBPS/content.opf"), "dc:title"),
              std::vector<std::string>{"後來的發展"});
    const std::string chapter = ArchiveData(files, "OEBPS/text/c0001.xhtml");
    EXPECT_EQ(ElementTexts(chapter, "h2"), std::vector<std::string>{"第一章 後來的發展"});
    EXPECT_EQ(ElementTexts(chapter, "p"),
              (std::vector<std::string>{"後來的發展出乎意料。", "這裏的頭髮很長。"}));
    EXPECT_EQ(ElementTexts(ArchiveData(files, "OEBPS/nav.xhtml"), "h1"),
              std::vector<std::string>{"目錄"});
}

TEST_F(EpubExport, ANovelWithoutIndexAuthorOrIntroductionIsReadFromItsPages) {
    TestNovel novel;
    novel.name = u"旧书";
    novel.author = u"";
    novel.site = u"";
    novel.chapters = {{u"甲", u"第一页正文。"}, {u"乙", u"第二页正文。"}};
    const std::u16string folder = WriteNovel(novel);
    std::filesystem::remove(NativePath(NovelIndexPath(folder)));
    ExportResult result = Export(folder, "old.epub");
    ASSERT_TRUE(result.Ok) << WideToUtf8(result.Error);
    EXPECT_EQ(result.Chapters, 2);
    EpubCheckReport check = RunEpubCheck(temp_.File("out/old.epub"));
    EXPECT_TRUE(check.clean) << check.output;
    std::vector<ArchiveFile> files = ReadArchive(temp_.File("out/old.epub"));
    // Without an index the chapters have no names but their places.
    EXPECT_EQ(ElementTexts(ArchiveData(files, "OEBPS/nav.xhtml"), "a"),
              (std::vector<std::string>{"第1章", "第2章"}));
    EXPECT_EQ(ElementTexts(ArchiveData(files, "OEBPS/text/c0002.xhtml"), "p"),
              std::vector<std::string>{"第二页正文。"});
}

} // namespace
} // namespace velunor::testing
