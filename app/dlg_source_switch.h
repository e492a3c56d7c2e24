#pragma once
// The dialog "换源": searches the selected sites other than a shelved novel's own for the same
// novel, lists those that have it with their chapter count and latest chapter (and those that
// failed, with why), and lets the reader choose one to take the novel's missing chapters from,
// or every chapter from a given one on.

#include "library/library.h"

#include <QDialog>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace velunor {

class CDlgSourceSwitch : public QDialog {
    Q_OBJECT

  public:
    /// The dialog for the novel in `novelFolder` (no "/" at the end), named `novelTitle`, of
    /// `chapters` chapters, on the shelf of `programFolder` (ending in "/"). Starts searching at
    /// once, on a thread of its own. GUI thread.
    CDlgSourceSwitch(std::u16string programFolder, std::u16string novelFolder,
                     const std::u16string& novelTitle, int chapters, QWidget* parent = nullptr);
    /// Asks a search still running to stop and waits the moment that takes.
    ~CDlgSourceSwitch() override;

    /// True while the sites are being searched. GUI thread.
    bool IsSearching() const;
    /// The progress line: how far the search has come, or how it ended. GUI thread.
    QString ProgressText() const;
    /// The list of sites. GUI thread.
    QTreeWidget& SiteList() const;
    /// Selects row `row` of the list and, with `fromChapter` above 0, asks for every chapter from
    /// that one on. GUI thread.
    void Choose(int row, int fromChapter);
    /// The site chosen: the selected row's; null when none or a failed one is selected. GUI
    /// thread.
    const OtherSource* ChosenSource() const;
    /// The chapter from which every chapter is to be taken (from 1), or 0 for the missing ones.
    /// GUI thread.
    int FromChapter() const;

  signals:
    /// The search has ended and its sites are listed.
    void SearchFinished();

  private:
    void ShowSources(const SourceSearch& found);
    void UpdateButton();

    std::u16string programFolder_;
    std::u16string novelFolder_;
    std::vector<OtherSource> sources_;
    QLabel* progress_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QCheckBox* fromCheck_ = nullptr;
    QSpinBox* fromChapter_ = nullptr;
    QPushButton* switchButton_ = nullptr;
    bool searching_ = true;
    // The searching thread; a closed dialog asks it to stop and waits for it.
    std::thread worker_;
    std::atomic<bool> stop_{false};
};

} // namespace velunor
