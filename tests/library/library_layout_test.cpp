#include "core/core.h"
#include "library/library_layout.h"
#include "support/temp_folder.h"
#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

namespace velunor {
namespace {

using testing::TempFolder;

const std::u16string kCell = u"<td width=\"50%\" height=\"30\" bgcolor=\"#FFFFFF\"><div "
                             u"style=\"margin-left:10px; color:#333333;\">";

TEST(ContentsTable, PairsChaptersIntoRowsAndClosesAnOddCount) {
    EXPECT_EQ(ContentsRow(1, ChapterPageName(1), u"序 <一> & 二", false) + ContentsClosingCell(),
              u"<tr>" + kCell + u"<a href=\"1.html\">序 <一> & 二</a></td>" +
                  u"<td width=\"50%\" height=\"30\" bgcolor=\"#FFFFFF\"></td></tr>");
    std::u16string rows;
    for (int n = 1; n <= 4; ++n) {
        rows += ContentsRow(n, ChapterPageName(n), u"章", false);
    }
    EXPECT_EQ(rows.find(u"<tr>"), 0u);
    EXPECT_EQ(rows.size() - rows.rfind(u"</tr>"), 5u);
    size_t secondRow = rows.find(u"</tr><tr>");
    ASSERT_NE(secondRow, std::u16string::npos);
    EXPECT_NE(rows.find(u"<a href=\"2.html\">"), std::u16string::npos);
    EXPECT_LT(rows.find(u"<a href=\"2.html\">"), secondRow);
    EXPECT_GT(rows.find(u"<a href=\"3.html\">"), secondRow);
    EXPECT_EQ(rows.find(ContentsClosingCell()), std::u16string::npos);
}

TEST(ChapterLinks, PagesAreNamedAfterTheirNumber) {
    EXPECT_EQ(ChapterPageName(1234), u"1234.html");
}

TEST(ChapterLinks, TheNextChapterIsFoundFromAChapterPage) {
    EXPECT_EQ(NextChapterPageFile(u"/p/Novel/站/书/7.html"), u"/p/Novel/站/书/8.html");
    EXPECT_EQ(NextChapterPageFile(u"/p/Novel/站/书/99.html"), u"/p/Novel/站/书/100.html");
    EXPECT_EQ(NextChapterPageFile(u"/p/Novel/站/书/ContentsPage.html"), u"");
    EXPECT_EQ(NextChapterPageFile(u"/p/Novel/站/书/.html"), u"");
    EXPECT_EQ(NextChapterPageFile(u"/p/Novel/站/书/7.htm"), u"");
    EXPECT_EQ(NextChapterPageFile(u"/p/Novel/站/书/1234567890.html"), u"");
    // The address is read back as the template holds it, escaped as the job wrote it.
    std::u16string page = u"<div id=\"rule_file_path\">/r.xml</div>\n<div id=\"chapter_url\">" +
                          HiddenFieldText(u"http://s/read.php?id=8&p=1") + u"</div>";
    EXPECT_EQ(RecordedChapterUrl(page), u"http://s/read.php?id=8&p=1");
    EXPECT_EQ(RecordedChapterUrl(u"<div id=\"chapter_url\">cut short"), u"");
    EXPECT_EQ(RecordedChapterUrl(u"<p>not a chapter page</p>"), u"");
}

// Paths are stored relative to the program folder, so a copied or moved folder keeps its
// library; absolute paths written before still lead to the pages of this program folder.
TEST(LibraryPaths, AreStoredRelativeAndResolvedWhereverTheProgramFolderIs) {
    TempFolder temp;
    const std::u16string p = temp.WidePath() + u"/";
    std::filesystem::create_directories(temp.File("Novel/站/书"));
    std::filesystem::create_directories(temp.File("Rule"));
    temp.Write("Novel/站/书/3.html", "x");
    temp.Write("Rule/a.xml", "<Channel/>");
    EXPECT_EQ(StoredLibraryPath(p, p + u"Novel/站/书/3.html"), u"站/书/3.html");
    EXPECT_EQ(ResolveLibraryPath(p, u"站/书/3.html"), p + u"Novel/站/书/3.html");
    EXPECT_EQ(StoredLibraryPath(p, u"/elsewhere/x.html"), u"/elsewhere/x.html");
    // A page of the old program folder maps to the same page here, when this folder has it.
    EXPECT_EQ(ResolveLibraryPath(p, u"/old/velunor/Novel/站/书/3.html"), p + u"Novel/站/书/3.html");
    EXPECT_EQ(ResolveLibraryPath(p, u"/old/velunor/Novel/站/书/4.html"),
              u"/old/velunor/Novel/站/书/4.html");
    EXPECT_EQ(ResolveLibraryPath(p, u"/old/Novel/x/../../etc/3.html"),
              u"/old/Novel/x/../../etc/3.html");
    // A relative path never leaves Novel/ unnoticed: the page checks still refuse it.
    EXPECT_FALSE(IsLibraryPage(p, ResolveLibraryPath(p, u"../../etc/passwd.html")));
    EXPECT_EQ(StoredRuleFile(p, p + u"Rule/a.xml"), u"a.xml");
    EXPECT_EQ(StoredRuleFile(p, u"/other/Rule/a.xml"), u"/other/Rule/a.xml");
    EXPECT_EQ(ResolveRuleFile(p, u"a.xml"), p + u"Rule/a.xml");
    EXPECT_EQ(ResolveRuleFile(p, u"/other/Rule/a.xml"), p + u"Rule/a.xml");
    EXPECT_EQ(ResolveRuleFile(p, u"/other/Rule/b.xml"), u"/other/Rule/b.xml");
    EXPECT_EQ(ResolveRuleFile(p, u".."), u"");
}

TEST(LibraryPaths, OnlyPagesAndNovelFoldersBelowNovelCount) {
    const std::u16string p = u"/opt/velunor/";
    EXPECT_EQ(NovelFolderPath(p, u"站", u"../../x"), u"/opt/velunor/Novel/站/.._.._x");
    EXPECT_TRUE(IsLibraryPage(p, u"/opt/velunor/Novel/站/书/1.html"));
    EXPECT_TRUE(IsLibraryPage(p, u"/opt/velunor/Novel/站/书/ContentsPage.html"));
    const char16_t* notPages[] = {u"",
                                  u"/opt/velunor/Novel/站/书/1.htm",
                                  u"/opt/velunor/Novel/站/1.html",
                                  u"/opt/velunor/Novel/站/书/images/1.html",
                                  u"/opt/velunor/Novel/站/../../../etc/x.html",
                                  u"/opt/velunor/Novel/站/../书/1.html",
                                  u"/opt/velunor/Novel/站//1.html",
                                  u"/opt/velunor/Config/1.html",
                                  u"/home/user/Novel/站/书/1.html",
                                  u"/opt/velunor/Novel/站/书/.html"};
    for (size_t i = 0; i < std::size(notPages); ++i) {
        EXPECT_FALSE(IsLibraryPage(p, notPages[i])) << "case " << i;
    }
    EXPECT_TRUE(IsNovelFolder(p, u"/opt/velunor/Novel/站/书"));
    EXPECT_FALSE(IsNovelFolder(p, u"/opt/velunor/Novel/站"));
    EXPECT_FALSE(IsNovelFolder(p, u"/opt/velunor/Novel/"));
    EXPECT_FALSE(IsNovelFolder(p, u"/opt/velunor/Novel/站/.."));
    EXPECT_FALSE(IsNovelFolder(p, u"/home/user"));
    EXPECT_FALSE(IsNovelFolder(u"", u"Novel/站/书"));
}

// The shipped chapter template must keep the contract the on-demand fetch relies on.
TEST(ShippedTemplates, ChapterTemplateHoldsTheHiddenFieldsBeforeAnySiteText) {
    std::u16string encoding(kPageEncoding);
    std::u16string page;
    ASSERT_TRUE(ReadPage(encoding, u"" VELUNOR_SOURCE_DATA "/Template/ContentPage.html", page));
    EXPECT_NE(page.find(u"上一章"), std::u16string::npos);
    size_t state = page.find(u"<div style=\"display:none;\" id=\"down_state\">{DownState}</div>");
    ASSERT_NE(state, std::u16string::npos);
    for (const char16_t* field : {u"<div id=\"rule_file_path\">{RuleFilePath}</div>",
                                  u"<div id=\"chapter_url\">{ChapterUrl}</div>",
                                  u"<div id=\"chapter_save_file\">{ChapterSaveFile}</div>"}) {
        size_t at = page.find(field);
        ASSERT_NE(at, std::u16string::npos);
        EXPECT_LT(at, state);
    }
    // Site text (names, chapter text) only comes after every hidden field.
    for (std::u16string_view siteText :
         {kChapterContentPlaceholder, kChapterNamePlaceholder, kNovelNamePlaceholder}) {
        EXPECT_GT(page.find(siteText), state);
    }
    EXPECT_EQ(page.find(u"{ChapterContent}"), page.rfind(u"{ChapterContent}"));
    EXPECT_NE(page.find(u"{NextChapterUrl}"), page.rfind(u"{NextChapterUrl}"));
    EXPECT_NE(page.find(u"href=\"app:rest_down\""), std::u16string::npos);
    std::u16string contents;
    ASSERT_TRUE(
        ReadPage(encoding, u"" VELUNOR_SOURCE_DATA "/Template/ContentsPage.html", contents));
    EXPECT_NE(contents.find(u"<table"), std::u16string::npos);
    EXPECT_LT(contents.find(u"<table"), contents.find(u"{Contents}"));
}

// Pages are written as GB18030 bytes; a browser shows the characters outside GBK only when the
// page says so, and the waiting page is shown straight from its template.
TEST(ShippedTemplates, DeclareTheEncodingPagesAreWrittenIn) {
    const std::u16string label = u"charset=" + std::u16string(kPageCharsetLabel);
    for (const char* name : {"ContentPage.html", "ContentsPage.html", "wait.html"}) {
        SCOPED_TRACE(name);
        std::u16string encoding(kPageEncoding);
        std::u16string page;
        ASSERT_TRUE(
            ReadPage(encoding, u"" VELUNOR_SOURCE_DATA "/Template/" + AnsiToWide(name), page));
        EXPECT_NE(page.find(label), std::u16string::npos);
        EXPECT_EQ(page.find(label), page.rfind(u"charset="));
    }
}

// A page as Velunor wrote it before pages declared gb18030, and the chapter text that the
// reload link or a chapter task later puts into it.
const std::u16string kEarlierHead =
    u"<!DOCTYPE html><html><head><META http-equiv=\"Content-Type\" content=\"text/html; "
    u"CHARSET = GB2312\"><meta charset='gbk'/><title>星河渡</title></head>";
const std::u16string kBody = u"<body><h1>第二章 𠮷字碑</h1>{ChapterContent}</body></html>";
const std::u16string kChapterText =
    u"碑上只刻着一个字：𠮷😀<pre>&lt;meta charset=gbk&gt;<meta charset=\"gbk\"></pre>";

TEST(PageCharset, RewrittenPagesDeclareGb18030AndKeepEveryCharacter) {
    TempFolder folder;
    const std::u16string path = folder.WideFile("2.html");
    std::u16string oldEncoding = u"GB2312";
    ASSERT_TRUE(
        CXmlDocument::WriteWideAsText(kEarlierHead + kBody, path, nullptr, nullptr, &oldEncoding));

    // Read back through the page encoding exactly as before, declaration included.
    std::u16string encoding(kPageEncoding);
    std::u16string page;
    ASSERT_TRUE(ReadPage(encoding, path, page));
    EXPECT_EQ(page, kEarlierHead + kBody);

    ReplaceAll(page, kChapterContentPlaceholder, kChapterText);
    ASSERT_TRUE(WritePage(encoding, path, page));
    const std::string bytes = folder.Read("2.html");
    // Every label in the head now names what the bytes are; the chapter text, markup that
    // looks like a declaration included, stays exactly as the site sent it.
    const std::u16string rewrittenHead =
        u"<!DOCTYPE html><html><head><META http-equiv=\"Content-Type\" content=\"text/html; "
        u"CHARSET = gb18030\"><meta charset='gb18030'/><title>星河渡</title></head>";
    std::u16string expected = kBody;
    ReplaceAll(expected, kChapterContentPlaceholder, kChapterText);
    std::u16string reread;
    ASSERT_TRUE(ReadPage(encoding, path, reread));
    EXPECT_EQ(reread, rewrittenHead + expected);
    // 𠮷 and 😀 as their four-byte GB18030 sequences, not "?".
    EXPECT_NE(bytes.find("\x95\x34\xB2\x35\x94\x39\xFC\x36"), std::string::npos);
    EXPECT_EQ(bytes.find('?'), std::string::npos);

    // Writing the page again changes nothing.
    ASSERT_TRUE(WritePage(encoding, path, reread));
    EXPECT_EQ(folder.Read("2.html"), bytes);
}

} // namespace
} // namespace velunor
