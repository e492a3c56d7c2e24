#include "app/dlg_target_set.h"

#include "app/command_ids.h"
#include "app/report_view.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>
#include <array>

namespace velunor {

namespace {

constexpr std::array<ReportColumn, 3> kColumns{{
    {u"序号", 40},
    {u"网站名称", 100},
    {u"网站地址", 200},
}};

constexpr int kNumberColumn = 0;
constexpr int kNameColumn = 1;
constexpr int kAddressColumn = 2;

QString Text(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

} // namespace

CDlgTargetSet::CDlgTargetSet(std::u16string programFolder, QWidget* parent)
    : QDialog(parent), model_(std::move(programFolder)) {
    setWindowTitle(QStringLiteral("目标站设置"));
    setFixedSize(DialogRect(0, 0, 250, 275).size());

    siteList_ = new QTableWidget(this);
    siteList_->setObjectName(QString::number(kIdSiteList));
    siteList_->setGeometry(DialogRect(7, 7, 236, 226));
    MakeReportView(*siteList_, kColumns);
    siteList_->setSelectionMode(QAbstractItemView::SingleSelection);

    // Actions, not states: each click acts once, and the button keeps no mark of it.
    QPushButton* selectAll = AddButton(kIdSelectAll, u"全选", DialogRect(7, 243, 36, 18));
    QPushButton* invert = AddButton(kIdInvert, u"反选", DialogRect(49, 243, 36, 18));
    // Created first, they would otherwise take Enter from "确定" when the dialog shows.
    selectAll->setAutoDefault(false);
    invert->setAutoDefault(false);
    connect(selectAll, &QPushButton::clicked, this, &CDlgTargetSet::SelectAll);
    connect(invert, &QPushButton::clicked, this, &CDlgTargetSet::Invert);
    connect(AddButton(kIdConfirm, u"确定", DialogRect(132, 243, 50, 18)), &QPushButton::clicked,
            this, &CDlgTargetSet::Confirm);
    connect(AddButton(kIdCancel, u"取消", DialogRect(193, 243, 50, 18)), &QPushButton::clicked,
            this, &CDlgTargetSet::reject);

    model_.Load();
    FillList();
    // Connected after filling, so that only the user's clicks reach the model.
    connect(siteList_, &QTableWidget::cellChanged, this, &CDlgTargetSet::TakeCheck);
    // The list's width for its columns is known once it is shown, and changes when its
    // vertical scroll bar comes or goes.
    siteList_->viewport()->installEventFilter(this);
}

QPushButton* CDlgTargetSet::AddButton(int id, const char16_t* text, const QRect& place) {
    auto* button = new QPushButton(QString::fromUtf16(text), this);
    button->setObjectName(QString::number(id));
    button->setGeometry(place);
    return button;
}

QTableWidget& CDlgTargetSet::SiteList() {
    return *siteList_;
}

QWidget* CDlgTargetSet::Control(int id) const {
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void CDlgTargetSet::SelectAll() {
    model_.SelectAll();
    ShowChecks();
}

void CDlgTargetSet::Invert() {
    model_.Invert();
    ShowChecks();
}

void CDlgTargetSet::Confirm() {
    if (!model_.Confirm()) {
        QMessageBox::warning(this, QStringLiteral("Velunor"),
                             QStringLiteral("无法保存目标站设置！"));
    }
    accept();
}

const std::u16string& CDlgTargetSet::DamageNotice() const {
    return model_.DamageNotice();
}

bool CDlgTargetSet::eventFilter(QObject* watched, QEvent* event) {
    if (watched == siteList_->viewport() && event->type() == QEvent::Resize) {
        FitAddressColumn();
    }
    return QDialog::eventFilter(watched, event);
}

// The address column fills the list's free width and is never narrower than its longest
// address. For a long address the name column first gives up the width its names do not use;
// only an address longer than that makes the list scroll sideways, and none is cut off.
void CDlgTargetSet::FitAddressColumn() {
    const int room = siteList_->viewport()->width() - siteList_->columnWidth(kNumberColumn);
    const int addressNeeds = ContentsWidth(kAddressColumn);
    const int nameWidth = std::min(kColumns[kNameColumn].width,
                                   std::max(ContentsWidth(kNameColumn), room - addressNeeds));
    siteList_->setColumnWidth(kNameColumn, nameWidth);
    siteList_->setColumnWidth(
        kAddressColumn, std::max({kColumns[kAddressColumn].width, room - nameWidth, addressNeeds}));
}

// The width that shows every text of `column` and its header whole.
int CDlgTargetSet::ContentsWidth(int column) const {
    // QTableView keeps the measure of its base class from outside callers; the base offers it.
    const QAbstractItemView& view = *siteList_;
    return std::max(view.sizeHintForColumn(column),
                    siteList_->horizontalHeader()->sectionSizeHint(column));
}

void CDlgTargetSet::FillList() {
    const auto& rows = model_.Rows();
    siteList_->setRowCount(static_cast<int>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        const int row = static_cast<int>(i);
        auto* number = new QTableWidgetItem(Text(rows[i].number));
        number->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        siteList_->setItem(row, 0, number);
        siteList_->setItem(row, 1, new QTableWidgetItem(Text(rows[i].siteName)));
        siteList_->setItem(row, 2, new QTableWidgetItem(Text(rows[i].siteUrl)));
    }
    ShowChecks();
}

void CDlgTargetSet::ShowChecks() {
    const QSignalBlocker quiet(siteList_);
    const auto& rows = model_.Rows();
    for (size_t i = 0; i < rows.size(); ++i) {
        siteList_->item(static_cast<int>(i), 0)
            ->setCheckState(rows[i].checked ? Qt::Checked : Qt::Unchecked);
    }
}

void CDlgTargetSet::TakeCheck(int row, int column) {
    if (column != 0) {
        return;
    }
    model_.SetChecked(static_cast<size_t>(row),
                      siteList_->item(row, 0)->checkState() == Qt::Checked);
}

// The dialog's layout is given in dialog units: a quarter of the font's average character
// width across and an eighth of its height down, so it grows with the font.
QRect CDlgTargetSet::DialogRect(int left, int top, int width, int height) const {
    const QFontMetrics metrics(font());
    const int unitX = metrics.averageCharWidth();
    const int unitY = metrics.height();
    return QRect(left * unitX / 4, top * unitY / 8, width * unitX / 4, height * unitY / 8);
}

} // namespace velunor
