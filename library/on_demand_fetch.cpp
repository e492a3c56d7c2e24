// The on-demand chapter fetch.

#include "library/on_demand_fetch.h"

#include "core/core.h"
#include "library/internal/chapter_fetch.h"
#include "library/library_layout.h"
#include "rules/rules.h"

namespace velunor {
namespace {

// The hidden fields of the displayed chapter page.
struct DisplayedChapter {
    std::u16string RuleFilePath;
    std::u16string ChapterUrl;
    std::u16string ChapterSaveFile;
    std::u16string DownState;
};

DisplayedChapter ReadDisplayedChapter(WindowPort& window) {
    DisplayedChapter page;
    page.RuleFilePath = HiddenFieldValue(window.GetElementInnerHtml(u"rule_file_path"));
    page.ChapterUrl = HiddenFieldValue(window.GetElementInnerHtml(u"chapter_url"));
    page.ChapterSaveFile = HiddenFieldValue(window.GetElementInnerHtml(u"chapter_save_file"));
    page.DownState = window.GetElementInnerHtml(u"down_state");
    return page;
}

// Rewrites the state element found in the file from the displayed state to `state`, and on
// success the text placeholder. A state element that the file no longer holds stays as it is.
void RewriteState(const DisplayedChapter& page, std::u16string_view state,
                  const std::u16string* chapterText) {
    std::u16string encoding(kPageEncoding);
    std::u16string text;
    if (!ReadPage(encoding, page.ChapterSaveFile, text)) {
        return;
    }
    ReplaceAll(text, DownStateElement(page.DownState), DownStateElement(state));
    if (chapterText != nullptr) {
        ReplaceAll(text, kChapterContentPlaceholder, *chapterText);
    }
    WritePage(encoding, page.ChapterSaveFile, text);
}

void Fetch(WindowPort& window, const std::u16string& programFolder) {
    DisplayedChapter page = ReadDisplayedChapter(window);
    // The hidden fields are whatever the displayed page holds; only a page of the library may
    // be rewritten, and images land beside it.
    if (!IsLibraryPage(programFolder, page.ChapterSaveFile)) {
        window.SetStatusText(u"本页记录的章节文件不在书库的 Novel 文件夹中，未做任何改动！");
        return;
    }
    CSiteRule rule = LoadSiteRule(page.RuleFilePath);
    window.SetStatusText(u"正在读取目标站章节页面……");
    internal::FetchedChapter chapter =
        internal::FetchChapter(page.ChapterUrl, rule.ChapterContent, rule.Charset);
    if (chapter.StatusCode != 200) {
        window.ShowMessage(u"无法访问目标站的本章节页面！", MessageIcon::Exclamation,
                           MessageButtons::Ok);
        RewriteState(page, kStateFailed, nullptr);
        return;
    }
    std::u16string text = chapter.Text;
    if (!chapter.Images.empty()) {
        window.SetStatusText(u"本章为图片章节，正在下载……");
        auto announce = [&](int k) {
            window.SetStatusText(u"正在下载本章的第 " + DecimalText(k) + u" 个图片……");
        };
        if (!internal::StoreChapterImages(chapter, page.ChapterUrl, page.ChapterSaveFile, text,
                                          announce)) {
            RewriteState(page, kStateFailed, nullptr);
            window.SetStatusText(u"当前章节图片下载失败！");
            return;
        }
    } else if (text.empty()) {
        window.ShowMessage(u"在目标站没有提取到章节内容，请更换目标站！", MessageIcon::Exclamation,
                           MessageButtons::Ok);
        RewriteState(page, kStateNoText, nullptr);
        return;
    }
    RewriteState(page, kStateStored, &text);
    window.NavigateAsync(page.ChapterSaveFile);
    window.SetStatusText(u"成功下载本章节！");
}

} // namespace

void OnDemandChapterFetch(WindowPort* window, std::u16string programFolder) {
    Fetch(*window, programFolder);
}

} // namespace velunor
