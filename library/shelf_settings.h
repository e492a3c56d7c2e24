#pragma once
// The bookshelf's two switches, kept in ShelfSettings.xml in the settings folder: whether the
// window checks every novel for new chapters when it starts, and whether novels with new
// chapters are listed first. A missing or damaged file reads as the defaults.

#include <string>

namespace velunor {

struct ShelfSettings {
    /// The window runs an update of the whole shelf in the background after it starts.
    bool CheckUpdatesAtStart = false;
    /// Novels with chapters new since the last update come first on the shelf; the order in
    /// BookShelf.xml is kept either way.
    bool NewChaptersFirst = true;

    bool operator==(const ShelfSettings&) const = default;
};

/// ShelfSettings.xml in the settings folder of the layout of `programFolder` (ending in "/").
std::u16string ShelfSettingsPath(const std::u16string& programFolder);

/// The settings the file holds; the defaults when it is missing or not well-formed, and for a
/// field that is missing or neither "0" nor "1". Blocks on the disk.
ShelfSettings LoadShelfSettings(const std::u16string& programFolder);

/// Writes `settings`, creating the settings folder when it is missing; the old file is replaced
/// only once the new one is written whole. False when it could not be written. Blocks on the
/// disk.
bool SaveShelfSettings(const std::u16string& programFolder, const ShelfSettings& settings);

} // namespace velunor
