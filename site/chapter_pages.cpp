// Fetching a chapter from its site, page after page when the site splits it.

#include "core/core.h"
#include "finder/finder.h"
#include "html/html.h"
#include "site/site.h"
#include "xml/xml_document.h"

#include <set>

namespace velunor {
namespace {

// True when `next` looks like a further page of the chapter whose first page is `first`: in the
// same folder, and named as the first page is up to its first ".", followed by anything but a
// digit. "456_2.html" and "456.html?page=2" follow "456.html"; "457.html", "4567.html",
// "index.html" and the folder itself do not.
bool IsOwnPage(std::u16string_view next, std::u16string_view first) {
    std::u16string_view folder = AddressFolder(first);
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

std::u16string_view SpanText(std::u16string_view text, const ImageSourceSpan& span) {
    return text.substr(span.Start, span.Length);
}

// One page of a chapter as read: its text and images, and the next page it names (not yet
// completed).
struct CutPage {
    ChapterPage page;
    std::u16string next;
};

CutPage CutRulePage(const CSiteRule& rule, const SitePage& fetched, ExtractionProblem& problem) {
    CutPage cut;
    cut.page.Url = fetched.Url;
    cut.page.Text = ExtractField(rule.ChapterContent, fetched.Text, &problem);
    for (const ImageSourceSpan& span : FindImageSources(cut.page.Text)) {
        cut.page.Images.emplace_back(SpanText(cut.page.Text, span));
    }
    cut.next = ExtractField(rule.ChapterNextPageUrl, fetched.Text);
    return cut;
}

// The finder's paragraphs and images of a page written as the HTML a rule's content pattern
// would cut out, so that the library stores them the same way; an empty text when the finder
// refused the page.
CutPage CutFoundPage(const SitePage& fetched, const finder::ChapterTextBounds& bounds) {
    CutPage cut;
    cut.page.Url = fetched.Url;
    finder::FoundChapterText found = finder::FindChapterText(fetched.Text, fetched.Url, bounds);
    for (const html::ChapterBlock& block : found.Blocks) {
        if (block.BlockKind == html::ChapterBlock::Kind::Image) {
            cut.page.Text +=
                u"<img src=\"" +
                CXmlDocument::EncodeEntities(block.Text, CXmlDocument::kEncodeAttribute) + u"\">";
            cut.page.Images.push_back(block.Text);
        } else {
            cut.page.Text += u"<p>" +
                             CXmlDocument::EncodeEntities(block.Text, CXmlDocument::kEncodeText) +
                             u"</p>";
        }
    }
    cut.next = std::move(found.NextPageUrl);
    return cut;
}

} // namespace

std::vector<ImageSourceSpan> FindImageSources(std::u16string_view text) {
    std::vector<ImageSourceSpan> sources;
    for (const html::ImageSource& image : html::ImageSources(text)) {
        sources.push_back(
            {image.Address.Start, image.Address.Length, image.Shown.Start, image.Shown.Length});
    }
    return sources;
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
        SitePage fetched = site.FetchPage(RulePage::Content, address, referer, bounds.Cancelled);
        if (n == 1) {
            chapter.ThroughBrowser = fetched.ThroughBrowser;
            chapter.Challenge = fetched.Challenge;
        }
        if (!fetched.Ok()) {
            chapter.Error = fetched.Error;
            return chapter;
        }
        if (n == 1) {
            chain.first = fetched.Url;
        }
        ExtractionProblem problem = ExtractionProblem::None;
        CutPage cut =
            site.UsesFinder()
                ? CutFoundPage(fetched, {chain.first, bounds.ContentsUrl, bounds.NextChapterUrl})
                : CutRulePage(site.Rule(), fetched, problem);
        if (problem != ExtractionProblem::None) {
            chapter.Error = MakeSiteError(SiteErrorKind::Limit, fetched.Url);
            return chapter;
        }
        ChapterPage& page = cut.page;
        if (n > 1 && !AddsToChapter(chain, page)) {
            break;
        }
        chain.addresses.insert(address);
        chain.addresses.insert(fetched.Url);
        chain.texts.insert(page.Text);
        chapter.Pages.push_back(std::move(page));
        std::u16string next = std::move(cut.next);
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
