#pragma once
// The bookshelf tree: the root "我的书架" with one item per downloaded novel, in the order of
// the bookshelf file. A double-click opens a novel's contents page; the context menu deletes a
// novel with its folder once the user has confirmed it.

#include "library/library.h"

#include <QTreeWidget>

#include <string>

class QMenu;

namespace velunor {

class CTreeCtrlBookShelf : public QTreeWidget {
    Q_OBJECT

  public:
    /// The tree of the bookshelf of `programFolder` (ending in "/"), filled from its file. The
    /// novels open and confirm through `window`, which must outlive the tree. GUI thread.
    CTreeCtrlBookShelf(WindowPort& window, std::u16string programFolder, QWidget* parent = nullptr);

    /// The root item "我的书架". GUI thread.
    QTreeWidgetItem* Root() const;
    /// Appends a novel item with `text` as the last child of the root. GUI thread.
    void AppendItem(const std::u16string& text);
    /// Opens the selected novel in the browser panel; nothing for the root or no selection.
    /// GUI thread; does not wait for the page.
    void OpenBook();
    /// Asks whether to delete the selected novel and, on Yes, removes its item, its entry and
    /// its folder; when the entry cannot be removed for good, everything stays and the status
    /// line says why. Nothing for the root or no selection. GUI thread; blocks on the question.
    void DeleteBook();
    /// The context menu with its single item "删除小说(&D)". GUI thread.
    QMenu& ContextMenu();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    /// Shows the model's novel items under the root, in place of those shown before.
    void ShowModelItems();
    int SelectedNovel() const;

    WindowPort& window_;
    CBookShelfModel model_;
    QMenu* contextMenu_ = nullptr;
};

} // namespace velunor
