#pragma once
// Switching a novel's chapters to another site (换源): finding the selected sites that have a
// novel of the shelf (the same name, and the same author where both name one), and taking from
// one of them the chapters the novel's own site did not give, or every chapter from a given one
// on, matched by chapter name (MatchChapterNames). The novel keeps its folder, its index and its
// shelf entry, and its own site for updates; the index notes which site each chapter so taken
// came from. A chapter taken so is stored, so a retry never asks the other site for it again; if
// its page is lost it goes back to the novel's own site, the one the novel follows.

#include "library/novel_download_job.h"
#include "port/window_port.h"
#include "rules/rules.h"
#include "site/site.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace velunor {

/// A selected site asked for a novel of the shelf.
struct OtherSource {
    std::u16string SiteName;
    /// The rule file's full path.
    std::u16string RuleFile;
    /// The novel there: its information page, and its name and author as the site gives them.
    std::u16string InfoPageUrl;
    std::u16string NovelName;
    std::u16string NovelAuthor;
    /// The first contents page's address after redirects, and the chapters it lists.
    std::u16string ContentsUrl;
    ChapterList Chapters;
    /// Why the site could not be searched or the novel's contents could not be read there; Kind
    /// None when they could.
    SiteError Error;

    bool Ok() const {
        return !Error.Failed();
    }
    /// The name of the last chapter; empty when there is none.
    std::u16string LatestChapter() const;
};

/// What asking the selected sites for a novel gave.
struct SourceSearch {
    /// The sites that have the novel and those that failed, in the order of their rule files.
    std::vector<OtherSource> Sources;
    /// The selected sites other than the novel's own that were asked.
    int Asked = 0;
    /// Why nothing could be asked (the novel's index cannot be read, no other site is
    /// selected); empty when the sites were asked.
    std::u16string Refusal;
};

/// Called after each site has answered, with how many have and how many are asked, and the site
/// that just did. Calls come one at a time, from the threads that ask the sites.
using SourceSearchProgress =
    std::function<void(int answered, int asked, const std::u16string& siteName)>;

/// Searches every site selected for searching, except the novel's own, for the novel in
/// `novelFolder` (no "/" at the end), a few sites at a time. Reads the contents of the first
/// hit on each site whose name is the novel's (spaces, punctuation and width aside) and whose
/// author is the novel's where both are known. A site that has no such hit is not listed. A
/// `cancelled` search ends within 100 ms. Blocks on the network.
SourceSearch FindOtherSources(const std::u16string& programFolder,
                              const std::u16string& novelFolder,
                              const SourceSearchProgress& progress = {},
                              const CancelTest& cancelled = {});

/// What a switch did.
struct SourceSwitchOutcome {
    /// The novel could be opened; false when it is busy, off the shelf or unreadable.
    bool Ran = false;
    /// Chapters stored from the other site.
    int Taken = 0;
    /// Chapters to take that the other site does not list under their name.
    int NotFound = 0;
    /// Chapters it lists that could not be fetched or held no text, in the order they finished;
    /// they keep their page and state.
    std::vector<ChapterFailure> Failures;
};

/// Takes chapters of the novel in `novelFolder` from `source` (an Ok() site FindOtherSources
/// listed): every chapter from chapter `fromChapter` (1 for the first) on, or with 0 the failed,
/// empty and pending ones. Each is matched to the source's chapter of the same name, fetched
/// and stored in its own page, written as any chapter page; one that is not matched or not
/// stored keeps its page and state. Rewrites the contents page, records the source of every
/// chapter taken in the index, and ends with the status line "换源完成：从 <site> 取回 n 章，
/// m 章未找到". Blocks.
SourceSwitchOutcome SwitchSource(WindowPort& window, const std::u16string& programFolder,
                                 const std::u16string& novelFolder, const OtherSource& source,
                                 int fromChapter);

/// The last status line of a switch from `siteName` that did `outcome`.
std::u16string SourceSwitchMessage(const std::u16string& siteName,
                                   const SourceSwitchOutcome& outcome);

/// The shelf's "换源…" once a site is chosen: runs SwitchSource on a detached thread. Returns at
/// once; `window` must outlive it.
void StartSourceSwitch(WindowPort& window, const std::u16string& programFolder,
                       const std::u16string& novelFolder, const OtherSource& source,
                       int fromChapter);

} // namespace velunor
