// Reading the chapter list of a novel from its contents pages.

#include "library/internal/contents_pages.h"

#include "core/core.h"

#include <algorithm>
#include <unordered_set>

namespace velunor::internal {
namespace {

void Reverse(ChapterList& list) {
    std::reverse(list.ChapterName.begin(), list.ChapterName.end());
    std::reverse(list.ChapterUrl.begin(), list.ChapterUrl.end());
}

// Drops every chapter whose address comes again later in the list, so that a block of the
// latest chapters repeated on every page leaves them where the list itself has them, at its
// end, whether the block stands above or below a page's own chapters. A chapter without an
// address is never taken for another.
void DropEarlierRepeats(ChapterList& list) {
    std::unordered_set<std::u16string> seen;
    ChapterList kept;
    for (size_t i = list.ChapterUrl.size(); i-- > 0;) {
        std::u16string& url = list.ChapterUrl[i];
        if (!url.empty() && !seen.insert(url).second) {
            continue;
        }
        kept.ChapterName.push_back(std::move(list.ChapterName[i]));
        kept.ChapterUrl.push_back(std::move(url));
    }
    Reverse(kept);
    kept.count = static_cast<int32_t>(kept.ChapterUrl.size());
    list = std::move(kept);
}

// Appends the chapters of one contents page, their addresses completed against it; false when
// the page, or the list with it, holds more chapters than a novel can have.
bool AppendChapters(const CSiteRule& rule, const SitePage& page, ChapterList& list) {
    ChapterList found;
    ExtractionProblem problem = ExtractionProblem::None;
    ExtractChapterList(rule.ContentsPage, page.Text, found, &problem);
    if (problem == ExtractionProblem::TooManyEntries) {
        return false;
    }
    for (int32_t i = 0; i < found.count; ++i) {
        std::u16string& url = found.ChapterUrl[static_cast<size_t>(i)];
        CompleteUrl(page.Url, url);
        list.ChapterName.push_back(std::move(found.ChapterName[static_cast<size_t>(i)]));
        list.ChapterUrl.push_back(std::move(url));
    }
    DropEarlierRepeats(list);
    return list.count <= kMaxListEntries;
}

// The next contents page `page` links to; empty when it links to none not yet fetched.
std::u16string NextContentsPage(const CSiteRule& rule, const SitePage& page,
                                const std::set<std::u16string>& fetched) {
    std::u16string next = ExtractField(rule.ContentsPage.ContentsNextPageUrl, page.Text);
    CompleteUrl(page.Url, next);
    if (fetched.count(next) != 0) {
        next.clear();
    }
    return next;
}

} // namespace

NovelContents ReadContentsPages(const SiteAccess& site, const SitePage& first,
                                std::set<std::u16string>& fetched,
                                const std::function<void(int)>& beforePage) {
    NovelContents contents;
    SitePage page = first;
    for (;;) {
        ++contents.PagesRead;
        fetched.insert(page.Url);
        if (!AppendChapters(site.Rule, page, contents.Chapters)) {
            contents.End = ContentsEnd::TooManyChapters;
            return contents;
        }
        std::u16string next = NextContentsPage(site.Rule, page, fetched);
        if (next.empty() || contents.PagesRead == kMaxContentsPages) {
            return contents;
        }
        if (beforePage) {
            beforePage(contents.PagesRead + 1);
        }
        fetched.insert(next);
        SitePage fetchedPage = FetchSitePage(site, next, page.Url);
        if (!fetchedPage.Ok()) {
            contents.End = fetchedPage.Blocked ? ContentsEnd::Blocked : ContentsEnd::CutShort;
            return contents;
        }
        page = std::move(fetchedPage);
    }
}

} // namespace velunor::internal
