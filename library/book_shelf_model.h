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
    /// Removes novel item `item` and the first entry with its text, deleting that novel's folder
    /// when it lies inside the program's Novel/ folder; nothing for an item out of range. No
    /// confirmation is asked and nothing is reported. Window's thread; blocks on the disk.
    void DeleteBook(int item);

  private:
    bool IsNovelItem(int item) const;

    std::u16string programFolder_;
    std::vector<std::u16string> items_;
};

} // namespace velunor
