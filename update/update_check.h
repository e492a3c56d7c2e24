#pragma once
// The update check at start-up: the separate updater "tolvane" in the program folder is run with
// "-checkforupdates", its exit code is the number of available updates, and on the user's
// consent it is started again without parameters to install them. A build without an updater
// skips the check.

#include "port/window_port.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace velunor {

/// How long the updater may take to answer before it counts as having found nothing.
inline constexpr std::chrono::milliseconds kUpdaterAnswerTime{120000};

/// Runs `program` with `arguments` and waits at most `timeout` for it. Its exit code; empty
/// when it could not be started, had not ended in time (it is left running), or was killed by
/// a signal. Blocks.
std::optional<int> RunAndWait(const std::u16string& program,
                              const std::vector<std::string>& arguments,
                              std::chrono::milliseconds timeout);

/// Starts `program` with `arguments` without waiting for it; false when it cannot be started.
bool StartProgram(const std::u16string& program, const std::vector<std::string>& arguments);

/// The update check. Asks through `window` when the updater reports updates; true when the
/// updater was started again to install them. `answerTime` is shortened only by tests. Blocks
/// for as long as the updater takes, at most `answerTime`.
bool RunUpdateCheck(WindowPort& window, const std::u16string& programFolder,
                    std::chrono::milliseconds answerTime = kUpdaterAnswerTime);

} // namespace velunor
