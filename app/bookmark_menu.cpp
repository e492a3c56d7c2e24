#include "app/bookmark_menu.h"

#include <algorithm>

namespace velunor {

CBookmarkMenu::CBookmarkMenu(QWidget* parent)
    : QMenu(QStringLiteral("书签"), parent),
      deleting_(new QMenu(QStringLiteral("删除书签"), this)) {
    connect(this, &QMenu::aboutToShow, this, &CBookmarkMenu::Refresh);
}

void CBookmarkMenu::SetNovelFolder(const std::u16string& folder) {
    folder_ = folder;
}

QString CBookmarkMenu::BookmarkText(const Bookmark& mark) {
    QString text = QString::fromStdU16String(mark.Chapter);
    if (!mark.Excerpt.empty()) {
        text +=
            QStringLiteral("：") + QString::fromStdU16String(mark.Excerpt) + QStringLiteral("…");
    }
    // A "&" in a chapter name is shown, not taken for a shortcut key.
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void CBookmarkMenu::Refresh() {
    clear();
    deleting_->clear();
    const ReaderPlace place = folder_.empty() ? ReaderPlace{} : LoadReaderPlace(folder_);
    if (place.Bookmarks.empty()) {
        addAction(QStringLiteral("（没有书签）"))->setEnabled(false);
        return;
    }
    for (const Bookmark& mark : place.Bookmarks) {
        const QString text = BookmarkText(mark);
        connect(addAction(text), &QAction::triggered, this,
                [this, folder = folder_, where = mark.Place] { emit PlaceChosen(folder, where); });
        connect(deleting_->addAction(text), &QAction::triggered, this,
                [this, mark] { Delete(mark); });
    }
    addSeparator();
    addMenu(deleting_);
}

// The file is read again: the bookmark is found by what it holds, not by where it stood when
// the menu opened.
void CBookmarkMenu::Delete(const Bookmark& mark) {
    ReaderPlace place = LoadReaderPlace(folder_);
    const auto found = std::find(place.Bookmarks.begin(), place.Bookmarks.end(), mark);
    if (found != place.Bookmarks.end()) {
        place.Bookmarks.erase(found);
        SaveReaderPlace(folder_, place);
    }
}

} // namespace velunor
