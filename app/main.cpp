// velunor: the desktop program.

#include "app/my_app.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    velunor::CMyApp::PrepareProcess();
    velunor::CMyApp app(argc, argv);
    if (!app.InitInstance()) {
        return 1;
    }
    const int code = app.exec();
    // Search and download threads are never joined and may still be using the window: the
    // process ends here, without running any destructor under them.
    std::fflush(nullptr);
    std::_Exit(code);
}
