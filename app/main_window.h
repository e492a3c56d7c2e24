#pragma once
// The main window: the tool row of skinned buttons, the search box and the bookshelf on the
// left, the browser panel or the search result list on the right, and the status line. It is
// the desktop program's window port: the jobs reach it from their threads, and each such call
// is carried onto the GUI thread while the calling thread waits.
//
// In the reading view the row above the browser holds a button back to the view the reader came
// from (CViewHistory keeps the way back) and the button of the reading settings menu
// (CReadingSettingsControl); the chapter list beside the page, the chapter's place, the title,
// the position kept in each chapter and the bookmarks are the reading view's (CReadingView).

#include "app/view_history.h"
#include "port/window_port.h"
#include "search/search_job.h"

#include <QFont>
#include <QPixmap>
#include <QWidget>

#include <array>
#include <string>
#include <vector>

#include <memory>

class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;

namespace velunor {

/// The reading view's own buttons: back to the view before, and the reading settings menu.
inline constexpr int kIdBack = 10075;
inline constexpr int kIdReadingSettings = 10076;

class CDlgHtml;
class CDlgTargetSet;
class CListCtrlSearchResult;
class CReadingSettingsControl;
class CReadingView;
class CSkinButton;
class CTreeCtrlBookShelf;

class CMainWindow : public QWidget, public WindowPort {
    Q_OBJECT

  public:
    /// Runs the update check of `programFolder` (which ends in "/"), then creates the window
    /// with every control, in the recommendation layout, showing its start page. Not shown yet.
    /// GUI thread; blocks while the updater runs.
    explicit CMainWindow(std::u16string programFolder, QWidget* parent = nullptr);

    /// The searches of this window, for what shows their state. GUI thread.
    SearchController& Searches();
    ~CMainWindow() override;

    // The window port. Every member may be called from any thread; from another thread it
    // waits until the GUI thread has served it (NavigateAsync never waits).
    std::u16string SearchText() override;
    void SetSearchText(const std::u16string& text) override;
    std::u16string SearchButtonCaption() override;
    void SetSearchButtonCaption(const std::u16string& caption) override;
    void SetStatusText(const std::u16string& text) override;
    ViewMode GetViewMode() override;
    void SetViewMode(ViewMode mode) override;
    void DeleteAllResultRows() override;
    int ResultRowCount() override;
    void AppendResultRow(const ResultRow& row) override;
    int FirstSelectedResultRow() override;
    ResultRow ResultRowTexts(int row) override;
    void AppendBookItem(const std::u16string& text) override;
    void BookShelfChanged() override;
    /// Reads the novel's files on the caller's thread and relabels its items; reloads its
    /// contents page when the browser shows it.
    void NovelJobEnded(const std::u16string& folder) override;
    /// The bar at the right end of the status line's row ("12/120 章（失败 2）"). A finished
    /// download's count stays until the view changes or the next download reports.
    void ShowDownloadProgress(int done, int total, int failed) override;
    void ShowWaitPage() override;
    void NavigateAsync(const std::u16string& url) override;
    std::u16string GetElementInnerHtml(const std::u16string& id) override;
    MessageAnswer ShowMessage(const std::u16string& text, MessageIcon icon,
                              MessageButtons buttons) override;

    /// Goes on fetching the chapters never fetched of the novels the status line offered at
    /// start ("3 本小说有未完成的章节，点击继续下载"), one novel after another on a job thread, as
    /// a click on the offer does; nothing when none was offered or it was taken. GUI thread;
    /// returns at once.
    void ResumeInterruptedNovels();

    /// The child control with identifier `id` (a button, the search box, the bookshelf, the
    /// result list or the status line); null for any other number. GUI thread.
    QWidget* Control(int id) const;
    /// The browser panel on the right. GUI thread.
    CDlgHtml& BrowserPanel();
    /// The bookshelf tree; its first top-level item is the shelf's root. GUI thread.
    CTreeCtrlBookShelf& BookShelf();
    /// The search result list, one row per hit. GUI thread.
    CListCtrlSearchResult& SearchResultList();
    /// The chapter list, place label, title and position of the reading view. GUI thread.
    CReadingView& ReadingView();
    /// The menu of the reading settings button: the submenus "字号", "行距" and "主题", each a
    /// group of checkable choices, and the zoom commands. GUI thread.
    QMenu& ReadingSettingsMenu();

    /// Where a window of `windowSize` goes when it is restored: centred on the screen above the
    /// taskbar, whose height is what `available` leaves of the height of `screen`.
    static QPoint CentredPosition(const QRect& screen, const QRect& available,
                                  const QSize& windowSize);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    template <typename F> auto OnGuiThread(F&& work);

    void CreateControls();
    CSkinButton* AddButton(int id, const QString& caption, const QRect& place);
    CSkinButton* AddPageButton(int id, const QString& caption, const QRect& place,
                               const QString& icon);
    void CreateReadingControls();
    void LayOut();
    void LayOutReadingControls(bool reading);
    void SetDownloadProgress(int done, int total, int failed);
    void ShowStatusLine(unsigned source, const QString& text);
    void HideFinishedDownloadProgress();
    void PaintSidePanel(QPainter& painter);
    void PaintTab(QPainter& painter, const QPixmap& bitmap, int left, const QString& caption);
    void ShowMainPage();
    void ShowProgramPage(const std::u16string& relativePath);
    void RunSearch();
    void OpenTargetSiteSettings();
    void FetchChapterAgain();
    /// Offers on the status line to go on with the novels whose download was cut short, once
    /// their contents pages say how they stand. Blocks on the disk for those novels.
    void OfferToResumeNovels();
    void Recommend(const QString& novelName);
    void Exit();
    void CentreOnScreen();
    void ReturnToPreviousView();
    void CreateReaderAdditions();
    void ApplyReadingSettings();
    void ShowTitle();
    bool DarkFrame() const;

    std::u16string programFolder_;
    /// The folder of the recommendation pages: the program folder, or for an installed copy
    /// the folder of what it ships.
    std::u16string shippedFolder_;
    QFont font_;
    std::unique_ptr<SearchController> search_;
    QPixmap searchBitmap_;
    QPixmap shelfBitmap_;
    QPixmap readingBitmap_;
    QPixmap resultsBitmap_;
    ViewMode viewMode_ = ViewMode::Recommend;
    CViewHistory viewHistory_;
    CSkinButton* searchButton_ = nullptr;
    std::array<CSkinButton*, 7> categoryButtons_{};
    QLineEdit* searchBox_ = nullptr;
    CDlgHtml* browserPanel_ = nullptr;
    CTreeCtrlBookShelf* bookShelf_ = nullptr;
    CListCtrlSearchResult* resultList_ = nullptr;
    std::unique_ptr<CDlgTargetSet> targetSiteDialog_;
    QLabel* statusLine_ = nullptr;
    /// The latest line of an earlier job that still talks while a newer search or job owns the
    /// status line; hidden until there is one.
    QLabel* jobStatusLine_ = nullptr;
    /// The status source (port/status_source.h) whose lines the status line shows, and the
    /// newest job source seen.
    unsigned statusOwner_ = 0;
    unsigned newestStatusSource_ = 0;
    /// The novels the status line offers to go on with; empty when it offers none.
    std::vector<std::u16string> resumable_;
    QProgressBar* downloadProgress_ = nullptr;
    CSkinButton* backButton_ = nullptr;
    CSkinButton* readingSettingsButton_ = nullptr;
    CReadingSettingsControl* readingSettings_ = nullptr;
    CReadingView* readingView_ = nullptr;
    /// The night theme is chosen: the reading view's frame is dark too.
    bool night_ = false;
};

} // namespace velunor
