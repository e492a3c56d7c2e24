// Finding a novel on other sites and taking chapters from one of them.

#include "library/source_switch.h"

#include "core/core.h"
#include "library/chapter_names.h"
#include "library/internal/chapter_fetch.h"
#include "library/internal/shelved_novel.h"
#include "library/library_layout.h"
#include "library/novel_index.h"
#include "net/cookie_jar.h"
#include "pool/worker_pool.h"
#include "search/site_selection.h"

#include <memory>
#include <mutex>
#include <thread>

namespace velunor {
namespace {

// Sites asked, and chapters fetched, at once: as many as a novel's own chapters are fetched
// with. Each site keeps its own pacing whatever the number.
constexpr int kWorkers = 5;

// Runs `task` for 0 to count - 1 on a pool of kWorkers and waits for every one.
void RunOnPool(size_t count, const std::function<void(size_t)>& task) {
    auto pool = std::make_unique<CWorkerPool>(kWorkers);
    for (size_t i = 0; i < count; ++i) {
        pool->QueueTask([&task, i] { task(i); });
    }
    pool->Drain();
    pool->WaitAllExited();
}

// True when two names of a novel or an author are the same but for spaces, punctuation, width
// and the way numbers are written.
bool SameName(std::u16string_view a, std::u16string_view b) {
    return MakeChapterNameKey(a).Text == MakeChapterNameKey(b).Text;
}

// True when the authors do not tell two novels apart: either is unknown, or they are the same.
bool SameAuthor(std::u16string_view a, std::u16string_view b) {
    return a.empty() || b.empty() || SameName(a, b);
}

// Reads the novel's information and contents pages on the source's site into `source`; false
// when the information page names another novel or author. A page that cannot be read leaves its
// error.
bool ReadSourceContents(const Site& site, const NovelIndex& novel, OtherSource& source) {
    VisitedAddresses visited;
    NovelInfoPage info = ReadInfoPage(site, source.InfoPageUrl, visited);
    if (!info.Page.Ok()) {
        source.Error = info.Page.Error;
        return true;
    }
    // The information page's name and author, where it gives them, are the novel's own; the
    // result list may shorten or space them.
    if (!info.Info.NovelName.empty()) {
        source.NovelName = info.Info.NovelName;
    }
    if (!info.Info.NovelAuthor.empty()) {
        source.NovelAuthor = info.Info.NovelAuthor;
    }
    if (!SameName(source.NovelName, novel.NovelName) ||
        !SameAuthor(source.NovelAuthor, novel.NovelAuthor)) {
        return false;
    }
    SitePage first = FirstContentsPage(site, info, visited);
    if (!first.Ok()) {
        source.Error = first.Error;
        return true;
    }
    NovelContents contents = ReadContentsPages(site, first, visited, {});
    source.ContentsUrl = first.Url;
    source.Chapters = std::move(contents.Chapters);
    if (source.Chapters.ChapterName.empty()) {
        source.Error = MakeSiteError(SiteErrorKind::NoMatch, first.Url);
    }
    return true;
}

// Asks the site of `ruleFile` for the novel of `novel`; false when the site has no such novel.
bool AskSite(const std::u16string& ruleFile, const NovelIndex& novel, const CancelTest& cancelled,
             OtherSource& source) {
    std::shared_ptr<const Site> site = Site::FromRuleFile(ruleFile);
    source.SiteName = site->Rule().SiteName;
    source.RuleFile = ruleFile;
    SiteSearchAnswer answer = SearchSite(*site, novel.NovelName, cancelled);
    if (answer.Error.Failed()) {
        source.Error = answer.Error;
        return answer.Error.Kind != SiteErrorKind::Cancelled;
    }
    for (const SearchHit& hit : answer.Hits) {
        if (SameName(hit.NovelName, novel.NovelName) &&
            SameAuthor(hit.NovelAuthor, novel.NovelAuthor)) {
            source.InfoPageUrl = hit.InfoPageUrl;
            source.NovelName = hit.NovelName;
            source.NovelAuthor = hit.NovelAuthor;
            return ReadSourceContents(*site, novel, source);
        }
    }
    return false;
}

// The rule files selected for searching, except the one of the novel of `index`.
std::vector<std::u16string> OtherSelectedRules(const std::u16string& programFolder,
                                               const NovelIndex& index) {
    std::vector<std::u16string> ruleFiles = EnumerateRuleFiles(programFolder);
    std::vector<bool> selected = SelectedRuleFiles(SiteSelectionReadPath(programFolder), ruleFiles);
    std::vector<std::u16string> others;
    for (size_t i = 0; i < ruleFiles.size(); ++i) {
        if (selected[i] && StoredRuleFile(programFolder, ruleFiles[i]) != index.RuleFile) {
            others.push_back(ruleFiles[i]);
        }
    }
    return others;
}

// What fetching one matched chapter from the other site gave.
struct TakenChapter {
    bool Stored = false;
    ChapterFailure Failure;
};

// Fetches the chapter at `offered` of the source into the page of the novel's chapter at
// `position`. The page is written only when the chapter came with its text.
TakenChapter TakeChapter(const internal::ShelvedNovel& novel, const Site& site,
                         const OtherSource& source, size_t position, size_t offered) {
    const ChapterList& chapters = source.Chapters;
    const std::u16string& url = chapters.ChapterUrl[offered];
    std::u16string next =
        offered + 1 < chapters.ChapterUrl.size() ? chapters.ChapterUrl[offered + 1] : u"";
    TakenChapter taken;
    taken.Failure.Name = novel.Index.Chapters[position].Name;
    FetchedChapter fetched = FetchChapter(site, url, {source.ContentsUrl, next, false, {}});
    if (!fetched.Ok()) {
        taken.Failure.Error = fetched.Error;
        return taken;
    }
    if (!fetched.HasContent()) {
        taken.Failure.Error = MakeSiteError(SiteErrorKind::NoMatch, url);
        return taken;
    }
    std::u16string path =
        novel.Folder + u"/" + ChapterPageName(novel.Index.Chapters[position].Page);
    std::u16string text;
    taken.Failure.Error =
        internal::ComposeChapterText(site, fetched, site.Rule().ReplaceRule, path, text, {});
    if (taken.Failure.Error.Failed()) {
        return taken;
    }
    std::u16string encoding = novel.PageEncoding;
    if (!WritePage(
            encoding, path,
            ComposeChapterPage(novel.PageTemplate, novel.Fields(position), kStateStored, text))) {
        taken.Failure.Error = MakeSiteError(SiteErrorKind::WriteFailed, path);
        return taken;
    }
    taken.Stored = true;
    return taken;
}

// The positions of the chapters a switch takes: from `fromChapter` (from 1) on, or with 0 those
// that are not stored.
std::vector<size_t> ChaptersToTake(const NovelIndex& index, int fromChapter) {
    std::vector<size_t> positions;
    for (size_t i = 0; i < index.Chapters.size(); ++i) {
        bool wanted = fromChapter > 0 ? i + 1 >= static_cast<size_t>(fromChapter)
                                      : !index.Chapters[i].IsFinished();
        if (wanted) {
            positions.push_back(i);
        }
    }
    return positions;
}

// Takes the chapters of `novel` a switch asks for from `source`, shows its progress, and
// records the chapters stored in the index.
void TakeChapters(WindowPort& window, internal::ShelvedNovel& novel, const OtherSource& source,
                  int fromChapter, SourceSwitchOutcome& outcome) {
    std::vector<size_t> positions = ChaptersToTake(novel.Index, fromChapter);
    std::vector<std::u16string> wanted;
    for (size_t position : positions) {
        wanted.push_back(novel.Index.Chapters[position].Name);
    }
    std::vector<size_t> matches = MatchChapterNames(wanted, source.Chapters.ChapterName);
    std::vector<std::pair<size_t, size_t>> pairs;
    for (size_t i = 0; i < positions.size(); ++i) {
        if (matches[i] == kNoChapterMatch) {
            ++outcome.NotFound;
        } else {
            pairs.emplace_back(positions[i], matches[i]);
        }
    }
    std::shared_ptr<const Site> site = Site::FromRuleFile(source.RuleFile);
    std::vector<TakenChapter> taken(pairs.size());
    std::mutex progress;
    int done = 0;
    int failed = 0;
    int total = static_cast<int>(pairs.size());
    window.ShowDownloadProgress(0, total, 0);
    RunOnPool(pairs.size(), [&](size_t k) {
        taken[k] = TakeChapter(novel, *site, source, pairs[k].first, pairs[k].second);
        std::lock_guard lock(progress);
        failed += taken[k].Stored ? 0 : 1;
        window.ShowDownloadProgress(++done, total, failed);
        window.SetStatusText(u"正在从 " + source.SiteName + u" 换源：" + taken[k].Failure.Name);
    });
    for (size_t k = 0; k < pairs.size(); ++k) {
        if (!taken[k].Stored) {
            outcome.Failures.push_back(std::move(taken[k].Failure));
            continue;
        }
        IndexedChapter& chapter = novel.Index.Chapters[pairs[k].first];
        chapter.State = ChapterState::Stored;
        chapter.Reason.clear();
        chapter.Source = source.SiteName;
        chapter.SourceUrl = source.Chapters.ChapterUrl[pairs[k].second];
        ++outcome.Taken;
    }
}

} // namespace

std::u16string OtherSource::LatestChapter() const {
    return Chapters.ChapterName.empty() ? std::u16string() : Chapters.ChapterName.back();
}

SourceSearch FindOtherSources(const std::u16string& programFolder,
                              const std::u16string& novelFolder,
                              const SourceSearchProgress& progress, const CancelTest& cancelled) {
    SourceSearch search;
    NovelIndex novel;
    if (!LoadNovelIndex(novelFolder, novel) || novel.NovelName.empty()) {
        search.Refusal = u"无法读取本书的章节索引 " + std::u16string(kNovelIndexName) +
                         u"，请先更新本书再换源。";
        return search;
    }
    std::vector<std::u16string> rules = OtherSelectedRules(programFolder, novel);
    search.Asked = static_cast<int>(rules.size());
    if (rules.empty()) {
        search.Refusal = u"除本书所在网站外，没有选中其他目标站，请在“目标站设置”中勾选。";
        return search;
    }
    std::vector<OtherSource> sources(rules.size());
    std::vector<bool> listed(rules.size(), false);
    std::mutex answered;
    int count = 0;
    RunOnPool(rules.size(), [&](size_t i) {
        if (!cancelled || !cancelled()) {
            listed[i] = AskSite(rules[i], novel, cancelled, sources[i]);
        }
        std::lock_guard lock(answered);
        ++count;
        if (progress) {
            progress(count, search.Asked, sources[i].SiteName);
        }
    });
    for (size_t i = 0; i < rules.size(); ++i) {
        if (listed[i]) {
            search.Sources.push_back(std::move(sources[i]));
        }
    }
    return search;
}

SourceSwitchOutcome SwitchSource(WindowPort& window, const std::u16string& programFolder,
                                 const std::u16string& novelFolder, const OtherSource& source,
                                 int fromChapter) {
    SourceSwitchOutcome outcome;
    outcome.Ran = internal::WorkOnShelvedNovel(
        window, programFolder, novelFolder, [&](internal::ShelvedNovel& novel) {
            TakeChapters(window, novel, source, fromChapter, outcome);
            return SourceSwitchMessage(source.SiteName, outcome);
        });
    return outcome;
}

std::u16string SourceSwitchMessage(const std::u16string& siteName,
                                   const SourceSwitchOutcome& outcome) {
    std::u16string message = u"换源完成：从 " + siteName + u" 取回 " + DecimalText(outcome.Taken) +
                             u" 章，" + DecimalText(outcome.NotFound) + u" 章未找到";
    if (!outcome.Failures.empty()) {
        message +=
            u"，" + DecimalText(static_cast<long long>(outcome.Failures.size())) + u" 章未能下载";
    }
    return message + u"。";
}

void StartSourceSwitch(WindowPort& window, const std::u16string& programFolder,
                       const std::u16string& novelFolder, const OtherSource& source,
                       int fromChapter) {
    std::thread([&window, programFolder, novelFolder, source, fromChapter] {
        SwitchSource(window, programFolder, novelFolder, source, fromChapter);
        // A cookie the other site set during the switch goes to its file now.
        SaveCookieJars();
    }).detach();
}

} // namespace velunor
