#pragma once
// The export dialog "导出为 EPUB" / "导出为 TXT": where to save the novel (typed, or chosen in
// the system's save dialog), whether to convert it 简→繁 or 繁→简, and for a text file its
// encoding. It only asks; the export itself runs on a job thread.

#include "export/export.h"

#include <QDialog>

#include <string>

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace velunor {

class CDlgExport : public QDialog {
    Q_OBJECT

  public:
    /// The dialog for exporting the novel `novelName` as `format`, proposing the novel's name
    /// in `folder`. GUI thread.
    CDlgExport(ExportFormat format, std::u16string novelName, const QString& folder,
               QWidget* parent = nullptr);

    /// The file to write, as the path box holds it. GUI thread.
    std::u16string Target() const;
    /// The format, conversion and encoding chosen. GUI thread.
    ExportOptions Options() const;

    /// The path box, the conversion choices and, for a text file, the encoding box (null for
    /// an EPUB); for tests. GUI thread.
    QLineEdit& PathEdit() const;
    QRadioButton& ConversionButton(ChineseConversion conversion) const;
    QComboBox* EncodingBox() const;

    /// Opens the system's save dialog on the path box's file and takes what it gives. GUI
    /// thread; blocks on the dialog.
    void Browse();
    /// Closes the dialog with the file in the path box (a relative one taken in the folder
    /// proposed), the format's extension added when it has none; asks first when the file
    /// exists, and stays open while the box is empty. GUI thread; may block on the question.
    void Confirm();

  private:
    void ProposeFileName();

    ExportFormat format_;
    std::u16string novelName_;
    QString folder_;
    QLineEdit* pathEdit_ = nullptr;
    QButtonGroup* conversions_ = nullptr;
    QComboBox* encodingBox_ = nullptr;
    /// The file name last proposed; a conversion changes it while the user has not typed one.
    QString proposedName_;
    /// The file the system's save dialog was told to replace.
    QString replaceConfirmed_;
};

} // namespace velunor
