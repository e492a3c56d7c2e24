#pragma once
// Reading the small files the bookshelf keeps per novel (its summary, the reading position) at
// the least cost: listing a shelf of a thousand novels reads a thousand of each, and on a busy
// machine every system call counts.

#include <string>

namespace velunor::internal {

/// The most bytes a small file may hold.
inline constexpr size_t kSmallFileLimit = 4096;

/// Reads the whole file at `path` into `bytes` with one open, one read and one close. False,
/// with `bytes` empty, when it is missing, cannot be read (a folder, a FIFO without a writer) or
/// holds more than kSmallFileLimit bytes. Blocks on the disk; any thread.
bool ReadSmallFile(const std::u16string& path, std::string& bytes);

} // namespace velunor::internal
