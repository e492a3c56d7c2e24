#pragma once
// The selection of target sites, stored in Config/TargetSiteSelect.xml as the text of its
// "Selected" element: 0-based positions in the rule-file list, each followed by a comma, in
// ascending order ("0,2,5,"). Adding or removing rule files shifts what positions mean, so the
// file also names the ticked rule files, one "Rule" element each inside "SelectedRules"; where
// that element is present it decides, and a file added or removed leaves every other site's
// tick where it was. A file written before it was there is read by its positions.

#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// TargetSiteSelect.xml in the settings folder of the layout of `programFolder` (ending in "/";
/// portable: its Config/): where the selection is written.
std::u16string SiteSelectionFilePath(const std::u16string& programFolder);

/// Where the selection is read: SiteSelectionFilePath when that file exists, else the shipped
/// default selection, so that a new user starts with the shipped sites ticked and nothing is
/// copied until they change it. Blocks on the disk.
std::u16string SiteSelectionReadPath(const std::u16string& programFolder);

/// True when the decimal text of `index` is one whole comma-separated entry of `selection`.
bool IsSiteSelected(std::u16string_view selection, int index);

/// The selection text for the checked positions, ascending, each followed by a comma.
std::u16string FormatSiteSelection(const std::vector<bool>& checked);

/// The "Selected" text of the selection file at `path`; empty when the file or the element is
/// missing. Blocks on the disk.
std::u16string ReadSiteSelection(std::u16string_view path);

/// Which of `ruleFiles` (paths, as EnumerateRuleFiles lists them) the selection file at `path`
/// ticks: by file name when it names the ticked rule files, else by position. Blocks on the
/// disk.
std::vector<bool> SelectedRuleFiles(std::u16string_view path,
                                    const std::vector<std::u16string>& ruleFiles);

/// Stores the ticks `checked` of `ruleFiles` in the file at `path`: their positions as the
/// "Selected" text and their file names as "SelectedRules", creating the file, its root and the
/// elements when they are missing, under a lock on `path` + ".lock" that a second process waits
/// for. Other elements of the file are kept. A damaged file (not well-formed, or far too large)
/// is first moved aside (MoveDamagedFileAside) and a new one started; `keptAside` (optional)
/// receives where it went, empty when the file was sound or missing. False when the file cannot
/// be written; a damaged file is then back in its place.
bool WriteSiteSelection(std::u16string_view path, const std::vector<std::u16string>& ruleFiles,
                        const std::vector<bool>& checked, std::u16string* keptAside = nullptr);

} // namespace velunor
