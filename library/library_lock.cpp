// The lock that marks a library in use.

#include "library/library_lock.h"

#include "core/core.h"
#include "core/folder_layout.h"

#include <memory>
#include <mutex>

namespace velunor {

std::u16string LibraryLockPath(const std::u16string& programFolder) {
    return FolderLayoutFor(programFolder).ShelfFolder + u"Library.lock";
}

bool TakeLibraryLock(const std::u16string& programFolder) {
    static std::mutex mutex;
    // Kept until the process ends or moves to another library: closing it lets a second
    // process in.
    static std::unique_ptr<CFileLock> held;
    static std::u16string heldPath;
    std::lock_guard lock(mutex);
    std::u16string path = LibraryLockPath(programFolder);
    if (held != nullptr && heldPath == path) {
        return true;
    }
    CreateFolderPath(FolderLayoutFor(programFolder).ShelfFolder);
    auto taken = std::make_unique<CFileLock>(path, false);
    if (taken->Busy()) {
        return false;
    }
    held = std::move(taken);
    heldPath = path;
    return true;
}

} // namespace velunor
