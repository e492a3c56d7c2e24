#pragma once
// What the target-site dialog shows and does, without the dialog: one row per rule file with
// its number, site name, address and check state, select all, invert and confirm.

#include <string>
#include <vector>

namespace velunor {

class CTargetSiteSelectModel {
  public:
    struct Row {
        std::u16string number;
        std::u16string siteName;
        std::u16string siteUrl;
        bool checked = false;
    };

    /// A model of the rule files and the selection file of `programFolder` (ending in "/").
    explicit CTargetSiteSelectModel(std::u16string programFolder);

    /// Rebuilds the rows from the rule files and the stored selection of the program folder.
    /// A rule file that cannot be read still gets its row, with empty name and address.
    void Load();

    const std::vector<Row>& Rows() const {
        return rows_;
    }
    /// Sets the check state of `row`; ignored when there is no such row.
    void SetChecked(size_t row, bool checked);
    void SelectAll();
    void Invert();
    /// Stores the checked rows as the selection; false when the file cannot be written. A
    /// damaged selection file is kept aside first, and DamageNotice says where.
    bool Confirm();
    /// The status line that tells the reader the last Confirm kept a damaged selection file
    /// aside, naming it; empty when it did not.
    const std::u16string& DamageNotice() const {
        return damageNotice_;
    }

  private:
    std::u16string programFolder_;
    std::u16string selectionPath_;
    /// The rule files the rows show, in order.
    std::vector<std::u16string> ruleFiles_;
    std::vector<Row> rows_;
    std::u16string damageNotice_;
};

} // namespace velunor
