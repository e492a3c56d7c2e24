// rule-check: a rule tried on its live site, step by step, for a person keeping a rule file
// working. Every request is made as the jobs make it: with the site's request settings, and
// with the library's own reading of paged contents and paged chapters, so that a rule that
// passes here downloads the same way.

#include "cli/rule_check_command.h"

#include "cli/cli_support.h"
#include "cli/rule_test_command.h"
#include "core/core.h"
#include "html/html.h"
#include "results/search_result_file.h"
#include "rules/rules.h"
#include "site/site.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace velunor::cli {
namespace {

constexpr size_t kPreviewCharacters = 80;
constexpr int kMostHitNumber = 100000;

struct RuleCheckArguments {
    std::u16string rulePath;
    std::u16string name;
    int hit = 1;
};

// A hit number: decimal digits only, counted from 1.
bool ParseHitNumber(const char* text, int& hit) {
    hit = ParseItemIndex(text, kMostHitNumber) + 1;
    return hit >= 1;
}

bool ParseArguments(int argc, char** argv, RuleCheckArguments& arguments) {
    std::vector<std::string> positional;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hit") == 0) {
            if (i + 1 >= argc || !ParseHitNumber(argv[i + 1], arguments.hit)) {
                return false;
            }
            ++i;
            continue;
        }
        positional.push_back(argv[i]);
    }
    if (positional.size() != 2) {
        return false;
    }
    arguments.rulePath = ResolveArgumentPath(positional[0]);
    arguments.name = Wide(positional[1]);
    return true;
}

// What one step found wrong; the step passed when nothing was.
class Verdict {
  public:
    // Adds a reason; an empty one adds nothing.
    void Fail(std::u16string_view why) {
        if (why.empty()) {
            return;
        }
        if (!why_.empty()) {
            why_ += u"；";
        }
        why_ += why;
    }
    bool Passed() const {
        return why_.empty();
    }
    // Prints the verdict line and returns Passed().
    bool Print() const {
        PrintLine(Passed() ? std::u16string(u"   通过") : u"   失败：" + why_);
        return Passed();
    }

  private:
    std::u16string why_;
};

class StepClock {
  public:
    std::u16string Elapsed() const {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start_);
        return DecimalText(static_cast<long long>(elapsed.count())) + u" ms";
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void PrintStep(std::u16string_view title) {
    PrintLine(u"== " + std::u16string(title));
}

void PrintField(std::u16string_view name, std::u16string_view value) {
    PrintLine(u"   " + std::u16string(name) + u"：" + std::u16string(value));
}

std::u16string Count(size_t count, std::u16string_view unit) {
    return DecimalText(static_cast<long long>(count)) + u" " + std::u16string(unit);
}

// What a reader sees of `page` on one line: its title, then its text.
std::u16string VisibleText(std::u16string_view page) {
    std::u16string text = html::PageTitle(page);
    std::u16string body = html::VisibleText(page);
    std::replace(body.begin(), body.end(), u'\n', u' ');
    if (!text.empty() && !body.empty()) {
        text += u' ';
    }
    return text + body;
}

size_t CharacterCount(std::u16string_view text) {
    size_t count = 0;
    for (char16_t c : text) {
        count += IsLowSurrogate(c) ? 0 : 1;
    }
    return count;
}

// The first kPreviewCharacters characters of `text`, "……" marking a cut.
std::u16string Preview(std::u16string_view text) {
    size_t end = 0;
    for (size_t characters = 0; end < text.size() && characters < kPreviewCharacters;
         ++characters) {
        ++end;
        while (end < text.size() && IsLowSurrogate(text[end])) {
            ++end;
        }
    }
    std::u16string preview(text.substr(0, end));
    if (end < text.size()) {
        preview += u"……";
    }
    return preview;
}

// What a limit of the extraction means for the rule's author.
std::u16string ProblemText(std::u16string_view where, ExtractionProblem problem) {
    std::u16string text(where);
    switch (problem) {
    case ExtractionProblem::None:
        return {};
    case ExtractionProblem::ValueTooLarge:
        return text + u"取到的值超过 " +
               DecimalText(static_cast<long long>(kMaxValueBytes / (1024 * 1024))) + u" MiB";
    case ExtractionProblem::TooSlow:
        return text + u"的模式回溯太多，用完了一页的匹配时间";
    case ExtractionProblem::TooManyEntries:
        return text + u"的列表模式取到了超过 " + DecimalText(kMaxListEntries) + u" 条";
    }
    return {};
}

// The answer's status, or why there was none, and where redirects led when they led anywhere.
std::u16string StatusText(const SitePage& page, std::u16string_view asked) {
    const SiteError& error = page.Error;
    std::u16string text;
    if (error.Kind == SiteErrorKind::HttpStatus || !error.Failed()) {
        text = DecimalText(error.Failed() ? error.HttpStatus : 200);
    } else {
        text = TechnicalReason(error);
    }
    if (!page.Url.empty() && page.Url != asked) {
        text += u"，跳转到 " + page.Url;
    }
    return text;
}

// How the page was read when the browser had a part in it, and the challenge it got past.
void PrintBrowserUse(bool throughBrowser, std::u16string_view challenge) {
    if (throughBrowser) {
        PrintField(u"读取", u"经由浏览器");
    }
    if (!challenge.empty()) {
        PrintField(u"验证页", Preview(VisibleText(challenge)) + u"（" +
                                  DecimalText(static_cast<long long>(challenge.size())) + u" 字）");
    }
}

// The charset a fetched page was read in and why; nothing for a page that was not read, or
// that the browser read in the charset it chose.
void PrintCharset(const SitePage& page) {
    if (!page.Ok() || page.ThroughBrowser) {
        return;
    }
    std::u16string reason;
    switch (page.Charset.Source) {
    case CharsetSource::ByteOrderMark:
        reason = u"字节序标记";
        break;
    case CharsetSource::Header:
        reason = u"响应头 Content-Type 声明";
        break;
    case CharsetSource::Meta:
        reason = u"网页 meta 声明";
        break;
    case CharsetSource::Rule:
        reason = u"网页没有声明，按规则的 Charset";
        break;
    case CharsetSource::SearchCharset:
        reason = u"规则的 SearchCharset";
        break;
    }
    PrintField(u"字符集", Wide(page.Charset.Encoding) + u"（" + reason + u"）");
}

// Why a fetched page is of no use, as the jobs judge it; empty when it is of use.
std::u16string PageFailure(const SiteError& error) {
    if (!error.Failed()) {
        return {};
    }
    if (error.Kind == SiteErrorKind::Refused) {
        return u"站点返回了拦截页（BlockedPagePattern 或验证页），拒绝了访问";
    }
    return u"页面无法打开（" + ReaderReason(error) + u"）";
}

// The names and lengths of lists that had to be equally long.
std::u16string ListLengths(std::initializer_list<std::pair<const char16_t*, size_t>> lists) {
    std::u16string text;
    for (const auto& [name, size] : lists) {
        text += (text.empty() ? u"" : u"，") + std::u16string(name) + u" " +
                DecimalText(static_cast<long long>(size));
    }
    return text;
}

// Why a search answer gave no hits although the page was fetched: the lists the patterns found
// differ in length, or a limit was hit.
void FailEmptyLists(const SiteSearchAnswer& answer, Verdict& verdict) {
    const SearchResultSet& results = answer.Lists;
    verdict.Fail(ProblemText(u"搜索结果页", answer.Problem));
    size_t names = results.NovelName.size();
    if (answer.Hits.empty() &&
        (results.NovelInfoPageUrl.size() != names || results.NovelAuthor.size() != names ||
         results.LatestChapter.size() != names)) {
        verdict.Fail(u"结果列表条数不同：" +
                     ListLengths({{u"NovelInfoPageUrl", results.NovelInfoPageUrl.size()},
                                  {u"NovelName", names},
                                  {u"NovelAuthor", results.NovelAuthor.size()},
                                  {u"LatestChapter", results.LatestChapter.size()}}));
    }
}

void PrintHits(const std::vector<SearchHit>& hits) {
    for (size_t k = 0; k < hits.size(); ++k) {
        PrintLine(u"   " + DecimalText(static_cast<long long>(k + 1)) + u". " + hits[k].NovelName +
                  u" | " + hits[k].NovelAuthor + u" | " + hits[k].LatestChapter);
    }
}

// Tells how many steps failed; a step that leaves nothing to go on with ends the walk.
struct Tally {
    int failed = 0;
    bool ended = false;

    void Add(bool passed) {
        failed += passed ? 0 : 1;
    }
};

// Takes hit `number` (from 1) into `chosen`, or says why there is none.
void ChooseHit(const std::vector<SearchHit>& hits, int number, Verdict& verdict,
               SearchHit& chosen) {
    size_t wanted = static_cast<size_t>(number);
    if (hits.empty()) {
        // A list whose patterns disagree has said so already.
        verdict.Fail(verdict.Passed() ? u"没有搜索结果" : u"");
    } else if (hits.size() < wanted) {
        verdict.Fail(u"只有 " + Count(hits.size(), u"条结果") + u"，没有第 " + DecimalText(number) +
                     u" 条");
    } else {
        chosen = hits[wanted - 1];
        PrintField(u"第 " + DecimalText(number) + u" 条", chosen.InfoPageUrl);
    }
}

// Searches the site and picks hit `arguments.hit`; false when there is none to go on with.
bool CheckSearch(const Site& site, const RuleCheckArguments& arguments, Tally& tally,
                 SearchHit& chosen) {
    PrintStep(u"搜索：" + std::u16string(TrimSearchText(arguments.name)));
    StepClock clock;
    SiteSearchAnswer answer = SearchSite(site, arguments.name);
    const std::u16string& url = answer.RequestUrl;
    PrintField(u"地址", (answer.PostBody ? u"POST " : u"GET ") + url);
    if (answer.PostBody) {
        PrintField(u"数据", DecodeSitePage(SearchKeyCharset(site.Rule()), *answer.PostBody));
    }
    PrintField(u"状态", StatusText(answer.Page, url));
    PrintBrowserUse(answer.Page.ThroughBrowser, answer.Page.Challenge);
    PrintCharset(answer.Page);
    PrintField(u"用时", clock.Elapsed());
    Verdict verdict;
    verdict.Fail(PageFailure(answer.Error));
    if (verdict.Passed()) {
        FailEmptyLists(answer, verdict);
        PrintField(u"结果", Count(answer.Hits.size(), u"条"));
        PrintHits(answer.Hits);
        if (answer.Hits.empty()) {
            PrintField(u"网页", Preview(VisibleText(answer.Page.Text)));
        }
        ChooseHit(answer.Hits, arguments.hit, verdict, chosen);
    }
    tally.Add(verdict.Print());
    return !chosen.InfoPageUrl.empty();
}

// What the steps after the search share: the site, and what was read of the novel so far.
struct NovelWalk {
    const Site& site;
    // Every address asked for or redirected to, as the download job keeps it.
    VisitedAddresses visited;
    NovelInfoPage info;
    ChapterList chapters;
    // The first contents page's final address: where a chapter's pages end.
    std::u16string contentsUrl;
};

void PrintNovelInfo(const NovelInfo& info) {
    PrintField(u"书名", info.NovelName);
    PrintField(u"作者", info.NovelAuthor);
    PrintField(u"分类", info.NovelSort);
    PrintField(u"连载状态", info.NovelState);
    PrintField(u"最新章节", info.LatestChapter);
    PrintField(u"简介", Preview(VisibleText(info.NovelIntro)));
}

// Says where the contents are; false when the rule names a contents page and its pattern found
// none.
bool FindContentsAddress(const NovelWalk& walk, Verdict& verdict) {
    if (ContentsOnInfoPage(walk.site.Rule())) {
        PrintField(u"目录地址", u"（ContentsUrl 为空：信息页就是第一个目录页）");
        return true;
    }
    if (walk.info.Info.ContentsUrl.empty()) {
        verdict.Fail(u"ContentsUrl 没有取到目录地址");
        return false;
    }
    PrintField(u"目录地址", walk.info.Info.ContentsUrl);
    return true;
}

// Fetches and reads the information page; false when it could not be fetched or names no
// contents page where the rule says it does.
bool CheckInfoPage(NovelWalk& walk, const std::u16string& url, Tally& tally) {
    PrintStep(u"信息页");
    PrintField(u"地址", url);
    StepClock clock;
    walk.info = ReadInfoPage(walk.site, url, walk.visited);
    PrintField(u"状态", StatusText(walk.info.Page, url));
    PrintBrowserUse(walk.info.Page.ThroughBrowser, walk.info.Page.Challenge);
    PrintCharset(walk.info.Page);
    PrintField(u"用时", clock.Elapsed());
    Verdict verdict;
    verdict.Fail(PageFailure(walk.info.Page.Error));
    if (!verdict.Passed()) {
        tally.Add(verdict.Print());
        return false;
    }
    verdict.Fail(ProblemText(u"信息页", walk.info.Problem));
    PrintNovelInfo(walk.info.Info);
    if (walk.info.Info.NovelName.empty()) {
        verdict.Fail(u"NovelName 没有取到书名");
    }
    bool goOn = FindContentsAddress(walk, verdict);
    tally.Add(verdict.Print());
    return goOn;
}

// The first contents page: the information page itself when the rule has no contents address.
bool FetchFirstContentsPage(NovelWalk& walk, SitePage& first, Verdict& verdict) {
    bool onInfoPage = ContentsOnInfoPage(walk.site.Rule());
    const std::u16string& url = onInfoPage ? walk.info.Page.Url : walk.info.Info.ContentsUrl;
    PrintField(u"地址", onInfoPage ? url + u"（信息页）" : url);
    first = FirstContentsPage(walk.site, walk.info, walk.visited);
    if (!onInfoPage) {
        PrintField(u"状态", StatusText(first, url));
        PrintBrowserUse(first.ThroughBrowser, first.Challenge);
    }
    verdict.Fail(PageFailure(first.Error));
    return verdict.Passed();
}

// Why the first contents page gave no chapters.
std::u16string EmptyListReason(const ContentsPageRule& rule, std::u16string_view page) {
    ChapterList list;
    ExtractionProblem problem = ExtractionProblem::None;
    ExtractChapterList(rule, page, list, &problem);
    if (problem != ExtractionProblem::None) {
        return ProblemText(u"目录页", problem);
    }
    if (list.ChapterName.size() != list.ChapterUrl.size()) {
        return u"章节列表条数不同：" + ListLengths({{u"ChapterName", list.ChapterName.size()},
                                                    {u"ChapterUrl", list.ChapterUrl.size()}});
    }
    return u"ChapterName 和 ChapterUrl 没有取到章节";
}

std::u16string ContentsEndReason(const NovelContents& contents) {
    switch (contents.End) {
    case ContentsEnd::Complete:
        break;
    case ContentsEnd::CutShort:
    case ContentsEnd::Blocked:
        return u"第 " + DecimalText(contents.PagesRead + 1) + u" 页目录：" +
               PageFailure(contents.Error);
    case ContentsEnd::TooManyChapters:
        return ProblemText(u"目录页", ExtractionProblem::TooManyEntries);
    }
    return {};
}

void PrintChapterRange(const ChapterList& chapters) {
    if (chapters.count == 0) {
        return;
    }
    size_t last = static_cast<size_t>(chapters.count - 1);
    PrintField(u"第一章", chapters.ChapterName[0] + u" " + chapters.ChapterUrl[0]);
    PrintField(u"最后一章", chapters.ChapterName[last] + u" " + chapters.ChapterUrl[last]);
}

// The volume headings in the contents' order, each with how many chapters it holds.
void PrintVolumes(const ChapterList& chapters) {
    if (chapters.Volumes.empty()) {
        return;
    }
    PrintField(u"分卷", Count(chapters.Volumes.size(), u"卷"));
    size_t count = chapters.ChapterUrl.size();
    for (size_t k = 0; k < chapters.Volumes.size(); ++k) {
        const VolumeHeading& heading = chapters.Volumes[k];
        size_t held = VolumeEnd(chapters.Volumes, k, count) - heading.Before;
        PrintLine(u"     " + heading.Name + u"（" + Count(held, u"章") + u"）");
    }
}

// Reads every contents page; false when there are no chapters to go on with.
bool CheckContents(NovelWalk& walk, Tally& tally) {
    PrintStep(u"目录页");
    StepClock clock;
    Verdict verdict;
    SitePage first;
    if (!FetchFirstContentsPage(walk, first, verdict)) {
        tally.Add(verdict.Print());
        return false;
    }
    NovelContents contents = ReadContentsPages(walk.site, first, walk.visited, {});
    walk.chapters = std::move(contents.Chapters);
    walk.contentsUrl = first.Url;
    PrintField(u"用时", clock.Elapsed());
    PrintField(u"页数", Count(static_cast<size_t>(contents.PagesRead), u"页"));
    PrintField(u"章节", Count(static_cast<size_t>(walk.chapters.count), u"章"));
    PrintChapterRange(walk.chapters);
    PrintVolumes(walk.chapters);
    verdict.Fail(ContentsEndReason(contents));
    if (walk.chapters.count == 0 && verdict.Passed()) {
        verdict.Fail(EmptyListReason(walk.site.Rule().ContentsPage, first.Text));
    }
    tally.Add(verdict.Print());
    return walk.chapters.count > 0;
}

// The first, the middle and the last chapter, each once.
std::vector<int> ChaptersToCheck(int count) {
    std::vector<int> numbers;
    for (int n : {1, (count + 1) / 2, count}) {
        if (n >= 1 && (numbers.empty() || numbers.back() != n)) {
            numbers.push_back(n);
        }
    }
    return numbers;
}

// The chapter's text as it is stored: each page's text cleaned with the ReplaceRule.
std::u16string CleanedText(const CSiteRule& rule, const FetchedChapter& chapter, Verdict& verdict) {
    std::u16string text;
    for (const ChapterPage& page : chapter.Pages) {
        ExtractionProblem problem = ExtractionProblem::None;
        text += ApplyReplaceRule(rule.ReplaceRule, page.Text, &problem);
        verdict.Fail(ProblemText(u"ReplaceRule ", problem));
    }
    return text;
}

void PrintChapterPages(const FetchedChapter& chapter) {
    PrintField(u"页数", Count(chapter.Pages.size(), u"页"));
    if (chapter.Pages.size() < 2) {
        return;
    }
    for (size_t k = 0; k < chapter.Pages.size(); ++k) {
        PrintLine(u"     " + DecimalText(static_cast<long long>(k + 1)) + u". " +
                  chapter.Pages[k].Url);
    }
}

void PrintChapterText(const CSiteRule& rule, const FetchedChapter& chapter, Verdict& verdict) {
    std::u16string text = VisibleText(CleanedText(rule, chapter, verdict));
    size_t images = 0;
    for (const ChapterPage& page : chapter.Pages) {
        images += page.Images.size();
    }
    PrintChapterPages(chapter);
    PrintField(u"字数", Count(CharacterCount(text), u"字"));
    PrintField(u"图片", Count(images, u"张"));
    PrintField(u"正文", Preview(text));
    if (!chapter.HasContent()) {
        verdict.Fail(u"ChapterContent 没有取到正文");
    }
}

// Fetches chapter n (from 1) with all its pages, as a chapter task does.
void CheckChapter(const NovelWalk& walk, int n, Tally& tally) {
    const ChapterList& chapters = walk.chapters;
    size_t i = static_cast<size_t>(n - 1);
    PrintStep(u"第 " + DecimalText(n) + u" 章（共 " + DecimalText(chapters.count) + u" 章）：" +
              chapters.ChapterName[i]);
    const std::u16string& url = chapters.ChapterUrl[i];
    PrintField(u"地址", url);
    ChapterBounds bounds;
    bounds.ContentsUrl = walk.contentsUrl;
    if (n < chapters.count) {
        bounds.NextChapterUrl = chapters.ChapterUrl[i + 1];
    }
    StepClock clock;
    FetchedChapter chapter = FetchChapter(walk.site, url, bounds);
    SitePage answered;
    answered.Url = chapter.Pages.empty() ? u"" : chapter.Pages.front().Url;
    answered.Error = chapter.Error;
    PrintField(u"状态", StatusText(answered, url));
    PrintBrowserUse(chapter.ThroughBrowser, chapter.Challenge);
    PrintField(u"用时", clock.Elapsed());
    Verdict verdict;
    verdict.Fail(PageFailure(chapter.Error));
    if (verdict.Passed()) {
        PrintChapterText(walk.site.Rule(), chapter, verdict);
    }
    tally.Add(verdict.Print());
}

// Runs the steps in order until one leaves nothing to go on with.
void WalkSite(const CSiteRule& rule, const RuleCheckArguments& arguments, Tally& tally) {
    Site site(rule, arguments.rulePath);
    SearchHit hit;
    if (!CheckSearch(site, arguments, tally, hit)) {
        tally.ended = true;
        return;
    }
    NovelWalk walk{site, {}, {}, {}, {}};
    if (!CheckInfoPage(walk, hit.InfoPageUrl, tally) || !CheckContents(walk, tally)) {
        tally.ended = true;
        return;
    }
    for (int n : ChaptersToCheck(walk.chapters.count)) {
        CheckChapter(walk, n, tally);
    }
}

} // namespace

int RunRuleCheck(int argc, char** argv) {
    RuleCheckArguments arguments;
    if (!ParseArguments(argc, argv, arguments)) {
        PrintError(u"usage: velunor-cli rule-check RULE.xml NAME [--hit N]");
        return 2;
    }
    if (TrimSearchText(arguments.name).empty()) {
        PrintError(u"the name to search for is empty");
        return 2;
    }
    CSiteRule rule;
    if (!ReadRuleFile(arguments.rulePath, rule)) {
        return 1;
    }
    PrintLine(u"站点：" + rule.SiteName + u"（" +
              (rule.Charset.empty() ? u"未写 Charset" : rule.Charset) + u"）");
    if (!IsKnownCharset(rule.Charset)) {
        PrintLine(u"Charset “" + rule.Charset + u"” 不是已知的字符集，网页按 GB18030 读");
    }
    const std::u16string& searchCharset = rule.SearchPage.SearchCharset;
    if (!searchCharset.empty() && !IsKnownCharset(searchCharset)) {
        PrintLine(u"SearchCharset “" + searchCharset +
                  u"” 不是已知的字符集，搜索页和其他网页一样读");
    }
    Tally tally;
    WalkSite(rule, arguments, tally);
    if (tally.failed == 0) {
        PrintLine(u"结论：通过");
        return 0;
    }
    PrintLine(u"结论：" + DecimalText(tally.failed) + u" 步没有通过" +
              (tally.ended ? u"，之后的步骤没有进行" : u""));
    return 1;
}

} // namespace velunor::cli
