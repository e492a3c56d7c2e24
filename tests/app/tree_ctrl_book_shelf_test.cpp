// The bookshelf tree over a real bookshelf file and real novel folders.

#include "app/tree_ctrl_book_shelf.h"
#include "controls_test.h"
#include "library/library_layout.h"
#include "library/library_location.h"
#include "library/novel_index.h"
#include "support/recording_port.h"
#include "support/temp_folder.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>

#include <filesystem>
#include <memory>
#include <vector>

using namespace velunor;
using velunor::testing::RecordingPort;
using velunor::testing::TempFolder;

namespace {

std::string Book(const std::string& site, const std::string& novel, const std::string& path) {
    return "<Book>\r\n<TargetSite>" + site + "</TargetSite>\r\n<NovelName>" + novel +
           "</NovelName>\r\n<ContentsPagePath>" + path + "</ContentsPagePath>\r\n</Book>\r\n";
}

std::string Shelf(const std::string& books) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BookShelf>\r\n" + books +
           "</BookShelf>\r\n";
}

std::u16string Wide(const std::string& text) {
    return QString::fromStdString(text).toStdU16String();
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
            // The whole line, with the site and the counts the columns show.
            texts.append(tree_->Root()->child(i)->toolTip(0));
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

    QAction* DeleteAction() const {
        return tree_->ContextMenu().actions().back();
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
        // A novel a job added to the file shows once the shelf is read again.
        std::filesystem::create_directories(folder_->File("Novel/书站乙/星河旅人"));
        const std::string added =
            folder_->Write("Novel/书站乙/星河旅人/ContentsPage.html", "<html></html>");
        folder_->Write("Config/BookShelf.xml", Shelf(Book("书站甲", "山海行记", contentsPage_) +
                                                     Book("书站乙", "星河旅人", added)));
        tree_->ReloadShelf();
        QCOMPARE(Items(), QStringList({QStringLiteral("书站甲 - 山海行记"),
                                       QStringLiteral("书站乙 - 星河旅人")}));
    }

    void MenuOffersTheNovelCommandsWithDeletingLastAndApart() {
        const QList<QAction*> actions = tree_->ContextMenu().actions();
        QStringList texts;
        for (const QAction* action : actions) {
            texts.append(action->text());
        }
        QCOMPARE(texts,
                 QStringList({QStringLiteral("打开目录"), QStringLiteral("更新小说"),
                              QStringLiteral("重新下载失败章节"), QStringLiteral("换源…"),
                              QStringLiteral("书签"), QStringLiteral("导出为 EPUB…"),
                              QStringLiteral("导出为 TXT…"), QStringLiteral("为此站生成规则…"),
                              QString(), QStringLiteral("删除小说(&D)")}));
        QVERIFY(actions.at(8)->isSeparator());
    }

    QAction* ShelfAction(const QString& text) const {
        for (QAction* action : tree_->ShelfMenu().actions()) {
            if (action->text() == text) {
                return action;
            }
        }
        return nullptr;
    }

    // The root's menu updates the whole shelf, offers its stop only while that runs, and keeps
    // the switch that runs it at start.
    void RootMenuUpdatesTheWholeShelf() {
        QAction* update = ShelfAction(QStringLiteral("全部更新"));
        QAction* stop = ShelfAction(QStringLiteral("停止全部更新"));
        QAction* atStart = ShelfAction(QStringLiteral("启动时检查更新"));
        QVERIFY(update != nullptr && stop != nullptr && atStart != nullptr);
        RightClickAt(EmptySpace());
        QVERIFY(tree_->ShelfMenu().isVisible());
        QVERIFY(update->isEnabled());
        QVERIFY(!stop->isEnabled());
        tree_->ShelfMenu().hide();

        QVERIFY(atStart->isCheckable());
        QVERIFY(!atStart->isChecked());
        atStart->trigger();
        const std::u16string program = folder_->WidePath() + u"/";
        QVERIFY(LoadShelfSettings(program).CheckUpdatesAtStart);

        // The one novel here has no chapter index: its update fails and the summary names it.
        update->trigger();
        QVERIFY(port_->WaitForStatus(u"全部更新完成：没有新章节；1 本失败：山海行记"));
        QVERIFY(!UpdateAllRunning());
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

    // "书库位置…" on the root's menu moves the library: the shelf found in the chosen folder is
    // shown, the choice is kept in the settings for velunor-cli too, and a folder that cannot
    // hold a library is refused with the reason, changing nothing.
    void ChosenLibraryFolderIsShownAndKept() {
        RightClickAt(tree_->visualItemRect(tree_->Root()).center());
        QVERIFY(tree_->ShelfMenu().isVisible());
        QCOMPARE(tree_->ShelfMenu().actions().back()->text(), QStringLiteral("书库位置…"));
        tree_->ShelfMenu().hide();

        TempFolder library;
        std::filesystem::create_directories(library.File("Novel/书站乙/星河旅人"));
        library.Write("Novel/书站乙/星河旅人/ContentsPage.html", "<html></html>");
        library.Write("BookShelf.xml",
                      Shelf(Book("书站乙", "星河旅人", "书站乙/星河旅人/ContentsPage.html")));
        library.Write("a-file", "");
        const std::u16string program = folder_->WidePath() + u"/";

        QVERIFY(!tree_->UseLibraryFolder(QString::fromStdString(library.File("a-file"))));
        QCOMPARE(port_->Messages().size(), size_t(1));
        QVERIFY(port_->Messages().front().text.find(Wide(library.File("a-file"))) !=
                std::u16string::npos);
        QCOMPARE(Items().size(), 2);

        QVERIFY(tree_->UseLibraryFolder(QString::fromStdString(library.Path())));
        QCOMPARE(Items(), QStringList({QStringLiteral("书站乙 - 星河旅人")}));
        QCOMPARE(NovelRootFolder(program), Wide(library.Path()) + u"/Novel/");
        QCOMPARE(ReadLibraryLocation(program + u"Config/"), Wide(library.Path()) + u"/");
        QVERIFY(NovelFolderExists());
    }

    // A novel never read opens at its contents page, once, whichever of its items it is.
    void DoubleClickOnANovelNeverReadOpensItsContentsPage() {
        QTreeWidgetItem* second = tree_->Root()->child(1);
        QTest::mouseDClick(tree_->viewport(), Qt::LeftButton, {},
                           tree_->visualItemRect(second).center());
        QCOMPARE(port_->Navigations(), std::vector<std::u16string>({Wide(contentsPage_)}));
        QCOMPARE(port_->GetViewMode(), ViewMode::Reading);
    }

    void DeletingAsksFirstAndNoKeepsEverything() {
        Select(tree_->Root()->child(1));
        // Empty space keeps the selected novel, so the menu is for it.
        RightClickAt(EmptySpace());
        QVERIFY(tree_->ContextMenu().isVisible());
        port_->AnswerMessagesWith(MessageAnswer::No);
        DeleteAction()->trigger();
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
        DeleteAction()->trigger();
        tree_->ContextMenu().hide();
        QCOMPARE(Items(), QStringList());
        QVERIFY(!NovelFolderExists());
        const std::string shelf = folder_->Read("Config/BookShelf.xml");
        QCOMPARE(shelf.find("<TargetSite>"), std::string::npos);
        QVERIFY(shelf.find("无站") != std::string::npos);
    }
};

VELUNOR_CONTROLS_TEST(TreeCtrlBookShelfTest)

// Two novels with chapter indexes: 春江夜话 of three chapters, the second failed, and 山海行记
// of two, both stored. The labels count from the indexes; reading moves where a novel opens.
class BookShelfReadingTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempFolder> folder_;
    std::unique_ptr<RecordingPort> port_;
    std::unique_ptr<CTreeCtrlBookShelf> tree_;

    static constexpr const char* kSpring = "Novel/演示书库/春江夜话";
    static constexpr const char* kMountain = "Novel/书站甲/山海行记";

    std::string Contents(const std::string& novel) const {
        return folder_->File(novel + "/ContentsPage.html");
    }

    std::u16string ChapterPage(const std::string& novel, int n) const {
        return folder_->WideFile(novel) + u"/" + ChapterPageName(n);
    }

    // The novel folder with its contents page, a page per chapter and an index of `states`; the
    // chapters after the first `downloaded` came with updates, when that is given.
    void WriteNovel(const std::string& novel, const std::vector<ChapterState>& states,
                    int downloaded = 0) {
        std::filesystem::create_directories(folder_->File(novel));
        folder_->Write(novel + "/ContentsPage.html", "<html></html>");
        NovelIndex index;
        for (size_t i = 0; i < states.size(); ++i) {
            const int page = static_cast<int>(i) + 1;
            folder_->Write(novel + "/" + std::to_string(page) + ".html", "<html></html>");
            const std::u16string number = QString::number(page).toStdU16String();
            index.Chapters.push_back(
                {page, u"第" + number + u"章", u"http://127.0.0.1/c" + number, states[i], {}});
        }
        index.NextPage = static_cast<int>(states.size()) + 1;
        index.NewFrom = downloaded > 0 ? downloaded + 1 : 0;
        QVERIFY(SaveNovelIndex(folder_->WideFile(novel), index));
    }

    void WriteShelf(const std::vector<std::string>& novels) {
        std::string books;
        for (const std::string& novel : novels) {
            const std::string site = novel.substr(6, novel.rfind('/') - 6);
            books += Book(site, novel.substr(novel.rfind('/') + 1), Contents(novel));
        }
        folder_->Write("Config/BookShelf.xml", Shelf(books));
    }

    void MakeTree() {
        tree_ = std::make_unique<CTreeCtrlBookShelf>(*port_, folder_->WidePath() + u"/");
        tree_->resize(250, 400);
        tree_->show();
        QVERIFY(QTest::qWaitForWindowExposed(tree_.get()));
    }

    QStringList Items() const {
        QStringList texts;
        for (int i = 0; i < tree_->Root()->childCount(); ++i) {
            // The whole line, with the site and the counts the columns show.
            texts.append(tree_->Root()->child(i)->toolTip(0));
        }
        return texts;
    }

    // The one page a double-click on novel item `item` opens; "?" unless it opens exactly one.
    std::u16string DoubleClickOpens(int item) {
        const size_t before = port_->Navigations().size();
        QTest::mouseDClick(tree_->viewport(), Qt::LeftButton, {},
                           tree_->visualItemRect(tree_->Root()->child(item)).center());
        const std::vector<std::u16string> opened = port_->Navigations();
        return opened.size() == before + 1 ? opened.back() : u"?";
    }

    void ChooseFromMenu(int item, int action) {
        const QPoint place = tree_->visualItemRect(tree_->Root()->child(item)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, place,
                                tree_->viewport()->mapToGlobal(place));
        QCoreApplication::sendEvent(tree_->viewport(), &event);
        QVERIFY(tree_->ContextMenu().isVisible());
        tree_->ContextMenu().actions().at(action)->trigger();
        tree_->ContextMenu().hide();
    }

  private slots:
    void init() {
        folder_ = std::make_unique<TempFolder>();
        std::filesystem::create_directories(folder_->File("Config"));
        WriteNovel(kSpring, {ChapterState::Stored, ChapterState::Failed, ChapterState::Stored});
        WriteNovel(kMountain, {ChapterState::Stored, ChapterState::Stored});
        WriteShelf({kSpring, kMountain});
        port_ = std::make_unique<RecordingPort>();
        MakeTree();
    }

    void cleanup() {
        tree_.reset();
        port_.reset();
        folder_.reset();
    }

    void LabelsCountTheUnfinishedChapters() {
        QCOMPARE(Items(), QStringList({QStringLiteral("演示书库 - 春江夜话（1 章未完成）"),
                                       QStringLiteral("书站甲 - 山海行记")}));
    }

    // Also after the tree is made again from the files, as when the program starts again.
    void DoubleClickGoesOnAtTheLastChapterRead() {
        QCOMPARE(DoubleClickOpens(0), Wide(Contents(kSpring)));
        tree_->NoteOpenedPage(ChapterPage(kSpring, 2));
        QCOMPARE(DoubleClickOpens(0), ChapterPage(kSpring, 2));
        // Pages that are not chapter pages, and chapters of novels not on the shelf, move
        // nothing.
        tree_->NoteOpenedPage(Wide(Contents(kSpring)));
        tree_->NoteOpenedPage(folder_->WideFile("Novel/别站/别书/3.html"));
        QCOMPARE(DoubleClickOpens(0), ChapterPage(kSpring, 2));
        QCOMPARE(DoubleClickOpens(1), Wide(Contents(kMountain)));
        MakeTree();
        QCOMPARE(DoubleClickOpens(0), ChapterPage(kSpring, 2));
        QCOMPARE(port_->GetViewMode(), ViewMode::Reading);
    }

    void OpenContentsOpensTheContentsPageAlthoughAChapterWasRead() {
        tree_->NoteOpenedPage(ChapterPage(kSpring, 3));
        ChooseFromMenu(0, 0);
        QCOMPARE(port_->Navigations(), std::vector<std::u16string>({Wide(Contents(kSpring))}));
        QCOMPARE(port_->GetViewMode(), ViewMode::Reading);
    }

    // Chapters the site added since the novel was read are counted until a page of it is
    // opened, and put the novel first meanwhile; the item changes at once, without the shelf
    // being read again. The columns show the novel and its new, unread and unfinished chapters.
    void ReadingClearsTheCountOfNewChapters() {
        tree_->NoteOpenedPage(ChapterPage(kMountain, 1));
        WriteNovel(kMountain,
                   {ChapterState::Stored, ChapterState::Stored, ChapterState::Stored,
                    ChapterState::Pending},
                   2);
        tree_->ReloadShelf();
        QCOMPARE(Items(), QStringList({QStringLiteral("书站甲 - 山海行记（新 2 章，1 章未完成）"),
                                       QStringLiteral("演示书库 - 春江夜话（1 章未完成）")}));
        auto columns = [this](int item) {
            QStringList texts;
            for (int column = 0; column < tree_->columnCount(); ++column) {
                texts.append(tree_->Root()->child(item)->text(column));
            }
            return texts;
        };
        QCOMPARE(columns(0), QStringList({QStringLiteral("山海行记"), QStringLiteral("2"),
                                          QStringLiteral("3"), QStringLiteral("1")}));
        QCOMPARE(columns(1), QStringList({QStringLiteral("春江夜话"), QString(),
                                          QStringLiteral("3"), QStringLiteral("1")}));
        tree_->setCurrentItem(tree_->Root()->child(0));
        tree_->NoteOpenedPage(ChapterPage(kMountain, 3));
        QCOMPARE(Items(), QStringList({QStringLiteral("演示书库 - 春江夜话（1 章未完成）"),
                                       QStringLiteral("书站甲 - 山海行记（1 章未完成）")}));
        QCOMPARE(columns(1).mid(1, 3),
                 QStringList({QString(), QStringLiteral("1"), QStringLiteral("1")}));
        // The selection went with the novel.
        QCOMPARE(tree_->selectedItems(), QList<QTreeWidgetItem*>({tree_->Root()->child(1)}));
        // In the bookshelf file's order when the reader turns sorting off, which is kept.
        WriteNovel(kMountain,
                   {ChapterState::Stored, ChapterState::Stored, ChapterState::Stored,
                    ChapterState::Stored, ChapterState::Stored},
                   2);
        tree_->ReloadShelf();
        QCOMPARE(Items().front(), QStringLiteral("书站甲 - 山海行记（新 1 章）"));
        QAction* sorting = nullptr;
        for (QAction* action : tree_->ShelfMenu().actions()) {
            if (action->text() == QStringLiteral("新章节排在前面")) {
                sorting = action;
            }
        }
        QVERIFY(sorting != nullptr);
        QVERIFY(sorting->isChecked());
        sorting->trigger();
        QCOMPARE(Items().front(), QStringLiteral("演示书库 - 春江夜话（1 章未完成）"));
        QCOMPARE(LoadShelfSettings(folder_->WidePath() + u"/").NewChaptersFirst, false);
        MakeTree();
        QCOMPARE(Items().front(), QStringLiteral("演示书库 - 春江夜话（1 章未完成）"));
    }

    void ReloadingKeepsTheSelectedNovelWhereverItMoved() {
        tree_->setCurrentItem(tree_->Root()->child(1));
        // A job put a novel in front and fetched 春江夜话's failed chapter.
        const std::string added = "Novel/书站乙/星河旅人";
        WriteNovel(added, {ChapterState::Failed, ChapterState::Failed});
        WriteNovel(kSpring, {ChapterState::Stored, ChapterState::Stored, ChapterState::Stored});
        WriteShelf({added, kSpring, kMountain});
        tree_->ReloadShelf();
        QCOMPARE(Items(), QStringList({QStringLiteral("书站乙 - 星河旅人（2 章未完成）"),
                                       QStringLiteral("演示书库 - 春江夜话"),
                                       QStringLiteral("书站甲 - 山海行记")}));
        QCOMPARE(tree_->selectedItems(), QList<QTreeWidgetItem*>({tree_->Root()->child(2)}));
        QVERIFY(tree_->Root()->isExpanded());
        // Once the selected novel is gone, no other takes its place: the menu must not act on
        // a novel the user did not choose.
        WriteShelf({added, kSpring});
        tree_->ReloadShelf();
        QVERIFY(tree_->selectedItems().isEmpty());
        tree_->DeleteBook();
        QVERIFY(port_->Messages().empty());
    }

    void DeleteQuestionNamesTheNovelWithoutItsCounts() {
        port_->AnswerMessagesWith(MessageAnswer::No);
        ChooseFromMenu(0, 9);
        QCOMPARE(port_->Messages().size(), size_t(1));
        QCOMPARE(port_->Messages().front().text,
                 std::u16string(u"确定要删除小说“演示书库 - 春江夜话”及其全部已下载的章节吗？"));
        QVERIFY(std::filesystem::exists(folder_->File(kSpring)));
    }
};

VELUNOR_CONTROLS_TEST(BookShelfReadingTest)
#include "tree_ctrl_book_shelf_test.moc"
