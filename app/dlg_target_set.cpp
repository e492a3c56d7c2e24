#include "app/dlg_target_set.h"

#include "app/command_ids.h"
#include "app/report_view.h"

#include <QFontMetrics>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>

#include <array>

namespace velunor {

namespace {

constexpr std::array<ReportColumn, 3> kColumns{{
    {u"序号", 40},
    {u"网站名称", 100},
    {u"网站地址", 200},
}};

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

    connect(AddButton<QRadioButton>(kIdSelectAll, u"全选", DialogRect(7, 247, 36, 10)),
            &QRadioButton::clicked, this, &CDlgTargetSet::SelectAll);
    connect(AddButton<QRadioButton>(kIdInvert, u"反选", DialogRect(49, 247, 36, 10)),
            &QRadioButton::clicked, this, &CDlgTargetSet::Invert);
    connect(AddButton<QPushButton>(kIdConfirm, u"确定", DialogRect(132, 243, 50, 18)),
            &QPushButton::clicked, this, &CDlgTargetSet::Confirm);
    connect(AddButton<QPushButton>(kIdCancel, u"取消", DialogRect(193, 243, 50, 18)),
            &QPushButton::clicked, this, &CDlgTargetSet::reject);

    model_.Load();
    FillList();
    // Connected after filling, so that only the user's clicks reach the model.
    connect(siteList_, &QTableWidget::cellChanged, this, &CDlgTargetSet::TakeCheck);
}

template <typename Button>
Button* CDlgTargetSet::AddButton(int id, const char16_t* text, const QRect& place) {
    auto* button = new Button(QString::fromUtf16(text), this);
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
