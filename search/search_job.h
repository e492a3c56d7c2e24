#pragma once
// The search job: the search button's start and stop command, the search thread that runs one
// search from start to end, and the task that searches one site.
//
// A search clears the result list, resets Config/SearchResult.xml, and queues one task per
// selected rule on a pool of 20 workers. Each hit becomes a list row and a SearchResult element
// under one process-wide lock, so rows and elements appear in the same order and the file holds
// every hit found so far.

#include "port/window_port.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace velunor {

/// Process-wide state of the running search, shared by the window's thread, the search thread
/// and the tasks.
struct SearchState {
    /// Set by the stop command; cleared when a search starts.
    std::atomic<bool> SearchCancelled{false};
    /// Hits of the running search; counted under SearchResultLock.
    std::atomic<int32_t> SearchHitCount{0};
    /// Milliseconds on the steady clock when the running search was started.
    std::atomic<uint64_t> SearchStartTick{0};
    /// Which search is the current one. A search that was stopped and then overtaken by a new
    /// one must neither add its late hits to the new list and file nor reset the new search's
    /// button and status line.
    std::atomic<uint64_t> SearchGeneration{0};
    /// Serialises every list row and every append to the result file. One lock for the process,
    /// so a stopped search still finishing its sites and a new one never write the file at once.
    std::mutex SearchResultLock;
};

/// The state shared by every search of the process.
SearchState& ProcessSearchState();

/// The search command (the search button, Enter in the search box, a recommendation link).
/// Starts a search when none runs, stops the running one otherwise. Runs on the window's thread;
/// stopping blocks it for 3 seconds. `programFolder` ends in "/" and holds Config/.
void RunSearchCommand(WindowPort& window, const std::u16string& programFolder);

/// Runs one search to its end: queues the selected sites, waits for them, reports the total.
/// `window` must outlive it. Started on a thread of its own by RunSearchCommand.
void SearchThread(WindowPort* window, std::u16string programFolder, uint64_t generation);

/// What one site search task needs; owned and freed by SiteSearchTask.
struct SiteSearchArgs {
    WindowPort* window;
    std::u16string ruleFile;
    std::u16string programFolder;
    uint64_t generation;
};

/// Pool routine: searches the site of one rule file and adds its hits. Takes a SiteSearchArgs.
void SiteSearchTask(void* argument);

/// Milliseconds on the steady clock, the tick count the search state uses.
uint64_t CurrentTick();

} // namespace velunor
