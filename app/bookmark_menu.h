#pragma once
// The "书签" submenu of a novel on the shelf: the bookmarks kept in the novel's Reading.xml,
// oldest first, each opening its place, and a submenu "删除书签" that deletes one. Read afresh
// each time the menu opens.

#include "library/reader_place.h"

#include <QMenu>

#include <string>

namespace velunor {

class CBookmarkMenu : public QMenu {
    Q_OBJECT

  public:
    /// An empty menu titled "书签". GUI thread.
    explicit CBookmarkMenu(QWidget* parent);

    /// The novel folder whose bookmarks the menu lists from now on; empty for none.
    void SetNovelFolder(const std::u16string& folder);
    /// Reads the bookmarks again and lists them; done before the menu shows.
    void Refresh();
    /// The text of a bookmark's item: "chapter：excerpt…".
    static QString BookmarkText(const Bookmark& mark);

  signals:
    /// A bookmark of the novel in `folder` was chosen.
    void PlaceChosen(const std::u16string& folder, const PagePlace& place);

  private:
    void Delete(const Bookmark& mark);

    QMenu* deleting_ = nullptr;
    std::u16string folder_;
};

} // namespace velunor
