#pragma once
// What the bookshelf tree shows: the root item "我的书架" and one item per novel, in file order,
// labelled site + " - " + novel and, after it, how many chapters are new since the novel was
// last read and how many are not finished ("演示书库 - 春江夜话（3 章未完成）"). The counts come
// from each novel's summary of its chapter index (novel_summary.h), read from disk, never from
// the sites, and a novel folder unchanged since the last listing is not read again at all
// (Config/BookShelf.xml.counts), so a listing costs little per novel and nothing per chapter. The
// model also keeps where the reader is: the last chapter page opened, per novel, in the novel
// folder's Reading.xml, so that opening a novel continues there.

#include "library/book_shelf_file.h"
#include "port/window_port.h"

#include <string>
#include <vector>

namespace velunor {

/// One novel as the bookshelf shows it.
struct ShelfItem {
    BookEntry Entry;
    /// The item's text.
    std::u16string Label;
    /// Chapters the index lists; 0 without an index.
    int Chapters = 0;
    /// Chapters failed, empty or pending.
    int Unfinished = 0;
    /// Chapters listed now beyond those listed when the novel was last read; 0 when it never
    /// was.
    int NewChapters = 0;
    /// The last chapter page the reader opened; empty when none.
    std::u16string LastReadPage;
};

/// The label of a novel item: site + " - " + novel, followed by the counts that are not 0.
std::u16string ShelfItemLabel(const ShelfItem& item);

class CBookShelfModel {
  public:
    /// The root item's text.
    static constexpr std::u16string_view kRootText = u"我的书架";

    /// A model of the bookshelf of `programFolder` (ending in "/"), with no novel items yet.
    explicit CBookShelfModel(std::u16string programFolder);

    /// Finishes interrupted deletes (ClearDeletedNovels), then reads the novel items from the
    /// bookshelf file and the novels' summaries. Blocks on the disk; no network; any thread,
    /// one at a time per model.
    void LoadBookShelf();
    /// The labels of the novel items (children of the root), in order.
    const std::vector<std::u16string>& Items() const {
        return labels_;
    }
    /// The novel item `item`; valid for 0 <= item < Items().size().
    const ShelfItem& Item(int item) const {
        return items_[static_cast<size_t>(item)];
    }

    /// Shows the last chapter page read of novel item `item` in the browser panel, or its
    /// contents page when none was read (or that page is gone), and switches the window to
    /// reading; nothing for an item that is out of range (the root, no selection). Window's
    /// thread; does not wait for the page.
    void OpenBook(int item, WindowPort& window) const;
    /// Shows the contents page of novel item `item`, as OpenBook does.
    void OpenContents(int item, WindowPort& window) const;
    /// Removes novel item `item`'s entries and then its folder, as RemoveBook does, and reads
    /// the shelf again. When the entry cannot be removed for good the item stays, `window`'s
    /// status line says why, and the result is false; true otherwise, and for an item out of
    /// range, which changes nothing. No confirmation is asked. Window's thread; blocks on the
    /// disk.
    bool DeleteBook(int item, WindowPort& window);
    /// The novel folder of item `item`; empty for an item out of range.
    std::u16string NovelFolder(int item) const;
    /// When `page` is a chapter page ("n.html") of a novel on the shelf, records it as the last
    /// page read of that novel, with the novel's chapter count, and returns true. Blocks on the
    /// disk.
    bool NoteOpenedPage(const std::u16string& page);

  private:
    bool IsNovelItem(int item) const;
    void Relabel(size_t item);

    std::u16string programFolder_;
    std::vector<ShelfItem> items_;
    std::vector<std::u16string> labels_;
};

} // namespace velunor
