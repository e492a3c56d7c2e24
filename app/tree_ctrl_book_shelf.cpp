#include "app/tree_ctrl_book_shelf.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>

namespace velunor {

namespace {

QString Text(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CTreeCtrlBookShelf::CTreeCtrlBookShelf(WindowPort& window, std::u16string programFolder,
                                       QWidget* parent)
    : QTreeWidget(parent), window_(window), model_(std::move(programFolder)) {
    setHeaderHidden(true);
    setRootIsDecorated(true);
    setExpandsOnDoubleClick(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    auto* root = new QTreeWidgetItem(this, {Text(CBookShelfModel::kRootText)});
    model_.LoadBookShelf();
    ShowModelItems();
    root->setExpanded(true);

    contextMenu_ = new QMenu(QStringLiteral("右键菜单"), this);
    QAction* remove = contextMenu_->addAction(QStringLiteral("删除小说(&D)"));
    connect(remove, &QAction::triggered, this, &CTreeCtrlBookShelf::DeleteBook);
}

void CTreeCtrlBookShelf::ShowModelItems() {
    QTreeWidgetItem* root = Root();
    qDeleteAll(root->takeChildren());
    for (const std::u16string& item : model_.Items()) {
        new QTreeWidgetItem(root, {Text(item)});
    }
}

QTreeWidgetItem* CTreeCtrlBookShelf::Root() const {
    return topLevelItem(0);
}

void CTreeCtrlBookShelf::AppendItem(const std::u16string& text) {
    model_.AppendItem(text);
    new QTreeWidgetItem(Root(), {Text(text)});
}

void CTreeCtrlBookShelf::OpenBook() {
    model_.OpenBook(SelectedNovel(), window_);
}

void CTreeCtrlBookShelf::DeleteBook() {
    const int novel = SelectedNovel();
    if (novel < 0) {
        return;
    }
    // The novel's folder holds every page downloaded for it; a slip of the mouse must not
    // lose them.
    const std::u16string question = u"确定要删除小说“" +
                                    model_.Items()[static_cast<size_t>(novel)] +
                                    u"”及其全部已下载的章节吗？";
    if (window_.ShowMessage(question, MessageIcon::Question, MessageButtons::YesNo) !=
        MessageAnswer::Yes) {
        return;
    }
    // The item stays while its entry does; the status line then says why.
    if (model_.DeleteBook(novel, window_)) {
        ShowModelItems();
    }
}

QMenu& CTreeCtrlBookShelf::ContextMenu() {
    return *contextMenu_;
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
        return;
    }
    contextMenu_->popup(event->globalPos());
}

int CTreeCtrlBookShelf::SelectedNovel() const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty() || selected.front()->parent() != Root()) {
        return -1;
    }
    return Root()->indexOfChild(selected.front());
}

} // namespace velunor
