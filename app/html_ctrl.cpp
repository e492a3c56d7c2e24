#include "app/html_ctrl.h"

#include "app/page_scripts.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlSchemeHandler>

#include <future>
#include <memory>

namespace velunor {

namespace {

const QString kAppScheme = QStringLiteral("app");

// The answer of one inner-HTML question. Whoever holds the last reference answers with empty
// text if the page never did (the control was destroyed first), so the asking thread always
// wakes up. Touched only on the GUI thread.
class PendingAnswer {
  public:
    std::future<QString> Future() {
        return promise_.get_future();
    }
    void Answer(const QString& html) {
        if (answered_) {
            return;
        }
        answered_ = true;
        promise_.set_value(html);
    }
    ~PendingAnswer() {
        Answer(QString());
    }

  private:
    std::promise<QString> promise_;
    bool answered_ = false;
};

// "app:" addresses are commands, never documents: whatever asks to load one (a frame, an image)
// gets a refusal. Having a handler also makes the browser offer a clicked "app:" link to the
// page as a navigation instead of dropping it as an unknown scheme.
class RefuseAppRequests : public QWebEngineUrlSchemeHandler {
  public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
    }
};

void RefuseAppRequestsIn(QWebEngineProfile* profile) {
    const QByteArray scheme = kAppScheme.toLatin1();
    if (profile->urlSchemeHandler(scheme) == nullptr) {
        profile->installUrlSchemeHandler(scheme, new RefuseAppRequests(profile));
    }
}

} // namespace

// Hands the view every navigation before it starts, with whether a user clicked a link of the
// page itself (not of a frame inside it) to start it.
class AppLinkPage : public QWebEnginePage {
  public:
    explicit AppLinkPage(CHtmlCtrl* view) : QWebEnginePage(view), view_(view) {}

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        return view_->AcceptNavigation(url, type == NavigationTypeLinkClicked && isMainFrame);
    }

  private:
    CHtmlCtrl* view_;
};

CHtmlCtrl::CHtmlCtrl(QWidget* parent) : QWebEngineView(parent) {
    auto* page = new AppLinkPage(this);
    RefuseAppRequestsIn(page->profile());
    // Chapter text comes from arbitrary sites. Without scripts a page can neither navigate by
    // itself nor fake a click on an "app:" link; the program's own questions run in a world of
    // their own, which this setting does not cover.
    page->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    setPage(page);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void CHtmlCtrl::SetCommandTable(std::span<const AppCommand> table) {
    commandTable_ = table;
}

QString CHtmlCtrl::LastAppCommand() const {
    return lastAppCommand_;
}

void CHtmlCtrl::NavigateAsync(const std::u16string& path) {
    const QUrl url = PageUrl(path);
    QMetaObject::invokeMethod(
        this,
        [this, url] {
            load(url);
            update();
        },
        Qt::QueuedConnection);
}

std::u16string CHtmlCtrl::GetElementInnerHtml(const std::u16string& id) {
    auto pending = std::make_shared<PendingAnswer>();
    std::future<QString> answer = pending->Future();
    const QString script = InnerHtmlScript(QString::fromStdU16String(id));
    auto ask = [this, script, pending = std::move(pending)] {
        page()->runJavaScript(
            script, QWebEngineScript::ApplicationWorld,
            [pending](const QVariant& html) { pending->Answer(html.toString()); });
    };
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, std::move(ask), Qt::QueuedConnection);
        return answer.get().toStdU16String();
    }
    ask();
    while (answer.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return answer.get().toStdU16String();
}

QUrl CHtmlCtrl::PageUrl(const std::u16string& path) {
    const QString text = QString::fromStdU16String(path);
    if (QDir::isAbsolutePath(text)) {
        return QUrl::fromLocalFile(text);
    }
    const QUrl url(text);
    if (url.isValid() && !url.scheme().isEmpty()) {
        return url;
    }
    return QUrl::fromLocalFile(QDir::current().absoluteFilePath(text));
}

void CHtmlCtrl::OnAppCommand(const QString& text) {
    if (commandTable_.empty()) {
        return;
    }
    for (const AppCommand& entry : commandTable_) {
        if (text.contains(QString::fromUtf16(entry.name), Qt::CaseSensitive)) {
            emit CommandPosted(entry.command);
        }
    }
    lastAppCommand_ = text;
}

bool CHtmlCtrl::AcceptNavigation(const QUrl& url, bool clickedInMainFrame) {
    if (url.scheme().compare(kAppScheme, Qt::CaseInsensitive) != 0) {
        return true;
    }
    // An "app:" address that a page opened by itself (a refresh, a frame, a redirect) is as
    // dead as one that names no command.
    if (clickedInMainFrame) {
        OnAppCommand(QUrl::fromPercentEncoding(url.toEncoded(QUrl::RemoveScheme)));
    }
    return false;
}

} // namespace velunor
