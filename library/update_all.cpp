// Updating every novel on the bookshelf at once.

#include "library/update_all.h"

#include "core/core.h"
#include "library/book_shelf_file.h"
#include "library/novel_download_job.h"
#include "net/cookie_jar.h"
#include "port/status_source.h"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace velunor {
namespace {

std::atomic<bool> g_running{false};
std::atomic<bool> g_stopAsked{false};

// The most failed novels the summary names; the rest are counted.
constexpr size_t kNamedFailures = 10;

// The window as one novel's update sees it during an update of every novel: the novel's own
// status lines, download progress and pages stay off the window, which shows the progress of
// the whole; its last status line is kept, as it says why a failed update failed.
class NovelUpdatePort : public WindowPort {
  public:
    explicit NovelUpdatePort(WindowPort& window) : window_(window) {}

    std::u16string LastStatus() const {
        return last_;
    }

    std::u16string SearchText() override {
        return window_.SearchText();
    }
    void SetSearchText(const std::u16string& text) override {
        window_.SetSearchText(text);
    }
    std::u16string SearchButtonCaption() override {
        return window_.SearchButtonCaption();
    }
    void SetSearchButtonCaption(const std::u16string& caption) override {
        window_.SetSearchButtonCaption(caption);
    }
    void SetStatusText(const std::u16string& text) override {
        std::lock_guard lock(mutex_);
        last_ = text;
    }
    ViewMode GetViewMode() override {
        return window_.GetViewMode();
    }
    void SetViewMode(ViewMode) override {}
    void DeleteAllResultRows() override {
        window_.DeleteAllResultRows();
    }
    int ResultRowCount() override {
        return window_.ResultRowCount();
    }
    void AppendResultRow(const ResultRow& row) override {
        window_.AppendResultRow(row);
    }
    int FirstSelectedResultRow() override {
        return window_.FirstSelectedResultRow();
    }
    ResultRow ResultRowTexts(int row) override {
        return window_.ResultRowTexts(row);
    }
    void AppendBookItem(const std::u16string& text) override {
        window_.AppendBookItem(text);
    }
    void BookShelfChanged() override {
        window_.BookShelfChanged();
    }
    void NovelJobEnded(const std::u16string& folder) override {
        window_.NovelJobEnded(folder);
    }
    void ShowDownloadProgress(int, int, int) override {}
    void ShowWaitPage() override {}
    void NavigateAsync(const std::u16string&) override {}
    std::u16string GetElementInnerHtml(const std::u16string& id) override {
        return window_.GetElementInnerHtml(id);
    }
    MessageAnswer ShowMessage(const std::u16string& text, MessageIcon icon,
                              MessageButtons buttons) override {
        return window_.ShowMessage(text, icon, buttons);
    }

  private:
    WindowPort& window_;
    std::mutex mutex_;
    std::u16string last_;
};

// The shelf's novels by site, in shelf order; a folder the shelf lists twice comes once.
std::map<std::u16string, std::vector<BookEntry>> NovelsBySite(const std::u16string& programFolder,
                                                              int& count) {
    std::map<std::u16string, std::vector<BookEntry>> sites;
    std::set<std::u16string> folders;
    for (BookEntry& entry : ReadBookShelf(programFolder)) {
        if (folders.insert(NovelFolderOfContentsPage(entry.ContentsPagePath)).second) {
            sites[entry.TargetSite].push_back(std::move(entry));
        }
    }
    count = static_cast<int>(folders.size());
    return sites;
}

// One update of every novel: its progress, shared by the site threads.
class UpdateRound {
  public:
    UpdateRound(WindowPort& window, const std::u16string& programFolder, int novels)
        : window_(window), programFolder_(programFolder) {
        outcome_.Novels = novels;
    }

    // Updates the novels of one site one after another, until the last or a stop.
    void UpdateSite(const std::vector<BookEntry>& novels) {
        for (const BookEntry& novel : novels) {
            if (g_stopAsked.load()) {
                return;
            }
            UpdateOne(novel);
        }
    }

    UpdateAllOutcome Outcome() {
        std::lock_guard lock(mutex_);
        outcome_.Stopped = g_stopAsked.load() && outcome_.Updated < outcome_.Novels;
        return outcome_;
    }

  private:
    void UpdateOne(const BookEntry& novel) {
        std::u16string name = BookItemText(novel.TargetSite, novel.NovelName);
        {
            std::lock_guard lock(mutex_);
            window_.SetStatusText(u"正在更新 " + DecimalText(++started_) + u"/" +
                                  DecimalText(outcome_.Novels) + u"：" + name);
        }
        NovelUpdatePort port(window_);
        NovelJobOutcome job =
            UpdateNovel(port, programFolder_, NovelFolderOfContentsPage(novel.ContentsPagePath),
                        [] { return g_stopAsked.load(); });
        std::lock_guard lock(mutex_);
        if (job.Stopped) {
            return;
        }
        ++outcome_.Updated;
        outcome_.NovelsWithNew += job.NewChapters > 0 ? 1 : 0;
        outcome_.NewChapters += job.NewChapters;
        if (!job.Succeeded()) {
            outcome_.Failed.push_back({novel.NovelName, port.LastStatus()});
        }
    }

    WindowPort& window_;
    const std::u16string& programFolder_;
    std::mutex mutex_;
    int started_ = 0;
    UpdateAllOutcome outcome_;
};

std::u16string FailedPart(const std::vector<FailedUpdate>& failed) {
    if (failed.empty()) {
        return {};
    }
    std::u16string names;
    for (size_t i = 0; i < failed.size() && i < kNamedFailures; ++i) {
        names += (i > 0 ? u"、" : u"") + failed[i].Novel;
    }
    if (failed.size() > kNamedFailures) {
        names += u"等";
    }
    return u"；" + DecimalText(static_cast<long long>(failed.size())) + u" 本失败：" + names;
}

std::u16string NewPart(const UpdateAllOutcome& outcome) {
    if (outcome.NovelsWithNew == 0) {
        return u"没有新章节";
    }
    return DecimalText(outcome.NovelsWithNew) + u" 本有新章节，共 " +
           DecimalText(outcome.NewChapters) + u" 章";
}

} // namespace

std::u16string UpdateAllSummary(const UpdateAllOutcome& outcome) {
    if (outcome.AlreadyRunning) {
        return u"全部更新正在进行，请等它完成或先停止。";
    }
    if (outcome.Novels == 0) {
        return u"书架上没有小说，无需更新。";
    }
    if (outcome.Stopped) {
        return u"已停止：已更新 " + DecimalText(outcome.Updated) + u"/" +
               DecimalText(outcome.Novels) + u" 本，" + NewPart(outcome) +
               FailedPart(outcome.Failed);
    }
    return u"全部更新完成：" + NewPart(outcome) + FailedPart(outcome.Failed);
}

UpdateAllOutcome UpdateAllNovels(WindowPort& window, const std::u16string& programFolder) {
    UpdateAllOutcome busy;
    if (g_running.exchange(true)) {
        busy.AlreadyRunning = true;
        window.SetStatusText(UpdateAllSummary(busy));
        return busy;
    }
    g_stopAsked = false;
    int count = 0;
    auto sites = NovelsBySite(programFolder, count);
    UpdateRound round(window, programFolder, count);
    std::vector<std::thread> threads;
    // The site threads' lines are the lines of the job that started the round.
    const unsigned source = CurrentStatusSource();
    for (const auto& [site, novels] : sites) {
        threads.emplace_back([&round, &novels = novels, source] {
            CStatusSourceScope scope(source);
            round.UpdateSite(novels);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    UpdateAllOutcome outcome = round.Outcome();
    // Over before its summary shows, so that whoever sees the summary may start another.
    g_running = false;
    window.SetStatusText(UpdateAllSummary(outcome));
    return outcome;
}

void StopUpdateAll() {
    if (g_running.load()) {
        g_stopAsked = true;
    }
}

bool UpdateAllRunning() {
    return g_running.load();
}

void StartUpdateAll(WindowPort& window, const std::u16string& programFolder) {
    std::thread([&window, programFolder] {
        CStatusSourceScope source;
        UpdateAllNovels(window, programFolder);
        // A cookie a site set in the last seconds of the round goes to its file now.
        SaveCookieJars();
    }).detach();
}

} // namespace velunor
