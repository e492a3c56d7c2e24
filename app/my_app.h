#pragma once
// The application object of the desktop program: it prepares the process for the embedded
// browser, enters the program folder and creates the single main window.

#include <QApplication>

#include <memory>

namespace velunor {

class CMainWindow;

class CMyApp : public QApplication {
    Q_OBJECT

  public:
    /// Sets what the embedded browser needs before any application object exists: the "app"
    /// scheme, shared graphics contexts, and the browser flags for running as root or without a
    /// GPU. Call once, first thing in main, on the main thread.
    static void PrepareProcess();

    /// The application object; PrepareProcess must have run. Main thread.
    CMyApp(int& argc, char** argv);
    ~CMyApp() override;

    /// Makes the program folder the current directory, creates the main window and shows it
    /// maximised. False when the program folder cannot be found. Main thread.
    bool InitInstance();

  private:
    std::unique_ptr<CMainWindow> mainWindow_;
};

} // namespace velunor
