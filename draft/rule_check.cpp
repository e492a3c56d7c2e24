// A rule tried on its live site, step by step, for a person keeping a rule file working or
// a drafted rule being proved. Every request is made as the jobs make it: with the site's request
// settings, and with the library's own reading of paged contents and paged chapters, so that a rule
// that passes here downloads the same way.

#include "draft/draft.h"
#include "draft/internal/rule_walk.h"

#include "core/core.h"
#include "html/html.h"
#include "results/search_result_file.h"
#include "rules/rules.h"
#include "site/site.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace velunor::draft {
namespace {

constexpr size_t kPreviewCharacters = 80;

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
    // Ends the report's current step with this verdict and prints its line.
    void Print(RuleCheckReport& report) const {
        report.Steps.back().Passed = Passed();
        report.Steps.back().Why = why_;
        report.Lines.push_back(Passed() ? std::u16string(u"   通过") : u"   失败：" + why_);
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

// Starts a step that reads a page of kind `page`.
void PrintStep(RuleCheckReport& report, RulePage page, std::u16string_view title) {
    report.Steps.push_back({page, std::u16string(title), true, {}});
    report.Lines.push_back(u"== " + std::u16string(title));
}

void PrintField(RuleCheckReport& report, std::u16string_view name, std::u16string_view value) {
    report.Lines.push_back(u"   " + std::u16string(name) + u"：" + std::u16string(value));
}

bool Cancelled(const CancelTest& cancelled) {
    return cancelled && cancelled();
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
void PrintBrowserUse(RuleCheckReport& report, bool throughBrowser, std::u16string_view challenge) {
    if (throughBrowser) {
        PrintField(report, u"读取", u"经由浏览器");
    }
    if (!challenge.empty()) {
        PrintField(report, u"验证页",
                   Preview(VisibleText(challenge)) + u"（" +
                       DecimalText(static_cast<long long>(challenge.size())) + u" 字）");
    }
}

// The charset a fetched page was read in and why; nothing for a page that was not read, or
// that the browser read in the charset it chose.
void PrintCharset(RuleCheckReport& report, const SitePage& page) {
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
    PrintField(report, u"字符集", Utf8ToWide(page.Charset.Encoding) + u"（" + reason + u"）");
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

void PrintHits(RuleCheckReport& report, const std::vector<SearchHit>& hits) {
    for (size_t k = 0; k < hits.size(); ++k) {
        report.Lines.push_back(u"   " + DecimalText(static_cast<long long>(k + 1)) + u". " +
                               hits[k].NovelName + u" | " + hits[k].NovelAuthor + u" | " +
                               hits[k].LatestChapter);
    }
}

// Takes hit `number` (from 1) into `chosen`, or says why there is none.
void ChooseHit(RuleCheckReport& report, const std::vector<SearchHit>& hits, int number,
               Verdict& verdict, SearchHit& chosen) {
    size_t wanted = static_cast<size_t>(number);
    if (hits.empty()) {
        // A list whose patterns disagree has said so already.
        verdict.Fail(verdict.Passed() ? u"没有搜索结果" : u"");
    } else if (hits.size() < wanted) {
        verdict.Fail(u"只有 " + Count(hits.size(), u"条结果") + u"，没有第 " + DecimalText(number) +
                     u" 条");
    } else {
        chosen = hits[wanted - 1];
        PrintField(report, u"第 " + DecimalText(number) + u" 条", chosen.InfoPageUrl);
    }
}

// The number (from 1) of the hit that leads to `url`; 0 when none does.
int HitLeadingTo(const std::vector<SearchHit>& hits, std::u16string_view url) {
    for (size_t k = 0; k < hits.size(); ++k) {
        if (hits[k].InfoPageUrl == url) {
            return static_cast<int>(k + 1);
        }
    }
    return 0;
}

// Searches the site and picks the hit `start` asks for; false when there is none to go on with.
bool CheckSearch(RuleCheckReport& report, const Site& site, const RuleCheckStart& start,
                 const CancelTest& cancelled, SearchHit& chosen) {
    PrintStep(report, RulePage::Search,
              u"搜索：" + std::u16string(TrimSearchText(start.SearchName)));
    StepClock clock;
    SiteSearchAnswer answer = SearchSite(site, start.SearchName, cancelled);
    const std::u16string& url = answer.RequestUrl;
    PrintField(report, u"地址", (answer.PostBody ? u"POST " : u"GET ") + url);
    if (answer.PostBody) {
        PrintField(report, u"数据",
                   DecodeSitePage(SearchKeyCharset(site.Rule()), *answer.PostBody));
    }
    PrintField(report, u"状态", StatusText(answer.Page, url));
    PrintBrowserUse(report, answer.Page.ThroughBrowser, answer.Page.Challenge);
    PrintCharset(report, answer.Page);
    PrintField(report, u"用时", clock.Elapsed());
    Verdict verdict;
    verdict.Fail(PageFailure(answer.Error));
    if (verdict.Passed()) {
        FailEmptyLists(answer, verdict);
        PrintField(report, u"结果", Count(answer.Hits.size(), u"条"));
        PrintHits(report, answer.Hits);
        if (answer.Hits.empty()) {
            PrintField(report, u"网页", Preview(VisibleText(answer.Page.Text)));
        }
        int hit = start.Hit;
        if (!start.InfoUrl.empty()) {
            hit = HitLeadingTo(answer.Hits, start.InfoUrl);
            verdict.Fail(
                hit == 0 && !answer.Hits.empty() ? u"没有通向 " + start.InfoUrl + u" 的结果" : u"");
        }
        if (hit > 0 || answer.Hits.empty()) {
            ChooseHit(report, answer.Hits, std::max(hit, 1), verdict, chosen);
        }
    }
    verdict.Print(report);
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

void PrintNovelInfo(RuleCheckReport& report, const NovelInfo& info) {
    PrintField(report, u"书名", info.NovelName);
    PrintField(report, u"作者", info.NovelAuthor);
    PrintField(report, u"分类", info.NovelSort);
    PrintField(report, u"连载状态", info.NovelState);
    PrintField(report, u"最新章节", info.LatestChapter);
    PrintField(report, u"简介", Preview(VisibleText(info.NovelIntro)));
}

// Says where the contents are; false when the rule names a contents page and its pattern found
// none.
bool FindContentsAddress(RuleCheckReport& report, const NovelWalk& walk, Verdict& verdict) {
    if (ContentsOnInfoPage(walk.site.Rule())) {
        PrintField(report, u"目录地址", u"（ContentsUrl 为空：信息页就是第一个目录页）");
        return true;
    }
    if (walk.info.Info.ContentsUrl.empty()) {
        verdict.Fail(u"ContentsUrl 没有取到目录地址");
        return false;
    }
    PrintField(report, u"目录地址", walk.info.Info.ContentsUrl);
    return true;
}

// Fetches and reads the information page; false when it could not be fetched or names no
// contents page where the rule says it does.
bool CheckInfoPage(RuleCheckReport& report, NovelWalk& walk, const std::u16string& url) {
    PrintStep(report, RulePage::Info, u"信息页");
    PrintField(report, u"地址", url);
    StepClock clock;
    walk.info = ReadInfoPage(walk.site, url, walk.visited);
    PrintField(report, u"状态", StatusText(walk.info.Page, url));
    PrintBrowserUse(report, walk.info.Page.ThroughBrowser, walk.info.Page.Challenge);
    PrintCharset(report, walk.info.Page);
    PrintField(report, u"用时", clock.Elapsed());
    Verdict verdict;
    verdict.Fail(PageFailure(walk.info.Page.Error));
    if (!verdict.Passed()) {
        verdict.Print(report);
        return false;
    }
    verdict.Fail(ProblemText(u"信息页", walk.info.Problem));
    PrintNovelInfo(report, walk.info.Info);
    if (walk.info.Info.NovelName.empty()) {
        verdict.Fail(u"NovelName 没有取到书名");
    }
    bool goOn = FindContentsAddress(report, walk, verdict);
    verdict.Print(report);
    return goOn;
}

// The first contents page: the information page itself when the rule has no contents address.
bool FetchFirstContentsPage(RuleCheckReport& report, NovelWalk& walk, SitePage& first,
                            Verdict& verdict) {
    bool onInfoPage = ContentsOnInfoPage(walk.site.Rule());
    const std::u16string& url = onInfoPage ? walk.info.Page.Url : walk.info.Info.ContentsUrl;
    PrintField(report, u"地址", onInfoPage ? url + u"（信息页）" : url);
    first = FirstContentsPage(walk.site, walk.info, walk.visited);
    if (!onInfoPage) {
        PrintField(report, u"状态", StatusText(first, url));
        PrintBrowserUse(report, first.ThroughBrowser, first.Challenge);
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

void PrintChapterRange(RuleCheckReport& report, const ChapterList& chapters) {
    if (chapters.count == 0) {
        return;
    }
    size_t last = static_cast<size_t>(chapters.count - 1);
    PrintField(report, u"第一章", chapters.ChapterName[0] + u" " + chapters.ChapterUrl[0]);
    PrintField(report, u"最后一章", chapters.ChapterName[last] + u" " + chapters.ChapterUrl[last]);
}

// The volume headings in the contents' order, each with how many chapters it holds.
void PrintVolumes(RuleCheckReport& report, const ChapterList& chapters) {
    if (chapters.Volumes.empty()) {
        return;
    }
    PrintField(report, u"分卷", Count(chapters.Volumes.size(), u"卷"));
    size_t count = chapters.ChapterUrl.size();
    for (size_t k = 0; k < chapters.Volumes.size(); ++k) {
        const VolumeHeading& heading = chapters.Volumes[k];
        size_t held = VolumeEnd(chapters.Volumes, k, count) - heading.Before;
        report.Lines.push_back(u"     " + heading.Name + u"（" + Count(held, u"章") + u"）");
    }
}

// Reads every contents page; false when there are no chapters to go on with.
bool CheckContents(RuleCheckReport& report, NovelWalk& walk) {
    PrintStep(report, RulePage::Contents, u"目录页");
    StepClock clock;
    Verdict verdict;
    SitePage first;
    if (!FetchFirstContentsPage(report, walk, first, verdict)) {
        verdict.Print(report);
        return false;
    }
    NovelContents contents = ReadContentsPages(walk.site, first, walk.visited, {});
    walk.chapters = std::move(contents.Chapters);
    walk.contentsUrl = first.Url;
    PrintField(report, u"用时", clock.Elapsed());
    PrintField(report, u"页数", Count(static_cast<size_t>(contents.PagesRead), u"页"));
    PrintField(report, u"章节", Count(static_cast<size_t>(walk.chapters.count), u"章"));
    PrintChapterRange(report, walk.chapters);
    PrintVolumes(report, walk.chapters);
    verdict.Fail(ContentsEndReason(contents));
    if (walk.chapters.count == 0 && verdict.Passed()) {
        verdict.Fail(EmptyListReason(walk.site.Rule().ContentsPage, first.Text));
    }
    verdict.Print(report);
    return walk.chapters.count > 0;
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

void PrintChapterPages(RuleCheckReport& report, const FetchedChapter& chapter) {
    PrintField(report, u"页数", Count(chapter.Pages.size(), u"页"));
    if (chapter.Pages.size() < 2) {
        return;
    }
    for (size_t k = 0; k < chapter.Pages.size(); ++k) {
        report.Lines.push_back(u"     " + DecimalText(static_cast<long long>(k + 1)) + u". " +
                               chapter.Pages[k].Url);
    }
}

void PrintChapterText(RuleCheckReport& report, const CSiteRule& rule, const FetchedChapter& chapter,
                      Verdict& verdict) {
    std::u16string text = VisibleText(CleanedText(rule, chapter, verdict));
    size_t images = 0;
    for (const ChapterPage& page : chapter.Pages) {
        images += page.Images.size();
    }
    PrintChapterPages(report, chapter);
    PrintField(report, u"字数", Count(CharacterCount(text), u"字"));
    PrintField(report, u"图片", Count(images, u"张"));
    PrintField(report, u"正文", Preview(text));
    if (!chapter.HasContent()) {
        verdict.Fail(u"ChapterContent 没有取到正文");
    }
}

// Fetches chapter n (from 1) with all its pages, as a chapter task does.
void CheckChapter(RuleCheckReport& report, const NovelWalk& walk, int n) {
    const ChapterList& chapters = walk.chapters;
    size_t i = static_cast<size_t>(n - 1);
    PrintStep(report, RulePage::Content,
              u"第 " + DecimalText(n) + u" 章（共 " + DecimalText(chapters.count) + u" 章）：" +
                  chapters.ChapterName[i]);
    const std::u16string& url = chapters.ChapterUrl[i];
    PrintField(report, u"地址", url);
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
    PrintField(report, u"状态", StatusText(answered, url));
    PrintBrowserUse(report, chapter.ThroughBrowser, chapter.Challenge);
    PrintField(report, u"用时", clock.Elapsed());
    Verdict verdict;
    verdict.Fail(PageFailure(chapter.Error));
    if (verdict.Passed()) {
        PrintChapterText(report, walk.site.Rule(), chapter, verdict);
    }
    verdict.Print(report);
}

// Runs the steps in order until one leaves nothing to go on with.
void WalkSite(RuleCheckReport& report, const Site& site, const RuleCheckStart& start,
              const CancelTest& cancelled) {
    SearchHit hit;
    hit.InfoPageUrl = start.InfoUrl;
    if (!start.SearchName.empty() && !CheckSearch(report, site, start, cancelled, hit)) {
        report.Ended = true;
        return;
    }
    NovelWalk walk{site, {}, {}, {}, {}};
    if (Cancelled(cancelled) || !CheckInfoPage(report, walk, hit.InfoPageUrl) ||
        Cancelled(cancelled) || !CheckContents(report, walk)) {
        report.Ended = true;
        return;
    }
    for (int n : internal::ChaptersToCheck(walk.chapters.count)) {
        if (Cancelled(cancelled)) {
            report.Ended = true;
            return;
        }
        CheckChapter(report, walk, n);
    }
}

// What the rule's charsets mean for the pages, before the steps.
void PrintCharsets(RuleCheckReport& report, const CSiteRule& rule) {
    report.Lines.push_back(u"站点：" + rule.SiteName + u"（" +
                           (rule.Charset.empty() ? u"未写 Charset" : rule.Charset) + u"）");
    if (!IsKnownCharset(rule.Charset)) {
        report.Lines.push_back(u"Charset “" + rule.Charset +
                               u"” 不是已知的字符集，网页按 GB18030 读");
    }
    const std::u16string& searchCharset = rule.SearchPage.SearchCharset;
    if (!searchCharset.empty() && !IsKnownCharset(searchCharset)) {
        report.Lines.push_back(u"SearchCharset “" + searchCharset +
                               u"” 不是已知的字符集，搜索页和其他网页一样读");
    }
}

} // namespace

namespace internal {

std::vector<int> ChaptersToCheck(int count) {
    std::vector<int> numbers;
    for (int n : {1, (count + 1) / 2, count}) {
        if (n >= 1 && (numbers.empty() || numbers.back() != n)) {
            numbers.push_back(n);
        }
    }
    return numbers;
}

} // namespace internal

bool RuleCheckReport::Passed() const {
    return Failed() == 0 && !Ended;
}

int RuleCheckReport::Failed() const {
    return static_cast<int>(std::count_if(Steps.begin(), Steps.end(),
                                          [](const RuleCheckStep& step) { return !step.Passed; }));
}

RuleCheckReport CheckSiteRule(const CSiteRule& rule, const std::u16string& ruleFile,
                              const RuleCheckStart& start, const CancelTest& cancelled) {
    RuleCheckReport report;
    PrintCharsets(report, rule);
    Site site(rule, ruleFile);
    WalkSite(report, site, start, cancelled);
    if (report.Failed() == 0 && !report.Ended) {
        report.Lines.push_back(u"结论：通过");
    } else if (report.Failed() == 0) {
        report.Lines.push_back(u"结论：检查被中止，之后的步骤没有进行");
    } else {
        report.Lines.push_back(u"结论：" + DecimalText(report.Failed()) + u" 步没有通过" +
                               (report.Ended ? u"，之后的步骤没有进行" : u""));
    }
    return report;
}

} // namespace velunor::draft
