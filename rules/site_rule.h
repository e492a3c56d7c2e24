#pragma once
// The in-memory form of one collection-rule file: everything Velunor knows about one novel site.

#include <string>

namespace velunor {

/// Patterns of a site's search result page, and the address format of its search request.
struct SearchPageRule {
    std::u16string SearchPageUrlFormat;
    std::u16string SearcResultRegional;
    std::u16string NovelInfoPageUrl;
    std::u16string NovelName;
    std::u16string NovelAuthor;
    std::u16string LatestChapter;
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
};

/// One rule file as plain values; copied freely. Every pattern list is one or more patterns
/// joined by "|".
struct CSiteRule {
    std::u16string SiteName;
    std::u16string SiteUrl;
    /// Exactly "UTF-8" means UTF-8 pages; anything else means the ANSI code page.
    std::u16string Charset;
    SearchPageRule SearchPage;
    InfoPageRule InfoPage;
    ContentsPageRule ContentsPage;
    std::u16string ChapterContent;
    std::u16string ReplaceRule;
};

/// True when the site's pages are UTF-8 (the rule's `Charset` is exactly "UTF-8").
bool IsUtf8Site(const CSiteRule& rule);

} // namespace velunor
