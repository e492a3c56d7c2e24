#pragma once
// The site layer: a novel site as Velunor talks to it, its rule file and the fetcher together.
//
// Everything the jobs and the rule authors' tools ask of a site goes through here: searching it
// for a name, reading a novel's information page and its contents over as many pages as the
// site splits them into, and fetching a chapter over all its pages. Every request keeps the
// manners the rule asks for (its header lines, pacing, connection limit, retries, redirects
// followed as browsers follow them) and takes a page that refuses access for a failure, never
// for content. Pages arrive as bytes and are decoded here, once, in the charset they declare
// (byte-order mark, Content-Type header, meta in the head, as browsers go), else the site's.
//
// Each call returns what it found, or a SiteError that keeps why it failed: the kind of failure,
// the HTTP status, libcurl's code and words, and the address. ReaderReason words it for a
// reader, TechnicalReason for a terminal. Nothing here keeps state between calls but the
// fetcher's per-site pacing and the site's cookie jar; every function may be called from any
// thread.

#include "net/fetcher.h"
#include "results/search_result_file.h"
#include "rules/rules.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velunor {

/// What went wrong when a site was asked for something.
enum class SiteErrorKind {
    None,
    /// The connection was refused, lost or reset, or the site answered nothing.
    CouldNotConnect,
    /// The site's host name could not be resolved.
    NameNotFound,
    TimedOut,
    /// The secure connection failed: a bad certificate or handshake.
    Tls,
    /// The site answered with a page refusing access (too fast, a challenge, a block pattern).
    Refused,
    /// The site answered with a status other than 200.
    HttpStatus,
    /// The rule's patterns found nothing where something was needed.
    NoMatch,
    /// A limit was reached: a page too large, a pattern too slow, too many entries.
    Limit,
    /// A file could not be written.
    WriteFailed,
    /// The job that asked was stopped.
    Cancelled,
    /// The page needs a browser and none could load it (none installed, or it would not run).
    NoBrowser,
    /// The address cannot be fetched: not http or https, malformed, or redirected too often.
    BadAddress,
    /// The answer's body could not be read (a compressed body that does not inflate).
    BadContent,
};

/// Why one request to a site failed; Kind None when it did not.
struct SiteError {
    SiteErrorKind Kind = SiteErrorKind::None;
    /// The HTTP status of the answer; 0 when no answer came.
    std::int32_t HttpStatus = 0;
    /// libcurl's code for a failed transfer, 0 when none; CurlText is libcurl's own words, or
    /// for a page the browser loaded, the browser's.
    int CurlCode = 0;
    std::string CurlText;
    /// The address asked for, or the file that could not be written.
    std::u16string Url;
    /// For a Limit: true when the body itself was larger than its request allows (a page's
    /// kPageFileLimit, sent or inflated; an image's 20 MB), false when a pattern or a count ran
    /// into a limit.
    bool TooLarge = false;

    bool Failed() const {
        return Kind != SiteErrorKind::None;
    }
};

/// The failure of a fetch of `url` that `result` describes; Kind None for a 200 answer.
SiteError FetchError(const FetchResult& result, std::u16string_view url);

/// A failure of `kind` at `url` that no transfer describes (no match, a limit, a write).
SiteError MakeSiteError(SiteErrorKind kind, std::u16string_view url);

/// Why it failed, in words a reader understands: "连接超时", "找不到服务器", "证书无效",
/// "网站拒绝访问（HTTP 403）", ... Empty for no failure.
std::u16string ReaderReason(const SiteError& error);

/// ReaderReason followed by the technical detail for a terminal: libcurl's code and words or the
/// HTTP status, and the address. Empty for no failure.
std::u16string TechnicalReason(const SiteError& error);

/// A test a long request asks at least every 100 ms; true ends it as cancelled. May be empty.
using CancelTest = std::function<bool()>;

/// One page fetched from a site.
struct SitePage {
    /// The address the page came from once every redirect was followed; links on the page are
    /// completed against it. The address asked for when the fetch failed.
    std::u16string Url;
    /// How many redirects led to it.
    int RedirectCount = 0;
    /// The page decoded in the charset it declares, else the rule's; empty unless Ok().
    std::u16string Text;
    /// The charset Text was read in, or would have been had the fetch not failed, and why.
    PageCharset Charset;
    SiteError Error;
    /// True when the browser loaded the page (the rule's UseBrowser or SearchScript).
    bool ThroughBrowser = false;
    /// The challenge page the site answered first, when it did: to a plain request before the
    /// browser passed it, or as the browser's first document. Empty otherwise.
    std::u16string Challenge;

    bool Ok() const {
        return !Error.Failed();
    }
};

/// A site: its rule, the rule file it came from, and the request settings made from the rule
/// once. Shared, read-only, by every request of a job.
class Site {
  public:
    /// The site `rule` describes; `ruleFile` is the path it was read from (may be empty).
    explicit Site(CSiteRule rule, std::u16string ruleFile = {});

    /// The site of the rule file at `path`; its rule is empty when the file cannot be read.
    static std::shared_ptr<const Site> FromRuleFile(const std::u16string& path);

    /// A site no rule file describes, named `siteName`, at the scheme and host of `address`: its
    /// pages are read by the page finder instead of a rule's patterns, and fetched with cautious
    /// manners, as nothing is known of its limits (two requests at once, kFinderInterval apart,
    /// two retries). Pages that declare no charset are read as GBK, as with an empty rule
    /// Charset.
    static std::shared_ptr<const Site> WithoutRule(std::u16string siteName,
                                                   std::u16string_view address);

    /// The pause between two requests to a site without a rule.
    static constexpr int kFinderInterval = 200;

    /// True for a site WithoutRule made: the page finder reads its pages.
    bool UsesFinder() const {
        return usesFinder_;
    }

    const CSiteRule& Rule() const {
        return rule_;
    }
    const std::u16string& RuleFile() const {
        return ruleFile_;
    }

    /// The settings of one request: the rule's manners, `referer` (none when empty) as Referer
    /// unless the rule's header lines name one, and `cancelled` as its cancel test.
    FetchSettings RequestSettings(std::u16string_view referer,
                                  const CancelTest& cancelled = {}) const;

    /// Reads `url`, a page of the rule's `kind`, as the rule wants that kind read (see
    /// PageBrowserUse): fetched and decoded; loaded by the browser; or fetched and, when the
    /// site answered with a challenge or a refusal, loaded once more by the browser. Blocks on
    /// the network and on the site's pacing.
    SitePage FetchPage(RulePage kind, std::u16string_view url, std::u16string_view referer,
                       const CancelTest& cancelled = {}) const;

    /// FetchPage with `settings` (made with RequestSettings; a search adds its form body). A
    /// known `searchCharset` (a search's SearchCharset) reads a fetched page whatever it
    /// declares, unless a redirect led to another host.
    SitePage FetchPage(RulePage kind, std::u16string_view url, const FetchSettings& settings,
                       std::u16string_view searchCharset = {}) const;

    /// Loads `url` in the installed page renderer with the manners of `settings` (pacing,
    /// connections, retries, header lines, Referer, form body, cookie jar) and the rule's
    /// BrowserTimeout, running `script` (may be empty) in the loaded page. Blocks.
    SitePage RenderPage(std::u16string_view url, const FetchSettings& settings,
                        std::u16string_view script = {}) const;

    /// Fetches the image at `url`, sending `pageUrl` as its Referer, into the file at `path`
    /// (replaced; left absent unless a whole 2xx body arrived, at most 20 MB in ten minutes).
    /// Blocks.
    SiteError FetchImage(const std::u16string& url, std::u16string_view pageUrl,
                         const std::u16string& path) const;

    /// The status line that tells the user this site refused access.
    std::u16string BlockedMessage() const;

  private:
    SitePage FetchPlainPage(std::u16string_view url, const FetchSettings& settings,
                            std::u16string_view searchCharset) const;

    CSiteRule rule_;
    std::u16string ruleFile_;
    FetchSettings settings_;
    bool usesFinder_ = false;
};

/// The settings for fetching pages of the site `rule` describes. A manner the rule leaves out or
/// gives as anything but a decimal number keeps its default: no pause between requests, five
/// at once, no retries, a minute without a byte before a request fails; at most ten retries are
/// made and ten minutes waited whatever the rule says. A page body, as sent or inflated, may
/// hold at most kPageFileLimit bytes. Cookies go in and out of the jar of the rule's SiteName
/// (SiteCookieJar), which every request to the site shares. Any thread.
FetchSettings SiteFetchSettings(const CSiteRule& rule);

// ---- Searching ----

/// What asking one site for a name gave.
struct SiteSearchAnswer {
    /// The search address asked for, and for a form search the body posted (as sent).
    std::u16string RequestUrl;
    std::optional<std::string> PostBody;
    /// The page the search ended on.
    SitePage Page;
    /// The hits read from it: the result list, or the novel's own page when the site redirected
    /// the search to it.
    std::vector<SearchHit> Hits;
    /// What the result patterns found, and the limit they ran into (None when none).
    SearchResultSet Lists;
    ExtractionProblem Problem = ExtractionProblem::None;
    /// The page could not be fetched, or the site refused it.
    SiteError Error;
};

/// The search address for `text` on the site of `rule`; for a form search also sets
/// `settings.PostBody`. For a search by script: the page the script runs in, the rule's search
/// address without "{KEY}", or its SiteUrl when that is empty. Does not block.
std::u16string SearchRequest(const CSiteRule& rule, std::u16string_view text,
                             FetchSettings& settings);

/// The rule's SearchScript with "{KEY}" replaced by `text`, trimmed, as a JavaScript string
/// literal; empty when the rule searches without a script.
std::u16string SearchScriptFor(const CSiteRule& rule, std::u16string_view text);

/// Searches `site` for `text` (a novel's or an author's name). Blocks on the network; a
/// `cancelled` search ends within 100 ms with a Cancelled error.
SiteSearchAnswer SearchSite(const Site& site, std::u16string_view text,
                            const CancelTest& cancelled = {});

// ---- Reading a novel ----

/// Every address a job asked for or was redirected to, so that no page is read twice.
using VisitedAddresses = std::set<std::u16string>;

/// A novel's information page as read.
struct NovelInfoPage {
    SitePage Page;
    /// What the rule's patterns found; ContentsUrl completed against the page's address, empty
    /// when the rule lists the chapters on the information page itself.
    NovelInfo Info;
    ExtractionProblem Problem = ExtractionProblem::None;
};

/// True when the rule lists the chapters on the information page (its ContentsUrl is blank).
bool ContentsOnInfoPage(const CSiteRule& rule);

/// Fetches and reads the information page at `url`: with the rule's patterns, or on a site
/// without a rule with the page finder, whose ContentsUrl is empty when the page lists the
/// whole contents itself. Blocks on the network.
NovelInfoPage ReadInfoPage(const Site& site, const std::u16string& url, VisitedAddresses& visited);

/// The first contents page of the novel: the information page itself when the rule lists the
/// chapters there (or, on a site without a rule, when the finder found no other contents
/// page), else the page its contents address names (an error of kind NoMatch when the
/// pattern found none). Blocks on the network.
SitePage FirstContentsPage(const Site& site, const NovelInfoPage& info, VisitedAddresses& visited);

/// The most contents pages one novel is read from.
inline constexpr int kMaxContentsPages = 1000;

/// How reading the contents pages ended.
enum class ContentsEnd {
    /// The last page links to no page not yet read, or kMaxContentsPages were read.
    Complete,
    /// A next page could not be fetched; the chapters of the pages before it are kept.
    CutShort,
    /// The site refused a next page.
    Blocked,
    /// More than kMaxListEntries chapters, on one page or on all of them together.
    TooManyChapters,
};

/// Drops every chapter whose address comes again later in `list`, so that a chapter listed
/// twice keeps its last place: a block of the latest chapters repeated above or below a page's
/// own list leaves them where the full list has them, at its end. A chapter without an address
/// is never taken for another. Addresses are compared as they stand, so complete them first.
/// A kept chapter belongs to the volume it was listed under at its last place. A heading whose
/// chapters all come again further down is dropped, and so is a heading named as the one
/// before it (the current volume repeated at the top of the next contents page): its chapters
/// join that volume.
void DropEarlierRepeats(ChapterList& list);

/// The chapter list of a novel.
struct NovelContents {
    /// Every chapter once, its address absolute: completed against the page it was listed on.
    ChapterList Chapters;
    /// How many contents pages were read.
    int PagesRead = 0;
    ContentsEnd End = ContentsEnd::Complete;
    /// Why the next page could not be read, when End is CutShort or Blocked.
    SiteError Error;
    /// On a site without a rule, why the page finder found no chapter list on the first page;
    /// empty otherwise.
    std::u16string Refusal;
};

/// Reads the chapters of `first`, the first contents page as fetched, then of every next page:
/// the first match of the rule's ContentsNextPageUrl on a page (on a site without a rule, the
/// list and next page the page finder finds), completed against its address,
/// unless it is empty or visited (the pages read here are added), and at most kMaxContentsPages
/// pages in all. A chapter listed again later (sites repeat a block of the latest chapters on
/// every page) keeps only its last place. `beforePage` (may be empty) is called with n before
/// page n (from 2) is fetched. Blocks on the network.
NovelContents ReadContentsPages(const Site& site, const SitePage& first, VisitedAddresses& visited,
                                const std::function<void(int)>& beforePage);

// ---- Fetching a chapter ----

/// The most pages one chapter is read from.
inline constexpr int kMaxChapterPages = 100;

/// Where a chapter's pages end: a next-page link to one of these addresses leads out of the
/// chapter, not to more of it.
struct ChapterBounds {
    /// The novel's contents address; also the Referer of the chapter's first page. May be empty.
    std::u16string ContentsUrl;
    /// The next chapter's address; empty for the last chapter or when it is not known.
    std::u16string NextChapterUrl;
    /// For a chapter whose neighbours are not known for sure: a next page must then lie in the
    /// folder of the chapter's first page and be named as that page is up to its first ".",
    /// followed by anything but a digit ("456_2.html" or "456.html?page=2" after "456.html"),
    /// which neither the next chapter ("457.html") nor a contents page ("index.html", the folder
    /// itself) is.
    bool OwnPagesOnly = false;
    /// The job's stop: asked while a page waits for its turn at the site and while it arrives;
    /// true ends the chapter with a Cancelled error. May be empty.
    CancelTest Cancelled;
};

/// One page of a chapter as read from the site.
struct ChapterPage {
    /// The page's address after redirects: its images are resolved against it and sent it as
    /// their Referer.
    std::u16string Url;
    /// The text cut out with the content pattern; empty when it matched nothing.
    std::u16string Text;
    /// The image addresses of the text as they stand in it, in order.
    std::vector<std::u16string> Images;
};

/// One chapter as fetched.
struct FetchedChapter {
    /// The pages read, in order; the first page alone for a chapter on one page.
    std::vector<ChapterPage> Pages;
    /// Why the chapter could not be read: a page that could not be fetched or was refused, or
    /// a limit the content pattern ran into (such a chapter is failed rather than stored cut or
    /// empty).
    SiteError Error;
    /// As SitePage, for the chapter's first page: whether the browser loaded it, and the
    /// challenge the site answered first.
    bool ThroughBrowser = false;
    std::u16string Challenge;

    bool Ok() const {
        return !Error.Failed();
    }
    /// True when some page gave text or images.
    bool HasContent() const;
};

/// Where one img tag names its image in a text.
struct ImageSourceSpan {
    /// The address to fetch: the src value, or the real address that a lazy-loading tag keeps
    /// in data-original, data-src or data-echo.
    size_t Start = 0;
    size_t Length = 0;
    /// The src value that shows the image: the address itself, or a lazy-loading tag's
    /// placeholder. Length 0 when the tag has no src or an empty one: then the place right after
    /// the tag name, where a src attribute can be written.
    size_t ShownStart = 0;
    size_t ShownLength = 0;
};

/// The image addresses of the img tags in `text`, in order: tag and attribute names in any
/// case, the value quoted with " or ' or unquoted, spaces around it left out. A tag without an
/// address, one whose only address is a data: image (inline, or a placeholder), and a tag
/// inside an HTML comment give nothing. Empty when there is none.
std::vector<ImageSourceSpan> FindImageSources(std::u16string_view text);

/// Fetches the chapter at `url` from `site` and extracts the text and images of each page with
/// the rule's ChapterContent (on a site without a rule: the paragraphs and images the page
/// finder finds, as HTML, and its next page). After each page, the first match of the rule's
/// ChapterNextPageUrl on it, completed against its address, is read as the next page, unless it is
/// outside `bounds`, a page already read for this chapter, past kMaxChapterPages, or it gives no
/// text and no images or the same text as a page before it (it then adds nothing and the chapter
/// ends before it). A page that cannot be fetched fails the whole chapter. Blocks on the network.
FetchedChapter FetchChapter(const Site& site, const std::u16string& url,
                            const ChapterBounds& bounds);

} // namespace velunor
