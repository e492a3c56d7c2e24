// "换源…" on the bookshelf: the dialog searches the other selected sites of the local test site
// for the shelved novel, lists them, and the site chosen fills the novel's failed chapters.

#include "app/dlg_source_switch.h"
#include "app/tree_ctrl_book_shelf.h"
#include "controls_test.h"
#include "search/site_selection.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"
#include "support/test_site.h"

#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <memory>

using namespace velunor;
using velunor::testing::RecordingPort;
using velunor::testing::TempFolder;
using velunor::testing::TestSite;

class DlgSourceSwitchTest : public QObject {
    Q_OBJECT

  private:
    TestSite site_;
    TempFolder folder_;

    std::u16string InstallRule(const std::string& name) {
        return QString::fromStdString(
                   folder_.Write("Rule/" + name + ".xml",
                                 site_.RuleFile(std::string(VELUNOR_TEST_DATA) + "/library/rules/" +
                                                name + ".xml")))
            .toStdU16String();
    }

    static QAction* ActionNamed(QMenu& menu, const QString& text) {
        for (QAction* action : menu.actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        return nullptr;
    }

    // Checks the open dialog and chooses the other site; a dialog left open by a failed check
    // is closed, so that the test ends.
    static void ChooseTheOtherSite() {
        auto* dialog = qobject_cast<CDlgSourceSwitch*>(QApplication::activeModalWidget());
        if (dialog != nullptr) {
            CheckListAndChoose(dialog);
        }
        if (dialog != nullptr && dialog->isVisible()) {
            dialog->reject();
        }
    }

    // Checks the dialog's list once its search has ended, keeps a picture of it, and chooses
    // the site that has the novel.
    static void CheckListAndChoose(CDlgSourceSwitch* dialog) {
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->IsSearching(), 30000);
        QTreeWidget& list = dialog->SiteList();
        QCOMPARE(list.topLevelItemCount(), 2);
        QCOMPARE(list.topLevelItem(0)->text(0), QStringLiteral("书屋甲"));
        QVERIFY(list.topLevelItem(0)->text(4).startsWith(QStringLiteral("搜索失败：")));
        QCOMPARE(list.topLevelItem(1)->text(0), QStringLiteral("雪站乙"));
        QCOMPARE(list.topLevelItem(1)->text(3), QStringLiteral("6"));
        QCOMPARE(list.topLevelItem(1)->text(4), QStringLiteral("第七章 新章"));
        QCOMPARE(dialog->ProgressText(),
                 QStringLiteral("搜索了 2 个网站，1 个有本书，1 个搜索失败。请选择一个网站换源："));
        // A failed site cannot be chosen.
        dialog->Choose(0, 0);
        QVERIFY(dialog->ChosenSource() == nullptr);
        dialog->Choose(1, 0);
        QVERIFY(dialog->ChosenSource() != nullptr);
        const QString shots = qEnvironmentVariable("VELUNOR_SCREENSHOTS");
        if (!shots.isEmpty()) {
            dialog->grab().save(shots + QStringLiteral("/source.png"));
        }
        for (auto* button : dialog->findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("换源")) {
                button->click();
            }
        }
    }

  private slots:
    void ChosenSiteFillsTheFailedChapters() {
        std::filesystem::copy(std::string(VELUNOR_SOURCE_DATA) + "/Template",
                              folder_.File("Template"));
        std::filesystem::create_directories(folder_.File("Config"));
        std::filesystem::create_directories(folder_.File("Rule"));
        const std::u16string program = folder_.WidePath() + u"/";
        InstallRule("novel-gbk");
        const std::u16string own = InstallRule("switch-a");
        InstallRule("switch-b");
        const std::vector<std::u16string> rules = EnumerateRuleFiles(program);
        QVERIFY(WriteSiteSelection(SiteSelectionFilePath(program), rules,
                                   std::vector<bool>(rules.size(), true)));
        // Never freed: the detached switch may still be returning from its last call on the
        // port when the test ends.
        static auto* const port = new RecordingPort;
        DownloadSearchHit(
            *port, program,
            {u"雪站甲", own, u"雪山行", u"林木", u"", site_.Url("/switch-a/book.html")});
        QVERIFY2(port->LastStatus().starts_with(u"下载完成！ 其中 3 章下载失败"),
                 QString::fromStdU16String(port->LastStatus()).toUtf8().constData());

        CTreeCtrlBookShelf tree(*port, program);
        tree.setCurrentItem(tree.Root()->child(0));
        QAction* switchAction = ActionNamed(tree.ContextMenu(), QStringLiteral("换源…"));
        QVERIFY(switchAction != nullptr);
        QTimer::singleShot(0, &ChooseTheOtherSite);
        switchAction->trigger();
        QVERIFY(port->WaitForStatus(u"换源完成：从 雪站乙 取回 2 章，1 章未找到。"));
        NovelIndex index;
        QVERIFY(LoadNovelIndex(folder_.WidePath() + u"/Novel/雪站甲/雪山行", index));
        QCOMPARE(index.UnfinishedCount(), 1);
        QCOMPARE(index.Chapters[1].Source, std::u16string(u"雪站乙"));
    }
};

VELUNOR_CONTROLS_TEST(DlgSourceSwitchTest)

#include "dlg_source_switch_test.moc"
