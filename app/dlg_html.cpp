#include "app/dlg_html.h"

#include "app/command_ids.h"
#include "app/find_bar.h"
#include "app/page_scripts.h"
#include "library/library_layout.h"
#include "library/reading_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QShortcut>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <algorithm>
#include <array>
#include <cmath>

namespace velunor {

namespace {

// "rest_down" comes first: a link naming both fetches before it searches.
constexpr std::array kCommandTable{
    AppCommand{u"rest_down", kIdRestDown},
    AppCommand{u"recommend", kIdRecommend},
};

const QString kPreviousChapterText = QStringLiteral("上一章");
const QString kNextChapterText = QStringLiteral("下一章");
const QString kStyleScriptName = QStringLiteral("velunor-reading-style");
const QString kParagraphScriptName = QStringLiteral("velunor-chapter-paragraphs");
const QString kWaitPageEnd = QStringLiteral("/Template/wait.html");
const QString kFirstChapterNotice = QStringLiteral("已是第一章");
const QString kLastChapterNotice = QStringLiteral("已是最后一章");

struct ReadingKey {
    QKeySequence keys;
    void (CDlgHtml::*action)();
};

// The program's own script of `name`, run in every page in the program's world, in place of
// the one of that name installed before.
void InstallPageScript(QWebEnginePage& page, const QString& name,
                       QWebEngineScript::InjectionPoint when, const QString& source) {
    QWebEngineScriptCollection& scripts = page.scripts();
    for (const QWebEngineScript& old : scripts.find(name)) {
        scripts.remove(old);
    }
    QWebEngineScript script;
    script.setName(name);
    script.setInjectionPoint(when);
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setRunsOnSubFrames(false);
    script.setSourceCode(source);
    scripts.insert(script);
}

bool IsWaitPage(const QUrl& url) {
    return url.isLocalFile() && url.toLocalFile().endsWith(kWaitPageEnd);
}

// A chapter page's "上一章" or "下一章" link that leads to its own novel's contents page: the
// first chapter has none before it, the last none after it.
bool LeadsOutOfTheChapters(const QUrl& shown, const QUrl& target) {
    if (!shown.isLocalFile() || !target.isLocalFile()) {
        return false;
    }
    const QFileInfo page(shown.toLocalFile());
    const QFileInfo link(target.toLocalFile());
    return ChapterPageNumber(page.fileName().toStdU16String()) > 0 &&
           link.fileName() ==
               QString::fromUtf16(kContentsPageName.data(),
                                  static_cast<qsizetype>(kContentsPageName.size())) &&
           link.absolutePath() == page.absolutePath();
}

} // namespace

CDlgHtml::CDlgHtml(QWidget* parent) : QWidget(parent), browser_(this) {
    browser_.SetCommandTable(kCommandTable);
    // Queued, so that a command's handler reads the text of the link that sent it.
    connect(&browser_, &CHtmlCtrl::CommandPosted, this, &CDlgHtml::OnCommand, Qt::QueuedConnection);
    connect(&browser_, &CHtmlCtrl::loadFinished, this, &CDlgHtml::OnLoadFinished);
    connect(&browser_, &CHtmlCtrl::urlChanged, this, &CDlgHtml::ApplyZoom);
    findBar_ = new CFindBar(browser_, this);
    AddReadingKeys();
}

// The keys belong to the panel while the browser in it has the focus: the search box keeps its
// own Backspace and arrows. Taken as shortcuts, they reach the panel before the page, which
// would otherwise scroll by itself on Space and never turn to the next chapter.
void CDlgHtml::AddReadingKeys() {
    const ReadingKey keys[] = {
        {QKeySequence(Qt::Key_Left), &CDlgHtml::ShowPreviousChapter},
        {QKeySequence(Qt::Key_Right), &CDlgHtml::ShowNextChapter},
        {QKeySequence(Qt::Key_Space), &CDlgHtml::PageDownOrNextChapter},
        {QKeySequence(Qt::Key_PageDown), &CDlgHtml::PageDownOrNextChapter},
        {QKeySequence(Qt::Key_Backspace), &CDlgHtml::GoBack},
        {QKeySequence(Qt::ALT | Qt::Key_Left), &CDlgHtml::GoBack},
        {QKeySequence(Qt::Key_F5), &CDlgHtml::Reload},
        {QKeySequence(Qt::CTRL | Qt::Key_Equal), &CDlgHtml::ZoomIn},
        {QKeySequence(Qt::CTRL | Qt::Key_Plus), &CDlgHtml::ZoomIn},
        {QKeySequence(Qt::CTRL | Qt::Key_Minus), &CDlgHtml::ZoomOut},
        {QKeySequence(Qt::CTRL | Qt::Key_0), &CDlgHtml::ResetZoom},
        {QKeySequence(Qt::CTRL | Qt::Key_F), &CDlgHtml::OpenFindBar},
    };
    for (const ReadingKey& key : keys) {
        auto* shortcut = new QShortcut(key.keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        shortcut->setAutoRepeat(true);
        connect(shortcut, &QShortcut::activated, this, key.action);
    }
}

CHtmlCtrl& CDlgHtml::Browser() {
    return browser_;
}

void CDlgHtml::ShowWaitPage() {
    browser_.load(QUrl::fromLocalFile(
        QDir::current().absoluteFilePath(QStringLiteral("Template/wait.html"))));
    browser_.update();
}

void CDlgHtml::NavigateAsync(const std::u16string& path) {
    browser_.NavigateAsync(path);
}

std::u16string CDlgHtml::GetElementInnerHtml(const std::u16string& id) {
    return browser_.GetElementInnerHtml(id);
}

void CDlgHtml::SetLibraryLook(const QString& libraryFolder, const QString& styleSheet) {
    QWebEnginePage& page = *browser_.page();
    const QString style = LibraryStyleScript(libraryFolder, styleSheet);
    libraryFolder_ = libraryFolder;
    ApplyZoom();
    InstallPageScript(page, kStyleScriptName, QWebEngineScript::DocumentCreation, style);
    InstallPageScript(page, kParagraphScriptName, QWebEngineScript::DocumentReady,
                      ChapterParagraphScript(libraryFolder));
    // Installed scripts run in documents created from now on; the page shown changes too.
    page.runJavaScript(style, QWebEngineScript::ApplicationWorld);
}

int CDlgHtml::ZoomPercent() const {
    return libraryZoom_;
}

void CDlgHtml::SetZoomPercent(int percent) {
    libraryZoom_ = percent;
    ApplyZoom();
}

CFindBar& CDlgHtml::FindBar() {
    return *findBar_;
}

void CDlgHtml::OpenFindBar() {
    findBar_->Open();
}

// Set again whenever the page changes: the browser keeps one zoom for whatever it shows.
void CDlgHtml::ApplyZoom() {
    const int percent = IsLibraryPage(browser_.url()) ? libraryZoom_ : 100;
    if (std::lround(browser_.zoomFactor() * 100) != percent) {
        browser_.setZoomFactor(percent / 100.0);
    }
}

bool CDlgHtml::IsLibraryPage(const QUrl& url) const {
    return !libraryFolder_.isEmpty() && url.isLocalFile() &&
           url.toLocalFile().startsWith(libraryFolder_);
}

void CDlgHtml::ShowPreviousChapter() {
    OpenLinkWithText(kPreviousChapterText, kFirstChapterNotice);
}

void CDlgHtml::ShowNextChapter() {
    OpenLinkWithText(kNextChapterText, kLastChapterNotice);
}

void CDlgHtml::PageDownOrNextChapter() {
    QPointer<CDlgHtml> panel(this);
    browser_.page()->runJavaScript(ScrollPageDownScript(), QWebEngineScript::ApplicationWorld,
                                   [panel](const QVariant& scrolled) {
                                       if (panel != nullptr && !scrolled.toBool()) {
                                           panel->ShowNextChapter();
                                       }
                                   });
}

// The waiting page only stood in for the contents page while it was being made; going back to
// it would show a wait that never ends.
void CDlgHtml::GoBack() {
    QWebEngineHistory& history = *browser_.history();
    const QList<QWebEngineHistoryItem> earlier = history.backItems(history.count());
    for (auto item = earlier.crbegin(); item != earlier.crend(); ++item) {
        if (!IsWaitPage(item->url())) {
            history.goToItem(*item);
            return;
        }
    }
}

void CDlgHtml::Reload() {
    browser_.reload();
}

void CDlgHtml::ZoomIn() {
    ChangeZoom(ZoomedIn(ZoomPercent()));
}

void CDlgHtml::ZoomOut() {
    ChangeZoom(ZoomedOut(ZoomPercent()));
}

void CDlgHtml::ResetZoom() {
    ChangeZoom(100);
}

void CDlgHtml::ChangeZoom(int percent) {
    if (percent == ZoomPercent()) {
        return;
    }
    SetZoomPercent(percent);
    emit ZoomChanged(percent);
}

// The page's own link is followed, so the reader goes where the page says, whatever its name.
// The answer comes after the page was asked; the panel may be gone by then.
void CDlgHtml::OpenLinkWithText(const QString& text, const QString& edgeNotice) {
    QPointer<CDlgHtml> panel(this);
    browser_.page()->runJavaScript(LinkAddressScript(text), QWebEngineScript::ApplicationWorld,
                                   [panel, edgeNotice](const QVariant& address) {
                                       if (panel != nullptr) {
                                           panel->OpenLinkAddress(address.toString(), edgeNotice);
                                       }
                                   });
}

// Loaded, not clicked: an "app:" address is refused by the browser like any a page opens itself.
void CDlgHtml::OpenLinkAddress(const QString& address, const QString& edgeNotice) {
    const QUrl url(address);
    if (address.isEmpty() || !url.isValid()) {
        return;
    }
    if (!edgeNotice.isEmpty() && LeadsOutOfTheChapters(browser_.url(), url)) {
        emit Notice(edgeNotice);
        return;
    }
    browser_.load(url);
}

void CDlgHtml::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    browser_.setGeometry(rect());
    constexpr int kFindBarWidth = 300;
    const QSize bar(std::min(kFindBarWidth, width()), findBar_->sizeHint().height());
    findBar_->setGeometry(width() - bar.width() - 20, 0, bar.width(), bar.height());
}

void CDlgHtml::OnCommand(int command) {
    if (command == kIdRestDown) {
        emit RestDownRequested();
        return;
    }
    if (command == kIdRecommend) {
        QString novelName = browser_.LastAppCommand();
        novelName.remove(QStringLiteral("recommend/"));
        emit RecommendRequested(novelName);
    }
}

// Whatever opened the page (a link in the contents page, the bookshelf, a chapter's own
// "next" link), the reader now sees it.
void CDlgHtml::OnLoadFinished(bool ok) {
    const QUrl shown = browser_.url();
    if (!ok || !shown.isLocalFile()) {
        return;
    }
    emit LocalPageShown(shown.toLocalFile());
}

} // namespace velunor
