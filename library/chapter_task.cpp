// The chapter task.

#include "library/chapter_task.h"

#include "core/core.h"
#include "library/internal/chapter_fetch.h"
#include "library/library_layout.h"

namespace velunor {
namespace {

// Writes the page in `state`, showing `content` where the chapter text goes; false when the
// page could not be written.
bool WriteChapterPage(const ChapterTask& task, std::u16string& encoding, std::u16string& page,
                      std::u16string_view state, std::u16string_view content) {
    ReplaceAll(page, kDownStatePlaceholder, state);
    ReplaceChapterText(page, content);
    return WritePage(encoding, task.PageFile, page);
}

void WriteFailure(const ChapterTask& task, std::u16string& encoding, std::u16string& page,
                  std::u16string_view state, std::u16string_view reason) {
    WriteChapterPage(task, encoding, page, state, FailedChapterNotice(reason));
}

void SetStatus(const ChapterTask& task, const std::u16string& text) {
    std::lock_guard lock(task.Job->DownloadLock);
    task.window->SetStatusText(text);
}

// Fetches the chapter into its page; true when its text was stored.
bool CompleteChapter(const ChapterTask& task, std::u16string& encoding, std::u16string& page) {
    const internal::SiteAccess& site = *task.Site;
    internal::FetchedChapter chapter = internal::FetchChapter(
        site, task.ChapterUrl, {task.ContentsUrl, task.NextChapterUrl, false});
    if (!chapter.Ok()) {
        WriteFailure(task, encoding, page, kStateFailed, chapter.FailureReason());
        if (chapter.Blocked) {
            ++task.Job->BlockedChapters;
            SetStatus(task, BlockedSiteMessage(site.Rule));
        }
        return false;
    }
    if (!chapter.HasContent()) {
        WriteFailure(task, encoding, page, kStateNoText, internal::kNoTextReason);
        return false;
    }
    std::u16string text;
    if (!internal::ComposeChapterText(site, chapter, site.Rule.ReplaceRule, task.PageFile, text,
                                      {})) {
        WriteFailure(task, encoding, page, kStateFailed, internal::kImageFailedReason);
        return false;
    }
    if (!WriteChapterPage(task, encoding, page, kStateStored, text)) {
        return false;
    }
    SetStatus(task, u"成功下载章节： " + task.ChapterName);
    return true;
}

} // namespace

void ChapterJob::CountChapter(bool stored) {
    ++Tally.Done;
    Tally.Failed += stored ? 0 : 1;
    if (Progress) {
        Progress(Tally);
    }
}

void RunChapterTask(const ChapterTask& task) {
    std::u16string encoding(kPageEncoding);
    std::u16string page;
    {
        std::lock_guard lock(task.Job->DownloadLock);
        task.window->SetStatusText(u"正在下载 " + task.ChapterName + u" ……");
        ReadPage(encoding, task.PageFile, page);
    }
    bool stored = CompleteChapter(task, encoding, page);
    std::lock_guard lock(task.Job->DownloadLock);
    task.Job->CountChapter(stored);
}

} // namespace velunor
