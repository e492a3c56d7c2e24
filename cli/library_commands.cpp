// The library commands of velunor-cli: download a search hit, fetch a chapter again, and the
// bookshelf.

#include "cli/library_commands.h"

#include "cli/cli_support.h"
#include "cli/console_port.h"
#include "core/core.h"
#include "library/library.h"
#include "results/search_result_file.h"
#include "xml/xml_document.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velunor::cli {
namespace {

// The console of a download: besides the status lines, how far the chapters have come. On a
// terminal that is one line rewritten in place below the status lines; in a log or a pipe, a
// line for every tenth of the chapters, so that a long novel does not flood it.
class DownloadConsole : public ConsolePort {
  public:
    explicit DownloadConsole(bool terminal) : terminal_(terminal) {}

    void SetStatusText(const std::u16string& text) override {
        std::lock_guard lock(mutex_);
        EraseProgress();
        ConsolePort::SetStatusText(text);
        DrawProgress();
    }

    void ShowDownloadProgress(int done, int total, int failed) override {
        std::lock_guard lock(mutex_);
        if (total == 0) {
            return;
        }
        progress_ = u"已完成 " + DecimalText(done) + u"/" + DecimalText(total) + u" 章，失败 " +
                    DecimalText(failed) + u" 章";
        if (terminal_) {
            EraseProgress();
            DrawProgress();
            return;
        }
        int tenths = done * 10 / total;
        if (tenths > printedTenths_) {
            printedTenths_ = tenths;
            PrintLine(progress_);
        }
    }

    /// Ends the line rewritten in place, so that what follows starts below it.
    void EndProgress() {
        std::lock_guard lock(mutex_);
        if (terminal_ && !progress_.empty()) {
            Write("\n");
        }
    }

  private:
    void Write(const std::string& bytes) {
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        std::fflush(stdout);
    }

    void EraseProgress() {
        if (terminal_ && !progress_.empty()) {
            Write("\r\x1b[K");
        }
    }

    void DrawProgress() {
        if (terminal_ && !progress_.empty()) {
            Write(WideToUtf8(progress_));
        }
    }

    const bool terminal_;
    std::mutex mutex_;
    std::u16string progress_;
    int printedTenths_ = 0;
};

// Appends `value` right-aligned in a column `width` characters wide, and the two spaces after
// the column.
void AppendColumn(std::u16string& line, long long value, size_t width) {
    std::u16string text = DecimalText(value);
    line.append(width > text.size() ? width - text.size() : 0, u' ');
    line += text;
    line += u"  ";
}

// The shelf as a table: the number that the other commands take, the new, unread and unfinished
// chapters of each novel, and the novel. The counts come first, where a column of figures lines
// up whatever the names' widths.
void PrintShelf(const CBookShelfModel& model) {
    if (model.ItemCount() == 0) {
        PrintLine(u"the bookshelf is empty");
        return;
    }
    // A write per hundred novels: a long shelf would otherwise cost a write per novel, or a
    // copy of itself held three times over. The headings are two columns a character wide on a
    // terminal.
    constexpr size_t kRowsPerWrite = 100;
    std::u16string lines = u"编号  新章节  未读  未完成  小说";
    for (size_t i = 0; i < model.ItemCount(); ++i) {
        const ShelfItem& item = model.Item(static_cast<int>(i));
        if (i % kRowsPerWrite == kRowsPerWrite - 1) {
            PrintLine(lines);
            lines.clear();
        } else {
            lines += u"\n";
        }
        AppendColumn(lines, static_cast<long long>(i) + 1, 4);
        AppendColumn(lines, item.NewChapters, 6);
        AppendColumn(lines, item.Unread, 4);
        AppendColumn(lines, item.Unfinished, 6);
        lines += BookItemText(item.Entry.TargetSite, item.Entry.NovelName);
    }
    PrintLine(lines);
}

// The shelf in the order the window shows it, so that the numbers the commands take are the
// ones the reader sees there too.
CBookShelfModel LoadShelf() {
    CBookShelfModel model(GetProgramFolder());
    model.SetNewChaptersFirst(LoadShelfSettings(GetProgramFolder()).NewChaptersFirst);
    model.LoadBookShelf();
    return model;
}

// The novel item that the argument `text` numbers; -1, having said so, when it numbers none.
int ParseNovelNumber(const char* text, const CBookShelfModel& model) {
    int item = ParseItemIndex(text, model.ItemCount());
    if (item < 0) {
        PrintError(u"\"" + Wide(text) +
                   u"\" is not a novel of the bookshelf (see velunor-cli shelf)");
    }
    return item;
}

// The most failed chapters whose reasons a job's end lists; the rest are counted.
constexpr size_t kListedFailures = 20;

// Says, with libcurl's and the site's own words, why the job stopped at its site and why each
// chapter that failed did.
void PrintFailures(const NovelJobOutcome& outcome) {
    if (outcome.Error.Failed()) {
        PrintLine(u"原因：" + TechnicalReason(outcome.Error));
    }
    size_t listed = std::min(outcome.Failures.size(), kListedFailures);
    for (size_t i = 0; i < listed; ++i) {
        const ChapterFailure& failure = outcome.Failures[i];
        PrintLine(u"失败：" + failure.Name + u"：" + TechnicalReason(failure.Error));
    }
    if (outcome.Failures.size() > listed) {
        PrintLine(u"另有 " + DecimalText(static_cast<long long>(outcome.Failures.size() - listed)) +
                  u" 章失败。");
    }
}

// Runs `job` with a console that shows its progress; 0 when it stored every chapter it
// fetched and nothing else went wrong.
int RunWithProgress(const std::function<NovelJobOutcome(DownloadConsole&)>& job) {
    DownloadConsole window(isatty(STDOUT_FILENO) == 1);
    NovelJobOutcome outcome = job(window);
    window.EndProgress();
    PrintFailures(outcome);
    return outcome.Succeeded() ? 0 : 1;
}

// velunor-cli update N and retry N.
int RunShelfJob(int argc, char** argv, ShelfJob job) {
    if (argc != 3) {
        PrintError(job == ShelfJob::Update ? u"usage: velunor-cli update N|all"
                                           : u"usage: velunor-cli retry N");
        return 2;
    }
    CBookShelfModel model = LoadShelf();
    int item = ParseNovelNumber(argv[2], model);
    if (item < 0) {
        return 2;
    }
    std::u16string folder = model.NovelFolder(item);
    return RunWithProgress([&](DownloadConsole& window) {
        return job == ShelfJob::Update ? UpdateNovel(window, GetProgramFolder(), folder)
                                       : RetryNovel(window, GetProgramFolder(), folder);
    });
}

// velunor-cli update all: the progress lines and the summary; Ctrl-C stops it, as the shelf's
// "停止全部更新" does. 0 when every novel was updated without a failure.
int RunUpdateAll() {
    ConsolePort window;
    UpdateAllOutcome outcome;
    std::atomic<bool> ended{false};
    std::thread round([&] {
        outcome = UpdateAllNovels(window, GetProgramFolder());
        ended = true;
    });
    CatchInterrupt();
    window.WaitUntil(
        [&] {
            if (TakeInterrupt()) {
                StopUpdateAll();
            }
            return ended.load();
        },
        std::chrono::milliseconds(100));
    round.join();
    for (const FailedUpdate& failed : outcome.Failed) {
        PrintLine(u"失败：" + failed.Novel + u"：" + failed.Why);
    }
    if (outcome.Stopped) {
        return 130;
    }
    return outcome.Failed.empty() && !outcome.AlreadyRunning ? 0 : 1;
}

} // namespace

int RunDownload(int argc, char** argv) {
    if (argc != 3) {
        PrintError(u"usage: velunor-cli download N|URL");
        return 2;
    }
    // A delete that a killed process left half done must not meet the novel downloaded again.
    ClearDeletedNovels(GetProgramFolder());
    std::u16string argument = Wide(argv[2]);
    if (IsPageAddress(argument)) {
        return RunWithProgress([&](DownloadConsole& window) {
            window.ShowWaitPage();
            window.SetViewMode(ViewMode::Reading);
            return DownloadNovelAtAddress(window, GetProgramFolder(), argument);
        });
    }
    std::vector<SearchHit> hits = ReadSearchHits(GetProgramFolder());
    int row = ParseItemIndex(argv[2], hits.size());
    if (row < 0) {
        PrintError(u"\"" + Wide(argv[2]) + u"\" is not a row of the last search (1 to " +
                   DecimalText(static_cast<long long>(hits.size())) + u"; see velunor-cli search)");
        return 2;
    }
    // The terminal has nothing else to do meanwhile, so the job runs on this thread.
    return RunWithProgress([&](DownloadConsole& window) {
        window.ShowWaitPage();
        window.SetViewMode(ViewMode::Reading);
        return DownloadSearchHit(window, GetProgramFolder(), hits[static_cast<size_t>(row)]);
    });
}

int RunUpdate(int argc, char** argv) {
    if (argc == 3 && std::string(argv[2]) == "all") {
        return RunUpdateAll();
    }
    return RunShelfJob(argc, argv, ShelfJob::Update);
}

int RunRetry(int argc, char** argv) {
    return RunShelfJob(argc, argv, ShelfJob::Retry);
}

int RunRefetch(int argc, char** argv) {
    if (argc != 3) {
        PrintError(u"usage: velunor-cli refetch PAGE.html");
        return 2;
    }
    ConsolePort window;
    std::u16string page = ResolveArgumentPath(argv[2]);
    // A page that cannot be read shows no hidden fields, and the fetch would then blame the
    // library for a file it never saw.
    std::u16string html;
    if (!CXmlDocument::ReadTextAsWide(nullptr, page, html, nullptr, nullptr)) {
        window.SetStatusText(u"无法读取本页文件，未做任何改动！");
        return 1;
    }
    window.ShowPageFile(page);
    ChapterRefetch refetch = OnDemandChapterFetch(&window, GetProgramFolder());
    if (refetch.Outcome == RefetchOutcome::Failed) {
        if (refetch.Error.Failed()) {
            PrintLine(u"原因：" + TechnicalReason(refetch.Error));
        }
        return 1;
    }
    // A chapter already as the site has it is no failure.
    return 0;
}

int RunShelf(int argc, char** argv) {
    CBookShelfModel model = LoadShelf();
    if (argc == 2) {
        PrintShelf(model);
        return 0;
    }
    std::string action = argc == 4 ? argv[2] : "";
    if (action != "open" && action != "delete") {
        PrintError(u"usage: velunor-cli shelf [open N | delete N]");
        return 2;
    }
    int item = ParseNovelNumber(argv[3], model);
    if (item < 0) {
        return 2;
    }
    if (action == "open") {
        ConsolePort window;
        model.OpenContents(item, window);
        return 0;
    }
    std::u16string text = ShelfItemLabel(model.Item(item));
    // The status lines say why a novel that could not be taken off the shelf is still there.
    ConsolePort window;
    if (!model.DeleteBook(item, window)) {
        return 1;
    }
    PrintLine(u"deleted: " + text);
    PrintShelf(model);
    return 0;
}

} // namespace velunor::cli
