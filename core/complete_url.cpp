// Completion of links found on novel sites' pages. The address itself comes from reference
// resolution (ResolveReference); the rules here are the ones a link on a novel site needs on
// top of it:
// - the link is read as browsers read the text of an href: surrounding spaces dropped, tabs and
//   line breaks inside removed, "\" in its path taken as "/";
// - an empty link stays empty (callers read it as no link), and a bare "#" names the page
//   itself, its whole address kept;
// - an absolute http or https link is kept as the site wrote it;
// - a page address whose last segment holds no "." and carries no query or fragment names a
//   folder, as sites write "/book/12" for "/book/12/";
// - a link that climbs above the site root is emptied rather than clamped to the root;
// - only http and https addresses count: a link to another scheme is emptied.

#include "core/core.h"

#include <algorithm>

namespace velunor {
namespace {

bool IsLinkSpace(char16_t unit) {
    return unit <= u' ';
}

std::u16string AsBrowsersReadIt(std::u16string_view link) {
    while (!link.empty() && IsLinkSpace(link.front())) {
        link.remove_prefix(1);
    }
    while (!link.empty() && IsLinkSpace(link.back())) {
        link.remove_suffix(1);
    }
    std::u16string text;
    text.reserve(link.size());
    for (char16_t unit : link) {
        if (unit != u'\t' && unit != u'\n' && unit != u'\r') {
            text += unit;
        }
    }
    size_t pathEnd = std::min(text.find_first_of(u"?#"), text.size());
    std::replace(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(pathEnd), u'\\', u'/');
    return text;
}

bool IsSchemeCharacter(char16_t unit) {
    bool digit = unit >= u'0' && unit <= u'9';
    return IsAsciiLetter(unit) || digit || unit == u'+' || unit == u'-' || unit == u'.';
}

// The scheme of an absolute link, as written; empty for a relative one.
std::u16string_view SchemeOf(std::u16string_view link) {
    size_t colon = link.find(u':');
    if (colon == std::u16string_view::npos || colon == 0 || !IsAsciiLetter(link.front())) {
        return {};
    }
    std::u16string_view scheme = link.substr(0, colon);
    if (!std::all_of(scheme.begin(), scheme.end(), IsSchemeCharacter)) {
        return {};
    }
    return scheme;
}

// "http://..." or "https://..." in any letter case; "http:g" is not one.
bool IsAbsoluteWebLink(std::u16string_view link) {
    std::u16string scheme = AsciiLowered(SchemeOf(link));
    bool web = scheme == u"http" || scheme == u"https";
    return web && link.substr(scheme.size() + 1, 2) == u"//";
}

// A link that names a path on the page's own site: no scheme, no host, not only a query or a
// fragment.
bool IsPathLink(std::u16string_view link) {
    bool networkPath = link.substr(0, 2) == u"//";
    bool queryOrFragment = link.front() == u'?' || link.front() == u'#';
    return !networkPath && !queryOrFragment && SchemeOf(link).empty();
}

// True when walking `path` from a folder `depth` folders below the site root steps above it.
bool ClimbsAboveRoot(size_t depth, std::u16string_view path) {
    path = path.substr(0, path.find_first_of(u"?#"));
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = std::min(path.find(u'/', start), path.size());
        std::u16string_view segment = path.substr(start, end - start);
        if (segment == u"..") {
            if (depth == 0) {
                return true;
            }
            --depth;
        } else if (segment != u"." && end != path.size()) {
            ++depth;
        }
        start = end + 1;
    }
    return false;
}

// The folder relative links on a page are joined to, and how far below the site root it lies.
struct LinkFolder {
    std::u16string address;
    size_t depth = 0;
};

LinkFolder FolderOfPage(std::u16string_view base) {
    LinkFolder folder;
    std::u16string root = ResolveReference(base, u"/");
    if (root.empty()) {
        return folder;
    }
    folder.address = ResolveReference(base, u"./");
    std::u16string page = ResolveReference(base, u"");
    std::u16string_view lastSegment;
    if (page.starts_with(folder.address)) {
        lastSegment = std::u16string_view(page).substr(folder.address.size());
    }
    bool plainPage = base.find_first_of(u"?#") == std::u16string_view::npos;
    if (plainPage && !lastSegment.empty() && lastSegment.find(u'.') == std::u16string_view::npos) {
        folder.address = page + u"/";
    }
    folder.depth = static_cast<size_t>(
        std::count(folder.address.begin() + static_cast<std::ptrdiff_t>(root.size()),
                   folder.address.end(), u'/'));
    return folder;
}

std::u16string ResolveLink(std::u16string_view base, const std::u16string& link) {
    if (!IsPathLink(link)) {
        return ResolveReference(base, link);
    }
    if (link.front() == u'/') {
        if (ClimbsAboveRoot(0, std::u16string_view(link).substr(1))) {
            return {};
        }
        return ResolveReference(base, link);
    }
    LinkFolder folder = FolderOfPage(base);
    if (folder.address.empty() || ClimbsAboveRoot(folder.depth, link)) {
        return {};
    }
    return ResolveReference(folder.address, link);
}

} // namespace

void CompleteUrl(std::u16string_view base, std::u16string& link) {
    std::u16string written = AsBrowsersReadIt(link);
    if (written.empty()) {
        link.clear();
        return;
    }
    if (written == u"#") {
        link = std::u16string(base);
        return;
    }
    if (IsAbsoluteWebLink(written)) {
        link = std::move(written);
        return;
    }
    link = ResolveLink(base, written);
    if (!IsAbsoluteWebLink(link)) {
        link.clear();
    }
}

} // namespace velunor
