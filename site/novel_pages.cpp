// Reading a novel from its site: the information page, then the chapter list from one contents
// page or a list split over pages that link each to the next.

#include "core/core.h"
#include "finder/finder.h"
#include "site/site.h"

#include <unordered_set>

namespace velunor {
namespace {

// Sites repeat a block of the latest chapters on every contents page, so the list as read may
// be longer than the novel; past this many entries in all it comes from a pattern gone wrong.
constexpr size_t kMostListedEntries = 4 * static_cast<size_t>(kMaxListEntries);

// The chapters read so far, as listed (repeats included), and how many different chapters
// they are: the repeats are dropped once, at the end, as each page's would cost the whole list
// again.
struct ListedChapters {
    ChapterList list;
    std::unordered_set<std::u16string> addresses;
    size_t withoutAddress = 0;

    size_t Distinct() const {
        return addresses.size() + withoutAddress;
    }
};

// What one contents page lists, its addresses as the page gives them, and the next page.
struct ListPage {
    ChapterList found;
    std::u16string next;
    bool tooMany = false;
    // The finder's reason when it found no list.
    std::u16string refusal;
};

// Reads contents page `number` (from 1) of a novel.
ListPage ReadListPage(const Site& site, const SitePage& page, int number) {
    ListPage read;
    if (site.UsesFinder()) {
        // The fewest chapters a list must hold are held by its first page; a last page of a
        // list split over pages may hold one.
        finder::FoundChapterList list =
            finder::FindChapterList(page.Text, page.Url, number == 1 ? finder::kMinChapters : 1);
        read.found = std::move(list.Chapters);
        read.next = std::move(list.NextPageUrl);
        read.refusal = std::move(list.Refusal);
        return read;
    }
    const ContentsPageRule& rule = site.Rule().ContentsPage;
    ExtractionProblem problem = ExtractionProblem::None;
    ExtractChapterList(rule, page.Text, read.found, &problem);
    read.tooMany = problem == ExtractionProblem::TooManyEntries;
    read.next = ExtractField(rule.ContentsNextPageUrl, page.Text);
    return read;
}

// Appends the chapters of one contents page, their addresses completed against it; false when
// the page, or the list with it, holds more chapters than a novel can have.
bool AppendChapters(const SitePage& page, ListPage& read, ListedChapters& listed) {
    if (read.tooMany) {
        return false;
    }
    ChapterList& found = read.found;
    ChapterList& list = listed.list;
    for (VolumeHeading& heading : found.Volumes) {
        heading.Before += list.ChapterUrl.size();
        list.Volumes.push_back(std::move(heading));
    }
    for (int32_t i = 0; i < found.count; ++i) {
        std::u16string& url = found.ChapterUrl[static_cast<size_t>(i)];
        CompleteUrl(page.Url, url);
        if (url.empty()) {
            ++listed.withoutAddress;
        } else {
            listed.addresses.insert(url);
        }
        list.ChapterName.push_back(std::move(found.ChapterName[static_cast<size_t>(i)]));
        list.ChapterUrl.push_back(std::move(url));
    }
    // Headings count with the entries: a page of nothing but headings is no novel either.
    return listed.Distinct() <= static_cast<size_t>(kMaxListEntries) &&
           list.ChapterUrl.size() + list.Volumes.size() <= kMostListedEntries;
}

// The next contents page `read` names on `page`, completed; empty when it links to none not yet
// fetched.
std::u16string NextContentsPage(const SitePage& page, ListPage& read,
                                const VisitedAddresses& visited) {
    std::u16string next = std::move(read.next);
    CompleteUrl(page.Url, next);
    if (visited.count(next) != 0) {
        next.clear();
    }
    return next;
}

bool IsBlank(std::u16string_view text) {
    return text.find_first_not_of(u" \t\r\n") == std::u16string_view::npos;
}

// The headings of `list` placed among the chapters that are kept (keptBefore[i]: how many of
// the chapters before i are kept). A heading whose chapters were all repeated further down is
// dropped: it headed a block of repeats, not a volume. A heading of the same name as the one
// before it is the same volume, repeated by a later contents page.
VolumeHeadings KeptHeadings(const ChapterList& list, const std::vector<size_t>& keptBefore) {
    VolumeHeadings kept;
    size_t count = list.ChapterUrl.size();
    for (size_t k = 0; k < list.Volumes.size(); ++k) {
        const VolumeHeading& heading = list.Volumes[k];
        size_t begin = keptBefore[heading.Before];
        size_t end = keptBefore[VolumeEnd(list.Volumes, k, count)];
        bool hadChapters = VolumeEnd(list.Volumes, k, count) > heading.Before;
        if ((hadChapters && begin == end) || (!kept.empty() && kept.back().Name == heading.Name)) {
            continue;
        }
        kept.push_back({begin, heading.Name});
    }
    return kept;
}

} // namespace

void DropEarlierRepeats(ChapterList& list) {
    size_t count = list.ChapterUrl.size();
    std::unordered_set<std::u16string> seen;
    std::vector<bool> keep(count, true);
    for (size_t i = count; i-- > 0;) {
        const std::u16string& url = list.ChapterUrl[i];
        keep[i] = url.empty() || seen.insert(url).second;
    }
    std::vector<size_t> keptBefore(count + 1, 0);
    ChapterList kept;
    for (size_t i = 0; i < count; ++i) {
        keptBefore[i + 1] = keptBefore[i] + (keep[i] ? 1 : 0);
        if (keep[i]) {
            kept.ChapterName.push_back(std::move(list.ChapterName[i]));
            kept.ChapterUrl.push_back(std::move(list.ChapterUrl[i]));
        }
    }
    kept.Volumes = KeptHeadings(list, keptBefore);
    kept.count = static_cast<int32_t>(kept.ChapterUrl.size());
    list = std::move(kept);
}

bool ContentsOnInfoPage(const CSiteRule& rule) {
    return IsBlank(rule.InfoPage.ContentsUrl);
}

NovelInfoPage ReadInfoPage(const Site& site, const std::u16string& url, VisitedAddresses& visited) {
    NovelInfoPage info;
    visited.insert(url);
    info.Page = site.FetchPage(RulePage::Info, url, u"");
    if (!info.Page.Ok()) {
        return info;
    }
    visited.insert(info.Page.Url);
    if (site.UsesFinder()) {
        finder::FoundNovelInfo found = finder::FindNovelInfo(info.Page.Text, info.Page.Url);
        info.Info.NovelName = std::move(found.Name);
        info.Info.NovelAuthor = std::move(found.Author);
        info.Info.ContentsUrl = std::move(found.ContentsUrl);
        return info;
    }
    ExtractNovelInfo(site.Rule().InfoPage, info.Page.Text, info.Info, &info.Problem);
    if (ContentsOnInfoPage(site.Rule())) {
        info.Info.ContentsUrl.clear();
    } else {
        CompleteUrl(info.Page.Url, info.Info.ContentsUrl);
    }
    return info;
}

SitePage FirstContentsPage(const Site& site, const NovelInfoPage& info, VisitedAddresses& visited) {
    bool onInfoPage =
        site.UsesFinder() ? info.Info.ContentsUrl.empty() : ContentsOnInfoPage(site.Rule());
    if (onInfoPage) {
        return info.Page;
    }
    const std::u16string& url = info.Info.ContentsUrl;
    if (url.empty()) {
        SitePage none;
        none.Url = info.Page.Url;
        none.Error = MakeSiteError(SiteErrorKind::NoMatch, info.Page.Url);
        return none;
    }
    visited.insert(url);
    return site.FetchPage(RulePage::Contents, url, info.Page.Url);
}

NovelContents ReadContentsPages(const Site& site, const SitePage& first, VisitedAddresses& visited,
                                const std::function<void(int)>& beforePage) {
    NovelContents contents;
    ListedChapters listed;
    SitePage page = first;
    for (;;) {
        ++contents.PagesRead;
        visited.insert(page.Url);
        ListPage read = ReadListPage(site, page, contents.PagesRead);
        if (contents.PagesRead == 1) {
            contents.Refusal = std::move(read.refusal);
        }
        if (!AppendChapters(page, read, listed)) {
            contents.End = ContentsEnd::TooManyChapters;
            return contents;
        }
        std::u16string next = NextContentsPage(page, read, visited);
        if (next.empty() || contents.PagesRead == kMaxContentsPages) {
            break;
        }
        if (beforePage) {
            beforePage(contents.PagesRead + 1);
        }
        visited.insert(next);
        SitePage fetched = site.FetchPage(RulePage::Contents, next, page.Url);
        if (!fetched.Ok()) {
            contents.End = fetched.Error.Kind == SiteErrorKind::Refused ? ContentsEnd::Blocked
                                                                        : ContentsEnd::CutShort;
            contents.Error = fetched.Error;
            break;
        }
        page = std::move(fetched);
    }
    DropEarlierRepeats(listed.list);
    contents.Chapters = std::move(listed.list);
    return contents;
}

} // namespace velunor
