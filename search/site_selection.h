#pragma once
// The selection of target sites, stored in Config/TargetSiteSelect.xml as the text of its
// "Selected" element: 0-based positions in the rule-file list, each followed by a comma, in
// ascending order ("0,2,5,"). Adding or removing rule files shifts what stored positions mean.

#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// Config/TargetSiteSelect.xml below `programFolder` (ending in "/").
std::u16string SiteSelectionFilePath(const std::u16string& programFolder);

/// True when the decimal text of `index` is one whole comma-separated entry of `selection`.
bool IsSiteSelected(std::u16string_view selection, int index);

/// The selection text for the checked positions, ascending, each followed by a comma.
std::u16string FormatSiteSelection(const std::vector<bool>& checked);

/// The "Selected" text of the selection file at `path`; empty when the file or the element is
/// missing. Blocks on the disk.
std::u16string ReadSiteSelection(std::u16string_view path);

/// Stores `selection` as the "Selected" text of the file at `path`, creating the file, its root
/// and the element when they are missing, under a lock on `path` + ".lock" that a second process
/// waits for. False when the file cannot be written.
bool WriteSiteSelection(std::u16string_view path, std::u16string_view selection);

} // namespace velunor
