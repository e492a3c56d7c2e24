// The dialog that finds another site for a novel of the shelf.

#include "app/dlg_source_switch.h"

#include "core/core.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace velunor {
namespace {

QString Text(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// The row of one site: its name, the novel there, and its chapters, or why it failed.
QTreeWidgetItem* SourceRow(const OtherSource& source) {
    QStringList columns{Text(source.SiteName)};
    if (source.Ok()) {
        columns << Text(source.NovelName) << Text(source.NovelAuthor)
                << QString::number(source.Chapters.ChapterName.size())
                << Text(source.LatestChapter());
    } else {
        columns << QString() << QString() << QString()
                << QStringLiteral("搜索失败：") + Text(ReaderReason(source.Error));
    }
    auto* row = new QTreeWidgetItem(columns);
    if (!source.Ok()) {
        // Listed so that the reader sees why the site is not offered, but not to be chosen.
        row->setFlags(row->flags() & ~Qt::ItemIsSelectable);
        row->setForeground(4, Qt::darkRed);
    }
    return row;
}

} // namespace

CDlgSourceSwitch::CDlgSourceSwitch(std::u16string programFolder, std::u16string novelFolder,
                                   const std::u16string& novelTitle, int chapters, QWidget* parent)
    : QDialog(parent), programFolder_(std::move(programFolder)),
      novelFolder_(std::move(novelFolder)) {
    setWindowTitle(QStringLiteral("换源 - ") + Text(novelTitle));
    progress_ = new QLabel(QStringLiteral("正在搜索其他网站……"), this);
    progress_->setWordWrap(true);
    list_ = new QTreeWidget(this);
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({QStringLiteral("网站"), QStringLiteral("书名"), QStringLiteral("作者"),
                            QStringLiteral("章节数"), QStringLiteral("最新章节")});
    list_->header()->setStretchLastSection(true);
    list_->setColumnWidth(0, 110);
    list_->setColumnWidth(1, 120);
    list_->setColumnWidth(2, 80);
    list_->setColumnWidth(3, 60);

    fromCheck_ = new QCheckBox(QStringLiteral("从第"), this);
    fromChapter_ = new QSpinBox(this);
    fromChapter_->setRange(1, std::max(chapters, 1));
    fromChapter_->setEnabled(false);
    auto* fromTail = new QLabel(QStringLiteral("章起全部换源（否则只换失败和未下载的章节）"), this);
    connect(fromCheck_, &QCheckBox::toggled, fromChapter_, &QSpinBox::setEnabled);
    auto* fromRow = new QHBoxLayout;
    fromRow->addWidget(fromCheck_);
    fromRow->addWidget(fromChapter_);
    fromRow->addWidget(fromTail);
    fromRow->addStretch();

    switchButton_ = new QPushButton(QStringLiteral("换源"), this);
    switchButton_->setEnabled(false);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    connect(switchButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &CDlgSourceSwitch::UpdateButton);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (ChosenSource() != nullptr) {
            accept();
        }
    });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(switchButton_);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(progress_);
    layout->addWidget(list_, 1);
    layout->addLayout(fromRow);
    layout->addLayout(buttons);
    resize(640, 360);

    worker_ = std::thread([this] {
        auto progress = [this](int answered, int asked, const std::u16string& site) {
            QString line = QStringLiteral("正在搜索其他网站 %1/%2：%3")
                               .arg(answered)
                               .arg(asked)
                               .arg(Text(site));
            QMetaObject::invokeMethod(
                this, [this, line] { progress_->setText(line); }, Qt::QueuedConnection);
        };
        auto found = std::make_shared<SourceSearch>(FindOtherSources(
            programFolder_, novelFolder_, progress, [this] { return stop_.load(); }));
        // Queued to the dialog: dropped if it is gone by then.
        QMetaObject::invokeMethod(
            this, [this, found] { ShowSources(*found); }, Qt::QueuedConnection);
    });
}

CDlgSourceSwitch::~CDlgSourceSwitch() {
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

void CDlgSourceSwitch::ShowSources(const SourceSearch& found) {
    searching_ = false;
    sources_ = found.Sources;
    int offered = 0;
    for (const OtherSource& source : sources_) {
        list_->addTopLevelItem(SourceRow(source));
        offered += source.Ok() ? 1 : 0;
    }
    int failed = static_cast<int>(sources_.size()) - offered;
    if (!found.Refusal.empty()) {
        progress_->setText(Text(found.Refusal));
    } else if (offered == 0) {
        progress_->setText(QStringLiteral("搜索了 %1 个网站，都没有找到本书。").arg(found.Asked));
    } else {
        progress_->setText(
            QStringLiteral("搜索了 %1 个网站，%2 个有本书%3。请选择一个网站换源：")
                .arg(found.Asked)
                .arg(offered)
                .arg(failed > 0 ? QStringLiteral("，%1 个搜索失败").arg(failed) : QString()));
    }
    emit SearchFinished();
}

void CDlgSourceSwitch::UpdateButton() {
    switchButton_->setEnabled(ChosenSource() != nullptr);
}

bool CDlgSourceSwitch::IsSearching() const {
    return searching_;
}

QString CDlgSourceSwitch::ProgressText() const {
    return progress_->text();
}

QTreeWidget& CDlgSourceSwitch::SiteList() const {
    return *list_;
}

void CDlgSourceSwitch::Choose(int row, int fromChapter) {
    list_->setCurrentItem(list_->topLevelItem(row));
    fromCheck_->setChecked(fromChapter > 0);
    if (fromChapter > 0) {
        fromChapter_->setValue(fromChapter);
    }
}

const OtherSource* CDlgSourceSwitch::ChosenSource() const {
    QTreeWidgetItem* item = list_->currentItem();
    int row = item == nullptr ? -1 : list_->indexOfTopLevelItem(item);
    if (row < 0 || !item->isSelected() || !sources_[static_cast<size_t>(row)].Ok()) {
        return nullptr;
    }
    return &sources_[static_cast<size_t>(row)];
}

int CDlgSourceSwitch::FromChapter() const {
    return fromCheck_->isChecked() ? fromChapter_->value() : 0;
}

} // namespace velunor
