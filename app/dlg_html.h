#pragma once
// The browser panel of the main window: it owns the browser control, keeps it filling the
// panel, turns the pages' "app:" links into the program's commands, and is the reader: it lays
// the reading settings over library pages and serves the reading keys while the browser has the
// keyboard focus.
//
// Reading keys: ← and → open the page's own "上一章" and "下一章" links; Space and PageDown
// scroll down a screen and, at the end of the page, open "下一章"; Backspace and Alt+← go back
// (past the waiting page); F5 reloads; Ctrl+= and Ctrl+- zoom in and out, Ctrl+0 resets;
// Ctrl+F opens the find bar. The zoom is the reader's: it applies to library pages only, and
// every other page (the recommendation pages, the waiting page) shows at 100 %.

#include "app/html_ctrl.h"

#include <QWidget>

#include <string>

namespace velunor {

class CFindBar;

class CDlgHtml : public QWidget {
    Q_OBJECT

  public:
    /// A panel showing an empty page, with the "rest_down" and "recommend" commands and the
    /// reading keys.
    explicit CDlgHtml(QWidget* parent = nullptr);

    /// The browser control inside the panel.
    CHtmlCtrl& Browser();

    /// Shows Template/wait.html of the current directory. GUI thread.
    void ShowWaitPage();
    /// Starts showing `path` (see CHtmlCtrl::NavigateAsync); any thread, never blocks.
    void NavigateAsync(const std::u16string& path);
    /// Inner HTML of the element `id` of the page shown; empty when there is none. Any thread;
    /// blocks until the page has answered.
    std::u16string GetElementInnerHtml(const std::u16string& id);

    /// Lays `styleSheet` over every page below `libraryFolder` (an absolute path ending in "/")
    /// from now on, the page shown included, in place of the sheet laid before, and gives their
    /// chapter text even paragraphs. Pages outside the folder keep their own look. GUI thread.
    void SetLibraryLook(const QString& libraryFolder, const QString& styleSheet);

    /// The zoom of library pages in percent. GUI thread.
    int ZoomPercent() const;
    /// Zooms every library page to `percent` without sending ZoomChanged. GUI thread.
    void SetZoomPercent(int percent);
    /// The bar that finds text in the page shown. GUI thread.
    CFindBar& FindBar();

  public slots:
    /// Opens the shown page's link "上一章" / "下一章"; nothing when it has none. Returns at once;
    /// the page changes shortly afterwards. On the first and the last chapter of a novel, whose
    /// links lead back to the contents page, the panel stays and sends Notice instead.
    void ShowPreviousChapter();
    void ShowNextChapter();
    /// Scrolls down a screen, or opens "下一章" when the end of the page is in view already.
    void PageDownOrNextChapter();
    /// Goes back to the page shown before, skipping the waiting page; nothing at the first page.
    void GoBack();
    void Reload();
    /// One zoom step in or out, or back to 100 %; sends ZoomChanged when the zoom changed.
    void ZoomIn();
    void ZoomOut();
    void ResetZoom();
    /// Opens the find bar.
    void OpenFindBar();

  signals:
    /// Something the reader should read on the status line ("已是最后一章").
    void Notice(const QString& text);
    /// A "rest_down" link was clicked: fetch the shown chapter again.
    void RestDownRequested();
    /// A "recommend" link was clicked: search for `novelName`.
    void RecommendRequested(const QString& novelName);
    /// The browser has finished showing the local file at `path` (absolute); not sent for
    /// addresses of sites or for a page that failed to load.
    void LocalPageShown(const QString& path);
    /// The user zoomed to `percent` with the keys (or the zoom slots).
    void ZoomChanged(int percent);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void AddReadingKeys();
    void OnCommand(int command);
    void OnLoadFinished(bool ok);
    void OpenLinkWithText(const QString& text, const QString& edgeNotice);
    void OpenLinkAddress(const QString& address, const QString& edgeNotice);
    void ChangeZoom(int percent);
    void ApplyZoom();
    bool IsLibraryPage(const QUrl& url) const;

    CHtmlCtrl browser_;
    CFindBar* findBar_ = nullptr;
    QString libraryFolder_;
    int libraryZoom_ = 100;
};

} // namespace velunor
