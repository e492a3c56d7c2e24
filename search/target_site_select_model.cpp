#include "search/target_site_select_model.h"

#include "core/core.h"
#include "core/folder_layout.h"
#include "rules/rules.h"
#include "search/site_selection.h"

namespace velunor {

CTargetSiteSelectModel::CTargetSiteSelectModel(std::u16string programFolder)
    : programFolder_(std::move(programFolder)),
      selectionPath_(SiteSelectionFilePath(programFolder_)) {}

void CTargetSiteSelectModel::Load() {
    rows_.clear();
    ruleFiles_ = EnumerateRuleFiles(programFolder_);
    std::vector<bool> checked =
        SelectedRuleFiles(SiteSelectionReadPath(programFolder_), ruleFiles_);
    for (size_t i = 0; i < ruleFiles_.size(); ++i) {
        CSiteRule rule = LoadSiteRule(ruleFiles_[i]);
        rows_.push_back(Row{DecimalText(static_cast<long long>(i) + 1), rule.SiteName, rule.SiteUrl,
                            checked[i]});
    }
}

void CTargetSiteSelectModel::SetChecked(size_t row, bool checked) {
    if (row < rows_.size()) {
        rows_[row].checked = checked;
    }
}

void CTargetSiteSelectModel::SelectAll() {
    for (Row& row : rows_) {
        row.checked = true;
    }
}

void CTargetSiteSelectModel::Invert() {
    for (Row& row : rows_) {
        row.checked = !row.checked;
    }
}

bool CTargetSiteSelectModel::Confirm() {
    std::vector<bool> checked;
    for (const Row& row : rows_) {
        checked.push_back(row.checked);
    }
    std::u16string aside;
    damageNotice_.clear();
    if (!WriteSiteSelection(selectionPath_, ruleFiles_, checked, &aside)) {
        return false;
    }
    if (!aside.empty()) {
        damageNotice_ = u"目标站设置文件已损坏，原文件已保留为 " +
                        ShownPath(programFolder_, aside) + u"，已按本次选择重新保存。";
    }
    return true;
}

} // namespace velunor
