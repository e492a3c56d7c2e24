// The chapter task.

#include "library/chapter_task.h"

#include "core/core.h"
#include "library/internal/chapter_fetch.h"
#include "library/library_layout.h"
#include "rules/rules.h"

namespace velunor {
namespace {

void WriteState(const ChapterTask& task, std::u16string& encoding, std::u16string& page,
                std::u16string_view state) {
    ReplaceAll(page, kDownStatePlaceholder, state);
    WritePage(encoding, task.PageFile, page);
}

} // namespace

void RunChapterTask(const ChapterTask& task) {
    std::u16string encoding(kPageEncoding);
    std::u16string page;
    {
        std::lock_guard lock(*task.DownloadLock);
        task.window->SetStatusText(u"正在下载 " + task.ChapterName + u" ……");
        ReadPage(encoding, task.PageFile, page);
    }
    internal::FetchedChapter chapter =
        internal::FetchChapter(task.ChapterUrl, task.ChapterContent, task.Charset);
    if (chapter.StatusCode != 200) {
        WriteState(task, encoding, page, kStateFailed);
        return;
    }
    std::u16string text = chapter.Text;
    if (chapter.Images.empty()) {
        if (text.empty()) {
            WriteState(task, encoding, page, kStateNoText);
            return;
        }
        // Only text chapters are cleaned; a chapter with images keeps its text as the site sent it.
        text = ApplyReplaceRule(task.ReplaceRule, text);
    } else if (!internal::StoreChapterImages(chapter, task.ChapterUrl, task.PageFile, text, {})) {
        WriteState(task, encoding, page, kStateFailed);
        return;
    }
    ReplaceAll(page, kDownStatePlaceholder, kStateStored);
    ReplaceAll(page, kChapterContentPlaceholder, text);
    WritePage(encoding, task.PageFile, page);
    std::lock_guard lock(*task.DownloadLock);
    task.window->SetStatusText(u"成功下载章节： " + task.ChapterName);
}

} // namespace velunor
