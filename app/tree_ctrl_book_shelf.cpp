#include "app/tree_ctrl_book_shelf.h"

#include "app/bookmark_menu.h"
#include "app/dlg_export.h"
#include "app/dlg_source_switch.h"
#include "core/folder_layout.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace velunor {

namespace {

QString Text(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CTreeCtrlBookShelf::CTreeCtrlBookShelf(WindowPort& window, std::u16string programFolder,
                                       QWidget* parent)
    : QTreeWidget(parent), window_(window), programFolder_(std::move(programFolder)),
      model_(programFolder_) {
    setColumnCount(kColumnCount);
    // The panel is narrow: the novel's name gets the room, and its site is in the item's tip.
    setHeaderLabels({QStringLiteral("小说"), QStringLiteral("新"), QStringLiteral("未读"),
                     QStringLiteral("未完成")});
    setIndentation(12);
    // The counts are narrow; the name takes what is left.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < kColumnCount; ++column) {
        header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    setRootIsDecorated(true);
    setExpandsOnDoubleClick(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    auto* root = new QTreeWidgetItem(this, {Text(CBookShelfModel::kRootText)});
    root->setFirstColumnSpanned(true);
    model_.SetNewChaptersFirst(LoadShelfSettings(programFolder_).NewChaptersFirst);
    model_.LoadBookShelf();
    ShowModelItems();
    root->setExpanded(true);
    CreateContextMenu();
}

void CTreeCtrlBookShelf::CreateContextMenu() {
    contextMenu_ = new QMenu(QStringLiteral("右键菜单"), this);
    connect(contextMenu_->addAction(QStringLiteral("打开目录")), &QAction::triggered, this,
            &CTreeCtrlBookShelf::OpenContents);
    connect(contextMenu_->addAction(QStringLiteral("更新小说")), &QAction::triggered, this,
            &CTreeCtrlBookShelf::UpdateNovel);
    connect(contextMenu_->addAction(QStringLiteral("重新下载失败章节")), &QAction::triggered, this,
            &CTreeCtrlBookShelf::RetryFailedChapters);
    connect(contextMenu_->addAction(QStringLiteral("换源…")), &QAction::triggered, this,
            &CTreeCtrlBookShelf::SwitchNovelSource);
    bookmarkMenu_ = new CBookmarkMenu(contextMenu_);
    contextMenu_->addMenu(bookmarkMenu_);
    connect(contextMenu_->addAction(QStringLiteral("导出为 EPUB…")), &QAction::triggered, this,
            [this] { ExportSelectedNovel(ExportFormat::Epub); });
    connect(contextMenu_->addAction(QStringLiteral("导出为 TXT…")), &QAction::triggered, this,
            [this] { ExportSelectedNovel(ExportFormat::Txt); });
    ruleDraftAction_ = contextMenu_->addAction(QStringLiteral("为此站生成规则…"));
    connect(ruleDraftAction_, &QAction::triggered, this, [this] {
        const int novel = SelectedNovel();
        if (novel >= 0) {
            emit RuleDraftRequested(Text(model_.Item(novel).Entry.InfoPageUrl));
        }
    });
    // Apart from the rest: it is the one item that loses downloaded pages.
    contextMenu_->addSeparator();
    connect(contextMenu_->addAction(QStringLiteral("删除小说(&D)")), &QAction::triggered, this,
            &CTreeCtrlBookShelf::DeleteBook);
    shelfMenu_ = new QMenu(QStringLiteral("书架菜单"), this);
    CreateUpdateAllItems();
    newChaptersFirstAction_ = shelfMenu_->addAction(QStringLiteral("新章节排在前面"));
    newChaptersFirstAction_->setCheckable(true);
    newChaptersFirstAction_->setChecked(LoadShelfSettings(programFolder_).NewChaptersFirst);
    connect(newChaptersFirstAction_, &QAction::toggled, this,
            &CTreeCtrlBookShelf::SetNewChaptersFirst);
    shelfMenu_->addSeparator();
    connect(shelfMenu_->addAction(QStringLiteral("书库位置…")), &QAction::triggered, this,
            &CTreeCtrlBookShelf::ChooseLibraryFolder);
}

void CTreeCtrlBookShelf::CreateUpdateAllItems() {
    updateAllAction_ = shelfMenu_->addAction(QStringLiteral("全部更新"));
    connect(updateAllAction_, &QAction::triggered, this, &CTreeCtrlBookShelf::UpdateAll);
    stopUpdateAllAction_ = shelfMenu_->addAction(QStringLiteral("停止全部更新"));
    connect(stopUpdateAllAction_, &QAction::triggered, this, &CTreeCtrlBookShelf::StopUpdateAll);
    shelfMenu_->addSeparator();
    checkAtStartAction_ = shelfMenu_->addAction(QStringLiteral("启动时检查更新"));
    checkAtStartAction_->setCheckable(true);
    checkAtStartAction_->setChecked(LoadShelfSettings(programFolder_).CheckUpdatesAtStart);
    connect(checkAtStartAction_, &QAction::toggled, this, [this](bool checked) {
        ShelfSettings settings = LoadShelfSettings(programFolder_);
        settings.CheckUpdatesAtStart = checked;
        if (!SaveShelfSettings(programFolder_, settings)) {
            window_.SetStatusText(u"无法保存书架设置 " + ShelfSettingsPath(programFolder_) + u"。");
        }
    });
}

void CTreeCtrlBookShelf::UpdateAll() {
    StartUpdateAll(window_, programFolder_);
}

void CTreeCtrlBookShelf::StopUpdateAll() {
    if (UpdateAllRunning()) {
        velunor::StopUpdateAll();
        window_.SetStatusText(u"正在停止全部更新…");
    }
}

void CTreeCtrlBookShelf::ShowModelItems() {
    QTreeWidgetItem* root = Root();
    // Qt would hand the selection of a removed item to its neighbour, and the menu would then
    // act on a novel the user never chose.
    if (SelectedNovel() >= 0) {
        clearSelection();
        setCurrentItem(nullptr);
    }
    qDeleteAll(root->takeChildren());
    for (int i = 0; i < static_cast<int>(model_.ItemCount()); ++i) {
        ShowItem(new QTreeWidgetItem(root), model_.Item(i));
    }
}

// A count of 0 is left blank, so that the counts that are there stand out.
void CTreeCtrlBookShelf::ShowItem(QTreeWidgetItem* item, const ShelfItem& shown) {
    auto count = [](int value) { return value > 0 ? QString::number(value) : QString(); };
    const QString texts[kColumnCount] = {Text(shown.Entry.NovelName), count(shown.NewChapters),
                                         count(shown.Unread), count(shown.Unfinished)};
    // The tree is narrow: the tip shows the whole line, with the site and the counts.
    const QString tip = Text(ShelfItemLabel(shown));
    // The item knows its novel, so that the selection is found again whatever the order.
    item->setData(0, Qt::UserRole, Text(shown.Entry.ContentsPagePath));
    for (int column = 0; column < kColumnCount; ++column) {
        item->setText(column, texts[column]);
        item->setToolTip(column, tip);
        if (column > 0) {
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    // Chapters the reader has not seen yet catch the eye.
    QFont font = item->font(0);
    font.setBold(shown.NewChapters > 0);
    item->setFont(0, font);
    item->setFont(1, font);
}

QTreeWidgetItem* CTreeCtrlBookShelf::Root() const {
    return topLevelItem(0);
}

void CTreeCtrlBookShelf::RelabelItems() {
    QTreeWidgetItem* root = Root();
    const int shown = std::min(root->childCount(), static_cast<int>(model_.ItemCount()));
    bool sameOrder = root->childCount() == static_cast<int>(model_.ItemCount());
    for (int i = 0; i < shown && sameOrder; ++i) {
        sameOrder = root->child(i)->data(0, Qt::UserRole).toString() ==
                    Text(model_.Item(i).Entry.ContentsPagePath);
    }
    // A novel that gained or lost new chapters may have moved; the selection goes with it.
    if (!sameOrder) {
        const std::u16string selected = SelectedContentsPage();
        ShowModelItems();
        SelectNovelWithContentsPage(selected);
        return;
    }
    for (int i = 0; i < shown; ++i) {
        ShowItem(root->child(i), model_.Item(i));
    }
}

void CTreeCtrlBookShelf::ShowNovelState(const std::u16string& folder,
                                        const NovelShelfState& state) {
    if (model_.ApplyNovelState(folder, state)) {
        RelabelItems();
    }
}

void CTreeCtrlBookShelf::SetNewChaptersFirst(bool first) {
    ShelfSettings settings = LoadShelfSettings(programFolder_);
    settings.NewChaptersFirst = first;
    if (!SaveShelfSettings(programFolder_, settings)) {
        window_.SetStatusText(u"无法保存书架设置 " + ShelfSettingsPath(programFolder_) + u"。");
    }
    model_.SetNewChaptersFirst(first);
    RelabelItems();
}

std::vector<std::u16string> CTreeCtrlBookShelf::FoldersWithPendingChapters() const {
    return model_.FoldersWithPendingChapters();
}

void CTreeCtrlBookShelf::ReloadShelf() {
    const unsigned long long readNumber = NextReadNumber();
    CBookShelfModel loaded(programFolder_);
    loaded.LoadBookShelf();
    ShowLoadedShelf(std::move(loaded), readNumber);
}

void CTreeCtrlBookShelf::ShowLoadedShelf(CBookShelfModel loaded, unsigned long long readNumber) {
    // Two jobs may end at once, and the one that read the shelf first may be shown last.
    if (readNumber < shownRead_) {
        return;
    }
    shownRead_ = readNumber;
    // Items are rebuilt, so the selection is carried over by the novel, not by the row: a job
    // may have added a novel before the selected one.
    const std::u16string selected = SelectedContentsPage();
    model_ = std::move(loaded);
    model_.SetNewChaptersFirst(newChaptersFirstAction_->isChecked());
    ShowModelItems();
    SelectNovelWithContentsPage(selected);
}

unsigned long long CTreeCtrlBookShelf::NextReadNumber() {
    static std::atomic<unsigned long long> reads{0};
    return ++reads;
}

void CTreeCtrlBookShelf::OpenBook() {
    model_.OpenBook(SelectedNovel(), window_);
}

void CTreeCtrlBookShelf::OpenContents() {
    model_.OpenContents(SelectedNovel(), window_);
}

void CTreeCtrlBookShelf::UpdateNovel() {
    StartShelfJob(ShelfJob::Update);
}

void CTreeCtrlBookShelf::RetryFailedChapters() {
    StartShelfJob(ShelfJob::Retry);
}

void CTreeCtrlBookShelf::SwitchNovelSource() {
    const int novel = SelectedNovel();
    if (novel < 0) {
        return;
    }
    const ShelfItem& item = model_.Item(novel);
    const std::u16string folder = model_.NovelFolder(novel);
    CDlgSourceSwitch dialog(programFolder_, folder,
                            BookItemText(item.Entry.TargetSite, item.Entry.NovelName),
                            item.Chapters, window());
    if (dialog.exec() != QDialog::Accepted || dialog.ChosenSource() == nullptr) {
        return;
    }
    StartSourceSwitch(window_, programFolder_, folder, *dialog.ChosenSource(),
                      dialog.FromChapter());
}

void CTreeCtrlBookShelf::ExportSelectedNovel(ExportFormat format) {
    const int novel = SelectedNovel();
    if (novel < 0) {
        return;
    }
    // The folder of the last export is proposed again, so that a shelf exported one novel after
    // another lands in one place.
    static QString lastFolder;
    if (lastFolder.isEmpty()) {
        lastFolder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        // A desktop without a documents folder still has a home.
        if (!QDir(lastFolder).exists()) {
            lastFolder = QDir::homePath();
        }
    }
    const std::u16string folder = model_.NovelFolder(novel);
    CDlgExport dialog(format, ExportedNovelName(folder), lastFolder, window());
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    lastFolder = QFileInfo(QString::fromStdU16String(dialog.Target())).absolutePath();
    // Thousands of chapters take a while to read and compress; the window stays responsive and
    // hears how far the export has come on its status line.
    StartExportJob(window_, folder, dialog.Target(), dialog.Options());
}

void CTreeCtrlBookShelf::StartShelfJob(ShelfJob job) {
    const int novel = SelectedNovel();
    if (novel < 0) {
        return;
    }
    StartNovelJob(window_, programFolder_, model_.NovelFolder(novel), job);
}

void CTreeCtrlBookShelf::NoteOpenedPage(const std::u16string& page) {
    if (model_.NoteOpenedPage(page)) {
        RelabelItems();
    }
}

void CTreeCtrlBookShelf::DeleteBook() {
    const int novel = SelectedNovel();
    if (novel < 0) {
        return;
    }
    // The novel's folder holds every page downloaded for it; a slip of the mouse must not
    // lose them. The question names the novel without the item's chapter counts.
    const BookEntry& entry = model_.Item(novel).Entry;
    const std::u16string question = u"确定要删除小说“" +
                                    BookItemText(entry.TargetSite, entry.NovelName) +
                                    u"”及其全部已下载的章节吗？";
    if (window_.ShowMessage(question, MessageIcon::Question, MessageButtons::YesNo) !=
        MessageAnswer::Yes) {
        return;
    }
    // A job working on the novel is stopped first and the delete waits, off the window's
    // thread, until it has let go of the novel's folder.
    const std::u16string folder = model_.NovelFolder(novel);
    if (StopJobOfNovel(folder)) {
        window_.SetStatusText(u"正在停止下载…");
        std::thread([this, folder, contentsPage = entry.ContentsPagePath] {
            WaitForJobOfNovel(folder, std::chrono::minutes(10));
            QMetaObject::invokeMethod(
                this, [this, contentsPage] { DeleteNovelWithContentsPage(contentsPage); },
                Qt::QueuedConnection);
        }).detach();
        return;
    }
    DeleteNovelWithContentsPage(entry.ContentsPagePath);
}

void CTreeCtrlBookShelf::DeleteNovelWithContentsPage(const std::u16string& contentsPage) {
    for (int i = 0; i < static_cast<int>(model_.ItemCount()); ++i) {
        // The item stays while its entry does; the status line then says why.
        if (model_.Item(i).Entry.ContentsPagePath == contentsPage) {
            if (model_.DeleteBook(i, window_)) {
                ShowModelItems();
            }
            return;
        }
    }
}

QMenu& CTreeCtrlBookShelf::ContextMenu() {
    return *contextMenu_;
}

QMenu& CTreeCtrlBookShelf::ShelfMenu() {
    return *shelfMenu_;
}

CBookmarkMenu& CTreeCtrlBookShelf::BookmarkMenu() {
    return *bookmarkMenu_;
}

void CTreeCtrlBookShelf::ChooseLibraryFolder() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("书库位置（存放 Novel 文件夹和书架的文件夹）"),
        Text(FolderLayoutFor(programFolder_).LibraryFolder));
    if (!folder.isEmpty()) {
        UseLibraryFolder(folder);
    }
}

bool CTreeCtrlBookShelf::UseLibraryFolder(const QString& folder) {
    std::u16string problem;
    if (!velunor::ChooseLibraryFolder(programFolder_, QDir(folder).absolutePath().toStdU16String(),
                                      problem)) {
        window_.ShowMessage(problem, MessageIcon::Exclamation, MessageButtons::Ok);
        return false;
    }
    ReloadShelf();
    return true;
}

void CTreeCtrlBookShelf::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        OpenBook();
    }
}

void CTreeCtrlBookShelf::contextMenuEvent(QContextMenuEvent* event) {
    // A click on empty space keeps the selection there is, so the menu acts on that novel.
    QTreeWidgetItem* hit = itemAt(event->pos());
    if (hit != nullptr) {
        setCurrentItem(hit);
    }
    if (SelectedNovel() < 0) {
        updateAllAction_->setEnabled(!UpdateAllRunning());
        stopUpdateAllAction_->setEnabled(UpdateAllRunning());
        shelfMenu_->popup(event->globalPos());
        return;
    }
    // Only a novel the page finder reads comes from a site that has no rule yet.
    ruleDraftAction_->setEnabled(model_.Item(SelectedNovel()).Entry.FoundByFinder);
    bookmarkMenu_->SetNovelFolder(model_.NovelFolder(SelectedNovel()));
    contextMenu_->popup(event->globalPos());
}

int CTreeCtrlBookShelf::SelectedNovel() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty() || selected.front()->parent() != Root()) {
        return -1;
    }
    return Root()->indexOfChild(selected.front());
}

std::u16string CTreeCtrlBookShelf::SelectedContentsPage() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty() || selected.front()->parent() != Root()) {
        return {};
    }
    return selected.front()->data(0, Qt::UserRole).toString().toStdU16String();
}

void CTreeCtrlBookShelf::SelectNovelWithContentsPage(const std::u16string& contentsPage) {
    if (contentsPage.empty()) {
        return;
    }
    for (int i = 0; i < static_cast<int>(model_.ItemCount()); ++i) {
        if (model_.Item(i).Entry.ContentsPagePath == contentsPage) {
            setCurrentItem(Root()->child(i));
            return;
        }
    }
}

} // namespace velunor
