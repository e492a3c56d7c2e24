// The search command, the search thread and the per-site search task.

#include "search/search_job.h"

#include "core/core.h"
#include "net/fetcher.h"
#include "net/site_settings.h"
#include "pool/worker_pool.h"
#include "results/search_result_file.h"
#include "rules/rules.h"
#include "search/site_search.h"
#include "search/site_selection.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

namespace velunor {
namespace {

constexpr int kSearchWorkers = 20;
constexpr auto kQueuePause = std::chrono::milliseconds(10);
constexpr auto kStopPause = std::chrono::milliseconds(3000);
constexpr uint64_t kShortestRunSeconds = 3;

void SearchThread(WindowPort* window, std::u16string programFolder, uint64_t generation);

// What the task of one site needs.
struct SiteSearch {
    WindowPort* window;
    std::u16string ruleFile;
    // The rule file's place in the list, which orders the sites the final line names.
    size_t index;
    uint64_t generation;
};

bool IsCurrent(uint64_t generation) {
    return ProcessSearchState().SearchGeneration.load() == generation;
}

bool IsCancelled(uint64_t generation) {
    return ProcessSearchState().SearchCancelled.load() || !IsCurrent(generation);
}

// The site's own request settings; every transfer of a search ends as soon as the search is
// cancelled or overtaken.
FetchSettings SearchFetchSettings(const CSiteRule& rule, uint64_t generation) {
    FetchSettings settings = SiteFetchSettings(rule);
    settings.Cancelled = [generation] { return IsCancelled(generation); };
    return settings;
}

// Adds one hit as a list row and a file element. Hits of a search that a newer one has
// overtaken are dropped. Returns false when the hit was dropped.
bool AddHit(const SiteSearch& search, const SearchHit& hit, const std::u16string& status) {
    SearchState& state = ProcessSearchState();
    std::lock_guard lock(state.SearchResultLock);
    if (!IsCurrent(search.generation)) {
        return false;
    }
    // The file first: whoever sees the row and opens it finds the hit in the file.
    ProcessSearchResultFile().Append(hit);
    WindowPort& window = *search.window;
    window.AppendResultRow({DecimalText(window.ResultRowCount() + 1), hit.TargetSite, hit.NovelName,
                            hit.NovelAuthor, hit.LatestChapter});
    ++state.SearchHitCount;
    if (!status.empty()) {
        window.SetStatusText(status);
    }
    return true;
}

void AddListedHits(const SiteSearch& search, const CSiteRule& rule,
                   const std::vector<SearchHit>& hits) {
    for (size_t k = 0; k < hits.size(); ++k) {
        std::u16string status = u"从目标站 <" + rule.SiteName + u"> 搜索完成，在该站搜索到 " +
                                DecimalText(static_cast<long long>(k + 1)) + u" 本小说。";
        if (!AddHit(search, hits[k], status)) {
            return;
        }
    }
}

void AddRedirectedHit(const SiteSearch& search, const CSiteRule& rule, const SearchHit& hit) {
    search.window->SetStatusText(u"从目标站 <" + rule.SiteName +
                                 u"> 搜索完成，在该站搜索到 1 本小说。");
    AddHit(search, hit, {});
}

// Notes a site of the current search that could not be reached or refused it; a cancelled
// search's transfers fail because it was cancelled, not because of the site.
void NoteUnreachable(const SiteSearch& search, const CSiteRule& rule) {
    SearchState& state = ProcessSearchState();
    std::lock_guard lock(state.SearchResultLock);
    if (!IsCancelled(search.generation)) {
        state.UnreachableSites.emplace_back(search.index, rule.SiteName);
    }
}

void SearchSite(const SiteSearch& search) {
    if (IsCancelled(search.generation)) {
        return;
    }
    WindowPort& window = *search.window;
    std::u16string text = window.SearchText();
    CSiteRule rule = LoadSiteRule(search.ruleFile);
    FetchSettings settings = SearchFetchSettings(rule, search.generation);
    std::u16string searchUrl = SearchRequest(rule, text, settings);
    window.SetStatusText(u"正从目标站 <" + rule.SiteName + u"> 进行搜索……");
    if (IsCancelled(search.generation)) {
        return;
    }
    FetchResult answer;
    std::u16string page = DecodeSitePage(rule, FetchPage(answer, searchUrl, settings));
    if (answer.Blocked) {
        window.SetStatusText(BlockedSiteMessage(rule));
        NoteUnreachable(search, rule);
        return;
    }
    if (answer.StatusCode != 200) {
        NoteUnreachable(search, rule);
        return;
    }
    // Relative links are relative to the page that was answered, after any redirect.
    std::u16string pageUrl = answer.EffectiveUrl.empty() ? searchUrl : answer.EffectiveUrl;
    std::vector<SearchHit> hits = ListedHits(rule, search.ruleFile, pageUrl, page);
    if (!hits.empty() || answer.RedirectCount == 0) {
        AddListedHits(search, rule, hits);
        return;
    }
    hits = NovelPageHit(rule, search.ruleFile, pageUrl, page);
    if (!hits.empty()) {
        AddRedirectedHit(search, rule, hits.front());
    }
}

bool IsAnySiteSelected(const std::u16string& programFolder) {
    std::vector<bool> checked =
        SelectedRuleFiles(SiteSelectionFilePath(programFolder), EnumerateRuleFiles(programFolder));
    return std::find(checked.begin(), checked.end(), true) != checked.end();
}

void StartSearch(WindowPort& window, const std::u16string& programFolder) {
    SearchState& state = ProcessSearchState();
    if (window.GetViewMode() != ViewMode::SearchResults) {
        window.SetViewMode(ViewMode::SearchResults);
    }
    window.SetSearchButtonCaption(std::u16string(kSearchRunningCaption));
    state.SearchHitCount = 0;
    state.SearchStartTick = CurrentTick();
    uint64_t generation = 0;
    {
        std::lock_guard lock(state.SearchCommandLock);
        state.SearchCancelled = false;
        generation = ++state.SearchGeneration;
        state.SearchRunning = true;
    }
    {
        std::lock_guard lock(state.SearchResultLock);
        state.UnreachableSites.clear();
    }
    // Said before the thread starts: a search that ends at once (no result file) would
    // otherwise have its final status overwritten by this one.
    window.SetStatusText(u"搜索任务已启动……");
    ++state.LiveSearchThreads;
    std::thread(SearchThread, &window, programFolder, generation).detach();
}

// The stopped search's sites go on for the pause; then the search is cancelled, unless a new
// one has started meanwhile (which has overtaken it already).
void CancelAfterPause(uint64_t generation) {
    std::this_thread::sleep_for(kStopPause);
    SearchState& state = ProcessSearchState();
    std::lock_guard lock(state.SearchCommandLock);
    if (IsCurrent(generation)) {
        state.SearchCancelled = true;
    }
}

void StopSearch(WindowPort& window) {
    SearchState& state = ProcessSearchState();
    uint64_t elapsedSeconds = (CurrentTick() - state.SearchStartTick.load()) / 1000;
    if (elapsedSeconds < kShortestRunSeconds) {
        window.ShowMessage(u"搜索任务的启动与终止间隔时间太短（小于3秒），请合理进行操作！",
                           MessageIcon::Exclamation, MessageButtons::Ok);
        return;
    }
    state.SearchRunning = false;
    window.SetSearchButtonCaption(std::u16string(kSearchIdleCaption));
    std::thread(CancelAfterPause, state.SearchGeneration.load()).detach();
}

// "（2 个站点无法访问：甲站、乙站）" for the sites the search could not reach, in the order of
// their rule files; empty when it reached every one.
std::u16string UnreachableNote() {
    SearchState& state = ProcessSearchState();
    std::lock_guard lock(state.SearchResultLock);
    auto sites = state.UnreachableSites;
    if (sites.empty()) {
        return {};
    }
    std::sort(sites.begin(), sites.end());
    std::u16string names;
    for (const auto& [index, name] : sites) {
        names += (names.empty() ? u"" : u"、") + (name.empty() ? u"（未命名）" : name);
    }
    return u"（" + DecimalText(static_cast<long long>(sites.size())) + u" 个站点无法访问：" +
           names + u"）";
}

std::u16string FinalStatus() {
    SearchState& state = ProcessSearchState();
    if (state.SearchCancelled) {
        return u"搜索任务被终止！";
    }
    return u"搜索完成，共搜索到 " + DecimalText(state.SearchHitCount.load()) + u" 本小说。" +
           UnreachableNote();
}

// The search's final status and caption; only the current search may set them.
void ReportEnd(WindowPort& window, uint64_t generation, const std::u16string& status) {
    SearchState& state = ProcessSearchState();
    if (!IsCurrent(generation)) {
        return;
    }
    window.SetStatusText(status);
    state.SearchRunning = false;
    window.SetSearchButtonCaption(std::u16string(kSearchIdleCaption));
}

void RunSearch(WindowPort& window, const std::u16string& programFolder, uint64_t generation) {
    SearchState& state = ProcessSearchState();
    window.DeleteAllResultRows();
    std::vector<std::u16string> ruleFiles = EnumerateRuleFiles(programFolder);
    bool fileReady = false;
    {
        std::lock_guard lock(state.SearchResultLock);
        fileReady = ProcessSearchResultFile().Reset(programFolder);
    }
    if (!fileReady) {
        // Hits that could not be opened are no use: ask no site.
        ReportEnd(window, generation, std::u16string(kNoResultFileStatus));
        return;
    }
    auto pool = std::make_unique<CWorkerPool>(kSearchWorkers);
    for (size_t i = 0; i < ruleFiles.size(); ++i) {
        // Read again for every rule, as the dialog may store a new choice meanwhile.
        if (!SelectedRuleFiles(SiteSelectionFilePath(programFolder), ruleFiles)[i]) {
            continue;
        }
        pool->QueueTask(
            [search = SiteSearch{&window, ruleFiles[i], i, generation}] { SearchSite(search); });
        std::this_thread::sleep_for(kQueuePause);
        if (IsCancelled(generation)) {
            break;
        }
    }
    pool->Drain();
    pool->WaitAllExited();
    if (!ProcessSearchResultFile().Flush()) {
        ReportEnd(window, generation, std::u16string(kNoResultFileStatus));
        return;
    }
    ReportEnd(window, generation, FinalStatus());
}

// Runs one search to its end: queues the selected sites, waits for them, reports the total.
void SearchThread(WindowPort* window, std::u16string programFolder, uint64_t generation) {
    RunSearch(*window, programFolder, generation);
    // Last: once counted out, the thread touches neither the window nor the search state.
    --ProcessSearchState().LiveSearchThreads;
}

} // namespace

SearchState& ProcessSearchState() {
    // Never destroyed: a stopped search's pause may still be running while the process ends.
    static auto* state = new SearchState;
    return *state;
}

bool IsSearchRunning() {
    return ProcessSearchState().SearchRunning.load();
}

bool IsSearchIdle() {
    return ProcessSearchState().LiveSearchThreads.load() == 0;
}

uint64_t CurrentTick() {
    auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

void RunSearchCommand(WindowPort& window, const std::u16string& programFolder) {
    if (TrimSearchText(window.SearchText()).empty()) {
        window.ShowMessage(u"请在文本框中输入要搜索的小说名称或作者名称！",
                           MessageIcon::Information, MessageButtons::Ok);
        return;
    }
    if (IsSearchRunning()) {
        StopSearch(window);
        return;
    }
    if (!IsAnySiteSelected(programFolder)) {
        window.SetStatusText(std::u16string(kNoSiteSelectedStatus));
        return;
    }
    StartSearch(window, programFolder);
}

} // namespace velunor
