#pragma once
// The library folder the user chose ("书库位置…" in the window), kept in LibraryLocation.xml in
// the settings folder, and the start-up step that decides the process's folder layout with it.
// The window and velunor-cli both start through SetUpFolderLayout, so both find the same library.

#include "core/folder_layout.h"

#include <string>

namespace velunor {

/// LibraryLocation.xml in `configFolder` (ending in "/").
std::u16string LibraryLocationPath(const std::u16string& configFolder);

/// The chosen library folder kept in `configFolder`, ending in "/"; empty when none was chosen
/// or the file names no absolute folder. Blocks on the disk.
std::u16string ReadLibraryLocation(const std::u16string& configFolder);

/// Keeps `folder` (absolute) as the chosen library folder; an empty `folder` returns to the
/// layout's own library folder. Creates `configFolder` when missing. False when the file cannot
/// be written or `folder` is neither empty nor absolute. Blocks on the disk.
bool SaveLibraryLocation(const std::u16string& configFolder, const std::u16string& folder);

/// Makes `folder` (absolute) the library folder of the process's layout for `programFolder`:
/// creates it when missing, keeps the choice in the layout's settings folder and installs the
/// layout anew, so that Novel/ and the bookshelf are read from there on (what the former
/// library folder holds stays where it is). False with `problem` set when the folder cannot be
/// made or written or the choice cannot be kept; nothing changes then. Blocks on the disk.
bool ChooseLibraryFolder(const std::u16string& programFolder, const std::u16string& folder,
                         std::u16string& problem);

/// Decides the layout of the copy in `programFolder` for `environment` and the library folder
/// chosen in its settings, installs it for the process (InstallFolderLayout) and returns it.
/// Creates nothing. Call at start, before any job runs, and again after the choice changed.
FolderLayout SetUpFolderLayout(const std::u16string& programFolder,
                               const LayoutEnvironment& environment);

} // namespace velunor
