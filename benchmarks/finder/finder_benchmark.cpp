// The page finder against a written rule on the same pages: the chapter list of a contents page
// of 5,000 chapters and the text of a 30 KB chapter page. A rule only matches patterns where
// its writer said the parts stand; the finder reads the whole page into its element tree and
// weighs every part, so the gap between the two is what finding the parts unaided costs.

#include "core/core.h"
#include "finder/finder.h"
#include "rules/rules.h"

#include <benchmark/benchmark.h>

#include <string>

namespace velunor {
namespace {

constexpr std::u16string_view kSite = u"http://novel.example/";
const std::u16string kContentsUrl = u"http://novel.example/book/1024/";
const std::u16string kChapterUrl = u"http://novel.example/book/1024/2500.html";
constexpr int kChapters = 5000;

const char16_t* const kChapterTitles[] = {u"少年的名字", u"斗气大陆的天才", u"药老的秘密",
                                          u"云岚宗之约", u"魔兽山脉历险记"};

std::u16string Number(int value) {
    return Utf8ToWide(std::to_string(value));
}

// The head, bars and ads a novel site wraps around every page.
std::u16string PageStart(std::u16string_view title) {
    return u"<!DOCTYPE html><html><head><meta charset=\"gbk\"><title>" + std::u16string(title) +
           u"_星河书屋</title><meta property=\"og:novel:book_name\" content=\"斗破苍穹\">"
           u"<script>var _hmt=_hmt||[];(function(){var hm=document.createElement('script');"
           u"hm.src='//hm.example/hm.js';})();</script><style>.ad{color:red}#list dd{width:"
           u"33%}</style></head><body><div class=\"topnav\"><a href=\"/\">首页</a> <a "
           u"href=\"/sort/1/\">玄幻</a> <a href=\"/sort/2/\">武侠</a> <a href=\"/top/\">排行榜"
           u"</a> <a href=\"/full/\">完本</a></div><div class=\"search\"><form "
           u"action=\"/search.php\"><input name=\"q\"><button>搜索</button></form></div>"
           u"<div class=\"ad\"><script>ads.show(728,90);</script><a "
           u"href=\"http://ads.example/c?id=1\"><img src=\"http://ads.example/b.gif\"></a>"
           u"</div>\r\n";
}

std::u16string PageEnd() {
    return u"<div class=\"ad\"><script>ads.show(728,90);</script></div><div class=\"footer\">"
           u"<p>本站所有小说均来自网友上传，如有侵权请联系删除。</p><a href=\"/about.html\">"
           u"关于我们</a> <a href=\"http://other.example/\">友情链接</a></div><script>"
           u"window.ads&&ads.pop();</script></body></html>";
}

std::u16string ChapterLink(int i) {
    std::u16string n = Number(i);
    return u"<dd><a href=\"/book/1024/" + n + u".html\">第" + n + u"章 " + kChapterTitles[i % 5] +
           u"</a></dd>";
}

// A contents page of kChapters chapters in volumes of 500, with the book's details, a block of
// the latest chapters and ads among the list, about 380 KB in GBK.
std::u16string ContentsPage() {
    std::u16string page = PageStart(u"斗破苍穹最新章节列表");
    page += u"<div id=\"info\"><h1>斗破苍穹</h1><p>作者：天蚕土豆</p><p>最后更新：2026-12-01"
            u"</p><div class=\"intro\">这里是属于斗气的世界，没有花俏艳丽的魔法，有的，仅仅是"
            u"繁衍到巅峰的斗气！</div></div><div class=\"latest\"><dl><dt>最新章节</dt>";
    for (int i = kChapters; i > kChapters - 12; --i) {
        page += ChapterLink(i);
    }
    page += u"</dl></div>\r\n<div id=\"list\"><dl>\r\n";
    for (int i = 1; i <= kChapters; ++i) {
        if (i % 500 == 1) {
            page += u"<dt>第" + Number(i / 500 + 1) + u"卷 斗气大陆</dt>\r\n";
        }
        page += ChapterLink(i) + u"\r\n";
        if (i % 1000 == 0) {
            page += u"<script>ads.inline(" + Number(i) + u");</script>\r\n";
        }
    }
    page += u"</dl></div>\r\n" + PageEnd();
    return page;
}

// A chapter page of about 30 KB in GBK: navigation above and below a text of paragraphs set
// apart by line breaks, with the site's notice in it.
std::u16string ChapterPage() {
    std::u16string nav = u"<div class=\"bottem\"><a href=\"/book/1024/2499.html\">上一章</a> "
                         u"<a href=\"/book/1024/\">章节目录</a> <a href=\"/book/1024/2501.html\">"
                         u"下一章</a> <a href=\"#\">加入书签</a></div>";
    std::u16string page = PageStart(u"第2500章 药老的秘密");
    page += u"<div class=\"bookname\"><h1>第2500章 药老的秘密</h1>" + nav + u"</div>" +
            u"<div id=\"content\">";
    const std::u16string sentence = u"萧炎望着远处的山峦，心中暗暗下定决心，这一次绝不能再让"
                                    u"药老失望。";
    for (int paragraph = 0; paragraph < 200; ++paragraph) {
        page += u"&nbsp;&nbsp;&nbsp;&nbsp;";
        for (int i = 0; i < 2; ++i) {
            page += sentence;
        }
        page += u"<br /><br />";
        if (paragraph == 100) {
            page += u"<script>ads.inline();</script>";
        }
    }
    page += u"天才一秒记住本站地址：www.xinghe.example 最快更新！</div>" + nav + PageEnd();
    return page;
}

ContentsPageRule ContentsRule() {
    ContentsPageRule rule;
    rule.ContentsRegional = u"<div id=\"list\">(.*?)</div>";
    rule.ChapterName = u"<dd><a href=\"[^\"]*\">(.*?)</a></dd>";
    rule.ChapterUrl = u"<dd><a href=\"(.*?)\"";
    rule.VolumeName = u"<dt>(.*?)</dt>";
    return rule;
}

void SetPageCounters(benchmark::State& state, std::u16string_view page) {
    size_t bytes = WideToAnsi(page).size();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["page_KB"] = static_cast<double>(bytes) / 1024.0;
}

void FinderChapterList(benchmark::State& state) {
    std::u16string page = ContentsPage();
    for (auto _ : state) {
        finder::FoundChapterList found = finder::FindChapterList(page, kContentsUrl);
        if (found.Chapters.count != kChapters) {
            state.SkipWithError("the finder found the wrong number of chapters");
        }
        benchmark::DoNotOptimize(found);
    }
    SetPageCounters(state, page);
}

void RuleChapterList(benchmark::State& state) {
    std::u16string page = ContentsPage();
    ContentsPageRule rule = ContentsRule();
    for (auto _ : state) {
        ChapterList chapters;
        if (ExtractChapterList(rule, page, chapters) != kChapters) {
            state.SkipWithError("the rule found the wrong number of chapters");
        }
        benchmark::DoNotOptimize(chapters);
    }
    SetPageCounters(state, page);
}

void FinderChapterText(benchmark::State& state) {
    std::u16string page = ChapterPage();
    for (auto _ : state) {
        finder::FoundChapterText found = finder::FindChapterText(page, kChapterUrl, {});
        if (found.Blocks.size() != 200) {
            state.SkipWithError("the finder found the wrong number of paragraphs");
        }
        benchmark::DoNotOptimize(found);
    }
    SetPageCounters(state, page);
}

void RuleChapterText(benchmark::State& state) {
    std::u16string page = ChapterPage();
    for (auto _ : state) {
        std::u16string text = ExtractField(u"<div id=\"content\">(.*?)</div>", page);
        if (text.empty()) {
            state.SkipWithError("the rule found no text");
        }
        benchmark::DoNotOptimize(text);
    }
    SetPageCounters(state, page);
}

BENCHMARK(FinderChapterList)->Unit(benchmark::kMillisecond);
BENCHMARK(RuleChapterList)->Unit(benchmark::kMillisecond);
BENCHMARK(FinderChapterText)->Unit(benchmark::kMillisecond);
BENCHMARK(RuleChapterText)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace velunor

BENCHMARK_MAIN();
