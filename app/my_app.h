#pragma once
// The application object of the desktop program: it prepares the process for the embedded
// browser, speaks Chinese in Qt's own dialogs, enters the program folder and creates the single
// main window.

#include <QApplication>

#include <memory>

namespace velunor {

class CMainWindow;
class CRulePageRenderer;

class CMyApp : public QApplication {
    Q_OBJECT

  public:
    /// Sets what the embedded browser needs before any application object exists: the "app"
    /// scheme, shared graphics contexts, and the browser flags for running as root or without a
    /// GPU. Unless VELUNOR_DEBUG is set, it also keeps the terminal quiet: the browser's report
    /// of its graphics set-up is not printed, and without XDG_RUNTIME_DIR a private runtime
    /// folder (mode 0700) is given. Call once, first thing in main, on the main thread.
    static void PrepareProcess();

    /// Installs Qt's own Chinese translations, so that standard buttons read "确定", "是" and
    /// "否"; false when the system has none (Debian: qt6-translations-l10n). Needs an
    /// application object. Main thread.
    static bool InstallChineseTranslations();

    /// The application object, with the Chinese translations installed; PrepareProcess must
    /// have run. Main thread.
    CMyApp(int& argc, char** argv);
    ~CMyApp() override;

    /// Makes the program folder the current directory, gives the jobs a browser for the rule
    /// pages that need one, creates the main window and shows it maximised. False when the
    /// program folder cannot be found. Main thread.
    bool InitInstance();

  private:
    std::unique_ptr<CRulePageRenderer> rulePages_;
    std::unique_ptr<CMainWindow> mainWindow_;
};

} // namespace velunor
