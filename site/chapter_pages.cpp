// Fetching a chapter from its site, page after page when the site splits it.

#include "core/core.h"
#include "site/site.h"

#include <set>

namespace velunor {
namespace {

// True when `next` looks like a further page of the chapter whose first page is `first`: in the
// same folder, and named as the first page is up to its first ".", followed by anything but a
// digit. "456_2.html" and "456.html?page=2" follow "456.html"; "457.html", "4567.html",
// "index.html" and the folder itself do not.
bool IsOwnPage(std::u16string_view next, std::u16string_view first) {
    std::u16string folder = AddressFolder(first);
    if (folder.empty() || next.substr(0, folder.size()) != folder) {
        return false;
    }
    std::u16string_view rest = next.substr(folder.size());
    std::u16string_view name = rest.substr(0, rest.find_first_of(u"?#"));
    std::u16string_view firstName = AddressFileName(first);
    std::u16string_view stem = firstName.substr(0, firstName.find(u'.'));
    if (name.empty() || name.find(u'/') != std::u16string_view::npos ||
        name.substr(0, stem.size()) != stem) {
        return false;
    }
    // A chapter whose address is a folder names its pages freely.
    if (stem.empty() || name.size() == stem.size()) {
        return true;
    }
    return name[stem.size()] < u'0' || name[stem.size()] > u'9';
}

// What is known of the pages read so far, to tell where the chapter ends.
struct ChapterChain {
    const ChapterBounds& bounds;
    // The first page's final address, for OwnPagesOnly.
    std::u16string first;
    // Every address asked for or redirected to, and every page text.
    std::set<std::u16string> addresses;
    std::set<std::u16string> texts;
};

bool LeadsOn(const ChapterChain& chain, const std::u16string& next) {
    const ChapterBounds& bounds = chain.bounds;
    if (next.empty() || next == bounds.NextChapterUrl || next == bounds.ContentsUrl ||
        chain.addresses.count(next) != 0) {
        return false;
    }
    return !bounds.OwnPagesOnly || IsOwnPage(next, chain.first);
}

// A page after the first that adds nothing is no page of the chapter: a content pattern that
// finds nothing there, or the same text again, means the link led somewhere else.
bool AddsToChapter(const ChapterChain& chain, const ChapterPage& page) {
    if (page.Text.empty()) {
        return !page.Images.empty();
    }
    return chain.texts.count(page.Text) == 0;
}

bool IsHtmlSpace(char16_t unit) {
    return unit == u' ' || unit == u'\t' || unit == u'\n' || unit == u'\r' || unit == u'\f';
}

char16_t AsciiLower(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// True when `text` at `at` begins with `word` (lower case) in any case.
bool HasWordAt(std::u16string_view text, size_t at, std::u16string_view word) {
    if (text.size() - at < word.size()) {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i) {
        if (AsciiLower(text[at + i]) != word[i]) {
            return false;
        }
    }
    return true;
}

size_t SkipHtmlSpaces(std::u16string_view text, size_t at) {
    while (at < text.size() && IsHtmlSpace(text[at])) {
        ++at;
    }
    return at;
}

// True when the "<" at `at` opens an img tag: "<img" followed by a space, "/", ">" or the end.
bool OpensImageTag(std::u16string_view text, size_t at) {
    if (!HasWordAt(text, at, u"<img")) {
        return false;
    }
    size_t next = at + 4;
    return next == text.size() || IsHtmlSpace(text[next]) || text[next] == u'/' ||
           text[next] == u'>';
}

// Reads the attribute value that begins at `at` and moves `at` past it. A quoted value runs to
// its closing quote (">" included, as browsers read it), an unquoted one to a space or ">".
ImageSourceSpan ReadAttributeValue(std::u16string_view text, size_t& at) {
    ImageSourceSpan value;
    if (at < text.size() && (text[at] == u'"' || text[at] == u'\'')) {
        value.Start = at + 1;
        size_t close = text.find(text[at], value.Start);
        size_t end = close == std::u16string_view::npos ? text.size() : close;
        value.Length = end - value.Start;
        at = close == std::u16string_view::npos ? end : close + 1;
        return value;
    }
    value.Start = at;
    while (at < text.size() && !IsHtmlSpace(text[at]) && text[at] != u'>') {
        ++at;
    }
    value.Length = at - value.Start;
    return value;
}

// A site may pad an address with spaces, which browsers ignore and an address must not keep.
ImageSourceSpan TrimSpaces(std::u16string_view text, ImageSourceSpan span) {
    while (span.Length > 0 && IsHtmlSpace(text[span.Start])) {
        ++span.Start;
        --span.Length;
    }
    while (span.Length > 0 && IsHtmlSpace(text[span.Start + span.Length - 1])) {
        --span.Length;
    }
    return span;
}

// Reads the attributes of the img tag whose name ends at `at`, up to its ">", and moves `at`
// past the tag. The first src attribute is the one that counts, as in browsers; its value is
// appended to `sources` unless it is empty.
void ReadImageTag(std::u16string_view text, size_t& at, std::vector<ImageSourceSpan>& sources) {
    bool sourceSeen = false;
    while (at < text.size()) {
        at = SkipHtmlSpaces(text, at);
        if (at == text.size()) {
            return;
        }
        if (text[at] == u'>') {
            ++at;
            return;
        }
        if (text[at] == u'/') {
            ++at;
            continue;
        }
        // The first unit belongs to the name even when it is "=", so the scan always moves on.
        size_t nameStart = at++;
        while (at < text.size() && !IsHtmlSpace(text[at]) && text[at] != u'/' && text[at] != u'>' &&
               text[at] != u'=') {
            ++at;
        }
        bool isSource = at - nameStart == 3 && HasWordAt(text, nameStart, u"src");
        bool firstSource = isSource && !sourceSeen;
        sourceSeen = sourceSeen || isSource;
        at = SkipHtmlSpaces(text, at);
        if (at == text.size() || text[at] != u'=') {
            continue;
        }
        at = SkipHtmlSpaces(text, at + 1);
        ImageSourceSpan value = TrimSpaces(text, ReadAttributeValue(text, at));
        if (firstSource && value.Length > 0) {
            sources.push_back(value);
        }
    }
}

std::u16string_view SpanText(std::u16string_view text, const ImageSourceSpan& span) {
    return text.substr(span.Start, span.Length);
}

ChapterPage CutChapterPage(const CSiteRule& rule, const SitePage& fetched,
                           ExtractionProblem& problem) {
    ChapterPage page;
    page.Url = fetched.Url;
    page.Text = ExtractField(rule.ChapterContent, fetched.Text, &problem);
    for (const ImageSourceSpan& span : FindImageSources(page.Text)) {
        page.Images.emplace_back(SpanText(page.Text, span));
    }
    return page;
}

} // namespace

std::vector<ImageSourceSpan> FindImageSources(std::u16string_view text) {
    std::vector<ImageSourceSpan> sources;
    size_t at = text.find(u'<');
    while (at != std::u16string_view::npos) {
        // A commented-out image is no part of the chapter; its address is often dead.
        if (HasWordAt(text, at, u"<!--")) {
            size_t close = text.find(u"-->", at + 4);
            at = close == std::u16string_view::npos ? text.size() : close + 3;
        } else if (OpensImageTag(text, at)) {
            at += 4;
            ReadImageTag(text, at, sources);
        } else {
            ++at;
        }
        at = text.find(u'<', at);
    }
    return sources;
}

std::u16string_view AddressFileName(std::u16string_view url) {
    std::u16string_view path = url.substr(0, url.find_first_of(u"?#"));
    size_t slash = path.rfind(u'/');
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

std::u16string AddressFolder(std::u16string_view url) {
    std::u16string_view path = url.substr(0, url.find_first_of(u"?#"));
    size_t slash = path.rfind(u'/');
    return slash == std::u16string_view::npos ? std::u16string()
                                              : std::u16string(url.substr(0, slash + 1));
}

bool FetchedChapter::HasContent() const {
    for (const ChapterPage& page : Pages) {
        if (!page.Text.empty() || !page.Images.empty()) {
            return true;
        }
    }
    return false;
}

FetchedChapter FetchChapter(const Site& site, const std::u16string& url,
                            const ChapterBounds& bounds) {
    FetchedChapter chapter;
    ChapterChain chain{bounds, {}, {}, {}};
    std::u16string address = url;
    std::u16string referer = bounds.ContentsUrl;
    for (int n = 1; n <= kMaxChapterPages; ++n) {
        SitePage fetched = site.FetchPage(address, referer);
        if (!fetched.Ok()) {
            chapter.Error = fetched.Error;
            return chapter;
        }
        ExtractionProblem problem = ExtractionProblem::None;
        ChapterPage page = CutChapterPage(site.Rule(), fetched, problem);
        if (problem != ExtractionProblem::None) {
            chapter.Error = MakeSiteError(SiteErrorKind::Limit, fetched.Url);
            return chapter;
        }
        if (n == 1) {
            chain.first = fetched.Url;
        } else if (!AddsToChapter(chain, page)) {
            break;
        }
        chain.addresses.insert(address);
        chain.addresses.insert(fetched.Url);
        chain.texts.insert(page.Text);
        chapter.Pages.push_back(std::move(page));
        std::u16string next = ExtractField(site.Rule().ChapterNextPageUrl, fetched.Text);
        CompleteUrl(fetched.Url, next);
        if (!LeadsOn(chain, next)) {
            break;
        }
        referer = fetched.Url;
        address = std::move(next);
    }
    return chapter;
}

} // namespace velunor
