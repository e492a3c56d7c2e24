#pragma once
// What the bookshelf tree shows: the root item "我的书架" and one item per novel, labelled
// site + " - " + novel, in file order. The items carry only their text; opening and deleting
// find the novel's entry by reading the file.

#include "port/window_port.h"

#include <string>
#include <vector>

namespace velunor {

class CBookShelfModel {
  public:
    /// The root item's text.
    static constexpr std::u16string_view kRootText = u"我的书架";

    /// A model of the bookshelf of `programFolder` (ending in "/"), with no novel items yet.
    explicit CBookShelfModel(std::u16string programFolder);

    /// Fills the novel items from the file, once, when the tree is created. Window's thread.
    void LoadBookShelf();
    /// Appends a novel item, as AddBook asks through the window. Window's thread.
    void AppendItem(const std::u16string& text);
    /// The novel items (children of the root), in order.
    const std::vector<std::u16string>& Items() const {
        return items_;
    }

    /// Opens every entry whose item text is exactly that of novel item `item` in the browser
    /// panel and switches the window to reading; nothing for an item that is out of range (the
    /// root, no selection). Window's thread; does not wait for the page.
    void OpenBook(int item, WindowPort& window) const;
    /// Removes the first entry with the text of novel item `item` and then that novel's folder
    /// when it lies inside the program's Novel/ folder, as RemoveBook does, and the item with
    /// them. When the entry cannot be removed for good the item stays, `window`'s status line
    /// says why, and the result is false; true otherwise, and for an item out of range, which
    /// changes nothing. No confirmation is asked. Window's thread; blocks on the disk.
    bool DeleteBook(int item, WindowPort& window);

  private:
    bool IsNovelItem(int item) const;

    std::u16string programFolder_;
    std::vector<std::u16string> items_;
};

} // namespace velunor
