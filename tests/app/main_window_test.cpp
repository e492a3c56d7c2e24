#include "app/bookmark_menu.h"
#include "app/command_ids.h"
#include "app/dlg_html.h"
#include "app/find_bar.h"
#include "app/list_ctrl_search_result.h"
#include "app/main_window.h"
#include "app/reading_view.h"
#include "app/tree_ctrl_book_shelf.h"
#include "browser_test_main.h"
#include "library/library_layout.h"
#include "library/novel_index.h"
#include "library/reader_place.h"
#include "library/reading_settings.h"
#include "library_pages.h"
#include "port/status_source.h"
#include "search/search.h"
#include "support/test_site.h"
#include "widgets/skin_button.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>

#include <atomic>
#include <future>

using namespace velunor;

namespace {

constexpr int kW = 1000;
constexpr int kH = 700;

// From the rightmost leftwards.
const std::array kCategoryIds{kIdCategoryMeiren, kIdCategoryKehuan, kIdCategoryYouxi,
                              kIdCategoryJunshi, kIdCategoryDushi,  kIdCategoryWuxia,
                              kIdCategoryQihuan};

// Painted, not controls: the search header (bitmap 111) and the tab of the results and of the
// reading view (bitmaps 116 and 135) at the window's right edge, down to the frame's top line,
// which it covers; below that line the browser panel joins it.
const QRect kSearchHeader(9, 73, 272, 64);
QRect RightTab(int windowWidth) {
    return QRect(windowWidth - 112, 73, 102, 23);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A bookshelf file listing the novel 星河旅人 of the site 书库 below `programFolder`.
QByteArray ShelfWithOneNovel(const QString& programFolder) {
    const QString contents =
        programFolder + QStringLiteral("/Novel/书库/星河旅人/ContentsPage.html");
    WriteFile(contents, "<html><body>contents</body></html>");
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n<Book>\r\n"
           "<TargetSite>书库</TargetSite>\r\n<NovelName>星河旅人</NovelName>\r\n"
           "<ContentsPagePath>" +
           contents.toUtf8() + "</ContentsPagePath>\r\n</Book>\r\n</BookShelf>\r\n";
}

template <typename T> bool Ready(const std::future<T>& future) {
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir programFolder_;
    std::unique_ptr<testing::TestSite> site_;
    std::unique_ptr<CMainWindow> window_;

    QString ProgramFile(const QString& name) const {
        return programFolder_.filePath(name);
    }

    QWidget* Control(int id) const {
        QWidget* control = window_->Control(id);
        if (control == nullptr) {
            qFatal("no control %d", id);
        }
        return control;
    }

    bool Shown(int id) const {
        return Control(id)->isVisibleTo(window_.get());
    }

    bool PanelShown() const {
        return window_->BrowserPanel().isVisibleTo(window_.get());
    }

    QColor Pixel(int x, int y) const {
        return window_->grab().toImage().pixelColor(x, y);
    }

    // Every search thread has ended, so the window may go.
    void WaitForIdleSearch() {
        QTRY_VERIFY_WITH_TIMEOUT(window_->Searches().IsIdle(), 10000);
    }

    void SelectSites(const QByteArray& selection) {
        WriteFile(ProgramFile("Config/TargetSiteSelect.xml"),
                  "<?xml version=\"1.0\" "
                  "encoding=\"UTF-8\"?>\r\n<TargetSiteSelect>\r\n<Selected>" +
                      selection + "</Selected>\r\n</TargetSiteSelect>\r\n");
    }

    void OpenWindow() {
        window_ = std::make_unique<CMainWindow>(programFolder_.path().toStdU16String() + u"/");
        window_->resize(kW, kH);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QCOMPARE(window_->size(), QSize(kW, kH));
    }

    bool IsCategoryButton(const QWidget* control) const {
        return std::find(kCategoryIds.begin(), kCategoryIds.end(), control->objectName().toInt()) !=
               kCategoryIds.end();
    }

    QAbstractButton& Button(int id) const {
        return *qobject_cast<QAbstractButton*>(Control(id));
    }

    QVariant Evaluate(const QString& script) {
        return testing::Evaluate(*window_->BrowserPanel().Browser().page(), script);
    }

    QString ComputedStyle(const QString& selector, const QString& property) {
        return testing::ComputedStyle(*window_->BrowserPanel().Browser().page(), selector,
                                      property);
    }

    // The choice `text` of the reading settings submenu `title`.
    QAction* ReadingChoice(const QString& title, const QString& text) const {
        for (QAction* option : window_->ReadingSettingsMenu().actions()) {
            if (option->menu() == nullptr || option->text() != title) {
                continue;
            }
            for (QAction* choice : option->menu()->actions()) {
                if (choice->text() == text) {
                    return choice;
                }
            }
        }
        qFatal("no reading choice %s / %s", qPrintable(title), qPrintable(text));
    }

    // A chapter of the library in the reading view.
    QString ReadChapter() {
        const QString chapter =
            testing::WriteChapterPage(NovelFolder(), 1, 1, testing::LongChapterText(40));
        window_->SetViewMode(ViewMode::Reading);
        ShowInBrowser(chapter);
        return chapter;
    }

    QString NovelFolder() const {
        return ProgramFile("Novel/书库/星河旅人");
    }

    // The novel's chapter pages and its index: one chapter per state.
    // The chapters after the first `downloaded` came with updates, when that is given.
    void WriteNovel(const std::vector<ChapterState>& states, int downloaded = 0) {
        NovelIndex index;
        index.NewFrom = downloaded > 0 ? downloaded + 1 : 0;
        for (size_t i = 0; i < states.size(); ++i) {
            const int page = static_cast<int>(i) + 1;
            const QString name = QString::fromStdU16String(ChapterPageName(page));
            WriteFile(NovelFolder() + "/" + name, "<html><body>chapter</body></html>");
            index.Chapters.push_back(
                {page, name.toStdU16String(), u"http://127.0.0.1/c", states[i], {}});
        }
        index.NextPage = static_cast<int>(states.size()) + 1;
        QVERIFY(SaveNovelIndex(NovelFolder().toStdU16String(), index));
    }

    // Returns once the panel has told the window that `path` is shown; the start page may still
    // be loading when this is called.
    void ShowInBrowser(const QString& path) {
        QSignalSpy shown(&window_->BrowserPanel(), &CDlgHtml::LocalPageShown);
        window_->NavigateAsync(path.toStdU16String());
        QTRY_VERIFY_WITH_TIMEOUT(shown.contains({path}), 10000);
    }

    QString NovelItemText() const {
        QTreeWidgetItem* root = window_->BookShelf().Root();
        // The whole line, with the site and the counts the columns show.
        return root->childCount() == 1 ? root->child(0)->toolTip(0) : QString();
    }

    void ShelfChangedOnAJobThread() {
        auto job = std::async(std::launch::async, [this] { window_->BookShelfChanged(); });
        // Not QTRY: after an earlier failure it would not wait, and the job's end would then be
        // awaited with the GUI thread that must serve it blocked.
        QVERIFY(QTest::qWaitFor([&] { return Ready(job); }, 10000));
    }

    // A novel of three chapters in two volumes, each page screens long, with its index, on the
    // shelf; no place kept in it yet.
    void WriteReadableNovel() {
        QFile::remove(NovelFolder() + "/Reading.xml");
        NovelIndex index;
        index.NovelName = u"星河旅人";
        const std::array<std::u16string, 3> names{u"第一章 山门", u"第二章 江图", u"第三章 雪夜"};
        for (int n = 1; n <= 3; ++n) {
            QVERIFY(!testing::WriteChapterPage(NovelFolder(), n, 3, testing::LongChapterText(150))
                         .isEmpty());
            index.Chapters.push_back({n,
                                      names[static_cast<size_t>(n - 1)],
                                      u"http://127.0.0.1/c",
                                      ChapterState::Stored,
                                      {}});
        }
        index.Volumes = {{0, u"第一卷 出山"}, {2, u"第二卷 入江"}};
        index.NextPage = 4;
        QVERIFY(SaveNovelIndex(NovelFolder().toStdU16String(), index));
        WriteFile(ProgramFile("Config/BookShelf.xml"), ShelfWithOneNovel(programFolder_.path()));
        ShelfChangedOnAJobThread();
    }

    ReaderPlace KeptPlace() const {
        return LoadReaderPlace(NovelFolder().toStdU16String());
    }

    // How far the page shown is scrolled, from 0 to 1.
    double ScrolledFraction() {
        return Evaluate("(function(){var r = document.scrollingElement;"
                        "return window.scrollY / (r.scrollHeight - window.innerHeight);})()")
            .toDouble();
    }

    void ScrollTo(double fraction) {
        Evaluate(QStringLiteral("(function(){var r = document.scrollingElement;"
                                "window.scrollTo(0, (r.scrollHeight - window.innerHeight) * %1);"
                                "return window.scrollY;})()")
                     .arg(fraction));
    }

    // The key as the reader presses it, with the window active and the page focused.
    void PressInPage(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QApplication::setActiveWindow(window_.get());
        QTRY_VERIFY(window_->BrowserPanel().Browser().focusProxy()->hasFocus());
        QTest::keyClick(window_->focusWidget(), static_cast<Qt::Key>(key), modifiers);
    }

    QString StatusText() const {
        return qobject_cast<QLabel*>(Control(kIdStatusLine))->text();
    }

    QProgressBar& ProgressBar() const {
        return *qobject_cast<QProgressBar*>(Control(kIdDownloadProgress));
    }

  private slots:
    void initTestCase() {
        QVERIFY(programFolder_.isValid());
        // One local site is selected; it answers every search but one for 西游 with no hits at
        // once.
        site_ = std::make_unique<testing::TestSite>();
        WriteFile(ProgramFile("Rule/a-shuwu.xml"),
                  QByteArray::fromStdString(site_->RuleFile(std::string(VELUNOR_TEST_DATA) +
                                                            "/search/rules/a-shuwu.xml")));
        SelectSites("0,");
        WriteFile(ProgramFile("Recommend/qihuan.html"), "<html><body>start</body></html>");
        WriteFile(ProgramFile("Recommend/wuxia.html"), "<html><body>wuxia</body></html>");
        WriteFile(ProgramFile("Recommend/dushi.html"), "<html><body>dushi</body></html>");
        WriteFile(ProgramFile("Recommend/junshi.html"), "<html><body>junshi</body></html>");
        // Every question of the window then reads as the program's do.
        QVERIFY(CMyApp::InstallChineseTranslations());
    }

    void init() {
        OpenWindow();
    }

    void cleanup() {
        WaitForIdleSearch();
        window_.reset();
        QFile::remove(ProgramFile("Config/BookShelf.xml"));
        QFile::remove(ProgramFile("Config/ReadingSettings.xml"));
    }

    void ControlsHaveTheirIdsTextsAndPlaces() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("Velunor"));
        struct Expected {
            int id;
            const char16_t* text;
            QRect place;
        };
        const Expected expected[] = {
            {kIdMainPage, u"主界面", QRect(10, 13, 120, 45)},
            {kIdTargetSiteSettings, u"目标站设置", QRect(140, 13, 120, 45)},
            {kIdExit, u"退出程序", QRect(270, 13, 120, 45)},
            {kIdSearch, u"搜索", QRect(209, 104, 60, 25)},
        };
        for (const Expected& button : expected) {
            auto* control = qobject_cast<QAbstractButton*>(Control(button.id));
            QVERIFY(control != nullptr);
            QCOMPARE(control->text(), QString::fromUtf16(button.text));
            QCOMPARE(control->geometry(), button.place);
        }
        QCOMPARE(Control(kIdSearchBox)->geometry(), QRect(26, 110, 174, 15));
        // An empty box says what to type.
        QCOMPARE(qobject_cast<QLineEdit*>(Control(kIdSearchBox))->placeholderText(),
                 QStringLiteral("输入书名、作者名或小说网址"));
        QCOMPARE(qobject_cast<QLabel*>(Control(kIdStatusLine))->text(), QStringLiteral("完成"));
        QCOMPARE(qobject_cast<QAbstractButton*>(Control(kIdCategoryQihuan))->text(),
                 QStringLiteral("奇幻·玄幻"));
        // The page buttons are brightened; the others keep the button face.
        auto* mainPage = static_cast<CSkinButton*>(Control(kIdMainPage));
        auto* search = static_cast<CSkinButton*>(Control(kIdSearch));
        const QColor face = search->ButtonColor(ButtonColorSlot::NormalBackground);
        const int offset = CSkinButton::BrightenOffset(face);
        QCOMPARE(mainPage->ButtonColor(ButtonColorSlot::NormalBackground),
                 QColor(face.red() + offset, face.green() + offset, face.blue() + offset));
    }

    void RecommendLayout() {
        QCOMPARE(window_->GetViewMode(), ViewMode::Recommend);
        for (size_t i = 0; i < kCategoryIds.size(); ++i) {
            QCOMPARE(Control(kCategoryIds[i])->geometry(),
                     QRect(kW - 90 - 79 * static_cast<int>(i), 73, 80, 23));
            QVERIFY(Shown(kCategoryIds[i]));
        }
        QCOMPARE(window_->BrowserPanel().geometry(), QRect(294, 96, kW - 305, kH - 128));
        QVERIFY(PanelShown());
        QCOMPARE(Control(kIdBookShelf)->geometry(), QRect(21, 178, 250, kH - 220));
        QVERIFY(Shown(kIdBookShelf) && Shown(kIdSearchBox) && Shown(kIdSearch));
        QVERIFY(!Shown(kIdSearchResultList));
        QCOMPARE(Control(kIdStatusLine)->geometry(), QRect(10, kH - 20, kW - 10, 20));
        // Frames: grey edge, white inside, window colour between the panels.
        QCOMPARE(Pixel(293, 300), QColor(101, 101, 101));
        QCOMPARE(Pixel(9, 300), QColor(101, 101, 101));
        QCOMPARE(Pixel(285, kH - 33), QColor(240, 240, 240));
        QCOMPARE(Pixel(kW - 11, kH - 33), QColor(101, 101, 101));
    }

    void SearchResultsLayout() {
        window_->SetViewMode(ViewMode::SearchResults);
        QCOMPARE(Control(kIdSearchResultList)->geometry(), QRect(303, 105, kW - 322, kH - 148));
        QVERIFY(Shown(kIdSearchResultList));
        QVERIFY(!PanelShown());
        for (int id : kCategoryIds) {
            QVERIFY(!Shown(id));
        }
        QVERIFY(Shown(kIdBookShelf) && Shown(kIdSearchBox) && Shown(kIdSearch));
        // The results tab takes the place of the category buttons.
        const QImage tab(QStringLiteral(":/116.png"));
        QCOMPARE(Pixel(kW - 112 + 95, 73 + 12), tab.pixelColor(95, 12));
    }

    void ReadingLayout() {
        window_->SetViewMode(ViewMode::Reading);
        QCOMPARE(window_->BrowserPanel().geometry(), QRect(10, 96, kW - 21, kH - 128));
        QVERIFY(PanelShown());
        for (int id : {kIdBookShelf, kIdSearchResultList, kIdSearchBox, kIdSearch}) {
            QVERIFY(!Shown(id));
        }
        for (int id : kCategoryIds) {
            QVERIFY(!Shown(id));
        }
        // One frame runs under where the shelf was.
        QCOMPARE(Pixel(285, kH - 32), QColor(101, 101, 101));
        QCOMPARE(Control(kIdStatusLine)->geometry(), QRect(10, kH - 20, kW - 10, 20));
    }

    void ResizingLaysOutAgain() {
        window_->resize(1200, 800);
        QTRY_COMPARE(window_->BrowserPanel().geometry(), QRect(294, 96, 1200 - 305, 800 - 128));
        QCOMPARE(Control(kIdCategoryMeiren)->pos(), QPoint(1200 - 90, 73));
        QCOMPARE(Control(kIdStatusLine)->geometry(), QRect(10, 780, 1190, 20));
    }

    void EnterInTheSearchBoxRunsTheSearch() {
        auto* box = static_cast<QLineEdit*>(Control(kIdSearchBox));
        box->setText(QStringLiteral("星河旅人"));
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(window_->GetViewMode(), ViewMode::SearchResults);
        QCOMPARE(window_->SearchButtonCaption(), std::u16string(u"停止搜索"));
        // The search thread reports through the window port and frees the button again.
        WaitForIdleSearch();
        QCOMPARE(qobject_cast<QLabel*>(Control(kIdStatusLine))->text(),
                 QStringLiteral("搜索完成，共搜索到 0 本小说。"));
    }

    // A search tells the truth: with no site selected none starts and the status line says what
    // to do; a site that answers with an error is named after the count.
    void SearchesSayWhatTheyCouldNotAsk() {
        SelectSites("");
        window_->SetViewMode(ViewMode::Recommend);
        window_->SetSearchText(u"西游");
        QTest::mouseClick(Control(kIdSearch), Qt::LeftButton);
        QCOMPARE(qobject_cast<QLabel*>(Control(kIdStatusLine))->text(),
                 QString::fromStdU16String(std::u16string(kNoSiteSelectedStatus)));
        QCOMPARE(window_->GetViewMode(), ViewMode::Recommend);
        QCOMPARE(window_->SearchButtonCaption(), std::u16string(u"搜索"));

        WriteFile(ProgramFile("Rule/c-broken.xml"),
                  QByteArray::fromStdString(site_->RuleFile(std::string(VELUNOR_TEST_DATA) +
                                                            "/search/rules/c-broken.xml")));
        SelectSites("0,1,");
        window_->SetSearchText(u"星河旅人");
        QTest::mouseClick(Control(kIdSearch), Qt::LeftButton);
        WaitForIdleSearch();
        QCOMPARE(qobject_cast<QLabel*>(Control(kIdStatusLine))->text(),
                 QStringLiteral("搜索完成，共搜索到 0 本小说。（1 个站点无法访问：故障站）"));
        QFile::remove(ProgramFile("Rule/c-broken.xml"));
        SelectSites("0,");
    }

    // Stopping never freezes the window: during the three-second pause it keeps serving events
    // and painting, and then the site that never answers is let go at once.
    void StopKeepsTheWindowServingAndEndsASilentSite() {
        testing::TestSite site;
        WriteFile(ProgramFile("Rule/g-silent.xml"),
                  QByteArray::fromStdString(site.RuleFile(std::string(VELUNOR_TEST_DATA) +
                                                          "/search/rules/g-silent.xml")));
        SelectSites("1,");
        window_->SetSearchText(u"西游");
        QTest::mouseClick(Control(kIdSearch), Qt::LeftButton);
        QVERIFY(window_->Searches().IsRunning());

        // Ticks the window served while the stopped search still waited for its site.
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            ticks += window_->Searches().IsIdle() ? 0 : 1;
            window_->repaint();
        });
        ticker.start(100);
        QElapsedTimer sinceStop;
        sinceStop.start();
        // The stop the button gives once the search has run for three seconds.
        window_->Searches().Stop();
        QVERIFY(!window_->Searches().IsIdle());
        QCOMPARE(window_->SearchButtonCaption(), std::u16string(u"搜索"));
        auto* box = static_cast<QLineEdit*>(Control(kIdSearchBox));
        box->clear();
        QTest::keyClicks(box, QStringLiteral("abc"));
        QCOMPARE(box->text(), QStringLiteral("abc"));

        // The site answers after ten minutes: only the cancel after the pause ends its transfer,
        // and not before the pause is over.
        QTRY_VERIFY_WITH_TIMEOUT(window_->Searches().IsIdle(), 60000);
        QVERIFY(sinceStop.elapsed() >= 3000);
        QVERIFY(ticks > 0);
        QCOMPARE(qobject_cast<QLabel*>(Control(kIdStatusLine))->text(),
                 QStringLiteral("搜索任务被终止！"));
        QFile::remove(ProgramFile("Rule/g-silent.xml"));
        SelectSites("0,");
    }

    // Enter on the message about an empty box closes it on the press; the key's release then
    // reaches the search box, which must not ask again.
    void EnterOnTheEmptySearchMessageClosesIt() {
        auto* box = static_cast<QLineEdit*>(Control(kIdSearchBox));
        box->clear();
        box->setFocus();
        QStringList shown;
        QTimer answerer;
        connect(&answerer, &QTimer::timeout, this, [&] {
            auto* message = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (message == nullptr || shown.size() == 3) {
                return;
            }
            shown.append(message->text());
            QTest::keyPress(message, Qt::Key_Return);
            QTest::keyRelease(box, Qt::Key_Return);
        });
        answerer.start(10);
        QTest::keyClick(box, Qt::Key_Return);
        QTest::qWait(200);
        QCOMPARE(shown,
                 QStringList{QStringLiteral("请在文本框中输入要搜索的小说名称或作者名称！")});
        QCOMPARE(window_->SearchButtonCaption(), std::u16string(u"搜索"));
    }

    void EnterElsewhereIsLeftAlone() {
        static_cast<QLineEdit*>(Control(kIdSearchBox))->setText(QStringLiteral("星河旅人"));
        QWidget* shelf = Control(kIdBookShelf);
        shelf->setFocus();
        QTest::keyClick(shelf, Qt::Key_Return);
        QTest::keyClick(Control(kIdSearch), Qt::Key_Enter);
        QCOMPARE(window_->GetViewMode(), ViewMode::Recommend);
        QCOMPARE(window_->SearchButtonCaption(), std::u16string(u"搜索"));
    }

    // Read from the left, the row names the categories in the order of the recommendation
    // pages' own tabs, and each button still opens its own page.
    void CategoryRowFollowsTheRecommendationPages() {
        std::vector<QAbstractButton*> row;
        for (int id : kCategoryIds) {
            row.push_back(&Button(id));
        }
        std::sort(row.begin(), row.end(),
                  [](QAbstractButton* a, QAbstractButton* b) { return a->x() < b->x(); });
        QStringList captions;
        for (QAbstractButton* button : row) {
            captions.append(button->text());
        }
        QCOMPARE(captions, (QStringList{"奇幻·玄幻", "武侠·仙侠", "都市·言情", "军事·历史",
                                        "竞技·游戏", "科幻·灵异", "美人·同人"}));
        CHtmlCtrl& browser = window_->BrowserPanel().Browser();
        for (auto [id, page] : {std::pair{kIdCategoryDushi, "Recommend/dushi.html"},
                                std::pair{kIdCategoryJunshi, "Recommend/junshi.html"}}) {
            Button(id).click();
            QTRY_COMPARE_WITH_TIMEOUT(browser.url(), QUrl::fromLocalFile(ProgramFile(page)), 10000);
        }
    }

    // At its smallest the window still shows every control of every view whole: inside the
    // window, clear of each other, and the painted headers clear of the controls.
    void MinimumSizeKeepsEveryControlWhole() {
        const QSize smallest = window_->minimumSize();
        QVERIFY(smallest.width() <= 1024 && smallest.height() <= 700);
        window_->resize(300, 200);
        QTRY_COMPARE(window_->size(), smallest);
        const int w = smallest.width();
        for (ViewMode mode : {ViewMode::Recommend, ViewMode::SearchResults, ViewMode::Reading}) {
            window_->SetViewMode(mode);
            std::vector<QWidget*> shown;
            for (QWidget* control :
                 window_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                if (control->isWindow() || !control->isVisibleTo(window_.get())) {
                    continue;
                }
                const QString name = control->objectName() + QLatin1Char(' ') +
                                     QString::number(static_cast<int>(mode));
                QVERIFY2(window_->rect().contains(control->geometry()), qPrintable(name));
                for (QWidget* other : shown) {
                    const QRect common = other->geometry().intersected(control->geometry());
                    // Neighbouring category buttons share their one-pixel frame.
                    const bool sharedFrame =
                        IsCategoryButton(control) && IsCategoryButton(other) && common.width() == 1;
                    QVERIFY2(common.isEmpty() || sharedFrame,
                             qPrintable(name + QLatin1Char('/') + other->objectName()));
                }
                if (mode != ViewMode::Recommend) {
                    QVERIFY2(!RightTab(w).intersects(control->geometry()), qPrintable(name));
                }
                auto* button = qobject_cast<CSkinButton*>(control);
                if (button != nullptr && !button->text().isEmpty()) {
                    const int textWidth = button->fontMetrics().horizontalAdvance(button->text());
                    QVERIFY2(textWidth < button->width(), qPrintable(name));
                }
                shown.push_back(control);
            }
            for (int id : kCategoryIds) {
                QVERIFY(!Shown(id) || !Control(id)->geometry().intersects(kSearchHeader));
            }
            QVERIFY(!RightTab(w).intersects(kSearchHeader));
        }
    }

    // The reader goes back to the list as it left it: the rows and the selection stay.
    void BackButtonReturnsToTheResultsAsTheyWere() {
        window_->AppendResultRow({u"1", u"书库", u"星河旅人", u"某人", u"第一章"});
        window_->AppendResultRow({u"2", u"书库", u"万灵书院", u"某人", u"第九章"});
        window_->SetViewMode(ViewMode::SearchResults);
        window_->SearchResultList().selectRow(1);
        QVERIFY(!Shown(kIdBack) && !Shown(kIdReadingSettings));
        ReadChapter();
        QVERIFY(Shown(kIdBack) && Shown(kIdReadingSettings));
        QCOMPARE(Button(kIdBack).text(), QStringLiteral("返回搜索结果"));
        Button(kIdBack).click();
        QCOMPARE(window_->GetViewMode(), ViewMode::SearchResults);
        QVERIFY(Shown(kIdSearchResultList) && Shown(kIdBookShelf));
        QCOMPARE(window_->ResultRowCount(), 2);
        QCOMPARE(window_->FirstSelectedResultRow(), 1);
        QVERIFY(!Shown(kIdBack));
    }

    // From the shelf's view, back shows again the recommendation page the reader left.
    void BackButtonReturnsToTheShelfAndItsPage() {
        CHtmlCtrl& browser = window_->BrowserPanel().Browser();
        Button(kIdCategoryWuxia).click();
        const QUrl wuxia = QUrl::fromLocalFile(ProgramFile("Recommend/wuxia.html"));
        QTRY_COMPARE_WITH_TIMEOUT(browser.url(), wuxia, 10000);
        ReadChapter();
        QCOMPARE(Button(kIdBack).text(), QStringLiteral("返回书架"));
        Button(kIdBack).click();
        QCOMPARE(window_->GetViewMode(), ViewMode::Recommend);
        QVERIFY(Shown(kIdBookShelf) && Shown(kIdCategoryWuxia));
        QTRY_COMPARE_WITH_TIMEOUT(browser.url(), wuxia, 10000);
    }

    // A choice in the menu restyles the chapter shown at once; the choices and the zoom are
    // kept in the settings file, and a new window shows library pages with them.
    void ReadingSettingsApplyAtOnceAndSurviveARestart() {
        const QString chapter = ReadChapter();
        CDlgHtml& panel = window_->BrowserPanel();
        QApplication::setActiveWindow(window_.get());
        QTRY_VERIFY(panel.Browser().focusProxy()->hasFocus());
        QCOMPARE(ComputedStyle("#chapter_text", "fontSize"), QStringLiteral("20px"));
        QVERIFY(ReadingChoice("主题", "护眼")->isChecked());
        QTest::mouseClick(&Button(kIdReadingSettings), Qt::LeftButton);
        QTRY_VERIFY(window_->ReadingSettingsMenu().isVisible());
        ReadingChoice("字号", "28 像素")->trigger();
        window_->ReadingSettingsMenu().hide();
        QTRY_COMPARE(ComputedStyle("#chapter_text", "fontSize"), QStringLiteral("28px"));
        ReadingChoice("主题", "夜间")->trigger();
        QTRY_COMPARE(ComputedStyle("body", "backgroundColor"), QStringLiteral("rgb(28, 29, 31)"));
        QVERIFY(ReadingChoice("主题", "夜间")->isChecked());
        QVERIFY(!ReadingChoice("主题", "护眼")->isChecked());
        // The page kept the keyboard through the menu: the reading keys still reach it once
        // the window is active again.
        QApplication::setActiveWindow(window_.get());
        QWidget* focused = window_->focusWidget();
        QVERIFY(focused != nullptr);
        QTest::keyClick(focused, Qt::Key_Equal, Qt::ControlModifier);
        QCOMPARE(panel.ZoomPercent(), 110);
        const ReadingSettings kept{28, 190, ReadingTheme::Night, 110};
        QCOMPARE(LoadReadingSettings(programFolder_.path().toStdU16String() + u"/"), kept);

        window_.reset();
        OpenWindow();
        QVERIFY(ReadingChoice("字号", "28 像素")->isChecked());
        QVERIFY(ReadingChoice("主题", "夜间")->isChecked());
        window_->SetViewMode(ViewMode::Reading);
        ShowInBrowser(chapter);
        QCOMPARE(ComputedStyle("#chapter_text", "fontSize"), QStringLiteral("28px"));
        QCOMPARE(ComputedStyle("body", "backgroundColor"), QStringLiteral("rgb(28, 29, 31)"));
        // The page is laid out 1.1 times as large: its width in CSS pixels shrinks to match.
        const int viewWidth = window_->BrowserPanel().Browser().width();
        const int pageWidth = Evaluate("window.innerWidth").toInt();
        QVERIFY2(std::abs(pageWidth - qRound(viewWidth / 1.1)) <= 1,
                 qPrintable(QStringLiteral("%1 / %2").arg(pageWidth).arg(viewWidth)));
    }

    // The page reaches the frame's edges: no band of another colour along its right and bottom.
    void ReadingPageFillsItsFrame() {
        ReadChapter();
        ReadingChoice("主题", "夜间")->trigger();
        QTRY_COMPARE(ComputedStyle("body", "backgroundColor"), QStringLiteral("rgb(28, 29, 31)"));
        const QRect panel = window_->BrowserPanel().geometry();
        const QColor night(28, 29, 31);
        // The page paints once the browser has composed it after the change.
        QTRY_COMPARE(window_->screen()
                         ->grabWindow(window_->winId())
                         .toImage()
                         .pixelColor(panel.right() - 25, panel.bottom() - 3),
                     night);
        const QImage shot = window_->screen()->grabWindow(window_->winId()).toImage();
        // The right edge is the scroll bar's, below its handle.
        // Nor a ring of the frame's white inside it.
        QCOMPARE(window_->BrowserPanel().geometry(), QRect(10, 96, kW - 21, kH - 128));
        for (QPoint inside :
             {QPoint(panel.left(), panel.center().y()), QPoint(panel.center().x(), panel.top()),
              QPoint(panel.right() - 1, panel.bottom() - 30),
              QPoint(panel.center().x(), panel.bottom() - 1),
              QPoint(panel.right() - 1, panel.bottom() - 1)}) {
            QCOMPARE(shot.pixelColor(inside), night);
        }
    }

    // The question before a novel's pages are deleted reads 是 / 否, and Enter pressed without
    // reading it keeps them.
    void DeleteQuestionSpeaksChineseAndDefaultsToNo() {
        WriteNovel({ChapterState::Stored});
        WriteFile(ProgramFile("Config/BookShelf.xml"), ShelfWithOneNovel(programFolder_.path()));
        ShelfChangedOnAJobThread();
        CTreeCtrlBookShelf& shelf = window_->BookShelf();
        shelf.setCurrentItem(shelf.Root()->child(0));
        QStringList buttons;
        bool noIsDefault = false;
        QTimer answerer;
        connect(&answerer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            answerer.stop();
            for (QAbstractButton* button : box->buttons()) {
                buttons.append(button->text());
            }
            noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
            QTest::keyClick(box, Qt::Key_Return);
        });
        answerer.start(10);
        shelf.DeleteBook();
        QCOMPARE(buttons.size(), 2);
        for (const char* answer : {"是", "否"}) {
            QVERIFY2(buttons.filter(QString::fromUtf8(answer)).size() == 1,
                     qPrintable(buttons.join(QLatin1Char(','))));
        }
        QVERIFY(noIsDefault);
        QVERIFY(QFileInfo::exists(NovelFolder() + "/1.html"));
        QCOMPARE(NovelItemText(), QStringLiteral("书库 - 星河旅人"));
    }

    void RecommendLinkFillsTheBoxAndSearches() {
        emit window_->BrowserPanel().RecommendRequested(QStringLiteral("雪原剑歌"));
        QCOMPARE(window_->SearchText(), std::u16string(u"雪原剑歌"));
        QCOMPARE(window_->GetViewMode(), ViewMode::SearchResults);
    }

    void MainPageButtonActsOnlyOutsideTheMainPage() {
        CHtmlCtrl& browser = window_->BrowserPanel().Browser();
        const QUrl start = QUrl::fromLocalFile(ProgramFile("Recommend/qihuan.html"));
        QTRY_VERIFY_WITH_TIMEOUT(browser.url() == start && !browser.page()->isLoading(), 10000);
        QSignalSpy loaded(&browser, &CHtmlCtrl::loadFinished);
        static_cast<QAbstractButton*>(Control(kIdCategoryWuxia))->click();
        QVERIFY(loaded.wait(10000));
        const QUrl category = QUrl::fromLocalFile(ProgramFile("Recommend/wuxia.html"));
        QCOMPARE(browser.url(), category);
        // Already on the main page: nothing is loaded again.
        static_cast<QAbstractButton*>(Control(kIdMainPage))->click();
        QVERIFY(!browser.page()->isLoading());
        QCOMPARE(browser.url(), category);
        window_->SetViewMode(ViewMode::Reading);
        static_cast<QAbstractButton*>(Control(kIdMainPage))->click();
        QCOMPARE(window_->GetViewMode(), ViewMode::Recommend);
        QVERIFY(loaded.wait(10000));
        QCOMPARE(browser.url(), start);
    }

    void JobThreadCallsRunOnTheGuiThread() {
        WriteFile(ProgramFile("Config/BookShelf.xml"), ShelfWithOneNovel(programFolder_.path()));
        auto job = std::async(std::launch::async, [this] {
            window_->SetStatusText(u"正从目标站 <书库> 进行搜索……");
            window_->AppendResultRow({u"1", u"书库", u"星河旅人", u"某人", u"第一章"});
            window_->AppendResultRow({u"2", u"书库", u"万灵书院", u"某人", u"第九章"});
            window_->AppendBookItem(u"书库 - 星河旅人");
            window_->SetViewMode(ViewMode::SearchResults);
            return window_->ResultRowCount();
        });
        QTRY_VERIFY(Ready(job));
        QCOMPARE(job.get(), 2);
        QCOMPARE(qobject_cast<QLabel*>(Control(kIdStatusLine))->text(),
                 QStringLiteral("正从目标站 <书库> 进行搜索……"));
        QVERIFY(Shown(kIdSearchResultList));
        QCOMPARE(window_->BookShelf().topLevelItem(0)->child(0)->toolTip(0),
                 QStringLiteral("书库 - 星河旅人"));

        QCOMPARE(window_->FirstSelectedResultRow(), -1);
        window_->SearchResultList().selectRow(1);
        auto selected = std::async(std::launch::async, [this] {
            return std::make_pair(window_->FirstSelectedResultRow(), window_->ResultRowTexts(1));
        });
        QTRY_VERIFY(Ready(selected));
        const auto [row, texts] = selected.get();
        QCOMPARE(row, 1);
        QCOMPARE(texts.NovelName, std::u16string(u"万灵书院"));
        QVERIFY(window_->ResultRowTexts(5).Number.empty());
    }

    // The status line belongs to what the user did last; an earlier job that still talks is
    // shown beside it, and a newer job takes the line back.
    void ASearchKeepsItsLineWhileAnEarlierDownloadTalks() {
        auto newJob = [] {
            return std::async(std::launch::async,
                              [] {
                                  CStatusSourceScope job;
                                  return CurrentStatusSource();
                              })
                .get();
        };
        auto* status = qobject_cast<QLabel*>(Control(kIdStatusLine));
        auto* jobLine = qobject_cast<QLabel*>(Control(kIdJobStatusLine));
        const unsigned download = newJob();
        struct Line {
            unsigned source;
            std::u16string text;
            QString statusLine;
            QString jobStatusLine; // empty: hidden
        };
        const Line lines[] = {
            {download, u"正在下载 第一章 ……", "正在下载 第一章 ……", ""},
            {0, u"搜索完成", "搜索完成", ""},
            {download, u"成功下载章节： 第一章", "搜索完成", "成功下载章节： 第一章"},
            {newJob(), u"正在提取小说信息……", "正在提取小说信息……", ""},
        };
        for (const Line& line : lines) {
            auto call = std::async(std::launch::async, [this, &line] {
                CStatusSourceScope source(line.source);
                window_->SetStatusText(line.text);
            });
            QTRY_VERIFY(Ready(call));
            QCOMPARE(status->text(), line.statusLine);
            QCOMPARE(jobLine->isVisible(), !line.jobStatusLine.isEmpty());
            QCOMPARE(jobLine->text(), line.jobStatusLine);
        }
    }

    // The bar takes the right end of the status line's row; the status text keeps the rest.
    void DownloadProgressShowsBesideTheStatusLine() {
        QProgressBar& bar = ProgressBar();
        QVERIFY(!bar.isVisible());
        auto job =
            std::async(std::launch::async, [this] { window_->ShowDownloadProgress(12, 120, 0); });
        QTRY_VERIFY(Ready(job));
        QVERIFY(bar.isVisible());
        QCOMPARE(bar.text(), QStringLiteral("12/120 章"));
        QCOMPARE(bar.geometry(), QRect(kW - 190, kH - 19, 180, 16));
        QCOMPARE(Control(kIdStatusLine)->geometry(), QRect(10, kH - 20, kW - 210, 20));
        // On the GUI thread the call is served at once.
        window_->ShowDownloadProgress(13, 120, 2);
        QCOMPARE(bar.text(), QStringLiteral("13/120 章（失败 2）"));
        QCOMPARE(bar.value(), 13);
        QCOMPARE(bar.maximum(), 120);
        window_->resize(1200, 800);
        QTRY_COMPARE(bar.geometry(), QRect(1200 - 190, 800 - 19, 180, 16));
        QCOMPARE(Control(kIdStatusLine)->geometry(), QRect(10, 780, 1200 - 210, 20));
        window_->ShowDownloadProgress(0, 0, 0);
        QVERIFY(!bar.isVisible());
        QCOMPARE(Control(kIdStatusLine)->geometry(), QRect(10, 780, 1190, 20));
    }

    // A running download keeps its bar whatever the user looks at; a finished one keeps its
    // final count until the user turns to another view, or the next download reports.
    void FinishedDownloadKeepsItsCountUntilTheViewChanges() {
        QProgressBar& bar = ProgressBar();
        window_->ShowDownloadProgress(3, 5, 0);
        window_->SetViewMode(ViewMode::Reading);
        QVERIFY(bar.isVisible());
        window_->ShowDownloadProgress(5, 5, 1);
        window_->SetViewMode(ViewMode::Reading);
        QVERIFY(bar.isVisible());
        QCOMPARE(bar.text(), QStringLiteral("5/5 章（失败 1）"));
        window_->SetViewMode(ViewMode::Recommend);
        QVERIFY(!bar.isVisible());
        QCOMPARE(Control(kIdStatusLine)->geometry(), QRect(10, kH - 20, kW - 10, 20));
        window_->ShowDownloadProgress(0, 7, 0);
        QVERIFY(bar.isVisible());
        QCOMPARE(bar.text(), QStringLiteral("0/7 章"));
    }

    // At start the status line offers to go on with a novel whose download was cut short, and
    // a click on the offer goes on with it on a job thread (here its rule file is gone, so the
    // job says why and finishes none).
    void DownloadCutShortIsOfferedAtStartAndGoesOnWithAClick() {
        WriteNovel({ChapterState::Stored, ChapterState::Pending});
        WriteFile(ProgramFile("Config/BookShelf.xml"), ShelfWithOneNovel(programFolder_.path()));
        window_.reset();
        OpenWindow();
        auto* status = qobject_cast<QLabel*>(Control(kIdStatusLine));
        QCOMPARE(status->text(), QStringLiteral("1 本小说有未完成的章节，点击继续下载"));
        QTest::mouseClick(status, Qt::LeftButton);
        const QString done = QStringLiteral("继续下载完成：0/1 本小说已下载全部章节。");
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), done, 10000);
    }

    // The browser, whoever opened a page of the novel in it, tells the shelf that the reader
    // has seen its chapters, and the item drops its count of new chapters. A job's end reads
    // only its novel's files on the job's thread, relabels that item in place and reloads the
    // novel's contents page when it is open.
    void ShownPagesAndEndedJobsRelabelTheNovel() {
        WriteNovel({ChapterState::Stored});
        WriteFile(ProgramFile("Config/BookShelf.xml"), ShelfWithOneNovel(programFolder_.path()));
        ShelfChangedOnAJobThread();
        QCOMPARE(NovelItemText(), QStringLiteral("书库 - 星河旅人"));
        ShowInBrowser(NovelFolder() + "/1.html");
        WriteNovel({ChapterState::Stored, ChapterState::Stored, ChapterState::Failed}, 1);
        CTreeCtrlBookShelf& shelf = window_->BookShelf();
        shelf.setCurrentItem(shelf.Root()->child(0));
        QTreeWidgetItem* item = shelf.Root()->child(0);
        WriteFile(NovelFolder() + "/ContentsPage.html", "<html><body>contents</body></html>");
        ShowInBrowser(NovelFolder() + "/ContentsPage.html");
        QSignalSpy shown(&window_->BrowserPanel(), &CDlgHtml::LocalPageShown);
        auto job = std::async(std::launch::async,
                              [this] { window_->NovelJobEnded(NovelFolder().toStdU16String()); });
        QVERIFY(QTest::qWaitFor([&] { return Ready(job); }, 10000));
        QCOMPARE(shelf.Root()->child(0), item);
        QVERIFY(item->isSelected());
        QCOMPARE(NovelItemText(), QStringLiteral("书库 - 星河旅人（新 2 章，1 章未完成）"));
        QCOMPARE(item->text(1), QStringLiteral("2"));
        QCOMPARE(item->text(2), QStringLiteral("2"));
        QTRY_VERIFY_WITH_TIMEOUT(shown.contains({NovelFolder() + "/ContentsPage.html"}), 10000);
        ShowInBrowser(NovelFolder() + "/2.html");
        QTRY_COMPARE(NovelItemText(), QStringLiteral("书库 - 星河旅人（1 章未完成）"));
    }

    // Where the reader stopped inside a chapter is written while scrolling and read back when
    // the novel is opened from the shelf in the next run, after the shelf has rewritten the
    // file with the last page read; the window names the novel and chapter, and the chapter's
    // place, only while reading.
    void ContinueReadingRestoresTheScrollPosition() {
        WriteReadableNovel();
        window_->BrowserPanel().SetZoomPercent(125);
        window_->SetViewMode(ViewMode::Reading);
        ShowInBrowser(NovelFolder() + "/2.html");
        QCOMPARE(window_->windowTitle(), QStringLiteral("星河旅人 - 第二章 江图 - Velunor"));
        QLabel& place = window_->ReadingView().PlaceLabel();
        QCOMPARE(place.text(), QStringLiteral("第 2 / 3 章"));
        QVERIFY(place.isVisible());
        ScrollTo(0.6);
        QTRY_COMPARE_WITH_TIMEOUT(KeptPlace().Scroll.Page, std::u16string(u"2.html"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(KeptPlace().Scroll.Offset - 6000) <= 20, 5000);
        QSignalSpy scrolled(window_->BrowserPanel().Browser().page(),
                            &QWebEnginePage::scrollPositionChanged);
        ScrollTo(0.3);
        QTRY_VERIFY(!scrolled.isEmpty());
        // Quitting writes what the pause has not written yet.
        window_.reset();
        QVERIFY2(std::abs(KeptPlace().Scroll.Offset - 3000) <= 20,
                 qPrintable(QString::number(KeptPlace().Scroll.Offset)));

        OpenWindow();
        QCOMPARE(window_->windowTitle(), QStringLiteral("Velunor"));
        CTreeCtrlBookShelf& shelf = window_->BookShelf();
        shelf.setCurrentItem(shelf.Root()->child(0));
        QSignalSpy shown(&window_->BrowserPanel(), &CDlgHtml::LocalPageShown);
        shelf.OpenBook();
        QTRY_VERIFY_WITH_TIMEOUT(shown.contains({NovelFolder() + "/2.html"}), 10000);
        QTRY_VERIFY(std::abs(ScrolledFraction() - 0.3) < 0.02);
        QCOMPARE(window_->windowTitle(), QStringLiteral("星河旅人 - 第二章 江图 - Velunor"));
        window_->SetViewMode(ViewMode::Recommend);
        QCOMPARE(window_->windowTitle(), QStringLiteral("Velunor"));
        QVERIFY(!window_->ReadingView().PlaceLabel().isVisible());
    }

    // The chapter list beside the page shows the volumes, marks the chapter shown, opens a
    // chapter on a click and follows the reader; the arrows stop at the novel's ends.
    void ChapterListMarksJumpsAndTheArrowsStopAtTheEnds() {
        WriteReadableNovel();
        window_->SetViewMode(ViewMode::Reading);
        ShowInBrowser(NovelFolder() + "/2.html");
        QListWidget& list = window_->ReadingView().ChapterList();
        QVERIFY(!list.isVisible());
        PressInPage(Qt::Key_F9);
        QVERIFY(list.isVisible());
        QVERIFY(LoadReadingSettings(programFolder_.path().toStdU16String() + u"/").ChapterList);
        QStringList rows;
        for (int row = 0; row < list.count(); ++row) {
            rows << list.item(row)->text();
        }
        QCOMPARE(rows, QStringList({"第一卷 出山", "第一章 山门", "第二章 江图", "第二卷 入江",
                                    "第三章 雪夜"}));
        QCOMPARE(list.currentItem()->text(), QStringLiteral("第二章 江图"));
        QVERIFY(window_->BrowserPanel().geometry().left() > list.geometry().right());

        QSignalSpy shown(&window_->BrowserPanel(), &CDlgHtml::LocalPageShown);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          list.visualItemRect(list.item(4)).center());
        QTRY_VERIFY_WITH_TIMEOUT(shown.contains({NovelFolder() + "/3.html"}), 10000);
        QCOMPARE(list.currentItem()->text(), QStringLiteral("第三章 雪夜"));
        QCOMPARE(window_->ReadingView().PlaceLabel().text(), QStringLiteral("第 3 / 3 章"));
        // An update inserts a chapter before it: the place counts it, the page number does not.
        NovelIndex updated;
        QVERIFY(LoadNovelIndex(NovelFolder().toStdU16String(), updated));
        updated.Chapters.insert(
            updated.Chapters.begin() + 1,
            {4, u"第一章之后 番外", u"http://127.0.0.1/c", ChapterState::Stored, {}});
        updated.Volumes.back().Before = 3;
        QVERIFY(SaveNovelIndex(NovelFolder().toStdU16String(), updated));
        rows.insert(2, QStringLiteral("第一章之后 番外"));
        ShowInBrowser(NovelFolder() + "/3.html");
        QCOMPARE(window_->ReadingView().PlaceLabel().text(), QStringLiteral("第 4 / 4 章"));
        QCOMPARE(list.count(), 6);
        QCOMPARE(list.item(2)->text(), rows[2]);

        struct End {
            int page;
            void (CDlgHtml::*arrow)();
            QString notice;
        };
        for (const End& end : {End{3, &CDlgHtml::ShowNextChapter, "已是最后一章"},
                               End{1, &CDlgHtml::ShowPreviousChapter, "已是第一章"}}) {
            const QString page = NovelFolder() + QStringLiteral("/%1.html").arg(end.page);
            ShowInBrowser(page);
            QCOMPARE(list.currentItem()->text(), rows[end.page == 1 ? 1 : 5]);
            (window_->BrowserPanel().*end.arrow)();
            QTRY_COMPARE(StatusText(), end.notice);
            QCOMPARE(window_->BrowserPanel().Browser().url().toLocalFile(), page);
        }
        PressInPage(Qt::Key_F9);
        QVERIFY(!list.isVisible());
    }

    // Ctrl+D marks the chapter and the place in it; the novel's bookmark menu goes back there
    // from another chapter, and deletes it.
    void BookmarkIsAddedOpenedAndDeleted() {
        WriteReadableNovel();
        window_->SetViewMode(ViewMode::Reading);
        ShowInBrowser(NovelFolder() + "/2.html");
        ScrollTo(0.4);
        QTRY_VERIFY(std::abs(KeptPlace().Scroll.Offset - 4000) <= 100);
        PressInPage(Qt::Key_D, Qt::ControlModifier);
        QTRY_COMPARE(KeptPlace().Bookmarks.size(), size_t{1});
        const Bookmark mark = KeptPlace().Bookmarks.front();
        QCOMPARE(mark.Place.Page, std::u16string(u"2.html"));
        QVERIFY(std::abs(mark.Place.Offset - 4000) <= 100);
        QCOMPARE(mark.Chapter, std::u16string(u"第二章 江图"));
        QVERIFY(mark.Excerpt.find(u"江水向东流去") != std::u16string::npos);
        QCOMPARE(StatusText(), QStringLiteral("已添加书签：第二章 江图"));

        ShowInBrowser(NovelFolder() + "/1.html");
        window_->SetViewMode(ViewMode::Recommend);
        CTreeCtrlBookShelf& shelf = window_->BookShelf();
        const QRect item = shelf.visualItemRect(shelf.Root()->child(0));
        QContextMenuEvent click(QContextMenuEvent::Mouse, item.center(),
                                shelf.viewport()->mapToGlobal(item.center()));
        QApplication::sendEvent(shelf.viewport(), &click);
        QTRY_VERIFY(shelf.ContextMenu().isVisible());
        shelf.ContextMenu().hide();
        CBookmarkMenu& menu = shelf.BookmarkMenu();
        QVERIFY(shelf.ContextMenu().actions().contains(menu.menuAction()));
        menu.Refresh();
        QAction* open = menu.actions().front();
        QCOMPARE(open->text(), CBookmarkMenu::BookmarkText(mark));
        QSignalSpy shown(&window_->BrowserPanel(), &CDlgHtml::LocalPageShown);
        open->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(shown.contains({NovelFolder() + "/2.html"}), 10000);
        QCOMPARE(window_->GetViewMode(), ViewMode::Reading);
        QTRY_VERIFY(std::abs(ScrolledFraction() - 0.4) < 0.02);

        QAction* deleting = menu.actions().back();
        QVERIFY(deleting->menu() != nullptr);
        deleting->menu()->actions().front()->trigger();
        QVERIFY(KeptPlace().Bookmarks.empty());
    }

    // Ctrl+F opens the find bar over the chapter; Enter steps to the next match, Shift+Enter
    // back, Esc closes the bar and gives the keyboard back to the page.
    void FindBarStepsThroughTheMatches() {
        ReadChapter();
        CFindBar& find = window_->BrowserPanel().FindBar();
        PressInPage(Qt::Key_F, Qt::ControlModifier);
        QVERIFY(find.isVisible());
        QVERIFY(find.TextBox().hasFocus());
        find.TextBox().setText(QStringLiteral("江水向东"));
        struct Step {
            Qt::KeyboardModifiers modifiers;
            QString shown;
        };
        for (const Step& step :
             {Step{Qt::NoModifier, "1 / 40"}, Step{Qt::NoModifier, "2 / 40"},
              Step{Qt::ShiftModifier, "1 / 40"}, Step{Qt::ShiftModifier, "40 / 40"}}) {
            QTest::keyClick(&find.TextBox(), Qt::Key_Return, step.modifiers);
            QTRY_COMPARE(find.MatchText(), step.shown);
        }
        QTest::keyClick(&find.TextBox(), Qt::Key_Escape);
        QVERIFY(!find.isVisible());
        QTRY_VERIFY(window_->BrowserPanel().Browser().focusProxy()->hasFocus());
    }

    // The reader's zoom is for library pages: a recommendation page shows at 100 %.
    void ZoomLeavesRecommendationPagesAlone() {
        ReadChapter();
        window_->BrowserPanel().SetZoomPercent(125);
        const int viewWidth = window_->BrowserPanel().Browser().width();
        QTRY_VERIFY(std::abs(Evaluate("window.innerWidth").toInt() - qRound(viewWidth / 1.25)) <=
                    1);
        ShowInBrowser(ProgramFile("Recommend/wuxia.html"));
        QTRY_COMPARE(Evaluate("window.innerWidth").toInt(), viewWidth);
        QCOMPARE(window_->BrowserPanel().ZoomPercent(), 125);
    }

    void MessageBoxFromAJobThreadWaitsForTheAnswer() {
        // The box runs its own event loop on the GUI thread; the answer comes from a timer there.
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer answerer;
        connect(&answerer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            title = box->windowTitle();
            icon = box->icon();
            box->button(QMessageBox::No)->click();
        });
        answerer.start(10);
        auto asked = std::async(std::launch::async, [this] {
            return window_->ShowMessage(u"检测到程序有 3 个更新，是否立即更新？",
                                        MessageIcon::Question, MessageButtons::YesNo);
        });
        QTRY_VERIFY(Ready(asked));
        QCOMPARE(asked.get(), MessageAnswer::No);
        QCOMPARE(title, QStringLiteral("Velunor"));
        QCOMPARE(icon, QMessageBox::Question);
    }

    void ExitButtonEndsTheEventLoopWhileAJobRuns() {
        // A job that keeps calling into the window is neither waited for nor in the way.
        std::atomic<bool> stop{false};
        auto job = std::async(std::launch::async, [this, &stop] {
            while (!stop) {
                window_->SetStatusText(u"正从目标站 <书库> 进行搜索……");
            }
        });
        QTimer::singleShot(0, this,
                           [this] { static_cast<QAbstractButton*>(Control(kIdExit))->click(); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window_->isVisible());
        stop = true;
        QTRY_VERIFY(Ready(job));
    }

    void ClosingEndsTheEventLoop() {
        QTimer::singleShot(0, this, [this] { window_->close(); });
        QCOMPARE(QApplication::exec(), 0);
    }

    void RestoringFromMaximisedCentresTheWindow() {
        window_->move(3, 4);
        window_->showMaximized();
        QTRY_VERIFY(window_->windowState() & Qt::WindowMaximized);
        window_->showNormal();
        const QScreen* screen = window_->screen();
        QTRY_COMPARE(window_->pos(),
                     CMainWindow::CentredPosition(screen->geometry(), screen->availableGeometry(),
                                                  window_->frameGeometry().size()));
    }

    void UpdateCheckAsksBeforeTheWindowIsBuilt() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString updater = folder.filePath(QStringLiteral("tolvane"));
        WriteFile(updater, "#!/bin/sh\necho \"$@\" >> \"$0.log\"\nexit 3\n");
        QVERIFY(QFile::setPermissions(updater, QFile::ReadOwner | QFile::ExeOwner));
        QString question;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            question = box->text();
            box->button(QMessageBox::No)->click();
        });
        answer.start(20);
        CMainWindow window(folder.path().toStdU16String() + u"/");
        answer.stop();
        QCOMPARE(question, QStringLiteral("检测到程序有 3 个更新，是否立即更新？"));
        // No: the updater ran once, to check, and the window was built as usual.
        QFile log(updater + QStringLiteral(".log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("-checkforupdates\n"));
        QVERIFY(window.Control(kIdSearchResultList) != nullptr);
        QCOMPARE(window.GetViewMode(), ViewMode::Recommend);
    }

    void CentredPositionLeavesTheTaskbarOut() {
        const QRect screen(0, 0, 1920, 1080);
        QCOMPARE(CMainWindow::CentredPosition(screen, QRect(0, 0, 1920, 1040), QSize(1024, 700)),
                 QPoint(448, 170));
        // A taskbar on top of the screen counts the same.
        QCOMPARE(CMainWindow::CentredPosition(screen, QRect(0, 40, 1920, 1040), QSize(1024, 700)),
                 QPoint(448, 170));
        QCOMPARE(CMainWindow::CentredPosition(QRect(1920, 0, 1280, 1024),
                                              QRect(1920, 0, 1280, 1024), QSize(1024, 700)),
                 QPoint(1920 + 128, 162));
    }
};

VELUNOR_BROWSER_TEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
