// Start-up of the desktop window against a bare browser window showing the same start page.
//
// Without arguments this is the driver: it starts itself again, alternately as the Velunor main
// window and as a bare web view, several times each, and prints for both the median time from
// starting the process to the first paint with the start page loaded, and the memory of the
// process tree then (the browser runs helper processes, so their proportional set sizes are
// added). Needs a display; under a headless machine run it with xvfb-run -a.
//
// With --shelf the driver compares a library of 1,000 novels of 300 chapters each with a
// library of one: for each it makes a program folder holding a copy of this program, of
// velunor-cli and of the shipped data, and prints the median time of `velunor-cli shelf` and of
// the main window's start in that folder, and the ratio of the two libraries: what the shelf
// costs must not grow with the library.

#include "app/dlg_html.h"
#include "app/main_window.h"
#include "app/my_app.h"
#include "core/core.h"
#include "library/library.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 5;
constexpr int kLargeShelf = 1000;
constexpr int kChaptersPerNovel = 300;
constexpr int kListings = 30;
const QString kStartPage = QStringLiteral("Recommend/qihuan.html");

// Reports once the page's surface has been painted after the page finished loading: the same
// moment for the main window and for the bare view.
class ReadyReporter : public QObject {
  public:
    explicit ReadyReporter(QWebEngineView* view) : view_(view) {
        QCoreApplication::instance()->installEventFilter(this);
        QObject::connect(view, &QWebEngineView::loadFinished, this, [this] {
            loaded_ = true;
            if (view_->focusProxy() != nullptr) {
                view_->focusProxy()->update();
            }
        });
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool pagePaint = event->type() == QEvent::Paint && watched == view_->focusProxy();
        if (loaded_ && pagePaint && !reported_) {
            reported_ = true;
            // After the paint has been delivered, not inside it.
            QTimer::singleShot(0, [] {
                std::printf("ready\n");
                std::fflush(stdout);
            });
        }
        return false;
    }

  private:
    QWebEngineView* view_;
    bool loaded_ = false;
    bool reported_ = false;
};

// The main window among the top-level widgets, which hold its menus too; null when none is.
velunor::CMainWindow* FindMainWindow() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        auto* main = qobject_cast<velunor::CMainWindow*>(window);
        if (main != nullptr) {
            return main;
        }
    }
    return nullptr;
}

int RunVelunor(int argc, char** argv) {
    velunor::CMyApp::PrepareProcess();
    velunor::CMyApp app(argc, argv);
    if (!app.InitInstance()) {
        return 1;
    }
    // InitInstance shows the one main window; find it to watch its paints.
    velunor::CMainWindow* main = FindMainWindow();
    if (main == nullptr) {
        return 1;
    }
    ReadyReporter reporter(&main->BrowserPanel().Browser());
    return app.exec();
}

int RunBare(int argc, char** argv) {
    velunor::CMyApp::PrepareProcess();
    QApplication app(argc, argv);
    velunor::EnterProgramFolder();
    QWebEngineView view;
    ReadyReporter reporter(&view);
    view.load(QUrl::fromLocalFile(QDir::current().absoluteFilePath(kStartPage)));
    view.resize(1024, 700);
    view.showMaximized();
    return app.exec();
}

QList<qint64> ChildrenOf(qint64 pid) {
    QList<qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray line = stat.readAll();
        // The fields after the command name, which may itself hold spaces.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid) {
            children.append(entry.toLongLong());
        }
    }
    return children;
}

// A figure in kB from one line of a /proc file, such as "Pss:   1234 kB"; 0 when missing.
long long ProcKb(qint64 pid, const char* file, const QByteArray& label) {
    QFile figures(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!figures.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : figures.readAll().split('\n')) {
        if (line.startsWith(label)) {
            return line.mid(label.size()).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return 0;
}

long long ResidentKb(qint64 pid) {
    return ProcKb(pid, "status", "VmRSS:");
}

long long TreeKb(qint64 pid) {
    long long total = ProcKb(pid, "smaps_rollup", "Pss:");
    for (qint64 child : ChildrenOf(pid)) {
        total += TreeKb(child);
    }
    return total;
}

struct Sample {
    double milliseconds;
    long long residentKb;
    long long treeKb;
};

bool Measure(const QString& program, const QString& variant, Sample& sample) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    child.start(program, {variant});
    while (!child.canReadLine()) {
        if (!child.waitForReadyRead(30000)) {
            return false;
        }
    }
    sample.milliseconds = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    sample.residentKb = ResidentKb(child.processId());
    sample.treeKb = TreeKb(child.processId());
    child.kill();
    child.waitForFinished();
    return true;
}

template <typename T> T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Drive(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList variants{QStringLiteral("--velunor"), QStringLiteral("--bare")};
    std::vector<double> times[2];
    std::vector<long long> resident[2];
    std::vector<long long> tree[2];
    // Alternating, so that a warm disk cache or a busy moment favours neither.
    for (int run = 0; run < kRuns; ++run) {
        for (int v = 0; v < 2; ++v) {
            Sample sample{};
            if (!Measure(QCoreApplication::applicationFilePath(), variants[v], sample)) {
                std::fprintf(stderr, "%s did not start\n", qPrintable(variants[v]));
                return 1;
            }
            times[v].push_back(sample.milliseconds);
            resident[v].push_back(sample.residentKb);
            tree[v].push_back(sample.treeKb);
        }
    }
    QTextStream out(stdout);
    const char* names[2] = {"velunor main window", "bare web view      "};
    out << "start-up to first paint with the start page, median of " << kRuns << " runs\n";
    for (int v = 0; v < 2; ++v) {
        out << "  " << names[v] << ": " << Median(times[v]) << " ms, resident "
            << Median(resident[v]) / 1024 << " MiB (process), " << Median(tree[v]) / 1024
            << " MiB PSS (with browser helpers)\n";
    }
    const auto ratio = [](auto a, auto b) {
        return static_cast<double>(a) / static_cast<double>(b);
    };
    out << "  ratios: time " << ratio(Median(times[0]), Median(times[1])) << ", resident "
        << ratio(Median(resident[0]), Median(resident[1])) << ", PSS "
        << ratio(Median(tree[0]), Median(tree[1])) << "\n";
    return 0;
}

// A program folder of `novels` novels of kChaptersPerNovel chapters, each as a download leaves
// it for the shelf: its entry, its contents page and its index (with the summary beside it).
void WriteLibrary(const std::string& folder, int novels) {
    namespace fs = std::filesystem;
    fs::create_directories(folder);
    fs::copy(VELUNOR_SOURCE_DATA, folder, fs::copy_options::recursive);
    fs::copy_file(VELUNOR_CLI, folder + "/velunor-cli");
    fs::copy_file(QCoreApplication::applicationFilePath().toStdString(), folder + "/velunor",
                  fs::copy_options::overwrite_existing);
    fs::permissions(folder + "/velunor", fs::perms::owner_exec, fs::perm_options::add);
    const std::u16string program = velunor::Utf8ToWide(folder) + u"/";
    std::string shelf = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n";
    for (int novel = 1; novel <= novels; ++novel) {
        const std::u16string name = u"小说" + velunor::DecimalText(novel);
        const std::u16string novelFolder = velunor::NovelFolderPath(program, u"书库", name);
        fs::create_directories(velunor::NativePath(novelFolder));
        std::ofstream(velunor::NativePath(novelFolder + u"/ContentsPage.html"))
            << "<html><body></body></html>";
        velunor::NovelIndex index;
        index.RuleFile = u"a-shuwu.xml";
        index.SiteName = u"书库";
        index.NovelName = name;
        for (int n = 1; n <= kChaptersPerNovel; ++n) {
            index.Chapters.push_back(
                {n,
                 u"第" + velunor::DecimalText(n) + u"章",
                 u"http://127.0.0.1:9/book/" + velunor::DecimalText(n),
                 n % 50 == 0 ? velunor::ChapterState::Failed : velunor::ChapterState::Stored,
                 {}});
        }
        index.NextPage = kChaptersPerNovel + 1;
        velunor::SaveNovelIndex(novelFolder, index);
        shelf += "<Book>\r\n<TargetSite>书库</TargetSite>\r\n<NovelName>" +
                 velunor::WideToUtf8(name) + "</NovelName>\r\n<ContentsPagePath>书库/" +
                 velunor::WideToUtf8(name) +
                 "/ContentsPage.html</ContentsPagePath>\r\n<RuleFile>a-shuwu.xml</RuleFile>"
                 "\r\n<InfoPageUrl>http://127.0.0.1:9/book/info.html</InfoPageUrl>\r\n</Book>\r\n";
    }
    std::ofstream(folder + "/Config/BookShelf.xml", std::ios::binary)
        << shelf << "</BookShelf>\r\n";
}

// Milliseconds from starting `velunor-cli shelf` in `folder` to its end; negative when it
// failed.
double ShelfCommandMs(const QString& folder) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    child.start(folder + QStringLiteral("/velunor-cli"), {QStringLiteral("shelf")});
    if (!child.waitForFinished(120000) || child.exitCode() != 0) {
        return -1;
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

int DriveShelf(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString root = QDir::tempPath() + QStringLiteral("/velunor-shelf-benchmark-") +
                         QString::number(QCoreApplication::applicationPid());
    const int sizes[2] = {1, kLargeShelf};
    QString folders[2];
    for (int s = 0; s < 2; ++s) {
        folders[s] = root + QStringLiteral("/shelf-%1").arg(sizes[s]);
        WriteLibrary(folders[s].toStdString(), sizes[s]);
    }
    // The figures are those of a shelf that stands unchanged, as it does between two starts: a
    // listing keeps the counts of folders settled for a second, and the next ones use them.
    QThread::msleep(1500);
    for (const QString& folder : folders) {
        ShelfCommandMs(folder);
    }
    std::vector<double> shelfMs[2];
    std::vector<double> startMs[2];
    // Each library in turn, so that a warm disk cache or a busy moment favours neither. The
    // listings come before the window starts: the browser's helper processes of a window just
    // closed wind down for a while, and a listing is short enough for that to weigh on it.
    for (int listing = 0; listing < kListings; ++listing) {
        for (int s = 0; s < 2; ++s) {
            shelfMs[s].push_back(ShelfCommandMs(folders[s]));
            if (shelfMs[s].back() < 0) {
                std::fprintf(stderr, "the shelf of %d novels did not list\n", sizes[s]);
                return 1;
            }
        }
    }
    for (int run = 0; run < kRuns; ++run) {
        for (int s = 0; s < 2; ++s) {
            Sample sample{};
            if (!Measure(folders[s] + QStringLiteral("/velunor"), QStringLiteral("--velunor"),
                         sample)) {
                std::fprintf(stderr, "the window on the shelf of %d novels did not start\n",
                             sizes[s]);
                return 1;
            }
            startMs[s].push_back(sample.milliseconds);
        }
    }
    std::filesystem::remove_all(root.toStdString());
    QTextStream out(stdout);
    out << "shelf of " << kLargeShelf << " novels of " << kChaptersPerNovel
        << " chapters against one novel, median of " << kListings << " listings and " << kRuns
        << " starts\n";
    const auto line = [&out](const char* name, double one, double many) {
        out << "  " << name << ": " << one << " ms with 1, " << many << " ms with " << kLargeShelf
            << ", ratio " << many / one << " (goal at most 1.2)\n";
    };
    line("velunor-cli shelf, median ", Median(shelfMs[0]), Median(shelfMs[1]));
    // A listing takes some 20 ms, so another process's moment on the processor shows in its
    // figure; such moments only ever add time, and the fastest listing is the one they missed.
    line("velunor-cli shelf, fastest", *std::min_element(shelfMs[0].begin(), shelfMs[0].end()),
         *std::min_element(shelfMs[1].begin(), shelfMs[1].end()));
    line("main window start-up      ", Median(startMs[0]), Median(startMs[1]));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const QString variant = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (variant == QStringLiteral("--velunor")) {
        return RunVelunor(argc, argv);
    }
    if (variant == QStringLiteral("--bare")) {
        return RunBare(argc, argv);
    }
    if (variant == QStringLiteral("--shelf")) {
        return DriveShelf(argc, argv);
    }
    return Drive(argc, argv);
}
