#pragma once
// The bookshelf tree: the root "我的书架" with one item per downloaded novel, in the order of
// the bookshelf file (novels with new chapters first, when the reader wants it), each showing in
// its columns the novel and its new, unread and unfinished chapters; its tip gives the site too. A
// double-click goes on reading a novel where the reader left it; the context menu opens its
// contents page, updates it from its site, fetches its failed chapters again or from another site,
// keeps bookmarks, exports it as an EPUB book or a text file, or deletes it with its folder once
// the user has confirmed it. The root's menu updates every novel at once and moves the library to
// another folder.

#include "export/export.h"
#include "library/library.h"

#include <QTreeWidget>

#include <string>

class QAction;
class QMenu;

namespace velunor {

class CBookmarkMenu;

class CTreeCtrlBookShelf : public QTreeWidget {
    Q_OBJECT

  public:
    /// The tree of the bookshelf of `programFolder` (ending in "/"), filled from its file. The
    /// novels open, confirm and report through `window`, which must outlive the tree and every
    /// job started from it. GUI thread.
    CTreeCtrlBookShelf(WindowPort& window, std::u16string programFolder, QWidget* parent = nullptr);

    /// The root item "我的书架". GUI thread.
    QTreeWidgetItem* Root() const;
    /// Reads the bookshelf file and the novels' summaries again and shows their items in place
    /// of those shown; the novel selected before stays selected while the shelf still lists it.
    /// GUI thread; blocks on the disk.
    void ReloadShelf();
    /// Shows the items of `loaded`, a model read on another thread, as ReloadShelf does, unless
    /// a shelf read after it (a higher `readNumber`, see NextReadNumber) is shown already. GUI
    /// thread; does not block.
    void ShowLoadedShelf(CBookShelfModel loaded, unsigned long long readNumber);
    /// The number of a shelf read about to start, higher than every one before. Any thread.
    static unsigned long long NextReadNumber();
    /// Shows the selected novel in the browser panel at the last chapter read, or at its
    /// contents page; nothing for the root or no selection. GUI thread; does not wait for the
    /// page.
    void OpenBook();
    /// Shows the selected novel's contents page; nothing for the root or no selection. GUI
    /// thread; does not wait for the page.
    void OpenContents();
    /// Starts updating the selected novel from its site; nothing for the root or no selection.
    /// GUI thread; returns at once, the job reports through the window.
    void UpdateNovel();
    /// Starts fetching the selected novel's failed, empty and pending chapters again; nothing
    /// for the root or no selection. GUI thread; returns at once, the job reports through the
    /// window.
    void RetryFailedChapters();
    /// Searches the other selected sites for the selected novel (CDlgSourceSwitch) and, once
    /// the reader has chosen one, starts taking its missing chapters, or every chapter from a
    /// given one on, from that site; nothing for the root or no selection. GUI thread; blocks on
    /// the dialog, not on the switch.
    void SwitchNovelSource();
    /// Asks where and how to save the selected novel as `format` (CDlgExport, proposing the
    /// folder of the last export, at first the user's documents folder) and, once confirmed,
    /// starts exporting it on a job thread that reports on the status line; nothing for the root
    /// or no selection. GUI thread; blocks on the dialog, not on the export.
    void ExportSelectedNovel(ExportFormat format);
    /// Asks whether to delete the selected novel and, on Yes, removes its item, its entry and
    /// its folder; when the entry cannot be removed for good, everything stays and the status
    /// line says why. A download, update or retry of the novel is stopped first ("正在停止下载…")
    /// and the delete done once it has let go of the novel. Nothing for the root or no
    /// selection. GUI thread; blocks on the question, not on the job.
    void DeleteBook();
    /// The browser panel shows the local file `page`: when it is a chapter page of a shelved
    /// novel, records it as the place to go on reading and relabels the items. GUI thread;
    /// blocks on the disk.
    void NoteOpenedPage(const std::u16string& page);
    /// Takes `state` as what the novel folder `folder` holds now, a job on it having ended, and
    /// relabels its items (moving them when the order asks it); the rest of the shelf is not
    /// read. GUI thread; does not block.
    void ShowNovelState(const std::u16string& folder, const NovelShelfState& state);
    /// Lists the novels with new chapters first, or all in the bookshelf file's order, and
    /// keeps the choice in the shelf's settings. GUI thread; blocks on the disk.
    void SetNewChaptersFirst(bool first);
    /// The folders of the novels with chapters never fetched. GUI thread.
    std::vector<std::u16string> FoldersWithPendingChapters() const;
    /// The context menu: "打开目录", "更新小说", "重新下载失败章节", "换源…", "书签", "导出为
    /// EPUB…", "导出为 TXT…", "为此站生成规则…" (for a novel the page finder reads), a separator
    /// and "删除小说(&D)". GUI thread.
    QMenu& ContextMenu();
    /// The menu of the root item and of empty space: "全部更新", "停止全部更新" (enabled only while
    /// an update of every novel runs), a separator, "启动时检查更新" and "新章节排在前面" (both
    /// checkable, kept in ShelfSettings.xml), a separator and "书库位置…". GUI thread.
    QMenu& ShelfMenu();
    /// The context menu's "书签" submenu, listing the bookmarks of the novel it opened on.
    CBookmarkMenu& BookmarkMenu();
    /// Starts updating every novel of the shelf (StartUpdateAll). GUI thread; returns at once.
    void UpdateAll();
    /// Asks the running update of every novel to stop. GUI thread; returns at once.
    void StopUpdateAll();
    /// Asks for a folder and makes it the library folder (UseLibraryFolder). GUI thread; blocks
    /// on the dialog.
    void ChooseLibraryFolder();
    /// Makes `folder` the library folder, kept in the settings for the window and velunor-cli
    /// alike, and shows the bookshelf found there; a message through the window says why when
    /// it cannot.
    /// False then, and nothing changed. GUI thread; blocks on the disk.
    bool UseLibraryFolder(const QString& folder);

  signals:
    /// "为此站生成规则…" was chosen for the novel whose information page is at `url`.
    void RuleDraftRequested(const QString& url);

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void CreateContextMenu();
    void CreateUpdateAllItems();
    void DeleteNovelWithContentsPage(const std::u16string& contentsPage);
    /// Shows the model's novel items under the root, in place of those shown before.
    void ShowModelItems();
    /// Gives every novel item the model's texts, in place when the model's order is the one
    /// shown.
    void RelabelItems();
    static void ShowItem(QTreeWidgetItem* item, const ShelfItem& shown);
    void StartShelfJob(ShelfJob job);
    int SelectedNovel() const;
    /// The contents page of the selected novel; empty for the root or no selection.
    std::u16string SelectedContentsPage() const;
    void SelectNovelWithContentsPage(const std::u16string& contentsPage);

    WindowPort& window_;
    std::u16string programFolder_;
    CBookShelfModel model_;
    /// The read number of the shelf shown.
    unsigned long long shownRead_ = 0;
    QMenu* contextMenu_ = nullptr;
    QAction* ruleDraftAction_ = nullptr;
    QMenu* shelfMenu_ = nullptr;
    CBookmarkMenu* bookmarkMenu_ = nullptr;
    QAction* updateAllAction_ = nullptr;
    QAction* stopUpdateAllAction_ = nullptr;
    QAction* checkAtStartAction_ = nullptr;
    QAction* newChaptersFirstAction_ = nullptr;
    /// The columns: novel, new chapters, unread, unfinished.
    static constexpr int kColumnCount = 4;
};

} // namespace velunor
