#pragma once
// Small pieces every velunor-cli command shares: printing wide text, reading files and numbers
// named on the command line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velunor::cli {

/// Writes wide text to standard output as UTF-8, followed by a line break. Control characters
/// other than tab and line feed are written as "\xNN" (a CR before an LF is left out), so that
/// text from a site cannot steer the terminal. Every line velunor-cli prints goes through here
/// or PrintError.
void PrintLine(std::u16string_view text);

/// Writes an error line to standard error as UTF-8, control characters shown as PrintLine
/// shows them.
void PrintError(std::u16string_view text);

/// The argument as wide text (command lines are UTF-8).
std::u16string Wide(std::string_view argument);

/// Notes the current directory as the folder velunor-cli was started in; call before anything
/// changes the current directory.
void RememberStartFolder();

/// `path` made absolute against the folder velunor-cli was started in.
std::u16string ResolveArgumentPath(std::string_view path);

/// Reads the whole regular file at `path`, of at most `maxBytes` bytes (a limit from core.h
/// for its kind); false, having printed why naming the file as `what` ("rule file"), when it
/// is not a regular file, is too large or cannot be read.
bool ReadArgumentFile(const std::u16string& path, uint64_t maxBytes, std::u16string_view what,
                      std::string& bytes);

/// From now on the first Ctrl-C (SIGINT) only asks the running job to stop (TakeInterrupt sees
/// it), as the stop button would; a second one ends the program at once, as a terminal user
/// expects.
void CatchInterrupt();

/// True when Ctrl-C was pressed since CatchInterrupt or the last call that returned true.
bool TakeInterrupt();

/// The number from 1 that `text` gives, as an index from 0 below `count`: decimal digits only,
/// no sign or space. -1 when `text` is no such number.
int ParseItemIndex(std::string_view text, size_t count);

} // namespace velunor::cli
