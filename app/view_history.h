#pragma once
// The way back out of the reading view: the view the reader came from (the search results, or
// the shelf with its recommendation page) and the recommendation page the browser showed last,
// which the shelf's view shows again. Neither view is cleared on the way.

#include "port/window_port.h"

#include <QString>
#include <QUrl>

#include <string>

namespace velunor {

class CViewHistory {
  public:
    /// A history that leads back to the shelf's view showing `startPage`, a recommendation page
    /// inside `recommendFolder` (an absolute path ending in "/").
    CViewHistory(const std::u16string& recommendFolder, QUrl startPage);

    /// The window turns from view `from` to view `to`; entering the reading view remembers where
    /// it was entered from.
    void NoteViewChange(ViewMode from, ViewMode to);
    /// The browser shows `url`; a recommendation page becomes the one the shelf's view shows
    /// again.
    void NoteShownPage(const QUrl& url);

    /// The view the back button returns to.
    ViewMode ReturnMode() const;
    /// The recommendation page to show again on returning to the shelf's view.
    const QUrl& RecommendPage() const;
    /// The back button's caption: where it leads.
    QString BackCaption() const;

  private:
    QString recommendFolder_;
    ViewMode returnMode_ = ViewMode::Recommend;
    QUrl recommendPage_;
};

} // namespace velunor
