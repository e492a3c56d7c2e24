#include "app/reading_view.h"

#include "app/dlg_html.h"
#include "app/page_scripts.h"
#include "library/library_layout.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <algorithm>
#include <cmath>
#include <thread>

namespace velunor {

namespace {

constexpr int kChapterListWidth = 240;
constexpr int kChapterListGap = 1;
// The place label stands in the row of the reading view's buttons, right of them.
constexpr QRect kPlaceLabelPlace(215, 71, 200, 23);
// At most once a second while the reader scrolls.
constexpr int kSavePauseMs = 1000;
// An index this large takes long enough to read that the window should not wait for it.
constexpr qint64 kIndexReadOnAThread = 256 * 1024;
constexpr int kExcerptLength = 30;
const QString kProgramName = QStringLiteral("Velunor");

QString Text(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// The novel's name: its index's, or the novel folder's own when the index has none.
std::u16string NovelNameOf(const std::u16string& folder, const NovelIndex& index) {
    if (!index.NovelName.empty()) {
        return index.NovelName;
    }
    return folder.substr(FolderOfFile(folder).size() + 1);
}

// When the novel's index was last written; invalid when it has none.
QDateTime IndexStamp(const std::u16string& folder) {
    return QFileInfo(Text(NovelIndexPath(folder))).lastModified();
}

} // namespace

CReadingView::CReadingView(std::u16string programFolder, CDlgHtml& panel, QWidget* window)
    : QObject(window), programFolder_(std::move(programFolder)), panel_(panel),
      chapterList_(new QListWidget(window)), placeLabel_(new QLabel(window)) {
    chapterList_->setObjectName(QStringLiteral("chapterList"));
    chapterList_->setFrameShape(QFrame::NoFrame);
    chapterList_->setFocusPolicy(Qt::NoFocus);
    chapterList_->hide();
    placeLabel_->setObjectName(QStringLiteral("chapterPlace"));
    placeLabel_->setGeometry(kPlaceLabelPlace);
    placeLabel_->hide();
    connect(chapterList_, &QListWidget::itemClicked, this, &CReadingView::OpenListedChapter);

    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(kSavePauseMs);
    connect(&saveTimer_, &QTimer::timeout, this, &CReadingView::SavePosition);
    QWebEnginePage& page = *panel_.Browser().page();
    connect(&page, &QWebEnginePage::scrollPositionChanged, this, &CReadingView::OnScrolled);
    connect(&page, &QWebEnginePage::loadStarted, this, &CReadingView::OnLoadStarted);
    connect(&panel_, &CDlgHtml::LocalPageShown, this, &CReadingView::OnPageShown);
}

CReadingView::~CReadingView() {
    SavePosition();
}

QRect CReadingView::LayOut(bool reading, const QRect& area) {
    reading_ = reading;
    placeLabel_->setVisible(reading && !placeLabel_->text().isEmpty());
    const bool list = reading && listShown_;
    chapterList_->setVisible(list);
    if (!list) {
        return area;
    }
    chapterList_->setGeometry(area.left(), area.top(), kChapterListWidth, area.height());
    const int pageLeft = area.left() + kChapterListWidth + kChapterListGap;
    return QRect(pageLeft, area.top(), area.right() + 1 - pageLeft, area.height());
}

void CReadingView::SetChapterListShown(bool shown) {
    listShown_ = shown;
    if (shown) {
        MarkShownChapter();
    }
}

bool CReadingView::ChapterListShown() const {
    return listShown_;
}

void CReadingView::SetNight(bool night) {
    QPalette colours = QApplication::palette(chapterList_);
    if (night) {
        colours.setColor(QPalette::Base, QColor(0x22, 0x24, 0x27));
        colours.setColor(QPalette::Window, QColor(0x22, 0x24, 0x27));
        colours.setColor(QPalette::Text, QColor(0xa9, 0xa7, 0xa1));
        colours.setColor(QPalette::WindowText, QColor(0xa9, 0xa7, 0xa1));
        colours.setColor(QPalette::Highlight, QColor(0x3a, 0x3c, 0x40));
        colours.setColor(QPalette::HighlightedText, QColor(0xc5, 0x8b, 0x57));
    }
    chapterList_->setPalette(colours);
    placeLabel_->setPalette(night ? colours : QApplication::palette(placeLabel_));
}

QString CReadingView::Title() const {
    if (shownFolder_.empty()) {
        return kProgramName;
    }
    const std::u16string novel = NovelNameOf(shownFolder_, index_);
    const int position = ShownChapterPosition();
    if (position == 0) {
        return Text(novel) + QStringLiteral(" - ") + kProgramName;
    }
    const std::u16string& chapter = index_.Chapters[static_cast<size_t>(position - 1)].Name;
    return Text(novel) + QStringLiteral(" - ") + Text(chapter) + QStringLiteral(" - ") +
           kProgramName;
}

QListWidget& CReadingView::ChapterList() {
    return *chapterList_;
}

QLabel& CReadingView::PlaceLabel() {
    return *placeLabel_;
}

void CReadingView::AddBookmark() {
    const int position = ShownChapterPosition();
    if (!tracking_ || position == 0) {
        emit Notice(QStringLiteral("书签只能加在章节页上"));
        return;
    }
    Bookmark mark;
    mark.Place = {shownPage_, ScrollOffset()};
    mark.Chapter = index_.Chapters[static_cast<size_t>(position - 1)].Name;
    const std::u16string folder = shownFolder_;
    QPointer<CReadingView> view(this);
    panel_.Browser().page()->runJavaScript(
        TextInViewScript(kExcerptLength), QWebEngineScript::ApplicationWorld,
        [view, folder, mark](const QVariant& excerpt) mutable {
            if (view == nullptr) {
                return;
            }
            mark.Excerpt = excerpt.toString().toStdU16String();
            ReaderPlace place = LoadReaderPlace(folder);
            place.Bookmarks.push_back(mark);
            if (!SaveReaderPlace(folder, place)) {
                emit view->Notice(
                    QStringLiteral("书签无法保存到 %1").arg(Text(ReadingFilePath(folder))));
                return;
            }
            emit view->Notice(QStringLiteral("已添加书签：%1").arg(Text(mark.Chapter)));
        });
}

void CReadingView::OpenPlace(const std::u16string& folder, const PagePlace& place) {
    pendingFolder_ = folder;
    pending_ = place;
    panel_.NavigateAsync(folder + u"/" + place.Page);
}

void CReadingView::SavePosition() {
    saveTimer_.stop();
    if (!unsaved_) {
        return;
    }
    unsaved_ = false;
    ReaderPlace place = LoadReaderPlace(shownFolder_);
    place.Scroll = {shownPage_, offset_};
    SaveReaderPlace(shownFolder_, place);
}

// The page about to be left keeps the position it was read at; the next page is followed from
// the moment it is shown.
void CReadingView::OnLoadStarted() {
    SavePosition();
    tracking_ = false;
}

void CReadingView::OnScrolled() {
    if (!tracking_) {
        return;
    }
    const int offset = ScrollOffset();
    if (offset == offset_) {
        return;
    }
    offset_ = offset;
    unsaved_ = true;
    if (!saveTimer_.isActive()) {
        saveTimer_.start();
    }
}

void CReadingView::OnPageShown(const QString& path) {
    const std::u16string file = path.toStdU16String();
    const std::u16string folder = FolderOfFile(file);
    if (!IsNovelFolder(programFolder_, folder)) {
        shownFolder_.clear();
        shownPage_.clear();
        placeLabel_->clear();
        emit TitleChanged();
        return;
    }
    shownFolder_ = folder;
    shownPage_ = file.substr(folder.size() + 1);
    // An update may have inserted chapters since the index was read.
    if (folder != indexFolder_ || IndexStamp(folder) != indexStamp_) {
        LoadIndex(folder);
    }
    MarkShownChapter();

    tracking_ = ChapterPageNumber(shownPage_) > 0;
    offset_ = 0;
    unsaved_ = false;
    if (!tracking_) {
        return;
    }
    PagePlace target = LoadReaderPlace(folder).Scroll;
    if (pendingFolder_ == folder && pending_.Page == shownPage_) {
        target = pending_;
    }
    pendingFolder_.clear();
    pending_ = {};
    if (target.Page == shownPage_ && target.Offset > 0) {
        offset_ = target.Offset;
        panel_.Browser().page()->runJavaScript(
            ScrollToFractionScript(static_cast<double>(target.Offset) / kPlaceScale),
            QWebEngineScript::ApplicationWorld);
    }
}

// A large index is read on a thread of its own; the list, the place and the title follow when
// it is read.
void CReadingView::LoadIndex(const std::u16string& folder) {
    indexFolder_ = folder;
    indexStamp_ = IndexStamp(folder);
    index_ = {};
    chapterList_->clear();
    if (QFileInfo(Text(NovelIndexPath(folder))).size() < kIndexReadOnAThread) {
        NovelIndex index;
        LoadNovelIndex(folder, index);
        ShowIndex(folder, std::move(index));
        return;
    }
    QPointer<CReadingView> view(this);
    std::thread([view, folder] {
        NovelIndex index;
        LoadNovelIndex(folder, index);
        QMetaObject::invokeMethod(
            qApp,
            [view, folder, index = std::move(index)]() mutable {
                if (view != nullptr) {
                    view->ShowIndex(folder, std::move(index));
                }
            },
            Qt::QueuedConnection);
    }).detach();
}

void CReadingView::ShowIndex(const std::u16string& folder, NovelIndex index) {
    if (folder != indexFolder_) {
        return;
    }
    index_ = std::move(index);
    FillChapterList();
    MarkShownChapter();
}

void CReadingView::FillChapterList() {
    chapterList_->clear();
    QFont headingFont = chapterList_->font();
    headingFont.setBold(true);
    ForEachContentsEntry(
        index_.Volumes, index_.Chapters.size(),
        [this, &headingFont](size_t k) {
            auto* heading = new QListWidgetItem(Text(index_.Volumes[k].Name), chapterList_);
            heading->setFont(headingFont);
            heading->setFlags(Qt::ItemIsEnabled);
        },
        [this](size_t i) {
            const IndexedChapter& chapter = index_.Chapters[i];
            auto* item = new QListWidgetItem(Text(chapter.Name), chapterList_);
            item->setData(Qt::UserRole, chapter.Page);
            item->setToolTip(Text(chapter.Name));
        });
}

// The place, the list's mark and the title follow the page shown.
void CReadingView::MarkShownChapter() {
    const int position = ShownChapterPosition();
    if (position == 0) {
        placeLabel_->clear();
        chapterList_->clearSelection();
    } else {
        placeLabel_->setText(
            QStringLiteral("第 %1 / %2 章").arg(position).arg(index_.Chapters.size()));
        const int page = index_.Chapters[static_cast<size_t>(position - 1)].Page;
        for (int row = 0; row < chapterList_->count(); ++row) {
            QListWidgetItem* item = chapterList_->item(row);
            if (item->data(Qt::UserRole).toInt() == page) {
                chapterList_->setCurrentItem(item);
                chapterList_->scrollToItem(item, QAbstractItemView::PositionAtCenter);
                break;
            }
        }
    }
    placeLabel_->setVisible(reading_ && position != 0);
    emit TitleChanged();
}

void CReadingView::OpenListedChapter(QListWidgetItem* item) {
    const int page = item->data(Qt::UserRole).toInt();
    if (page <= 0 || indexFolder_.empty()) {
        return;
    }
    panel_.NavigateAsync(indexFolder_ + u"/" + ChapterPageName(page));
    panel_.Browser().setFocus();
}

// The chapter's place in the novel's index, from 1; 0 off a chapter page the index lists.
int CReadingView::ShownChapterPosition() const {
    if (shownFolder_.empty() || shownFolder_ != indexFolder_) {
        return 0;
    }
    const int page = ChapterPageNumber(shownPage_);
    if (page == 0) {
        return 0;
    }
    const auto found = std::find_if(index_.Chapters.begin(), index_.Chapters.end(),
                                    [page](const IndexedChapter& c) { return c.Page == page; });
    return found == index_.Chapters.end() ? 0
                                          : static_cast<int>(found - index_.Chapters.begin()) + 1;
}

// How far the page is scrolled, from what the browser reports: the position and the page's
// height in the view's pixels, zoom included.
int CReadingView::ScrollOffset() const {
    const QWebEnginePage& page = *panel_.Browser().page();
    const double range = page.contentsSize().height() - panel_.Browser().height();
    if (range <= 1) {
        return 0;
    }
    const double fraction = std::clamp(page.scrollPosition().y() / range, 0.0, 1.0);
    return static_cast<int>(std::lround(fraction * kPlaceScale));
}

} // namespace velunor
