#pragma once
// What the finder's parts share: the element tree with link and text counts, the addresses of
// links that stay on the site, and what captions and chapter names read like. Only the finder
// module includes this header.

#include "html/html.h"
#include "rules/rules.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace velunor::finder::internal {

/// A page tree with, for each element, what the finder weighs it by.
struct WeighedPage {
    html::PageTree Tree;
    /// Visible characters other than white space in each element.
    std::vector<size_t> TextLength;
    /// Of those, how many stand in links.
    std::vector<size_t> LinkTextLength;
    /// Links to the page's own site in each element (itself included).
    std::vector<size_t> SiteLinks;
    /// Children of each element that hold links to the page's own site.
    std::vector<size_t> LinkBranches;
    /// The index one past each element's last descendant.
    std::vector<size_t> End;
    /// The absolute address of each element that is a visible link to the page's own site;
    /// empty for every other element.
    std::vector<std::u16string> LinkAddress;
};

/// The tree of `page`, found at `url`, weighed.
WeighedPage WeighPage(std::u16string_view page, std::u16string_view url);

/// `tree`, of the page found at `url`, weighed.
WeighedPage WeighTree(html::PageTree tree, std::u16string_view url);

/// The chapter list found on a weighed page, and how sure the finder is of it (0 for none).
struct WeighedList {
    ChapterList Chapters;
    double Confidence = 0;
    /// The element the list stands in; kNoElement for none.
    size_t Element = html::kNoElement;
};

/// The largest list on `page` (found at `url`) of at least `minChapters` links that read as
/// chapters; count 0 when there is none.
WeighedList BestChapterList(const WeighedPage& page, std::u16string_view url, size_t minChapters);

/// True when `a` and `b` are on one site: same scheme, host and port.
bool SameSite(std::u16string_view a, std::u16string_view b);

/// `link` as an absolute address read on the page at `base`; empty when it leads off the site
/// of `base`, or to no page (a script, an empty link).
std::u16string SiteAddress(std::u16string_view base, std::u16string_view link);

/// True when `text` is the caption of a link to the next page ("下一页", "下一頁").
bool IsNextPageCaption(std::u16string_view text);

/// True when `text` reads as a chapter name: "第十二章 …", "第3回", "12. …", "序章", "番外 …".
bool IsChapterName(std::u16string_view text);

/// True when `text` names a novel's first chapter: "第一章 …", "第001回", "1. …", "序章", "楔子".
bool IsOpeningChapterName(std::u16string_view text);

/// True when `candidate` is a further page of the chapter whose first page is `first`: in the
/// same folder, named as it is up to its first "." and followed by anything but a digit.
bool IsOwnFurtherPage(std::u16string_view first, std::u16string_view candidate);

/// The content of the first meta element whose property or name is one of `keys`, in the order
/// of `keys`, trimmed; empty when none has one.
std::u16string MetaContent(const html::PageTree& tree,
                           std::initializer_list<std::u16string_view> keys);

} // namespace velunor::finder::internal
