#pragma once
// main() for Qt Test binaries that create a browser: the process is prepared as the program
// prepares it (the "app" scheme is registered before the application object exists).

#include "app/my_app.h"

#include <QApplication>
#include <QTest>

#define VELUNOR_BROWSER_TEST_MAIN(TestClass)                                                       \
    int main(int argc, char** argv) {                                                              \
        velunor::CMyApp::PrepareProcess();                                                         \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
