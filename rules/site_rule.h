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
    /// The pages' character set, by any name and in any letter case (see CharsetEncodingName).
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
};

/// The iconv name of the encoding that a rule's `Charset` names, compared without regard to
/// letter case: "UTF-8" for UTF-8 and UTF8; "GB18030" (code page 936) for GB2312, GBK, GB18030
/// and an empty value; "BIG5-HKSCS" for Big5, as browsers read it; any other name iconv knows
/// as it is. Empty for a name iconv does not know (such pages are read as code page 936).
std::string CharsetEncodingName(std::u16string_view charset);

/// True when a rule's `Charset` names an encoding Velunor can read.
bool IsKnownCharset(std::u16string_view charset);

/// A page as the site wrote it: `bytes`, the body as received, decoded in the encoding `charset`
/// names (code page 936 when it names none Velunor knows); NULs, the other C0 controls but tab,
/// LF and CR, and U+FFFE and U+FFFF are dropped (see IsXmlChar), the text around them kept.
/// Never fails.
std::u16string DecodeSitePage(std::u16string_view charset, std::string_view bytes);

/// DecodeSitePage with the rule's `Charset`.
std::u16string DecodeSitePage(const CSiteRule& rule, std::string_view bytes);

/// The search text as it goes into "{KEY}": trimmed of white space at both ends, encoded in the
/// site's charset, and every byte outside A-Z a-z 0-9 - _ . ~ written as %XX (a space as %20).
/// Empty when nothing is left after trimming.
std::u16string EncodeSearchKey(const CSiteRule& rule, std::u16string_view text);

/// `text` encoded in the site's charset, as its own forms would send it (code page 936 when the
/// charset is unknown). Never fails.
std::string EncodeForSite(const CSiteRule& rule, std::u16string_view text);

/// `text` without white space (ASCII and the ideographic space) at either end.
std::u16string_view TrimSearchText(std::u16string_view text);

/// True when the site's pages are UTF-8.
bool IsUtf8Site(const CSiteRule& rule);

} // namespace velunor
