#pragma once
// What the chapter task and the on-demand fetch share: fetching one chapter, page after page
// when the site splits it, cutting its text out, and storing its images beside its page file.

#include "library/internal/site_fetch.h"
#include "rules/rules.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velunor::internal {

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
};

/// One page of a chapter as read from the site.
struct ChapterPage {
    /// The page's address after redirects: its images are resolved against it and sent it as
    /// their Referer.
    std::u16string Url;
    /// The text cut out with the content pattern; empty when it matched nothing.
    std::u16string Text;
    /// The image addresses of the text as they stand in it (see FindImageSources), in order.
    std::vector<std::u16string> Images;
};

/// One chapter as fetched.
struct FetchedChapter {
    /// 200 when every page of the chapter was fetched; otherwise the HTTP status of the page
    /// that failed, -1 when its transfer failed.
    std::int32_t StatusCode = 0;
    /// True when the page that failed was the site refusing access.
    bool Blocked = false;
    /// The limit the content pattern ran into on a page (a text too large, a pattern too slow);
    /// such a chapter is failed rather than stored cut or empty.
    ExtractionProblem Problem = ExtractionProblem::None;
    /// The pages read, in order; the first page alone for a chapter on one page.
    std::vector<ChapterPage> Pages;

    bool Ok() const {
        return StatusCode == 200 && !Blocked && Problem == ExtractionProblem::None;
    }
    /// True when some page gave text or images.
    bool HasContent() const;
    /// Why a chapter that is not Ok() failed, as its page tells the reader.
    std::u16string FailureReason() const;
};

/// The reasons a chapter page gives for a chapter that was fetched but not stored.
inline constexpr std::u16string_view kNoTextReason = u"未找到正文";
inline constexpr std::u16string_view kImageFailedReason = u"图片下载失败";

/// Where one image address stands in a text: the value of an img tag's src attribute.
struct ImageSourceSpan {
    size_t Start = 0;
    size_t Length = 0;
};

/// The src values of the img tags in `text`, in order: tag and attribute names in any case,
/// the value quoted with " or ' or unquoted, spaces around it left out. A tag without a src, or
/// with an empty one, and a tag inside an HTML comment give nothing. Empty when there is none.
std::vector<ImageSourceSpan> FindImageSources(std::u16string_view text);

/// The name under which image `number` (from 1, across the chapter) of the chapter stored in
/// `pageFile` is kept in the images folder: the page file's name up to its last ".", "_", the
/// number, and the extension of the file named at the end of `address` (before its query) when
/// it is 1 to 5 letters or digits ("12.html", 2, "http://x/a/1.JPG" gives "12_2.JPG"; without a
/// plain extension "12_2"); cleaned into one path component.
std::u16string ChapterImageFileName(std::u16string_view pageFile, int number,
                                    std::u16string_view address);

/// The folder part of an address, up to and including the last "/" before its query: where
/// sites keep the contents page of the chapters in it. Empty when it has no "/".
std::u16string AddressFolder(std::u16string_view url);

/// Fetches the chapter at `url` from `site` and extracts the text and images of each page with
/// the rule's ChapterContent. After each page, the first match of the rule's ChapterNextPageUrl
/// on it, completed against its address, is read as the next page, unless it is outside
/// `bounds`, a page already read for this chapter, past kMaxChapterPages, or it gives no text
/// and no images or the same text as a page before it (it then adds nothing and the chapter
/// ends before it). A page that cannot be fetched fails the whole chapter. Blocks on the network.
FetchedChapter FetchChapter(const SiteAccess& site, const std::u16string& url,
                            const ChapterBounds& bounds);

/// Appends the chapter's text to `chapterText`, page by page: each page's text, cleaned with
/// `replaceRule` when the page has no images (nothing is cleaned when it is empty), or else with
/// the src value of each of its image tags replaced by "images/" and the name of the stored
/// copy, the rest of the tag as the site sent it. Each image is resolved against the address of
/// its page, fetched once per chapter from `site` with that address as Referer, and stored in
/// the images folder beside `pageFile` under its ChapterImageFileName; `beforeImage` (may be
/// empty) is called with k (from 1, across the chapter) before image k is fetched. False at the
/// first image that could not be stored: its transfer failed, broke off or passed 20 MB, the
/// site refused it, or its answer was not a 2xx one with a body. That image leaves no file; the
/// images stored before it stay. Blocks on the network.
bool ComposeChapterText(const SiteAccess& site, const FetchedChapter& chapter,
                        std::u16string_view replaceRule, const std::u16string& pageFile,
                        std::u16string& chapterText, const std::function<void(int)>& beforeImage);

} // namespace velunor::internal
