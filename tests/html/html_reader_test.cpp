// The HTML reader: the tree a browser builds, what a reader sees of it, and where things stand in
// the source text.

#include "html/html.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velunor::html {
namespace {

std::string Shown(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\\u" + std::to_string(c);
    }
    return bytes;
}

// The parts of `text` that `spans` mark.
std::vector<std::u16string> Marked(std::u16string_view text, const std::vector<SourceSpan>& spans) {
    std::vector<std::u16string> parts;
    for (const SourceSpan& span : spans) {
        parts.emplace_back(text.substr(span.Start, span.Length));
    }
    return parts;
}

// A page and the text that is wanted of it.
struct TextCase {
    const char* what;
    std::u16string page;
    std::u16string text;
};

TEST(VisibleText, FollowsTheTreeABrowserBuildsAndShowsOnlyWhatAReaderSees) {
    const TextCase cases[] = {
        {"title, script, style, noscript, template and comments show nothing",
         u"<title>T</title><b>AAA</b><script>x();</script><p>BBB</p><style>p{}</style>"
         u"<noscript>N</noscript><template>M</template><!-- C -->",
         u"AAA\nBBB"},
        {"a title in the body shows nothing either", u"<body>甲<title>T</title>乙", u"甲乙"},
        {"a hidden paragraph ends where the next one begins",
         u"<p style=\"display:none\">ad<p>第一段。<p>第二段。", u"第一段。\n第二段。"},
        {"a div implies the end of the hidden paragraph before it",
         u"<p hidden>x<div>visible</div>", u"visible"},
        {"style written in any case and spacing; visibility:hidden too",
         u"甲<span STYLE=\"Display : None\">藏</span>乙<i style='visibility:hidden'>藏</i>丙",
         u"甲乙丙"},
        {"misnested tags keep their text in order", u"<b>粗<i>斜</b>体</i>", u"粗斜体"},
        {"text misplaced in a table stands before it, as a browser shows it",
         u"<table><tr><td>格</td></tr>前</table>", u"前\n格"},
        {"blocks, br and indents break lines; other white space is one space",
         u"<div>一  二</div>三<br>四&nbsp;&nbsp;五\n六", u"一 二\n三\n四\n五 六"},
        {"control characters and noncharacters show nothing, written or referenced",
         std::u16string(u"甲\u0001乙\u0085丙\uFFFE丁") + u"&#1;", u"甲乙丙丁"},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(Shown(VisibleText(c.page)), Shown(c.text)) << c.what;
    }
}

TEST(PageTitle, IsTheTitleTextCollapsed) {
    EXPECT_EQ(PageTitle(u"<head><title>\n 雾港 \t灯语 </title></head><p>正文"), u"雾港 灯语");
    EXPECT_EQ(PageTitle(u"<p>无题</p><svg><title>图</title></svg>"), u"");
}

TEST(NavigationText, KnowsTheCaptionsWithTheirDecorationOnly) {
    for (std::u16string_view caption :
         {u"上一章", u" 下一章 ", u"【返回目录】", u"<<上一页", u"下一頁 →", u"[目錄]"}) {
        EXPECT_TRUE(IsNavigationText(caption)) << Shown(caption);
    }
    for (std::u16string_view text : {u"", u"目录里的书", u"上一章说到", u"第一章"}) {
        EXPECT_FALSE(IsNavigationText(text)) << Shown(text);
    }
}

// Where ImageSources finds the address of each image.
std::vector<SourceSpan> ImageAddresses(std::u16string_view text) {
    std::vector<SourceSpan> spans;
    for (const ImageSource& image : ImageSources(text)) {
        spans.push_back(image.Address);
    }
    return spans;
}

struct SpanCase {
    const char* what;
    std::vector<SourceSpan> (*read)(std::u16string_view);
    std::u16string text;
    std::vector<std::u16string> marked;
};

// Offsets count UTF-16 units of the text given, whatever gumbo's UTF-8 makes of the characters
// before them.
TEST(SourceSpans, MarkImageAddressesAndCharsetLabelsWhereTheTextHasThem) {
    const SpanCase cases[] = {
        {"images after characters of two, three and four UTF-8 bytes and a reference",
         ImageAddresses,
         u"é中😀&amp;<img alt=\"😀\" src=\"a&amp;b.png\">",
         {u"a&amp;b.png"}},
        {"images after a lone surrogate and left-out characters",
         ImageAddresses,
         std::u16string(u"\xDC81\u0001\uFFFE<img src=' c.png '>"),
         {u"c.png"}},
        {"images in source order, also when the parser moves one in front of a table",
         ImageAddresses,
         u"<table><tr><td><img src=b.png></td></tr><img src=a.png></table>",
         {u"b.png", u"a.png"}},
        {"no images in a script, a comment or a template",
         ImageAddresses,
         u"<script>'<img src=s.png>'</script><!--<img src=c.png>--><template><img src=t.png>"
         u"</template>",
         {}},
        {"labels in both forms, any case and spacing",
         DeclaredCharsets,
         u"<html><head><META HTTP-EQUIV=\"Content-Type\" content=\"text/html; CHARSET = GB2312\">"
         u"<meta charset='gbk' /><title>书</title></head><body>",
         {u"GB2312", u"gbk"}},
        {"a quoted label inside the content value",
         DeclaredCharsets,
         u"<meta http-equiv=content-type content=\"text/html;charset='big5'\">",
         {u"big5"}},
        {"no labels in the body, nor in a meta that is no Content-Type",
         DeclaredCharsets,
         u"<head><meta name=description content=\"charset=x\"></head><body><pre>"
         u"&lt;meta charset=gbk&gt;<meta charset=\"gbk\"></pre>",
         {}},
    };
    for (const SpanCase& c : cases) {
        EXPECT_EQ(Marked(c.text, c.read(c.text)), c.marked) << c.what;
    }
}

TEST(PageTree, HoldsEachElementWithItsVisibleTextAndWhereItStands) {
    // A character outside the basic plane takes two UTF-16 units before the elements.
    std::u16string page = u"<head><meta property=og:title content='书&amp;名'></head>"
                          u"<body>\U00020000<div id=a>甲  <b>乙</b><p>丙<p>丁</div>"
                          u"<div hidden>藏<span>起</span></div>";
    struct Row {
        const char* tag;
        const char* parent;
        bool visible;
        std::u16string_view text;
        std::u16string_view source;
        std::u16string_view inner;
    };
    const Row expected[] = {
        {"html", "-", true, u"\U00020000\n甲 乙\n丙\n丁", page, page},
        {"head", "html", false, u"", u"<head><meta property=og:title content='书&amp;名'></head>",
         u"<meta property=og:title content='书&amp;名'>"},
        {"meta", "head", false, u"", u"<meta property=og:title content='书&amp;名'>", u""},
        {"body", "html", true, u"\U00020000\n甲 乙\n丙\n丁",
         u"<body>\U00020000<div id=a>甲  <b>乙</b><p>丙<p>丁</div><div "
         u"hidden>藏<span>起</span></div>",
         u"\U00020000<div id=a>甲  <b>乙</b><p>丙<p>丁</div><div hidden>藏<span>起</span></div>"},
        {"div", "body", true, u"甲 乙\n丙\n丁", u"<div id=a>甲  <b>乙</b><p>丙<p>丁</div>",
         u"甲  <b>乙</b><p>丙<p>丁"},
        {"b", "div", true, u"乙", u"<b>乙</b>", u"乙"},
        {"p", "div", true, u"丙", u"<p>丙", u"丙"},
        {"p", "div", true, u"丁", u"<p>丁", u"丁"},
        {"div", "body", false, u"", u"<div hidden>藏<span>起</span></div>", u"藏<span>起</span>"},
        {"span", "div", false, u"", u"<span>起</span>", u"起"},
    };
    PageTree tree = ReadPageTree(page);
    ASSERT_EQ(tree.Elements.size(), std::size(expected));
    for (size_t i = 0; i < tree.Elements.size(); ++i) {
        const PageElement& element = tree.Elements[i];
        std::string parent = element.Parent == kNoElement ? "-" : tree.Elements[element.Parent].Tag;
        EXPECT_EQ(element.Tag + " in " + parent,
                  std::string(expected[i].tag) + " in " + expected[i].parent);
        EXPECT_EQ(element.Visible, expected[i].visible) << i;
        EXPECT_EQ(Shown(tree.TextOf(i)), Shown(expected[i].text)) << i;
        EXPECT_EQ(Shown(page.substr(element.Source.Start, element.Source.Length)),
                  Shown(expected[i].source))
            << i;
        EXPECT_EQ(Shown(page.substr(element.Inner.Start, element.Inner.Length)),
                  Shown(expected[i].inner))
            << i;
    }
    EXPECT_EQ(Shown(tree.Elements[2].Attribute("content")), Shown(u"书&名"));
    EXPECT_EQ(tree.Elements[4].Attribute("id"), u"a");
    EXPECT_EQ(tree.Elements[4].Attribute("class"), u"");
}

TEST(ChosenChapterBlocks, ReadTheChosenElementWithoutItsLeftOutPartsAndWithRealImageAddresses) {
    std::u16string page = u"<p>外</p><div class=nav>甲<div>广告</div><p>乙<img src=load.gif "
                          u"data-original=' 1.jpg '></p><img data-src='data:x' src=2.jpg>"
                          u"<p hidden>藏</p></div>";
    std::string chosenClass;
    auto choose = [&](PageTree& tree) {
        // html, head, body, p, div.nav, div, p, img, img, p
        chosenClass = std::string(tree.Elements[4].Attribute("class").begin(),
                                  tree.Elements[4].Attribute("class").end());
        return ChapterTextChoice{4, {5}};
    };
    using Kind = ChapterBlock::Kind;
    std::vector<ChapterBlock> expected = {{Kind::Paragraph, u"甲"},
                                          {Kind::Paragraph, u"乙"},
                                          {Kind::Image, u"1.jpg"},
                                          {Kind::Image, u"2.jpg"}};
    EXPECT_EQ(ChosenChapterBlocks(page, choose), expected);
    EXPECT_EQ(chosenClass, "nav");
    EXPECT_TRUE(ChosenChapterBlocks(page, [](PageTree&) { return ChapterTextChoice{}; }).empty());
}

TEST(ElementInnerHtml, IsTheSourceOfTheElementsContentAsTheTreeEndsIt) {
    const TextCase cases[] = {
        {"nested elements of the same name",
         u"<div id=\"s\"><div>甲</div>&amp;乙</div><div id=s>二</div>", u"<div>甲</div>&amp;乙"},
        {"an end the parser implies", u"<p id='s'>甲<p>乙", u"甲"},
        {"an id only in a comment or in text", u"<!-- <div id=s>x</div> -->id=\"s\">y", u""},
        {"a page cut short inside the element", u"<div id=\"s\">cut short", u""},
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(Shown(ElementInnerHtml(c.page, u"s")), Shown(c.text)) << c.what;
    }
}

} // namespace
} // namespace velunor::html
