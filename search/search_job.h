#pragma once
// The search job: the search button's start and stop command, the search thread that runs one
// search from start to end, and the task that searches one site.
//
// A search clears the result list, resets Config/SearchResult.xml, and queues one task per
// selected rule on a pool of 20 workers. Each hit becomes a list row and a SearchResult element
// under one lock, so rows and elements appear in the same order. Stopping a search sets the
// button back at once, lets the running sites go on for three more seconds without holding up
// the window, and then cancels every transfer the search still has in flight.

#include "port/window_port.h"
#include "results/search_result_file.h"
#include "site/site.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// The search button's captions: idle, and while a search runs.
inline constexpr std::u16string_view kSearchIdleCaption = u"搜索";
inline constexpr std::u16string_view kSearchRunningCaption = u"停止搜索";

/// The final status of a search whose result file cannot be written: the hits could not be
/// opened, so such a search asks no site, or says at its end that its hits were not kept.
inline constexpr std::u16string_view kNoResultFileStatus =
    u"无法写入搜索结果文件 Config/SearchResult.xml，请检查 Config 文件夹是否可写，搜索中止！";

/// The status line of a search command given while no target site is selected.
inline constexpr std::u16string_view kNoSiteSelectedStatus =
    u"尚未选择目标站，请点击“目标站设置”选择要搜索的网站。";

/// A site the search could not ask, and why.
struct SiteFailure {
    /// The rule file's place in the list of rule files, which orders the sites a report names.
    size_t Index = 0;
    std::u16string SiteName;
    SiteError Error;
};

/// What a search found, once it has ended.
struct SearchOutcome {
    /// Every hit, in the order of the result list.
    std::vector<SearchHit> Hits;
    /// Hits found after the result file had reached kSearchResultFileLimit: not listed.
    size_t Unlisted = 0;
    /// The sites that could not be reached or refused the search, in the order of their rule
    /// files; a stopped search's cancelled transfers are not counted.
    std::vector<SiteFailure> Failures;
    /// The search was stopped before its sites had answered.
    bool Cancelled = false;
    /// Config/SearchResult.xml could not be written: the hits were not kept.
    bool ResultFileFailed = false;
};

namespace internal {
struct SearchShared;
}

/// The searches of one window: the search button's start and stop command and the searches it
/// runs. One search runs at a time; a stopped search that is still finishing its sites is
/// overtaken by a new one, and neither its rows nor its status line reach the window after
/// that. Each search runs on a detached thread of its own and shares its state with this
/// object, so that the object may go while a search still ends; `window` must outlive every
/// search. Members are called from the window's thread unless said otherwise.
class SearchController {
  public:
    /// The searches reporting to `window`, with the rule files, selection and result file of
    /// `programFolder` (ending in "/"). A stop command within `shortestRun` of the start is
    /// refused, as the search button refuses a double click.
    SearchController(WindowPort& window, std::u16string programFolder,
                     std::chrono::milliseconds shortestRun = std::chrono::seconds(3));
    ~SearchController();
    SearchController(const SearchController&) = delete;
    SearchController& operator=(const SearchController&) = delete;

    /// The search command (the search button, Enter in the search box, a recommendation link).
    /// Starts a search when none runs, stops the running one otherwise. With no target site
    /// selected, no search starts and the status line says so. Returns at once.
    void RunCommand();

    /// Stops the running search however soon after its start: the button reads "搜索" at once,
    /// the sites go on for three more seconds, and then every transfer still in flight ends.
    /// Nothing when no search runs. Any thread.
    void Stop();

    /// True while a search runs and has not been stopped (the button reads "停止搜索"). Any
    /// thread.
    bool IsRunning() const;

    /// True when no search thread is alive: every search has reported its end and will not
    /// touch the window again. Any thread.
    bool IsIdle() const;

    /// How many searches still run, a stopped one that is finishing its sites included. Any
    /// thread.
    int LiveSearches() const;

    /// What the last search that ended found; empty before one has ended. Any thread.
    SearchOutcome LastOutcome() const;

  private:
    std::shared_ptr<internal::SearchShared> shared_;
};

} // namespace velunor
