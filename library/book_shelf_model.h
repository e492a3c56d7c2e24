#pragma once
// What the bookshelf tree shows: the root item "我的书架" and one item per novel, in file order
// (novels with new chapters first, when asked), each with how many chapters are new since the
// reader last opened the novel, how many come after the last one read and how many are not
// finished; its one-line label ("演示书库 - 春江夜话（新 2 章，3 章未完成）") carries the first
// and the last. The counts come from each novel's summary of its chapter index (novel_summary.h)
// and its Reading.xml, read from disk, never from the sites, and a novel folder unchanged since
// the last listing is not read again at all (Config/BookShelf.xml.counts), so a listing costs
// little per novel and nothing per chapter. Reading.xml keeps where the reader is: the last
// chapter page opened, so that opening a novel continues there, and which pages the novel had
// when the reader last opened it, so that only chapters added since count as new.

#include "library/book_shelf_file.h"
#include "library/novel_summary.h"
#include "port/window_port.h"

#include <string>
#include <vector>

namespace velunor {

/// What a novel folder's small files say: its summary and where the reader is.
struct NovelShelfState {
    /// The summary of the novel's index.
    NovelSummary Summary;
    /// The last chapter page read, a file name in the folder; empty when none was.
    std::u16string LastPage;
    /// Chapters on pages numbered below this one had been listed when the reader last opened
    /// the novel; 0 when never.
    int SeenPages = 0;

    bool operator==(const NovelShelfState&) const = default;
};

/// Reads what the shelf shows of the novel folder `folder` from its summary and its
/// Reading.xml. Blocks on the disk; any thread.
NovelShelfState ReadNovelShelfState(const std::u16string& folder);

/// One novel as the bookshelf shows it.
struct ShelfItem {
    BookEntry Entry;
    /// Chapters the index lists; 0 without an index.
    int Chapters = 0;
    /// Chapters failed, empty or pending.
    int Unfinished = 0;
    /// Chapters never fetched: left by a download cut short (or queued by one running).
    int Pending = 0;
    /// Chapters added by updates since the reader last opened the novel (since its first
    /// download when never).
    int NewChapters = 0;
    /// Chapters after the last one read; all of them when none was.
    int Unread = 0;
    /// The novel folder's state the counts were made from.
    NovelShelfState State;
    /// The entry's place in the bookshelf file.
    size_t FileOrder = 0;
};

/// The label of a novel item: site + " - " + novel, followed by the counts of new and of
/// unfinished chapters that are not 0.
std::u16string ShelfItemLabel(const ShelfItem& item);

class CBookShelfModel {
  public:
    /// The root item's text.
    static constexpr std::u16string_view kRootText = u"我的书架";

    /// A model of the bookshelf of `programFolder` (ending in "/"), with no novel items yet.
    explicit CBookShelfModel(std::u16string programFolder);

    /// Finishes interrupted deletes (ClearDeletedNovels) when a novel folder may have been
    /// deleted since the last listing, then reads the novel items from the bookshelf file and
    /// the novels' summaries. Blocks on the disk; no network; any thread, one at a time per
    /// model.
    void LoadBookShelf();
    /// Puts the novels with new chapters before the others (each group in file order), or
    /// every novel in file order; applies to the items now and after every change. The file is
    /// not changed.
    void SetNewChaptersFirst(bool first);
    /// Takes `state` as what the novel folder `folder` holds now (a job on it ended) and
    /// relabels its items, and sorts them again. False when the shelf lists no such novel.
    bool ApplyNovelState(const std::u16string& folder, const NovelShelfState& state);
    /// The folders of the novels with chapters never fetched, in the items' order.
    std::vector<std::u16string> FoldersWithPendingChapters() const;
    /// How many novel items (children of the root) there are.
    size_t ItemCount() const {
        return items_.size();
    }
    /// The labels of the novel items, in order; made when first asked for after a change.
    const std::vector<std::u16string>& Items() const;
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
    /// When `page` is a chapter page ("n.html") or the contents page of a novel on the shelf,
    /// records that the reader has seen the novel's chapters as they are now, and a chapter page
    /// as the last page read, relabels the novel's items and returns true. Blocks on the disk.
    bool NoteOpenedPage(const std::u16string& page);

  private:
    bool IsNovelItem(int item) const;
    /// Orders the items as asked; their labels are made again when next asked for.
    void Sort();

    std::u16string programFolder_;
    std::vector<ShelfItem> items_;
    // Made by Items(): a listing that only counts and shows the items never needs them.
    mutable std::vector<std::u16string> labels_;
    mutable bool labelsMade_ = false;
    bool newChaptersFirst_ = false;
};

} // namespace velunor
