#include "app/rule_page_renderer.h"

#include "core/core.h"
#include "rules/rules.h"

#include <QDateTime>
#include <QMetaObject>
#include <QNetworkCookie>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace velunor {
namespace {

// After a document has loaded, a challenge script usually navigates at once; the document is
// read only when no new navigation began within this time.
constexpr int kSettleMilliseconds = 300;
// A challenge that changes its document without navigating is read again this often.
constexpr int kChallengePollMilliseconds = 500;
// A search script that builds its results in the page without navigating gets this long.
constexpr int kScriptResultMilliseconds = 3000;

const QString kDocumentScript =
    QStringLiteral("document.documentElement ? document.documentElement.outerHTML : ''");

QString FromWide(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string ToWide(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<size_t>(text.size()));
}

bool IsWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https");
}

// ---- Cookies as lines of the Netscape cookie file, the form the cookie jar speaks ----

constexpr char kHttpOnlyPrefix[] = "#HttpOnly_";

bool CookieFromLine(const std::string& line, QNetworkCookie& cookie, QUrl& origin) {
    QByteArray text = QByteArray::fromStdString(line);
    bool httpOnly = false;
    if (text.startsWith(kHttpOnlyPrefix)) {
        httpOnly = true;
        text.remove(0, static_cast<qsizetype>(sizeof kHttpOnlyPrefix - 1));
    }
    const QList<QByteArray> fields = text.split('\t');
    if (fields.size() != 7 || fields[0].isEmpty() || fields[5].isEmpty()) {
        return false;
    }
    const QString domain = QString::fromUtf8(fields[0]);
    const bool secure = fields[3] == "TRUE";
    QString host = domain.startsWith(u'.') ? domain.mid(1) : domain;
    origin = QUrl(QStringLiteral("%1://%2/").arg(secure ? u"https" : u"http", host));
    cookie = QNetworkCookie(fields[5], fields[6]);
    // A cookie for the host alone keeps its domain empty; one for its sub-domains too names it
    // with a leading dot.
    if (fields[1] == "TRUE") {
        cookie.setDomain(QLatin1Char('.') + host);
    }
    cookie.setPath(QString::fromUtf8(fields[2]));
    cookie.setSecure(secure);
    cookie.setHttpOnly(httpOnly);
    const qint64 expires = fields[4].toLongLong();
    if (expires > 0) {
        cookie.setExpirationDate(QDateTime::fromSecsSinceEpoch(expires));
    }
    return true;
}

std::string LineOfCookie(const QNetworkCookie& cookie) {
    QByteArray domain = cookie.domain().toUtf8();
    const bool subdomains = domain.startsWith('.');
    const qint64 expires =
        cookie.isSessionCookie() ? 0 : cookie.expirationDate().toSecsSinceEpoch();
    QByteArray line;
    if (cookie.isHttpOnly()) {
        line += kHttpOnlyPrefix;
    }
    line += domain + '\t' + (subdomains ? "TRUE" : "FALSE") + '\t' +
            (cookie.path().isEmpty() ? QByteArray("/") : cookie.path().toUtf8()) + '\t' +
            (cookie.isSecure() ? "TRUE" : "FALSE") + '\t' + QByteArray::number(expires) + '\t' +
            cookie.name() + '\t' + cookie.value();
    return line.toStdString();
}

QString CookieKey(const QNetworkCookie& cookie) {
    return cookie.domain() + u'\t' + cookie.path() + u'\t' + QString::fromUtf8(cookie.name());
}

// The rule's header lines for requests to the page's own host; the User-Agent goes to the
// profile and the Referer to the first request instead.
class CRuleHeaders : public QWebEngineUrlRequestInterceptor {
  public:
    CRuleHeaders(QString host, std::vector<std::pair<QByteArray, QByteArray>> headers,
                 QObject* parent)
        : QWebEngineUrlRequestInterceptor(parent), host_(std::move(host)),
          headers_(std::move(headers)) {}

    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        if (!IsWebAddress(info.requestUrl()) && info.requestUrl().scheme() != u"data" &&
            info.requestUrl().scheme() != u"blob") {
            info.block(true);
            return;
        }
        if (info.requestUrl().host().compare(host_, Qt::CaseInsensitive) != 0) {
            return;
        }
        for (const auto& [name, value] : headers_) {
            info.setHttpHeader(name, value);
        }
    }

  private:
    QString host_;
    std::vector<std::pair<QByteArray, QByteArray>> headers_;
};

bool HeaderNamed(const std::string& line, std::string_view name, QByteArray& value) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    QByteArray lineName = QByteArray::fromStdString(line.substr(0, colon)).trimmed();
    value = QByteArray::fromStdString(line.substr(colon + 1)).trimmed();
    return lineName.compare(QByteArray(name.data(), static_cast<qsizetype>(name.size())),
                            Qt::CaseInsensitive) == 0;
}

QByteArray UserAgentOf(const RenderRequest& request) {
    QByteArray value;
    for (const std::string& line : request.Headers) {
        if (HeaderNamed(line, "User-Agent", value)) {
            return value;
        }
    }
    return {};
}

// A form's body is sent as the rule's Content-Type says, or as a plain form.
QByteArray ContentTypeOf(const RenderRequest& request) {
    QByteArray value;
    for (const std::string& line : request.Headers) {
        if (HeaderNamed(line, "Content-Type", value)) {
            return value;
        }
    }
    return "application/x-www-form-urlencoded";
}

std::vector<std::pair<QByteArray, QByteArray>> HeadersForPages(const RenderRequest& request) {
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    for (const std::string& line : request.Headers) {
        QByteArray value;
        bool browserOwn = false;
        // The browser sets these itself; the cookies come from its own store.
        for (std::string_view own :
             {"User-Agent", "Referer", "Cookie", "Host", "Content-Length", "Content-Type",
              "Accept-Encoding", "Transfer-Encoding", "Connection"}) {
            browserOwn = browserOwn || HeaderNamed(line, own, value);
        }
        const size_t colon = line.find(':');
        if (!browserOwn && colon != std::string::npos && colon > 0) {
            headers.emplace_back(QByteArray::fromStdString(line.substr(0, colon)).trimmed(),
                                 QByteArray::fromStdString(line.substr(colon + 1)).trimmed());
        }
    }
    return headers;
}

} // namespace

// Every cookie a profile holds, as its store reports them.
class CSiteCookieBook {
  public:
    explicit CSiteCookieBook(QWebEngineCookieStore* store) : store_(store) {
        added_ = QObject::connect(
            store, &QWebEngineCookieStore::cookieAdded, store,
            [this](const QNetworkCookie& cookie) { cookies_[CookieKey(cookie)] = cookie; });
        removed_ = QObject::connect(
            store, &QWebEngineCookieStore::cookieRemoved, store,
            [this](const QNetworkCookie& cookie) { cookies_.erase(CookieKey(cookie)); });
    }
    ~CSiteCookieBook() {
        QObject::disconnect(added_);
        QObject::disconnect(removed_);
    }
    CSiteCookieBook(const CSiteCookieBook&) = delete;
    CSiteCookieBook& operator=(const CSiteCookieBook&) = delete;

    void Give(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            QNetworkCookie cookie;
            QUrl origin;
            if (CookieFromLine(line, cookie, origin)) {
                store_->setCookie(cookie, origin);
            }
        }
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const auto& [key, cookie] : cookies_) {
            if (cookie.isSessionCookie() || cookie.expirationDate() > now) {
                lines.push_back(LineOfCookie(cookie));
            }
        }
        return lines;
    }

  private:
    QWebEngineCookieStore* store_;
    QMetaObject::Connection added_;
    QMetaObject::Connection removed_;
    std::map<QString, QNetworkCookie> cookies_;
};

struct CRulePageRenderer::SiteProfile {
    QWebEngineProfile* profile = nullptr;
    std::unique_ptr<CSiteCookieBook> cookies;
};

// A page that stays on the web: no other scheme, no new window, no permission.
class CRulePage : public QWebEnginePage {
  public:
    explicit CRulePage(QWebEngineProfile* profile, QObject* parent)
        : QWebEnginePage(profile, parent) {
        connect(this, &QWebEnginePage::featurePermissionRequested, this,
                [this](const QUrl& origin, Feature feature) {
                    setFeaturePermission(origin, feature, PermissionDeniedByUser);
                });
    }

  protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override {
        return IsWebAddress(url);
    }
    QWebEnginePage* createWindow(WebWindowType) override {
        return nullptr;
    }
    // A site's scripts log whatever they like; none of it is the reader's business.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override {}
};

// One load: the page, its timers and what it has seen so far.
class CRulePageLoad : public QObject {
  public:
    using Finished = std::function<void(const RenderedPage&)>;

    CRulePageLoad(QWebEngineProfile* profile, CSiteCookieBook& cookies,
                  const RenderRequest& request, Finished finished)
        : cookies_(cookies), request_(request), finished_(std::move(finished)),
          page_(new CRulePage(profile, this)) {
        rule_.SiteUrl = request.SiteUrl;
        rule_.BlockedPagePattern = request.BlockedPagePattern;
        for (QTimer* timer : {&deadline_, &settle_, &poll_, &scriptGrace_}) {
            timer->setSingleShot(true);
        }
        connect(&deadline_, &QTimer::timeout, this, [this] { TimeUp(); });
        connect(&settle_, &QTimer::timeout, this, [this] { ReadDocument(); });
        connect(&poll_, &QTimer::timeout, this, [this] { ReadDocument(); });
        connect(&scriptGrace_, &QTimer::timeout, this, [this] { ReadDocument(); });
        connect(page_, &QWebEnginePage::loadingChanged, this,
                [this](const QWebEngineLoadingInfo& info) { LoadingChanged(info); });
    }

    void Begin() {
        const QUrl url(FromWide(request_.Url));
        if (!IsWebAddress(url)) {
            return End(RenderFailure::BadAddress, "not an http or https address");
        }
        cookies_.Give(request_.Cookies);
        interceptor_ = new CRuleHeaders(url.host(), HeadersForPages(request_), this);
        page_->setUrlRequestInterceptor(interceptor_);
        QWebEngineHttpRequest first(url);
        if (!request_.Referer.empty()) {
            first.setHeader("Referer", QByteArray::fromStdString(request_.Referer));
        }
        if (request_.PostBody) {
            first.setMethod(QWebEngineHttpRequest::Post);
            first.setPostData(QByteArray::fromStdString(*request_.PostBody));
            first.setHeader("Content-Type", ContentTypeOf(request_));
        }
        deadline_.start(static_cast<int>(request_.Timeout.count()));
        page_->load(first);
    }

    void Cancel() {
        End(RenderFailure::Cancelled, "cancelled");
    }

  private:
    void LoadingChanged(const QWebEngineLoadingInfo& info) {
        switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            settle_.stop();
            poll_.stop();
            scriptGrace_.stop();
            loadError_.clear();
            return;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            // A navigation that the page's own script replaced; the next one reports.
            return;
        case QWebEngineLoadingInfo::LoadFailedStatus:
            // An error status still brings a document (a challenge answers 403 or 503).
            if (info.errorDomain() != QWebEngineLoadingInfo::HttpStatusCodeDomain) {
                loadError_ = info.errorString().toStdString();
                if (loadError_.empty()) {
                    loadError_ = "the page could not be loaded";
                }
            }
            break;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            break;
        }
        KeepChallenge();
        settle_.start(kSettleMilliseconds);
    }

    // A challenge usually sends the browser on before the document is read as the answer; it is
    // kept here, as soon as it has loaded, for the tools to show.
    void KeepChallenge() {
        if (!challenge_.empty()) {
            return;
        }
        QPointer<CRulePageLoad> self(this);
        page_->runJavaScript(kDocumentScript, [self](const QVariant& value) {
            if (!self || !self->challenge_.empty()) {
                return;
            }
            std::u16string html = ToWide(value.toString());
            if (IsBlockedPage(self->rule_, html)) {
                self->challenge_ = std::move(html);
            }
        });
    }

    void ReadDocument() {
        if (!loadError_.empty()) {
            return End(RenderFailure::LoadFailed, loadError_);
        }
        QPointer<CRulePageLoad> self(this);
        page_->runJavaScript(kDocumentScript, [self](const QVariant& value) {
            if (self) {
                self->Examine(ToWide(value.toString()));
            }
        });
    }

    void Examine(std::u16string html) {
        if (done_ || settle_.isActive()) {
            return;
        }
        if (IsBlockedPage(rule_, html)) {
            if (challenge_.empty()) {
                challenge_ = std::move(html);
            }
            poll_.start(kChallengePollMilliseconds);
            return;
        }
        if (!request_.Script.empty() && !scriptRun_) {
            scriptRun_ = true;
            page_->runJavaScript(FromWide(request_.Script));
            scriptGrace_.start(kScriptResultMilliseconds);
            return;
        }
        if (scriptGrace_.isActive()) {
            return;
        }
        RenderedPage page;
        page.Url = ToWide(QString::fromUtf8(page_->url().toEncoded()));
        page.Html = std::move(html);
        Deliver(std::move(page));
    }

    void TimeUp() {
        RenderedPage page;
        page.Url = ToWide(QString::fromUtf8(page_->url().toEncoded()));
        page.Failure = RenderFailure::TimedOut;
        page.Detail = challenge_.empty() ? "the page did not finish loading in time"
                                         : "the page was still a challenge when its time was up";
        Deliver(std::move(page));
    }

    void End(RenderFailure failure, std::string detail) {
        RenderedPage page;
        page.Url = request_.Url;
        page.Failure = failure;
        page.Detail = std::move(detail);
        Deliver(std::move(page));
    }

    void Deliver(RenderedPage page) {
        if (done_) {
            return;
        }
        done_ = true;
        for (QTimer* timer : {&deadline_, &settle_, &poll_, &scriptGrace_}) {
            timer->stop();
        }
        page_->triggerAction(QWebEnginePage::Stop);
        if (page.Challenge.empty()) {
            page.Challenge = challenge_;
        }
        page.Cookies = cookies_.Lines();
        finished_(page);
    }

    CSiteCookieBook& cookies_;
    RenderRequest request_;
    CSiteRule rule_;
    Finished finished_;
    QPointer<CRulePage> page_;
    CRuleHeaders* interceptor_ = nullptr;
    QTimer deadline_;
    QTimer settle_;
    QTimer poll_;
    QTimer scriptGrace_;
    std::string loadError_;
    std::u16string challenge_;
    bool scriptRun_ = false;
    bool done_ = false;
};

CRulePageRenderer::CRulePageRenderer(QObject* parent) : QObject(parent) {}

CRulePageRenderer::~CRulePageRenderer() {
    for (auto& [load, running] : loads_) {
        delete running;
    }
}

CRulePageRenderer::SiteProfile& CRulePageRenderer::ProfileFor(const RenderRequest& request) {
    const QByteArray userAgent = UserAgentOf(request);
    const QString key = FromWide(request.SiteUrl) + u'\n' + QString::fromUtf8(userAgent);
    std::unique_ptr<SiteProfile>& entry = profiles_[key];
    if (!entry) {
        entry = std::make_unique<SiteProfile>();
        // A profile without a storage name keeps everything in memory: nothing but the cookies
        // the site layer carries to its jar outlives the process.
        entry->profile = new QWebEngineProfile(this);
        if (!userAgent.isEmpty()) {
            entry->profile->setHttpUserAgent(QString::fromUtf8(userAgent));
        }
        entry->profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        entry->profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        QWebEngineSettings* settings = entry->profile->settings();
        settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
        settings->setAttribute(QWebEngineSettings::AutoLoadImages, false);
        settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        settings->setAttribute(QWebEngineSettings::LocalStorageEnabled, true);
        settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
        connect(entry->profile, &QWebEngineProfile::downloadRequested, this,
                [](QWebEngineDownloadRequest* download) { download->cancel(); });
        entry->cookies = std::make_unique<CSiteCookieBook>(entry->profile->cookieStore());
        entry->profile->cookieStore()->loadAllCookies();
    }
    return *entry;
}

void CRulePageRenderer::Start(quint64 load, const RenderRequest& request, LoadDone done) {
    SiteProfile& site = ProfileFor(request);
    auto* running =
        new CRulePageLoad(site.profile, *site.cookies, request,
                          [this, load, done = std::move(done)](const RenderedPage& page) {
                              done(page);
                              Finish(load, page);
                          });
    loads_[load] = running;
    running->Begin();
}

void CRulePageRenderer::Cancel(quint64 load) {
    auto found = loads_.find(load);
    if (found != loads_.end()) {
        found->second->Cancel();
    }
}

int CRulePageRenderer::RunningLoads() const {
    return static_cast<int>(loads_.size());
}

void CRulePageRenderer::Finish(quint64 load, const RenderedPage&) {
    auto found = loads_.find(load);
    if (found == loads_.end()) {
        return;
    }
    // The load is inside one of its own calls now; it goes once that has returned.
    found->second->deleteLater();
    loads_.erase(found);
}

// ---- The desktop program's renderer ----

namespace {

// What a job thread waits on while the GUI thread loads its page.
struct PendingLoad {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    RenderedPage page;
};

std::atomic<quint64> gNextLoad{1};

} // namespace

RenderedPage CInProcessPageRenderer::Render(const RenderRequest& request,
                                            const std::function<bool()>& cancelled) {
    if (renderer_->thread() == QThread::currentThread()) {
        RenderedPage page;
        page.Failure = RenderFailure::Unavailable;
        page.Detail = "a page cannot be rendered from the window's own thread";
        return page;
    }
    auto pending = std::make_shared<PendingLoad>();
    const quint64 load = gNextLoad++;
    QPointer<CRulePageRenderer> renderer(renderer_);
    QMetaObject::invokeMethod(
        renderer_,
        [renderer, load, request, pending] {
            if (!renderer) {
                return;
            }
            renderer->Start(load, request, [pending](const RenderedPage& page) {
                std::lock_guard<std::mutex> guard(pending->lock);
                pending->page = page;
                pending->done = true;
                pending->ended.notify_all();
            });
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> guard(pending->lock);
    bool cancelSent = false;
    while (!pending->ended.wait_for(guard, std::chrono::milliseconds(100),
                                    [&] { return pending->done; })) {
        if (!cancelSent && cancelled && cancelled()) {
            cancelSent = true;
            QMetaObject::invokeMethod(
                renderer_,
                [renderer, load] {
                    if (renderer) {
                        renderer->Cancel(load);
                    }
                },
                Qt::QueuedConnection);
        }
    }
    return pending->page;
}

} // namespace velunor
