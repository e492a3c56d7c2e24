// velunor: the desktop program.
//
// The desktop shell: the application object, the main window with its three layouts (the
// recommendation pages, the search results, the reader), and the browser panel that shows every
// page and turns its "app:" links into commands. The shell only shows things and forwards
// commands; the work is done by the jobs behind the window port.

#include "app/my_app.h"
#include "net/cookie_jar.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    velunor::CMyApp::PrepareProcess();
    velunor::CMyApp app(argc, argv);
    if (!app.InitInstance()) {
        return 1;
    }
    const int code = app.exec();
    // A cookie set in the last seconds may still wait for its file.
    velunor::SaveCookieJars();
    // Search and download threads are never joined and may still be using the window: the
    // process ends here, without running any destructor under them.
    std::fflush(nullptr);
    std::_Exit(code);
}
