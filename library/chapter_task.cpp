// The chapter task.

#include "library/chapter_task.h"

#include "core/core.h"
#include "library/internal/chapter_fetch.h"

namespace velunor {
namespace {

// A chapter's outcome: the state its page and the index get, and what its page shows.
struct ChapterOutcome {
    ChapterState State;
    std::u16string Content;
    std::u16string Reason;
    SiteError Error;
};

ChapterOutcome Failure(ChapterState state, std::u16string reason, SiteError error) {
    return {state, FailedChapterNotice(reason), std::move(reason), std::move(error)};
}

bool WriteChapterPage(const ChapterTask& task, ChapterState state, std::u16string_view content) {
    std::u16string encoding = task.Job->PageEncoding;
    return WritePage(
        encoding, task.PagePath,
        ComposeChapterPage(task.Job->PageTemplate, task.Fields, PageStateOf(state), content));
}

void SetStatus(const ChapterTask& task, const std::u16string& text) {
    std::lock_guard lock(task.Job->DownloadLock);
    task.Job->Window.SetStatusText(text);
}

ChapterOutcome FetchOutcome(const ChapterTask& task) {
    const Site& site = *task.Site;
    FetchedChapter chapter =
        FetchChapter(site, task.Fields.ChapterUrl,
                     {task.ContentsUrl, task.NextChapterUrl, false, task.Job->Stopped});
    if (!chapter.Ok()) {
        if (chapter.Error.Kind == SiteErrorKind::Refused) {
            ++task.Job->BlockedChapters;
            SetStatus(task, site.BlockedMessage());
        }
        return Failure(ChapterState::Failed, internal::ChapterFailureReason(chapter),
                       chapter.Error);
    }
    if (!chapter.HasContent()) {
        return Failure(ChapterState::Empty, std::u16string(internal::kNoTextReason),
                       MakeSiteError(SiteErrorKind::NoMatch, task.Fields.ChapterUrl));
    }
    std::u16string text;
    SiteError imageError = internal::ComposeChapterText(site, chapter, site.Rule().ReplaceRule,
                                                        task.PagePath, text, {});
    if (imageError.Failed()) {
        return Failure(ChapterState::Failed, internal::ImageFailureReason(imageError), imageError);
    }
    return {ChapterState::Stored, std::move(text), {}, {}};
}

} // namespace

ChapterJob::ChapterJob(WindowPort& window, CIndexRecorder& index, std::u16string pageTemplate,
                       std::u16string pageEncoding, int total, CancelTest stopped)
    : Window(window), Index(index), PageTemplate(std::move(pageTemplate)),
      PageEncoding(std::move(pageEncoding)), Stopped(std::move(stopped)) {
    Tally.Total = total;
}

std::vector<ChapterFailure> ChapterJob::TakeFailures() {
    std::lock_guard lock(DownloadLock);
    return std::move(Failures);
}

void ChapterJob::CountChapter(bool stored) {
    ++Tally.Done;
    Tally.Failed += stored ? 0 : 1;
    Window.ShowDownloadProgress(Tally.Done, Tally.Total, Tally.Failed);
}

bool WritePendingPage(const ChapterTask& task) {
    return WriteChapterPage(task, ChapterState::Pending, PendingChapterNotice());
}

// Leaves the chapter of a stopped job pending, as its page already says, for a later job.
void LeavePending(const ChapterTask& task) {
    task.Job->Index.Record(task.Position, ChapterState::Pending, {});
    ++task.Job->StoppedChapters;
}

void RunChapterTask(const ChapterTask& task) {
    if (task.Job->StopAsked()) {
        LeavePending(task);
        return;
    }
    CStatusSourceScope source(task.Job->StatusSource);
    SetStatus(task, u"正在下载 " + task.Fields.ChapterName + u" ……");
    ChapterOutcome outcome = FetchOutcome(task);
    if (outcome.Error.Kind == SiteErrorKind::Cancelled) {
        LeavePending(task);
        return;
    }
    // A page that could not be written holds no text, whatever the site gave.
    if (!WriteChapterPage(task, outcome.State, outcome.Content) &&
        outcome.State == ChapterState::Stored) {
        outcome = {ChapterState::Failed,
                   {},
                   u"无法写入章节文件",
                   MakeSiteError(SiteErrorKind::WriteFailed, task.PagePath)};
    }
    bool stored = outcome.State == ChapterState::Stored;
    task.Job->Index.Record(task.Position, outcome.State, outcome.Reason);
    std::lock_guard lock(task.Job->DownloadLock);
    if (stored) {
        task.Job->Window.SetStatusText(u"成功下载章节： " + task.Fields.ChapterName);
    } else {
        task.Job->Window.SetStatusText(u"章节下载失败： " + task.Fields.ChapterName + u"（" +
                                       outcome.Reason + u"）");
        task.Job->Failures.push_back({task.Fields.ChapterName, std::move(outcome.Error)});
    }
    task.Job->CountChapter(stored);
}

} // namespace velunor
