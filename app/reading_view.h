#pragma once
// What the reading view adds around the page: the novel's chapter list beside it (volume
// headings included, the chapter shown marked, a click opening a chapter), the chapter's place
// in the novel above it ("第 12 / 340 章", by its place in the novel's index, so it stays right
// when an update inserts chapters), the window title of the novel and chapter, the scroll
// position kept per novel and restored when the reader comes back to the chapter, and the
// bookmarks. The position is written to the novel's Reading.xml at most once a second while the
// reader scrolls, when the page is left, and when the view goes.

#include "library/novel_index.h"
#include "library/reader_place.h"

#include <QDateTime>
#include <QObject>
#include <QRect>
#include <QTimer>

#include <string>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QWidget;

namespace velunor {

class CDlgHtml;

class CReadingView : public QObject {
    Q_OBJECT

  public:
    /// The view of the library of `programFolder` (ending in "/") around `panel`, its widgets
    /// children of `window`; both must outlive it. GUI thread.
    CReadingView(std::u16string programFolder, CDlgHtml& panel, QWidget* window);
    /// Writes the position not written yet.
    ~CReadingView() override;

    /// Places the chapter list (when shown) and the place label in `area`, the reading view's
    /// page area, shows or hides them with `reading`, and returns what is left for the page.
    QRect LayOut(bool reading, const QRect& area);
    /// Shows or hides the chapter list beside the page.
    void SetChapterListShown(bool shown);
    bool ChapterListShown() const;
    /// Gives the chapter list and the label the dark colours of the night theme, or the light.
    void SetNight(bool night);

    /// The window title for the page shown: "novel - chapter - Velunor" on a chapter page of the
    /// library, "novel - Velunor" on its contents page, "Velunor" elsewhere.
    QString Title() const;
    QListWidget& ChapterList();
    QLabel& PlaceLabel();

    /// Adds a bookmark at the chapter and scroll position shown; nothing off a chapter page.
    /// Returns at once; Notice says when it was added.
    void AddBookmark();
    /// Shows the page `place` names in the novel folder `folder`, scrolled as it says.
    void OpenPlace(const std::u16string& folder, const PagePlace& place);
    /// Writes the scroll position of the page shown when it changed since it was last written.
    void SavePosition();

  signals:
    /// Title() changed.
    void TitleChanged();
    /// Something to say on the status line.
    void Notice(const QString& text);

  private:
    void OnPageShown(const QString& path);
    void OnLoadStarted();
    void OnScrolled();
    void LoadIndex(const std::u16string& folder);
    void ShowIndex(const std::u16string& folder, NovelIndex index);
    void FillChapterList();
    void MarkShownChapter();
    void OpenListedChapter(QListWidgetItem* item);
    int ShownChapterPosition() const;
    int ScrollOffset() const;

    std::u16string programFolder_;
    CDlgHtml& panel_;
    QListWidget* chapterList_ = nullptr;
    QLabel* placeLabel_ = nullptr;
    bool listShown_ = false;
    bool reading_ = false;

    // The novel whose index is shown, and its index.
    std::u16string indexFolder_;
    QDateTime indexStamp_;
    NovelIndex index_;
    // The library page shown: its novel folder and file name; empty off the library.
    std::u16string shownFolder_;
    std::u16string shownPage_;
    // Where the next page shown in `pendingFolder_` goes instead of the kept position.
    std::u16string pendingFolder_;
    PagePlace pending_;
    // The scroll position of the chapter page shown, and whether it is not written yet.
    int offset_ = 0;
    bool tracking_ = false;
    bool unsaved_ = false;
    QTimer saveTimer_;
};

} // namespace velunor
