#pragma once
// The library's change mark: a small file in the library's Novel/ folder that every write of a
// file the shelf counts from (a novel's index with its summary, its Reading.xml) changes after
// the write, and every delete of a novel folder changes before the folder is moved to the
// trash and after it is gone. A listing that finds the mark as it was when it kept its counts
// knows that no novel folder was written or deleted since: it takes the kept counts without
// asking the file system about each folder, and looks for no trash. The mark holds a random
// start and a count, so a mark deleted and made anew never reads as an older one.

#include <string>

namespace velunor::internal {

/// The mark's file name in the library's Novel/ folder.
inline constexpr std::u16string_view kLibraryChangesName = u".library-changes";

/// Changes the mark of the library that holds novel folder `folder` (Novel/site/novel, no "/"
/// at the end), after a file the shelf counts from was written there; nothing for a folder
/// that is not two levels below a Novel/ folder. A mark that cannot be written costs nothing:
/// listings then ask each folder. Blocks on the disk; any thread or process.
void NoteNovelFolderWritten(const std::u16string& folder);

/// The mark of the library whose Novel/ folder is `novelRoot` (ending in "/"); empty when there
/// is none yet or it cannot be read. Blocks on the disk.
std::string ReadLibraryChanges(const std::u16string& novelRoot);

} // namespace velunor::internal
