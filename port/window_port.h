#pragma once
// The window port: everything the background jobs use of the main window.
//
// The search job, the download job with its chapter tasks, the on-demand chapter fetch and the
// bookshelf reach the window only through this interface, so every job runs without a display.
// The desktop window implements it on the GUI thread (a call from another thread waits until the
// GUI thread has served it), velunor-cli implements it on the terminal, and the tests record
// what the jobs did. Every member may be called from any thread and blocks until it is served.

#include <string>

namespace velunor {

/// What the main window shows: 1 recommendation pages, 2 search results, 3 reading.
enum class ViewMode { Recommend = 1, SearchResults = 2, Reading = 3 };

/// The icon of a message box.
enum class MessageIcon { Information, Exclamation, Question, Error };

/// The buttons of a message box.
enum class MessageButtons { Ok, YesNo };

/// The button that closed a message box.
enum class MessageAnswer { Ok, Yes, No };

/// One row of the search result list, its texts in the order of the list's columns.
struct ResultRow {
    std::u16string Number;
    std::u16string SiteName;
    std::u16string NovelName;
    std::u16string NovelAuthor;
    std::u16string LatestChapter;
};

class WindowPort {
  public:
    virtual ~WindowPort() = default;

    /// Text of the search box.
    virtual std::u16string SearchText() = 0;
    virtual void SetSearchText(const std::u16string& text) = 0;

    /// Caption of the search button: "搜索" while idle, "停止搜索" while a search runs.
    virtual std::u16string SearchButtonCaption() = 0;
    virtual void SetSearchButtonCaption(const std::u16string& caption) = 0;

    /// Replaces the status line's text.
    virtual void SetStatusText(const std::u16string& text) = 0;

    virtual ViewMode GetViewMode() = 0;
    /// Switches the layout and repaints the window.
    virtual void SetViewMode(ViewMode mode) = 0;

    /// Search result list.
    virtual void DeleteAllResultRows() = 0;
    virtual int ResultRowCount() = 0;
    virtual void AppendResultRow(const ResultRow& row) = 0;
    /// Index of the first selected row, or -1 when none is selected.
    virtual int FirstSelectedResultRow() = 0;
    /// The texts of `row`; all empty when there is no such row.
    virtual ResultRow ResultRowTexts(int row) = 0;

    /// Appends a novel item with `text` under the bookshelf's root.
    virtual void AppendBookItem(const std::u16string& text) = 0;

    /// The bookshelf file or the chapter index of a shelved novel changed (a novel was added,
    /// updated or its chapters fetched): the bookshelf reads them again.
    virtual void BookShelfChanged() = 0;
    /// A job on the novel in `folder` (no "/" at the end) ended, or one of its chapters was
    /// fetched again: the bookshelf relabels that novel's items from its files, and a contents
    /// page of it that the browser shows is shown again.
    virtual void NovelJobEnded(const std::u16string& folder) = 0;
    /// Shows how far the running download has come: `done` of `total` chapters finished,
    /// `failed` of those not stored. A `total` of 0 hides it.
    virtual void ShowDownloadProgress(int done, int total, int failed) = 0;

    /// Shows the waiting page in the browser panel.
    virtual void ShowWaitPage() = 0;
    /// Starts showing `url` in the browser panel and returns without waiting for it.
    virtual void NavigateAsync(const std::u16string& url) = 0;
    /// Inner HTML of the element with `id` in the page the browser panel shows; empty when the
    /// page has no such element.
    virtual std::u16string GetElementInnerHtml(const std::u16string& id) = 0;

    /// Shows a message box captioned "Velunor" and returns the button that closed it.
    virtual MessageAnswer ShowMessage(const std::u16string& text, MessageIcon icon,
                                      MessageButtons buttons) = 0;
};

} // namespace velunor
