#pragma once
// Finds a novel's parts on pages of a site that has no rule: its name and author, its chapter
// list, and a chapter's text. It weighs the parts of the page's element tree against each other
// (where the links and the text are, what they read like) rather than matching patterns, and
// says how sure it is; when it cannot find a part well enough it refuses with a reason for the
// reader instead of giving the site's menus and notices as the novel.
//
// Every function reads only the page text it is given (decoded) and its address: it fetches
// nothing, runs no script, and gives no address on another site. Safe on any thread.

#include "html/html.h"
#include "rules/rules.h"

#include <string>
#include <string_view>
#include <vector>

namespace velunor::finder {

/// What the reader is told when a page holds no chapter list the finder can trust.
inline constexpr std::u16string_view kNoChapterListReason =
    u"无法在此网页上找到章节目录，请为该站编写规则文件。";
/// What the reader is told when a page holds no chapter text the finder can trust.
inline constexpr std::u16string_view kNoChapterTextReason =
    u"无法在此网页上找到章节正文，请为该站编写规则文件。";

/// The fewest chapters a found list holds.
inline constexpr size_t kMinChapters = 3;

/// The most chapters a block of the latest chapters shows on a novel's information page.
inline constexpr size_t kLatestChaptersShown = 20;

/// A novel's name and author; each empty when not found.
struct FoundNovelInfo {
    std::u16string Name;
    std::u16string Author;
    /// The page holding the novel's whole chapter list, when this page shows only part of it
    /// (a block of the latest chapters) or none; empty when this page's own list is whole.
    std::u16string ContentsUrl;
};

/// The novel's name (the og:novel:book_name or og:title meta tag, else the first main heading)
/// and author (the og:novel:author meta tag, else a "作者：…" text) on the page, and where its
/// whole contents stand: the target on the page's site of a link captioned as the contents
/// ("查看完整目录", "全部章节", "章节目录", ...), other than the page itself, given unless the
/// page's own chapter list is whole: longer than kLatestChaptersShown, or starting at the first
/// chapter ("第一章", "序章"). A contents page holding the whole list so gives none.
FoundNovelInfo FindNovelInfo(std::u16string_view page, std::u16string_view url);

/// The name the site of `page`, found at address `url`, goes by: its og:site_name meta tag, else
/// the last part of the page title when it reads as a name ("…全文阅读_青石书屋" gives
/// "青石书屋"), else the address's host without "www.". Never empty for an http(s) address.
std::u16string FindSiteName(std::u16string_view page, std::u16string_view url);

/// A chapter list found on a contents page.
struct FoundChapterList {
    /// The chapters (absolute addresses on the page's site) and volume headings; count 0 when
    /// refused.
    ChapterList Chapters;
    /// The address of the next page of the contents, from a page selector or a "下一页" link;
    /// empty when this page is the last or the only one.
    std::u16string NextPageUrl;
    /// How sure the finder is, from 0 (refused) to 1.
    double Confidence = 0;
    /// Why nothing was found (kNoChapterListReason); empty when a list was found.
    std::u16string Refusal;
    /// Where the list and the next page's link or option stand among the elements of
    /// html::ReadPageTree(page); kNoElement when there is none.
    size_t ListElement = html::kNoElement;
    size_t NextPageElement = html::kNoElement;
};

/// The chapter list of contents page `page` found at address `url`: the largest run of links
/// that stay on the site and read as chapter names, without a "最新章节" block that repeats
/// part of it, with the volume headings between them. Refuses a page without such a run of at
/// least `minChapters` links: a caller reading a later page of a list split over pages, whose
/// first page already held kMinChapters, passes 1. Links that do not read as chapter names
/// count only as a run of ten or more below the page's folder, on any page.
FoundChapterList FindChapterList(std::u16string_view page, std::u16string_view url,
                                 size_t minChapters = kMinChapters);

/// Where a chapter's pages end: a "下一页" link to one of these addresses leads out of the
/// chapter. Either may be empty; a next page must then also be named as the chapter's first
/// page is, before its extension ("456_2.html" after "456.html").
struct ChapterTextBounds {
    /// The chapter's first page.
    std::u16string FirstPageUrl;
    std::u16string ContentsUrl;
    std::u16string NextChapterUrl;
};

/// The text of one page of a chapter.
struct FoundChapterText {
    /// The paragraphs and images of the text, in order; an image's address is absolute, and a
    /// lazy-loading image's is the real one its page's script would show.
    std::vector<html::ChapterBlock> Blocks;
    /// The address of the chapter's next page; empty when this page is its last.
    std::u16string NextPageUrl;
    /// How sure the finder is, from 0 (refused) to 1.
    double Confidence = 0;
    /// Why nothing was found (kNoChapterTextReason); empty when a text was found.
    std::u16string Refusal;
    /// Where the text block and the next page's link stand among the elements of
    /// html::ReadPageTree(page); kNoElement when there is none.
    size_t TextElement = html::kNoElement;
    size_t NextPageElement = html::kNoElement;
};

/// The chapter text of `page` found at address `url`: the block of the page with the most
/// text once links, navigation and site notices are left out. Refuses a page whose best block
/// is shorter than kMinTextLength characters and shows no image.
FoundChapterText FindChapterText(std::u16string_view page, std::u16string_view url,
                                 const ChapterTextBounds& bounds);

/// The fewest characters of a found chapter text without images.
inline constexpr size_t kMinTextLength = 60;

} // namespace velunor::finder
