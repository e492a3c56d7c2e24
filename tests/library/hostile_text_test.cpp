// Sites that send what no text should hold: NULs, control characters, unpaired surrogates and
// the noncharacters U+FFFE and U+FFFF, in chapter texts, novel names and chapter names. The text
// around them is kept, and every XML file the download writes stays well-formed.

#include "library_fixture.h"

#include "cli/console_port.h"
#include "support/xml_well_formed.h"

#include <gtest/gtest.h>

#include <fstream>

namespace velunor::testing {
namespace {

const std::u16string kSite = u"乱码站";

// A site folder the tests write their pages into while the server runs; it is there before the
// server starts, which serves the folders it finds then.
struct HostileSiteFolder {
    HostileSiteFolder() {
        std::filesystem::create_directories(root.File("hostile"));
    }
    TempFolder root;
};

class HostileText : public HostileSiteFolder, public LibraryFixture {
  protected:
    HostileText() : LibraryFixture(root.Path()) {}

    // A rule for the site in `charset` whose chapter text is what `contentPattern` captures.
    std::u16string InstallHostileRule(const std::string& charset,
                                      const std::string& contentPattern) {
        std::string rule =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Channel>\n<SiteName>乱码站</SiteName>\n"
            "<SiteUrl>" +
            site_.BaseUrl() + "/hostile/</SiteUrl>\n<Charset>" + charset +
            "</Charset>\n<InfoPage>\n<NovelName><![CDATA[<h1>(.*?)</h1>]]></NovelName>\n"
            "<NovelAuthor><![CDATA[<p>作者：(.*?)</p>]]></NovelAuthor>\n"
            "<ContentsUrl><![CDATA[<a id=\"list\" href=\"(.*?)\">]]></ContentsUrl>\n</InfoPage>\n"
            "<ContentsPage>\n<ContentsRegional><![CDATA[<ul id=\"chapters\">(.*?)</ul>]]>"
            "</ContentsRegional>\n<ChapterName><![CDATA[<li><a href=\"[^\"]*\">(.*?)</a>]]>"
            "</ChapterName>\n<ChapterUrl><![CDATA[<li><a href=\"(.*?)\">]]></ChapterUrl>\n"
            "</ContentsPage>\n<ContentPage>\n<ChapterContent><![CDATA[<div id=\"text\">" +
            contentPattern + "</div>]]></ChapterContent>\n</ContentPage>\n</Channel>\n";
        temp_.Write("Rule/hostile.xml", rule);
        return temp_.WideFile("Rule/hostile.xml");
    }

    // Writes the site's page `name`: `before`, the raw bytes `inserted`, then `after`, the texts
    // in `charset` ("GB18030" or "UTF-8").
    void WritePage(const std::string& name, const char* charset, std::u16string_view before,
                   const std::string& inserted, std::u16string_view after) {
        std::string head;
        std::string tail;
        ASSERT_TRUE(EncodeCharset(before, charset, head));
        ASSERT_TRUE(EncodeCharset(after, charset, tail));
        std::ofstream(root.File("hostile/" + name), std::ios::binary) << head << inserted << tail;
    }

    // A one-chapter novel whose name, chapter name and chapter text each hold `inserted` (raw
    // bytes in the site's charset) where the tests look for it; `where` says which of the three.
    enum Where { InName = 1, InChapterName = 2, InText = 4 };
    void WriteNovel(const char* charset, const std::string& inserted, int where) {
        auto bytes = [&](Where part) { return (where & part) != 0 ? inserted : std::string(); };
        WritePage("book.html", charset, u"<html><h1>甲", bytes(InName),
                  u"乙</h1><p>作者：某</p><a id=\"list\" href=\"list.html\">目录</a></html>");
        WritePage("list.html", charset, u"<ul id=\"chapters\"><li><a href=\"c1.html\">第一章",
                  bytes(InChapterName), u"开端</a></li></ul>");
        WritePage("c1.html", charset, u"<div id=\"text\">夜深", bytes(InText),
                  u"人静，灯火未熄。</div>");
    }

    void DownloadHostile(const std::u16string& rule) {
        // A port of its own for each download, so that each starts as a fresh window would.
        RecordingPort port;
        Download({{kSite, rule, u"甲乙", u"某", site_.Url("/hostile/book.html")}}, 0, port);
    }

    // Every XML file the download wrote is well-formed.
    void ExpectWellFormedFiles(const std::u16string& folder) {
        EXPECT_TRUE(IsWellFormedXmlFile(program_ + u"Config/BookShelf.xml"));
        EXPECT_TRUE(IsWellFormedXmlFile(NovelIndexPath(folder)));
    }
};

// A NUL in a chapter's text is dropped and the text after it kept, whichever charset the site
// writes and whether the rule's pattern stops at a "<" or matches lazily up to the end tag.
TEST_F(HostileText, ChapterTextKeepsWhatFollowsANul) {
    for (const char* charset : {"GB18030", "UTF-8"}) {
        for (const char* pattern : {"([^<]*)", "(.*?)"}) {
            SCOPED_TRACE(std::string(charset) + " " + pattern);
            std::filesystem::remove_all(temp_.File("Novel"));
            std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
            WriteNovel(charset, std::string(1, '\0'), InText);
            DownloadHostile(
                InstallHostileRule(charset == std::string("UTF-8") ? "UTF-8" : "GBK", pattern));
            std::u16string folder = NovelFolder(kSite, u"甲乙");
            std::u16string page = ReadPageText(folder + u"/1.html");
            EXPECT_EQ(cli::FindElementInnerHtml(page, u"down_state"), u"1");
            EXPECT_EQ(ShownChapterText(page), u"夜深人静，灯火未熄。");
            NovelIndex index;
            ASSERT_TRUE(LoadNovelIndex(folder, index));
            ASSERT_EQ(index.Chapters.size(), 1u);
            EXPECT_EQ(index.Chapters[0].State, ChapterState::Stored);
        }
    }
}

// One character of each kind XML 1.0 cannot hold, and the C1 controls it can.
struct HostileCharacter {
    const char* label;
    std::u16string text;
    // What stays of it in an XML file.
    std::u16string kept;
};

const HostileCharacter kHostileCharacters[] = {
    {"NUL", std::u16string(1, u'\0'), u""},
    {"U+0001", u"\x01", u""},
    {"U+001F", u"\x1f", u""},
    {"U+007F", u"\x7f", u"\x7f"},
    {"U+0085", u"\x85", u"\x85"},
    {"U+009F", u"\x9f", u"\x9f"},
    {"lone high surrogate", u"\xd800", u"\xfffd"},
    {"escaped byte", u"\xdc80", u"\xfffd"},
    {"U+FFFE", u"\xfffe", u""},
    {"U+FFFF", u"\xffff", u""},
};

// Whatever a name holds, the shelf and the chapter index written with it are well-formed and
// read back with every character XML can hold.
TEST_F(HostileText, ShelfAndIndexStayWellFormedWhateverANameHolds) {
    std::u16string folder = NovelFolder(kSite, u"甲乙");
    ASSERT_TRUE(CreateFolderPath(folder));
    for (const HostileCharacter& c : kHostileCharacters) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
        std::u16string name = u"甲" + c.text + u"乙";
        BookEntry entry{kSite + c.text, name, folder + u"/ContentsPage.html", gbkRule_,
                        u"http://example.com/" + c.text};
        ASSERT_TRUE(AddBook(port_, program_, entry));
        NovelIndex written;
        written.RuleFile = u"novel-gbk.xml";
        written.SiteName = kSite;
        written.NovelName = name;
        written.Chapters.push_back(
            {1, u"第一章" + c.text + u"开端", u"c1.html", ChapterState::Failed, u"因为" + c.text});
        ASSERT_TRUE(SaveNovelIndex(folder, written));
        ExpectWellFormedFiles(folder);
        std::vector<BookEntry> shelf = ReadBookShelf(program_);
        ASSERT_EQ(shelf.size(), 1u);
        EXPECT_EQ(shelf[0].TargetSite, kSite + c.kept);
        EXPECT_EQ(shelf[0].NovelName, u"甲" + c.kept + u"乙");
        NovelIndex read;
        ASSERT_TRUE(LoadNovelIndex(folder, read));
        EXPECT_EQ(read.NovelName, u"甲" + c.kept + u"乙");
        ASSERT_EQ(read.Chapters.size(), 1u);
        EXPECT_EQ(read.Chapters[0].Name, u"第一章" + c.kept + u"开端");
        EXPECT_EQ(read.Chapters[0].Reason, u"因为" + c.kept);
    }
}

// A site's page that holds such characters in the novel's and the chapter's names: the novel is
// stored and listed, every file stays well-formed, and the pages show the names as the files
// list them. A byte the site's charset cannot read stays in the pages, which keep the site's
// bytes, and is U+FFFD in the XML files.
TEST_F(HostileText, NovelWithHostileNamesIsStoredListedAndWellFormed) {
    struct Case {
        const char* label;
        const char* charset;
        std::string bytes;
        std::u16string inXml;
        std::u16string inPage;
    };
    const Case cases[] = {
        {"NUL", "UTF-8", std::string(1, '\0'), u"", u""},
        {"U+0001", "GB18030", "\x01", u"", u""},
        {"U+001F", "UTF-8", "\x1f", u"", u""},
        {"U+0085", "UTF-8", "\xc2\x85", u"\x85", u"\x85"},
        {"bad byte", "GB18030", "\x80", u"\xfffd", u"\xdc80"},
        {"U+FFFE", "UTF-8", "\xef\xbf\xbe", u"", u""},
        {"U+FFFF", "GB18030", "\x84\x31\xa4\x39", u"", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label) + " " + c.charset);
        std::filesystem::remove_all(temp_.File("Novel"));
        std::filesystem::remove(temp_.File("Config/BookShelf.xml"));
        WriteNovel(c.charset, c.bytes, InName | InChapterName);
        bool utf8 = c.charset == std::string("UTF-8");
        DownloadHostile(InstallHostileRule(utf8 ? "UTF-8" : "GBK", "(.*?)"));
        std::vector<BookEntry> shelf = ReadBookShelf(program_);
        ASSERT_EQ(shelf.size(), 1u);
        EXPECT_EQ(shelf[0].NovelName, u"甲" + c.inXml + u"乙");
        std::u16string folder = NovelFolderOfContentsPage(shelf[0].ContentsPagePath);
        ExpectWellFormedFiles(folder);
        NovelIndex index;
        ASSERT_TRUE(LoadNovelIndex(folder, index));
        ASSERT_EQ(index.Chapters.size(), 1u);
        EXPECT_EQ(index.Chapters[0].Name, u"第一章" + c.inXml + u"开端");
        EXPECT_EQ(index.Chapters[0].State, ChapterState::Stored);
        std::u16string contents = ReadPageText(folder + u"/ContentsPage.html");
        EXPECT_NE(contents.find(u">第一章" + c.inPage + u"开端<"), std::u16string::npos);
        EXPECT_NE(contents.find(u"<h1>甲" + c.inPage + u"乙</h1>"), std::u16string::npos);
        std::u16string chapter = ReadPageText(folder + u"/1.html");
        EXPECT_NE(chapter.find(u"第一章" + c.inPage + u"开端"), std::u16string::npos);
        EXPECT_EQ(ShownChapterText(chapter), u"夜深人静，灯火未熄。");
    }
}

} // namespace
} // namespace velunor::testing
