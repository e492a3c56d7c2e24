#include "app/my_app.h"

#include "app/main_window.h"
#include "core/core.h"

#include <QByteArray>
#include <QDir>
#include <QWebEngineUrlScheme>

#include <unistd.h>

namespace velunor {

namespace {

// Without a render node the browser's GPU process only fails and retries (under Xvfb, say).
bool HasGpu() {
    return !QDir(QStringLiteral("/dev/dri"))
                .entryList({QStringLiteral("renderD*")}, QDir::System)
                .isEmpty();
}

void AddBrowserFlags() {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    // The browser's sandbox refuses to start for root.
    if (geteuid() == 0) {
        flags += " --no-sandbox";
    }
    if (!HasGpu()) {
        flags += " --disable-gpu";
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
}

void RegisterAppScheme() {
    QWebEngineUrlScheme scheme("app");
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    QWebEngineUrlScheme::registerScheme(scheme);
}

} // namespace

void CMyApp::PrepareProcess() {
    RegisterAppScheme();
    AddBrowserFlags();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

CMyApp::CMyApp(int& argc, char** argv) : QApplication(argc, argv) {}

CMyApp::~CMyApp() = default;

bool CMyApp::InitInstance() {
    if (!EnterProgramFolder()) {
        return false;
    }
    mainWindow_ = std::make_unique<CMainWindow>(GetProgramFolder());
    mainWindow_->resize(1024, 700);
    mainWindow_->showMaximized();
    return true;
}

} // namespace velunor
