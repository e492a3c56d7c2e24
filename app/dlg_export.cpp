#include "app/dlg_export.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

namespace velunor {

namespace {

QString Text(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

QString Extension(ExportFormat format) {
    return format == ExportFormat::Epub ? QStringLiteral(".epub") : QStringLiteral(".txt");
}

QString FormatName(ExportFormat format) {
    return format == ExportFormat::Epub ? QStringLiteral("EPUB") : QStringLiteral("TXT");
}

QString FileFilter(ExportFormat format) {
    return format == ExportFormat::Epub ? QStringLiteral("EPUB 电子书 (*.epub)")
                                        : QStringLiteral("文本文件 (*.txt)");
}

} // namespace

CDlgExport::CDlgExport(ExportFormat format, std::u16string novelName, const QString& folder,
                       QWidget* parent)
    : QDialog(parent), format_(format), novelName_(std::move(novelName)), folder_(folder) {
    setWindowTitle(QStringLiteral("导出为 ") + FormatName(format));
    auto* form = new QFormLayout(this);

    pathEdit_ = new QLineEdit(this);
    pathEdit_->setMinimumWidth(360);
    auto* browse = new QPushButton(QStringLiteral("浏览…"), this);
    browse->setAutoDefault(false);
    connect(browse, &QPushButton::clicked, this, &CDlgExport::Browse);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(pathEdit_);
    pathRow->addWidget(browse);
    form->addRow(QStringLiteral("保存为："), pathRow);

    conversions_ = new QButtonGroup(this);
    auto* conversionRow = new QHBoxLayout;
    const std::pair<ChineseConversion, QString> choices[] = {
        {ChineseConversion::None, QStringLiteral("不转换")},
        {ChineseConversion::SimplifiedToTraditional, QStringLiteral("简→繁")},
        {ChineseConversion::TraditionalToSimplified, QStringLiteral("繁→简")}};
    for (const auto& [conversion, caption] : choices) {
        auto* button = new QRadioButton(caption, this);
        conversions_->addButton(button, static_cast<int>(conversion));
        conversionRow->addWidget(button);
    }
    conversionRow->addStretch();
    conversions_->button(static_cast<int>(ChineseConversion::None))->setChecked(true);
    form->addRow(QStringLiteral("简繁转换："), conversionRow);

    if (format == ExportFormat::Txt) {
        encodingBox_ = new QComboBox(this);
        encodingBox_->addItem(QStringLiteral("UTF-8（带 BOM）"),
                              static_cast<int>(TextEncoding::Utf8));
        encodingBox_->addItem(QStringLiteral("GB18030"), static_cast<int>(TextEncoding::Gb18030));
        form->addRow(QStringLiteral("文本编码："), encodingBox_);
    }

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("导出"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDlgExport::Confirm);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDlgExport::reject);
    form->addRow(buttons);

    proposedName_ = Text(DefaultExportFileName(novelName_, Options()));
    pathEdit_->setText(QDir(folder).filePath(proposedName_));
    // A converted novel is proposed under its converted name, until the user names the file.
    connect(conversions_, &QButtonGroup::idClicked, this, &CDlgExport::ProposeFileName);
}

void CDlgExport::ProposeFileName() {
    QFileInfo shown(pathEdit_->text());
    if (shown.fileName() != proposedName_) {
        return;
    }
    proposedName_ = Text(DefaultExportFileName(novelName_, Options()));
    pathEdit_->setText(shown.dir().filePath(proposedName_));
}

std::u16string CDlgExport::Target() const {
    return pathEdit_->text().trimmed().toStdU16String();
}

ExportOptions CDlgExport::Options() const {
    ExportOptions options;
    options.Format = format_;
    options.Conversion = static_cast<ChineseConversion>(conversions_->checkedId());
    if (encodingBox_ != nullptr) {
        options.Encoding = static_cast<TextEncoding>(encodingBox_->currentData().toInt());
    }
    return options;
}

QLineEdit& CDlgExport::PathEdit() const {
    return *pathEdit_;
}

QRadioButton& CDlgExport::ConversionButton(ChineseConversion conversion) const {
    return *static_cast<QRadioButton*>(conversions_->button(static_cast<int>(conversion)));
}

QComboBox* CDlgExport::EncodingBox() const {
    return encodingBox_;
}

void CDlgExport::Browse() {
    QString chosen =
        QFileDialog::getSaveFileName(this, windowTitle(), pathEdit_->text(), FileFilter(format_));
    if (!chosen.isEmpty()) {
        pathEdit_->setText(chosen);
        // The system's dialog has asked already whether to replace an existing file.
        replaceConfirmed_ = chosen;
    }
}

void CDlgExport::Confirm() {
    QString path = pathEdit_->text().trimmed();
    if (path.isEmpty()) {
        pathEdit_->setFocus();
        return;
    }
    // The program's current folder is its own; a bare name means the folder proposed.
    if (QFileInfo(path).isRelative()) {
        path = QDir(folder_).filePath(path);
    }
    if (!path.endsWith(Extension(format_), Qt::CaseInsensitive)) {
        path += Extension(format_);
    }
    pathEdit_->setText(path);
    if (path != replaceConfirmed_ && QFileInfo::exists(path) &&
        QMessageBox::question(
            this, windowTitle(), QStringLiteral("“%1”已存在，要替换它吗？").arg(path),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
        return;
    }
    accept();
}

} // namespace velunor
