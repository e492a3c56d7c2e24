#include "app/dlg_html.h"

#include "app/command_ids.h"
#include "app/page_scripts.h"
#include "library/reading_settings.h"

#include <QDir>
#include <QPointer>
#include <QShortcut>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

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

} // namespace

CDlgHtml::CDlgHtml(QWidget* parent) : QWidget(parent), browser_(this) {
    browser_.SetCommandTable(kCommandTable);
    // Queued, so that a command's handler reads the text of the link that sent it.
    connect(&browser_, &CHtmlCtrl::CommandPosted, this, &CDlgHtml::OnCommand, Qt::QueuedConnection);
    connect(&browser_, &CHtmlCtrl::loadFinished, this, &CDlgHtml::OnLoadFinished);
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
    InstallPageScript(page, kStyleScriptName, QWebEngineScript::DocumentCreation, style);
    InstallPageScript(page, kParagraphScriptName, QWebEngineScript::DocumentReady,
                      ChapterParagraphScript(libraryFolder));
    // Installed scripts run in documents created from now on; the page shown changes too.
    page.runJavaScript(style, QWebEngineScript::ApplicationWorld);
}

int CDlgHtml::ZoomPercent() const {
    return static_cast<int>(std::lround(browser_.zoomFactor() * 100));
}

void CDlgHtml::SetZoomPercent(int percent) {
    browser_.setZoomFactor(percent / 100.0);
}

void CDlgHtml::ShowPreviousChapter() {
    OpenLinkWithText(kPreviousChapterText);
}

void CDlgHtml::ShowNextChapter() {
    OpenLinkWithText(kNextChapterText);
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
void CDlgHtml::OpenLinkWithText(const QString& text) {
    QPointer<CDlgHtml> panel(this);
    browser_.page()->runJavaScript(LinkAddressScript(text), QWebEngineScript::ApplicationWorld,
                                   [panel](const QVariant& address) {
                                       if (panel != nullptr) {
                                           panel->OpenLinkAddress(address.toString());
                                       }
                                   });
}

// Loaded, not clicked: an "app:" address is refused by the browser like any a page opens itself.
void CDlgHtml::OpenLinkAddress(const QString& address) {
    const QUrl url(address);
    if (address.isEmpty() || !url.isValid()) {
        return;
    }
    browser_.load(url);
}

void CDlgHtml::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    browser_.setGeometry(rect());
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
