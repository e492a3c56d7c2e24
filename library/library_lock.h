#pragma once
// The lock that marks a library in use by one Velunor process, window or velunor-cli, so that a
// second process on the same library asks before it writes there too: two writers would fetch
// the same chapters and each rewrite the other's pages.

#include <string>
#include <string_view>

namespace velunor {

/// The question the window asks when another process holds the library.
inline constexpr std::u16string_view kLibraryInUseQuestion =
    u"另一个 Velunor "
    u"正在使用此书库。两个程序同时写入同一书库，可能重复下载、互相覆盖章节。\n\n仍然打开？";

/// The library's lock file: Library.lock in the folder of its BookShelf.xml.
std::u16string LibraryLockPath(const std::u16string& programFolder);

/// Takes the lock of the library of `programFolder` for the rest of this process's life, or
/// until it takes the lock of another library (the library moved). False when another process
/// holds it, and then this process keeps what it held; true when this process holds it now, and
/// when no lock file can be made there (a read-only library, which nobody writes either). Any
/// thread; does not wait.
bool TakeLibraryLock(const std::u16string& programFolder);

} // namespace velunor
