// Resolution of links found on a web page into absolute addresses.
//
// The rules follow how novel sites link their pages: a file name in the page's address is
// dropped before a relative link is joined, and a link that would climb above the site root is
// emptied. "http://" and "https://" are both absolute schemes, a link beginning with "//" takes
// the scheme of the page it was found on, and the page's query string takes no part in
// resolving. Links keep their letter case, since many sites' paths are case-sensitive; only the
// scheme and the host are compared without regard to case.

#include "core/core.h"

namespace velunor {
namespace {

constexpr std::u16string_view kHttp = u"http://";
constexpr std::u16string_view kHttps = u"https://";
constexpr std::u16string_view kParent = u"../";

bool BeginsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool IsAbsolute(std::u16string_view link) {
    std::u16string lower = AsciiLowered(link.substr(0, kHttps.size()));
    return BeginsWith(lower, kHttp) || BeginsWith(lower, kHttps);
}

struct SchemeInBase {
    size_t position = std::u16string_view::npos;
    std::u16string_view scheme;
};

// The first "http://" or "https://" in the base, in any letter case, whichever comes first.
SchemeInBase FindScheme(std::u16string_view base) {
    SchemeInBase found;
    std::u16string lower = AsciiLowered(base);
    size_t http = lower.find(kHttp);
    size_t https = lower.find(kHttps);
    if (http != std::u16string_view::npos && (https == std::u16string_view::npos || http < https)) {
        found.position = http;
        found.scheme = kHttp;
    } else if (https != std::u16string_view::npos) {
        found.position = https;
        found.scheme = kHttps;
    }
    return found;
}

// The base up to the first "/" after the host's first character, letter case as in the base.
std::u16string SiteRoot(std::u16string_view base, const SchemeInBase& scheme) {
    size_t slash = base.find(u'/', scheme.position + scheme.scheme.size() + 1);
    return std::u16string(base.substr(0, slash));
}

// `pageHadQuery`: the base carried a query or fragment after a last segment, so that segment
// names a page even without a "." in it.
std::u16string ResolveRelative(std::u16string_view base, std::u16string_view root,
                               std::u16string link, bool pageHadQuery) {
    std::u16string folder(base);
    if (!folder.empty() && folder.back() == u'/') {
        folder.pop_back();
    }
    if (EqualsIgnoringAsciiCase(folder, root)) {
        if (BeginsWith(link, kParent)) {
            return {};
        }
        return folder + u"/" + link;
    }
    size_t lastSlash = folder.rfind(u'/');
    if (lastSlash == std::u16string::npos) {
        return {};
    }
    std::u16string_view lastSegment = std::u16string_view(folder).substr(lastSlash + 1);
    bool isFileName = lastSegment.find(u'.') != std::u16string_view::npos || pageHadQuery;
    if (!lastSegment.empty() && isFileName) {
        folder.resize(lastSlash);
    }
    while (BeginsWith(link, kParent)) {
        link.erase(0, kParent.size());
        size_t slash = folder.rfind(u'/');
        if (slash == std::u16string::npos) {
            continue;
        }
        if (EqualsIgnoringAsciiCase(folder, root)) {
            return {};
        }
        folder.resize(slash);
    }
    return folder + u"/" + link;
}

// The address without its query and fragment: "search?q=a" names the page "search", not a
// folder "search?q=a" that relative links would be joined to.
std::u16string_view WithoutQuery(std::u16string_view base) {
    return base.substr(0, base.find_first_of(u"?#"));
}

} // namespace

void CompleteUrl(std::u16string_view base, std::u16string& link) {
    if (link.empty()) {
        return;
    }
    if (IsAbsolute(link)) {
        return;
    }
    if (link == u"#") {
        link = std::u16string(base);
        return;
    }
    std::u16string_view page = WithoutQuery(base);
    bool pageHadQuery = page.size() != base.size() && !page.empty() && page.back() != u'/';
    base = page;
    SchemeInBase scheme = FindScheme(base);
    if (scheme.position == std::u16string_view::npos) {
        link.clear();
        return;
    }
    if (BeginsWith(link, u"//")) {
        std::u16string_view schemeName = scheme.scheme.substr(0, scheme.scheme.find(u':') + 1);
        link = std::u16string(schemeName) + link;
        return;
    }
    std::u16string root = SiteRoot(base, scheme);
    if (BeginsWith(link, u"/")) {
        link = root + link;
        return;
    }
    link = ResolveRelative(base, root, std::move(link), pageHadQuery);
}

} // namespace velunor
