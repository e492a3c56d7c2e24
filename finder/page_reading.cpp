// The element tree weighed for the finder, and what links, captions and chapter names read like.

#include "finder/internal/page_reading.h"

#include "core/core.h"

#include <algorithm>
#include <array>
#include <optional>

namespace velunor::finder::internal {
namespace {

size_t VisibleCharacters(std::u16string_view text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(),
                                             [](char16_t c) { return c != u' ' && c != u'\n'; }));
}

bool IsDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'０' && c <= u'９');
}

bool IsChineseNumeral(char16_t c) {
    return IsDigit(c) ||
           std::u16string_view(u"零〇一二三四五六七八九十百千万两壹贰叁肆伍陆柒捌玖拾佰仟")
                   .find(c) != std::u16string_view::npos;
}

// "第" + numerals + a unit of the text: "第十二章", "第3回", "第一百零一节".
bool IsNumberedUnit(std::u16string_view text) {
    if (!text.starts_with(u"第")) {
        return false;
    }
    size_t at = 1;
    while (at < text.size() && (IsChineseNumeral(text[at]) || text[at] == u' ')) {
        ++at;
    }
    return at > 1 && at < text.size() &&
           std::u16string_view(u"章回节節话話集篇幕卷").find(text[at]) != std::u16string_view::npos;
}

// "12", "12. 名字", "012 名字", "12、名字": a number standing alone at the start.
bool IsNumberedName(std::u16string_view text) {
    size_t at = 0;
    while (at < text.size() && IsDigit(text[at])) {
        ++at;
    }
    if (at == 0) {
        return false;
    }
    return at == text.size() ||
           std::u16string_view(u" .、:：，,-—　").find(text[at]) != std::u16string_view::npos;
}

constexpr std::array<std::u16string_view, 12> kUnnumberedChapters = {
    u"序章", u"序言", u"楔子",     u"引子", u"尾声", u"番外",
    u"后记", u"终章", u"完本感言", u"尾聲", u"後記", u"序幕"};

// A link that names a page on the site by a plain path: only letters, digits and the marks a
// path or query is written with, no scheme, no host, no "." or ".." segment. Completing one is
// joining it to the site's root or the page's folder.
bool IsPlainPathLink(std::u16string_view link) {
    if (link.empty() || link.starts_with(u"//") || link.front() == u'?' || link == u"." ||
        link == u".." || link.starts_with(u"./") || link.starts_with(u"../") ||
        link.find(u"/./") != link.npos || link.find(u"/../") != link.npos ||
        link.ends_with(u"/.") || link.ends_with(u"/..")) {
        return false;
    }
    return std::all_of(link.begin(), link.end(), [](char16_t c) {
        bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        bool digit = c >= u'0' && c <= u'9';
        return letter || digit ||
               std::u16string_view(u"-_.~/?=&%").find(c) != std::u16string_view::npos;
    });
}

// Completes the links of one page. Resolving a reference parses both addresses anew, several
// times for a relative link; on a contents page of thousands of chapters that is most of the
// finder's time. So the site root, and the page's folder when a relative link needs it, are
// completed once, and a plain path link is joined to them; any other link is completed in full.
class PageLinks {
  public:
    explicit PageLinks(std::u16string_view url) : url_(url) {}

    std::u16string SiteAddressOf(std::u16string_view link) {
        if (!IsPlainPathLink(link)) {
            return SiteAddress(url_, link);
        }
        bool rooted = link.front() == u'/';
        std::optional<std::u16string>& start = rooted ? root_ : folder_;
        if (!start) {
            // The completed address of a probe, without the probe, or nothing when that
            // address is not on the page's site.
            std::u16string probe = rooted ? u"/x" : u"x";
            std::u16string address = probe;
            CompleteUrl(url_, address);
            bool joined = SameSite(url_, address) && address.ends_with(probe);
            start = joined ? address.substr(0, address.size() - 1) : std::u16string();
        }
        if (start->empty()) {
            return SiteAddress(url_, link);
        }
        return *start + std::u16string(rooted ? link.substr(1) : link);
    }

  private:
    std::u16string_view url_;
    std::optional<std::u16string> root_;
    std::optional<std::u16string> folder_;
};

} // namespace

WeighedPage WeighPage(std::u16string_view page, std::u16string_view url) {
    return WeighTree(html::ReadPageTree(page), url);
}

WeighedPage WeighTree(html::PageTree tree, std::u16string_view url) {
    WeighedPage weighed;
    weighed.Tree = std::move(tree);
    const auto& elements = weighed.Tree.Elements;
    size_t count = elements.size();
    weighed.TextLength.resize(count);
    weighed.LinkTextLength.assign(count, 0);
    weighed.SiteLinks.assign(count, 0);
    weighed.LinkBranches.assign(count, 0);
    weighed.End.resize(count);
    weighed.LinkAddress.resize(count);
    PageLinks links(url);
    for (size_t i = 0; i < count; ++i) {
        weighed.TextLength[i] = VisibleCharacters(weighed.Tree.TextOf(i));
    }
    // Children come after their parent, so one backward pass adds each element up into it.
    for (size_t i = count; i-- > 0;) {
        const html::PageElement& element = elements[i];
        weighed.End[i] = element.Children.empty() ? i + 1 : weighed.End[element.Children.back()];
        if (element.Tag == "a") {
            weighed.LinkTextLength[i] = weighed.TextLength[i];
            if (element.Visible && weighed.TextLength[i] > 0) {
                weighed.LinkAddress[i] = links.SiteAddressOf(element.Attribute("href"));
                weighed.SiteLinks[i] += weighed.LinkAddress[i].empty() ? 0 : 1;
            }
        }
        if (element.Parent != html::kNoElement) {
            weighed.SiteLinks[element.Parent] += weighed.SiteLinks[i];
            weighed.LinkBranches[element.Parent] += weighed.SiteLinks[i] > 0 ? 1 : 0;
            weighed.LinkTextLength[element.Parent] += weighed.LinkTextLength[i];
        }
    }
    return weighed;
}

bool SameSite(std::u16string_view a, std::u16string_view b) {
    std::u16string_view rootA = AddressOrigin(a);
    return !rootA.empty() && EqualsIgnoringAsciiCase(rootA, AddressOrigin(b));
}

std::u16string SiteAddress(std::u16string_view base, std::u16string_view link) {
    std::u16string address(link);
    CompleteUrl(base, address);
    if (address.empty() || !SameSite(base, address)) {
        return {};
    }
    return address;
}

bool IsNextPageCaption(std::u16string_view text) {
    std::u16string_view caption = html::TrimmedCaption(text);
    return caption == u"下一页" || caption == u"下一頁" || caption == u"下页" || caption == u"下頁";
}

bool IsChapterName(std::u16string_view text) {
    std::u16string_view name = html::TrimmedCaption(text);
    if (IsNumberedUnit(name) || IsNumberedName(name)) {
        return true;
    }
    if (name.size() > 8 && EqualsIgnoringAsciiCase(name.substr(0, 8), u"chapter ")) {
        return IsDigit(name[8]);
    }
    return std::any_of(kUnnumberedChapters.begin(), kUnnumberedChapters.end(),
                       [&](std::u16string_view start) { return name.starts_with(start); });
}

bool IsOpeningChapterName(std::u16string_view text) {
    std::u16string_view name = html::TrimmedCaption(text);
    for (std::u16string_view opening : {u"序章", u"序言", u"序幕", u"楔子", u"引子"}) {
        if (name.starts_with(opening)) {
            return true;
        }
    }
    if (!IsNumberedUnit(name) && !IsNumberedName(name)) {
        return false;
    }
    size_t at = name.starts_with(u"第") ? 1 : 0;
    while (at < name.size() && std::u16string_view(u"0０〇零").find(name[at]) != name.npos) {
        ++at;
    }
    bool one = at < name.size() && std::u16string_view(u"1１一壹").find(name[at]) != name.npos;
    return one && (at + 1 == name.size() || !IsChineseNumeral(name[at + 1]));
}

bool IsOwnFurtherPage(std::u16string_view first, std::u16string_view candidate) {
    std::u16string_view firstName = AddressFileName(first);
    std::u16string_view stem = firstName.substr(0, firstName.find(u'.'));
    std::u16string_view folder = AddressFolder(first);
    if (stem.empty() || folder.empty() || candidate == first || !candidate.starts_with(folder)) {
        return false;
    }
    std::u16string_view rest = candidate.substr(folder.size());
    return rest.starts_with(stem) && rest.size() > stem.size() && !IsDigit(rest[stem.size()]);
}

std::u16string MetaContent(const html::PageTree& tree,
                           std::initializer_list<std::u16string_view> keys) {
    for (std::u16string_view key : keys) {
        for (const html::PageElement& element : tree.Elements) {
            if (element.Tag != "meta") {
                continue;
            }
            if (element.Attribute("property") == key || element.Attribute("name") == key) {
                std::u16string_view content = html::TrimmedCaption(element.Attribute("content"));
                if (!content.empty()) {
                    return std::u16string(content);
                }
            }
        }
    }
    return {};
}

} // namespace velunor::finder::internal
