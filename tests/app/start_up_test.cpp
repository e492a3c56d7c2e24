// The program's start-up as a terminal sees it: the test runs this same binary as a child that
// starts the way the program starts (PrepareProcess, then the application object, then a
// browser showing a page) and reads what the child wrote.

#include "app/html_ctrl.h"
#include "app/my_app.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

using namespace velunor;

namespace {

constexpr const char* kChildArgument = "--start-like-the-program";

// The child: prints the runtime folder it got and the texts of a question's and a notice's
// buttons, one per line, and ends once its browser has shown a page.
int StartLikeTheProgram(int argc, char** argv) {
    CMyApp::PrepareProcess();
    CMyApp app(argc, argv);
    QMessageBox box(QMessageBox::Question, QStringLiteral("Velunor"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok);
    std::printf("%s\n%s\n%s\n%s\n", qgetenv("XDG_RUNTIME_DIR").constData(),
                box.button(QMessageBox::Yes)->text().toUtf8().constData(),
                box.button(QMessageBox::No)->text().toUtf8().constData(),
                box.button(QMessageBox::Ok)->text().toUtf8().constData());
    std::fflush(stdout);
    CHtmlCtrl browser;
    QObject::connect(&browser, &CHtmlCtrl::loadFinished, &app, [] { QCoreApplication::exit(0); });
    browser.setHtml(QStringLiteral("<html><body>started</body></html>"));
    browser.show();
    return app.exec();
}

struct ChildRun {
    QStringList lines;
    QString errors;
};

} // namespace

class StartUpTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir temporary_;

    // Runs the child with XDG_RUNTIME_DIR unset, the temporary folder `temporary_`, and
    // VELUNOR_DEBUG set to `debug` when it is not empty.
    ChildRun RunChild(const QString& debug) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        environment.remove(QStringLiteral("VELUNOR_DEBUG"));
        environment.remove(QStringLiteral("QT_LOGGING_RULES"));
        environment.insert(QStringLiteral("TMPDIR"), temporary_.path());
        if (!debug.isEmpty()) {
            environment.insert(QStringLiteral("VELUNOR_DEBUG"), debug);
        }
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QString::fromUtf8(kChildArgument)});
        ChildRun run;
        if (!child.waitForFinished(60000) || child.exitCode() != 0) {
            qWarning("child: %s", child.readAllStandardError().constData());
            return run;
        }
        run.lines = QString::fromUtf8(child.readAllStandardOutput()).split(QLatin1Char('\n'));
        run.errors = QString::fromUtf8(child.readAllStandardError());
        return run;
    }

    static QString RuntimeFolderName() {
        return QStringLiteral("velunor-runtime-%1").arg(geteuid());
    }

    static mode_t FolderMode(const QString& path) {
        struct stat status {};
        if (lstat(path.toLocal8Bit().constData(), &status) != 0) {
            return 0;
        }
        return status.st_mode & 07777;
    }

  private slots:
    void initTestCase() {
        QVERIFY(temporary_.isValid());
    }

    // Nothing of the browser's set-up report nor of Qt's runtime folder warning reaches the
    // terminal; the runtime folder given is private; Qt's own buttons read Chinese.
    void NormalStartIsQuietAndChinese() {
        const ChildRun run = RunChild(QString());
        QCOMPARE(run.lines.size(), 5);
        QVERIFY2(!run.errors.contains(QStringLiteral("GL Type")), qPrintable(run.errors));
        QVERIFY2(!run.errors.contains(QStringLiteral("XDG_RUNTIME_DIR")), qPrintable(run.errors));
        QVERIFY2(!run.errors.contains(QStringLiteral("qt.webenginecontext")),
                 qPrintable(run.errors));
        const QString runtime = temporary_.filePath(RuntimeFolderName());
        QCOMPARE(run.lines[0], runtime);
        QCOMPARE(FolderMode(runtime), mode_t{0700});
        QVERIFY2(run.lines[1].startsWith(QStringLiteral("是")), qPrintable(run.lines[1]));
        QVERIFY2(run.lines[2].startsWith(QStringLiteral("否")), qPrintable(run.lines[2]));
        QCOMPARE(run.lines[3], QStringLiteral("确定"));
    }

    // VELUNOR_DEBUG shows what a normal start keeps quiet, so a developer can see it.
    void DebugStartShowsTheBrowserReport() {
        const ChildRun run = RunChild(QStringLiteral("1"));
        QCOMPARE(run.lines.size(), 5);
        QVERIFY2(run.errors.contains(QStringLiteral("GL Type")), qPrintable(run.errors));
        QVERIFY2(run.errors.contains(QStringLiteral("XDG_RUNTIME_DIR")), qPrintable(run.errors));
    }

    // The runtime folder's name held by something that is not a private folder of this user
    // (here a link to a folder anyone may enter) is not used: a fresh private one is made.
    void ForeignRuntimeFolderIsNotUsed() {
        const QString open = temporary_.filePath(QStringLiteral("open"));
        QVERIFY(QDir().mkpath(open));
        QVERIFY(QFile::setPermissions(open, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther));
        const QString name = temporary_.filePath(RuntimeFolderName());
        QDir(name).removeRecursively();
        QVERIFY(QFile::link(open, name));
        const ChildRun run = RunChild(QString());
        QCOMPARE(run.lines.size(), 5);
        const QString runtime = run.lines[0];
        QVERIFY2(runtime != name && QFileInfo(runtime).dir() == QDir(temporary_.path()),
                 qPrintable(runtime));
        QCOMPARE(FolderMode(runtime), mode_t{0700});
        QCOMPARE(FolderMode(open) & 0777, mode_t{0707});
    }
};

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], kChildArgument) == 0) {
        return StartLikeTheProgram(argc, argv);
    }
    QCoreApplication app(argc, argv);
    StartUpTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "start_up_test.moc"
