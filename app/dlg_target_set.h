#pragma once
// The target-site dialog "目标站设置": one row per rule file of the program folder with its
// number, site name, address and a check box; confirming stores the checked rows as the sites
// the next search asks.

#include "search/search.h"

#include <QDialog>

#include <string>

class QPushButton;
class QTableWidget;

namespace velunor {

class CDlgTargetSet : public QDialog {
    Q_OBJECT

  public:
    /// The dialog over the rule files and the selection file of `programFolder` (ending in "/"),
    /// with the stored choice checked. GUI thread.
    explicit CDlgTargetSet(std::u16string programFolder, QWidget* parent = nullptr);

    /// The list of sites, one row per rule file. GUI thread.
    QTableWidget& SiteList();
    /// The dialog's control with identifier `id` (1001 to 1005); null for any other. GUI thread.
    QWidget* Control(int id) const;

    /// Checks every row. GUI thread.
    void SelectAll();
    /// Turns every row's check box over. GUI thread.
    void Invert();
    /// Stores the checked rows and closes the dialog; says so when the file cannot be written.
    /// GUI thread; blocks on the disk.
    void Confirm();
    /// What the window's status line should say after Confirm: that a damaged selection file
    /// was kept aside, and where; empty when nothing needs saying. GUI thread.
    const std::u16string& DamageNotice() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPushButton* AddButton(int id, const char16_t* text, const QRect& place);
    void FillList();
    void FitAddressColumn();
    int ContentsWidth(int column) const;
    void ShowChecks();
    void TakeCheck(int row, int column);
    QRect DialogRect(int left, int top, int width, int height) const;

    CTargetSiteSelectModel model_;
    QTableWidget* siteList_ = nullptr;
};

} // namespace velunor
