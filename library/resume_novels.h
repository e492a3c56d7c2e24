#pragma once
// Work a download left undone when it was cut short (the program closed, the process killed):
// its novel's index still holds chapters that were never fetched. At start the window offers to
// go on with those novels; until then their contents pages say how things stand instead of that
// chapters are on their way.

#include "port/window_port.h"

#include <string>
#include <vector>

namespace velunor {

/// What the status line offers for `novels` novels with chapters never fetched.
std::u16string ResumeOffer(size_t novels);

/// Returns the novels of `folders` that no job holds, the novels whose download was cut short,
/// having written their contents pages again from their indexes. Blocks on the disk.
std::vector<std::u16string> SettleInterruptedNovels(const std::u16string& programFolder,
                                                    const std::vector<std::u16string>& folders);

/// Fetches the unfinished chapters of the novels of `folders` one novel after another
/// (RetryNovel), each job reporting through `window`, and says at the end how many novels it
/// finished. Blocks on the network.
void ResumeNovels(WindowPort& window, const std::u16string& programFolder,
                  const std::vector<std::u16string>& folders);

/// Runs ResumeNovels on a thread of its own and returns at once; `window` must outlive it.
void StartResumeNovels(WindowPort& window, const std::u16string& programFolder,
                       std::vector<std::u16string> folders);

} // namespace velunor
