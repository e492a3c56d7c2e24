#include "app/main_window.h"

#include "app/bookmark_menu.h"
#include "app/command_ids.h"
#include "app/dlg_html.h"
#include "app/dlg_rule_draft.h"
#include "app/dlg_target_set.h"
#include "app/list_ctrl_search_result.h"
#include "app/reading_settings_control.h"
#include "app/reading_view.h"
#include "app/tree_ctrl_book_shelf.h"
#include "core/folder_layout.h"
#include "library/library.h"
#include "port/status_source.h"
#include "search/search.h"
#include "update/update_check.h"
#include "widgets/skin_button.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QShortcut>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <thread>
#include <type_traits>

// The resources are compiled into a static library, so the linker keeps them only when they are
// asked for by name; the macro cannot be used inside a namespace.
static void LoadShellResources() {
    Q_INIT_RESOURCE(resources);
}

namespace velunor {

namespace {

const QColor kWindowColor(240, 240, 240);
const QColor kFrameColor(101, 101, 101);
// The reading view's frame under the night theme: the page's own near black around it, and the
// status line's text in the page's light grey.
const QColor kNightWindowColor(0x2b, 0x2c, 0x2f);
const QColor kNightFrameColor(0x3a, 0x3c, 0x40);
const QColor kNightPanelColor(0x1c, 0x1d, 0x1f);
const QColor kNightCaptionColor(0xa9, 0xa7, 0xa1);

// Rectangles are given as in the window's design: left, top, right, bottom (exclusive).
QRect Rect(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

struct CategoryPage {
    int id;
    const char16_t* caption;
    const char16_t* page;
};

// From the rightmost button leftwards, so that read from the left the row follows the tabs of
// the recommendation pages themselves; the main page shows the last one.
constexpr std::array<CategoryPage, 7> kCategoryPages{{
    {kIdCategoryMeiren, u"美人·同人", u"Recommend/meiren.html"},
    {kIdCategoryKehuan, u"科幻·灵异", u"Recommend/kehuan.html"},
    {kIdCategoryYouxi, u"竞技·游戏", u"Recommend/youxi.html"},
    {kIdCategoryJunshi, u"军事·历史", u"Recommend/junshi.html"},
    {kIdCategoryDushi, u"都市·言情", u"Recommend/dushi.html"},
    {kIdCategoryWuxia, u"武侠·仙侠", u"Recommend/wuxia.html"},
    {kIdCategoryQihuan, u"奇幻·玄幻", u"Recommend/qihuan.html"},
}};
constexpr const char16_t* kStartPage = u"Recommend/qihuan.html";
constexpr const char16_t* kRecommendFolder = u"Recommend/";

constexpr int kCategoryTop = 73;
constexpr int kCategoryWidth = 80;
constexpr int kCategoryHeight = 23;

// The smallest window in which every control of every view is whole: the row of category
// buttons, 564 pixels from the left of its first to the right edge, starts right of the search
// header, above the right panel's frame at 293; the shelf keeps room for a dozen novels.
constexpr int kRightPanelLeft = 293;
constexpr int kCategoryRowWidth = 564;
constexpr QSize kMinimumSize(kRightPanelLeft + kCategoryRowWidth + 3, 480);

// The reading view's buttons stand in the row of the category buttons, above the frame.
constexpr QRect kBackButtonPlace(10, 71, 100, 23);
constexpr QRect kReadingSettingsButtonPlace(115, 71, 90, 23);

const QString kReadingKeysHelp =
    QStringLiteral("阅读时：← / → 上一章 / 下一章；空格或 PageDown 向下翻页，页末进入下一章；"
                   "Backspace 或 Alt+← 后退；F5 刷新；Ctrl+= / Ctrl+- / Ctrl+0 放大 / 缩小 / 还原；"
                   "Ctrl+F 查找；Ctrl+D 添加书签；F9 或 Ctrl+L 显示 / 隐藏章节目录栏");

// The progress bar takes the right end of the status line's row; the status text keeps the rest.
constexpr int kDownloadProgressWidth = 180;
constexpr int kDownloadProgressGap = 10;

QString Text(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

QString IdName(int id) {
    return QString::number(id);
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Exclamation:
        return QMessageBox::Warning;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons BoxButtons(MessageButtons buttons) {
    if (buttons == MessageButtons::YesNo) {
        return QMessageBox::Yes | QMessageBox::No;
    }
    return QMessageBox::Ok;
}

// Every Yes/No question of the program asks before something that cannot be taken back
// (deleting a novel's pages, replacing the program): Enter or Escape pressed without reading
// must answer No.
QMessageBox::StandardButton SafeAnswer(MessageButtons buttons) {
    if (buttons == MessageButtons::YesNo) {
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

MessageAnswer Answer(int button) {
    if (button == QMessageBox::Yes) {
        return MessageAnswer::Yes;
    }
    if (button == QMessageBox::No) {
        return MessageAnswer::No;
    }
    return MessageAnswer::Ok;
}

// The family list renders the design's Song typeface where it exists and the CJK fonts of a
// Debian desktop elsewhere.
QFont WindowFont() {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPointSize(9);
    return font;
}

QString DownloadProgressText(int done, int total, int failed) {
    QString text = QStringLiteral("%1/%2 章").arg(done).arg(total);
    if (failed > 0) {
        text += QStringLiteral("（失败 %1）").arg(failed);
    }
    return text;
}

void DrawFrame(QPainter& painter, const QRect& outer, bool dark = false) {
    painter.fillRect(outer, dark ? kNightFrameColor : kFrameColor);
    painter.fillRect(outer.adjusted(1, 1, -1, -1), dark ? kNightPanelColor : QColor(Qt::white));
}

// The design places a caption by the top of a character cell as tall as the font's pixel size;
// fonts with taller lines (the CJK fallbacks) are centred on that cell instead of hanging below.
void DrawCaption(QPainter& painter, int left, int top, const QString& caption) {
    const QFontMetrics metrics(painter.font());
    const int cell = QFontInfo(painter.font()).pixelSize();
    const int lineTop = top - (metrics.height() - cell) / 2;
    painter.drawText(QRect(left, lineTop, 200, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     caption);
}

} // namespace

template <typename F> auto CMainWindow::OnGuiThread(F&& work) {
    using Result = std::invoke_result_t<F&>;
    if (QThread::currentThread() == thread()) {
        return work();
    }
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(this, std::forward<F>(work), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            this, [&result, &work] { result = work(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

CMainWindow::CMainWindow(std::u16string programFolder, QWidget* parent)
    : QWidget(parent), programFolder_(std::move(programFolder)),
      shippedFolder_(FolderLayoutFor(programFolder_).ShippedFolder), font_(WindowFont()),
      search_(std::make_unique<SearchController>(*this, programFolder_)),
      viewHistory_(shippedFolder_ + kRecommendFolder,
                   CHtmlCtrl::PageUrl(shippedFolder_ + kStartPage)) {
    // Before any control exists: the updater may be about to replace the program.
    RunUpdateCheck(*this, programFolder_);
    LoadShellResources();
    searchBitmap_ = QPixmap(QStringLiteral(":/111.png"));
    shelfBitmap_ = QPixmap(QStringLiteral(":/133.png"));
    readingBitmap_ = QPixmap(QStringLiteral(":/135.png"));
    resultsBitmap_ = QPixmap(QStringLiteral(":/116.png"));
    setWindowTitle(QStringLiteral("Velunor"));
    setWindowIcon(QIcon(QStringLiteral(":/101.png")));
    // The sizing border is left out; maximising and restoring stay.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    setFont(font_);
    setMinimumSize(kMinimumSize);
    CreateControls();
    browserPanel_->Browser().load(viewHistory_.RecommendPage());
    LayOut();
    OfferToResumeNovels();
}

CMainWindow::~CMainWindow() = default;

void CMainWindow::CreateControls() {
    const int w = width();
    const int h = height();
    connect(AddPageButton(kIdMainPage, QStringLiteral("主界面"), Rect(10, 13, 130, 58),
                          QStringLiteral(":/102.png")),
            &CSkinButton::clicked, this, &CMainWindow::ShowMainPage);
    connect(AddPageButton(kIdTargetSiteSettings, QStringLiteral("目标站设置"),
                          Rect(140, 13, 260, 58), QStringLiteral(":/107.png")),
            &CSkinButton::clicked, this, &CMainWindow::OpenTargetSiteSettings);
    connect(AddPageButton(kIdExit, QStringLiteral("退出程序"), Rect(270, 13, 390, 58),
                          QStringLiteral(":/110.png")),
            &CSkinButton::clicked, this, &CMainWindow::Exit);

    searchButton_ =
        AddButton(kIdSearch, Text(std::u16string(kSearchIdleCaption)), Rect(209, 104, 269, 129));
    connect(searchButton_, &CSkinButton::clicked, this, &CMainWindow::RunSearch);

    for (size_t i = 0; i < kCategoryPages.size(); ++i) {
        const CategoryPage& category = kCategoryPages[i];
        const int right = w - 10 - kCategoryWidth * static_cast<int>(i);
        CSkinButton* button = AddButton(
            category.id, Text(category.caption),
            Rect(right - kCategoryWidth, kCategoryTop, right, kCategoryTop + kCategoryHeight));
        connect(button, &CSkinButton::clicked, this,
                [this, page = category.page] { ShowProgramPage(page); });
        categoryButtons_[i] = button;
    }

    searchBox_ = new QLineEdit(this);
    searchBox_->setObjectName(IdName(kIdSearchBox));
    searchBox_->setFrame(false);
    searchBox_->setPlaceholderText(QStringLiteral("输入书名、作者名或小说网址"));
    searchBox_->setGeometry(Rect(26, 110, 200, 125));
    searchBox_->installEventFilter(this);

    browserPanel_ = new CDlgHtml(this);
    connect(browserPanel_, &CDlgHtml::RecommendRequested, this, &CMainWindow::Recommend);
    connect(browserPanel_, &CDlgHtml::RestDownRequested, this, &CMainWindow::FetchChapterAgain);

    bookShelf_ = new CTreeCtrlBookShelf(*this, programFolder_, this);
    bookShelf_->setObjectName(IdName(kIdBookShelf));
    bookShelf_->setGeometry(Rect(23, 167, 270, h - 30));
    connect(bookShelf_, &CTreeCtrlBookShelf::RuleDraftRequested, this, [this](const QString& url) {
        CDlgRuleDraft dialog(programFolder_, url.toStdU16String(), this);
        dialog.exec();
    });
    // Every chapter page shown, however it was reached, is where the reader goes on next time.
    connect(browserPanel_, &CDlgHtml::LocalPageShown, this,
            [this](const QString& path) { bookShelf_->NoteOpenedPage(path.toStdU16String()); });

    resultList_ = new CListCtrlSearchResult(*this, programFolder_, this);
    resultList_->setObjectName(IdName(kIdSearchResultList));
    resultList_->setGeometry(Rect(303, 98, 900, 500));
    resultList_->hide();

    statusLine_ = new QLabel(QStringLiteral("完成"), this);
    statusLine_->setObjectName(IdName(kIdStatusLine));
    statusLine_->setGeometry(Rect(10, h - 20, w, h));
    statusLine_->setAutoFillBackground(true);
    // A click on it takes the offer to go on with downloads cut short.
    statusLine_->installEventFilter(this);
    QPalette statusColors = statusLine_->palette();
    statusColors.setColor(QPalette::Window, kWindowColor);
    statusLine_->setPalette(statusColors);

    jobStatusLine_ = new QLabel(this);
    jobStatusLine_->setObjectName(IdName(kIdJobStatusLine));
    jobStatusLine_->setAutoFillBackground(true);
    jobStatusLine_->setPalette(statusColors);
    jobStatusLine_->hide();

    downloadProgress_ = new QProgressBar(this);
    downloadProgress_->setObjectName(IdName(kIdDownloadProgress));
    downloadProgress_->setTextVisible(true);
    downloadProgress_->setAlignment(Qt::AlignCenter);
    downloadProgress_->hide();

    CreateReadingControls();
}

void CMainWindow::CreateReadingControls() {
    backButton_ = AddButton(kIdBack, QString(), kBackButtonPlace);
    connect(backButton_, &CSkinButton::clicked, this, &CMainWindow::ReturnToPreviousView);
    readingSettingsButton_ =
        AddButton(kIdReadingSettings, QStringLiteral("阅读设置"), kReadingSettingsButtonPlace);
    readingSettingsButton_->setToolTip(kReadingKeysHelp);
    // The page keeps the keyboard, so the reading keys work on after a choice in the menu.
    readingSettingsButton_->setFocusPolicy(Qt::NoFocus);

    readingSettings_ = new CReadingSettingsControl(programFolder_, *browserPanel_, font_, this);
    connect(readingSettingsButton_, &CSkinButton::clicked, this,
            [this] { readingSettings_->ShowMenuBelow(*readingSettingsButton_); });
    connect(readingSettings_, &CReadingSettingsControl::SaveFailed, statusLine_, &QLabel::setText);
    connect(&browserPanel_->Browser(), &CHtmlCtrl::urlChanged, this,
            [this](const QUrl& url) { viewHistory_.NoteShownPage(url); });
    CreateReaderAdditions();
}

// The chapter list beside the page, the chapter's place, the title, the position kept while
// reading, the bookmarks, and the frame following the theme.
void CMainWindow::CreateReaderAdditions() {
    readingView_ = new CReadingView(programFolder_, *browserPanel_, this);
    connect(readingView_, &CReadingView::TitleChanged, this, &CMainWindow::ShowTitle);
    connect(readingView_, &CReadingView::Notice, statusLine_, &QLabel::setText);
    connect(browserPanel_, &CDlgHtml::Notice, statusLine_, &QLabel::setText);
    connect(readingSettings_, &CReadingSettingsControl::SettingsApplied, this,
            &CMainWindow::ApplyReadingSettings);
    connect(&bookShelf_->BookmarkMenu(), &CBookmarkMenu::PlaceChosen, this,
            [this](const std::u16string& folder, const PagePlace& place) {
                readingView_->OpenPlace(folder, place);
                SetViewMode(ViewMode::Reading);
            });
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_F9), QKeySequence(Qt::CTRL | Qt::Key_L)}) {
        connect(new QShortcut(keys, this), &QShortcut::activated, readingSettings_,
                &CReadingSettingsControl::ToggleChapterList);
    }
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_D), this), &QShortcut::activated, this,
            [this] {
                if (viewMode_ == ViewMode::Reading) {
                    readingView_->AddBookmark();
                }
            });
    ApplyReadingSettings();
}

void CMainWindow::ApplyReadingSettings() {
    const ReadingSettings& settings = readingSettings_->Settings();
    night_ = settings.Theme == ReadingTheme::Night;
    readingView_->SetChapterListShown(settings.ChapterList);
    readingView_->SetNight(night_);
    LayOut();
    update();
}

void CMainWindow::ShowTitle() {
    setWindowTitle(viewMode_ == ViewMode::Reading ? readingView_->Title()
                                                  : QStringLiteral("Velunor"));
}

bool CMainWindow::DarkFrame() const {
    return night_ && viewMode_ == ViewMode::Reading;
}

CSkinButton* CMainWindow::AddButton(int id, const QString& caption, const QRect& place) {
    auto* button = new CSkinButton(caption, this);
    button->setObjectName(IdName(id));
    button->setGeometry(place);
    return button;
}

CSkinButton* CMainWindow::AddPageButton(int id, const QString& caption, const QRect& place,
                                        const QString& icon) {
    CSkinButton* button = AddButton(id, caption, place);
    button->SetButtonIcon(QPixmap(icon));
    for (ButtonColorSlot slot :
         {ButtonColorSlot::HoverBackground, ButtonColorSlot::NormalBackground,
          ButtonColorSlot::FocusBackground}) {
        button->OffsetButtonColor(slot);
    }
    return button;
}

std::u16string CMainWindow::SearchText() {
    return OnGuiThread([this] { return searchBox_->text().toStdU16String(); });
}

void CMainWindow::SetSearchText(const std::u16string& text) {
    OnGuiThread([this, &text] { searchBox_->setText(Text(text)); });
}

std::u16string CMainWindow::SearchButtonCaption() {
    return OnGuiThread([this] { return searchButton_->text().toStdU16String(); });
}

void CMainWindow::SetSearchButtonCaption(const std::u16string& caption) {
    // The caption goes back to "搜索" only when a search has ended: an empty list then says
    // that nothing was found.
    OnGuiThread([this, &caption] {
        searchButton_->setText(Text(caption));
        resultList_->ShowEmptyMessage(caption == kSearchIdleCaption);
    });
}

void CMainWindow::SetStatusText(const std::u16string& text) {
    // The source is the calling thread's; the GUI thread would have none.
    const unsigned source = CurrentStatusSource();
    OnGuiThread([this, source, &text] { ShowStatusLine(source, Text(text)); });
}

// The status line belongs to what the user did last: a search, or the newest job. A job started
// before it keeps talking beside it rather than over it, so a search made during a download
// keeps its result line and the download's lines stay in view too.
void CMainWindow::ShowStatusLine(unsigned source, const QString& text) {
    const bool newJob = source > newestStatusSource_;
    if (source == 0 || newJob) {
        statusOwner_ = source;
    }
    if (newJob) {
        newestStatusSource_ = source;
        jobStatusLine_->clear();
    }
    if (source == statusOwner_) {
        statusLine_->setText(text);
    } else {
        jobStatusLine_->setText(text);
        jobStatusLine_->setToolTip(text);
    }
    const bool showJobLine = !jobStatusLine_->text().isEmpty();
    if (showJobLine == jobStatusLine_->isHidden()) {
        jobStatusLine_->setVisible(showJobLine);
        LayOut();
    }
}

ViewMode CMainWindow::GetViewMode() {
    return OnGuiThread([this] { return viewMode_; });
}

void CMainWindow::SetViewMode(ViewMode mode) {
    OnGuiThread([this, mode] {
        if (mode != viewMode_) {
            HideFinishedDownloadProgress();
        }
        const bool startsReading = mode == ViewMode::Reading && viewMode_ != ViewMode::Reading;
        viewHistory_.NoteViewChange(viewMode_, mode);
        viewMode_ = mode;
        LayOut();
        update();
        // The reading keys work at once, without a click into the page first.
        if (startsReading) {
            browserPanel_->Browser().setFocus();
        }
    });
}

void CMainWindow::DeleteAllResultRows() {
    OnGuiThread([this] { resultList_->DeleteAllRows(); });
}

int CMainWindow::ResultRowCount() {
    return OnGuiThread([this] { return resultList_->rowCount(); });
}

void CMainWindow::AppendResultRow(const ResultRow& row) {
    OnGuiThread([this, &row] { resultList_->AppendRow(row); });
}

int CMainWindow::FirstSelectedResultRow() {
    return OnGuiThread([this] { return resultList_->FirstSelectedRow(); });
}

ResultRow CMainWindow::ResultRowTexts(int row) {
    return OnGuiThread([this, row] { return resultList_->RowTexts(row); });
}

// The item is read back from the file with the counts of the novel's summary, so `text` itself
// is not needed.
void CMainWindow::AppendBookItem(const std::u16string&) {
    BookShelfChanged();
}

// Jobs call this from their threads: the shelf is read there, and the window only shows what
// was read, so a large shelf never holds up the window.
void CMainWindow::BookShelfChanged() {
    const unsigned long long readNumber = CTreeCtrlBookShelf::NextReadNumber();
    CBookShelfModel loaded(programFolder_);
    loaded.LoadBookShelf();
    OnGuiThread([this, &loaded, readNumber] {
        bookShelf_->ShowLoadedShelf(std::move(loaded), readNumber);
    });
}

// A job's end changes one novel: only its files are read, on the job's thread, and only its
// items change.
void CMainWindow::NovelJobEnded(const std::u16string& folder) {
    const NovelShelfState state = ReadNovelShelfState(folder);
    OnGuiThread([this, &folder, &state] {
        bookShelf_->ShowNovelState(folder, state);
        // A contents page opened while the job ran says what it says now.
        const QUrl contents = CHtmlCtrl::PageUrl(folder + u"/" + std::u16string(kContentsPageName));
        if (browserPanel_->Browser().url() == contents) {
            browserPanel_->Reload();
        }
    });
}

void CMainWindow::OfferToResumeNovels() {
    const std::vector<std::u16string> pending = bookShelf_->FoldersWithPendingChapters();
    if (pending.empty()) {
        return;
    }
    resumable_ = SettleInterruptedNovels(programFolder_, pending);
    if (!resumable_.empty()) {
        statusLine_->setText(Text(ResumeOffer(resumable_.size())));
    }
}

void CMainWindow::ResumeInterruptedNovels() {
    if (resumable_.empty()) {
        return;
    }
    statusLine_->unsetCursor();
    StartResumeNovels(*this, programFolder_, std::move(resumable_));
    resumable_.clear();
}

void CMainWindow::ShowDownloadProgress(int done, int total, int failed) {
    OnGuiThread([this, done, total, failed] { SetDownloadProgress(done, total, failed); });
}

void CMainWindow::SetDownloadProgress(int done, int total, int failed) {
    const bool wasShown = !downloadProgress_->isHidden();
    if (total <= 0) {
        downloadProgress_->hide();
    } else {
        downloadProgress_->setRange(0, total);
        downloadProgress_->setValue(std::clamp(done, 0, total));
        // Set as it is: the text holds no "%" for the bar to fill in.
        downloadProgress_->setFormat(DownloadProgressText(done, total, failed));
        downloadProgress_->show();
    }
    if (wasShown != !downloadProgress_->isHidden()) {
        LayOut();
    }
}

// A finished download's last count stays in view until the user turns to something else; a
// download still running keeps its bar.
void CMainWindow::HideFinishedDownloadProgress() {
    if (downloadProgress_->isHidden() ||
        downloadProgress_->value() < downloadProgress_->maximum()) {
        return;
    }
    downloadProgress_->hide();
}

void CMainWindow::ShowWaitPage() {
    OnGuiThread([this] { browserPanel_->ShowWaitPage(); });
}

void CMainWindow::NavigateAsync(const std::u16string& url) {
    browserPanel_->NavigateAsync(url);
}

std::u16string CMainWindow::GetElementInnerHtml(const std::u16string& id) {
    return browserPanel_->GetElementInnerHtml(id);
}

MessageAnswer CMainWindow::ShowMessage(const std::u16string& text, MessageIcon icon,
                                       MessageButtons buttons) {
    return OnGuiThread([this, &text, icon, buttons] {
        QMessageBox box(BoxIcon(icon), QStringLiteral("Velunor"), Text(text), BoxButtons(buttons),
                        this);
        box.setDefaultButton(SafeAnswer(buttons));
        box.setEscapeButton(SafeAnswer(buttons));
        return Answer(box.exec());
    });
}

QWidget* CMainWindow::Control(int id) const {
    return findChild<QWidget*>(IdName(id), Qt::FindDirectChildrenOnly);
}

CDlgHtml& CMainWindow::BrowserPanel() {
    return *browserPanel_;
}

CTreeCtrlBookShelf& CMainWindow::BookShelf() {
    return *bookShelf_;
}

CListCtrlSearchResult& CMainWindow::SearchResultList() {
    return *resultList_;
}

CReadingView& CMainWindow::ReadingView() {
    return *readingView_;
}

QMenu& CMainWindow::ReadingSettingsMenu() {
    return readingSettings_->Menu();
}

QPoint CMainWindow::CentredPosition(const QRect& screen, const QRect& available,
                                    const QSize& windowSize) {
    const int taskbarHeight = screen.height() - available.height();
    const int left = screen.left() + (screen.width() - windowSize.width()) / 2;
    const int top = screen.top() + (screen.height() - taskbarHeight - windowSize.height()) / 2;
    return QPoint(left, top);
}

void CMainWindow::paintEvent(QPaintEvent*) {
    const int w = width();
    const int h = height();
    QPainter painter(this);
    painter.fillRect(rect(), DarkFrame() ? kNightWindowColor : kWindowColor);
    painter.setFont(font_);
    // The captions stand on their light tabs, whatever the theme.
    painter.setPen(Qt::black);
    if (viewMode_ == ViewMode::Reading) {
        DrawFrame(painter, Rect(9, 95, w - 10, h - 31), DarkFrame());
        painter.drawPixmap(w - 112, 73, readingBitmap_);
        DrawCaption(painter, w - 75, 80, QStringLiteral("小说阅读"));
        return;
    }
    PaintSidePanel(painter);
    DrawFrame(painter, Rect(293, 95, w - 10, h - 31));
    if (viewMode_ == ViewMode::SearchResults) {
        painter.drawPixmap(w - 112, 73, resultsBitmap_);
        DrawCaption(painter, w - 75, 80, QStringLiteral("搜索结果"));
    }
}

void CMainWindow::PaintSidePanel(QPainter& painter) {
    painter.drawPixmap(9, 73, searchBitmap_);
    DrawCaption(painter, 48, 80, QStringLiteral("小说搜索"));
    DrawFrame(painter, Rect(9, 165, 281, height() - 31));
    painter.drawPixmap(9, 143, shelfBitmap_);
    DrawCaption(painter, 48, 150, QStringLiteral("我的书架"));
}

void CMainWindow::LayOut() {
    const int w = width();
    const int h = height();
    const bool recommend = viewMode_ == ViewMode::Recommend;
    const bool results = viewMode_ == ViewMode::SearchResults;
    const bool reading = viewMode_ == ViewMode::Reading;

    bookShelf_->setGeometry(21, 178, 250, h - 220);
    bookShelf_->setVisible(!reading);
    searchBox_->setVisible(!reading);
    searchButton_->setVisible(!reading);

    // Neighbouring category buttons share their one-pixel frame.
    for (size_t i = 0; i < categoryButtons_.size(); ++i) {
        categoryButtons_[i]->move(w - 90 - 79 * static_cast<int>(i), kCategoryTop);
        categoryButtons_[i]->setVisible(recommend);
    }

    resultList_->setGeometry(303, 105, w - 322, h - 148);
    resultList_->setVisible(results);

    // The panel covers the whole white inside of its frame: a dark page meets the frame's edge
    // instead of showing a white ring inside it.
    const QRect page = readingView_->LayOut(reading, QRect(10, 96, w - 21, h - 128));
    if (reading) {
        browserPanel_->setGeometry(page);
    } else {
        browserPanel_->setGeometry(294, 96, w - 305, h - 128);
    }
    browserPanel_->setVisible(!results);

    LayOutReadingControls(reading);

    const int progressLeft = w - 10 - kDownloadProgressWidth;
    downloadProgress_->setGeometry(Rect(progressLeft, h - 19, w - 10, h - 3));
    const int statusRight = downloadProgress_->isHidden() ? w : progressLeft - kDownloadProgressGap;
    QPalette statusColors = statusLine_->palette();
    statusColors.setColor(QPalette::Window, DarkFrame() ? kNightWindowColor : kWindowColor);
    statusColors.setColor(QPalette::WindowText,
                          DarkFrame() ? kNightCaptionColor : palette().color(QPalette::WindowText));
    statusLine_->setPalette(statusColors);
    jobStatusLine_->setPalette(statusColors);
    ShowTitle();
    if (jobStatusLine_->isHidden()) {
        statusLine_->setGeometry(Rect(10, h - 20, statusRight, h));
    } else {
        const int middle = (10 + statusRight) / 2;
        statusLine_->setGeometry(Rect(10, h - 20, middle - kDownloadProgressGap, h));
        jobStatusLine_->setGeometry(Rect(middle, h - 20, statusRight, h));
    }
}

void CMainWindow::LayOutReadingControls(bool reading) {
    backButton_->setText(viewHistory_.BackCaption());
    backButton_->setVisible(reading);
    readingSettingsButton_->setVisible(reading);
}

void CMainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

void CMainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) {
        return;
    }
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasLarge = change->oldState() & (Qt::WindowMaximized | Qt::WindowMinimized);
    const bool isNormal =
        (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) == 0;
    if (wasLarge && isNormal) {
        // The window system gives the window its normal size only after this event.
        QTimer::singleShot(0, this, &CMainWindow::CentreOnScreen);
    }
}

void CMainWindow::closeEvent(QCloseEvent* event) {
    readingView_->SavePosition();
    QCoreApplication::exit(0);
    event->accept();
}

bool CMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == statusLine_) {
        // Only the offer itself is clickable: a job may have written over it since.
        const bool offered =
            !resumable_.empty() && statusLine_->text() == Text(ResumeOffer(resumable_.size()));
        if (event->type() == QEvent::Enter) {
            statusLine_->setCursor(offered ? Qt::PointingHandCursor : Qt::ArrowCursor);
        } else if (event->type() == QEvent::MouseButtonRelease && offered) {
            ResumeInterruptedNovels();
        }
        return QWidget::eventFilter(watched, event);
    }
    const bool press = event->type() == QEvent::KeyPress;
    const bool release = event->type() == QEvent::KeyRelease;
    if (watched != searchBox_ || (!press && !release)) {
        return QWidget::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) {
        return QWidget::eventFilter(watched, event);
    }
    // One search per press, however long Enter is held. It runs on the press: a message box the
    // search shows closes on the next press, and its release must not start the search again.
    if (press && !key->isAutoRepeat()) {
        RunSearch();
    }
    return true;
}

void CMainWindow::ShowMainPage() {
    if (viewMode_ == ViewMode::Recommend) {
        return;
    }
    ShowProgramPage(kStartPage);
    SetViewMode(ViewMode::Recommend);
}

void CMainWindow::ShowProgramPage(const std::u16string& relativePath) {
    browserPanel_->Browser().load(CHtmlCtrl::PageUrl(shippedFolder_ + relativePath));
}

// An address in the search box downloads the novel of that page instead of searching for it.
void CMainWindow::RunSearch() {
    std::u16string text = searchBox_->text().toStdU16String();
    if (!search_->IsRunning() && IsPageAddress(text)) {
        StartAddressDownload(*this, programFolder_, text);
        return;
    }
    search_->RunCommand();
}

SearchController& CMainWindow::Searches() {
    return *search_;
}

// The dialog's choice is the file the search reads from the program folder.
void CMainWindow::OpenTargetSiteSettings() {
    targetSiteDialog_ = std::make_unique<CDlgTargetSet>(programFolder_, this);
    targetSiteDialog_->exec();
    if (!targetSiteDialog_->DamageNotice().empty()) {
        SetStatusText(targetSiteDialog_->DamageNotice());
    }
}

// The fetch waits on the network and on the browser; the page it rewrites is shown again when
// it is done. It records the chapter's new state in the novel's index and tells the window
// (NovelJobEnded), so the novel's item follows.
void CMainWindow::FetchChapterAgain() {
    std::thread([this, programFolder = programFolder_] {
        CStatusSourceScope source;
        OnDemandChapterFetch(this, programFolder);
    }).detach();
}

void CMainWindow::Recommend(const QString& novelName) {
    searchBox_->setText(novelName);
    RunSearch();
}

void CMainWindow::Exit() {
    readingView_->SavePosition();
    hide();
    QCoreApplication::exit(0);
}

void CMainWindow::CentreOnScreen() {
    const QScreen* display = screen();
    if (display == nullptr || windowState() != Qt::WindowNoState) {
        return;
    }
    move(
        CentredPosition(display->geometry(), display->availableGeometry(), frameGeometry().size()));
}

// Back to the view the reader came from, as it was: the result list keeps its rows, and the
// shelf's view shows again the recommendation page the browser showed last.
void CMainWindow::ReturnToPreviousView() {
    if (viewHistory_.ReturnMode() == ViewMode::Recommend) {
        browserPanel_->Browser().load(viewHistory_.RecommendPage());
    }
    SetViewMode(viewHistory_.ReturnMode());
}

} // namespace velunor
