// The whole desktop program against fake novel sites on the local test site: the real window,
// the real browser, the real jobs. The test slots run in order, each going on from where the
// one before it left the window.

#include "app/command_ids.h"
#include "app/dlg_html.h"
#include "app/dlg_rule_draft.h"
#include "app/dlg_target_set.h"
#include "app/list_ctrl_search_result.h"
#include "app/main_window.h"
#include "app/tree_ctrl_book_shelf.h"
#include "browser_test_main.h"
#include "core/core.h"
#include "library/library_layout.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include <filesystem>
#include <fstream>
#include <memory>

using namespace velunor;
using velunor::testing::ScopedCurrentDirectory;
using velunor::testing::TempFolder;
using velunor::testing::TestSite;

namespace {

constexpr int kWait = 30000;
const QString kNovel = QStringLiteral("山海行记");

std::string Selection(const std::string& selected) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<TargetSiteSelect>\r\n<Selected>" +
           selected + "</Selected>\r\n</TargetSiteSelect>\r\n";
}

// With VELUNOR_SCREENSHOTS naming a folder, the whole display is saved there as `name`.png.
void Screenshot(const QString& name) {
    const QString folder = qEnvironmentVariable("VELUNOR_SCREENSHOTS");
    if (folder.isEmpty()) {
        return;
    }
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                 folder + QLatin1Char('/') + name + ".png"});
}

// Answers the next modal box or dialog with `act` as soon as it is open.
void WhenModal(std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        act(modal);
    });
    poll->start(20);
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

  private:
    TempFolder siteRoot_;
    TempFolder program_;
    std::unique_ptr<TestSite> site_;
    std::unique_ptr<ScopedCurrentDirectory> inside_;
    std::unique_ptr<CMainWindow> window_;

    template <typename T> T* Control(int id) const {
        auto* control = qobject_cast<T*>(window_->Control(id));
        if (control == nullptr) {
            qFatal("no control %d", id);
        }
        return control;
    }

    QString Status() const {
        return Control<QLabel>(kIdStatusLine)->text();
    }

    CHtmlCtrl& Browser() {
        return window_->BrowserPanel().Browser();
    }

    QString ShelfItemText() {
        QTreeWidgetItem* root = window_->BookShelf().Root();
        // The whole line, with the site and the counts the columns show.
        return root->childCount() == 1 ? root->child(0)->toolTip(0) : QString();
    }

    QString ProgressText() const {
        const auto* bar = Control<QProgressBar>(kIdDownloadProgress);
        return bar->isVisible() ? bar->text() : QString();
    }

    // Writes a page of the copied site in its GB2312.
    void WriteSitePage(const std::string& name, const std::u16string& html) {
        std::filesystem::path path = siteRoot_.File("app-shelf/book/list/" + name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << WideToAnsi(html);
    }

    // The site's contents as it lists `count` chapters, c1.html to c<count>.html.
    std::u16string SiteContents(int count) {
        const std::u16string names[] = {u"第一章 出山", u"第二章 渡海", u"第三章 归舟",
                                        u"第四章 入港", u"第五章 登岸"};
        std::u16string html = u"<html><head><meta http-equiv=\"Content-Type\" "
                              u"content=\"text/html; charset=gb2312\"></head><body>"
                              u"<ul id=\"chapters\">\n";
        for (int n = 1; n <= count; ++n) {
            html +=
                u"<li><a href=\"c" + DecimalText(n) + u".html\">" + names[n - 1] + u"</a></li>\n";
        }
        return html + u"</ul></body></html>";
    }

    void WriteSiteChapter(int n, const std::u16string& text) {
        WriteSitePage("c" + std::to_string(n) + ".html",
                      u"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                      u"charset=gb2312\"></head><body><div id=\"text\">" +
                          text + u"<br /></div></body></html>");
    }

    // Opens the shelf's menu on its one novel and chooses the item at `action`.
    void ChooseFromShelfMenu(int action) {
        CTreeCtrlBookShelf& shelf = window_->BookShelf();
        QVERIFY(shelf.isVisible());
        const QPoint item = shelf.visualItemRect(shelf.Root()->child(0)).center();
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, item,
                                     shelf.viewport()->mapToGlobal(item));
        QCoreApplication::sendEvent(shelf.viewport(), &rightClick);
        QTRY_VERIFY(shelf.ContextMenu().isVisible());
        shelf.ContextMenu().actions().at(action)->trigger();
        shelf.ContextMenu().hide();
    }

    std::string NovelFolder() const {
        return program_.File("Novel/书站甲/山海行记");
    }

    std::string ChapterPage(int n) const {
        return NovelFolder() + "/" + QString::fromStdU16String(ChapterPageName(n)).toStdString();
    }

    void InstallRule(const std::string& name) {
        program_.Write("Rule/" + name,
                       site_->RuleFile(std::string(VELUNOR_TEST_DATA) + "/app/rules/" + name));
    }

    // Typed as a keyboard with an input method types it: one key event per character.
    void Type(const QString& text) {
        QLineEdit* box = Control<QLineEdit>(kIdSearchBox);
        box->setFocus();
        for (QChar character : text) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
            QCoreApplication::sendEvent(box, &press);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier,
                              QString(character));
            QCoreApplication::sendEvent(box, &release);
        }
        QCOMPARE(box->text(), text);
    }

    void Search() {
        QLineEdit* box = Control<QLineEdit>(kIdSearchBox);
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(window_->SearchButtonCaption(), std::u16string(u"搜索"), kWait);
    }

    // The rest of a site's rows: the texts of one column.
    QStringList Column(std::u16string ResultRow::*field) {
        QStringList texts;
        for (int row = 0; row < window_->ResultRowCount(); ++row) {
            texts.append(QString::fromStdU16String(window_->ResultRowTexts(row).*field));
        }
        return texts;
    }

    // Where the link to `href` is in the shown page, scrolled into view first.
    QPoint LinkCentre(const QString& href) {
        QVariant answer;
        bool answered = false;
        Browser().page()->runJavaScript(
            QStringLiteral("(function(){var a=document.querySelector('a[href=\"%1\"]');"
                           "a.scrollIntoView();var r=a.getBoundingClientRect();"
                           "return [r.left+r.width/2,r.top+r.height/2];})()")
                .arg(href),
            QWebEngineScript::ApplicationWorld, [&](const QVariant& result) {
                answer = result;
                answered = true;
            });
        if (!QTest::qWaitFor([&] { return answered; }, kWait)) {
            return {};
        }
        const QVariantList centre = answer.toList();
        return QPoint(centre.value(0).toInt(), centre.value(1).toInt());
    }

  private slots:
    void initTestCase() {
        std::filesystem::copy(TestSite::DefaultRoot() + "/app-shelf", siteRoot_.File("app-shelf"),
                              std::filesystem::copy_options::recursive);
        // A site no rule file is for.
        std::filesystem::copy(TestSite::DefaultRoot() + "/finder/dl-gbk", siteRoot_.File("dl-gbk"),
                              std::filesystem::copy_options::recursive);
        site_ = std::make_unique<TestSite>(siteRoot_.Path());
        std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template",
                              program_.File("Template"));
        std::filesystem::create_directories(program_.File("Config"));
        std::filesystem::create_directories(program_.File("Rule"));
        std::filesystem::create_directories(program_.File("Recommend"));
        program_.Write(
            "Config/BookShelf.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n</BookShelf>\r\n");
        program_.Write("Config/TargetSiteSelect.xml", Selection("0,"));
        program_.Write("Recommend/qihuan.html", "<html><body>start</body></html>");
        InstallRule("a-jia.xml");
        InstallRule("b-yi.xml");
        inside_ = std::make_unique<ScopedCurrentDirectory>(program_.Path());
        window_ = std::make_unique<CMainWindow>(program_.WidePath() + u"/");
        window_->resize(1024, 700);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanupTestCase() {
        window_.reset();
        inside_.reset();
        site_.reset();
    }

    void SearchListsTheHitsOfTheSelectedSite() {
        Type(kNovel);
        Search();
        QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("搜索完成，共搜索到 2 本小说。"), kWait);
        QCOMPARE(window_->GetViewMode(), ViewMode::SearchResults);
        QVERIFY(window_->SearchResultList().isVisible());
        QCOMPARE(Column(&ResultRow::Number), QStringList({"1", "2"}));
        QCOMPARE(Column(&ResultRow::SiteName), QStringList({"书站甲", "书站甲"}));
        QCOMPARE(Column(&ResultRow::NovelName), QStringList({kNovel, "山海行记外传"}));
        QCOMPARE(Column(&ResultRow::LatestChapter), QStringList({"第三章 归舟", "第一章"}));
        Screenshot(QStringLiteral("search"));
    }

    void DoubleClickDownloadsTheNovel() {
        CListCtrlSearchResult& list = window_->SearchResultList();
        const QRect row = list.visualRect(list.model()->index(0, 2));
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(window_->GetViewMode(), ViewMode::Reading);
        // The site fails the second chapter until the next test lets it recover, and the final
        // line says so.
        QTRY_COMPARE_WITH_TIMEOUT(
            Status(),
            QStringLiteral("下载完成！ 其中 1 章下载失败，可在书架上右键选择“重新下载失败章节”。"),
            kWait);
        QTRY_COMPARE_WITH_TIMEOUT(Browser().url().fileName(), QStringLiteral("ContentsPage.html"),
                                  kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!Browser().page()->isLoading(), kWait);
        QCOMPARE(ProgressText(), QStringLiteral("3/3 章（失败 1）"));
        QTRY_COMPARE(ShelfItemText(), QStringLiteral("书站甲 - 山海行记（1 章未完成）"));
        QVERIFY(std::filesystem::exists(ChapterPage(1)));
        QVERIFY(std::filesystem::exists(ChapterPage(3)));
        Screenshot(QStringLiteral("contents"));
    }

    void FailedChapterIsFetchedAgainAfterTheSiteRecovers() {
        // The reader opens the chapter from the contents page the download left on show.
        const QString chapter = QString::fromStdU16String(ChapterPageName(2));
        QSignalSpy loaded(&Browser(), &CHtmlCtrl::loadFinished);
        QTest::mouseClick(Browser().focusProxy(), Qt::LeftButton, {}, LinkCentre(chapter));
        QVERIFY(loaded.wait(kWait));
        QCOMPARE(Browser().url().fileName(), chapter);
        QCOMPARE(window_->GetElementInnerHtml(u"down_state"), std::u16string(u"-1"));
        std::filesystem::copy_file(std::string(VELUNOR_TEST_DATA) + "/app/recovered_chapter.html",
                                   siteRoot_.File("app-shelf/book/list/c2.html"));
        const QPoint link = LinkCentre(QStringLiteral("app:rest_down"));
        QVERIFY(!link.isNull());
        QTest::mouseClick(Browser().focusProxy(), Qt::LeftButton, {}, link);
        QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("成功下载本章节！"), kWait);
        // The page is shown again from the rewritten file, although it is the page shown.
        QTRY_COMPARE_WITH_TIMEOUT(window_->GetElementInnerHtml(u"down_state"), std::u16string(u"1"),
                                  kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!Browser().page()->isLoading(), kWait);
        const std::u16string text = window_->GetElementInnerHtml(u"chapter_url");
        QVERIFY(QString::fromStdU16String(text).endsWith(QStringLiteral("c2.html")));
        QSignalSpy found(Browser().page(), &QWebEnginePage::findTextFinished);
        Browser().page()->findText(QStringLiteral("黑水洋"));
        QVERIFY(found.wait(kWait));
        QCOMPARE(found.front().front().value<QWebEngineFindTextResult>().numberOfMatches(), 1);
        Browser().page()->findText(QString());
        Screenshot(QStringLiteral("chapter"));
        // The shelf counts the chapter as finished once the fetch has recorded it.
        QTRY_COMPARE_WITH_TIMEOUT(ShelfItemText(), QStringLiteral("书站甲 - 山海行记"), kWait);
    }

    // The site lists two more chapters, one of which it cannot serve yet.
    void UpdateFromTheShelfFetchesTheChaptersTheSiteAdded() {
        WriteSitePage("1.html", SiteContents(5));
        WriteSiteChapter(4, u"船入港时，天色已晚。");
        Control<QAbstractButton>(kIdMainPage)->click();
        QCOMPARE(window_->GetViewMode(), ViewMode::Recommend);
        QVERIFY(ProgressText().isEmpty());
        ChooseFromShelfMenu(1);
        QTRY_COMPARE_WITH_TIMEOUT(
            Status(), QStringLiteral("更新完成：新增 2 章，重新下载 0 章，失败 1 章。"), kWait);
        QCOMPARE(ProgressText(), QStringLiteral("2/2 章（失败 1）"));
        QTRY_COMPARE(ShelfItemText(), QStringLiteral("书站甲 - 山海行记（新 2 章，1 章未完成）"));
        QVERIFY(std::filesystem::exists(ChapterPage(4)));
        Screenshot(QStringLiteral("updated"));
    }

    void RetryFromTheShelfFetchesOnlyTheFailedChapter() {
        WriteSiteChapter(5, u"众人登岸，各自散去。");
        ChooseFromShelfMenu(2);
        QTRY_COMPARE_WITH_TIMEOUT(
            Status(), QStringLiteral("重新下载完成：重新下载 1 章，失败 0 章。"), kWait);
        QCOMPARE(ProgressText(), QStringLiteral("1/1 章"));
        QTRY_COMPARE(ShelfItemText(), QStringLiteral("书站甲 - 山海行记（新 2 章）"));
    }

    // "全部更新" on the root's menu goes over the whole shelf; the site has nothing new now.
    void UpdateAllFromTheShelfMenuSaysWhenNothingIsNew() {
        CTreeCtrlBookShelf& shelf = window_->BookShelf();
        const QPoint root = shelf.visualItemRect(shelf.Root()).center();
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, root,
                                     shelf.viewport()->mapToGlobal(root));
        QCoreApplication::sendEvent(shelf.viewport(), &rightClick);
        QTRY_VERIFY(shelf.ShelfMenu().isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(&shelf.ShelfMenu()));
        Screenshot(QStringLiteral("update-all-menu"));
        for (QAction* action : shelf.ShelfMenu().actions()) {
            if (action->text() == QStringLiteral("全部更新")) {
                action->trigger();
            }
        }
        shelf.ShelfMenu().hide();
        QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("全部更新完成：没有新章节"), kWait);
    }

    // The reader last had chapter 2 open (the fetch showed it again there).
    void DoubleClickOnTheShelfGoesOnReadingWhereTheReaderLeft() {
        CTreeCtrlBookShelf& shelf = window_->BookShelf();
        QSignalSpy loaded(&Browser(), &CHtmlCtrl::loadFinished);
        QTest::mouseDClick(shelf.viewport(), Qt::LeftButton, {},
                           shelf.visualItemRect(shelf.Root()->child(0)).center());
        QVERIFY(loaded.wait(kWait));
        QCOMPARE(Browser().url().fileName(), QString::fromStdU16String(ChapterPageName(2)));
        QCOMPARE(window_->GetViewMode(), ViewMode::Reading);
        // Read: the new chapters are no longer new, and a finished count leaves with the view.
        QVERIFY(ProgressText().isEmpty());
        QCOMPARE(ShelfItemText(), QStringLiteral("书站甲 - 山海行记"));
    }

    void DeletingFromTheShelfAfterConfirmingRemovesTheFolder() {
        QSignalSpy loaded(&Browser(), &CHtmlCtrl::loadFinished);
        Control<QAbstractButton>(kIdMainPage)->click();
        QVERIFY(loaded.wait(kWait));
        QCOMPARE(Browser().url().fileName(), QStringLiteral("qihuan.html"));
        CTreeCtrlBookShelf& shelf = window_->BookShelf();
        QVERIFY(shelf.isVisible());
        const QPoint item = shelf.visualItemRect(shelf.Root()->child(0)).center();
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, item,
                                     shelf.viewport()->mapToGlobal(item));
        QCoreApplication::sendEvent(shelf.viewport(), &rightClick);
        QTRY_VERIFY(shelf.ContextMenu().isVisible());
        QString question;
        WhenModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        });
        QTest::keyClick(&shelf.ContextMenu(), Qt::Key_D);
        QTRY_COMPARE(shelf.Root()->childCount(), 0);
        QCOMPARE(question,
                 QStringLiteral("确定要删除小说“书站甲 - 山海行记”及其全部已下载的章节吗？"));
        QVERIFY(!std::filesystem::exists(NovelFolder()));
        QVERIFY(program_.Read("Config/BookShelf.xml").find("<Book>") == std::string::npos);
    }

    void SiteDialogDecidesWhichSitesTheNextSearchAsks() {
        WhenModal([](QWidget* modal) {
            auto* dialog = qobject_cast<CDlgTargetSet*>(modal);
            QCOMPARE(dialog->SiteList().rowCount(), 2);
            Screenshot(QStringLiteral("dialog"));
            qobject_cast<QAbstractButton*>(dialog->Control(kIdInvert))->click();
            qobject_cast<QAbstractButton*>(dialog->Control(kIdConfirm))->click();
        });
        Control<QAbstractButton>(kIdTargetSiteSettings)->click();
        // The positions, and the rule file that the tick belongs to.
        std::string stored = program_.Read("Config/TargetSiteSelect.xml");
        QVERIFY(stored.find("<Selected>1,</Selected>") != std::string::npos);
        size_t rule = stored.find("<SelectedRules>\r\n<Rule>");
        QVERIFY(rule != std::string::npos);
        QCOMPARE(stored.find("<Rule>", stored.find("</Rule>", rule)), std::string::npos);
        Search();
        QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("搜索完成，共搜索到 1 本小说。"), kWait);
        QCOMPARE(Column(&ResultRow::SiteName), QStringList({"书站乙"}));
    }

    void AnAddressInTheSearchBoxDownloadsTheNovelOfThatPage() {
        Control<QLineEdit>(kIdSearchBox)->clear();
        Type(QString::fromStdU16String(site_->Url("/dl-gbk/")));
        QTest::keyClick(Control<QLineEdit>(kIdSearchBox), Qt::Key_Return);
        QCOMPARE(window_->GetViewMode(), ViewMode::Reading);
        QTRY_COMPARE_WITH_TIMEOUT(Status(), QStringLiteral("下载完成！ "), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(Browser().url().fileName(), QStringLiteral("ContentsPage.html"),
                                  kWait);
        QTRY_COMPARE(ShelfItemText(), QStringLiteral("星河书屋 - 青石小径"));
        Screenshot(QStringLiteral("address"));
    }

    void RuleDraftedForTheFoundNovelsSiteIsSavedAmongTheRules() {
        QSignalSpy loaded(&Browser(), &CHtmlCtrl::loadFinished);
        Control<QAbstractButton>(kIdMainPage)->click();
        QVERIFY(loaded.wait(kWait));
        QString address;
        QString verdict;
        WhenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<CDlgRuleDraft*>(modal);
            QVERIFY(dialog != nullptr);
            address = dialog->findChild<QLineEdit*>()->text();
            QSignalSpy finished(dialog, &CDlgRuleDraft::DraftFinished);
            dialog->Draft();
            QVERIFY(finished.wait(kWait * 4));
            verdict = dialog->Verdict();
            QTest::qWait(300);
            Screenshot(QStringLiteral("rule-draft"));
            dialog->Save();
            dialog->reject();
        });
        ChooseFromShelfMenu(7);
        QTRY_VERIFY_WITH_TIMEOUT(!verdict.isEmpty(), kWait * 4);
        QCOMPARE(address, QString::fromStdU16String(site_->Url("/dl-gbk/")));
        QVERIFY2(verdict.contains(QStringLiteral("通过检查")), qPrintable(verdict));
        // The draft is named after the site's host and works as any rule from now on.
        QVERIFY(std::filesystem::exists(program_.File("Rule/127.0.0.1.xml")));
    }
};

VELUNOR_BROWSER_TEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
