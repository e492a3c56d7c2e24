#include "rules/rules.h"

#include "core/core.h"

#include <gtest/gtest.h>

namespace velunor {
namespace {

using Wides = std::vector<std::u16string>;

const std::u16string kResultPage =
    u"<html><div id=\"nav\"><a href=\"/nav.html\">导航</a></div>\r\n"
    u"<table id=\"hits\">\r\n"
    u"<tr><td><a href=\"/book/1/\">斗破苍穹</a></td><td>天蚕土豆</td><td>第一章</td></tr>\r\n"
    u"<tr><td><a href=\"/book/2/\">武动乾坤</a></td><td>天蚕土豆</td><td>大结局</td></tr>\r\n"
    u"</table></html>";

SearchPageRule ResultRule() {
    SearchPageRule rule;
    rule.SearchPageUrlFormat = u"http://www.site.com/s?q={KEY}";
    rule.SearcResultRegional = u"<table id=\"hits\">(.*?)</table>";
    rule.NovelInfoPageUrl = u"<tr><td><a href=\"(.*?)\">";
    rule.NovelName = u"<tr><td><a href=\"[^\"]*\">(.*?)</a>";
    rule.NovelAuthor = u"</a></td><td>(.*?)</td>";
    rule.LatestChapter = u"</td><td>[^<]*</td><td>(.*?)</td>";
    return rule;
}

TEST(ExtractSearchResults, ListsEveryHitOfTheRegion) {
    SearchResultSet results;
    EXPECT_EQ(ExtractSearchResults(ResultRule(), kResultPage, results), 2);
    EXPECT_EQ(results.count, 2);
    EXPECT_EQ(results.NovelName, (Wides{u"斗破苍穹", u"武动乾坤"}));
    EXPECT_EQ(results.NovelAuthor, (Wides{u"天蚕土豆", u"天蚕土豆"}));
    EXPECT_EQ(results.LatestChapter, (Wides{u"第一章", u"大结局"}));
    // Links come back as the page gives them; making them absolute is the caller's work.
    EXPECT_EQ(results.NovelInfoPageUrl, (Wides{u"/book/1/", u"/book/2/"}));
}

TEST(ExtractSearchResults, WithoutARegionTheWholePageIsSearched) {
    SearchPageRule rule = ResultRule();
    rule.SearcResultRegional.clear();
    rule.NovelInfoPageUrl = u"<a href=\"(.*?)\">";
    rule.NovelName = u"<a href=\"[^\"]*\">(.*?)</a>";
    SearchResultSet results;
    ExtractSearchResults(rule, kResultPage, results);
    EXPECT_EQ(results.NovelInfoPageUrl, (Wides{u"/nav.html", u"/book/1/", u"/book/2/"}));
    // Three links but two authors: the lists disagree, so there are no hits.
    EXPECT_EQ(results.count, 0);
    EXPECT_EQ(results.NovelAuthor.size(), 2u);
}

TEST(ExtractSearchResults, RegionFallsBackToLaterAlternatives) {
    SearchPageRule rule = ResultRule();
    rule.SearcResultRegional =
        u"<table id=\"missing\">(.*?)</table>|<table id=\"hits\">(.*?)</table>";
    SearchResultSet results;
    EXPECT_EQ(ExtractSearchResults(rule, kResultPage, results), 2);
}

TEST(ExtractSearchResults, FirstListAlternativeThatMatchesWins) {
    SearchPageRule rule = ResultRule();
    rule.SearcResultRegional.clear();
    // The first alternative finds one name; the second would find more but is never tried.
    rule.NovelName = u"(斗破苍穹)|<a href=\"[^\"]*\">(.*?)</a>";
    SearchResultSet results;
    ExtractSearchResults(rule, kResultPage, results);
    EXPECT_EQ(results.NovelName, (Wides{u"斗破苍穹"}));
}

TEST(ExtractSearchResults, AlternativesWithoutGroupOneAreSkipped) {
    SearchPageRule rule = ResultRule();
    // An empty entry, a pattern without a group and one whose group never takes part all count
    // as not matching; the last entry gives the list.
    rule.NovelName = u"|<td>|(never)?<tr>|<tr><td><a href=\"[^\"]*\">(.*?)</a>";
    SearchResultSet results;
    EXPECT_EQ(ExtractSearchResults(rule, kResultPage, results), 2);
    EXPECT_EQ(results.NovelName, (Wides{u"斗破苍穹", u"武动乾坤"}));
}

TEST(ExtractSearchResults, OptionalGroupKeepsListsAligned) {
    const std::u16string page = u"<b>A</b><i>x</i>;<b>B</b>;<b>C</b><i>z</i>;";
    SearchPageRule rule;
    rule.NovelName = u"<b>(.*?)</b>";
    rule.NovelAuthor = u"</b>(?:<i>(.*?)</i>)?;";
    rule.LatestChapter = u"<b>(.*?)</b>";
    rule.NovelInfoPageUrl = u"<b>(.*?)</b>";
    SearchResultSet results;
    EXPECT_EQ(ExtractSearchResults(rule, page, results), 3);
    EXPECT_EQ(results.NovelAuthor, (Wides{u"x", u"", u"z"}));
}

const std::u16string kInfoPage =
    u"<h1>斗破苍穹</h1><p>作者：天蚕土豆</p><p>类别：玄幻</p><p>状态：完本</p>"
    u"<div class=\"intro\">这里是属于斗气的世界。</div><p>最新：第一千章</p>"
    u"<a href=\"list/index.html\">目录</a>";

TEST(ExtractNovelInfo, FillsEveryFieldAndLeavesUnmatchedOnesEmpty) {
    InfoPageRule rule;
    rule.NovelSort = u"类别：(.*?)</p>";
    rule.NovelName = u"<h1>(.*?)</h1>";
    rule.NovelAuthor = u"作者：(.*?)</p>";
    rule.NovelState = u"状态：(.*?)</p>";
    rule.NovelIntro = u"<div class=\"intro\">(.*?)</div>";
    rule.LatestChapter = u"<span>(.*?)</span>";
    rule.ContentsUrl = u"<a href=\"(.*?)\">目录</a>";
    NovelInfo info;
    ExtractNovelInfo(rule, kInfoPage, info);
    EXPECT_EQ(info.NovelSort, u"玄幻");
    EXPECT_EQ(info.NovelName, u"斗破苍穹");
    EXPECT_EQ(info.NovelAuthor, u"天蚕土豆");
    EXPECT_EQ(info.NovelState, u"完本");
    EXPECT_EQ(info.NovelIntro, u"这里是属于斗气的世界。");
    EXPECT_EQ(info.LatestChapter, u"");
    EXPECT_EQ(info.ContentsUrl, u"list/index.html");
}

TEST(ExtractField, AnEmptyGroupOneStillWins) {
    EXPECT_EQ(ExtractField(u"<h1>()斗|<h1>(.*?)</h1>", kInfoPage), u"");
    EXPECT_EQ(ExtractField(u"<h2>(.*?)</h2>|<h1>(.*?)</h1>", kInfoPage), u"斗破苍穹");
    EXPECT_EQ(ExtractField(u"", kInfoPage), u"");
    EXPECT_EQ(ExtractField(u"(unclosed", kInfoPage), u"");
}

TEST(ExtractChapterList, ListsChaptersOfTheRegionOnly) {
    const std::u16string page =
        u"<a href=\"/top.html\">顶部</a><dl>"
        u"<dd><a href=\"1.html\">第一章 陨落的天才</a></dd>"
        u"<dd><a href=\"2.html\">第二章 斗气大陆</a></dd></dl><a href=\"/end.html\">尾部</a>";
    ContentsPageRule rule;
    rule.ContentsRegional = u"<dl>(.*?)</dl>";
    rule.ChapterName = u"<a href=\"[^\"]*\">(.*?)</a>";
    rule.ChapterUrl = u"<a href=\"(.*?)\">";
    ChapterList chapters;
    EXPECT_EQ(ExtractChapterList(rule, page, chapters), 2);
    EXPECT_EQ(chapters.ChapterName, (Wides{u"第一章 陨落的天才", u"第二章 斗气大陆"}));
    EXPECT_EQ(chapters.ChapterUrl, (Wides{u"1.html", u"2.html"}));

    ChapterList uneven;
    rule.ChapterUrl = u"<a href=\"(1.html)\">";
    EXPECT_EQ(ExtractChapterList(rule, page, uneven), 0);
    EXPECT_EQ(uneven.ChapterName.size(), 2u);
}

TEST(ApplyReplaceRule, PiecesApplyInOrderToTheShortenedText) {
    const std::u16string text = u"正文<script>ad()</script>更多<a>广告</a>结束";
    // The first piece removes the script; the second would have matched across it.
    EXPECT_EQ(ApplyReplaceRule(u"<script>.*?</script>|正文.*?更多", text), u"<a>广告</a>结束");
    EXPECT_EQ(ApplyReplaceRule(u"<a>.*?</a>|<script>.*?</script>", text), u"正文更多结束");
    EXPECT_EQ(ApplyReplaceRule(u"", text), text);
    // An empty piece removes nothing and does not hang.
    EXPECT_EQ(ApplyReplaceRule(u"||<a>.*?</a>", text), u"正文<script>ad()</script>更多结束");
}

TEST(ApplyReplaceRule, KeepsCharactersGbkLacks) {
    const std::u16string text = u"龘\u4DB6\U0001F600<br/>文";
    EXPECT_EQ(ApplyReplaceRule(u"<br/>", text), u"龘\u4DB6\U0001F600文");
    EXPECT_EQ(ApplyReplaceRule(u"nothing", text), text);
}

TEST(ExtractionOnUtf8Sites, ValuesSurviveTheAnsiRoundTrip) {
    // A UTF-8 page is decoded as ANSI and re-read as UTF-8 before extraction; names with
    // characters GBK lacks must come through whole.
    std::string utf8Page = WideToUtf8(u"<h1>\u4DB6之歌\U0001F600</h1>");
    std::u16string page = ReinterpretAsUtf8(AnsiToWide(utf8Page));
    EXPECT_EQ(ExtractField(u"<h1>(.*?)</h1>", page), u"\u4DB6之歌\U0001F600");
}

// Paragraphs of chapter text, as sites send them, until the text is at least `bytes` long in
// the ANSI code page.
std::u16string ChapterText(size_t bytes) {
    const std::u16string paragraph =
        u"　　萧炎抬起头，望着漆黑的夜空，轻声道：“三十年河东，三十年河西。”<br />\r\n";
    const size_t paragraphBytes = WideToAnsi(paragraph).size();
    std::u16string text;
    for (size_t size = 0; size < bytes; size += paragraphBytes) {
        text += paragraph;
    }
    return text;
}

TEST(ExtractField, ChapterTextOfAnySizeComesBackWhole) {
    // 2 MB needs more than a one-megabyte capture; 12 MB needs more than the matcher's usual
    // ten million steps for one lazy capture.
    for (size_t bytes : {size_t{2} << 20, size_t{12} << 20}) {
        SCOPED_TRACE(bytes);
        std::u16string text = ChapterText(bytes);
        std::u16string page = u"<html><div id=\"text\">" + text + u"</div></html>";
        std::u16string value = ExtractField(u"<div id=\"text\">(.*?)</div>", page);
        EXPECT_EQ(value.size(), text.size());
        EXPECT_TRUE(value == text);
    }
}

TEST(ExtractField, PatternThatBacktracksAtEveryByteIsStopped) {
    // At every start the three lazy repeats try every split of the rest of a paragraph before
    // failing; unbounded, that takes over half a minute on these 20 KB.
    std::u16string page;
    while (WideToAnsi(page).size() < 20000) {
        page += std::u16string(64, u'字') + u"<br />";
    }
    page += u"完</div>";
    const std::u16string pattern = u"([^<]*?[^<]*?[^<]*?)</div>";
    ExtractionProblem problem = ExtractionProblem::None;
    std::u16string value = ExtractField(pattern, page, &problem);
    EXPECT_EQ(value, u"");
    EXPECT_EQ(problem, ExtractionProblem::TooSlow);

    // The replace rule, too, gives up on the whole text: not even the piece before the slow one
    // is applied.
    EXPECT_EQ(ApplyReplaceRule(u"完|" + pattern, page, &problem), page);
    EXPECT_EQ(problem, ExtractionProblem::TooSlow);
}

TEST(ExtractChapterList, MoreThanFiftyThousandChaptersGiveNone) {
    ContentsPageRule rule;
    // "()" matches before every byte and at the end: a page of n bytes gives n + 1 chapters.
    rule.ChapterName = u"()";
    rule.ChapterUrl = u"()";
    ExtractionProblem problem = ExtractionProblem::TooSlow;
    ChapterList atLimit;
    EXPECT_EQ(ExtractChapterList(rule, std::u16string(49999, u'x'), atLimit, &problem), 50000);
    EXPECT_EQ(problem, ExtractionProblem::None);
    ChapterList over;
    EXPECT_EQ(ExtractChapterList(rule, std::u16string(1000000, u'x'), over, &problem), 0);
    EXPECT_EQ(problem, ExtractionProblem::TooManyEntries);
    EXPECT_TRUE(over.ChapterName.empty());
    EXPECT_TRUE(over.ChapterUrl.empty());

    // An alternative that never yields a group 1 is still passed over, however often it
    // matches.
    rule.ChapterName = u"|<dd>(.*?)</dd>";
    rule.ChapterUrl = u"x*|<dd>(.*?)</dd>";
    ChapterList skipped;
    std::u16string page = std::u16string(60000, u' ') + u"<dd>一</dd><dd>二</dd>";
    EXPECT_EQ(ExtractChapterList(rule, page, skipped), 2);
}

TEST(ExtractSearchResults, AListOverTheLimitEmptiesEveryList) {
    SearchPageRule rule = ResultRule();
    rule.SearcResultRegional.clear();
    rule.NovelAuthor = u"()";
    std::u16string page = kResultPage + std::u16string(60000, u' ');
    ExtractionProblem problem = ExtractionProblem::None;
    SearchResultSet results;
    EXPECT_EQ(ExtractSearchResults(rule, page, results, &problem), 0);
    EXPECT_EQ(problem, ExtractionProblem::TooManyEntries);
    EXPECT_TRUE(results.NovelName.empty());
    EXPECT_TRUE(results.NovelAuthor.empty());
    EXPECT_TRUE(results.NovelInfoPageUrl.empty());
}

} // namespace
} // namespace velunor
