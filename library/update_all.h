#pragma once
// Updating every novel on the bookshelf at once: the novels of one site one after another, so
// that each site sees one novel's requests at a time at its own pace, and the sites side by
// side, one thread each, so that a slow site does not hold up the others. The status line
// shows which novel is being updated ("正在更新 12/100：site - novel") and ends with a summary.

#include "port/window_port.h"

#include <string>
#include <vector>

namespace velunor {

/// A novel whose update failed, and the last status line of its update, which says why.
struct FailedUpdate {
    std::u16string Novel;
    std::u16string Why;
};

/// What an update of every novel did.
struct UpdateAllOutcome {
    /// Another update of every novel ran in this process already; this one did nothing.
    bool AlreadyRunning = false;
    /// It was stopped before every novel was updated.
    bool Stopped = false;
    /// The novels on the shelf (each novel folder once), and those whose update ended.
    int Novels = 0;
    int Updated = 0;
    /// Novels that gained chapters, and how many chapters they gained together.
    int NovelsWithNew = 0;
    int NewChapters = 0;
    /// In the order their updates ended.
    std::vector<FailedUpdate> Failed;
};

/// The summary line: "全部更新完成：37 本有新章节，共 214 章；2 本失败：甲、乙",
/// "全部更新完成：没有新章节", or after a stop "已停止：已更新 12/100 本，……".
std::u16string UpdateAllSummary(const UpdateAllOutcome& outcome);

/// Updates every novel on the shelf of `programFolder` as UpdateNovel does, novels of one site
/// in shelf order, the sites at once; shows the progress on the status line (the novels' own
/// status lines and download progress are not shown) and ends with UpdateAllSummary. One runs
/// at a time in a process: a second call returns at once with AlreadyRunning. Blocks until every
/// site is done or, after StopUpdateAll, until the running novels have stopped.
UpdateAllOutcome UpdateAllNovels(WindowPort& window, const std::u16string& programFolder);

/// Asks the running update of every novel to stop: no novel starts any more and the running
/// ones stop as StopJobOfNovel stops them. Nothing happens when none runs. Any thread.
void StopUpdateAll();

/// True while an update of every novel runs in this process.
bool UpdateAllRunning();

/// Runs UpdateAllNovels on a detached thread and returns at once; `window` must outlive it.
void StartUpdateAll(WindowPort& window, const std::u16string& programFolder);

} // namespace velunor
