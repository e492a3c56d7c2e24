#pragma once
// The update check at start-up: the separate updater "tolvane" in the program folder is run with
// "-checkforupdates", its exit code is the number of available updates, and on the user's
// consent it is started again without parameters to install them. A build without an updater
// skips the check.

#include "port/window_port.h"

#include <chrono>
#include <string>

namespace velunor {

/// How long the updater may take to answer before it counts as having found nothing.
inline constexpr std::chrono::milliseconds kUpdaterAnswerTime{120000};

/// The update check. Asks through `window` when the updater reports updates; true when the
/// updater was started again to install them. `answerTime` is shortened only by tests. Blocks
/// for as long as the updater takes, at most `answerTime`.
bool RunUpdateCheck(WindowPort& window, const std::u16string& programFolder,
                    std::chrono::milliseconds answerTime = kUpdaterAnswerTime);

} // namespace velunor
