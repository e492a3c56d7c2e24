// The rule draft dialog.

#include "app/dlg_rule_draft.h"

#include "core/core.h"
#include "core/folder_layout.h"
#include "draft/draft.h"
#include "xml/xml_document.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velunor {
namespace {

QPlainTextEdit* CodeView(QWidget* parent, bool readOnly) {
    auto* view = new QPlainTextEdit(parent);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setReadOnly(readOnly);
    return view;
}

QString JoinedLines(const std::vector<std::u16string>& lines) {
    QStringList joined;
    for (const std::u16string& line : lines) {
        joined.append(QString::fromStdU16String(line));
    }
    return joined.join(QLatin1Char('\n'));
}

} // namespace

CDlgRuleDraft::CDlgRuleDraft(std::u16string programFolder, const std::u16string& url,
                             QWidget* parent)
    : QDialog(parent), programFolder_(std::move(programFolder)) {
    setWindowTitle(QStringLiteral("为此站生成规则"));
    address_ = new QLineEdit(QString::fromStdU16String(url), this);
    address_->setPlaceholderText(QStringLiteral("小说信息页或目录页的网址"));
    search_ = new QLineEdit(this);
    search_->setPlaceholderText(QStringLiteral("可选：搜索地址，用 {KEY} 代替要搜索的书名"));
    auto* fields = new QFormLayout;
    fields->addRow(QStringLiteral("网址："), address_);
    fields->addRow(QStringLiteral("搜索地址："), search_);

    verdict_ = new QLabel(QStringLiteral("自动识别不运行网页脚本，只读取这个站点的网页。"), this);
    verdict_->setWordWrap(true);
    rule_ = CodeView(this, false);
    report_ = CodeView(this, true);
    report_->setMaximumHeight(160);

    draftButton_ = new QPushButton(QStringLiteral("生成规则"), this);
    saveButton_ = new QPushButton(QStringLiteral("保存到规则文件夹"), this);
    saveButton_->setEnabled(false);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    connect(draftButton_, &QPushButton::clicked, this, &CDlgRuleDraft::Draft);
    connect(saveButton_, &QPushButton::clicked, this, &CDlgRuleDraft::Save);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(draftButton_);
    buttons->addStretch();
    buttons->addWidget(saveButton_);
    buttons->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(verdict_);
    layout->addWidget(rule_, 1);
    layout->addWidget(new QLabel(QStringLiteral("在该站上的检查："), this));
    layout->addWidget(report_);
    layout->addLayout(buttons);
    resize(760, 620);
}

CDlgRuleDraft::~CDlgRuleDraft() {
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

void CDlgRuleDraft::Draft() {
    if (IsDrafting()) {
        return;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    draftButton_->setEnabled(false);
    saveButton_->setEnabled(false);
    verdict_->setText(QStringLiteral("正在读取该站的网页并生成规则，可能需要一两分钟……"));
    stop_ = false;
    std::u16string url = address_->text().trimmed().toStdU16String();
    std::u16string search = search_->text().trimmed().toStdU16String();
    worker_ = std::thread([this, url, search] {
        auto made = std::make_shared<draft::SiteRuleDraft>(
            draft::DraftSiteRule(url, search, [this] { return stop_.load(); }));
        // Queued to the dialog: dropped if it is gone by then.
        QMetaObject::invokeMethod(
            this, [this, made] { ShowDraft(*made); }, Qt::QueuedConnection);
    });
}

void CDlgRuleDraft::ShowDraft(const draft::SiteRuleDraft& made) {
    draftButton_->setEnabled(true);
    fileName_ = made.FileName;
    rule_->setPlainText(QString::fromStdU16String(made.Xml));
    report_->setPlainText(JoinedLines(made.Check.Lines));
    saveButton_->setEnabled(!made.Xml.empty());
    if (made.Xml.empty()) {
        verdict_->setText(QString::fromStdU16String(made.Refusal));
    } else if (made.Passed) {
        verdict_->setText(
            QStringLiteral("规则已生成，并已在该站上通过检查。保存后即可像其他规则一样使用。"));
    } else {
        verdict_->setText(
            QStringLiteral("规则已生成，但有 %1 步没有通过检查，已在规则中用注释标出，"
                           "请修改后再用。")
                .arg(made.Check.Failed()));
    }
    emit DraftFinished();
}

void CDlgRuleDraft::Save() {
    if (fileName_.empty()) {
        return;
    }
    // The user's own rule folder: the first, whose files win over the shipped ones.
    const std::u16string folder = FolderLayoutFor(programFolder_).RuleFolders.front();
    CreateFolderPath(folder);
    std::u16string path = folder + fileName_;
    if (QFileInfo::exists(QString::fromStdU16String(path)) &&
        QMessageBox::question(this, windowTitle(),
                              QStringLiteral("规则文件夹里已有 %1，要替换它吗？")
                                  .arg(QString::fromStdU16String(fileName_)),
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes) {
        return;
    }
    std::u16string text = rule_->toPlainText().toStdU16String();
    if (!CXmlDocument::WriteWideAsText(text, path, nullptr, nullptr, nullptr)) {
        verdict_->setText(
            QStringLiteral("无法写入 %1，规则未保存！").arg(QString::fromStdU16String(path)));
        return;
    }
    savedPath_ = path;
    verdict_->setText(QStringLiteral("已保存为 %1，可在“目标站设置”中勾选它来搜索。")
                          .arg(QString::fromStdU16String(ShownPath(programFolder_, path))));
}

bool CDlgRuleDraft::IsDrafting() const {
    return !draftButton_->isEnabled();
}

QString CDlgRuleDraft::Verdict() const {
    return verdict_->text();
}

QString CDlgRuleDraft::DraftText() const {
    return rule_->toPlainText();
}

const std::u16string& CDlgRuleDraft::SavedPath() const {
    return savedPath_;
}

} // namespace velunor
