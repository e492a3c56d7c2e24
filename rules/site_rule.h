#pragma once
// The in-memory form of one collection-rule file: everything Velunor knows about one novel site.

#include <string>
#include <string_view>

namespace velunor {

/// Patterns of a site's search result page, and the address format of its search request.
struct SearchPageRule {
    std::u16string SearchPageUrlFormat;
    std::u16string SearcResultRegional;
    std::u16string NovelInfoPageUrl;
    std::u16string NovelName;
    std::u16string NovelAuthor;
    std::u16string LatestChapter;
    /// When not empty, the search is a form POST to SearchPageUrlFormat with this body, "{KEY}"
    /// replaced by the encoded search text.
    std::u16string SearchPostData;
    /// When not empty, JavaScript run by the browser in the loaded search page (the address of
    /// SearchPageUrlFormat without "{KEY}", or the site's home page), "{KEY}" replaced by the
    /// search text as a JavaScript string; the page it leads to is the result page.
    std::u16string SearchScript;
    /// When it names a known charset: the charset of the search host (a site-search engine on
    /// another host, say). The search key is encoded in it and the result page is read in it,
    /// whatever the page declares. Empty or unknown: the rule's Charset and the page's own
    /// declaration, as for every other page.
    std::u16string SearchCharset;
};

/// Patterns of a novel's information page; the same record carries the extracted values
/// (`NovelInfo`). The field order differs from the element order in a rule file.
struct InfoPageRule {
    std::u16string NovelSort;
    std::u16string NovelState;
    std::u16string NovelIntro;
    std::u16string NovelName;
    std::u16string NovelAuthor;
    std::u16string LatestChapter;
    std::u16string ContentsUrl;
};

/// The values picked out of an information page.
using NovelInfo = InfoPageRule;

/// Patterns of a novel's table of contents.
struct ContentsPageRule {
    std::u16string ContentsRegional;
    std::u16string ChapterName;
    std::u16string ChapterUrl;
    /// Pattern list: group 1 of the first match is the next page of a contents list split
    /// over pages.
    std::u16string ContentsNextPageUrl;
    /// Pattern list: group 1 of each match in the region is a volume heading ("第一卷 潜龙在渊"),
    /// standing where the match stands among the chapters.
    std::u16string VolumeName;
};

/// One rule file as plain values; copied freely. Every pattern list is one or more patterns
/// joined by "|".
struct CSiteRule {
    std::u16string SiteName;
    std::u16string SiteUrl;
    /// The pages' character set, by any name and in any letter case (see CharsetEncodingName);
    /// a page that declares its own is read in that (see FindPageCharset).
    std::u16string Charset;
    SearchPageRule SearchPage;
    InfoPageRule InfoPage;
    ContentsPageRule ContentsPage;
    std::u16string ChapterContent;
    std::u16string ReplaceRule;
    /// Pattern list: group 1 of the first match is the next page of a chapter split over pages.
    std::u16string ChapterNextPageUrl;
    /// How the site wants to be asked; every field is optional in the file and empty when
    /// missing. Lines "Name: value" sent with every request to the site.
    std::u16string RequestHeaders;
    /// Milliseconds between the starts of two requests to the site, as decimal text.
    std::u16string RequestInterval;
    /// The most requests to the site in flight at once, as decimal text.
    std::u16string MaxConnections;
    /// How often a failed or refused request is tried again, as decimal text.
    std::u16string RetryCount;
    /// Seconds a request may go without receiving anything before it fails, as decimal text.
    std::u16string RequestTimeout;
    /// Pattern list: a page that matches any entry is the site refusing access, not content.
    std::u16string BlockedPagePattern;
    /// Whether a browser loads the site's pages: "1" always, "2" when a plain request meets a
    /// challenge, anything else never. The rule's own value, and each page's, which wins over it.
    std::u16string UseBrowser;
    std::u16string SearchPageUseBrowser;
    std::u16string InfoPageUseBrowser;
    std::u16string ContentsPageUseBrowser;
    std::u16string ContentPageUseBrowser;
    /// Seconds a browser load may take, as decimal text.
    std::u16string BrowserTimeout;
};

/// The pages of a site, as a rule names them.
enum class RulePage { Search, Info, Contents, Content };

/// How a page of a site is loaded.
enum class BrowserUse {
    /// By a plain request only.
    Never,
    /// By the browser only.
    Always,
    /// By a plain request, and once more by the browser when it meets a challenge.
    WhenChallenged,
};

/// How `rule` wants `page` loaded: the page's own UseBrowser when it gives one, else the rule's.
/// A search with a SearchScript always needs the browser.
BrowserUse PageBrowserUse(const CSiteRule& rule, RulePage page);

/// The iconv name of the encoding that a charset name (a rule's `Charset`, a page's
/// declaration) names, compared without regard to letter case: "UTF-8" for UTF-8 and UTF8;
/// "GB18030" (code page 936) for the GB family (GB2312, GBK, GB18030, x-gbk, CP936, ...) and an
/// empty value; "BIG5-HKSCS" for Big5, as browsers read it; any other name iconv knows as it
/// is. Empty for a name iconv does not know (a rule's such pages are read as code page 936).
std::string CharsetEncodingName(std::u16string_view charset);

/// True when a charset name names an encoding Velunor can read.
bool IsKnownCharset(std::u16string_view charset);

/// Where the charset that a page is read in came from.
enum class CharsetSource {
    /// A UTF-8 or UTF-16 byte-order mark at the start of the body.
    ByteOrderMark,
    /// The charset parameter of the answer's Content-Type header.
    Header,
    /// A meta element in the page's head.
    Meta,
    /// Nothing was declared: the rule's Charset.
    Rule,
    /// The rule's SearchCharset, for a search result page.
    SearchCharset,
};

/// The charset one page is read in, and why.
struct PageCharset {
    /// The iconv name, as CharsetEncodingName gives it; never empty.
    std::string Encoding;
    CharsetSource Source = CharsetSource::Rule;
};

/// How many bytes from the start of a page are searched for a meta declaration, as browsers
/// prescan a page before reading it. Browsers look at 1024 bytes at least and on through the
/// head; Chinese sites put long keyword and description metas and inline scripts in front of
/// their charset meta, and 8 KiB takes in such a head while costing nothing next to the page.
inline constexpr size_t kMetaPrescanBytes = 8192;

/// The charset `bytes`, a page's body, is read in, in browsers' order: a byte-order mark; then
/// `overriding` (a search page's SearchCharset) when it names a known charset; then the charset
/// of `contentType`, the answer's Content-Type header (may be empty); then the first meta
/// declaration in the head within kMetaPrescanBytes (one naming UTF-16 reads as UTF-8, since
/// the page was readable as ASCII); then `ruleCharset`. A declared name that no known charset
/// answers to is passed over. Does not block.
PageCharset FindPageCharset(std::string_view bytes, std::string_view contentType,
                            std::u16string_view ruleCharset, std::u16string_view overriding = {});

/// A page as the site wrote it: `bytes`, the body as received, decoded in the encoding `charset`
/// names (code page 936 when it names none Velunor knows); NULs, the other C0 controls but tab,
/// LF and CR, and U+FFFE and U+FFFF are dropped (see IsXmlChar), the text around them kept.
/// Never fails.
std::u16string DecodeSitePage(std::u16string_view charset, std::string_view bytes);

/// DecodeSitePage in the charset FindPageCharset chose, the byte-order mark left out when it
/// was the reason.
std::u16string DecodeSitePage(const PageCharset& charset, std::string_view bytes);

/// DecodeSitePage in the charset the page declares, else the rule's `Charset` (FindPageCharset
/// without a header).
std::u16string DecodeSitePage(const CSiteRule& rule, std::string_view bytes);

/// The charset a search is sent in: the rule's SearchCharset when it names a known charset,
/// else its Charset.
std::u16string_view SearchKeyCharset(const CSiteRule& rule);

/// The search text as it goes into "{KEY}": trimmed of white space at both ends, encoded in
/// SearchKeyCharset, and every byte outside A-Z a-z 0-9 - _ . ~ written as %XX (a space as %20).
/// Empty when nothing is left after trimming.
std::u16string EncodeSearchKey(const CSiteRule& rule, std::u16string_view text);

/// `text` encoded in `charset`, as a form of a page in it would send it (code page 936 when
/// the charset is unknown). Never fails.
std::string EncodeInCharset(std::u16string_view charset, std::u16string_view text);

/// `text` without white space (ASCII and the ideographic space) at either end.
std::u16string_view TrimSearchText(std::u16string_view text);

/// True when the site's pages are UTF-8.
bool IsUtf8Site(const CSiteRule& rule);

} // namespace velunor
