// The site's markup of a chapter reduced to paragraphs and images, as the books show them.

#include "export/internal/markup_reduction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velunor::html {

// Shows a block when a comparison fails; found by argument-dependent lookup.
void PrintTo(const ChapterBlock& block, std::ostream* out);

} // namespace velunor::html

namespace velunor::internal {
namespace {

using Kind = TextBlock::Kind;

TextBlock P(std::u16string text) {
    return {Kind::Paragraph, std::move(text)};
}

TextBlock Img(std::u16string source) {
    return {Kind::Image, std::move(source)};
}

std::string Utf8(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\\u" + std::to_string(c);
    }
    return bytes;
}

struct ReductionCase {
    const char* what;
    std::u16string html;
    std::vector<TextBlock> blocks;
};

void PrintTo(const ReductionCase& c, std::ostream* out) {
    *out << c.what;
}

class ReductionTable : public ::testing::TestWithParam<ReductionCase> {};

TEST_P(ReductionTable, GivesTheParagraphsAReaderSees) {
    EXPECT_EQ(ReduceMarkup(GetParam().html), GetParam().blocks) << GetParam().what;
}

const ReductionCase kParagraphCases[] = {
    {"br runs end a paragraph, however many and however written",
     u"　　第一段。<br /><br />\r\n　　第二段。<BR><br/><br>第三段。",
     {P(u"第一段。"), P(u"第二段。"), P(u"第三段。")}},
    {"no-break space indents on a site without line breaks start paragraphs",
     u"&nbsp;&nbsp;&nbsp;&nbsp;甲说。&nbsp;&nbsp;&nbsp;&nbsp;乙说。&nbsp; &nbsp;丙说。",
     {P(u"甲说。"), P(u"乙说。"), P(u"丙说。")}},
    {"ideographic space indents start paragraphs too",
     u"　　甲。　　乙。",
     {P(u"甲。"), P(u"乙。")}},
    {"one no-break space is a space; one ideographic space stays as it is",
     u"第一章　归来&nbsp;之后",
     {P(u"第一章　归来 之后")}},
    {"white space collapses and is trimmed as a browser shows it",
     u"  \n\t甲   乙\r\n丙  ",
     {P(u"甲 乙 丙")}},
    {"block elements stand on lines of their own",
     u"<p>一</p><p>二</p><div>三<span>四</span></div>五<h3>六</h3><ul><li>七</li></ul>",
     {P(u"一"), P(u"二"), P(u"三四"), P(u"五"), P(u"六"), P(u"七")}},
    {"inline elements keep their text in the paragraph",
     u"<b>粗</b><i>斜</i><font color=red>红</font><a href=\"x.html\">链</a>",
     {P(u"粗斜红链")}},
    {"empty paragraphs vanish", u"<p></p><p> &nbsp; </p><br><div><br></div>", {}},
};
INSTANTIATE_TEST_SUITE_P(Paragraphs, ReductionTable, ::testing::ValuesIn(kParagraphCases));

const ReductionCase kDroppedCases[] = {
    {"scripts and styles, whatever they hold",
     u"甲<script type=\"text/javascript\">if (a < b && c > d) { document.write('<p>x</p>'); }"
     u"</script>乙<style>p { color: red; }</style>丙<SCRIPT>x</SCRIPT>",
     {P(u"甲乙丙")}},
    {"hidden elements with what they hold, nested ones included, as if never there",
     u"甲<div style=\"DISPLAY: none\">藏<div>更深</div>藏</div>乙<span hidden>藏</span>丙"
     u"<font style='visibility:hidden'>藏</font>丁<input type=\"hidden\" value=\"x\">",
     {P(u"甲乙丙丁")}},
    {"navigation elements and blocks marked as navigation",
     u"正文<nav><a href=1.html>上一章</a></nav><div class=\"bottom-nav\"><a>目录</a></div>"
     u"<div id=\"navbar\">导航</div>完",
     {P(u"正文"), P(u"完")}},
    {"links between chapters and to the contents, not other links",
     u"正文。<a href=\"1.html\">上一章</a> <a href=\"/\">【返回目录】</a> "
     u"<a href=\"3.html\">下一頁 →</a><a href=\"w.html\">维基</a>",
     {P(u"正文。 维基")}},
    {"a class word that only contains the letters of nav is no navigation",
     u"<span class=\"unavailable canvas\">留下</span>",
     {P(u"留下")}},
    {"comments, declarations and the library's own chapter end mark",
     u"甲<!-- 注释 <p>不算</p> -->乙<!DOCTYPE html><?xml version=\"1.0\"?>丙<!--/chapter_text-->",
     {P(u"甲乙丙")}},
    {"a hidden element that is never closed hides the rest, as in a browser",
     u"甲<div style=\"display:none\">乙<p>丙",
     {P(u"甲")}},
    {"a hidden paragraph ends where the next paragraph implies its end",
     u"<p style=\"display:none\">ad<p>第一段正文。<p>第二段正文。",
     {P(u"第一段正文。"), P(u"第二段正文。")}},
    {"a div implies the end of the hidden paragraph before it, so it shows",
     u"<p hidden>x<div>visible</div>",
     {P(u"visible")}},
};
INSTANTIATE_TEST_SUITE_P(Dropped, ReductionTable, ::testing::ValuesIn(kDroppedCases));

const ReductionCase kCharacterCases[] = {
    {"references are decoded once, named and numeric",
     u"A &amp; B &lt;i&gt; &quot;引&quot; &copy; &#20013;&#x6587; &#x1F600; &amp;lt;",
     {P(u"A & B <i> \"引\" © 中文 😀 &lt;")}},
    {"a bare & and a < that opens no tag are text",
     u"甲 & 乙 < 丙 &nosuch; 1<2 <<书名>>",
     {P(u"甲 & 乙 < 丙 &nosuch; 1<2 <<书名>>")}},
    {"characters outside the BMP and GBK stay whole", u"𠮷野家😀", {P(u"𠮷野家😀")}},
    {"control characters and noncharacters are dropped, written or referenced",
     std::u16string(u"甲\u0001乙\u001F丙\uFFFE丁") + u"&#1;",
     {P(u"甲乙丙丁")}},
    {"a lone surrogate (a byte no encoding read) shows as the replacement character",
     std::u16string(u"甲") + char16_t(0xDC81) + u"乙" + char16_t(0xD840),
     {P(u"甲\uFFFD乙\uFFFD")}},
};
INSTANTIATE_TEST_SUITE_P(Characters, ReductionTable, ::testing::ValuesIn(kCharacterCases));

const ReductionCase kImageCases[] = {
    {"images stand between the paragraphs where the text has them",
     u"图前<img src=\"images/3_1.png\" alt=\"图\">图后<IMG SRC='images/3_2.jpg'/>尾",
     {P(u"图前"), Img(u"images/3_1.png"), P(u"图后"), Img(u"images/3_2.jpg"), P(u"尾")}},
    {"an image address has its references decoded; one without an address is dropped",
     u"<img src=\"images/a&amp;b.png\"><img alt=\"x\"><img src=\"\">",
     {Img(u"images/a&b.png")}},
    {"a \">\" inside a quoted attribute does not end the tag",
     u"<img alt=\"a>b\" src=\"images/1_1.gif\">后",
     {Img(u"images/1_1.gif"), P(u"后")}},
};
INSTANTIATE_TEST_SUITE_P(Images, ReductionTable, ::testing::ValuesIn(kImageCases));

TEST(PlainText, JoinsParagraphsOfANameAndLeavesImagesOut) {
    EXPECT_EQ(PlainTextOf(u"第五章 甲&amp;乙<br>下<img src=\"images/x.png\">"), u"第五章 甲&乙 下");
    EXPECT_EQ(PlainTextOf(u"  "), u"");
}

} // namespace
} // namespace velunor::internal

void velunor::html::PrintTo(const ChapterBlock& block, std::ostream* out) {
    *out << (block.BlockKind == ChapterBlock::Kind::Image ? "Img(" : "P(")
         << internal::Utf8(block.Text) << ")";
}
