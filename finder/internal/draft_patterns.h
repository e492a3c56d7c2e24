#pragma once
// The pieces drafted patterns are made of: a page's markup turned into patterns that match it
// however its text differs from novel to novel, and regions cut out of pages exactly where an
// element's content stands. Only the finder module includes this header.

#include "html/html.h"

#include <string>
#include <string_view>
#include <vector>

namespace velunor::finder::internal {

/// A page beside its element tree.
struct TreePage {
    std::u16string_view Url;
    std::u16string_view Text;
    html::PageTree Tree;
};

TreePage ReadTreePage(std::u16string_view url, std::u16string_view text);

/// The start tag of element `index` as the source writes it; empty for one it does not write.
std::u16string_view StartTag(const TreePage& page, size_t index);

/// The end tag of element `index` as the source writes it; empty for one closed without one.
std::u16string_view EndTag(const TreePage& page, size_t index);

/// A pattern for start tag `tag`: its name, the attributes named in `kept` with their values as
/// written, and attribute `captured` (may be empty) with its value as capture group 1; any other
/// attribute may stand around them.
std::u16string TagPattern(std::u16string_view tag, std::string_view captured,
                          std::initializer_list<std::string_view> kept);

/// True when start tag `tag` has attribute `name` with a value other than white space.
bool HasAttribute(std::u16string_view tag, std::string_view name);

/// A pattern for a piece of markup: its tags as written, any text between them as "[^<]*" (it
/// differs from novel to novel), white space as \s*.
std::u16string MarkupPattern(std::u16string_view markup);

/// One element whose content a region pattern must cut out of its page.
struct RegionSample {
    const TreePage* Page = nullptr;
    size_t Element = html::kNoElement;
};

/// The first pattern, from most to least anchored on the first sample's markup, whose group 1 is
/// exactly the content of each sample's element; empty when none is.
std::u16string RegionPattern(const std::vector<RegionSample>& samples);

/// True when element `index` lies inside element `ancestor` of `tree`.
bool Within(const html::PageTree& tree, size_t index, size_t ancestor);

} // namespace velunor::finder::internal
