// A rule drafted for a site without one: the novel's pages fetched as a download fetches them,
// read by the page finder, the draft made from what it chose, then loaded as a rule file and
// walked like any rule, so that what is offered has been proved on the live site.

#include "draft/draft.h"
#include "draft/internal/rule_walk.h"

#include "core/core.h"
#include "finder/finder.h"
#include "finder/rule_draft.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <unistd.h>

namespace velunor::draft {
namespace {

// The pause between two requests a draft makes and proposes: sites refuse clients that ask
// faster than a reader clicks, and a rule's author can lower it once the site is known.
constexpr std::u16string_view kDraftRequestInterval = u"100";
// How often a draft's rule asks again after a failure or a refusal: sites refuse now and then,
// and some answer a first visit with a page that lets the next one through.
constexpr std::u16string_view kDraftRetryCount = u"2";

// The most pages of one chapter the draft reads; a paged chapter shows its pattern on its first
// two or three.
constexpr int kMostChapterPages = 10;

bool IsWebAddress(std::u16string_view url) {
    return url.starts_with(u"http://") || url.starts_with(u"https://");
}

bool SameOrigin(std::u16string_view a, std::u16string_view b) {
    return EqualsIgnoringAsciiCase(finder::SiteUrlOf(a), finder::SiteUrlOf(b));
}

// What a draft is told when the site answers a challenge that only a script gets past.
constexpr std::u16string_view kNeedsScriptNote =
    u"此站的网页要运行脚本才给出内容（验证页或拦截页）。起草规则时不运行网页上的脚本，"
    u"所以没有起草模式：请在规则里写 <UseBrowser>2</UseBrowser>（见规则编写指南的 UseBrowser "
    u"一节），"
    u"再照网页写出各个模式，用 rule-check 检查。";

bool Cancelled(const CancelTest& cancelled) {
    return cancelled && cancelled();
}

// The pages of chapter `i` of `list`, following the finder's next-page links on the site.
std::vector<finder::DraftPage> FetchChapterPages(const Site& site, const ChapterList& list,
                                                 size_t i, const std::u16string& contentsUrl,
                                                 const CancelTest& cancelled) {
    finder::ChapterTextBounds bounds;
    bounds.FirstPageUrl = list.ChapterUrl[i];
    bounds.ContentsUrl = contentsUrl;
    bounds.NextChapterUrl = i + 1 < list.ChapterUrl.size() ? list.ChapterUrl[i + 1] : u"";
    std::vector<finder::DraftPage> pages;
    std::set<std::u16string> read;
    std::u16string url = bounds.FirstPageUrl;
    std::u16string referer = contentsUrl;
    while (!url.empty() && read.insert(url).second &&
           pages.size() < static_cast<size_t>(kMostChapterPages) && !Cancelled(cancelled)) {
        SitePage page = site.FetchPage(RulePage::Content, url, referer, cancelled);
        if (!page.Ok()) {
            break;
        }
        finder::FoundChapterText found = finder::FindChapterText(page.Text, page.Url, bounds);
        pages.push_back({page.Url, std::move(page.Text)});
        referer = pages.back().Url;
        url = found.NextPageUrl;
    }
    return pages;
}

// Adds the chapters of `more` that `list` lacks to its end.
void AppendNewChapters(const ChapterList& more, ChapterList& list) {
    std::set<std::u16string> listed(list.ChapterUrl.begin(), list.ChapterUrl.end());
    for (size_t i = 0; i < more.ChapterUrl.size(); ++i) {
        if (listed.insert(more.ChapterUrl[i]).second) {
            list.ChapterUrl.push_back(more.ChapterUrl[i]);
            list.ChapterName.push_back(more.ChapterName[i]);
        }
    }
    list.count = static_cast<int32_t>(list.ChapterUrl.size());
}

// The first, the middle two and the last chapter of those known: those the check reads and
// one more.
void FetchChapters(const Site& site, const ChapterList& list, const std::u16string& contentsUrl,
                   finder::RuleDraftPages& pages, const CancelTest& cancelled) {
    std::vector<int> numbers = internal::ChaptersToCheck(list.count);
    // The chapter after the middle one too: a site may split only some longer chapters over
    // pages, and two neighbours in the middle more often show one than a single chapter does.
    int afterMiddle = list.count / 2 + 1;
    if (std::find(numbers.begin(), numbers.end(), afterMiddle) == numbers.end()) {
        numbers.insert(numbers.end() - 1, afterMiddle);
    }
    for (int n : numbers) {
        pages.Chapters.push_back(
            FetchChapterPages(site, list, static_cast<size_t>(n - 1), contentsUrl, cancelled));
    }
}

// The result page of a search for `name` with the address `format`.
void FetchSearchResults(const Site& site, std::u16string_view format, std::u16string_view name,
                        finder::RuleDraftPages& pages, const CancelTest& cancelled) {
    CSiteRule rule = site.Rule();
    rule.SearchPage.SearchPageUrlFormat = format;
    FetchSettings settings = site.RequestSettings({}, cancelled);
    std::u16string request = SearchRequest(rule, name, settings);
    SitePage page = site.FetchPage(RulePage::Search, request, settings);
    if (page.Ok()) {
        pages.SearchResults = {page.Url, std::move(page.Text)};
    }
}

// A rule file written to a temporary file for the rule loader, removed when done with.
class TemporaryRuleFile {
  public:
    explicit TemporaryRuleFile(std::u16string_view xml) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velunor-draft-XXXXXX").string();
        int fd = mkstemp(pattern.data());
        if (fd < 0) {
            return;
        }
        std::string bytes = WideToUtf8(xml);
        bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        close(fd);
        path_ = pattern;
        if (!written) {
            path_.clear();
            unlink(pattern.c_str());
        }
    }
    ~TemporaryRuleFile() {
        if (!path_.empty()) {
            unlink(path_.c_str());
        }
    }
    TemporaryRuleFile(const TemporaryRuleFile&) = delete;
    TemporaryRuleFile& operator=(const TemporaryRuleFile&) = delete;

    std::u16string Path() const {
        return Utf8ToWide(path_);
    }

  private:
    std::string path_;
};

// The element of the rule a failed step of the check is about.
std::u16string_view ElementOf(RulePage page) {
    switch (page) {
    case RulePage::Search:
        return u"SearchPage";
    case RulePage::Info:
        return u"InfoPage";
    case RulePage::Contents:
        return u"ContentsPage";
    case RulePage::Content:
        return u"ContentPage";
    }
    return u"Channel";
}

// Loads the draft as a rule file, walks the site with it, and marks what did not pass.
void CheckDraft(const finder::RuleDraft& drafted, const finder::RuleDraftPages& pages,
                std::u16string_view novelName, SiteRuleDraft& result, const CancelTest& cancelled) {
    std::u16string xml = finder::WriteRuleXml(drafted.Rule, drafted.Notes);
    TemporaryRuleFile file(xml);
    CSiteRule loaded = LoadSiteRule(file.Path());
    RuleCheckStart start;
    start.InfoUrl = pages.Info.Url;
    if (!pages.SearchResults.Url.empty()) {
        start.SearchName = novelName;
    }
    result.Check = CheckSiteRule(loaded, file.Path(), start, cancelled);
    std::vector<finder::DraftNote> notes = drafted.Notes;
    for (const RuleCheckStep& step : result.Check.Steps) {
        if (!step.Passed) {
            notes.push_back({std::u16string(ElementOf(step.Page)),
                             u"rule-check 没有通过：" + step.Title + u"：" + step.Why});
        }
    }
    result.Xml = finder::WriteRuleXml(drafted.Rule, notes);
    result.Passed = notes.empty() && result.Check.Passed();
}

// A rule that says only where the site is, for a site whose pages need a script.
std::u16string ScriptNeededXml(const SitePage& page, std::u16string_view url) {
    CSiteRule rule;
    rule.SiteName = finder::DraftFileName(url);
    rule.SiteName.resize(rule.SiteName.size() - 4);
    rule.SiteUrl = finder::SiteUrlOf(url);
    rule.Charset = Utf8ToWide(page.Charset.Encoding);
    return finder::WriteRuleXml(rule, {{u"Channel", std::u16string(kNeedsScriptNote)}});
}

} // namespace

SiteRuleDraft DraftSiteRule(std::u16string_view url, std::u16string_view searchUrlTemplate,
                            const CancelTest& cancelled) {
    SiteRuleDraft result;
    result.FileName = finder::DraftFileName(url);
    if (!IsWebAddress(url)) {
        result.Refusal = u"起草规则要从小说的网页地址开始（http:// 或 https://）。";
        return result;
    }
    if (!searchUrlTemplate.empty() && searchUrlTemplate.find(u"{KEY}") == searchUrlTemplate.npos) {
        result.Refusal = u"搜索地址里要有 {KEY}，标明搜索词的位置。";
        return result;
    }
    CSiteRule probe;
    probe.SiteName = result.FileName.substr(0, result.FileName.size() - 4);
    probe.SiteUrl = finder::SiteUrlOf(url);
    probe.RequestInterval = kDraftRequestInterval;
    Site site(probe);
    SitePage info = site.FetchPage(RulePage::Info, url, {}, cancelled);
    if (info.Error.Kind == SiteErrorKind::Refused) {
        result.Refusal =
            std::u16string(finder::kNoChapterListReason) + std::u16string(kNeedsScriptNote);
        result.Xml = ScriptNeededXml(info, url);
        return result;
    }
    if (!info.Ok()) {
        result.Refusal = ReaderReason(info.Error);
        return result;
    }
    finder::RuleDraftPages pages;
    pages.Charset = Utf8ToWide(info.Charset.Encoding);
    pages.SearchUrlFormat = searchUrlTemplate;
    finder::FoundNovelInfo novel = finder::FindNovelInfo(info.Text, info.Url);
    // An information page that shows only the latest chapters links to the whole list.
    SitePage first = info;
    if (!novel.ContentsUrl.empty() && SameOrigin(novel.ContentsUrl, info.Url)) {
        first = site.FetchPage(RulePage::Contents, novel.ContentsUrl, info.Url, cancelled);
        if (!first.Ok()) {
            result.Refusal = ReaderReason(first.Error);
            return result;
        }
        pages.Contents = {first.Url, first.Text};
    }
    finder::FoundChapterList list = finder::FindChapterList(first.Text, first.Url);
    if (!list.Refusal.empty()) {
        result.Refusal = list.Refusal;
        return result;
    }
    ChapterList chapters = list.Chapters;
    if (!list.NextPageUrl.empty() && SameOrigin(list.NextPageUrl, first.Url)) {
        SitePage next = site.FetchPage(RulePage::Contents, list.NextPageUrl, first.Url, cancelled);
        if (next.Ok()) {
            AppendNewChapters(finder::FindChapterList(next.Text, next.Url, 1).Chapters, chapters);
            pages.NextContents = {next.Url, std::move(next.Text)};
        }
    }
    FetchChapters(site, chapters, first.Url, pages, cancelled);
    pages.Info = {info.Url, std::move(info.Text)};
    if (!searchUrlTemplate.empty() && !novel.Name.empty()) {
        FetchSearchResults(site, searchUrlTemplate, novel.Name, pages, cancelled);
    }
    if (Cancelled(cancelled)) {
        result.Refusal = u"起草已取消。";
        return result;
    }
    finder::RuleDraft drafted = finder::DraftRule(pages);
    if (!drafted.Refusal.empty()) {
        result.Refusal = drafted.Refusal;
        return result;
    }
    drafted.Rule.RequestInterval = kDraftRequestInterval;
    drafted.Rule.RetryCount = kDraftRetryCount;
    CheckDraft(drafted, pages, novel.Name, result, cancelled);
    return result;
}

} // namespace velunor::draft
