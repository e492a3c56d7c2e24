// The on-demand chapter fetch.

#include "library/on_demand_fetch.h"

#include "core/core.h"
#include "library/contents_page.h"
#include "library/internal/chapter_fetch.h"
#include "library/library_layout.h"
#include "library/novel_index.h"
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

// The fields as the page holds them, its paths resolved: pages store them relative to the
// program folder, pages written before with absolute paths.
DisplayedChapter ReadDisplayedChapter(WindowPort& window, const std::u16string& programFolder) {
    DisplayedChapter page;
    page.RuleFilePath = ResolveRuleFile(
        programFolder, HiddenFieldValue(window.GetElementInnerHtml(u"rule_file_path")));
    page.ChapterUrl = HiddenFieldValue(window.GetElementInnerHtml(u"chapter_url"));
    page.ChapterSaveFile = ResolveLibraryPath(
        programFolder, HiddenFieldValue(window.GetElementInnerHtml(u"chapter_save_file")));
    page.DownState = window.GetElementInnerHtml(u"down_state");
    return page;
}

// True when the page may be written, and images stored beside it: a page of the library by
// its text, and really inside the Novel/ folder once links are resolved, so that a chapter file
// or a folder on the way to it that is a symbolic link cannot carry the write elsewhere.
bool IsWritableLibraryPage(const std::u16string& programFolder, const std::u16string& path) {
    return IsLibraryPage(programFolder, path) && IsInsideRealNovelRoot(programFolder, path) &&
           IsInsideRealNovelRoot(programFolder, FolderOfFile(path) + u"/images");
}

// What the fetch leaves in the page: its state and what shows where the chapter text goes.
struct PageUpdate {
    std::u16string_view State;
    std::u16string Content;
    // A notice of a failure; it never replaces the text of a chapter stored before.
    bool IsNotice;
    // Why the chapter failed, for the novel's index; empty for a stored one.
    std::u16string_view Reason;
};

enum class Rewrite { Changed, Unchanged, NoTextPlace, NotWritten };

// Rewrites the state element found in the file from the displayed state to the update's, and
// the chapter text. A state element that the file no longer holds stays as it is. The page is
// checked again first, since the fetch gave the disk time to change.
Rewrite RewritePage(const std::u16string& programFolder, const DisplayedChapter& page,
                    const PageUpdate& update) {
    std::u16string encoding(kPageEncoding);
    std::u16string text;
    if (!IsWritableLibraryPage(programFolder, page.ChapterSaveFile) ||
        !ReadPage(encoding, page.ChapterSaveFile, text)) {
        return Rewrite::NotWritten;
    }
    const std::u16string before = text;
    bool heldText = text.find(DownStateElement(kStateStored)) != std::u16string::npos;
    ReplaceAll(text, DownStateElement(page.DownState), DownStateElement(update.State));
    if (!(update.IsNotice && heldText) && !ReplaceChapterText(text, update.Content)) {
        return Rewrite::NoTextPlace;
    }
    Rewrite result = text == before                                    ? Rewrite::Unchanged
                     : WritePage(encoding, page.ChapterSaveFile, text) ? Rewrite::Changed
                                                                       : Rewrite::NotWritten;
    // The novel's index says what the page says, so that an update or a retry neither fetches
    // this chapter again nor passes over it.
    // The contents page marks the chapter as the index has it now.
    if (result != Rewrite::NotWritten &&
        RecordChapterState(page.ChapterSaveFile, ChapterStateOfPage(update.State),
                           std::u16string(update.Reason))) {
        RewriteContentsPage(programFolder, FolderOfFile(page.ChapterSaveFile));
    }
    return result;
}

void RewriteAsFailed(const std::u16string& programFolder, const DisplayedChapter& page,
                     std::u16string_view state, std::u16string_view reason) {
    RewritePage(programFolder, page, {state, FailedChapterNotice(reason), true, reason});
}

ChapterRefetch Failed(SiteError error) {
    return {RefetchOutcome::Failed, std::move(error)};
}

// Stores the fetched text and says how that went.
ChapterRefetch StoreText(WindowPort& window, const std::u16string& programFolder,
                         const DisplayedChapter& page, const std::u16string& text) {
    switch (RewritePage(programFolder, page, {kStateStored, text, false, {}})) {
    case Rewrite::Changed:
        window.NavigateAsync(page.ChapterSaveFile);
        window.SetStatusText(std::u16string(kChapterRefetchedMessage));
        return {RefetchOutcome::Changed, {}};
    case Rewrite::Unchanged:
        window.SetStatusText(std::u16string(kChapterUnchangedMessage));
        return {RefetchOutcome::Unchanged, {}};
    case Rewrite::NoTextPlace:
        window.SetStatusText(u"本页没有放置正文的位置，本章未能保存！");
        break;
    case Rewrite::NotWritten:
        window.SetStatusText(u"无法写入本页记录的章节文件，本章未能保存！");
        break;
    }
    return Failed(MakeSiteError(SiteErrorKind::WriteFailed, page.ChapterSaveFile));
}

// The site of the novel the page belongs to: the page finder's when the novel's index says its
// site has no rule, else the site of the rule file the page records.
std::shared_ptr<const Site> DisplayedNovelSite(const std::u16string& programFolder,
                                               const DisplayedChapter& page) {
    NovelIndex index;
    if (page.RuleFilePath.empty() && LoadNovelIndex(FolderOfFile(page.ChapterSaveFile), index) &&
        index.FoundByFinder) {
        return internal::NovelSite(programFolder, index);
    }
    return Site::FromRuleFile(page.RuleFilePath);
}

// The page and its site are read before anything is fetched, so a page whose files cannot be
// read is left as it is and the status line says which one failed.
bool CanReadPageAndSite(WindowPort& window, const std::u16string& programFolder,
                        const DisplayedChapter& page, std::shared_ptr<const Site>& site) {
    std::u16string encoding(kPageEncoding);
    std::u16string text;
    if (!ReadPage(encoding, page.ChapterSaveFile, text)) {
        window.SetStatusText(u"无法读取本页记录的章节文件，未做任何改动！");
        return false;
    }
    site = DisplayedNovelSite(programFolder, page);
    // Without its chapter pattern a rule can fetch nothing: it could not be read, or it is not
    // a rule file.
    if (!site->UsesFinder() && site->Rule().ChapterContent.empty()) {
        window.SetStatusText(u"无法读取本页记录的规则文件，未做任何改动！");
        return false;
    }
    return true;
}

bool HasImages(const FetchedChapter& chapter) {
    for (const ChapterPage& page : chapter.Pages) {
        if (!page.Images.empty()) {
            return true;
        }
    }
    return false;
}

// Where the chapter's pages end, as far as the library knows it without its contents list: the
// next chapter's address is the one its own page file records, when there is one; the contents
// address is taken to be the chapter's folder; and a next page must be named after the chapter.
ChapterBounds OnDemandBounds(const std::u16string& programFolder, const DisplayedChapter& page) {
    ChapterBounds bounds;
    bounds.ContentsUrl = std::u16string(AddressFolder(page.ChapterUrl));
    bounds.OwnPagesOnly = true;
    std::u16string nextFile = NextChapterPageFile(page.ChapterSaveFile);
    std::u16string encoding(kPageEncoding);
    std::u16string text;
    if (IsLibraryPage(programFolder, nextFile) && ReadPage(encoding, nextFile, text)) {
        bounds.NextChapterUrl = RecordedChapterUrl(text);
    }
    return bounds;
}

void ReportFetchFailure(WindowPort& window, const Site& site, const FetchedChapter& chapter) {
    if (chapter.Error.Kind != SiteErrorKind::Refused) {
        std::u16string reason = internal::ChapterFailureReason(chapter);
        window.SetStatusText(u"本章下载失败：" + reason + u"。");
        window.ShowMessage(u"无法访问目标站的本章节页面！（" + reason + u"）",
                           MessageIcon::Exclamation, MessageButtons::Ok);
        return;
    }
    std::u16string message = site.BlockedMessage();
    window.SetStatusText(message);
    window.ShowMessage(message, MessageIcon::Exclamation, MessageButtons::Ok);
}

ChapterRefetch Fetch(WindowPort& window, const std::u16string& programFolder,
                     DisplayedChapter& page) {
    page = ReadDisplayedChapter(window, programFolder);
    // The hidden fields are whatever the displayed page holds; only a page of the library may
    // be rewritten, and images land beside it.
    if (!IsWritableLibraryPage(programFolder, page.ChapterSaveFile)) {
        window.SetStatusText(u"本页记录的章节文件不在书库的 Novel 文件夹中，未做任何改动！");
        return Failed(MakeSiteError(SiteErrorKind::WriteFailed, page.ChapterSaveFile));
    }
    std::shared_ptr<const Site> novelSite;
    // The status line says which file could not be read; the site was never asked.
    if (!CanReadPageAndSite(window, programFolder, page, novelSite)) {
        return Failed({});
    }
    window.SetStatusText(u"正在读取目标站章节页面……");
    const Site& site = *novelSite;
    FetchedChapter chapter =
        FetchChapter(site, page.ChapterUrl, OnDemandBounds(programFolder, page));
    if (!chapter.Ok()) {
        ReportFetchFailure(window, site, chapter);
        RewriteAsFailed(programFolder, page, kStateFailed, internal::ChapterFailureReason(chapter));
        return Failed(chapter.Error);
    }
    if (!chapter.HasContent()) {
        window.SetStatusText(u"本章下载失败：" + std::u16string(internal::kNoTextReason) + u"。");
        window.ShowMessage(u"在目标站没有提取到章节内容，请更换目标站！", MessageIcon::Exclamation,
                           MessageButtons::Ok);
        RewriteAsFailed(programFolder, page, kStateNoText, internal::kNoTextReason);
        return Failed(MakeSiteError(SiteErrorKind::NoMatch, page.ChapterUrl));
    }
    if (HasImages(chapter)) {
        window.SetStatusText(u"本章为图片章节，正在下载……");
    }
    auto announce = [&](int k) {
        window.SetStatusText(u"正在下载本章的第 " + DecimalText(k) + u" 个图片……");
    };
    // The text is stored as the site sent it: the reader asked for this chapter as it is.
    std::u16string text;
    SiteError imageError =
        internal::ComposeChapterText(site, chapter, u"", page.ChapterSaveFile, text, announce);
    if (imageError.Failed()) {
        std::u16string reason = internal::ImageFailureReason(imageError);
        RewriteAsFailed(programFolder, page, kStateFailed, reason);
        window.SetStatusText(u"当前章节图片下载失败！（" + reason + u"）");
        return Failed(imageError);
    }
    return StoreText(window, programFolder, page, text);
}

} // namespace

ChapterRefetch OnDemandChapterFetch(WindowPort* window, std::u16string programFolder) {
    DisplayedChapter page;
    ChapterRefetch refetch = Fetch(*window, programFolder, page);
    // The novel's shelf item follows the chapter's new state.
    if (IsWritableLibraryPage(programFolder, page.ChapterSaveFile)) {
        window->NovelJobEnded(FolderOfFile(page.ChapterSaveFile));
    }
    return refetch;
}

} // namespace velunor
