#pragma once
// Small pieces every velunor-cli command shares: printing wide text, reading files named on
// the command line.

#include <string>
#include <string_view>
#include <vector>

namespace velunor::cli {

/// Writes wide text to standard output as UTF-8, followed by a line break.
void PrintLine(std::u16string_view text);

/// Writes an error line to standard error as UTF-8.
void PrintError(std::u16string_view text);

/// The argument as wide text (command lines are UTF-8).
std::u16string Wide(std::string_view argument);

/// Notes the current directory as the folder velunor-cli was started in; call before anything
/// changes the current directory.
void RememberStartFolder();

/// `path` made absolute against the folder velunor-cli was started in.
std::u16string ResolveArgumentPath(std::string_view path);

/// Reads the whole file; false when it cannot be opened or read.
bool ReadFileBytes(const std::u16string& path, std::string& bytes);

} // namespace velunor::cli
