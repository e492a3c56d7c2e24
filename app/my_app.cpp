#include "app/my_app.h"

#include "app/main_window.h"
#include "app/rule_page_renderer.h"
#include "core/core.h"
#include "core/folder_layout.h"
#include "library/library.h"
#include "net/cookie_jar.h"
#include "net/fetcher.h"

#include <QByteArray>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>
#include <QWebEngineUrlScheme>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
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

bool DebugOutputWanted() {
    return !qEnvironmentVariableIsEmpty("VELUNOR_DEBUG");
}

// The browser reports its graphics set-up on every start; nobody but a developer needs it.
// Warnings of the same category still show.
void QuietenBrowserReport() {
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.debug=false\n"
                                                    "qt.webenginecontext.info=false"));
}

// A folder fit to be a runtime folder: a real folder (not a link), owned by this user, that no
// one else may enter.
bool IsPrivateFolder(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != geteuid()) {
        return false;
    }
    return (status.st_mode & 0777) == 0700 || chmod(path.c_str(), 0700) == 0;
}

// Qt warns on the terminal when XDG_RUNTIME_DIR is not set (as under su, cron or a bare X
// server) and then makes a folder of its own. This one is made the same way: one per user below
// the temporary folder, or a fresh one when someone else holds that name.
void GiveRuntimeFolder() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        return;
    }
    const std::string temporary = QDir::tempPath().toStdString();
    std::string folder = temporary + "/velunor-runtime-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return;
    }
    if (!IsPrivateFolder(folder)) {
        std::string pattern = temporary + "/velunor-runtime-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        folder = pattern;
    }
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder));
}

void RegisterAppScheme() {
    QWebEngineUrlScheme scheme("app");
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    QWebEngineUrlScheme::registerScheme(scheme);
}

} // namespace

void CMyApp::PrepareProcess() {
    if (!DebugOutputWanted()) {
        QuietenBrowserReport();
        GiveRuntimeFolder();
    }
    RegisterAppScheme();
    AddBrowserFlags();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

bool CMyApp::InstallChineseTranslations() {
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    QCoreApplication::installTranslator(translator.release());
    return true;
}

CMyApp::CMyApp(int& argc, char** argv) : QApplication(argc, argv) {
    // Without them the program still works, with Qt's English button texts.
    InstallChineseTranslations();
    // The desktop matches the window to its menu entry, and an installed copy shows the icon
    // the package put in the icon theme.
    setDesktopFileName(QStringLiteral("org.velunor.Velunor"));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("org.velunor.Velunor")));
}

CMyApp::~CMyApp() = default;

bool CMyApp::InitInstance() {
    FolderLayout layout = SetUpFolderLayout(GetProgramFolder(), ReadLayoutEnvironment());
    std::u16string problem;
    if (!PrepareUserFolders(layout, problem)) {
        std::fprintf(stderr, "velunor: %s\n", WideToUtf8(problem).c_str());
        QMessageBox::critical(nullptr, QStringLiteral("小说阅读器"),
                              QString::fromStdU16String(problem));
        return false;
    }
    if (!EnterProgramFolder()) {
        return false;
    }
    // Every job of the program keeps its sites' cookies in the layout's cookie folder, and keeps
    // each site's interval together with the program's other processes (PacingFolderPath).
    SetCookieFolder(layout.CookieFolder);
    SetPacingFolder(PacingFolderPath(GetProgramFolder()));
    // One library, one writer: a second process goes on only when the user says so.
    if (!TakeLibraryLock(GetProgramFolder()) &&
        QMessageBox::question(
            nullptr, QStringLiteral("Velunor"),
            QString::fromUtf16(kLibraryInUseQuestion.data(),
                               static_cast<qsizetype>(kLibraryInUseQuestion.size())),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
        return false;
    }
    rulePages_ = std::make_unique<CRulePageRenderer>();
    InstallPageRenderer(std::make_shared<CInProcessPageRenderer>(rulePages_.get()));
    mainWindow_ = std::make_unique<CMainWindow>(GetProgramFolder());
    mainWindow_->resize(1024, 700);
    mainWindow_->showMaximized();
    // Once the window is up, so that the check does not hold up the start.
    if (LoadShelfSettings(GetProgramFolder()).CheckUpdatesAtStart) {
        QTimer::singleShot(0, mainWindow_.get(),
                           [this] { StartUpdateAll(*mainWindow_, GetProgramFolder()); });
    }
    return true;
}

} // namespace velunor
