// The bookshelf tree's items and commands.

#include "library/book_shelf_model.h"

#include "library/book_shelf_file.h"

namespace velunor {

CBookShelfModel::CBookShelfModel(std::u16string programFolder)
    : programFolder_(std::move(programFolder)) {}

void CBookShelfModel::LoadBookShelf() {
    items_.clear();
    for (const BookEntry& entry : ReadBookShelf(programFolder_)) {
        items_.push_back(BookItemText(entry.TargetSite, entry.NovelName));
    }
}

void CBookShelfModel::AppendItem(const std::u16string& text) {
    items_.push_back(text);
}

void CBookShelfModel::OpenBook(int item, WindowPort& window) const {
    if (!IsNovelItem(item)) {
        return;
    }
    const std::u16string& text = items_[static_cast<size_t>(item)];
    // An exact match, as for deleting: a novel whose names are part of another's is not opened
    // with it. A novel added twice still opens twice.
    for (const BookEntry& entry : ReadBookShelf(programFolder_)) {
        if (BookItemText(entry.TargetSite, entry.NovelName) == text) {
            window.NavigateAsync(entry.ContentsPagePath);
            window.SetViewMode(ViewMode::Reading);
        }
    }
}

bool CBookShelfModel::DeleteBook(int item, WindowPort& window) {
    if (!IsNovelItem(item)) {
        return true;
    }
    // An entry another process removed already is gone all the same, so its item goes too.
    if (RemoveBook(window, programFolder_, items_[static_cast<size_t>(item)]) ==
        ShelfEditResult::NotSaved) {
        return false;
    }
    // Read back rather than erase one item: entries of the same folder went with it.
    LoadBookShelf();
    return true;
}

bool CBookShelfModel::IsNovelItem(int item) const {
    return item >= 0 && static_cast<size_t>(item) < items_.size() &&
           !items_[static_cast<size_t>(item)].empty();
}

} // namespace velunor
