// The chapter list of a contents page: the largest group of site links that read as chapter
// names, split at the headings between them.

#include "finder/finder.h"
#include "finder/internal/page_reading.h"

#include "core/core.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace velunor::finder {
namespace {

using internal::WeighedPage;

// Elements whose same-tag siblings continue one list (rows of a table, lists under headings).
bool IsListElement(const std::string& tag) {
    return tag == "ul" || tag == "ol" || tag == "dl" || tag == "tr" || tag == "tbody" ||
           tag == "table";
}

// The element that holds the list a link belongs to: the nearest element around it where links
// branch, or around that, the element whose same-tag list children continue one another.
size_t ListOf(const WeighedPage& page, size_t link) {
    const auto& elements = page.Tree.Elements;
    size_t container = elements[link].Parent;
    while (container != html::kNoElement && page.LinkBranches[container] < 2) {
        container = elements[container].Parent;
    }
    if (container == html::kNoElement || !IsListElement(elements[container].Tag)) {
        return container;
    }
    size_t parent = elements[container].Parent;
    if (parent == html::kNoElement) {
        return container;
    }
    const auto& siblings = elements[parent].Children;
    size_t lists =
        static_cast<size_t>(std::count_if(siblings.begin(), siblings.end(), [&](size_t s) {
            return elements[s].Tag == elements[container].Tag && page.SiteLinks[s] > 0;
        }));
    return lists >= 2 ? parent : container;
}

struct Entry {
    bool Heading = false;
    std::u16string Name;
    std::u16string Url;
};

// A heading between the links of a list: a short visible text without links, standing beside
// the list's items.
bool IsHeading(const WeighedPage& page, size_t index) {
    const html::PageElement& element = page.Tree.Elements[index];
    if (!element.Visible || page.SiteLinks[index] > 0 || page.TextLength[index] == 0 ||
        page.TextLength[index] > 50 || element.Parent == html::kNoElement) {
        return false;
    }
    return page.LinkBranches[element.Parent] >= 2;
}

// The links of `list` whose list it is, and the headings among them, in document order.
std::vector<Entry> ListEntries(const WeighedPage& page, size_t list,
                               const std::vector<size_t>& listOfLink) {
    std::vector<Entry> entries;
    size_t i = list + 1;
    while (i < page.End[list]) {
        if (!page.LinkAddress[i].empty() && listOfLink[i] == list) {
            entries.push_back({false, std::u16string(page.Tree.TextOf(i)), page.LinkAddress[i]});
        } else if (IsHeading(page, i)) {
            entries.push_back({true, std::u16string(page.Tree.TextOf(i)), {}});
            i = page.End[i];
            continue;
        }
        ++i;
    }
    return entries;
}

struct Segment {
    std::u16string Heading;
    std::vector<Entry> Links;
};

std::vector<Segment> SplitAtHeadings(const std::vector<Entry>& entries) {
    std::vector<Segment> segments(1);
    for (const Entry& entry : entries) {
        if (entry.Heading) {
            segments.push_back({entry.Name, {}});
        } else {
            segments.back().Links.push_back(entry);
        }
    }
    return segments;
}

bool Contains(std::u16string_view text, std::u16string_view part) {
    return text.find(part) != std::u16string_view::npos;
}

// A heading that names the list rather than a volume of it: "最新章节", "章节目录", "正文".
bool IsListTitle(std::u16string_view heading) {
    if (Contains(heading, u"卷")) {
        return false;
    }
    return Contains(heading, u"最新") || Contains(heading, u"目录") || Contains(heading, u"目錄") ||
           Contains(heading, u"列表") || heading.ends_with(u"正文");
}

// The distinct addresses of a segment's links.
std::unordered_set<std::u16string_view> AddressesOf(const Segment& segment) {
    std::unordered_set<std::u16string_view> addresses;
    for (const Entry& link : segment.Links) {
        addresses.insert(link.Url);
    }
    return addresses;
}

// Which links stay: not a leading run of links repeated further on, nor a later repeat.
std::vector<bool> LinksWithoutRepeats(const std::vector<Entry>& links) {
    std::unordered_map<std::u16string_view, size_t> lastAt;
    for (size_t i = 0; i < links.size(); ++i) {
        lastAt[links[i].Url] = i;
    }
    size_t start = 0;
    while (start < links.size() && lastAt[links[start].Url] != start) {
        ++start;
    }
    std::vector<bool> stays(links.size());
    std::unordered_set<std::u16string_view> seen;
    for (size_t i = start; i < links.size(); ++i) {
        stays[i] = seen.insert(links[i].Url).second;
    }
    return stays;
}

ChapterList ListFromSegments(std::vector<Segment> segments) {
    // Blocks named as the latest chapters go first, so that the list they repeat stays. Then a
    // block goes when every link of it stands in another block that stays: a block of the
    // latest chapters repeating the list's end.
    std::vector<std::unordered_set<std::u16string_view>> addresses;
    std::unordered_map<std::u16string_view, size_t> blocksHolding;
    std::vector<bool> dropped(segments.size());
    for (size_t k = 0; k < segments.size(); ++k) {
        addresses.push_back(AddressesOf(segments[k]));
        dropped[k] = Contains(segments[k].Heading, u"最新");
        for (std::u16string_view address : addresses[k]) {
            blocksHolding[address] += dropped[k] ? 0 : 1;
        }
    }
    std::vector<Segment> kept;
    for (size_t k = 0; k < segments.size(); ++k) {
        if (!dropped[k] && !addresses[k].empty()) {
            dropped[k] = std::all_of(addresses[k].begin(), addresses[k].end(),
                                     [&](std::u16string_view a) { return blocksHolding[a] > 1; });
            for (std::u16string_view address : addresses[k]) {
                blocksHolding[address] -= dropped[k] ? 1 : 0;
            }
        }
        if (!dropped[k]) {
            kept.push_back(std::move(segments[k]));
        }
    }
    std::vector<Entry> links;
    std::vector<std::pair<std::u16string, size_t>> headings;
    for (const Segment& segment : kept) {
        if (!segment.Heading.empty() && !IsListTitle(segment.Heading)) {
            headings.emplace_back(segment.Heading, links.size());
        }
        links.insert(links.end(), segment.Links.begin(), segment.Links.end());
    }
    std::vector<bool> stays = LinksWithoutRepeats(links);
    // Where each link stands among those that stay.
    std::vector<size_t> position(links.size() + 1, 0);
    ChapterList list;
    for (size_t i = 0; i < links.size(); ++i) {
        position[i + 1] = position[i] + (stays[i] ? 1 : 0);
        if (stays[i]) {
            list.ChapterName.push_back(std::move(links[i].Name));
            list.ChapterUrl.push_back(std::move(links[i].Url));
        }
    }
    list.count = static_cast<int32_t>(list.ChapterUrl.size());
    for (auto& [name, at] : headings) {
        list.Volumes.push_back({position[at], std::move(name)});
    }
    return list;
}

size_t ChapterNames(const std::vector<Entry>& entries) {
    return static_cast<size_t>(std::count_if(entries.begin(), entries.end(), [](const Entry& e) {
        return !e.Heading && internal::IsChapterName(e.Name);
    }));
}

// The element that leads to the next contents page: the option after the chosen one of a page
// selector, else a "下一页" link; kNoElement on the last page.
size_t NextContentsElement(const WeighedPage& page, std::u16string_view url) {
    const auto& elements = page.Tree.Elements;
    for (size_t s = 0; s < elements.size(); ++s) {
        if (elements[s].Tag != "select") {
            continue;
        }
        std::vector<size_t> options;
        size_t chosen = html::kNoElement;
        for (size_t child : elements[s].Children) {
            if (elements[child].Tag != "option") {
                continue;
            }
            std::u16string address = internal::SiteAddress(url, elements[child].Attribute("value"));
            if (address.empty()) {
                continue;
            }
            bool selected = false;
            for (const auto& attribute : elements[child].Attributes) {
                selected = selected || attribute.first == "selected";
            }
            if (selected || (chosen == html::kNoElement && address == url)) {
                chosen = options.size();
            }
            options.push_back(child);
        }
        if (options.size() >= 2) {
            return chosen + 1 < options.size() ? options[chosen + 1] : html::kNoElement;
        }
    }
    for (size_t i = 0; i < elements.size(); ++i) {
        if (!page.LinkAddress[i].empty() && page.LinkAddress[i] != url &&
            internal::IsNextPageCaption(page.Tree.TextOf(i))) {
            return i;
        }
    }
    return html::kNoElement;
}

// How sure the finder is of a list whose links do not read as chapter names.
constexpr double kUnnamedListConfidence = 0.6;
// The fewest links of such a list.
constexpr size_t kMinUnnamedChapters = 10;

// True when `entries` are many links that all lead below the folder of the contents page
// (not the site's root): a novel's chapters named without numbers.
bool IsLongListBelow(const std::vector<Entry>& entries, std::u16string_view url) {
    std::u16string_view folder = AddressFolder(url);
    size_t links = 0;
    for (const Entry& entry : entries) {
        if (entry.Heading) {
            continue;
        }
        if (!entry.Url.starts_with(folder) || entry.Url == url) {
            return false;
        }
        ++links;
    }
    bool siteRoot = folder.size() <= AddressOrigin(url).size() + 1;
    return links >= kMinUnnamedChapters && !siteRoot;
}

// True when most chapters lie in one folder, as one novel's chapters do; the links of a home
// page or a search page lead into the folders of many novels.
bool SharesOneFolder(const ChapterList& list) {
    std::unordered_map<std::u16string_view, size_t> folders;
    size_t most = 0;
    for (const std::u16string& url : list.ChapterUrl) {
        most = std::max(most, ++folders[AddressFolder(url)]);
    }
    return most * 5 >= list.ChapterUrl.size() * 4;
}

} // namespace

namespace internal {

WeighedList BestChapterList(const WeighedPage& page, std::u16string_view url, size_t minChapters) {
    std::vector<size_t> listOfLink(page.Tree.Elements.size(), html::kNoElement);
    std::vector<size_t> lists;
    for (size_t i = 0; i < listOfLink.size(); ++i) {
        if (!page.LinkAddress[i].empty()) {
            listOfLink[i] = ListOf(page, i);
            if (listOfLink[i] != html::kNoElement) {
                lists.push_back(listOfLink[i]);
            }
        }
    }
    std::sort(lists.begin(), lists.end());
    lists.erase(std::unique(lists.begin(), lists.end()), lists.end());

    WeighedList best;
    for (size_t list : lists) {
        std::vector<Entry> entries = ListEntries(page, list, listOfLink);
        size_t links = static_cast<size_t>(std::count_if(
            entries.begin(), entries.end(), [](const Entry& e) { return !e.Heading; }));
        size_t named = ChapterNames(entries);
        bool namedList = named * 2 >= links && named >= minChapters;
        if (!namedList && !IsLongListBelow(entries, url)) {
            continue;
        }
        ChapterList candidate = ListFromSegments(SplitAtHeadings(entries));
        if (candidate.count > best.Chapters.count && SharesOneFolder(candidate)) {
            best.Chapters = std::move(candidate);
            best.Element = list;
            best.Confidence = namedList ? static_cast<double>(named) / static_cast<double>(links)
                                        : kUnnamedListConfidence;
        }
    }
    if (best.Chapters.count < static_cast<int32_t>(std::max<size_t>(minChapters, 1))) {
        return {};
    }
    return best;
}

} // namespace internal

FoundChapterList FindChapterList(std::u16string_view page, std::u16string_view url,
                                 size_t minChapters) {
    WeighedPage weighed = internal::WeighPage(page, url);
    internal::WeighedList best = internal::BestChapterList(weighed, url, minChapters);
    FoundChapterList found;
    if (best.Chapters.count == 0) {
        found.Refusal = kNoChapterListReason;
        return found;
    }
    found.Chapters = std::move(best.Chapters);
    found.Confidence = best.Confidence;
    found.ListElement = best.Element;
    found.NextPageElement = NextContentsElement(weighed, url);
    if (found.NextPageElement != html::kNoElement) {
        const html::PageElement& next = weighed.Tree.Elements[found.NextPageElement];
        found.NextPageUrl = next.Tag == "option"
                                ? internal::SiteAddress(url, next.Attribute("value"))
                                : weighed.LinkAddress[found.NextPageElement];
    }
    return found;
}

} // namespace velunor::finder
