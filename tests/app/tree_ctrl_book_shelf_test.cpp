// The bookshelf tree over a real bookshelf file and real novel folders.

#include "app/tree_ctrl_book_shelf.h"
#include "controls_test.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>

#include <filesystem>
#include <memory>

using namespace velunor;
using velunor::testing::RecordingPort;
using velunor::testing::TempFolder;

namespace {

std::string Book(const std::string& site, const std::string& novel, const std::string& path) {
    return "<Book>\r\n<TargetSite>" + site + "</TargetSite>\r\n<NovelName>" + novel +
           "</NovelName>\r\n<ContentsPagePath>" + path + "</ContentsPagePath>\r\n</Book>\r\n";
}

} // namespace

class TreeCtrlBookShelfTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempFolder> folder_;
    std::unique_ptr<RecordingPort> port_;
    std::unique_ptr<CTreeCtrlBookShelf> tree_;
    std::string contentsPage_;

    bool NovelFolderExists() const {
        return std::filesystem::exists(folder_->File("Novel/书站甲/山海行记"));
    }

    QStringList Items() const {
        QStringList texts;
        for (int i = 0; i < tree_->Root()->childCount(); ++i) {
            texts.append(tree_->Root()->child(i)->text(0));
        }
        return texts;
    }

    void Select(QTreeWidgetItem* item) {
        tree_->setCurrentItem(item);
        QVERIFY(item->isSelected());
    }

    void RightClickAt(const QPoint& place) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, place,
                                tree_->viewport()->mapToGlobal(place));
        QCoreApplication::sendEvent(tree_->viewport(), &event);
    }

    QPoint EmptySpace() const {
        return QPoint(10, tree_->viewport()->height() - 5);
    }

  private slots:
    void init() {
        folder_ = std::make_unique<TempFolder>();
        std::filesystem::create_directories(folder_->File("Config"));
        std::filesystem::create_directories(folder_->File("Novel/书站甲/山海行记"));
        contentsPage_ = folder_->Write("Novel/书站甲/山海行记/ContentsPage.html", "<html></html>");
        // The same novel twice, and an entry without a site that the tree leaves out.
        folder_->Write("Config/BookShelf.xml",
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n" +
                           Book("书站甲", "山海行记", contentsPage_) +
                           "<Book>\r\n<NovelName>无站</NovelName>\r\n</Book>\r\n" +
                           Book("书站甲", "山海行记", contentsPage_) + "</BookShelf>\r\n");
        port_ = std::make_unique<RecordingPort>();
        tree_ = std::make_unique<CTreeCtrlBookShelf>(*port_, folder_->WidePath() + u"/");
        tree_->resize(250, 400);
        tree_->show();
        QVERIFY(QTest::qWaitForWindowExposed(tree_.get()));
    }

    void cleanup() {
        tree_.reset();
        port_.reset();
        folder_.reset();
    }

    void ShelfIsListedUnderItsRoot() {
        QCOMPARE(tree_->topLevelItemCount(), 1);
        QCOMPARE(tree_->Root()->text(0), QStringLiteral("我的书架"));
        QVERIFY(tree_->Root()->isExpanded());
        QCOMPARE(Items(), QStringList({QStringLiteral("书站甲 - 山海行记"),
                                       QStringLiteral("书站甲 - 山海行记")}));
        tree_->AppendItem(u"书站乙 - 星河旅人");
        QCOMPARE(Items().last(), QStringLiteral("书站乙 - 星河旅人"));
        QCOMPARE(tree_->ContextMenu().actions().size(), 1);
        QCOMPARE(tree_->ContextMenu().actions().front()->text(), QStringLiteral("删除小说(&D)"));
    }

    void RootDoesNothing() {
        Select(tree_->Root());
        QTest::mouseDClick(tree_->viewport(), Qt::LeftButton, {},
                           tree_->visualItemRect(tree_->Root()).center());
        QVERIFY(port_->Navigations().empty());
        QCOMPARE(port_->GetViewMode(), ViewMode::Recommend);
        RightClickAt(tree_->visualItemRect(tree_->Root()).center());
        QVERIFY(!tree_->ContextMenu().isVisible());
        tree_->DeleteBook();
        QVERIFY(port_->Messages().empty());
        QCOMPARE(Items().size(), 2);
    }

    void EitherOfTwoIdenticalItemsOpensTheContentsPageTwice() {
        QTreeWidgetItem* second = tree_->Root()->child(1);
        QTest::mouseDClick(tree_->viewport(), Qt::LeftButton, {},
                           tree_->visualItemRect(second).center());
        const std::u16string page = QString::fromStdString(contentsPage_).toStdU16String();
        QCOMPARE(port_->Navigations(), std::vector<std::u16string>({page, page}));
        QCOMPARE(port_->GetViewMode(), ViewMode::Reading);
    }

    void DeletingAsksFirstAndNoKeepsEverything() {
        Select(tree_->Root()->child(1));
        // Empty space keeps the selected novel, so the menu is for it.
        RightClickAt(EmptySpace());
        QVERIFY(tree_->ContextMenu().isVisible());
        port_->AnswerMessagesWith(MessageAnswer::No);
        tree_->ContextMenu().actions().front()->trigger();
        tree_->ContextMenu().hide();
        QCOMPARE(port_->Messages().size(), size_t(1));
        QCOMPARE(port_->Messages().front().text,
                 std::u16string(u"确定要删除小说“书站甲 - 山海行记”及其全部已下载的章节吗？"));
        QCOMPARE(port_->Messages().front().buttons, MessageButtons::YesNo);
        QCOMPARE(Items().size(), 2);
        QVERIFY(NovelFolderExists());
    }

    // Two entries of one folder, as shelves written before one novel had one entry may hold:
    // the folder goes with either, so both entries and both items go with it, and no item is
    // left that opens nothing.
    void DeletingOneOfTwoEntriesOfOneFolderRemovesBoth() {
        RightClickAt(tree_->visualItemRect(tree_->Root()->child(1)).center());
        QVERIFY(tree_->Root()->child(1)->isSelected());
        port_->AnswerMessagesWith(MessageAnswer::Yes);
        tree_->ContextMenu().actions().front()->trigger();
        tree_->ContextMenu().hide();
        QCOMPARE(Items(), QStringList());
        QVERIFY(!NovelFolderExists());
        const std::string shelf = folder_->Read("Config/BookShelf.xml");
        QCOMPARE(shelf.find("<TargetSite>"), std::string::npos);
        QVERIFY(shelf.find("无站") != std::string::npos);
    }
};

VELUNOR_CONTROLS_TEST(TreeCtrlBookShelfTest)
#include "tree_ctrl_book_shelf_test.moc"
