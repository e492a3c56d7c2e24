#pragma once
// The search job: the search button's start and stop command, the search thread that runs one
// search from start to end, and the task that searches one site.
//
// A search clears the result list, resets Config/SearchResult.xml, and queues one task per
// selected rule on a pool of 20 workers. Each hit becomes a list row and a SearchResult element
// under one process-wide lock, so rows and elements appear in the same order. Stopping a search
// sets the button back at once, lets the running sites go on for three more seconds without
// holding up the window, and then cancels every transfer the search still has in flight.

#include "port/window_port.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velunor {

/// The search button's captions: idle, and while a search runs.
inline constexpr std::u16string_view kSearchIdleCaption = u"搜索";
inline constexpr std::u16string_view kSearchRunningCaption = u"停止搜索";

/// The final status of a search whose result file cannot be written: the hits could not be
/// opened, so such a search asks no site, or says at its end that its hits were not kept.
inline constexpr std::u16string_view kNoResultFileStatus =
    u"无法写入搜索结果文件 Config/SearchResult.xml，请检查 Config 文件夹是否可写，搜索中止！";

/// Process-wide state of the running search, shared by the window's thread, the search thread
/// and the tasks.
struct SearchState {
    /// Set three seconds after the stop command; cleared when a search starts.
    std::atomic<bool> SearchCancelled{false};
    /// Hits of the running search; counted under SearchResultLock.
    std::atomic<int32_t> SearchHitCount{0};
    /// Milliseconds on the steady clock when the running search was started.
    std::atomic<uint64_t> SearchStartTick{0};
    /// Which search is the current one. A search that was stopped and then overtaken by a new
    /// one must neither add its late hits to the new list and file nor reset the new search's
    /// button and status line, and its transfers end at once.
    std::atomic<uint64_t> SearchGeneration{0};
    /// True from the start command until the stop command or the end of the current search:
    /// what the search button's caption shows.
    std::atomic<bool> SearchRunning{false};
    /// Search threads that have not yet ended, the current one and any stopped one included.
    std::atomic<int> LiveSearchThreads{0};
    /// Serialises every list row and every append to the result file. One lock for the process,
    /// so a stopped search still finishing its sites and a new one never write at once.
    std::mutex SearchResultLock;
    /// Serialises starting a search with the delayed cancel of a stopped one, so that the
    /// cancel can never land on the search that followed it.
    std::mutex SearchCommandLock;
    /// The sites of the current search that could not be reached or refused it, by their place
    /// in the rule-file list; kept under SearchResultLock.
    std::vector<std::pair<size_t, std::u16string>> UnreachableSites;
};

/// The state shared by every search of the process.
SearchState& ProcessSearchState();

/// True while a search runs and has not been stopped (the button reads "停止搜索").
bool IsSearchRunning();

/// True when no search thread is alive: every search has reported its end and will not touch
/// the window again.
bool IsSearchIdle();

/// The status line of a search command given while no target site is selected.
inline constexpr std::u16string_view kNoSiteSelectedStatus =
    u"尚未选择目标站，请点击“目标站设置”选择要搜索的网站。";

/// The search command (the search button, Enter in the search box, a recommendation link).
/// Starts a search when none runs, stops the running one otherwise. With no target site
/// selected, no search starts and the status line says so. Runs on the window's thread
/// and returns at once; the search runs on a thread of its own, and `window` must outlive it.
/// `programFolder` ends in "/" and holds Config/ and Rule/.
void RunSearchCommand(WindowPort& window, const std::u16string& programFolder);

/// Milliseconds on the steady clock, the tick count the search state uses.
uint64_t CurrentTick();

} // namespace velunor
