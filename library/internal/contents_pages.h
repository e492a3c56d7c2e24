#pragma once
// Reading a novel's chapter list from its contents pages: one page, or a list split over pages
// that link each to the next.

#include "library/internal/site_fetch.h"
#include "rules/rules.h"

#include <functional>
#include <set>
#include <string>

namespace velunor::internal {

/// The most contents pages one novel is read from.
inline constexpr int kMaxContentsPages = 1000;

/// How reading the contents pages ended.
enum class ContentsEnd {
    /// The last page links to no page not yet read, or kMaxContentsPages were read.
    Complete,
    /// A next page could not be fetched; the chapters of the pages before it are kept.
    CutShort,
    /// The site refused a next page.
    Blocked,
    /// More than kMaxListEntries chapters, on one page or on all of them together.
    TooManyChapters,
};

/// The chapter list of a novel.
struct NovelContents {
    /// Every chapter once, its address absolute: completed against the page it was listed on.
    ChapterList Chapters;
    /// How many contents pages were read.
    int PagesRead = 0;
    ContentsEnd End = ContentsEnd::Complete;
};

/// Reads the chapters of `first`, the first contents page as fetched, then of every next page:
/// the first match of the rule's ContentsNextPageUrl on a page, completed against its address,
/// unless it is empty or in `fetched` (every address this job asked for or was redirected to;
/// the pages read here are added), and at most kMaxContentsPages pages in all. A chapter listed
/// again later (sites repeat a block of the latest chapters on every page) keeps only its last
/// place. `beforePage` (may be empty) is called with n before page n (from 2) is fetched. Blocks
/// on the network.
NovelContents ReadContentsPages(const SiteAccess& site, const SitePage& first,
                                std::set<std::u16string>& fetched,
                                const std::function<void(int)>& beforePage);

} // namespace velunor::internal
