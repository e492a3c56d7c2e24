// The extraction engine against bare PCRE2 on the same pages, and how soon it gives up on a
// pattern that would backtrack for half a minute.
//
// The engine converts the page to ANSI bytes, splits and compiles each pattern list on every
// call and converts every value back to wide text. The bare matcher gets the bytes in hand and
// compiles each pattern once, so the gap between the two is what the engine's conveniences cost.

#define PCRE2_CODE_UNIT_WIDTH 8
#include "core/core.h"
#include "rules/rules.h"

#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <memory>
#include <string>
#include <vector>

namespace velunor {
namespace {

const char16_t* const kChapterTitles[] = {u"少年的名字叫萧炎", u"斗气大陆的天才", u"药老的秘密",
                                          u"云岚宗之约", u"魔兽山脉历险记"};

std::u16string Number(int value) {
    std::u16string text;
    for (char c : std::to_string(value)) {
        text.push_back(static_cast<char16_t>(c));
    }
    return text;
}

// A contents page of 5,000 chapters, about 600 KB in GBK.
std::u16string ContentsPage() {
    std::u16string page =
        u"<html><head><title>斗破苍穹最新章节列表</title></head><body>"
        u"<div class=\"nav\"><a href=\"/\">首页</a></div><div id=\"list\"><dl>\r\n";
    for (int i = 1; i <= 5000; ++i) {
        std::u16string n = Number(i);
        page += u"<dd><a href=\"/book/1024/" + n + u".html\" title=\"斗破苍穹 第" + n +
                u"章 天蚕土豆\">第" + n + u"章 " + kChapterTitles[i % 5] +
                u"（求月票、求推荐）</a></dd>\r\n";
    }
    page += u"</dl></div><div class=\"footer\">本站所有小说均来自网友上传</div></body></html>";
    return page;
}

// A search result page of 100 hits.
std::u16string SearchPage() {
    std::u16string page =
        u"<html><body><div class=\"head\">搜索结果</div><table class=\"grid\">\r\n";
    for (int i = 1; i <= 100; ++i) {
        std::u16string n = Number(i);
        page += u"<tr><td class=\"odd\"><a href=\"/book/" + n + u"/\">斗破苍穹之" + n +
                u"</a></td><td class=\"even\"><a href=\"/book/" + n + u"/last.html\">第" + n +
                u"章 大结局</a></td><td class=\"odd\">天蚕土豆" + n + u"</td></tr>\r\n";
    }
    page += u"</table><div class=\"foot\">共100条</div></body></html>";
    return page;
}

ContentsPageRule ContentsRule() {
    ContentsPageRule rule;
    rule.ContentsRegional = u"<div id=\"list\">(.*?)</div>";
    rule.ChapterName = u"<dd><a href=\"[^\"]*\" title=\"[^\"]*\">(.*?)</a></dd>";
    rule.ChapterUrl = u"<dd><a href=\"(.*?)\"";
    return rule;
}

SearchPageRule SearchRule() {
    SearchPageRule rule;
    rule.SearcResultRegional = u"<table class=\"grid\">(.*?)</table>";
    rule.NovelInfoPageUrl = u"<tr><td class=\"odd\"><a href=\"(.*?)\">";
    rule.NovelName = u"<tr><td class=\"odd\"><a href=\"[^\"]*\">(.*?)</a>";
    rule.LatestChapter = u"<td class=\"even\"><a href=\"[^\"]*\">(.*?)</a>";
    rule.NovelAuthor = u"</a></td><td class=\"odd\">(.*?)</td>";
    return rule;
}

struct CodeDeleter {
    void operator()(pcre2_code* code) const {
        pcre2_code_free(code);
    }
};
struct DataDeleter {
    void operator()(pcre2_match_data* data) const {
        pcre2_match_data_free(data);
    }
};
using Code = std::unique_ptr<pcre2_code, CodeDeleter>;

Code Compile(std::u16string_view pattern) {
    std::string bytes = WideToAnsi(pattern);
    int error = 0;
    PCRE2_SIZE offset = 0;
    return Code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(bytes.data()), bytes.size(),
                              PCRE2_MULTILINE | PCRE2_DOTALL, &error, &offset, nullptr));
}

// Group 1 of every match of `code` in `subject`, each search starting where the last ended.
std::vector<std::string> BareList(const pcre2_code* code, std::string_view subject,
                                  pcre2_match_data* data) {
    std::vector<std::string> values;
    size_t start = 0;
    while (pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), start, 0,
                       data, nullptr) > 1) {
        const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(data);
        values.emplace_back(subject.substr(offsets[2], offsets[3] - offsets[2]));
        start = offsets[1];
    }
    return values;
}

std::string_view BareRegion(const pcre2_code* code, std::string_view page, pcre2_match_data* data) {
    if (pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(page.data()), page.size(), 0, 0, data,
                    nullptr) < 2) {
        return page;
    }
    const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(data);
    return page.substr(offsets[2], offsets[3] - offsets[2]);
}

void BareMatching(benchmark::State& state, std::u16string_view region,
                  std::vector<std::u16string> lists, const std::string& bytes, size_t expected) {
    Code regionCode = Compile(region);
    std::vector<Code> listCodes;
    for (const std::u16string& list : lists) {
        listCodes.push_back(Compile(list));
    }
    std::unique_ptr<pcre2_match_data, DataDeleter> data(pcre2_match_data_create(4000, nullptr));
    for (auto _ : state) {
        std::string_view area = BareRegion(regionCode.get(), bytes, data.get());
        for (const Code& code : listCodes) {
            std::vector<std::string> values = BareList(code.get(), area, data.get());
            if (values.size() != expected) {
                state.SkipWithError("bare matcher found the wrong number of values");
            }
            benchmark::DoNotOptimize(values);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void EngineChapterList(benchmark::State& state) {
    std::u16string page = ContentsPage();
    ContentsPageRule rule = ContentsRule();
    for (auto _ : state) {
        ChapterList chapters;
        if (ExtractChapterList(rule, page, chapters) != 5000) {
            state.SkipWithError("engine found the wrong number of chapters");
        }
        benchmark::DoNotOptimize(chapters);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * WideToAnsi(page).size()));
    state.counters["page_KB"] = static_cast<double>(WideToAnsi(page).size()) / 1024.0;
}

void BareChapterList(benchmark::State& state) {
    ContentsPageRule rule = ContentsRule();
    BareMatching(state, rule.ContentsRegional, {rule.ChapterName, rule.ChapterUrl},
                 WideToAnsi(ContentsPage()), 5000);
}

void EngineSearchResults(benchmark::State& state) {
    std::u16string page = SearchPage();
    SearchPageRule rule = SearchRule();
    for (auto _ : state) {
        SearchResultSet results;
        if (ExtractSearchResults(rule, page, results) != 100) {
            state.SkipWithError("engine found the wrong number of hits");
        }
        benchmark::DoNotOptimize(results);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * WideToAnsi(page).size()));
}

void BareSearchResults(benchmark::State& state) {
    SearchPageRule rule = SearchRule();
    BareMatching(state, rule.SearcResultRegional,
                 {rule.NovelName, rule.NovelAuthor, rule.LatestChapter, rule.NovelInfoPageUrl},
                 WideToAnsi(SearchPage()), 100);
}

// How long a pattern that backtracks at every byte of a 20 KB page runs before the matching
// budget stops it; unbounded, it takes over half a minute.
void EngineGivesUpOnBacktracking(benchmark::State& state) {
    std::u16string page;
    while (WideToAnsi(page).size() < 20000) {
        page += std::u16string(64, u'字') + u"<br />";
    }
    page += u"完</div>";
    for (auto _ : state) {
        ExtractionProblem problem = ExtractionProblem::None;
        benchmark::DoNotOptimize(ExtractField(u"([^<]*?[^<]*?[^<]*?)</div>", page, &problem));
        if (problem != ExtractionProblem::TooSlow) {
            state.SkipWithError("the pattern was not stopped");
        }
    }
}

BENCHMARK(EngineChapterList)->Unit(benchmark::kMillisecond);
BENCHMARK(BareChapterList)->Unit(benchmark::kMillisecond);
BENCHMARK(EngineSearchResults)->Unit(benchmark::kMicrosecond);
BENCHMARK(BareSearchResults)->Unit(benchmark::kMicrosecond);
BENCHMARK(EngineGivesUpOnBacktracking)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace velunor

BENCHMARK_MAIN();
