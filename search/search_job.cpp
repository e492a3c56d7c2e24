// The search command, the search thread and the per-site search task.

#include "search/search_job.h"

#include "core/core.h"
#include "net/fetcher.h"
#include "pool/worker_pool.h"
#include "rules/rules.h"
#include "search/site_selection.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace velunor {
namespace {

constexpr int kSearchWorkers = 20;
constexpr auto kQueuePause = std::chrono::milliseconds(10);
constexpr auto kStopPause = std::chrono::milliseconds(3000);
constexpr uint64_t kShortestRunSeconds = 3;

constexpr const char16_t* kIdleCaption = u"搜索";
constexpr const char16_t* kRunningCaption = u"停止搜索";
constexpr std::u16string_view kResultFileStart = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

std::u16string ResultFilePath(const std::u16string& programFolder) {
    return programFolder + u"Config/SearchResult.xml";
}

std::u16string SelectionFilePath(const std::u16string& programFolder) {
    return programFolder + u"Config/TargetSiteSelect.xml";
}

bool IsCurrent(uint64_t generation) {
    return ProcessSearchState().SearchGeneration.load() == generation;
}

bool IsCancelled(uint64_t generation) {
    return ProcessSearchState().SearchCancelled.load() || !IsCurrent(generation);
}

void ResetResultFile(const std::u16string& programFolder) {
    std::u16string path = ResultFilePath(programFolder);
    std::remove(NativePath(path).c_str());
    CreateFolderPath(programFolder + u"Config");
    CXmlDocument document;
    document.SetDocumentText(kResultFileStart);
    document.SaveFile(path);
}

struct Hit {
    std::u16string name;
    std::u16string author;
    std::u16string latestChapter;
    std::u16string infoPageUrl;
};

// Appends one SearchResult element; the caller holds SearchResultLock.
void AppendResultElement(const SiteSearchArgs& args, const CSiteRule& rule, const Hit& hit) {
    std::u16string path = ResultFilePath(args.programFolder);
    CXmlDocument document;
    document.LoadFile(path);
    document.AddElement(u"SearchResult");
    document.EnterElement();
    document.AddElement(u"TargetSite", rule.SiteName);
    document.AddElement(u"RuleFile", args.ruleFile);
    document.AddElement(u"NovelName", hit.name);
    document.AddElement(u"NovelAuthor", hit.author);
    document.AddElement(u"LatestChapter", hit.latestChapter);
    document.AddElement(u"InfoPageUrl", hit.infoPageUrl);
    document.SaveFile(path);
}

// Adds one hit as a list row and a file element. Hits of a search that a newer one has
// overtaken are dropped. Returns false when the hit was dropped.
bool AddHit(const SiteSearchArgs& args, const CSiteRule& rule, const Hit& hit,
            const std::u16string& status) {
    SearchState& state = ProcessSearchState();
    std::lock_guard lock(state.SearchResultLock);
    if (!IsCurrent(args.generation)) {
        return false;
    }
    WindowPort& window = *args.window;
    window.AppendResultRow({DecimalText(window.ResultRowCount() + 1), rule.SiteName, hit.name,
                            hit.author, hit.latestChapter});
    ++state.SearchHitCount;
    if (!status.empty()) {
        window.SetStatusText(status);
    }
    AppendResultElement(args, rule, hit);
    return true;
}

// The site answered with one novel's page through a redirect.
void AddRedirectedHit(const SiteSearchArgs& args, const CSiteRule& rule,
                      const std::u16string& searchUrl, const FetchResult& answer) {
    std::u16string target = LocationText(answer);
    // A relative target cannot be fetched as it is.
    CompleteUrl(searchUrl, target);
    if (target.empty() || IsCancelled(args.generation)) {
        return;
    }
    FetchResult novelAnswer;
    std::u16string page = FetchPage(novelAnswer, target);
    if (novelAnswer.StatusCode != 200) {
        return;
    }
    if (IsUtf8Site(rule)) {
        page = ReinterpretAsUtf8(page);
    }
    NovelInfo info;
    ExtractNovelInfo(rule.InfoPage, page, info);
    if (info.NovelName.empty()) {
        return;
    }
    WindowPort& window = *args.window;
    window.SetStatusText(u"从目标站 <" + rule.SiteName + u"> 搜索完成，在该站搜索到 1 本小说。");
    AddHit(args, rule, {info.NovelName, info.NovelAuthor, info.LatestChapter, target}, {});
}

// The site answered with a list of hits.
void AddListedHits(const SiteSearchArgs& args, const CSiteRule& rule,
                   const std::u16string& searchUrl, std::u16string page) {
    if (IsUtf8Site(rule)) {
        page = ReinterpretAsUtf8(page);
    }
    SearchResultSet results;
    size_t count = static_cast<size_t>(ExtractSearchResults(page, rule.SearchPage, results));
    count = std::min({count, results.NovelName.size(), results.NovelAuthor.size(),
                      results.LatestChapter.size(), results.NovelInfoPageUrl.size()});
    for (size_t k = 0; k < count; ++k) {
        std::u16string link = results.NovelInfoPageUrl[k];
        CompleteUrl(searchUrl, link);
        std::u16string status = u"从目标站 <" + rule.SiteName + u"> 搜索完成，在该站搜索到 " +
                                DecimalText(static_cast<long long>(k + 1)) + u" 本小说。";
        if (!AddHit(args, rule,
                    {results.NovelName[k], results.NovelAuthor[k], results.LatestChapter[k], link},
                    status)) {
            return;
        }
    }
}

void SearchSite(const SiteSearchArgs& args) {
    if (IsCancelled(args.generation)) {
        return;
    }
    WindowPort& window = *args.window;
    std::u16string key = window.SearchText();
    CSiteRule rule = LoadSiteRule(args.ruleFile);
    std::u16string searchUrl = rule.SearchPage.SearchPageUrlFormat;
    ReplaceAll(searchUrl, u"{KEY}", key);
    window.SetStatusText(u"正从目标站 <" + rule.SiteName + u"> 进行搜索……");
    if (IsCancelled(args.generation)) {
        return;
    }
    FetchResult answer;
    std::u16string page = FetchPage(answer, searchUrl);
    if (answer.StatusCode == 302) {
        AddRedirectedHit(args, rule, searchUrl, answer);
    } else if (answer.StatusCode == 200) {
        AddListedHits(args, rule, searchUrl, std::move(page));
    }
}

void StartSearch(WindowPort& window, const std::u16string& programFolder) {
    SearchState& state = ProcessSearchState();
    if (window.GetViewMode() != ViewMode::SearchResults) {
        window.SetViewMode(ViewMode::SearchResults);
    }
    window.SetSearchButtonCaption(kRunningCaption);
    state.SearchHitCount = 0;
    state.SearchStartTick = CurrentTick();
    uint64_t generation = ++state.SearchGeneration;
    std::thread(SearchThread, &window, programFolder, generation).detach();
    window.SetStatusText(u"搜索任务已启动……");
}

void StopSearch(WindowPort& window) {
    SearchState& state = ProcessSearchState();
    uint64_t elapsedSeconds = (CurrentTick() - state.SearchStartTick.load()) / 1000;
    if (elapsedSeconds < kShortestRunSeconds) {
        window.ShowMessage(u"搜索任务的启动与终止间隔时间太短（小于3秒），请合理进行操作！",
                           MessageIcon::Exclamation, MessageButtons::Ok);
        return;
    }
    window.SetSearchButtonCaption(kIdleCaption);
    std::this_thread::sleep_for(kStopPause);
    state.SearchCancelled = true;
}

} // namespace

SearchState& ProcessSearchState() {
    static SearchState state;
    return state;
}

uint64_t CurrentTick() {
    auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

void RunSearchCommand(WindowPort& window, const std::u16string& programFolder) {
    if (window.SearchText().empty()) {
        window.ShowMessage(u"请在文本框中输入要搜索的小说名称或作者名称！",
                           MessageIcon::Information, MessageButtons::Ok);
        return;
    }
    ProcessSearchState().SearchCancelled = false;
    if (window.SearchButtonCaption() == kIdleCaption) {
        StartSearch(window, programFolder);
    } else {
        StopSearch(window);
    }
}

void SearchThread(WindowPort* window, std::u16string programFolder, uint64_t generation) {
    SearchState& state = ProcessSearchState();
    window->DeleteAllResultRows();
    std::vector<std::u16string> ruleFiles = EnumerateRuleFiles();
    {
        std::lock_guard lock(state.SearchResultLock);
        ResetResultFile(programFolder);
    }
    auto pool = std::make_unique<CWorkerPool>(kSearchWorkers);
    for (size_t i = 0; i < ruleFiles.size(); ++i) {
        // Read again for every rule, as the dialog may store a new choice meanwhile.
        std::u16string selection = ReadSiteSelection(SelectionFilePath(programFolder));
        if (!IsSiteSelected(selection, static_cast<int>(i))) {
            continue;
        }
        pool->QueueTask(SiteSearchTask,
                        new SiteSearchArgs{window, ruleFiles[i], programFolder, generation});
        std::this_thread::sleep_for(kQueuePause);
        if (IsCancelled(generation)) {
            break;
        }
    }
    pool->Drain();
    pool->WaitAllExited();
    if (!IsCurrent(generation)) {
        return;
    }
    if (state.SearchCancelled) {
        window->SetStatusText(u"搜索任务被终止！");
    } else {
        window->SetStatusText(u"搜索完成，共搜索到 " + DecimalText(state.SearchHitCount.load()) +
                              u" 本小说。");
    }
    window->SetSearchButtonCaption(kIdleCaption);
}

void SiteSearchTask(void* argument) {
    std::unique_ptr<SiteSearchArgs> args(static_cast<SiteSearchArgs*>(argument));
    SearchSite(*args);
}

} // namespace velunor
