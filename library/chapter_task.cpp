// The chapter task.

#include "library/chapter_task.h"

#include "core/core.h"
#include "library/internal/chapter_fetch.h"
#include "library/library_layout.h"

namespace velunor {
namespace {

void WriteState(const ChapterTask& task, std::u16string& encoding, std::u16string& page,
                std::u16string_view state) {
    ReplaceAll(page, kDownStatePlaceholder, state);
    WritePage(encoding, task.PageFile, page);
}

void SetStatus(const ChapterTask& task, const std::u16string& text) {
    std::lock_guard lock(task.Job->DownloadLock);
    task.window->SetStatusText(text);
}

} // namespace

void RunChapterTask(const ChapterTask& task) {
    std::u16string encoding(kPageEncoding);
    std::u16string page;
    {
        std::lock_guard lock(task.Job->DownloadLock);
        task.window->SetStatusText(u"正在下载 " + task.ChapterName + u" ……");
        ReadPage(encoding, task.PageFile, page);
    }
    const internal::SiteAccess& site = *task.Site;
    internal::FetchedChapter chapter = internal::FetchChapter(
        site, task.ChapterUrl, {task.ContentsUrl, task.NextChapterUrl, false});
    if (!chapter.Ok()) {
        WriteState(task, encoding, page, kStateFailed);
        if (chapter.Blocked) {
            ++task.Job->BlockedChapters;
            SetStatus(task, BlockedSiteMessage(site.Rule));
        }
        return;
    }
    if (!chapter.HasContent()) {
        WriteState(task, encoding, page, kStateNoText);
        return;
    }
    std::u16string text;
    if (!internal::ComposeChapterText(site, chapter, site.Rule.ReplaceRule, task.PageFile, text,
                                      {})) {
        WriteState(task, encoding, page, kStateFailed);
        return;
    }
    ReplaceAll(page, kDownStatePlaceholder, kStateStored);
    ReplaceAll(page, kChapterContentPlaceholder, text);
    WritePage(encoding, task.PageFile, page);
    SetStatus(task, u"成功下载章节： " + task.ChapterName);
}

} // namespace velunor
